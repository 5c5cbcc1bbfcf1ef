// Named mutexes on Windows: the kernel's. Unlike the POSIX lock files, an owner thread that
// ends without releasing leaves the mutex abandoned: the next wait gets WAIT_ABANDONED and
// owns it.
#include "platform/named_mutex.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

HANDLE CreateMutexA(void* securityAttributes, bool initialOwner, const char* name) {
    // The layer promises ERROR_SUCCESS for a new name, which the system leaves unspecified.
    ::SetLastError(ERROR_SUCCESS);
    return ::CreateMutexA(static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                          initialOwner ? TRUE : FALSE,
                          name != nullptr && *name != '\0' ? name : nullptr);
}

bool ReleaseMutex(HANDLE h) {
    return ::ReleaseMutex(h) != FALSE;
}

std::string LockDirectoryProblem() {
    return {};  // the kernel's namespace: no directory to refuse
}

}  // namespace plat
