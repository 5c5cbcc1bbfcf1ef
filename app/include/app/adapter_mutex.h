#pragma once
// AdapterMutex: the system-wide mutex "Vexil" that every program using the adapters shares.
#include <cstdint>

class AdapterLock {
  public:
    virtual ~AdapterLock() = default;
    // Waits up to ms milliseconds; true when the lock is now held (it stays held).
    virtual bool Wait(uint32_t ms) = 0;
    // Gives up one level of ownership; without ownership nothing happens.
    virtual void Release() = 0;
};

// The process-wide "Vexil" mutex, created not owned on first use.
AdapterLock& ProcessAdapterMutex();
