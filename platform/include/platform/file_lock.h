#pragma once
// An exclusive lock that programs sharing a file take around a read-modify-write of it. A file
// that is replaced by renaming cannot carry the lock itself, so the lock is a companion file
// beside it (path + ".lock"), held open and locked: flock on POSIX, an open that shares nothing
// on Windows. The system drops the lock when its holder dies. The companion file stays.
#include <cstdint>
#include <string>

namespace plat {

class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Locks path's companion, waiting at most timeoutMs while another holder has it; the lock
    // lasts until the object goes. False with the last error set when the wait ran out
    // (ERROR_SHARING_VIOLATION) or the companion cannot be opened (the system's error;
    // ERROR_ACCESS_DENIED when something other than a file stands at its name).
    bool Acquire(const std::string& path, uint32_t timeoutMs);

  private:
    void Release();

    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
};

}  // namespace plat
