#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "target_ranges.h"

namespace {

std::vector<TargetArea> Merge(const trg::RangeList& writable, const trg::RangeList& readOnly) {
    TargetArea areas[trg::kMaxRanges];
    const uint32_t n = trg::MergeRanges(writable, readOnly, areas, trg::kMaxRanges);
    return std::vector<TargetArea>(areas, areas + std::min(n, trg::kMaxRanges));
}

// The one-byte-per-address map the merge must agree with.
std::vector<TargetArea> ByteMap(const trg::RangeList& writable, const trg::RangeList& readOnly) {
    uint32_t top = 0;
    for (uint32_t i = 0; i < writable.Size(); ++i)
        top = std::max(top, writable[i].end);
    std::vector<uint8_t> map(top + 1, 0);
    for (uint32_t i = 0; i < writable.Size(); ++i)
        for (uint32_t a = writable[i].start; a <= writable[i].end; ++a)
            map[a] = 1;
    for (uint32_t i = 0; i < readOnly.Size(); ++i)
        for (uint32_t a = readOnly[i].start; a <= readOnly[i].end && a <= top; ++a)
            map[a] = 0;
    std::vector<TargetArea> runs;
    for (uint32_t a = 0; a <= top; ++a) {
        if (!map[a])
            continue;
        if (!runs.empty() && runs.back().end + 1 == a) {
            runs.back().end = a;
        } else {
            runs.push_back({a, a});
        }
    }
    return runs;
}

void ExpectSame(const std::vector<TargetArea>& got, const std::vector<TargetArea>& want,
                int round) {
    ASSERT_EQ(got.size(), want.size()) << "round " << round;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].start, want[i].start) << "round " << round << " piece " << i;
        EXPECT_EQ(got[i].end, want[i].end) << "round " << round << " piece " << i;
    }
}

TEST(TrgRanges, MergeAgreesWithTheByteMapOnRandomCases) {
    std::mt19937 random(20240601);
    for (int round = 0; round < 5000; ++round) {
        // Small addresses make overlaps, touching ends, reversed and clipped ranges common.
        std::uniform_int_distribution<uint32_t> address(0, round % 2 ? 40 : 200);
        std::uniform_int_distribution<int> count(0, 8);
        trg::RangeList writable, readOnly;
        for (int i = count(random); i > 0; --i)
            writable.Add(address(random), address(random));
        for (int i = count(random) / 2; i > 0; --i)
            readOnly.Add(address(random), address(random));
        ExpectSame(Merge(writable, readOnly), ByteMap(writable, readOnly), round);
        if (HasFatalFailure())
            return;
    }
}

TEST(TrgRanges, TopOfTheAddressSpaceAndFullOutput) {
    trg::RangeList writable, readOnly;
    writable.Add(0xFFFFFF00u, 0xFFFFFFFFu);
    writable.Add(0xFFFFFE00u, 0xFFFFFEFFu);
    readOnly.Add(0xFFFFFFF0u, 0xFFFFFFFFu);
    ExpectSame(Merge(writable, readOnly), {{0xFFFFFE00u, 0xFFFFFFEFu}}, 0);

    // 256 ranges each cut in two give 512 pieces: all counted, only the room written.
    trg::RangeList full, cuts;
    for (uint32_t i = 0; i < trg::kMaxRanges; ++i) {
        EXPECT_TRUE(full.Add(i * 10, i * 10 + 4));
        cuts.Add(i * 10 + 2, i * 10 + 2);
    }
    EXPECT_FALSE(full.Add(5000, 5001));
    TargetArea areas[trg::kMaxRanges];
    EXPECT_EQ(trg::MergeRanges(full, cuts, areas, trg::kMaxRanges), 512u);
    EXPECT_EQ(areas[255].start, 1273u);
    EXPECT_EQ(areas[255].end, 1274u);
}

}  // namespace
