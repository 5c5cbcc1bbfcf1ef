#pragma once
// Pieces of the file services that the POSIX and the Windows build share.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace plat {

// Copies at most size - 1 bytes of part and a NUL; nothing without a buffer.
void CopyPart(std::string_view part, char* out, uint32_t size);
// The path a test put in place of the executable's (SetModuleFileNameOverrideForTesting);
// false when none is set.
bool ModuleFileNameOverride(std::string& path);
// GetModuleFileNameA's answer for a known path: its length, or size with
// ERROR_INSUFFICIENT_BUFFER when it was cut to the buffer.
uint32_t CopyModulePath(const std::string& path, char* buffer, uint32_t size);

// What a directory search found, handed out one entry at a time.
struct FoundEntry {
    std::string name;
    uint32_t attributes;
    uint64_t size;
};

class FoundList {
  public:
    explicit FoundList(std::vector<FoundEntry> entries) : entries_(std::move(entries)) {}
    bool Next(WIN32_FIND_DATAA* data);
    static void Fill(const FoundEntry& e, WIN32_FIND_DATAA* data);

  private:
    std::mutex mutex_;
    std::vector<FoundEntry> entries_;
    size_t next_ = 0;
};

}  // namespace plat
