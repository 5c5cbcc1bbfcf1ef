#pragma once
// Windows build: a test seam of WaitForSingleObject, so that transfer time-outs over real
// overlapped I/O are tested without sleeping through them. With a limit set, a wait asked for
// longer lasts at most limitMs and, when it ends without the object, counts as an expiry of
// the time-out its caller asked for. The POSIX build has the same for its socket devices
// (socket_device.h).
#include <cstdint>

#include "platform/win32_types.h"

namespace plat {

struct WaitExpiries {
    uint32_t count = 0;
    uint32_t longestAskedMs = 0;
};

// INFINITE (the default) removes the limit.
void SetWaitLimitForTesting(uint32_t limitMs);
WaitExpiries TakeWaitExpiriesForTesting();

// A driver that is slow to cancel: while cancelAsked is set, CancelIo only signals it and
// leaves the transfers running, so that each ends when its data comes (or its handle closes).
// nullptr (the default) cancels again.
void SetSlowCancelForTesting(HANDLE cancelAsked);

}  // namespace plat
