#pragma once
// Request frames and a target description for the simulator tests. The frames are built
// here byte by byte, independently of the simulator's own code.
#include <cstring>
#include <initializer_list>
#include <vector>

#include "brindlex/target_info.h"

namespace simtest {

// A small 64-bit-identity target: 4 blocks of 4 KiB, 512 reserved bytes at the top.
inline CTargetInfo SmallTarget() {
    CTargetInfo t;
    std::strcpy(t.name, "VX12A345");
    t.targetId00 = 0x12345678;
    t.targetId32 = 0x00020400;  // block size code 2 (4 KiB), 4 blocks
    t.targetId64 = 0x000000A0;
    t.targetId96 = 0x0BADF00D;
    t.targetIdBitNum = 64;
    t.areaCount = 2;
    t.areas[0] = {0x0000, 0x2FFF};
    t.areas[1] = {0x3000, 0x3DFF};
    t.blockSize = 0x1000;
    t.sizeFromBits10 = 512;
    t.sizeFromBits13 = 512;
    t.romWinStart = 0x2000;
    t.romWinEnd = 0x2FFF;
    std::strcpy(t.version, "1.23");
    return t;
}

inline std::vector<uint8_t> Request(uint8_t sequence, std::initializer_list<uint8_t> payload) {
    std::vector<uint8_t> f = {'C', 'H', 'R', 'M', 0x01, sequence, 0, 0, 0, 0, 0x00, 0x01};
    uint32_t n = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i)
        f.push_back(static_cast<uint8_t>(n >> (8 * i)));
    f.insert(f.end(), payload);
    return f;
}

inline std::vector<uint8_t> Request(uint8_t sequence, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f = Request(sequence, {});
    uint32_t n = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i)
        f[12 + i] = static_cast<uint8_t>(n >> (8 * i));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

// Write-flash payload for an address below 0x10000 (K = 0x27) or above (0x2B).
inline std::vector<uint8_t> WritePayload(uint32_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> p = {0x05,
                              0x00,
                              0x30,
                              static_cast<uint8_t>(address < 0x10000 ? 0x27 : 0x2B),
                              static_cast<uint8_t>(address >> 24),
                              static_cast<uint8_t>(address >> 16),
                              static_cast<uint8_t>(address >> 8),
                              static_cast<uint8_t>(address),
                              0x02,
                              static_cast<uint8_t>(data.size() >> 8),
                              static_cast<uint8_t>(data.size())};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

inline std::vector<uint8_t> ReadPayload(uint32_t address, uint16_t length) {
    return {0x05,
            0x10,
            0x30,
            static_cast<uint8_t>(address < 0x10000 ? 0x27 : 0x2B),
            static_cast<uint8_t>(address >> 24),
            static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address),
            static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length),
            0x02};
}

}  // namespace simtest
