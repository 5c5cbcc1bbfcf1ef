#include "transfer_wait.h"

#include <algorithm>
#include <chrono>

#include "platform/kernel_object.h"

namespace {

struct Hook {
    TransferWaitHook call = nullptr;
    void* context = nullptr;
    // The hook's last answer was to give up: a later wait that is not over at once asks again
    // at once, so that a Cancel does not cost a slice for every adapter still to collect.
    bool stopped = false;
};

Hook hook;
thread_local TransferWaitEnd lastEnd = TransferWaitEnd::kNone;
thread_local bool insideHook = false;

uint32_t Ended(TransferWaitEnd end) {
    lastEnd = end;
    return plat::WAIT_TIMEOUT;
}

}  // namespace

void SetTransferWaitHook(TransferWaitHook call, void* context) {
    hook = Hook{call, context, false};
}

uint32_t WaitForTransfer(plat::HANDLE event, uint32_t timeoutMs) {
    if (hook.call == nullptr || insideHook || timeoutMs == plat::INFINITE) {
        const uint32_t result = plat::WaitForSingleObject(event, timeoutMs);
        return result == plat::WAIT_TIMEOUT ? Ended(TransferWaitEnd::kTimedOut) : result;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Counted as well as clocked: a wait that returns early (a test's cut-short wait) still
    // adds up to the whole time-out.
    uint32_t left = timeoutMs;
    uint32_t slice = hook.stopped ? 0 : kWaitSliceMs;
    for (;;) {
        const uint32_t step = std::min(slice, left);
        const uint32_t result = plat::WaitForSingleObject(event, step);
        if (result != plat::WAIT_TIMEOUT)
            return result;
        left -= step;
        if (left == 0 || Clock::now() >= deadline)
            return Ended(TransferWaitEnd::kTimedOut);
        if (hook.call == nullptr)  // the hook removed itself
            slice = left;
        else {
            insideHook = true;
            const bool goOn = hook.call(hook.context) != 0;
            insideHook = false;
            hook.stopped = !goOn;
            if (!goOn)
                return Ended(TransferWaitEnd::kGivenUp);
            slice = kWaitSliceMs;
        }
    }
}

TransferWaitEnd TakeTransferWaitEnd() {
    const TransferWaitEnd end = lastEnd;
    lastEnd = TransferWaitEnd::kNone;
    return end;
}

bool InsideTransferWaitHook() {
    return insideHook;
}
