// Handles, waits and events on Windows: the kernel's own objects.
#include <atomic>
#include <mutex>

#include "platform/kernel_object.h"
#include "platform/wait_testing.h"
#include "platform/win32_types.h"
#include "wait_limit.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

std::atomic<uint32_t> waitLimit{INFINITE};

struct Expiries {
    std::mutex mutex;
    WaitExpiries taken;
};

Expiries& WaitExpiryLog() {
    static Expiries* log = new Expiries;  // lives past static destruction
    return *log;
}

}  // namespace

void SetWaitLimitForTesting(uint32_t limitMs) {
    waitLimit = limitMs;
}

WaitExpiries TakeWaitExpiriesForTesting() {
    auto& log = WaitExpiryLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    WaitExpiries taken = log.taken;
    log.taken = {};
    return taken;
}

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

LimitedWait LimitWait(uint32_t askedMs) {
    const uint32_t limit = waitLimit.load(std::memory_order_relaxed);
    if (limit == INFINITE || askedMs <= limit)
        return {askedMs, false};
    return {limit, true};
}

void NoteExpiredWait(uint32_t askedMs) {
    auto& log = WaitExpiryLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    ++log.taken.count;
    if (askedMs > log.taken.longestAskedMs)
        log.taken.longestAskedMs = askedMs;
}

uint32_t WaitForSingleObject(HANDLE h, uint32_t ms) {
    const LimitedWait wait = LimitWait(ms);
    const DWORD result = ::WaitForSingleObject(h, wait.ms);
    if (wait.cut && result == WAIT_TIMEOUT)
        NoteExpiredWait(ms);
    return result;
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
