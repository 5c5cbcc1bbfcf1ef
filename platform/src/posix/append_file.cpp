#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/file_content.h"
#include "platform/win32_types.h"

namespace plat {

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::Open(const std::string& path) {
    Close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Never waits: the writers of this file hold it for one append only, and a file another
    // program holds for longer is the wrong file.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    handle_ = fd;
    return true;
}

void AppendFile::Close() {
    if (handle_ != kClosed)
        ::close(int(handle_));
    handle_ = kClosed;
}

bool AppendFile::Size(uint64_t& size) const {
    struct stat st {};
    if (handle_ == kClosed || ::fstat(int(handle_), &st) != 0)
        return false;
    size = uint64_t(st.st_size);
    return true;
}

bool AppendFile::ReadAt(uint64_t offset, char* buffer, size_t length) const {
    while (length > 0) {
        const ssize_t n = ::pread(int(handle_), buffer, length, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        offset += uint64_t(n);
        length -= size_t(n);
    }
    return true;
}

bool AppendFile::Truncate(uint64_t size) {
    return handle_ != kClosed && ::ftruncate(int(handle_), off_t(size)) == 0;
}

bool AppendFile::Append(std::string_view text) {
    if (handle_ == kClosed)
        return false;
    while (!text.empty()) {
        const ssize_t n = ::write(int(handle_), text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(size_t(n));
    }
    return true;
}

bool AppendFile::Flush() {
    return handle_ != kClosed && ::fsync(int(handle_)) == 0;
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

}  // namespace plat
