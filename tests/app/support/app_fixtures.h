#pragma once
// Small fixtures of the controller tests and the Qt window tests.
#include <cstring>

#include "app/adapter_mutex.h"
#include "brindlex/target_info.h"

// Free unless a test lets another program hold it; counts the levels this process holds.
class FreeLock : public AdapterLock {
  public:
    bool Wait(uint32_t) override {
        if (heldElsewhere)
            return false;
        ++held;
        return true;
    }
    void Release() override {
        if (held > 0)
            --held;
    }
    bool heldElsewhere = false;
    int held = 0;
};

// The flash the simulated adapters of the window tests carry: one area of four 4 KiB blocks.
inline CTargetInfo SimulatedTarget() {
    CTargetInfo t;
    std::strcpy(t.name, "QX16A064");
    t.targetId00 = 0x12345678;
    t.targetId32 = 0x00020400;
    t.targetIdBitNum = 64;
    t.areaCount = 1;
    t.areas[0] = {0x0000, 0x3DFF};
    t.blockSize = 0x1000;
    std::strcpy(t.version, "1.10");
    return t;
}
