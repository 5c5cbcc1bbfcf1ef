#pragma once
// Every handle of the platform layer refers to a KernelObject: devices, pipes, events,
// mutexes, search handles. The handle table lets CloseHandle and the waits reject a stale or
// foreign handle instead of touching freed memory.
#include "platform/win32_types.h"

namespace plat {

class KernelObject {
  public:
    virtual ~KernelObject() = default;
    // Waits up to ms milliseconds for the object to become signalled.
    // Returns WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_ABANDONED or WAIT_FAILED.
    virtual uint32_t Wait(uint32_t ms);
};

// Registers a new object and returns its handle; the table owns the object until CloseHandle.
HANDLE RegisterHandle(KernelObject* object);
// The object behind an open handle, or nullptr (last error ERROR_INVALID_HANDLE) for 0,
// INVALID_HANDLE_VALUE or a handle that is not (or no longer) in the table.
KernelObject* LookupHandle(HANDLE h);
template <class T>
T* LookupHandleAs(HANDLE h) {
    return dynamic_cast<T*>(LookupHandle(h));
}

// Closes any handle of the platform layer and destroys its object.
bool CloseHandle(HANDLE h);
uint32_t WaitForSingleObject(HANDLE h, uint32_t ms);

// Events (manual or automatic reset). Names are not supported; pass nullptr.
HANDLE CreateEventA(void* securityAttributes, bool manualReset, bool initialState,
                    const char* name);
bool SetEvent(HANDLE h);
bool ResetEvent(HANDLE h);

}  // namespace plat
