#pragma once
// Pieces of the file services that the POSIX and the Windows build share.
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Copies at most size - 1 bytes of part and a NUL; nothing without a buffer.
void CopyPart(std::string_view part, char* out, uint32_t size);
// The path a test put in place of the executable's (SetModuleFileNameOverrideForTesting);
// false when none is set.
bool ModuleFileNameOverride(std::string& path);
// GetModuleFileNameA's answer for a known path: its length, or size with
// ERROR_INSUFFICIENT_BUFFER when it was cut to the buffer.
uint32_t CopyModulePath(const std::string& path, char* buffer, uint32_t size);

}  // namespace plat
