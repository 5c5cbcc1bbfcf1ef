// The flat exports: forwarders to ApiObj, and the life of its connection list. Each runs
// through Guarded, so that no C++ exception reaches a caller of another language.
#include <string>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/trg_connect_ctrl.h"

namespace {

// A failure inside the library becomes the refusal: result 0, the out-values given set to 0.
template <class Call, class... Out>
int Guarded(Call call, Out*... out) noexcept {
    try {
        return call();
    } catch (...) {
        ((out != nullptr ? void(*out = Out{}) : void()), ...);
        return 0;
    }
}

}  // namespace

extern "C" {

int BRINDLEX_CALL ApiCreateConnect(void) {
    return Guarded([] {
        if (ApiObj.GetTrgConnect() != nullptr)
            return 0;
        CTrgConnectCtrl* list = nullptr;
        try {
            list = new CTrgConnectCtrl();
            const int found = list->GetUsbDevice();
            if (found == -1) {
                delete list;
                return -1;
            }
            if (found != 1 || list->CreateFlashApi() != 1) {
                delete list;
                return 0;
            }
        } catch (...) {  // no list is left behind
            delete list;
            throw;
        }
        ApiObj.SetTrgConnect(list);
        return 1;
    });
}

int BRINDLEX_CALL ApiDelConnect(void) {
    return Guarded([] {
        CTrgConnectCtrl* list = ApiObj.GetTrgConnect();
        if (list == nullptr)
            return 0;
        ApiObj.SetTrgConnect(nullptr);
        delete list;
        return 1;
    });
}

int BRINDLEX_CALL ApiGetTargetNum(int* count) {
    return Guarded(
        [&] {
            if (count == nullptr)
                return 0;
            *count = 0;
            CTrgConnectCtrl* list = ApiObj.GetTrgConnect();
            if (list == nullptr)
                return 0;
            *count = list->GetSizeDevObj();
            return 1;
        },
        count);
}

int BRINDLEX_CALL ApiSysResetPlug(int n) {
    return Guarded([&] { return ApiObj.SysResetPlug(n); });
}

int BRINDLEX_CALL ApiSysReset(int n) {
    return Guarded([&] { return ApiObj.SysReset(n); });
}

int BRINDLEX_CALL ApiCheckFirm(int n) {
    return Guarded([&] { return ApiObj.CheckFirm(n); });
}

int BRINDLEX_CALL ApiCheckTargetName(int n, TRGINFO* set, const char* name) {
    return Guarded([&] { return name != nullptr ? ApiObj.CheckTargetName(n, set, name) : 0; });
}

int BRINDLEX_CALL ApiGetSecType(int n, uint16_t* type) {
    return Guarded([&] { return type != nullptr ? ApiObj.GetSecType(n, *type) : 0; }, type);
}

int BRINDLEX_CALL ApiChipEraseAll(void) {
    return Guarded([] { return ApiObj.ChipEraseAll(); });
}

int BRINDLEX_CALL ApiFlashEraseBlockAll(uint32_t address) {
    return Guarded([&] { return ApiObj.FlashEraseBlockAll(address); });
}

int BRINDLEX_CALL ApiFlashWriteAll(uint32_t first, uint32_t last, uint32_t destination,
                                   const uint8_t* image) {
    return Guarded([&] { return ApiObj.FlashWriteAll(first, last, destination, image); });
}

int BRINDLEX_CALL ApiFlashWriteAllWithSN(uint32_t first, uint32_t last, uint32_t destination,
                                         const uint8_t* image, uint32_t serialAddress) {
    return Guarded(
        [&] { return ApiObj.FlashWriteAllWithSN(first, last, destination, image, serialAddress); });
}

int BRINDLEX_CALL ApiFlashRead(int n, uint32_t size, uint32_t* count, uint8_t* buffer) {
    return Guarded([&] { return count != nullptr ? ApiObj.FlashRead(n, size, *count, buffer) : 0; },
                   count);
}

int BRINDLEX_CALL ApiUpdateErrorTargetLED(int n) {
    return Guarded([&] { return ApiObj.UpdateErrorTargetLED(n); });
}

int BRINDLEX_CALL ApiErrorTargetLED(int n) {
    return Guarded([&] { return ApiObj.ErrorTargetLED(n); });
}

int BRINDLEX_CALL ApiGetEnableFlg(int n, int* flag) {
    return Guarded([&] { return flag != nullptr ? ApiObj.GetEnableFlg(n, *flag) : 0; }, flag);
}

int BRINDLEX_CALL ApiSetEnableFlg(int n, int flag) {
    return Guarded([&] { return ApiObj.SetEnableFlg(n, flag); });
}

int BRINDLEX_CALL ApiGetTargetStatus(int n, int* status) {
    return Guarded([&] { return status != nullptr ? ApiObj.GetTargetStatus(n, *status) : 0; },
                   status);
}

int BRINDLEX_CALL ApiSetTargetStatus(int n, int status) {
    return Guarded([&] { return ApiObj.SetTargetStatus(n, status); });
}

int BRINDLEX_CALL ApiIsTargetPlugSuccess(int n, int* flag) {
    return Guarded([&] { return flag != nullptr ? ApiObj.GetTargetPlugSuccess(n, *flag) : 0; },
                   flag);
}

int BRINDLEX_CALL ApiGetTargetPlugStatus(int n, int* plugStatus) {
    return Guarded(
        [&] {
            if (plugStatus == nullptr)
                return 0;
            PlugStatus value = PLUG_NONE;
            const int result = ApiObj.GetTargetPlugStatus(n, value);
            *plugStatus = static_cast<int>(value);
            return result;
        },
        plugStatus);
}

int BRINDLEX_CALL ApiSetTargetPlugStatus(int n, int plugStatus) {
    return Guarded(
        [&] { return ApiObj.SetTargetPlugStatus(n, static_cast<PlugStatus>(plugStatus)); });
}

int BRINDLEX_CALL ApiGetSerialNumber(int n, uint8_t* buffer, uint32_t size, uint32_t* length) {
    return Guarded(
        [&] { return length != nullptr ? ApiObj.GetSerialNumber(n, buffer, size, *length) : 0; },
        length);
}

int BRINDLEX_CALL ApiSetSerialNumber(int n, const uint8_t* bytes, uint32_t length) {
    return Guarded([&] { return ApiObj.SetSerialNumber(n, bytes, length); });
}

int BRINDLEX_CALL ApiGetDevicePathStr(int n, char* buffer, uint32_t size, uint32_t* needed) {
    return Guarded([&] {
        CTrgConnectCtrl* list = ApiObj.GetTrgConnect();
        if (list == nullptr || needed == nullptr)
            return 0;
        return list->GetDevicePathStr(n, buffer, size, *needed);
    });
}

}  // extern "C"
