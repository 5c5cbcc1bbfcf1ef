// Handles, waits and events on Windows: the kernel's own objects.
#include "platform/kernel_object.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

uint32_t GetLastError() {
    return ::GetLastError();
}

void SetLastError(uint32_t code) {
    ::SetLastError(code);
}

bool CloseHandle(HANDLE h) {
    // INVALID_HANDLE_VALUE is the process's own pseudo-handle to the kernel, which "closes"
    // successfully; for the layer's callers it is a failed open and must not look closed.
    if (!IsOpenHandle(h)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::CloseHandle(h) != FALSE;
}

uint32_t WaitForSingleObject(HANDLE h, uint32_t ms) {
    return ::WaitForSingleObject(h, ms);
}

HANDLE CreateEventA(void* securityAttributes, bool manualReset, bool initialState,
                    const char* name) {
    // Named events would be shared with other programs; the layer promises private ones.
    if (name != nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), manualReset,
                          initialState, nullptr);
}

bool SetEvent(HANDLE h) {
    return ::SetEvent(h) != FALSE;
}

bool ResetEvent(HANDLE h) {
    return ::ResetEvent(h) != FALSE;
}

}  // namespace plat
