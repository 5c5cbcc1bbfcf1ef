#pragma once
// AdapterMutex: the system-wide mutex "Vexil" that every program using the adapters shares.
#include <cstdint>
#include <string>

#include "platform/win32_types.h"

class AdapterLock {
  public:
    virtual ~AdapterLock() = default;
    // Waits up to ms milliseconds; true when the lock is now held (it stays held).
    virtual bool Wait(uint32_t ms) = 0;
    // Gives up one level of ownership; without ownership nothing happens.
    virtual void Release() = 0;
    // Why the lock cannot be had whoever holds it (its lock directory was refused); empty
    // when it can.
    virtual std::string Problem() const { return {}; }
};

// A handle of the named mutex "Vexil", created not owned. When it cannot be created, each
// Wait tries again, so that a lock directory put right counts without a restart.
class NamedAdapterMutex : public AdapterLock {
  public:
    NamedAdapterMutex();
    ~NamedAdapterMutex() override;
    NamedAdapterMutex(const NamedAdapterMutex&) = delete;
    NamedAdapterMutex& operator=(const NamedAdapterMutex&) = delete;

    bool Wait(uint32_t ms) override;
    void Release() override;
    std::string Problem() const override { return problem_; }

  private:
    bool Open();

    plat::HANDLE handle_ = nullptr;
    std::string problem_;
};

// The process-wide "Vexil" mutex, created on first use.
AdapterLock& ProcessAdapterMutex();
