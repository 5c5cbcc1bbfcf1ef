#include "platform/file_content.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32_types.h"

namespace plat {

namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name no other writer (thread or process) picks: pid, a counter and the clock.
std::string TemporaryName(const std::string& dir, const std::string& base) {
    static std::atomic<unsigned> counter{0};
    unsigned long long stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[80];
    std::snprintf(suffix, sizeof suffix, ".~%ld-%u-%llx", static_cast<long>(::getpid()),
                  counter.fetch_add(1), stamp & 0xFFFFFFFFull);
    // Long names are cut so that the temporary name stays within NAME_MAX.
    return dir + "/." + base.substr(0, 120) + suffix;
}

// Follows a symbolic link so that a write replaces its target and keeps the link.
bool ResolveTarget(const std::string& path, std::string& target, uint32_t& error) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        target = path;
        return true;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        error = Win32ErrorFromErrno(errno);
        return false;
    }
    target = resolved;
    std::free(resolved);
    return true;
}

}  // namespace

uint32_t Win32ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENAMETOOLONG:
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

ReadOutcome ReadWholeFile(const std::string& path, std::string& content, uint32_t& error) {
    content.clear();
    // Non-blocking so that a FIFO in the file's place cannot hang the caller.
    int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return ReadOutcome::Missing;
        error = Win32ErrorFromErrno(errno);
        return ReadOutcome::Failed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadOutcome::Missing;
    }
    // Read to the end rather than trusting st_size: the file may be rewritten meanwhile.
    size_t used = 0;
    content.resize(static_cast<size_t>(st.st_size) + 1);
    for (;;) {
        if (used == content.size())
            content.resize(content.size() * 2);
        ssize_t n = ::read(fd, content.data() + used, content.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = Win32ErrorFromErrno(errno);
            ::close(fd);
            content.clear();
            return ReadOutcome::Failed;
        }
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
    }
    content.resize(used);
    ::close(fd);
    return ReadOutcome::Read;
}

namespace {

bool Replace(const std::string& path, std::string_view content, uint32_t& error, ReplaceStep& step,
             mode_t newFileMode) {
    step = ReplaceStep::Create;
    std::string target;
    if (!ResolveTarget(path, target, error))
        return false;

    struct stat old;
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    std::string dir = DirectoryOf(target);
    std::string base = BaseOf(target);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = TemporaryName(dir, base);
        // A new file gets newFileMode less the umask; an old file's bits are copied below.
        fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          exists ? 0600 : newFileMode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = Win32ErrorFromErrno(errno);
        return false;
    }
    auto fail = [&](int err) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.c_str());
        error = Win32ErrorFromErrno(err);
        return false;
    };
    if (exists) {
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            return fail(errno);
        // Only root (or a member of the group) may hand the file back; best effort.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        }
    }
    step = ReplaceStep::Write;
    if (!WriteAll(fd, content))
        return fail(errno);
    if (::fsync(fd) != 0)
        return fail(errno);
    step = ReplaceStep::Close;
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail(errno);
    // The directory is not synced: after a power cut either the old or the new file is there,
    // complete, and settings writes stay cheap.
    step = ReplaceStep::Rename;
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return fail(errno);
    return true;
}

}  // namespace

bool ReplaceFileContent(const std::string& path, std::string_view content, uint32_t& error,
                        ReplaceStep* failedStep) {
    ReplaceStep ignored;
    return Replace(path, content, error, failedStep != nullptr ? *failedStep : ignored, 0666);
}

bool ReplacePrivateFileContent(const std::string& path, std::string_view content, uint32_t& error) {
    ReplaceStep ignored;
    return Replace(path, content, error, ignored, 0600);
}

bool CreateNewFile(const std::string& path, std::string_view content, bool privateFile,
                   uint32_t& error) {
    const std::string dir = DirectoryOf(path);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = TemporaryName(dir, BaseOf(path));
        fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          privateFile ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = Win32ErrorFromErrno(errno);
        return false;
    }
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    // link() never replaces: the name is taken whole, or left to whoever took it first.
    if (ok && ::link(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    ::unlink(temp.c_str());
    if (!ok) {
        error = err == EEXIST ? ERROR_FILE_EXISTS : Win32ErrorFromErrno(err);
        return false;
    }
    SyncDirectoryOf(path);
    return true;
}

bool SyncDirectoryOf(const std::string& path) {
    // A replacement renames in the directory of a link's target, not of the link.
    std::string target;
    uint32_t error = 0;
    if (!ResolveTarget(path, target, error))
        return false;
    const int fd = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool MakeDirectories(const std::string& path, unsigned mode, uint32_t& error) {
    if (path.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
            error = Win32ErrorFromErrno(errno);
            return false;
        }
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    return true;
}

bool IsPrivateDirectory(const std::string& dir, std::string& why) {
    why.clear();
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT)
            why = std::string("cannot be examined: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode))
        why = "is not a directory";
    else if (st.st_uid != ::geteuid())
        why = "belongs to user " + std::to_string(st.st_uid);
    else if ((st.st_mode & 022) != 0)
        why = "is writable by group or others";
    return why.empty();
}

}  // namespace plat
