// The record file on Windows: the share mode lets others read it but denies other writers, and
// a registered program file (held with writers denied) cannot be opened for writing at all.
#include <cstdint>
#include <string>

#include "platform/append_file.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

HANDLE H(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool Seek(HANDLE h, uint64_t offset, DWORD from) {
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    return ::SetFilePointerEx(h, to, nullptr, from) != 0;
}

}  // namespace

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::Open(const std::string& path) {
    Close();
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

void AppendFile::Close() {
    if (handle_ != kClosed)
        ::CloseHandle(H(handle_));
    handle_ = kClosed;
}

bool AppendFile::Size(uint64_t& size) const {
    LARGE_INTEGER s;
    if (handle_ == kClosed || !::GetFileSizeEx(H(handle_), &s))
        return false;
    size = uint64_t(s.QuadPart);
    return true;
}

bool AppendFile::ReadAt(uint64_t offset, char* buffer, size_t length) const {
    if (handle_ == kClosed || !Seek(H(handle_), offset, FILE_BEGIN))
        return false;
    while (length > 0) {
        DWORD n = 0;
        const DWORD ask = length > 0x10000000 ? 0x10000000 : DWORD(length);
        if (!::ReadFile(H(handle_), buffer, ask, &n, nullptr) || n == 0)
            return false;
        buffer += n;
        length -= n;
    }
    return true;
}

bool AppendFile::Truncate(uint64_t size) {
    return handle_ != kClosed && Seek(H(handle_), size, FILE_BEGIN) &&
           ::SetEndOfFile(H(handle_)) != 0;
}

bool AppendFile::Append(std::string_view text) {
    if (handle_ == kClosed || !Seek(H(handle_), 0, FILE_END))
        return false;
    while (!text.empty()) {
        DWORD n = 0;
        const DWORD ask = text.size() > 0x10000000 ? 0x10000000 : DWORD(text.size());
        if (!::WriteFile(H(handle_), text.data(), ask, &n, nullptr) || n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

bool AppendFile::Flush() {
    return handle_ != kClosed && ::FlushFileBuffers(H(handle_)) != 0;
}

std::string HostName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size))
        return {};
    return std::string(name, size);
}

}  // namespace plat
