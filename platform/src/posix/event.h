#pragma once
// Events, with a hook for pending overlapped transfers: waiting on the event of a pending
// transfer lets the transfer make progress (poll a socket, ask an in-process device) and lets
// a provider declare the wait expired without sleeping, so time-outs are testable.
#include <condition_variable>
#include <mutex>

#include "platform/kernel_object.h"

namespace plat {

class PendingSource {
  public:
    virtual ~PendingSource() = default;
    // Drives the pending transfer for at most ms milliseconds. Returns true when it completed
    // (the event is then signalled), false when the time ran out.
    virtual bool WaitFor(uint32_t ms) = 0;
};

class Event : public KernelObject {
  public:
    Event(bool manualReset, bool initialState);
    ~Event() override;
    void Set();
    void Reset();
    bool IsSet();
    uint32_t Wait(uint32_t ms) override;
    // The transfer that will signal this event; null when none is pending. Not owned.
    void SetPendingSource(PendingSource* source);
    PendingSource* GetPendingSource();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool manualReset_;
    bool signalled_;
    PendingSource* pending_ = nullptr;
};

}  // namespace plat
