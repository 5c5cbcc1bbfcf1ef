// The flat exports: forwarders to ApiObj, and the life of its connection list.
#include <string>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/trg_connect_ctrl.h"

extern "C" {

int ApiCreateConnect(void) {
    if (ApiObj.GetTrgConnect() != nullptr) {
        return 0;
    }
    CTrgConnectCtrl* list = nullptr;
    try {
        list = new CTrgConnectCtrl();
        int found = list->GetUsbDevice();
        if (found == -1) {
            delete list;
            return -1;
        }
        if (found != 1 || list->CreateFlashApi() != 1) {
            delete list;
            return 0;
        }
    } catch (...) {  // out of memory: no list, nothing thrown into the caller
        delete list;
        return 0;
    }
    ApiObj.SetTrgConnect(list);
    return 1;
}

int ApiDelConnect(void) {
    CTrgConnectCtrl* list = ApiObj.GetTrgConnect();
    if (list == nullptr) {
        return 0;
    }
    ApiObj.SetTrgConnect(nullptr);
    delete list;
    return 1;
}

int ApiGetTargetNum(int* count) {
    if (count == nullptr) {
        return 0;
    }
    *count = 0;
    CTrgConnectCtrl* list = ApiObj.GetTrgConnect();
    if (list == nullptr) {
        return 0;
    }
    *count = list->GetSizeDevObj();
    return 1;
}

int ApiSysResetPlug(int n) {
    return ApiObj.SysResetPlug(n);
}

int ApiSysReset(int n) {
    return ApiObj.SysReset(n);
}

int ApiCheckFirm(int n) {
    return ApiObj.CheckFirm(n);
}

int ApiCheckTargetName(int n, TRGINFO* set, const char* name) {
    if (name == nullptr) {
        return 0;
    }
    try {
        return ApiObj.CheckTargetName(n, set, std::string(name));
    } catch (...) {  // nothing throws into the caller
        return 0;
    }
}

int ApiGetSecType(int n, uint16_t* type) {
    if (type == nullptr) {
        return 0;
    }
    return ApiObj.GetSecType(n, *type);
}

int ApiChipEraseAll(void) {
    return ApiObj.ChipEraseAll();
}

int ApiFlashEraseBlockAll(uint32_t address) {
    return ApiObj.FlashEraseBlockAll(address);
}

int ApiFlashWriteAll(uint32_t first, uint32_t last, uint32_t destination, const uint8_t* image) {
    return ApiObj.FlashWriteAll(first, last, destination, image);
}

int ApiFlashWriteAllWithSN(uint32_t first, uint32_t last, uint32_t destination,
                           const uint8_t* image, uint32_t serialAddress) {
    return ApiObj.FlashWriteAllWithSN(first, last, destination, image, serialAddress);
}

int ApiFlashRead(int n, uint32_t size, uint32_t* count, uint8_t* buffer) {
    if (count == nullptr) {
        return 0;
    }
    return ApiObj.FlashRead(n, size, *count, buffer);
}

int ApiUpdateErrorTargetLED(int n) {
    return ApiObj.UpdateErrorTargetLED(n);
}

int ApiErrorTargetLED(int n) {
    return ApiObj.ErrorTargetLED(n);
}

int ApiGetEnableFlg(int n, int* flag) {
    if (flag == nullptr) {
        return 0;
    }
    return ApiObj.GetEnableFlg(n, *flag);
}

int ApiSetEnableFlg(int n, int flag) {
    return ApiObj.SetEnableFlg(n, flag);
}

int ApiGetTargetStatus(int n, int* status) {
    if (status == nullptr) {
        return 0;
    }
    return ApiObj.GetTargetStatus(n, *status);
}

int ApiSetTargetStatus(int n, int status) {
    return ApiObj.SetTargetStatus(n, status);
}

int ApiIsTargetPlugSuccess(int n, int* flag) {
    if (flag == nullptr) {
        return 0;
    }
    return ApiObj.GetTargetPlugSuccess(n, *flag);
}

int ApiGetTargetPlugStatus(int n, int* plugStatus) {
    if (plugStatus == nullptr) {
        return 0;
    }
    PlugStatus value = PLUG_NONE;
    int result = ApiObj.GetTargetPlugStatus(n, value);
    *plugStatus = static_cast<int>(value);
    return result;
}

int ApiSetTargetPlugStatus(int n, int plugStatus) {
    return ApiObj.SetTargetPlugStatus(n, static_cast<PlugStatus>(plugStatus));
}

int ApiGetSerialNumber(int n, uint8_t* buffer, uint32_t size, uint32_t* length) {
    if (length == nullptr) {
        return 0;
    }
    return ApiObj.GetSerialNumber(n, buffer, size, *length);
}

int ApiSetSerialNumber(int n, const uint8_t* bytes, uint32_t length) {
    return ApiObj.SetSerialNumber(n, bytes, length);
}

int ApiGetDevicePathStr(int n, char* buffer, uint32_t size, uint32_t* needed) {
    CTrgConnectCtrl* list = ApiObj.GetTrgConnect();
    if (list == nullptr || needed == nullptr) {
        return 0;
    }
    return list->GetDevicePathStr(n, buffer, size, *needed);
}

}  // extern "C"
