// The adapter link against the simulated adapter: every command of the protocol, found by
// discovery, with the bytes the adapter received checked in its frame trace.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brindlex/flash_api.h"
#include "brindlex/trg_connect_ctrl.h"
#include "platform/inproc_device.h"
#include "vexilsim/inproc_adapter.h"

using vexilsim::CommandKind;
using vexilsim::Fault;
using vexilsim::TraceEntry;
using Bytes = std::vector<uint8_t>;

namespace {

// Areas below and above 0x10000 (so both address kinds occur), blocks of 0x4000, eight
// blocks, 0x800 reserved at the top.
CTargetInfo Target() {
    CTargetInfo info;
    std::strcpy(info.name, "R5F1234");
    std::strcpy(info.version, "1.20");
    info.targetIdBitNum = 64;
    info.targetId00 = 0x89ABCDEF;
    info.targetId32 = 0x01000800;  // eight blocks
    info.areaCount = 2;
    info.areas[0] = {0x00000, 0x0FFFF};
    info.areas[1] = {0x14000, 0x1F7FF};
    info.blockSize = 0x4000;
    info.sizeFromBits13 = 0x800;
    info.romWinStart = 0x2000;
    info.romWinEnd = 0x7FFF;
    return info;
}

class SimCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(list.GetUsbDevice(), 1);
        ASSERT_EQ(list.CreateFlashApi(), 1);
        ASSERT_EQ(list.GetSizeDevObj(), 1);
        api = list.GetIndexDevObj(1);
        api->setTargetInfo(Target());
        bench.ClearTraces();
    }

    // The payload of the last request the adapter received, and the reply's status.
    Bytes LastRequest() {
        std::vector<TraceEntry> trace = bench.adapter(0).trace();
        for (auto it = trace.rbegin(); it != trace.rend(); ++it)
            if (it->direction == TraceEntry::kReceived)
                return it->payload();
        return {};
    }
    uint16_t LastReplyStatus() {
        std::vector<TraceEntry> trace = bench.adapter(0).trace();
        for (auto it = trace.rbegin(); it != trace.rend(); ++it)
            if (it->direction == TraceEntry::kSent)
                return it->status();
        return 0xFFFF;
    }

    vexilsim::SimBench bench{Target(), 1, &VEXIL_INTERFACE_GUID};
    CTrgConnectCtrl list;
    CFlashApi* api = nullptr;
};

TEST_F(SimCommandsTest, FlashCommands) {
    const uint8_t data[4] = {0x12, 0x34, 0x56, 0x78};
    ASSERT_EQ(api->FlashWrite(0, 3, 0x1000, data), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x05, 0x00, 0x30, 0x27, 0x00, 0x00, 0x10, 0x00, 0x02, 0x00,
                                    0x04, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(bench.chip(0).ByteAt(0x1003), 0x78);

    uint32_t sent = 0;
    ASSERT_EQ(api->FlashWrite_trans(0x15000, 2, data, sent), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x05, 0x00, 0x30, 0x2B, 0x00, 0x01, 0x50, 0x00, 0x02, 0x00,
                                    0x02, 0x12, 0x34}));
    ASSERT_EQ(api->FlashWrite_receive(), 1);
    EXPECT_EQ(bench.chip(0).ByteAt(0x15001), 0x34);

    uint16_t word = 0;
    ASSERT_EQ(api->FlashReadRand(0x1001, word), 1);
    EXPECT_EQ(LastRequest(),
              (Bytes{0x05, 0x10, 0x30, 0x27, 0x00, 0x00, 0x10, 0x01, 0x00, 0x02, 0x02}));
    EXPECT_EQ(word, 0x3456);

    std::vector<uint8_t> block(0x4000);
    uint32_t count = 0;
    ASSERT_EQ(api->FlashReadBlock(0x15555, count, block.data()), 1);
    EXPECT_EQ(count, 0x4000u);
    EXPECT_EQ(LastRequest(),
              (Bytes{0x05, 0x10, 0x30, 0x2B, 0x00, 0x01, 0x7E, 0x80, 0x01, 0x80, 0x02}));
    EXPECT_EQ(block[0x1000], 0x12);
    EXPECT_EQ(block[0x1002], 0xFF);

    ASSERT_EQ(api->FlashEraseBlock(0x15555), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x12, 0x12, 0x00, 0x01, 0x40, 0x00}));
    EXPECT_EQ(bench.chip(0).ByteAt(0x15001), 0xFF);
    ASSERT_EQ(api->FlashEraseBlock_trans(0x0FFF), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x12, 0x12, 0x00, 0x00, 0x00, 0x00}));
    ASSERT_EQ(api->FlashEraseBlock_receive(), 1);
    EXPECT_EQ(bench.chip(0).ByteAt(0x1000), 0xFF);

    ASSERT_EQ(api->FlashWrite(0, 3, 0x8000, data), 1);
    ASSERT_EQ(api->FlashEraseChip(), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x12, 0x10}));
    EXPECT_EQ(bench.chip(0).ByteAt(0x8000), 0xFF);
    ASSERT_EQ(api->FlashEraseChip_trans(), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x12, 0x10}));
    ASSERT_EQ(api->FlashEraseChip_receive(), 1);
}

TEST_F(SimCommandsTest, ProtectionCommands) {
    bench.chip(0).setSecurityId({0x1122, 0x3344, 0x5566});
    bench.chip(0).setProtected(true);
    uint16_t protect = 0;
    ASSERT_EQ(api->FlashReadProtect(protect), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x12, 0x32}));
    EXPECT_EQ(protect, 1);

    const uint16_t id[3] = {0x1122, 0x3344, 0x5566};
    ASSERT_EQ(api->FlashUnlockProtect(3, id), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x12, 0x30, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    EXPECT_FALSE(bench.chip(0).isProtected());
    ASSERT_EQ(api->FlashReadProtect(protect), 1);
    EXPECT_EQ(protect, 0);
}

TEST_F(SimCommandsTest, ResetIdentityAndTextCommands) {
    ASSERT_EQ(api->TargetChipReset(), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x07, 0x00}));
    EXPECT_EQ(bench.adapter(0).chipResets(), 1u);

    bench.adapter(0).systemResetResult = 0x5A;
    uint8_t result = 0;
    ASSERT_EQ(api->TargetSystemReset(0x03, result), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x07, 0x06, 0x03}));
    EXPECT_EQ(result, 0x5A);
    ASSERT_EQ(api->TargetSystemReset_trans(0x01), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x07, 0x06, 0x01}));
    result = 0;
    ASSERT_EQ(api->TargetSystemReset_receive(result), 1);
    EXPECT_EQ(result, 0x5A);
    EXPECT_EQ(bench.adapter(0).systemResetModes(), (Bytes{0x03, 0x01}));

    uint32_t id[2] = {};
    ASSERT_EQ(api->TargetReadProductID(id), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x03, 0x3F, 0x09}));
    EXPECT_EQ(id[0], 0x89ABCDEFu);
    EXPECT_EQ(id[1], 0x01000800u);
    bench.chip(0).setIdentity(0x00000004, 0x00000003, 0x00000002, 0x00000001);
    bench.chip(0).setIdBits(128);
    uint32_t id128[4] = {};
    ASSERT_EQ(api->TargetReadProductID128(id128), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x05, 0x3F, 0x09}));
    EXPECT_EQ(id128[0], 4u);
    EXPECT_EQ(id128[3], 1u);

    ASSERT_EQ(api->VexilSetTargetInfo(0x2000, 0x7FFF, 0x1F7EF), 1);
    EXPECT_EQ(LastRequest(),
              (Bytes{0x0A, 0x04, 0x20, 0x00, 0x7F, 0xFF, 0x00, 0x01, 0xF7, 0xEF, 0x00}));
    EXPECT_TRUE(bench.adapter(0).targetSetting().set);
    EXPECT_EQ(bench.adapter(0).targetSetting().address, 0x1F7EFu);

    char text[64];
    ASSERT_EQ(api->GetChipName(text, sizeof text), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x00, 0x3F, 0x01}));
    EXPECT_EQ(std::string(text), bench.chip(0).chipName());
    char version[11];
    ASSERT_EQ(api->GetFirmVersion(version, sizeof version), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x00, 0x3F, 0x02}));
    EXPECT_STREQ(version, "1.20");
    ASSERT_EQ(api->ErrorFunction(), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x00, 0x7F, 0xFF}));
    EXPECT_EQ(bench.adapter(0).errorIndications(), 1u);

    bench.chip(0).setPowerOnState(true);
    ASSERT_EQ(api->TargetChipReset(), 0);
    EXPECT_EQ(api->getStatus(), FLASH_POWER_ON_STATE);
    bench.adapter(0).removePowerOnResult = 0x07;
    ASSERT_EQ(api->VexilRemovePowerOnState(result), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x00, 0xFD}));
    EXPECT_EQ(result, 0x07);
    EXPECT_FALSE(bench.chip(0).powerOnState());
}

TEST_F(SimCommandsTest, EveryFrameCarriesTheNextSequenceNumber) {
    uint8_t result = 0;
    ASSERT_EQ(api->TargetChipReset(), 1);
    ASSERT_EQ(api->TargetSystemReset_trans(0), 1);
    ASSERT_EQ(api->TargetSystemReset_receive(result), 1);
    ASSERT_EQ(api->TargetChipReset(), 1);
    std::vector<TraceEntry> trace = bench.adapter(0).trace();
    ASSERT_EQ(trace.size(), 6u);
    for (size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].direction, i % 2 == 0 ? TraceEntry::kReceived : TraceEntry::kSent);
        // SetUp's discovery sent nothing, so the numbers start at 0.
        EXPECT_EQ(trace[i].sequence(), i / 2);
    }
}

TEST_F(SimCommandsTest, WrittenContentReadsBackPacked) {
    // The whole flash: both areas, with the reserved area after the top block's area.
    std::vector<uint8_t> image(0x20000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    ASSERT_EQ(api->FlashWrite(0, 0xFFFF, 0, image.data()), 1);
    ASSERT_EQ(api->FlashWrite(0x14000, 0x1F7FF, 0x14000, image.data()), 1);
    bench.chip(0).Load(0x1F800, Bytes(0x800, 0xC3));

    const uint32_t size = 0x10000 + 0xB800 + 0x800;
    std::vector<uint8_t> packed(size + 16, 0xEE);
    uint32_t count = 0;
    ASSERT_EQ(api->FlashReadCont(size, count, packed.data()), 1);
    EXPECT_EQ(count, size);
    EXPECT_EQ(std::memcmp(packed.data(), image.data(), 0x10000), 0);
    EXPECT_EQ(std::memcmp(packed.data() + 0x10000, image.data() + 0x14000, 0xB800), 0);
    EXPECT_EQ(packed[size - 1], 0xC3);
    EXPECT_EQ(packed[size], 0xEE);

    // A write over content that was not erased shows on read-back.
    const uint8_t ones[2] = {0xF0, 0x0F};
    const uint8_t back[2] = {static_cast<uint8_t>(image[0x20] & 0xF0),
                             static_cast<uint8_t>(image[0x21] & 0x0F)};
    ASSERT_EQ(api->FlashWrite(0, 1, 0x20, ones), 1);
    uint16_t word = 0;
    ASSERT_EQ(api->FlashReadRand(0x20, word), 1);
    EXPECT_EQ(word, back[0] * 256 + back[1]);
}

TEST_F(SimCommandsTest, EveryTransportFaultIsRecoveredByTheNextCommandOrPlug) {
    struct Case {
        const char* what;
        Fault fault;
        uint32_t status;
    };
    const Case cases[] = {
        {"no reply", Fault::NoReply(), FLASH_RECEIVE_FAILED},
        {"wrong sequence", Fault::WrongSequence(), FLASH_SEQUENCE},
        {"bad magic", Fault::BadMagic(), FLASH_BAD_MAGIC},
        {"bad version", Fault::BadVersion(), FLASH_BAD_MAGIC},
        {"short reply", Fault::ShortReply(), FLASH_RECEIVE_FAILED},
        {"over-long reply", Fault::OverlongReply(), FLASH_RECEIVE_FAILED},
        {"status word", Fault::Status(0x6305), 0x6305},
    };
    const uint8_t data[2] = {0x00, 0x11};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bench.adapter(0).InjectFault(CommandKind::kWriteFlash, c.fault);
        EXPECT_EQ(api->FlashWrite(0, 1, 0x3000, data), 0);
        EXPECT_EQ(api->getStatus(), c.status);
        uint32_t id[2] = {};
        if (c.fault.kind == vexilsim::FaultKind::kNoReply) {
            // A time-out is not waited out again: only a new plug asks the adapter again.
            EXPECT_EQ(api->TargetReadProductID(id), 0);
            EXPECT_EQ(api->getStatus(), c.status);
            api->setPlugStatus(PLUG_STARTED);
        }
        EXPECT_EQ(api->TargetReadProductID(id), 1);
        EXPECT_EQ(api->getStatus(), FLASH_OK);
        EXPECT_EQ(id[0], 0x89ABCDEFu);
    }

    // An adapter that went away reports "not connected" until it is back.
    bench.adapter(0).Disconnect();
    EXPECT_EQ(api->TargetChipReset(), 0);
    EXPECT_EQ(api->getStatus(), FLASH_NOT_CONNECTED);
    bench.adapter(0).Reconnect();
    EXPECT_EQ(api->TargetChipReset(), 1);
}

}  // namespace
