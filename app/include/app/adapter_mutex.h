#pragma once
// AdapterMutex: the system-wide mutex "Vexil" that every program using the adapters shares.
// On Windows the name lives in the session's namespace: programs of one session exclude each
// other, those of other sessions do not meet it.
#include <cstdint>
#include <memory>

class AdapterLock {
  public:
    virtual ~AdapterLock() = default;
    // Waits up to ms milliseconds; true when the lock is now held (it stays held).
    virtual bool Wait(uint32_t ms) = 0;
    // Gives up one level of ownership; without ownership nothing happens.
    virtual void Release() = 0;
    // After a failed Wait: true when this program may not use the lock at all (another program
    // with more rights, such as one run as administrator, created it), rather than that it
    // was held.
    virtual bool Denied() const { return false; }
};

// The process-wide "Vexil" mutex, created not owned on first use.
AdapterLock& ProcessAdapterMutex();
// A lock on the named mutex name (tests use names of their own).
std::unique_ptr<AdapterLock> MakeNamedAdapterLock(const char* name);
