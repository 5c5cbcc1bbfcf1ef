#pragma once
// Device enumeration: the present device interfaces of one interface class, by index, and
// each interface's device path (size query, then fetch), shaped after the SetupDi calls.
#include "platform/win32_types.h"

namespace plat {

using HDEVINFO = void*;
constexpr uint32_t DIGCF_PRESENT = 0x2;
constexpr uint32_t DIGCF_DEVICEINTERFACE = 0x10;

struct SP_DEVICE_INTERFACE_DATA {
    uint32_t cbSize;
    GUID InterfaceClassGuid;
    uint32_t Flags;
    uintptr_t Reserved;
};

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    uint32_t cbSize;
    char DevicePath[1];
};

// A snapshot of the present interfaces of the class; INVALID_HANDLE_VALUE on failure.
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, void* hwndParent,
                              uint32_t flags);
// Fails with ERROR_NO_MORE_ITEMS past the last interface. data->cbSize must be set.
bool SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* classGuid,
                                 uint32_t memberIndex, SP_DEVICE_INTERFACE_DATA* data);
// Without a buffer (or too small): fails with ERROR_INSUFFICIENT_BUFFER and sets required.
// With a buffer: detail->cbSize must be sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A).
bool SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                      uint32_t detailSize, uint32_t* requiredSize,
                                      void* deviceInfoData);
bool SetupDiDestroyDeviceInfoList(HDEVINFO set);

}  // namespace plat
