#pragma once
// Flash ranges of one TRG file and their merge into the record's area list.
#include <cstdint>

#include "brindlex/target_info.h"

namespace trg {

// The record holds 256 pairs; a file with more ranges than that is refused by the reader.
constexpr uint32_t kMaxRanges = 256;

// Fixed capacity, so reading a file never allocates in proportion to its ranges or addresses.
class RangeList {
  public:
    // False when the list is full; the range is then not stored.
    bool Add(uint32_t start, uint32_t end);
    uint32_t Size() const { return count; }
    const TargetArea& operator[](uint32_t i) const { return items[i]; }

  private:
    TargetArea items[kMaxRanges];
    uint32_t count = 0;
};

// Joins overlapping and adjacent writable ranges, cuts the read-only ranges out of them and
// writes the pieces in ascending order into areas (room for capacity pairs). Ranges whose start
// lies above their end take no part. Returns the number of pieces, which may exceed capacity;
// only the first capacity pieces are written.
uint32_t MergeRanges(const RangeList& writable, const RangeList& readOnly, TargetArea* areas,
                     uint32_t capacity);

}  // namespace trg
