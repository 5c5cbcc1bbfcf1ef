#pragma once
// The waits of the pipe transfers. Without a hook a transfer waits once for its whole
// time-out. With the program's hook installed it waits in slices and asks the hook after each
// whether to go on, so that the program's messages keep moving while an adapter is slow and a
// confirmed Cancel ends the wait within a slice. Internal to the library: one transfer waits
// at a time (the channel lock), so the hook is library-wide.
#include <cstdint>

#include "platform/win32_types.h"

// Answers non-zero to go on waiting, 0 to give the transfer up.
using TransferWaitHook = int (*)(void* context);

constexpr uint32_t kWaitSliceMs = 100;

// A null hook waits as before: one wait of the whole time-out.
void SetTransferWaitHook(TransferWaitHook hook, void* context);

// How the last wait of this thread that ended without its transfer ended.
enum class TransferWaitEnd { kNone, kTimedOut, kGivenUp };

// WaitForSingleObject on a transfer's event: WAIT_OBJECT_0, WAIT_TIMEOUT (also when the hook
// gave the transfer up) or what the wait failed with.
uint32_t WaitForTransfer(plat::HANDLE event, uint32_t timeoutMs);
// Returns how the last wait ended without its transfer, and forgets it.
TransferWaitEnd TakeTransferWaitEnd();
// True while the hook runs: an exchange asked for from inside it would wait for the lock that
// its own thread holds.
bool InsideTransferWaitHook();
