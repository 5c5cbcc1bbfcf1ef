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
// session's environment, and which no other user can create first: quorvel-locks in the
// user's runtime directory /run/user/<uid> when that is there, belongs to the user and is
// private; otherwise .quorvel-locks-<host> in the user's home directory (from the password
// database, so that a home shared by several PCs gives each its own locks). Created private
// when missing. False (ERROR_ACCESS_DENIED) when no directory can be used; why, when given,
// then names each directory refused and the reason. The user's programs may meet there
// through other files too (a raise socket). Named mutexes hold each name in both directories
// whenever both can be used, so that a program that finds no runtime directory (a service
// started without a login session, or after the last logout removed it) still meets the
// others in the home directory.
bool UserLockDirectory(std::string& dir, std::string* why = nullptr);
// Why named mutexes cannot be created, for the user: on POSIX the lock directories refused
// and why; empty when they can be (always on Windows, where the kernel keeps them).
std::string LockDirectoryProblem();
// Tests: the rule above runs on runtimeDir in place of /run/user/<uid> and on homeDir in place
// of the home directory; an empty string restores the real one.
void SetLockDirectoryPlacesForTesting(const std::string& runtimeDir, const std::string& homeDir);

}  // namespace plat
