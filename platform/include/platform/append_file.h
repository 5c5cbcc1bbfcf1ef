#pragma once
// A file that records are appended to: created when missing, never truncated by opening, held
// under an exclusive lock while it is open (a file the program reads under its shared lock, a
// registered program file, is refused), written with one call per text and flushed to the disk
// on request. The owner can look at and cut a torn tail that a crash or power loss left.
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Fails (last error set) when the file cannot be created or opened for reading and
    // writing, is no regular file, or is locked by another writer or reader.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return handle_ != kClosed; }

    // The current size; false when it cannot be read.
    bool Size(uint64_t& size) const;
    // Reads exactly length bytes at offset.
    bool ReadAt(uint64_t offset, char* buffer, size_t length) const;
    // Cuts the file to size bytes.
    bool Truncate(uint64_t size);
    // Appends text at the end, in one write where the system takes it whole.
    bool Append(std::string_view text);
    // Content and size reach the disk before this returns.
    bool Flush();

  private:
    // A descriptor on POSIX, a handle on Windows.
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
};

// This machine's name, or an empty text when it cannot be had.
std::string HostName();

}  // namespace plat
