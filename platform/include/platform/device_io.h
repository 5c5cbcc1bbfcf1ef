#pragma once
// Device I/O: opening an adapter's device object and its pipe files, overlapped transfers
// with events, waits, cancelling and driver control requests, shaped after the Win32 calls.
//
// Paths are routed to a device provider by their form (see device_provider.h): the
// in-process provider used by tests, the socket provider that reaches vexil-sim, and later
// a USB provider. A pipe is opened as "<device path>\PIPE00" or "<device path>\PIPE01".
#include "platform/kernel_object.h"
#include "platform/win32_types.h"

namespace plat {

constexpr uint32_t GENERIC_READ = 0x80000000u;
constexpr uint32_t GENERIC_WRITE = 0x40000000u;
constexpr uint32_t FILE_SHARE_READ = 0x1;
constexpr uint32_t FILE_SHARE_WRITE = 0x2;
constexpr uint32_t CREATE_NEW = 1;
constexpr uint32_t CREATE_ALWAYS = 2;
constexpr uint32_t OPEN_EXISTING = 3;
constexpr uint32_t OPEN_ALWAYS = 4;
constexpr uint32_t FILE_FLAG_OVERLAPPED = 0x40000000u;

struct OVERLAPPED {
    uintptr_t Internal;
    uintptr_t InternalHigh;
    uint32_t Offset;
    uint32_t OffsetHigh;
    HANDLE hEvent;
};

// Opens a device or one of its pipes. Returns INVALID_HANDLE_VALUE on failure (GetLastError
// tells why, e.g. ERROR_FILE_NOT_FOUND for an unknown path or a device refusing to open).
HANDLE CreateFileA(const char* path, uint32_t access, uint32_t shareMode, void* securityAttributes,
                   uint32_t creationDisposition, uint32_t flags, HANDLE templateFile);

// With an OVERLAPPED record: true when the transfer completed at once (transferred is set);
// false with ERROR_IO_PENDING when it is pending (its event is signalled on completion);
// false with another error when it failed. Without a record the call blocks.
bool ReadFile(HANDLE h, void* buffer, uint32_t length, uint32_t* transferred, OVERLAPPED* ov);
bool WriteFile(HANDLE h, const void* buffer, uint32_t length, uint32_t* transferred,
               OVERLAPPED* ov);
// Result of a pending transfer; with wait = true it waits for completion (without a time
// limit: callers wait on the event with a time-out first).
bool GetOverlappedResult(HANDLE h, OVERLAPPED* ov, uint32_t* transferred, bool wait);
// Cancels every pending transfer issued on the handle.
bool CancelIo(HANDLE h);
// Driver control request by control code.
bool DeviceIoControl(HANDLE h, uint32_t controlCode, void* inBuffer, uint32_t inSize,
                     void* outBuffer, uint32_t outSize, uint32_t* returned, OVERLAPPED* ov);

}  // namespace plat
