#pragma once
// AdapterMutex: the system-wide mutex "Vexil" that every program using the adapters shares.
// On Windows the name lives in the session's namespace: programs of one session exclude each
// other, those of other sessions do not meet it.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/win32_types.h"

class AdapterLock {
  public:
    virtual ~AdapterLock() = default;
    // True when this program owns it (also when its former owner died without releasing it).
    virtual bool Wait(uint32_t ms) = 0;
    // Gives up one level of ownership; without ownership nothing happens.
    virtual void Release() = 0;
    // After a failed Wait: true when this program may not use the lock at all (another program
    // with more rights, such as one run as administrator, created it), rather than that it
    // was held.
    virtual bool Denied() const { return false; }
    // Why the lock cannot be had whoever holds it (its lock directory was refused); empty
    // when it can.
    virtual std::string Problem() const { return {}; }
};

// A handle of a named mutex, created not owned. When it cannot be created, each Wait tries
// again, so that a lock directory put right, or a program that denied it and ended, counts
// without a restart.
class NamedAdapterMutex : public AdapterLock {
  public:
    explicit NamedAdapterMutex(const char* name = "Vexil");
    ~NamedAdapterMutex() override;
    NamedAdapterMutex(const NamedAdapterMutex&) = delete;
    NamedAdapterMutex& operator=(const NamedAdapterMutex&) = delete;

    bool Wait(uint32_t ms) override;
    void Release() override;
    bool Denied() const override { return denied_; }
    std::string Problem() const override { return problem_; }

  private:
    bool Open();

    std::string name_;
    plat::HANDLE handle_ = nullptr;
    bool denied_ = false;
    std::string problem_;
};

// The process-wide "Vexil" mutex, created on first use.
AdapterLock& ProcessAdapterMutex();
// A lock on the named mutex name (tests use names of their own).
std::unique_ptr<AdapterLock> MakeNamedAdapterLock(const char* name);
