// All-target flash operations against several simulated adapters: every eligible adapter
// gets its request before the first reply is read, failed and ineligible targets are left
// out, and what lands in each chip's flash is checked by reading the chip back.
#include <gtest/gtest.h>

#include "support/multi_target_rig.h"

using mtrig::Bytes;
using mtrig::CommandKind;
using mtrig::Flash;
using mtrig::Pattern;
using mtrig::Rig;
using vexilsim::Fault;

namespace {

CFlashApi* Adapter(int n) {
    return ApiObj.GetTrgConnect()->GetIndexDevObj(n);
}

TEST(MultiTargetFlash, WriteGoesOutInChunksOf1000ToAllAndAFailedTargetDropsOut) {
    Rig rig(3);
    rig.PlugAll();
    const Bytes image = Pattern(0x4000, 0x11);
    rig.adapter(2).InjectFault(CommandKind::kWriteFlash, Fault::Status(0x6000));

    EXPECT_EQ(ApiFlashWriteAll(0x100, 0x100 + 2499, 0x100, image.data()), 1);
    EXPECT_EQ(rig.Rounds(CommandKind::kWriteFlash), "1,2,3>1,2,3 1,3>1,3 1,3>1,3");
    auto writes = rig.Requests(1, CommandKind::kWriteFlash);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(mtrig::WriteAddress(writes[0]), 0x100u);
    EXPECT_EQ(mtrig::WriteLength(writes[0]), 1000u);
    EXPECT_EQ(mtrig::WriteAddress(writes[1]), 0x100u + 1000);
    EXPECT_EQ(mtrig::WriteLength(writes[1]), 1000u);
    EXPECT_EQ(mtrig::WriteAddress(writes[2]), 0x100u + 2000);
    EXPECT_EQ(mtrig::WriteLength(writes[2]), 500u);

    const Bytes expected(image.begin() + 0x100, image.begin() + 0x100 + 2500);
    EXPECT_EQ(Flash(rig.chip(1), 0x100, 2500), expected);
    EXPECT_EQ(Flash(rig.chip(3), 0x100, 2500), expected);
    EXPECT_EQ(rig.Status(2), 0x6000);
    EXPECT_EQ(rig.chip(2).ByteAt(0x100 + 1000), 0xFF);
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(rig.Status(3), 0);
}

TEST(MultiTargetFlash, WriteRangeEdges) {
    Rig rig(1);
    rig.PlugAll();
    const Bytes image = Pattern(0x4000, 0x5A);
    // One byte; the image is indexed by first, the flash by destination.
    EXPECT_EQ(ApiFlashWriteAll(0x20, 0x20, 0x800, image.data()), 1);
    auto writes = rig.Requests(1, CommandKind::kWriteFlash);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(mtrig::WriteLength(writes[0]), 1u);
    EXPECT_EQ(rig.chip(1).ByteAt(0x800), image[0x20]);
    EXPECT_EQ(rig.chip(1).ByteAt(0x801), 0xFF);

    // last below first and the full 32-bit range (a count of 0) write nothing.
    rig.bench().ClearTraces();
    EXPECT_EQ(ApiFlashWriteAll(0x200, 0x1FF, 0x200, image.data()), 1);
    EXPECT_EQ(ApiFlashWriteAll(0, 0xFFFFFFFF, 0, image.data()), 1);
    EXPECT_EQ(ApiFlashWriteAll(0, 10, 0, nullptr), 0);
    EXPECT_TRUE(rig.adapter(1).trace().empty());

    // An address outside the flash fails before anything is sent.
    EXPECT_EQ(ApiFlashWriteAll(0, 9, 0x3F00, image.data()), 1);
    EXPECT_EQ(rig.Status(1), 0x4000);
    EXPECT_TRUE(rig.adapter(1).trace().empty());
}

TEST(MultiTargetFlash, SerialBytesAreMergedPerTargetAcrossAChunkBoundary) {
    Rig rig(3);
    rig.PlugAll();
    const Bytes image = Pattern(0x2000, 0x33);
    const Bytes imageBefore = image;
    const uint32_t serialAddress = 998;  // bytes 998..1001 span the first two chunks
    for (int n = 1; n <= 3; ++n) {
        const uint8_t serial[4] = {0xA0, 0xB0, 0xC0, static_cast<uint8_t>(n)};
        ASSERT_EQ(ApiSetSerialNumber(n, serial, 4), 1);
    }
    EXPECT_EQ(ApiFlashWriteAllWithSN(0, 2047, 0, image.data(), serialAddress), 1);
    EXPECT_EQ(rig.Rounds(CommandKind::kWriteFlash), "1,2,3>1,2,3 1,2,3>1,2,3 1,2,3>1,2,3");
    for (int n = 1; n <= 3; ++n) {
        Bytes expected(image.begin(), image.begin() + 2048);
        expected[998] = 0xA0;
        expected[999] = 0xB0;
        expected[1000] = 0xC0;
        expected[1001] = static_cast<uint8_t>(n);
        EXPECT_EQ(Flash(rig.chip(n), 0, 2048), expected) << "target " << n;
    }
    EXPECT_EQ(image, imageBefore);
}

TEST(MultiTargetFlash, BlockEraseReachesOnlyReadyTargetsAllBeforeTheFirstReply) {
    Rig rig(3);
    rig.PlugAll();
    for (int n = 1; n <= 3; ++n) {
        rig.chip(n).Load(0x1000, Bytes(0x2000, 0x00));
    }
    ApiSetTargetPlugStatus(2, PLUG_IDENTIFIED);
    EXPECT_EQ(ApiFlashEraseBlockAll(0x1234), 1);
    EXPECT_EQ(rig.Rounds(CommandKind::kEraseBlock), "1,3>1,3");
    for (int n : {1, 3}) {
        EXPECT_EQ(Flash(rig.chip(n), 0x1000, 0x1000), Bytes(0x1000, 0xFF));
        EXPECT_EQ(rig.chip(n).ByteAt(0x2000), 0x00);
    }
    EXPECT_EQ(rig.chip(2).ByteAt(0x1000), 0x00);
    EXPECT_EQ(rig.PlugState(2), PLUG_IDENTIFIED);
}

TEST(MultiTargetFlash, ChipEraseClearsTypeZeroProtectionButNeverTouchesTypeOne) {
    Rig rig(4);
    rig.PlugAll();
    for (int n = 1; n <= 4; ++n) {
        rig.chip(n).Load(0, Bytes(16, 0x00));
    }
    // 2: protected, security type 0; 3: protected, security type 1; 4: ready but disabled.
    for (int n : {2, 3}) {
        rig.chip(n).setProtected(true);
        uint16_t protect = 0;
        ApiObj.IsTargetProtected(n, protect);
        ASSERT_EQ(rig.PlugState(n), PLUG_IDENTIFIED);
        ApiSetTargetStatus(n, 0);  // the writer clears the status before erasing
    }
    CTargetInfo typeOne = rig.info();
    typeOne.targetId32 |= 1u << 23;
    Adapter(3)->setTargetInfo(typeOne);
    rig.chip(3).setSecurityType(1);
    ApiSetEnableFlg(4, 0);
    ApiSetTargetStatus(4, 0x1234);

    EXPECT_EQ(ApiChipEraseAll(), 1);
    EXPECT_EQ(rig.Rounds(CommandKind::kEraseChip), "1,2>1,2");
    EXPECT_EQ(rig.chip(1).ByteAt(0), 0xFF);
    EXPECT_EQ(rig.chip(2).ByteAt(0), 0xFF);
    EXPECT_FALSE(rig.chip(2).isProtected());
    EXPECT_EQ(rig.PlugState(2), PLUG_READY);
    EXPECT_EQ(rig.chip(3).ByteAt(0), 0x00);
    EXPECT_EQ(rig.PlugState(3), PLUG_IDENTIFIED);
    EXPECT_EQ(rig.chip(4).ByteAt(0), 0x00);
    EXPECT_EQ(rig.Status(4), 0x1234);
    EXPECT_EQ(rig.PlugState(4), PLUG_READY);
}

TEST(MultiTargetFlash, DisabledOrFailedTargetKeepsStatusAndPlugStatusThroughWrites) {
    Rig rig(3);
    rig.PlugAll();
    ApiSetEnableFlg(1, 0);
    ApiSetTargetStatus(2, 0x2004);
    const Bytes image = Pattern(0x800, 0x77);
    EXPECT_EQ(ApiFlashEraseBlockAll(0), 1);
    EXPECT_EQ(ApiFlashWriteAll(0, 999, 0, image.data()), 1);
    EXPECT_EQ(ApiFlashWriteAllWithSN(0, 999, 0, image.data(), 0x10), 1);
    EXPECT_EQ(rig.Rounds(CommandKind::kWriteFlash), "3>3 3>3");
    EXPECT_TRUE(rig.adapter(1).trace().empty());
    EXPECT_TRUE(rig.adapter(2).trace().empty());
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(rig.Status(2), 0x2004);
    EXPECT_EQ(rig.PlugState(1), PLUG_READY);
    EXPECT_EQ(rig.PlugState(2), PLUG_READY);
}

TEST(MultiTargetFlash, ReadNeedsAReadyTargetAndReturnsTheFlashAreas) {
    Rig rig(2);
    rig.PlugAll();
    const Bytes data = Pattern(0x1000, 0x42);
    rig.chip(1).Load(0, data);
    Bytes buffer(0x4000);
    uint32_t count = 99;
    EXPECT_EQ(ApiFlashRead(1, 0x100, &count, buffer.data()), 1);
    EXPECT_EQ(count, 0x100u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 0x100),
              Bytes(data.begin(), data.begin() + 0x100));

    ApiSetTargetPlugStatus(2, PLUG_IDENTIFIED);
    count = 99;
    EXPECT_EQ(ApiFlashRead(2, 0x100, &count, buffer.data()), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ApiFlashRead(1, 0x100, &count, nullptr), 0);
}

TEST(MultiTargetFlash, ErrorIndicationOnlyForEnabledFailedTargetsUnlessForced) {
    Rig rig(3);
    ApiSetTargetStatus(2, 0x2002);
    ApiSetTargetStatus(3, 0x2002);
    ApiSetEnableFlg(3, 0);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(ApiUpdateErrorTargetLED(n), 1);
    }
    EXPECT_EQ(rig.adapter(1).errorIndications(), 0u);
    EXPECT_EQ(rig.adapter(2).errorIndications(), 1u);
    EXPECT_EQ(rig.adapter(3).errorIndications(), 0u);
    EXPECT_EQ(ApiErrorTargetLED(1), 1);
    EXPECT_EQ(rig.adapter(1).errorIndications(), 1u);
    EXPECT_EQ(rig.Status(2), 0x2002);
}

}  // namespace
