#include <chrono>
#include <string>
#include <thread>

#include "platform/file_lock.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

FileLock::~FileLock() {
    Release();
}

bool FileLock::Acquire(const std::string& path, uint32_t timeoutMs) {
    Release();
    const std::string companion = path + ".lock";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // No sharing: a second open fails while the first holder has it (a file being deleted
        // answers access denied for a moment).
        HANDLE h = ::CreateFileA(companion.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<intptr_t>(h);
            return true;
        }
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesA(companion.c_str());
        const bool directory =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || directory) {
            ::SetLastError(error);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // Held, or still being deleted by its last holder: either way a time-out.
            ::SetLastError(ERROR_SHARING_VIOLATION);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void FileLock::Release() {
    if (handle_ != kNone)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kNone;
}

}  // namespace plat
