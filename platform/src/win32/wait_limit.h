#pragma once
// The seam of wait_testing.h for waits that do not go through WaitForSingleObject, so that
// every time-out of the layer is cut short and recorded the same way.
#include <cstdint>

namespace plat {

struct LimitedWait {
    uint32_t ms;  // what the wait may last now
    bool cut;     // shorter than asked: an expiry counts as one of the time asked for
};
LimitedWait LimitWait(uint32_t askedMs);
void NoteExpiredWait(uint32_t askedMs);

}  // namespace plat
