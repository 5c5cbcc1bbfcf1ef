#pragma once
// The flash most multi-target tests and the multi-target fuzz target run against.
#include <cstring>

#include "brindlex/target_info.h"

namespace mtrig {

// Four blocks of 4 KiB (bits 16-19 of targetId32 = 2, bits 8-11 = 4), 512 reserved bytes at
// the top; the address told to the adapter is 4 x 4096 - 512 - 16 = 0x3DF0.
inline CTargetInfo Description() {
    CTargetInfo t;
    std::strcpy(t.name, "QX16A064");
    t.targetId00 = 0x12345678;
    t.targetId32 = 0x00020400;
    t.targetIdBitNum = 64;
    t.areaCount = 2;
    t.areas[0] = {0x0000, 0x2FFF};
    t.areas[1] = {0x3000, 0x3DFF};
    t.blockSize = 0x1000;
    t.sizeFromBits10 = 512;
    t.sizeFromBits13 = 512;
    t.romWinStart = 0x2000;
    t.romWinEnd = 0x2FFF;
    std::strcpy(t.version, "1.10");
    return t;
}

}  // namespace mtrig
