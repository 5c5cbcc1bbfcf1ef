#pragma once
// The selected target's flash as the program files, images and checks see it. Computed from
// the identity codes of the target description, the same rule as the library's identity check,
// not from the description's own blockSize.
#include <cstdint>
#include <vector>

#include "brindlex/target_info.h"

namespace programdata {

// value shifted by the low `width` bits of code read as a two's-complement exponent
// (width 2, 3 or 4); 0 for any other width.
uint32_t Calc2BitShift(uint32_t value, uint8_t code, int width);

struct TargetGeometry {
    std::vector<TargetArea> areas;  // the memory areas, in table order (inclusive ends)
    uint32_t lowestAreaStart = 0;   // 0 without areas
    uint32_t flashLimit = 0;        // highest area end; 0 without areas
    uint32_t blockSize = 0;         // 0 only for a refused target
    uint8_t blockCount = 0;         // 0: no test data area
    uint16_t testAreaSize = 0;
    uint16_t bits10Size = 0;
    uint32_t testAreaAnchor = 0;  // 0 when not defined for the target
    // The anchor is defined when block count and bits-10 size are non-zero and the anchor
    // does not fall below 0. Only a defined anchor places the test data area in the packed
    // flash content; an anchor of 0 would otherwise claim an area that starts at 0.
    bool anchorDefined = false;
    uint32_t imageSize = 0;   // bytes of each ProgramImage; 0 for a refused target
    uint32_t packedSize = 0;  // bytes of the packed flash content the library delivers

    // The test data area [start, end]; only meaningful when hasTestArea().
    bool hasTestArea() const { return blockCount != 0 && testAreaSize != 0; }
    uint32_t testAreaStart() const;
    uint32_t testAreaEnd() const;
    // Highest address of the occupancy map: the larger of the flash limit and the top of the
    // block count's blocks.
    uint32_t occupancyLimit() const;
    // Index of the area that holds the defined anchor (the test data area follows it in the
    // packed content), or -1.
    int anchorArea() const;
    // Whether the test data area's bytes follow this area's bytes in the packed content.
    bool holdsAnchor(const TargetArea& area) const {
        return anchorDefined && area.start <= testAreaAnchor && testAreaAnchor <= area.end;
    }

    bool IsFlashAddress(uint32_t address) const;
    bool IsTestAreaAddress(uint32_t address) const;
    // Range forms of the two for whole records: lo <= hi.
    bool IsFlashRange(uint32_t lo, uint32_t hi) const;
    bool TouchesTestArea(uint32_t lo, uint32_t hi) const;

    // Where the bytes lo..hi lie: split into pieces, each in one memory area, in the test data
    // area, in a gap (no area, at or below the flash limit) or beyond the flash, in address
    // order.
    enum class Placement { Area, TestArea, Gap, Beyond };
    struct PlacedRange {
        Placement where;
        int area;  // index into areas for Area, else -1
        uint32_t first;
        uint32_t last;
    };
    std::vector<PlacedRange> Place(uint32_t lo, uint32_t hi) const;
};

// One erase block of a Write: erased when pieces is not empty, and then the pieces (the parts
// of memory areas in it, in area order) programmed.
struct WriteBlock {
    uint32_t first = 0;
    uint32_t last = 0;
    std::vector<TargetArea> pieces;
};

// The blocks a Write goes through for this target, from block 0 to the one holding the flash
// limit: the target's own block size, and nothing programmed from beyond the image.
std::vector<WriteBlock> PlanWriteBlocks(const CTargetInfo& target, const TargetGeometry& geometry,
                                        uint32_t imageSize);

enum class GeometryVerdict {
    Supported,
    BlockSizeTooLarge,  // above 65536: reported, but the geometry is still used
    Refused,            // block size 0 or an image too large to hold: empty geometry
};

// Images above this size are refused: no description read from a TRG file comes near it.
constexpr uint64_t kMaxImageSize = 0x40000000;

GeometryVerdict ComputeTargetGeometry(const CTargetInfo& entry, TargetGeometry& geometry);

}  // namespace programdata
