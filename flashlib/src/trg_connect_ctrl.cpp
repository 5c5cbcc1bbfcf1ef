#include "brindlex/trg_connect_ctrl.h"

#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "brindlex/flash_api.h"

// {6C1F0E52-9A3B-4D27-8E15-B4A07C3D9F61}
const plat::GUID VEXIL_INTERFACE_GUID = {
    0x6C1F0E52, 0x9A3B, 0x4D27, {0x8E, 0x15, 0xB4, 0xA0, 0x7C, 0x3D, 0x9F, 0x61}};

CTrgConnectCtrl::CTrgConnectCtrl() : interfaceClass(VEXIL_INTERFACE_GUID), deviceCount(0) {}

CTrgConnectCtrl::~CTrgConnectCtrl() {
    for (CFlashApi* adapter : adapters)
        delete adapter;
    adapters.clear();
    devicePaths.clear();
}

int CTrgConnectCtrl::GetUsbDevice() {
    plat::HDEVINFO set = plat::SetupDiGetClassDevsA(
        &interfaceClass, nullptr, nullptr, plat::DIGCF_PRESENT | plat::DIGCF_DEVICEINTERFACE);
    if (!plat::IsOpenHandle(set))
        return 0;

    devicePaths.clear();
    uint32_t index = 0;
    for (; index < kMaxAdapters + 1; ++index) {
        plat::SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (plat::SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &data)) {
            // An interface without a readable path gets no adapter object: there is
            // nothing it could open.
            std::string path;
            if (GetOneDevice(set, &data, path))
                devicePaths.push_back(path);
        } else if (plat::GetLastError() == plat::ERROR_NO_MORE_ITEMS) {
            break;
        }
    }
    deviceCount = static_cast<int>(index);
    plat::SetupDiDestroyDeviceInfoList(set);
    return deviceCount > kMaxAdapters ? -1 : 1;
}

int CTrgConnectCtrl::GetOneDevice(plat::HDEVINFO set, plat::SP_DEVICE_INTERFACE_DATA* interfaceData,
                                  std::string& path) {
    using Detail = plat::SP_DEVICE_INTERFACE_DETAIL_DATA_A;
    uint32_t required = 0;
    plat::SetupDiGetDeviceInterfaceDetailA(set, interfaceData, nullptr, 0, &required, nullptr);
    if (required <= offsetof(Detail, DevicePath))
        return 0;

    // Whole words keep the record aligned.
    const size_t words = (required + sizeof(uint64_t) - 1) / sizeof(uint64_t);
    std::unique_ptr<uint64_t[]> storage(new (std::nothrow) uint64_t[words]());
    if (!storage)
        return 0;
    auto* detail = reinterpret_cast<Detail*>(storage.get());
    detail->cbSize = sizeof(Detail);
    if (!plat::SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, required, nullptr,
                                                nullptr))
        return 0;
    // DevicePath is declared with one element; the text runs on to the end of the record.
    const char* text = reinterpret_cast<const char*>(detail) + offsetof(Detail, DevicePath);
    path.assign(text, strnlen(text, required - offsetof(Detail, DevicePath)));
    return 1;
}

int CTrgConnectCtrl::CreateFlashApi() {
    if (devicePaths.empty())
        return 0;
    for (const std::string& path : devicePaths)
        adapters.push_back(new CFlashApi(path.c_str()));
    return 1;
}

int CTrgConnectCtrl::GetDevNum() {
    return deviceCount;
}

int CTrgConnectCtrl::GetSizeDevObj() {
    return static_cast<int>(adapters.size());
}

CFlashApi* CTrgConnectCtrl::GetIndexDevObj(int targetNumber) {
    if (targetNumber < 1 || targetNumber > GetSizeDevObj())
        return nullptr;
    return *std::next(adapters.begin(), targetNumber - 1);
}

CFlashApi* CTrgConnectCtrl::GetHeadDevObj() {
    return adapters.empty() ? nullptr : adapters.front();
}

// A position is the 1-based number of the entry it stands at.
DEVPOSITION CTrgConnectCtrl::GetHeadPositionDevObj() {
    return adapters.empty() ? nullptr : reinterpret_cast<DEVPOSITION>(uintptr_t{1});
}

CFlashApi* CTrgConnectCtrl::GetNextDevObj(DEVPOSITION& position) {
    const auto number = static_cast<int>(reinterpret_cast<uintptr_t>(position));
    CFlashApi* adapter = GetIndexDevObj(number);
    position = adapter != nullptr && number < GetSizeDevObj()
                   ? reinterpret_cast<DEVPOSITION>(uintptr_t(number + 1))
                   : nullptr;
    return adapter;
}

void CTrgConnectCtrl::RemoveAllDevObj() {
    adapters.clear();
}

int CTrgConnectCtrl::GetDevicePathStr(int targetNumber, char* buffer, uint32_t bufferSize,
                                      uint32_t& needed) {
    if (devicePaths.empty() || targetNumber < 1 ||
        targetNumber > static_cast<int>(devicePaths.size()))
        return 0;
    const std::string& path = *std::next(devicePaths.begin(), targetNumber - 1);
    needed = static_cast<uint32_t>(path.size() + 1);
    if (buffer != nullptr && bufferSize >= needed)
        std::memcpy(buffer, path.c_str(), needed);
    return 1;
}
