// Device I/O on Windows: the adapter driver's device and pipe files through the kernel's own
// overlapped I/O. A simulated adapter's named pipes open only when a server of this user, of
// no lower integrity, made them (pipe_security.h).
#include <atomic>
#include <cstddef>

#include "pipe_devices.h"
#include "platform/device_io.h"
#include "platform/pipe_security.h"
#include "platform/wait_testing.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

std::atomic<HANDLE> slowCancelAsked{nullptr};

// The kernel writes a pending transfer's result into the caller's record, so the layer's
// OVERLAPPED must be the system's, field for field.
static_assert(sizeof(OVERLAPPED) == sizeof(::OVERLAPPED));
static_assert(offsetof(OVERLAPPED, Internal) == offsetof(::OVERLAPPED, Internal));
static_assert(offsetof(OVERLAPPED, InternalHigh) == offsetof(::OVERLAPPED, InternalHigh));
static_assert(offsetof(OVERLAPPED, Offset) == offsetof(::OVERLAPPED, Offset));
static_assert(offsetof(OVERLAPPED, OffsetHigh) == offsetof(::OVERLAPPED, OffsetHigh));
static_assert(offsetof(OVERLAPPED, hEvent) == offsetof(::OVERLAPPED, hEvent));

::OVERLAPPED* Native(OVERLAPPED* ov) {
    return reinterpret_cast<::OVERLAPPED*>(ov);
}

// DWORD is unsigned long here, not uint32_t: counts go through a local and are copied out.
class Count {
  public:
    explicit Count(uint32_t* out) : out_(out) {}
    ~Count() {
        if (out_ != nullptr)
            *out_ = static_cast<uint32_t>(value_);
    }
    DWORD* get() { return out_ != nullptr ? &value_ : nullptr; }

  private:
    uint32_t* out_;
    DWORD value_ = 0;
};

}  // namespace

HANDLE CreateFileA(const char* path, uint32_t access, uint32_t shareMode, void* securityAttributes,
                   uint32_t creationDisposition, uint32_t flags, HANDLE templateFile) {
    const bool pipe = IsLocalPipePath(path);
    if (pipe) {
        flags |= SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
        access |= READ_CONTROL;  // to read who made the pipe
    }
    HANDLE h = ::CreateFileA(path, access, shareMode,
                             static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                             creationDisposition, flags, templateFile);
    if (pipe && h != INVALID_HANDLE_VALUE && !PipeServerTrusted(h)) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool ReadFile(HANDLE h, void* buffer, uint32_t length, uint32_t* transferred, OVERLAPPED* ov) {
    Count n(transferred);
    return ::ReadFile(h, buffer, length, n.get(), Native(ov)) != FALSE;
}

bool WriteFile(HANDLE h, const void* buffer, uint32_t length, uint32_t* transferred,
               OVERLAPPED* ov) {
    Count n(transferred);
    return ::WriteFile(h, buffer, length, n.get(), Native(ov)) != FALSE;
}

bool GetOverlappedResult(HANDLE h, OVERLAPPED* ov, uint32_t* transferred, bool wait) {
    if (ov == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD n = 0;
    const BOOL ok = ::GetOverlappedResult(h, Native(ov), &n, wait ? TRUE : FALSE);
    if (transferred != nullptr)
        *transferred = static_cast<uint32_t>(n);
    return ok != FALSE;
}

void SetSlowCancelForTesting(HANDLE cancelAsked) {
    slowCancelAsked = cancelAsked;
}

bool CancelIo(HANDLE h) {
    if (HANDLE asked = slowCancelAsked.load())
        return ::SetEvent(asked) != FALSE;
    return ::CancelIo(h) != FALSE;
}

bool DeviceIoControl(HANDLE h, uint32_t controlCode, void* inBuffer, uint32_t inSize,
                     void* outBuffer, uint32_t outSize, uint32_t* returned, OVERLAPPED* ov) {
    Count n(returned);
    return ::DeviceIoControl(h, controlCode, inBuffer, inSize, outBuffer, outSize, n.get(),
                             Native(ov)) != FALSE;
}

}  // namespace plat
