#pragma once
// System-wide named mutexes. The owner may take a mutex again (it counts); it is free once
// released as often as taken. On POSIX lock files with flock in the user's lock directory,
// released if the process dies. Ownership belongs to a thread: a thread that ends releases
// what it owns, and so does closing a process's last handle of the name (no WAIT_ABANDONED).
// Waiting uses WaitForSingleObject (kernel_object.h); CloseHandle releases the handle.
// A null or empty name gives a mutex private to the process.
#include <string>

#include "platform/kernel_object.h"

namespace plat {

// After a successful call GetLastError() is ERROR_ALREADY_EXISTS when a mutex of that name
// existed already (in any process), else ERROR_SUCCESS. Returns nullptr on failure.
HANDLE CreateMutexA(void* securityAttributes, bool initialOwner, const char* name);
// Releases one level of ownership; false (ERROR_NOT_OWNER) when the caller does not hold it.
bool ReleaseMutex(HANDLE h);

// The directory of the lock files, which every program of the user shares whatever its
// session's environment: /tmp/quorvel-locks-<uid>, created private when missing. False
// (ERROR_ACCESS_DENIED) when it is not private to the user. The user's programs may meet
// there through other files too (a raise socket).
bool UserLockDirectory(std::string& dir);
// Tests: a non-empty dir stands in for the lock directory.
void SetLockDirectoryForTesting(const std::string& dir);

}  // namespace plat
