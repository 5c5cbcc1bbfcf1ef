// Device enumeration on Windows: SetupDi over the present interfaces of a class, followed by
// the paths a test added for that class (device_enum_testing.h) and the pipe devices of
// simulated adapters that VEXIL_PIPE_DEVICES names (pipe_devices.h).
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipe_devices.h"
#include "platform/device_enum.h"
#include "platform/device_enum_testing.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"
// After windows.h: setupapi.h needs its types.
#include <setupapi.h>

namespace plat {

namespace {

static_assert(sizeof(GUID) == sizeof(::GUID));
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == sizeof(::SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid) ==
              offsetof(::SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid));
static_assert(offsetof(SP_DEVICE_INTERFACE_DATA, Flags) ==
              offsetof(::SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(offsetof(SP_DEVICE_INTERFACE_DATA, Reserved) ==
              offsetof(::SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ==
              sizeof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A));
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) ==
              offsetof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));

// The extra paths a set took when it was created, after realCount interfaces of SetupDi.
struct ExtraListing {
    GUID interfaceClass{};
    DWORD realCount = 0;
    std::vector<std::string> paths;
};

struct Extras {
    std::mutex mutex;
    std::vector<std::pair<GUID, std::vector<std::string>>> byClass;
    std::map<HDEVINFO, std::shared_ptr<ExtraListing>> bySet;
};

Extras& TestExtras() {
    static Extras* extras = new Extras;  // lives past static destruction
    return *extras;
}

std::shared_ptr<ExtraListing> ListingOf(HDEVINFO set) {
    auto& e = TestExtras();
    std::lock_guard<std::mutex> lock(e.mutex);
    auto it = e.bySet.find(set);
    return it == e.bySet.end() ? nullptr : it->second;
}

const ::GUID* Native(const GUID* guid) {
    return reinterpret_cast<const ::GUID*>(guid);
}

::SP_DEVICE_INTERFACE_DATA* Native(SP_DEVICE_INTERFACE_DATA* data) {
    return reinterpret_cast<::SP_DEVICE_INTERFACE_DATA*>(data);
}

// The record of an extra interface carries the address of its path as Reserved, which no
// SetupDi record can carry (SetupDi puts its own allocations there).
const std::string* ExtraPath(const ExtraListing& listing, const SP_DEVICE_INTERFACE_DATA* data) {
    for (const std::string& path : listing.paths)
        if (data->Reserved == reinterpret_cast<uintptr_t>(&path))
            return &path;
    return nullptr;
}

bool Fail(DWORD error) {
    ::SetLastError(error);
    return false;
}

}  // namespace

void SetExtraDeviceInterfacesForTesting(const GUID& interfaceClass,
                                        std::vector<std::string> paths) {
    auto& e = TestExtras();
    std::lock_guard<std::mutex> lock(e.mutex);
    std::erase_if(e.byClass, [&](const auto& entry) { return entry.first == interfaceClass; });
    if (!paths.empty())
        e.byClass.emplace_back(interfaceClass, std::move(paths));
}

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, void* hwndParent,
                              uint32_t flags) {
    HDEVINFO set =
        ::SetupDiGetClassDevsA(Native(classGuid), enumerator, static_cast<HWND>(hwndParent), flags);
    if (set == INVALID_HANDLE_VALUE || classGuid == nullptr)
        return set;
    auto listing = std::make_shared<ExtraListing>();
    {
        auto& e = TestExtras();
        std::lock_guard<std::mutex> lock(e.mutex);
        for (const auto& entry : e.byClass)
            if (entry.first == *classGuid)
                listing->paths = entry.second;
    }
    if ((flags & DIGCF_DEVICEINTERFACE) != 0) {
        std::vector<std::string> pipes = PipeDevicesFromEnvironment();
        listing->paths.insert(listing->paths.end(), pipes.begin(), pipes.end());
    }
    if (listing->paths.empty())
        return set;
    listing->interfaceClass = *classGuid;
    ::SP_DEVICE_INTERFACE_DATA probe{};
    probe.cbSize = sizeof probe;
    while (
        ::SetupDiEnumDeviceInterfaces(set, nullptr, Native(classGuid), listing->realCount, &probe))
        ++listing->realCount;
    auto& e = TestExtras();
    std::lock_guard<std::mutex> lock(e.mutex);
    e.bySet[set] = std::move(listing);
    ::SetLastError(ERROR_SUCCESS);
    return set;
}

bool SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfoData, const GUID* classGuid,
                                 uint32_t memberIndex, SP_DEVICE_INTERFACE_DATA* data) {
    auto listing = ListingOf(set);
    if (listing != nullptr && classGuid != nullptr && *classGuid == listing->interfaceClass &&
        memberIndex >= listing->realCount &&
        memberIndex - listing->realCount < listing->paths.size()) {
        if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
            return Fail(ERROR_INVALID_PARAMETER);
        data->InterfaceClassGuid = listing->interfaceClass;
        data->Flags = SPINT_ACTIVE;
        data->Reserved =
            reinterpret_cast<uintptr_t>(&listing->paths[memberIndex - listing->realCount]);
        ::SetLastError(ERROR_SUCCESS);
        return true;
    }
    return ::SetupDiEnumDeviceInterfaces(set, static_cast<PSP_DEVINFO_DATA>(deviceInfoData),
                                         Native(classGuid), memberIndex, Native(data)) != FALSE;
}

bool SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                      uint32_t detailSize, uint32_t* requiredSize,
                                      void* deviceInfoData) {
    auto listing = ListingOf(set);
    const std::string* path =
        listing != nullptr && data != nullptr ? ExtraPath(*listing, data) : nullptr;
    if (path == nullptr) {
        DWORD required = 0;
        const BOOL ok = ::SetupDiGetDeviceInterfaceDetailA(
            set, Native(data), reinterpret_cast<::SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail),
            detailSize, &required, static_cast<PSP_DEVINFO_DATA>(deviceInfoData));
        if (requiredSize != nullptr)
            *requiredSize = static_cast<uint32_t>(required);
        return ok != FALSE;
    }
    // The same size protocol as SetupDi's.
    const uint32_t needed = static_cast<uint32_t>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path->size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (detail == nullptr)
        return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (detailSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    char* dest =
        reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(dest, path->c_str(), path->size() + 1);
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

bool SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    {
        auto& e = TestExtras();
        std::lock_guard<std::mutex> lock(e.mutex);
        e.bySet.erase(set);
    }
    return ::SetupDiDestroyDeviceInfoList(set) != FALSE;
}

}  // namespace plat
