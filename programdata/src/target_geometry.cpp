#include "programdata/target_geometry.h"

#include <algorithm>

namespace programdata {

uint32_t Calc2BitShift(uint32_t value, uint8_t code, int width) {
    if (width < 2 || width > 4)
        return 0;
    int bits = code & ((1 << width) - 1);
    int exponent = bits >= (1 << (width - 1)) ? bits - (1 << width) : bits;
    return exponent >= 0 ? value << exponent : value >> -exponent;
}

uint32_t TargetGeometry::testAreaStart() const {
    uint32_t top = uint32_t(blockCount) * blockSize;
    return top >= testAreaSize ? top - testAreaSize : 0;
}

uint32_t TargetGeometry::testAreaEnd() const {
    return uint32_t(blockCount) * blockSize - 1;
}

uint32_t TargetGeometry::occupancyLimit() const {
    uint32_t top = blockCount != 0 ? uint32_t(blockCount) * blockSize - 1 : 0;
    return std::max(flashLimit, top);
}

int TargetGeometry::anchorArea() const {
    if (!anchorDefined)
        return -1;
    for (size_t i = 0; i < areas.size(); ++i)
        if (holdsAnchor(areas[i]))
            return int(i);
    return -1;
}

bool TargetGeometry::IsTestAreaAddress(uint32_t address) const {
    return hasTestArea() && address >= testAreaStart() && address <= testAreaEnd();
}

bool TargetGeometry::IsFlashAddress(uint32_t address) const {
    for (const TargetArea& a : areas)
        if (a.start <= address && address <= a.end)
            return true;
    return IsTestAreaAddress(address);
}

bool TargetGeometry::IsFlashRange(uint32_t lo, uint32_t hi) const {
    uint64_t cur = lo;
    while (cur <= hi) {
        uint64_t next = cur;
        for (const TargetArea& a : areas) {
            if (a.start <= cur && cur <= a.end) {
                next = uint64_t(a.end) + 1;
                break;
            }
        }
        if (next == cur && IsTestAreaAddress(uint32_t(cur)))
            next = uint64_t(testAreaEnd()) + 1;
        if (next == cur)
            return false;
        cur = next;
    }
    return true;
}

bool TargetGeometry::TouchesTestArea(uint32_t lo, uint32_t hi) const {
    return hasTestArea() && lo <= testAreaEnd() && hi >= testAreaStart();
}

std::vector<TargetGeometry::PlacedRange> TargetGeometry::Place(uint32_t lo, uint32_t hi) const {
    std::vector<PlacedRange> pieces;
    auto add = [&pieces](Placement where, int area, uint64_t first, uint64_t last) {
        PlacedRange& back = pieces.emplace_back();
        back = {where, area, uint32_t(first), uint32_t(last)};
    };
    uint64_t cur = lo;
    while (cur <= hi) {
        // The area that holds cur, or else the nearest one above it.
        int holding = -1;
        uint64_t next = uint64_t(hi) + 1;
        for (size_t i = 0; i < areas.size(); ++i) {
            const TargetArea& a = areas[i];
            if (a.start <= cur && cur <= a.end)
                holding = int(i);
            else if (a.start > cur)
                next = std::min<uint64_t>(next, a.start);
        }
        if (holding >= 0) {
            const uint64_t last = std::min<uint64_t>(hi, areas[size_t(holding)].end);
            add(Placement::Area, holding, cur, last);
            cur = last + 1;
            continue;
        }
        if (hasTestArea()) {
            if (IsTestAreaAddress(uint32_t(cur))) {
                const uint64_t last = std::min<uint64_t>(hi, testAreaEnd());
                add(Placement::TestArea, -1, cur, last);
                cur = last + 1;
                continue;
            }
            if (testAreaStart() > cur)
                next = std::min<uint64_t>(next, testAreaStart());
        }
        // Up to the next area or test area, split at the flash limit.
        uint64_t last = next - 1;
        const bool gap = !areas.empty() && cur <= flashLimit;
        if (gap)
            last = std::min<uint64_t>(last, flashLimit);
        add(gap ? Placement::Gap : Placement::Beyond, -1, cur, last);
        cur = last + 1;
    }
    return pieces;
}

std::vector<WriteBlock> PlanWriteBlocks(const CTargetInfo& target, const TargetGeometry& geometry,
                                        uint32_t imageSize) {
    std::vector<WriteBlock> blocks;
    if (target.blockSize <= 0)
        return blocks;
    const uint32_t blockSize = uint32_t(target.blockSize);
    const uint32_t count = geometry.flashLimit / blockSize + 1;
    const uint32_t areaCount = std::min<uint32_t>(target.areaCount, 256);
    blocks.resize(count);
    for (uint32_t b = 0; b < count; ++b) {
        WriteBlock& block = blocks[b];
        const uint64_t first = uint64_t(b) * blockSize;
        const uint64_t last = first + blockSize - 1;
        block.first = uint32_t(first);
        block.last = uint32_t(std::min<uint64_t>(last, 0xFFFFFFFF));
        for (uint32_t a = 0; a < areaCount; ++a) {
            const TargetArea& area = target.areas[a];
            if (area.end < first || area.start > last)
                continue;
            const uint32_t pieceFirst = uint32_t(std::max<uint64_t>(first, area.start));
            const uint32_t pieceLast = uint32_t(std::min<uint64_t>(last, area.end));
            // The image holds the areas only: nothing is programmed from beyond it.
            if (pieceLast >= imageSize)
                continue;
            block.pieces.push_back({pieceFirst, pieceLast});
        }
    }
    return blocks;
}

GeometryVerdict ComputeTargetGeometry(const CTargetInfo& entry, TargetGeometry& geometry) {
    TargetGeometry g;
    const uint32_t codeG = (entry.targetId32 >> 16) & 0xF;
    if ((entry.targetId00 & (1u << 30)) == 0) {
        g.blockSize = codeG * 2048;
        g.blockCount = uint8_t((entry.targetId32 >> 8) & 0x0F);
        g.testAreaSize = 512;
        g.bits10Size = 512;
    } else {
        g.blockSize = Calc2BitShift(2048, uint8_t(codeG), 4);
        g.blockCount = uint8_t((entry.targetId64 & 0xF0) | ((entry.targetId32 >> 8) & 0x0F));
        // Code 3 of the 3-bit size fields means "no such area".
        uint8_t c10 = uint8_t((entry.targetId64 >> 10) & 7);
        uint8_t c13 = uint8_t((entry.targetId64 >> 13) & 7);
        g.bits10Size = uint16_t(c10 == 3 ? 0 : Calc2BitShift(512, c10, 3));
        g.testAreaSize = uint16_t(c13 == 3 ? 0 : Calc2BitShift(512, c13, 3));
    }
    GeometryVerdict verdict =
        g.blockSize > 0x10000 ? GeometryVerdict::BlockSizeTooLarge : GeometryVerdict::Supported;

    const uint32_t count = std::min<uint32_t>(entry.areaCount, 256);
    g.areas.assign(entry.areas, entry.areas + count);
    if (count != 0) {
        g.lowestAreaStart = 0xFFFFFFFF;
        for (const TargetArea& a : g.areas) {
            g.lowestAreaStart = std::min(g.lowestAreaStart, a.start);
            g.flashLimit = std::max(g.flashLimit, a.end);
        }
    }

    if (g.blockCount != 0 && g.bits10Size != 0) {
        uint64_t top = uint64_t(g.blockCount) * g.blockSize;
        if (top >= uint64_t(g.testAreaSize) + 16) {
            g.testAreaAnchor = uint32_t(top - g.testAreaSize - 16);
            g.anchorDefined = true;
        }
    }

    // A block size of 0 would divide by zero everywhere the image is laid out in blocks.
    uint64_t imageSize = 0;
    uint64_t packedSize = 0;
    if (g.blockSize != 0) {
        imageSize = (uint64_t(g.flashLimit) / g.blockSize + 1) * g.blockSize;
        for (const TargetArea& a : g.areas)
            if (a.start <= a.end)
                packedSize += uint64_t(a.end) - a.start + 1;
        if (g.anchorArea() >= 0)
            packedSize += g.testAreaSize;
    }
    if (g.blockSize == 0 || imageSize > kMaxImageSize || packedSize > kMaxImageSize) {
        geometry = TargetGeometry{};
        return GeometryVerdict::Refused;
    }
    g.imageSize = uint32_t(imageSize);
    g.packedSize = uint32_t(packedSize);
    geometry = std::move(g);
    return verdict;
}

}  // namespace programdata
