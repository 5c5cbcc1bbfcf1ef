// File contents on Windows (file_content.h): read whole, and replaced in one step: a copy
// beside the file is written, flushed to the disk and put in its place (file_beside.h), so
// after a crash either the old or the new file is there, complete.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "file_beside.h"
#include "platform/file_content.h"
#include "platform/replace_testing.h"
#include "platform/win32_types.h"
#include "wait_limit.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

// ReplaceFile is tried this often, with a pause growing by kRetryPauseMs each time: about
// seven tenths of a second in all, longer than a scanner holds a new file.
constexpr int kReplaceAttempts = 8;
constexpr uint32_t kRetryPauseMs = 25;

struct AttemptHook {
    std::mutex mutex;
    std::function<void(const std::string&, int)> hook;
};

AttemptHook& ReplaceAttemptHook() {
    static AttemptHook* hook = new AttemptHook;  // lives past static destruction
    return *hook;
}

void BeforeAttempt(const std::string& copy, int attempt) {
    std::function<void(const std::string&, int)> hook;
    {
        auto& h = ReplaceAttemptHook();
        std::lock_guard<std::mutex> lock(h.mutex);
        hook = h.hook;
    }
    if (hook)
        hook(copy, attempt);
    else if (attempt > 0)
        ::Sleep(LimitWait(kRetryPauseMs * attempt).ms);
}

// What another program holding one of the files for a moment looks like.
bool WorthRetrying(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
           error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
}

// Wine's ReplaceFile keeps no security of the replaced file; Windows' keeps it as well.
void CopySecurity(const std::string& from, const std::string& to) {
    DWORD size = 0;
    ::GetFileSecurityA(from.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    if (size == 0)
        return;
    std::string sd(size, '\0');
    if (::GetFileSecurityA(from.c_str(), DACL_SECURITY_INFORMATION, sd.data(), size, &size))
        ::SetFileSecurityA(to.c_str(), DACL_SECURITY_INFORMATION, sd.data());
}

// ReplaceFile with a backup name: without one, a failed rename may leave the old file deleted.
bool ReplaceWithRetry(const std::string& path, const std::string& copy) {
    CopySecurity(path, copy);
    const std::string backup = WorkingCopyBeside(path, ".old");
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        BeforeAttempt(copy, attempt);
        if (::ReplaceFileA(path.c_str(), copy.c_str(), backup.c_str(),
                           REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                           nullptr)) {
            ::DeleteFileA(backup.c_str());
            return true;
        }
        error = ::GetLastError();
        // The old file went to the backup name and the copy did not follow: put it back, or
        // else the copy (complete and flushed) in its place. The copy is never deleted while
        // nothing stands at path; the old file stays under the backup name if both fail.
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
            !::MoveFileExA(backup.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (!::MoveFileExA(copy.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
                ::SetLastError(error);
                return false;
            }
            ::DeleteFileA(backup.c_str());
            return true;
        }
        if (!WorthRetrying(error))
            break;
    }
    ::SetLastError(error);
    return FailRemoving(copy);
}

}  // namespace

void SetReplaceAttemptHookForTesting(std::function<void(const std::string&, int)> hook) {
    auto& h = ReplaceAttemptHook();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.hook = std::move(hook);
}

ReadOutcome ReadWholeFile(const std::string& path, std::string& content, uint32_t& error) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_ACCESS_DENIED;
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                       (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                   ? ReadOutcome::Missing
                   : ReadOutcome::Failed;
    }
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return ReadOutcome::Failed;
    }
    LARGE_INTEGER size{};
    // Whole files of up to 1 GiB: settings and working copies are far smaller.
    bool ok = ::GetFileSizeEx(h, &size) && size.QuadPart < 0x40000000;
    if (ok) {
        content.resize(static_cast<size_t>(size.QuadPart));
        DWORD n = 0;
        ok = ::ReadFile(h, content.data(), DWORD(content.size()), &n, nullptr) &&
             n == content.size();
    }
    error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!ok && error == ERROR_SUCCESS)
        error = ERROR_READ_FAULT;  // too large, or changed while read
    ::CloseHandle(h);
    ::SetLastError(error);
    return ok ? ReadOutcome::Read : ReadOutcome::Failed;
}

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

std::string WorkingCopyBeside(const std::string& path, const char* extension) {
    static std::atomic<unsigned> counter{0};
    const size_t cut = path.find_last_of("\\/:");
    const std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    return dir + "~" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(::GetTickCount()) +
           extension;
}

HANDLE CreateWorkingCopy(const std::string& path, std::string& copy) {
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        copy = WorkingCopyBeside(path, ".tmp");
        h = ::CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    return h;
}

bool FailRemoving(const std::string& copy) {
    const DWORD error = ::GetLastError();
    ::DeleteFileA(copy.c_str());
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return false;
}

bool WriteAll(HANDLE h, std::string_view content) {
    while (!content.empty()) {
        DWORD n = 0;
        const DWORD ask = content.size() > 0x10000000 ? 0x10000000 : DWORD(content.size());
        if (!::WriteFile(h, content.data(), ask, &n, nullptr))
            return false;
        if (n == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        content.remove_prefix(n);
    }
    return true;
}

bool HasOtherNames(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool several = ::GetFileInformationByHandle(h, &info) && info.nNumberOfLinks > 1;
    ::CloseHandle(h);
    return several;
}

bool OverwriteInPlace(const std::string& path, std::string_view content) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    LARGE_INTEGER wanted{};
    wanted.QuadPart = static_cast<LONGLONG>(content.size());
    LARGE_INTEGER start{};
    // The room first: a full disk fails here, before any old byte is overwritten.
    bool ok = ::GetFileSizeEx(h, &size) &&
              (size.QuadPart >= wanted.QuadPart ||
               (::SetFilePointerEx(h, wanted, nullptr, FILE_BEGIN) && ::SetEndOfFile(h))) &&
              ::SetFilePointerEx(h, start, nullptr, FILE_BEGIN) && WriteAll(h, content) &&
              ::SetEndOfFile(h) && ::FlushFileBuffers(h);
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    ::SetLastError(ok ? ERROR_SUCCESS : error);
    return ok;
}

bool PutCopyInPlace(const std::string& path, const std::string& copy) {
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (!::MoveFileExA(copy.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return FailRemoving(copy);
        return true;
    }
    if (HasOtherNames(path)) {
        // A new file would leave the other names with the old content.
        std::string content;
        uint32_t error = 0;
        if (ReadWholeFile(copy, content, error) != ReadOutcome::Read ||
            !OverwriteInPlace(path, content))
            return FailRemoving(copy);
        ::DeleteFileA(copy.c_str());
        return true;
    }
    return ReplaceWithRetry(path, copy);
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
    HANDLE h = CreateWorkingCopy(target, copy);
    if (h == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        // A folder that takes no new files, where the file itself may be written.
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES) {
            step = ReplaceStep::Write;
            if (OverwriteInPlace(target, content))
                return true;
            error = ::GetLastError();
        }
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
    if (!WriteAll(h, content) || !::FlushFileBuffers(h))
        return fail();
    step = ReplaceStep::Close;
    const BOOL closed = ::CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    if (!closed)
        return fail();
    step = ReplaceStep::Rename;
    if (!PutCopyInPlace(target, copy)) {
        error = ::GetLastError();
        return false;
    }
    return true;
}

bool CreateNewFile(const std::string& path, std::string_view content, bool, uint32_t& error) {
    std::string copy;
    HANDLE h = CreateWorkingCopy(path, copy);
    if (h == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return false;
    }
    const bool written = WriteAll(h, content) && ::FlushFileBuffers(h);
    const DWORD writeError = ::GetLastError();
    ::CloseHandle(h);
    // Without MOVEFILE_REPLACE_EXISTING the move fails on a name that is taken.
    if (!written || !::MoveFileExA(copy.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD failed = written ? ::GetLastError() : writeError;
        ::DeleteFileA(copy.c_str());
        error = failed == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : failed;
        return false;
    }
    return true;
}

bool SyncDirectoryOf(const std::string&) {
    // Windows has no flush of a folder: the replacement's content was flushed before it was
    // put in place, and NTFS journals the rename itself.
    return true;
}

}  // namespace plat
