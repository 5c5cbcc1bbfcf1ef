// INI files on Windows: the system's private-profile functions do the reading and the editing.
// Two guarantees of the layer are kept on top of them:
// - a write never leaves a half-written file: the system edits a copy beside the file, which
//   is flushed and then put in its place, keeping the file's security, streams and names
//   (file_beside.h); only where the folder takes no new file is the file written in place;
// - names and values that would read back as something else (a line break in a value, '='
//   in a key, ']' in a section name) are refused instead of written.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "file_beside.h"
#include "platform/file_content.h"
#include "platform/private_profile.h"
#include "platform/profile_text.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

// Flushes a finished copy to the disk before it replaces the original.
bool FlushToDisk(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const BOOL ok = ::FlushFileBuffers(h);
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    ::SetLastError(error);
    return ok != FALSE;
}

// A file whose folder takes no new file: the system edits a copy in the temporary folder, and
// the result is written over the file itself.
bool WriteInPlace(const char* section, const char* key, const char* value,
                  const std::string& path) {
    char dir[MAX_PATH + 1];
    char copy[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH || ::GetTempFileNameA(dir, "ini", 0, copy) == 0)
        return false;
    std::string content;
    uint32_t error = 0;
    const bool ok = ::CopyFileA(path.c_str(), copy, FALSE) &&
                    ::WritePrivateProfileStringA(section, key, value, copy) &&
                    ReadWholeFile(copy, content, error) == ReadOutcome::Read &&
                    OverwriteInPlace(path, content);
    if (!ok)
        return FailRemoving(copy);
    ::DeleteFileA(copy);
    return true;
}

}  // namespace

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, uint32_t size, const char* fileName) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, fileName);
}

uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                               const char* fileName) {
    return ::GetPrivateProfileIntA(section, key, defaultValue, fileName);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (section == nullptr) {
        // All three null asks the system to flush its cache of the file.
        if (key == nullptr && value == nullptr)
            return ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, fileName) != FALSE;
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::string_view sectionName = profile::TrimCallerName(section);
    if (!profile::IsWritableSectionName(sectionName) ||
        (key != nullptr && !profile::IsWritableKeyName(profile::TrimCallerName(key))) ||
        (key != nullptr && value != nullptr && !profile::IsWritableValue(value))) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const bool removing = key == nullptr || value == nullptr;
    try {
        std::lock_guard<std::mutex> lock(WriteMutex());
        const std::string path = FinalPath(fileName);
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_NOT_FOUND) {
                ::SetLastError(error);
                return false;
            }
            if (removing)
                return true;  // nothing to remove, and nothing is created for it
        } else if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            // Checked here: the move below would replace a read-only file where the system
            // itself refuses to write one (and so would Wine running as root).
            ::SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        const std::string copy = WorkingCopyBeside(path, ".ini.tmp");
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        if (exists && !::CopyFileA(path.c_str(), copy.c_str(), TRUE)) {
            if (::GetLastError() == ERROR_ACCESS_DENIED && WriteInPlace(section, key, value, path))
                return true;
            return FailRemoving(copy);
        }
        if (!::WritePrivateProfileStringA(section, key, value, copy.c_str()))
            return FailRemoving(copy);
        if (!FlushToDisk(copy))
            return FailRemoving(copy);
        if (!PutCopyInPlace(path, copy))
            return false;
        ::SetLastError(ERROR_SUCCESS);
        return true;
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

// The snapshot is a private copy of the file, read with the system's functions: it answers as
// the file was when it was taken, whatever happens to the file afterwards. Without a file it
// reads a path that cannot exist (below a temporary file's name), so the defaults come out
// exactly as the system gives them for a missing file.
PrivateProfileSnapshot::PrivateProfileSnapshot(const char* fileName) {
    char dir[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH || ::GetTempFileNameA(dir, "ini", 0, name) == 0) {
        text_ = "<none>\\none.ini";  // a name no file can have
        return;
    }
    text_ = name;
    if (fileName != nullptr && ::CopyFileA(fileName, name, FALSE)) {
        loaded_ = true;
    } else {
        ::DeleteFileA(name);
        text_ += ".missing\\none.ini";
    }
}

PrivateProfileSnapshot::~PrivateProfileSnapshot() {
    if (loaded_)
        ::DeleteFileA(text_.c_str());
}

uint32_t PrivateProfileSnapshot::GetString(const char* section, const char* key,
                                           const char* defaultValue, char* buffer,
                                           uint32_t size) const {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, text_.c_str());
}

uint32_t PrivateProfileSnapshot::GetInt(const char* section, const char* key,
                                        int defaultValue) const {
    return ::GetPrivateProfileIntA(section, key, defaultValue, text_.c_str());
}

}  // namespace plat
