#include "platform/device_enum.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/device_provider.h"
#include "platform/kernel_object.h"

namespace plat {

namespace {

// Snapshot of the interfaces present when the set was taken.
class DeviceInfoSet : public KernelObject {
  public:
    GUID interfaceClass{};
    std::vector<DeviceListing> items;
};

constexpr uint32_t kInterfaceActive = 0x1;

bool Fail(uint32_t error) {
    SetLastError(error);
    return false;
}

DeviceInfoSet* LookupSet(HDEVINFO set) {
    auto* s = LookupHandleAs<DeviceInfoSet>(set);
    if (s == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return s;
}

}  // namespace

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, void* hwndParent,
                              uint32_t flags) {
    if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new DeviceInfoSet;
    set->interfaceClass = *classGuid;
    // Only present interfaces exist in this layer, so DIGCF_PRESENT changes nothing.
    for (DeviceProvider* p : DeviceProviders())
        p->ListInterfaces(*classGuid, set->items);
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(set);
}

bool SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* classGuid,
                                 uint32_t memberIndex, SP_DEVICE_INTERFACE_DATA* data) {
    DeviceInfoSet* s = LookupSet(set);
    if (s == nullptr)
        return false;
    if (classGuid == nullptr || data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!(*classGuid == s->interfaceClass) || memberIndex >= s->items.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    data->InterfaceClassGuid = s->items[memberIndex].interfaceClass;
    data->Flags = kInterfaceActive;
    data->Reserved = memberIndex + 1;  // 0 marks a record not filled by this call
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                      uint32_t detailSize, uint32_t* requiredSize,
                                      void* deviceInfoData) {
    DeviceInfoSet* s = LookupSet(set);
    if (s == nullptr)
        return false;
    if (data == nullptr || data->Reserved == 0 || data->Reserved > s->items.size())
        return Fail(ERROR_INVALID_PARAMETER);
    const DeviceListing& item = s->items[data->Reserved - 1];
    const uint32_t needed = static_cast<uint32_t>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + item.path.size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (detail == nullptr)
        return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_PARAMETER);
    if (detailSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (item.detailFails)
        return Fail(ERROR_GEN_FAILURE);
    // Through the record's address: DevicePath is declared with one element only.
    char* dest =
        reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(dest, item.path.c_str(), item.path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (LookupSet(set) == nullptr)
        return false;
    return CloseHandle(set);
}

}  // namespace plat
