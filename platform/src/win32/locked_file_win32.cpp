// Program files held open on Windows: the share mode denies writers (and deleting or renaming)
// for as long as the file is registered, so its content cannot change underneath the list. The
// file is kept as a C runtime descriptor over the system handle, so the class is the same on
// both builds. The fingerprint is still taken: it tells two registrations of one file apart
// from two files with the same name.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <utility>

#include "platform/locked_file.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

struct FileState {
    uint64_t volume = 0;
    uint64_t index = 0;
    uint64_t size = 0;
    int64_t writeHigh = 0;
    int64_t writeLow = 0;
};

bool QueryState(HANDLE h, FileState& state) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info))
        return false;
    state.volume = info.dwVolumeSerialNumber;
    state.index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    state.writeHigh = info.ftLastWriteTime.dwHighDateTime;
    state.writeLow = info.ftLastWriteTime.dwLowDateTime;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Reads the whole file from offset 0; false on an error or when it is not exactly expected
// bytes long (one byte more is asked for to see growth).
bool ReadExactly(HANDLE h, uint64_t expected, std::vector<char>& content) {
    try {
        content.resize(expected + 1);
    } catch (const std::exception&) {
        content.clear();
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    uint64_t done = 0;
    while (done < expected + 1) {
        ::OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(done);
        at.OffsetHigh = static_cast<DWORD>(done >> 32);
        const uint64_t left = expected + 1 - done;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!::ReadFile(h, content.data() + done, chunk, &n, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            content.clear();
            return false;
        }
        if (n == 0)
            break;
        done += n;
    }
    if (done != expected) {
        content.clear();
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    content.resize(expected);
    return true;
}

HANDLE SystemHandle(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

}  // namespace

void LockedFile::Close() {
    if (fd_ >= 0)
        _close(fd_);  // closes the system handle, which ends the share mode
    fd_ = -1;
    path_.clear();
    device_ = inode_ = size_ = hash_ = 0;
    mtimeSec_ = mtimeNsec_ = 0;
}

bool LockedFile::OpenAndRead(const std::string& path, std::vector<char>& content) {
    Close();
    content.clear();
    if (path.empty()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // Readers are welcome; a writer (of this or any program) is refused from now on, and the
    // open fails with a sharing violation while one has the file open for writing.
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FileState state;
    if (!QueryState(h, state) || ::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (state.size > kMaxLockedFileSize) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (!ReadExactly(h, state.size, content)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(h);
        ::SetLastError(error);
        return false;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        content.clear();
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    fd_ = fd;
    path_ = path;
    device_ = state.volume;
    inode_ = state.index;
    size_ = state.size;
    mtimeSec_ = state.writeHigh;
    mtimeNsec_ = state.writeLow;
    hash_ = FingerprintBytes(content.data(), content.size());
    return true;
}

bool LockedFile::ReadAll(std::vector<char>& content) {
    content.clear();
    if (fd_ < 0) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    HANDLE h = SystemHandle(fd_);
    FileState state;
    if (!QueryState(h, state) || state.size != size_ || state.writeHigh != mtimeSec_ ||
        state.writeLow != mtimeNsec_ || !ReadExactly(h, size_, content) ||
        FingerprintBytes(content.data(), content.size()) != hash_) {
        content.clear();
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    return true;
}

std::FILE* OpenForAppend(const std::string& path) {
    // Asking for write access is refused with a sharing violation while a LockedFile holds
    // the file. Others may read and write the log meanwhile, as they may with fopen.
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_RDWR | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "a+b");
    if (file == nullptr) {
        _close(fd);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return file;
}

}  // namespace plat
