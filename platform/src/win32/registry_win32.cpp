// The registry on Windows: the system's own, under the current user.
#include <cstdint>

#include "platform/registry.h"
#include "platform/win32_types.h"

namespace plat {

// The predefined key's value, sign-extended as the system defines it (windows.h spells the
// same name as a macro, so this comes first).
HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001u)));

}  // namespace plat

// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

::HKEY Native(HKEY key) {
    return static_cast<::HKEY>(key);
}

}  // namespace

long RegOpenKeyExA(HKEY root, const char* subKey, uint32_t options, uint32_t access, HKEY* result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    ::HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExA(Native(root), subKey, options, access, &opened);
    *result = status == ERROR_SUCCESS ? opened : nullptr;
    return status;
}

long RegQueryValueExA(HKEY key, const char* valueName, uint32_t* reserved, uint32_t* type,
                      uint8_t* data, uint32_t* size) {
    DWORD valueType = 0;
    DWORD valueSize = size != nullptr ? *size : 0;
    const LONG status = ::RegQueryValueExA(
        Native(key), valueName, reinterpret_cast<LPDWORD>(reserved),
        type != nullptr ? &valueType : nullptr, data, size != nullptr ? &valueSize : nullptr);
    if (type != nullptr)
        *type = static_cast<uint32_t>(valueType);
    if (size != nullptr)
        *size = static_cast<uint32_t>(valueSize);
    return status;
}

long RegSetValueExA(HKEY key, const char* valueName, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t size) {
    return ::RegSetValueExA(Native(key), valueName, reserved, type, data, size);
}

long RegCreateKeyExA(HKEY root, const char* subKey, HKEY* result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    ::HKEY created = nullptr;
    const LONG status = ::RegCreateKeyExA(Native(root), subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_READ | KEY_WRITE, nullptr, &created, nullptr);
    *result = status == ERROR_SUCCESS ? created : nullptr;
    return status;
}

long RegCloseKey(HKEY key) {
    return ::RegCloseKey(Native(key));
}

uint32_t ExpandEnvironmentStringsA(const char* source, char* destination, uint32_t size) {
    return ::ExpandEnvironmentStringsA(source, destination, size);
}

}  // namespace plat
