#include "platform/locked_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <utility>

#include "platform/win32_types.h"

namespace plat {

namespace {

uint32_t ErrorFromErrno(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// Reads the whole file from offset 0; false on an error or when it is not exactly expected
// bytes long (one byte more is asked for to see growth).
bool ReadExactly(int fd, uint64_t expected, std::vector<char>& content) {
    try {
        content.resize(expected + 1);
    } catch (const std::exception&) {
        content.clear();
        errno = ENOMEM;
        return false;
    }
    uint64_t done = 0;
    while (done < expected + 1) {
        ssize_t n = ::pread(fd, content.data() + done, expected + 1 - done, off_t(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            content.clear();
            return false;
        }
        if (n == 0)
            break;
        done += uint64_t(n);
    }
    if (done != expected) {
        content.clear();
        return false;
    }
    content.resize(expected);
    return true;
}

}  // namespace

void LockedFile::Close() {
    if (fd_ >= 0)
        ::close(fd_);  // closing drops the lock
    fd_ = -1;
    path_.clear();
    device_ = inode_ = size_ = hash_ = 0;
    mtimeSec_ = mtimeNsec_ = 0;
}

bool LockedFile::OpenAndRead(const std::string& path, std::vector<char>& content) {
    Close();
    content.clear();
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // Non-blocking so that a FIFO under this name cannot stall the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        SetLastError(ErrorFromErrno(errno));
        ::close(fd);
        return false;
    }
    if (uint64_t(st.st_size) > kMaxLockedFileSize) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    struct stat after {};
    if (!ReadExactly(fd, uint64_t(st.st_size), content) || ::fstat(fd, &after) != 0 ||
        after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != st.st_mtim.tv_nsec) {
        // Changed while it was being read: refuse rather than fingerprint a torn state.
        ::close(fd);
        content.clear();
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    fd_ = fd;
    path_ = path;
    device_ = uint64_t(st.st_dev);
    inode_ = uint64_t(st.st_ino);
    size_ = uint64_t(st.st_size);
    mtimeSec_ = int64_t(st.st_mtim.tv_sec);
    mtimeNsec_ = int64_t(st.st_mtim.tv_nsec);
    hash_ = FingerprintBytes(content.data(), content.size());
    return true;
}

bool LockedFile::ReadAll(std::vector<char>& content) {
    content.clear();
    if (fd_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    auto sameState = [this](const struct stat& st) {
        return uint64_t(st.st_size) == size_ && int64_t(st.st_mtim.tv_sec) == mtimeSec_ &&
               int64_t(st.st_mtim.tv_nsec) == mtimeNsec_;
    };
    struct stat byPath {};
    struct stat before {};
    // The path must still name the file that was opened: a file replaced or removed under
    // this name counts as changed, since the operator would expect the new content.
    if (::stat(path_.c_str(), &byPath) != 0 || uint64_t(byPath.st_dev) != device_ ||
        uint64_t(byPath.st_ino) != inode_ || ::fstat(fd_, &before) != 0 || !sameState(before)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    struct stat after {};
    if (!ReadExactly(fd_, size_, content) || ::fstat(fd_, &after) != 0 || !sameState(after) ||
        FingerprintBytes(content.data(), content.size()) != hash_) {
        content.clear();
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    return true;
}

std::FILE* OpenForAppend(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "a+b");
    if (file == nullptr) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    // The exclusive lock conflicts with the shared lock of every registered program file, and
    // is released when the file is closed.
    if (::flock(::fileno(file), LOCK_EX | LOCK_NB) != 0) {
        std::fclose(file);
        SetLastError(ERROR_SHARING_VIOLATION);
        return nullptr;
    }
    return file;
}

}  // namespace plat
