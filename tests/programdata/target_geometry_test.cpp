#include "programdata/target_geometry.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "programdata/program_data.h"
#include "support/test_support.h"

using namespace programdata;

namespace {

TEST(Calc2BitShift, ReadsTheCodeAsATwosComplementExponent) {
    EXPECT_EQ(Calc2BitShift(2048, 0, 4), 2048u);
    EXPECT_EQ(Calc2BitShift(2048, 7, 4), 262144u);
    EXPECT_EQ(Calc2BitShift(2048, 8, 4), 8u);
    EXPECT_EQ(Calc2BitShift(2048, 15, 4), 1024u);
    EXPECT_EQ(Calc2BitShift(512, 3, 3), 4096u);
    EXPECT_EQ(Calc2BitShift(512, 4, 3), 32u);
    EXPECT_EQ(Calc2BitShift(512, 7, 3), 256u);
    EXPECT_EQ(Calc2BitShift(512, 2, 2), 128u);
    EXPECT_EQ(Calc2BitShift(512, 0x1F, 4), 256u);  // only the low bits count
    EXPECT_EQ(Calc2BitShift(512, 1, 5), 0u);
}

TEST(TargetGeometry, IdentityCodesGiveBlocksTestAreaAndAnchor) {
    CTargetInfo old{};            // bit 30 clear
    old.targetId32 = 0x00030400;  // G = 3, bits 8-11 = 4
    old.targetId00 = 1;
    old.areaCount = 1;
    old.areas[0] = {0, 0x5DFF};  // up to the test data area
    TargetGeometry g;
    EXPECT_EQ(ComputeTargetGeometry(old, g), GeometryVerdict::Supported);
    EXPECT_EQ(g.blockSize, 6144u);
    EXPECT_EQ(g.blockCount, 4);
    EXPECT_EQ(g.testAreaSize, 512);
    EXPECT_EQ(g.testAreaAnchor, 24048u);
    EXPECT_TRUE(g.anchorDefined);
    EXPECT_EQ(g.testAreaStart(), 24064u);
    EXPECT_EQ(g.testAreaEnd(), 24575u);
    EXPECT_EQ(g.imageSize, 24576u);
    // The area holds the anchor, so the packed content carries the test data area too.
    EXPECT_EQ(g.packedSize, 0x5E00u + 512);
    EXPECT_TRUE(g.IsFlashAddress(24064));
    EXPECT_TRUE(g.IsTestAreaAddress(24575));
    EXPECT_FALSE(g.IsTestAreaAddress(24063));
    EXPECT_FALSE(g.IsFlashAddress(24576));
    EXPECT_TRUE(g.IsFlashRange(0x5000, 24575));
    EXPECT_FALSE(g.IsFlashRange(0x5000, 24576));

    // Bits 10-12 of targetId64 equal to 3: no bits-10 size, so no anchor.
    TargetGeometry none;
    EXPECT_EQ(ComputeTargetGeometry(pdtest::MakeTarget({{0, 0x7FFF}}, 2, 4, 3, 0), none),
              GeometryVerdict::Supported);
    EXPECT_EQ(none.blockSize, 8192u);
    EXPECT_EQ(none.bits10Size, 0);
    EXPECT_EQ(none.testAreaSize, 512);
    EXPECT_EQ(none.testAreaAnchor, 0u);
    EXPECT_FALSE(none.anchorDefined);
    EXPECT_EQ(none.anchorArea(), -1);  // even though the area starts at 0
    EXPECT_EQ(none.packedSize, 0x8000u);
    EXPECT_EQ(none.occupancyLimit(), 4u * 8192 - 1);
}

TEST(TargetGeometry, ImageCoversTheFlashLimitInWholeBlocks) {
    TargetGeometry g;
    ComputeTargetGeometry(pdtest::MakeTarget({{0x1000, 0x7FFF}}), g);
    EXPECT_EQ(g.imageSize, 0x8000u);
    EXPECT_EQ(g.lowestAreaStart, 0x1000u);
    ComputeTargetGeometry(pdtest::MakeTarget({{0x1000, 0x8000}, {0, 0x10}}), g);
    EXPECT_EQ(g.imageSize, 0x8800u);
    EXPECT_EQ(g.lowestAreaStart, 0u);
    EXPECT_EQ(g.flashLimit, 0x8000u);
    ComputeTargetGeometry(pdtest::MakeTarget({}), g);
    EXPECT_EQ(g.imageSize, 2048u);
    EXPECT_EQ(g.flashLimit, 0u);
    EXPECT_FALSE(g.IsFlashAddress(0));
}

TEST(TargetGeometry, UnsupportedBlockSizesAreReportedAndZeroIsRefused) {
    pdtest::RecordingReporter reporter;
    ProgramData data(reporter);

    // G = 6 with bit 30 set: 131072 bytes per block is reported but still used.
    EXPECT_TRUE(data.SetTargetGeometry(pdtest::MakeTarget({{0, 0x3FFFF}}, 6)));
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_TARGET_NOT_SUPPORTED});
    EXPECT_EQ(data.geometry().blockSize, 131072u);
    EXPECT_EQ(data.writeImage().size(), 0x40000u);
    EXPECT_EQ(data.checksumImage().size(), 0x40000u);

    // G = 0 with bit 30 clear: block size 0 would divide by zero; nothing is allocated.
    reporter.Clear();
    CTargetInfo zero{};
    zero.targetId00 = 1;
    zero.areaCount = 1;
    zero.areas[0] = {0, 0xFFFF};
    EXPECT_FALSE(data.SetTargetGeometry(zero));
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_TARGET_NOT_SUPPORTED});
    EXPECT_EQ(data.writeImage().size(), 0u);
    EXPECT_EQ(data.flashImage().size(), 0u);
    EXPECT_EQ(data.packedSize(), 0u);
    EXPECT_FALSE(data.IsFlashAddress(0));

    // Later use stays safe: reading stores nothing, the base fill and checksum see no bytes.
    ReadResult r = ReadProgramText(":0100000001FE\n:00000001FF\n", "f", 0, data.geometry(),
                                   data.writeImage(), reporter);
    EXPECT_TRUE(r.ok);
    data.SetFillType(kFillFlashContent);
    data.PrepareBaseImage(data.checksumImage());
    EXPECT_EQ(data.ComputeImageChecksum(data.checksumImage(), true), 0u);

    // An area table claiming more than 256 pairs is cut to the record's 256.
    CTargetInfo many = pdtest::MakeTarget({{0, 0xFF}});
    many.areaCount = 100000;
    TargetGeometry g;
    ComputeTargetGeometry(many, g);
    EXPECT_EQ(g.areas.size(), 256u);
}

// Where bytes lie, and what a Write erases: areas, a gap, the test data area, beyond.
TEST(TargetGeometry, PlacesRangesAndPlansTheBlocksAWriteErases) {
    CTargetInfo t{};
    t.targetId32 = 0x00010400;  // G = 1 (2048-byte blocks), 4 blocks: test area 1E00H-1FFFH
    t.targetId00 = 1;
    t.areaCount = 2;
    t.areas[0] = {0x100, 0x7FF};
    t.areas[1] = {0x1000, 0x1BFF};
    t.blockSize = 2048;
    TargetGeometry g;
    ASSERT_EQ(ComputeTargetGeometry(t, g), GeometryVerdict::Supported);
    using P = TargetGeometry::Placement;
    std::vector<std::tuple<P, int, uint32_t, uint32_t>> placed;
    for (const auto& r : g.Place(0, 0x2100))
        placed.emplace_back(r.where, r.area, r.first, r.last);
    EXPECT_EQ(placed, (std::vector<std::tuple<P, int, uint32_t, uint32_t>>{
                          {P::Gap, -1, 0, 0xFF},
                          {P::Area, 0, 0x100, 0x7FF},
                          {P::Gap, -1, 0x800, 0xFFF},
                          {P::Area, 1, 0x1000, 0x1BFF},
                          {P::Beyond, -1, 0x1C00, 0x1DFF},
                          {P::TestArea, -1, 0x1E00, 0x1FFF},
                          {P::Beyond, -1, 0x2000, 0x2100}}));
    // Block 1 (800H-FFFH) holds no area and is never erased; nothing beyond the image is
    // programmed.
    const std::vector<WriteBlock> blocks = PlanWriteBlocks(t, g, g.imageSize);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].pieces.size(), 1u);
    EXPECT_EQ(blocks[0].pieces[0].start, 0x100u);
    EXPECT_TRUE(blocks[1].pieces.empty());
    EXPECT_EQ(blocks[3].pieces[0].end, 0x1BFFu);
    EXPECT_TRUE(PlanWriteBlocks(t, g, 0x1000)[2].pieces.empty());
}

}  // namespace
