#pragma once
// A file held open for reading while writers are denied: a registered program file must not
// change underneath the file list. POSIX cannot keep another program from writing, so the file
// is held open with an advisory shared lock (cooperating writers are refused), and its identity
// and content are recorded when it is opened. Every later read checks them again and fails
// when the file changed, so content that changed is never used.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plat {

// Program files are read whole; anything larger than this is no program file and is refused
// (ERROR_NOT_ENOUGH_MEMORY) rather than read into memory on the GUI thread.
constexpr uint64_t kMaxLockedFileSize = 256ull << 20;

class LockedFile {
  public:
    LockedFile() = default;
    ~LockedFile();
    LockedFile(LockedFile&& other) noexcept;
    LockedFile& operator=(LockedFile&& other) noexcept;
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens path for reading, takes the shared lock and records the fingerprint. Fails (last
    // error set) when the file does not exist, is not a regular file, cannot be read, or is
    // locked by a writer. An open file is closed first.
    bool Open(const std::string& path);
    // As Open, and hands over the content read for the fingerprint (one read instead of two).
    bool Open(const std::string& path, std::vector<char>& content);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }
    uint64_t contentHash() const { return hash_; }

    // Reads the whole file into content. Fails when the file is not open or is no longer what
    // was opened: the path now names another file or none, or size, modification time or
    // content differ. content is left empty on failure.
    bool ReadAll(std::vector<char>& content);
    // True when both are open on the same file with the same recorded fingerprint.
    bool SameAs(const LockedFile& other) const;

  private:
    bool OpenAndRead(const std::string& path, std::vector<char>& content);

    int fd_ = -1;
    std::string path_;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    uint64_t size_ = 0;
    int64_t mtimeSec_ = 0;
    int64_t mtimeNsec_ = 0;
    uint64_t hash_ = 0;
};

// Opens path for reading and appending (created when missing, never truncated) as a file the
// program writes: refused with ERROR_SHARING_VIOLATION while a LockedFile (of this or a
// cooperating program) holds it, as a sharing violation would refuse it. Close with fclose.
std::FILE* OpenForAppend(const std::string& path);

// A fast 64-bit fingerprint of a byte range (not cryptographic: it detects edits, not attacks).
uint64_t FingerprintBytes(const void* data, size_t length);

}  // namespace plat
