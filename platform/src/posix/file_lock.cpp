#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/file_content.h"
#include "platform/win32_types.h"

namespace plat {

FileLock::~FileLock() {
    Release();
}

bool FileLock::Acquire(const std::string& path, uint32_t timeoutMs) {
    Release();
    const std::string companion = path + ".lock";
    // flock needs no write access; non-blocking so that a FIFO at that name cannot hang the open.
    int fd;
    do {
        fd = ::open(companion.c_str(),
                    O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Holders keep it for one read and one write of a small file: a short poll is enough.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const int err = errno;
        if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            SetLastError(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(err));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    handle_ = fd;
    return true;
}

void FileLock::Release() {
    if (handle_ != kNone)
        ::close(int(handle_));
    handle_ = kNone;
}

}  // namespace plat
