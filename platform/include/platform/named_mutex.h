#pragma once
// System-wide named mutexes. The owner may take a mutex again (it counts); it is free once
// released as often as taken. On POSIX lock files with flock in a per-user runtime directory,
// released if the process dies. Ownership belongs to a thread: a thread that ends releases
// what it owns, and so does closing a process's last handle of the name (no WAIT_ABANDONED).
// Waiting uses WaitForSingleObject (kernel_object.h); CloseHandle releases the handle.
// A null or empty name gives a mutex private to the process.
#include "platform/kernel_object.h"

namespace plat {

// After a successful call GetLastError() is ERROR_ALREADY_EXISTS when a mutex of that name
// existed already (in any process), else ERROR_SUCCESS. Returns nullptr on failure.
HANDLE CreateMutexA(void* securityAttributes, bool initialOwner, const char* name);
// Releases one level of ownership; false (ERROR_NOT_OWNER) when the caller does not hold it.
bool ReleaseMutex(HANDLE h);

}  // namespace plat
