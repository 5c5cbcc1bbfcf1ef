#pragma once
// One string value under the current user (Software\Ostrel\Zeph, TrgPath), shaped after the
// registry calls. On POSIX the values live in a per-user INI file:
// $XDG_CONFIG_HOME/ostrel/registry.ini (or ~/.config/...), one section per key path, and
// values of type REG_SZ only.
#include <cstdint>

namespace plat {

using HKEY = void*;
extern HKEY const HKEY_CURRENT_USER;

constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;  // a string naming environment variables as %NAME%

// Results are Win32 error codes: ERROR_SUCCESS (0), ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA...
long RegOpenKeyExA(HKEY root, const char* subKey, uint32_t options, uint32_t access, HKEY* result);
// With data null: size receives the bytes needed (NUL included). With a too small buffer:
// ERROR_MORE_DATA and the needed size.
long RegQueryValueExA(HKEY key, const char* valueName, uint32_t* reserved, uint32_t* type,
                      uint8_t* data, uint32_t* size);
long RegSetValueExA(HKEY key, const char* valueName, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t size);
long RegCreateKeyExA(HKEY root, const char* subKey, HKEY* result);
long RegCloseKey(HKEY key);

// Replaces every %NAME% of source by the environment variable's value; a name that is not set
// stays as written. Returns the size the result needs (NUL included); destination holds the
// result when that is at most size (else its content is undefined); 0 on failure.
uint32_t ExpandEnvironmentStringsA(const char* source, char* destination, uint32_t size);

}  // namespace plat
