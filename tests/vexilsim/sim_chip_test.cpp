#include "vexilsim/sim_chip.h"

#include <gtest/gtest.h>

#include "support/sim_fixtures.h"

namespace {

using namespace vexilsim;

TEST(SimChip, BuiltFromADescriptionAnswersAsItExpects) {
    CTargetInfo info = simtest::SmallTarget();
    SimChip chip(info);
    EXPECT_EQ(chip.identity()[0], 0x12345678u);
    EXPECT_EQ(chip.identity()[1], 0x00020400u);
    EXPECT_EQ(chip.identity()[2], 0x000000A0u);
    EXPECT_EQ(chip.identity()[3], 0x0BADF00Du);
    EXPECT_EQ(chip.idBits(), 64u);
    EXPECT_EQ(chip.chipName(), "12345");  // the digits of the name
    EXPECT_EQ(chip.version(), "1.23");
    EXPECT_EQ(chip.blockSize(), 0x1000u);
    EXPECT_EQ(chip.blockCount(), 4u);
    EXPECT_EQ(chip.flashSize(), 0x4000u);
    EXPECT_EQ(chip.reservedStart(), 0x3E00u);
    EXPECT_EQ(chip.securityType(), 0);
    EXPECT_EQ(chip.ByteAt(0x3FFF), 0xFF);

    // 128-bit identity: the block count takes its high four bits from targetId64.
    info.targetIdBitNum = 128;
    info.targetId32 |= 0x00800000;  // security type 1
    SimChip wide(info);
    EXPECT_EQ(wide.idBits(), 128u);
    EXPECT_EQ(wide.blockCount(), 0xA4u);
    EXPECT_EQ(wide.flashSize(), 0xA4u * 0x1000u);
    EXPECT_EQ(wide.securityType(), 1);

    // Areas reaching past block count x block size extend the flash to a whole block.
    info.targetIdBitNum = 64;
    info.targetId32 = 0x00020100;  // one block
    SimChip small(info);
    EXPECT_EQ(small.flashSize(), 0x4000u);
    small.setAreas({{0, 0x4000}});
    EXPECT_EQ(small.flashSize(), 0x5000u);
}

TEST(SimChip, FlashBehavesAsNorFlash) {
    SimChip chip(simtest::SmallTarget());
    const uint8_t first[3] = {0xF0, 0x3C, 0x00};
    ASSERT_EQ(chip.Program(0x1FFE, first, 3), kStatusOk);
    EXPECT_EQ(chip.ByteAt(0x1FFE), 0xF0);
    EXPECT_EQ(chip.ByteAt(0x2000), 0x00);
    // A second program without erase can only clear bits.
    const uint8_t second[3] = {0x0F, 0xC3, 0xFF};
    ASSERT_EQ(chip.Program(0x1FFE, second, 3), kStatusOk);
    EXPECT_EQ(chip.ByteAt(0x1FFE), 0x00);
    EXPECT_EQ(chip.ByteAt(0x1FFF), 0x00);
    EXPECT_EQ(chip.ByteAt(0x2000), 0x00);

    // Erasing from the middle of a block erases that whole block and nothing else.
    ASSERT_EQ(chip.EraseBlock(0x1800), kStatusOk);
    EXPECT_EQ(chip.ByteAt(0x1FFE), 0xFF);
    EXPECT_EQ(chip.ByteAt(0x1FFF), 0xFF);
    EXPECT_EQ(chip.ByteAt(0x2000), 0x00);
    ASSERT_EQ(chip.Program(0x1FFE, second, 1), kStatusOk);
    EXPECT_EQ(chip.ByteAt(0x1FFE), 0x0F);

    ASSERT_EQ(chip.EraseChip(), kStatusOk);
    EXPECT_EQ(chip.ByteAt(0x2000), 0xFF);
}

TEST(SimChip, AccessesBeyondTheAddressSpaceFailWithoutTouchingIt) {
    SimChip chip(simtest::SmallTarget());
    uint8_t buf[4] = {};
    EXPECT_EQ(chip.Read(0x3FFC, 4, buf), kStatusOk);  // the reserved top is readable
    EXPECT_EQ(chip.Read(0x3FFD, 4, buf), kStatusOutOfRange);
    EXPECT_EQ(chip.Read(0xFFFFFFFF, 2, buf), kStatusOutOfRange);
    const uint8_t zeros[4] = {};
    EXPECT_EQ(chip.Program(0x3FFE, zeros, 4), kStatusOutOfRange);
    EXPECT_EQ(chip.ByteAt(0x3FFE), 0xFF);  // no partial write
    EXPECT_EQ(chip.EraseBlock(0x4000), kStatusOutOfRange);
    EXPECT_FALSE(chip.Load(0x3FFF, {1, 2}));
}

TEST(SimChip, ProtectionGuardsTheFlashUntilTheRightIdOrAnEraseOfType0) {
    SimChip chip(simtest::SmallTarget());
    chip.Load(0x100, {0x12});
    chip.setSecurityId({0x1234, 0x5678});
    chip.setProtected(true);
    uint8_t b = 0;
    EXPECT_EQ(chip.Read(0x100, 1, &b), kStatusProtected);
    EXPECT_EQ(chip.Program(0x100, &b, 1), kStatusProtected);
    EXPECT_EQ(chip.EraseBlock(0x100), kStatusProtected);

    EXPECT_EQ(chip.Unlock({0x1234}), kStatusOk);  // a wrong ID is not an adapter failure
    EXPECT_TRUE(chip.isProtected());
    EXPECT_EQ(chip.Unlock({0x1234, 0x5679}), kStatusOk);
    EXPECT_TRUE(chip.isProtected());
    EXPECT_EQ(chip.Unlock({0x1234, 0x5678}), kStatusOk);
    EXPECT_FALSE(chip.isProtected());
    EXPECT_EQ(chip.Read(0x100, 1, &b), kStatusOk);
    EXPECT_EQ(b, 0x12);

    // Type 1: a chip erase is refused and changes nothing.
    chip.setProtected(true);
    chip.setSecurityType(1);
    EXPECT_EQ(chip.EraseChip(), kStatusProtected);
    EXPECT_TRUE(chip.isProtected());
    EXPECT_EQ(chip.ByteAt(0x100), 0x12);

    // Type 0: the erase clears flash, protection and the ID.
    chip.setSecurityType(0);
    EXPECT_EQ(chip.EraseChip(), kStatusOk);
    EXPECT_FALSE(chip.isProtected());
    EXPECT_EQ(chip.ByteAt(0x100), 0xFF);
    EXPECT_EQ(chip.securityId(), (std::vector<uint16_t>{0xFFFF, 0xFFFF}));
}

}  // namespace
