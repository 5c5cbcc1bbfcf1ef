// A file's content replaced in one step on Windows: a copy beside it is written, flushed to the
// disk and moved over it with write-through, so after a crash either the old or the new file is
// there, complete. The declaration is shared with the POSIX build (file_content.h).
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "file_beside.h"
#include "platform/file_content.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

// A symbolic link is followed, so that the link stays and its target gets the content.
std::string FinalPath(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return path;
    HANDLE h =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return path;
    char final[MAX_PATH * 4];
    const DWORD n = ::GetFinalPathNameByHandleA(h, final, sizeof final, FILE_NAME_NORMALIZED);
    ::CloseHandle(h);
    return n > 0 && n < sizeof final ? std::string(final, n) : path;
}

}  // namespace

std::string WorkingCopyBeside(const std::string& path, const char* extension) {
    static std::atomic<unsigned> counter{0};
    const size_t cut = path.find_last_of("\\/:");
    const std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    return dir + "~" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(::GetTickCount()) +
           extension;
}

bool FailRemoving(const std::string& copy) {
    const DWORD error = ::GetLastError();
    ::DeleteFileA(copy.c_str());
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return false;
}

bool ReplaceFileContent(const std::string& path, std::string_view content, uint32_t& error,
                        ReplaceStep* failedStep) {
    ReplaceStep ignored;
    ReplaceStep& step = failedStep != nullptr ? *failedStep : ignored;
    step = ReplaceStep::Create;
    const std::string target = FinalPath(path);
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        // The move would replace a read-only file that the system refuses to write (and Wine
        // running as root would not).
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    std::string copy;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        copy = WorkingCopyBeside(target, ".tmp");
        h = ::CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    auto fail = [&] {
        if (h != INVALID_HANDLE_VALUE) {
            const DWORD saved = ::GetLastError();
            ::CloseHandle(h);
            ::SetLastError(saved);
        }
        FailRemoving(copy);
        error = ::GetLastError();
        return false;
    };
    step = ReplaceStep::Write;
    while (!content.empty()) {
        DWORD n = 0;
        const DWORD ask = content.size() > 0x10000000 ? 0x10000000 : DWORD(content.size());
        if (!::WriteFile(h, content.data(), ask, &n, nullptr))
            return fail();
        if (n == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return fail();
        }
        content.remove_prefix(n);
    }
    if (!::FlushFileBuffers(h))
        return fail();
    step = ReplaceStep::Close;
    const BOOL closed = ::CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    if (!closed)
        return fail();
    step = ReplaceStep::Rename;
    if (!::MoveFileExA(copy.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail();
    return true;
}

}  // namespace plat
