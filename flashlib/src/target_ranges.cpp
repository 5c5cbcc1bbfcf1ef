#include "target_ranges.h"

#include <algorithm>

namespace trg {

bool RangeList::Add(uint32_t start, uint32_t end) {
    if (count == kMaxRanges)
        return false;
    items[count++] = TargetArea{start, end};
    return true;
}

namespace {

// Sorts the valid ranges of list into out and joins overlapping and adjacent ones; returns how
// many disjoint, non-touching ranges remain.
uint32_t SortAndJoin(const RangeList& list, TargetArea* out) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < list.Size(); ++i)
        if (list[i].start <= list[i].end)
            out[n++] = list[i];
    std::sort(out, out + n,
              [](const TargetArea& a, const TargetArea& b) { return a.start < b.start; });
    uint32_t joined = 0;
    for (uint32_t i = 0; i < n; ++i) {
        // 64-bit so that a range ending at 0xFFFFFFFF does not wrap when tested for adjacency.
        if (joined > 0 && uint64_t{out[i].start} <= uint64_t{out[joined - 1].end} + 1) {
            out[joined - 1].end = std::max(out[joined - 1].end, out[i].end);
        } else {
            out[joined++] = out[i];
        }
    }
    return joined;
}

}  // namespace

uint32_t MergeRanges(const RangeList& writable, const RangeList& readOnly, TargetArea* areas,
                     uint32_t capacity) {
    TargetArea flash[kMaxRanges];
    TargetArea cuts[kMaxRanges];
    const uint32_t flashCount = SortAndJoin(writable, flash);
    const uint32_t cutCount = SortAndJoin(readOnly, cuts);

    uint32_t pieces = 0;
    auto emit = [&](uint64_t start, uint64_t end) {
        if (pieces < capacity)
            areas[pieces] = TargetArea{static_cast<uint32_t>(start), static_cast<uint32_t>(end)};
        ++pieces;
    };
    uint32_t firstCut = 0;
    for (uint32_t i = 0; i < flashCount; ++i) {
        // Both lists are sorted and disjoint: cuts ending before this range end before all later
        // ones too. A cut may reach into the next range, so it is not skipped past here.
        while (firstCut < cutCount && cuts[firstCut].end < flash[i].start)
            ++firstCut;
        uint64_t next = flash[i].start;
        const uint64_t end = flash[i].end;
        for (uint32_t c = firstCut; c < cutCount && cuts[c].start <= end && next <= end; ++c) {
            if (cuts[c].start > next)
                emit(next, cuts[c].start - 1);
            next = std::max<uint64_t>(next, uint64_t{cuts[c].end} + 1);
        }
        if (next <= end)
            emit(next, end);
    }
    return pieces;
}

}  // namespace trg
