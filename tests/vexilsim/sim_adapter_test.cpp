#include "vexilsim/sim_adapter.h"

#include <gtest/gtest.h>

#include "support/sim_fixtures.h"

namespace {

using namespace vexilsim;
using simtest::Request;
using Bytes = std::vector<uint8_t>;

class SimAdapterTest : public ::testing::Test {
  protected:
    SimAdapterTest() : adapter(SimChip(simtest::SmallTarget())) {}

    // Sends one request; returns the reply payload, checking the reply header.
    Bytes Ask(const Bytes& payload) {
        auto reply = adapter.HandleFrame(Request(seq, payload).data(), 16 + payload.size());
        EXPECT_TRUE(reply.has_value());
        if (!reply)
            return {};
        const Bytes& r = reply->bytes;
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{'C', 'H', 'P', 'M', 0x01}));
        EXPECT_EQ(r[5], seq);
        uint32_t n = r[12] | r[13] << 8 | r[14] << 16 | uint32_t{r[15]} << 24;
        EXPECT_EQ(n + 16, r.size());
        ++seq;
        return Bytes(r.begin() + 16, r.end());
    }
    std::optional<ReplyFrame> Raw(const Bytes& payload) {
        return adapter.HandleFrame(Request(seq++, payload).data(), 16 + payload.size());
    }

    SimAdapter adapter;
    uint8_t seq = 0x41;
};

TEST_F(SimAdapterTest, IdentityAndTextCommandsAnswerBigEndianAfterTheStatus) {
    EXPECT_EQ(Ask({0x0A, 0x03, 0x3F, 0x09}),
              (Bytes{0, 0, 0x00, 0x02, 0x04, 0x00, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(Ask({0x0A, 0x05, 0x3F, 0x09}),
              (Bytes{0, 0, 0x0B, 0xAD, 0xF0, 0x0D, 0, 0, 0, 0xA0, 0x00, 0x02, 0x04, 0x00, 0x12,
                     0x34, 0x56, 0x78}));
    EXPECT_EQ(Ask({0x0A, 0x00, 0x3F, 0x01}), (Bytes{0, 0, 5, '1', '2', '3', '4', '5'}));
    EXPECT_EQ(Ask({0x0A, 0x00, 0x3F, 0x02}), (Bytes{0, 0, 4, '1', '.', '2', '3'}));
    adapter.setFirmwareVersion("1,5");
    EXPECT_EQ(Ask({0x0A, 0x00, 0x3F, 0x02}), (Bytes{0, 0, 3, '1', ',', '5'}));
    EXPECT_EQ(adapter.errorIndications(), 0u);
    EXPECT_EQ(Ask({0x0A, 0x00, 0x7F, 0xFF}), (Bytes{0, 0, 0}));
    EXPECT_EQ(Ask({0x0A, 0x00, 0x7F, 0xFF}), (Bytes{0, 0, 0}));
    EXPECT_EQ(adapter.errorIndications(), 2u);
    EXPECT_EQ(Ask({0x0A, 0x00, 0x12, 0x34}), (Bytes{0x60, 0x01}));
}

TEST_F(SimAdapterTest, FlashCommandsWriteReadAndEraseTheChip) {
    EXPECT_EQ(Ask(simtest::WritePayload(0x0FFE, {0x11, 0x22, 0x33, 0x44})), (Bytes{0, 0}));
    EXPECT_EQ(adapter.chip().ByteAt(0x1001), 0x44);
    EXPECT_EQ(Ask(simtest::ReadPayload(0x0FFF, 3)), (Bytes{0, 0, 0, 3, 0x22, 0x33, 0x44}));
    EXPECT_EQ(Ask(simtest::ReadPayload(0x1000, 2)), (Bytes{0, 0, 0, 2, 0x33, 0x44}));
    // Written again without erase: only bits cleared.
    EXPECT_EQ(Ask(simtest::WritePayload(0x1000, {0xF0})), (Bytes{0, 0}));
    EXPECT_EQ(Ask(simtest::ReadPayload(0x1000, 2)), (Bytes{0, 0, 0, 2, 0x30, 0x44}));
    // Erase block of the block start address: 3-byte reply.
    EXPECT_EQ(Ask({0x12, 0x12, 0, 0, 0x10, 0x00}), (Bytes{0, 0, 0}));
    EXPECT_EQ(Ask(simtest::ReadPayload(0x0FFF, 2)), (Bytes{0, 0, 0, 2, 0x22, 0xFF}));
    EXPECT_EQ(Ask({0x12, 0x10}), (Bytes{0, 0}));
    EXPECT_EQ(adapter.chip().ByteAt(0x0FFF), 0xFF);

    // Beyond the chip, a wrong address-kind byte, a length that disagrees, an oversized chunk.
    EXPECT_EQ(Ask(simtest::ReadPayload(0x3FFF, 2)), (Bytes{0x63, 0x02}));
    EXPECT_EQ(Ask(simtest::WritePayload(0x10000, {1})), (Bytes{0x63, 0x02}));
    Bytes wrongKind = simtest::ReadPayload(0x10, 2);
    wrongKind[3] = 0x2B;
    EXPECT_EQ(Ask(wrongKind), (Bytes{0x60, 0x02}));
    Bytes cut = simtest::WritePayload(0x10, {1, 2, 3});
    cut.pop_back();
    EXPECT_EQ(Ask(cut), (Bytes{0x60, 0x02}));
    EXPECT_EQ(Ask(simtest::ReadPayload(0, 1001)), (Bytes{0x60, 0x02}));
    EXPECT_EQ(Ask({0x12, 0x12, 0, 0, 0x40, 0x00}), (Bytes{0x63, 0x02}));
    EXPECT_EQ(Ask({0x33, 0x33}), (Bytes{0x60, 0x01}));
}

TEST_F(SimAdapterTest, ProtectionCommands) {
    adapter.chip().setSecurityId({0xA1B2, 0xC3D4});
    adapter.chip().setProtected(true);
    EXPECT_EQ(Ask({0x12, 0x32}), (Bytes{0, 0, 0, 1}));
    EXPECT_EQ(Ask(simtest::ReadPayload(0, 2)), (Bytes{0x63, 0x07}));
    EXPECT_EQ(Ask({0x12, 0x30, 0xA1, 0xB2, 0xC3, 0xD5}), (Bytes{0, 0}));  // wrong ID: still 0
    EXPECT_EQ(Ask({0x12, 0x32}), (Bytes{0, 0, 0, 1}));
    EXPECT_EQ(Ask({0x12, 0x30, 0xA1, 0xB2, 0xC3, 0xD4}), (Bytes{0, 0}));
    EXPECT_EQ(Ask({0x12, 0x32}), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Ask({0x12, 0x30, 0xA1}), (Bytes{0x60, 0x02}));  // half a word
}

TEST_F(SimAdapterTest, ResetsTargetSettingAndPowerOnState) {
    adapter.chip().setPowerOnState(true);
    adapter.removePowerOnResult = 0x03;
    // Everything but remove-power-on-state answers 0x0001 and does nothing.
    EXPECT_EQ(Ask({0x07, 0x06, 0x00}), (Bytes{0x00, 0x01}));
    EXPECT_EQ(Ask(simtest::WritePayload(0, {0})), (Bytes{0x00, 0x01}));
    EXPECT_EQ(Ask({0x0A, 0x03, 0x3F, 0x09}), (Bytes{0x00, 0x01}));
    EXPECT_EQ(adapter.chip().ByteAt(0), 0xFF);
    EXPECT_TRUE(adapter.systemResetModes().empty());
    EXPECT_EQ(Ask({0x00, 0xFD}), (Bytes{0, 0, 0x03}));
    EXPECT_FALSE(adapter.chip().powerOnState());

    adapter.systemResetResult = 0x02;
    EXPECT_EQ(Ask({0x07, 0x06, 0x00}), (Bytes{0, 0, 0x02}));
    EXPECT_EQ(Ask({0x07, 0x06, 0x01}), (Bytes{0, 0, 0x02}));
    EXPECT_EQ(adapter.systemResetModes(), (Bytes{0, 1}));
    EXPECT_EQ(Ask({0x07, 0x00}), (Bytes{0, 0}));
    EXPECT_EQ(adapter.chipResets(), 1u);

    EXPECT_FALSE(adapter.targetSetting().set);
    EXPECT_EQ(Ask({0x0A, 0x04, 0x20, 0x00, 0x2F, 0xFF, 0x00, 0x00, 0x3D, 0xF0, 0x00}),
              (Bytes{0, 0}));
    auto s = adapter.targetSetting();
    EXPECT_TRUE(s.set);
    EXPECT_EQ(s.windowStart, 0x2000);
    EXPECT_EQ(s.windowEnd, 0x2FFF);
    EXPECT_EQ(s.address, 0x3DF0u);
}

TEST_F(SimAdapterTest, MalformedRequestFramesGetNoReply) {
    Bytes f = Request(1, {0x12, 0x32});
    f[3] = 'X';
    EXPECT_FALSE(adapter.HandleFrame(f.data(), f.size()));
    f = Request(1, {0x12, 0x32});
    f[12] = 3;  // length disagrees with the bytes sent
    EXPECT_FALSE(adapter.HandleFrame(f.data(), f.size()));
    EXPECT_FALSE(adapter.HandleFrame(f.data(), 10));
    auto t = adapter.trace();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].kind, CommandKind::kInvalid);
    EXPECT_EQ(adapter.framesReceived(), 3u);
    adapter.setTraceEnabled(false);
    EXPECT_FALSE(adapter.HandleFrame(f.data(), 10));
    EXPECT_EQ(adapter.trace().size(), 3u);
    EXPECT_EQ(adapter.framesReceived(), 4u);
}

TEST_F(SimAdapterTest, FaultsCorruptRepliesAsAsked) {
    const Bytes write = simtest::WritePayload(0x10, {0x00});
    auto header = [](const ReplyFrame& r) { return Bytes(r.bytes.begin(), r.bytes.begin() + 6); };

    adapter.InjectFault(CommandKind::kWriteFlash, Fault::NoReply());
    EXPECT_FALSE(Raw(write));
    EXPECT_EQ(adapter.chip().ByteAt(0x10), 0xFF);  // a dropped request is not executed

    adapter.InjectFault(CommandKind::kWriteFlash, Fault::WrongSequence());
    seq = 0;
    auto r = Raw(write);
    EXPECT_EQ(r->bytes[5], 0xFF);                  // the previous request's number
    EXPECT_EQ(adapter.chip().ByteAt(0x10), 0x00);  // executed, only the reply is wrong

    adapter.InjectFault(CommandKind::kWriteFlash, Fault::BadMagic());
    EXPECT_EQ(header(*Raw(write)), (Bytes{'C', 'H', 'P', 'X', 0x01, 0x01}));
    adapter.InjectFault(CommandKind::kWriteFlash, Fault::BadVersion());
    EXPECT_EQ(Raw(write)->bytes[4], 0x02);

    adapter.InjectFault(CommandKind::kWriteFlash, Fault::ShortReply());
    r = Raw(write);
    EXPECT_EQ(r->bytes.size(), 17u);
    EXPECT_EQ(r->bytes[12], 2);  // still announces the full payload

    adapter.InjectFault(CommandKind::kWriteFlash, Fault::OverlongReply());
    r = Raw(write);
    EXPECT_EQ(r->bytes[12], 3);  // one more than a write reply may carry
    EXPECT_EQ(r->bytes.size(), 19u);
    adapter.InjectFault(CommandKind::kGetFirmVersion, Fault::OverlongReply());
    EXPECT_EQ(Raw({0x0A, 0x00, 0x3F, 0x02})->bytes[12], 16);  // an 11-byte text buffer + 4 + 1

    adapter.InjectFault(CommandKind::kEraseChip, Fault::Status(0x6305));
    adapter.chip().Load(0x20, {0x00});
    EXPECT_EQ(Ask({0x12, 0x10}), (Bytes{0x63, 0x05}));
    EXPECT_EQ(adapter.chip().ByteAt(0x20), 0x00);  // not executed

    Bytes twenty = {0, 0, 20};
    twenty.resize(23, 'x');
    adapter.InjectFault(CommandKind::kGetFirmVersion, Fault::Raw(twenty));
    EXPECT_EQ(Ask({0x0A, 0x00, 0x3F, 0x02}), twenty);

    // Each fault hit exactly one matching frame.
    EXPECT_EQ(Ask(write), (Bytes{0, 0}));
    EXPECT_EQ(Ask({0x12, 0x10}), (Bytes{0, 0}));

    adapter.InjectFault(CommandKind::kReadProtect, Fault::Disconnect());
    EXPECT_FALSE(Raw({0x12, 0x32}));
    EXPECT_FALSE(adapter.connected());
}

TEST_F(SimAdapterTest, FaultsByFrameNumberAndRepeatCounts) {
    adapter.InjectFaultAtFrame(3, Fault::Status(0x6000));
    adapter.InjectFault(CommandKind::kReadProtect, Fault::Status(0x6001).times(2));
    EXPECT_EQ(Ask({0x07, 0x00}), (Bytes{0, 0}));
    EXPECT_EQ(Ask({0x12, 0x32}), (Bytes{0x60, 0x01}));
    EXPECT_EQ(Ask({0x12, 0x32}), (Bytes{0x60, 0x00}));  // the frame-number fault wins
    EXPECT_EQ(Ask({0x12, 0x32}), (Bytes{0x60, 0x01}));
    EXPECT_EQ(Ask({0x12, 0x32}), (Bytes{0, 0, 0, 0}));
    adapter.InjectFault(CommandKind::kChipReset, Fault::NoReply().times(-1));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(Raw({0x07, 0x00}));
    adapter.ClearFaults();
    EXPECT_EQ(Ask({0x07, 0x00}), (Bytes{0, 0}));  // frame 9
    // At a frame number, TIMES n covers n frames from it, TIMES ALL every later one.
    adapter.InjectFaultAtFrame(11, Fault::Status(0x6002).times(2));
    adapter.InjectFaultAtFrame(14, Fault::NoReply().times(-1));
    EXPECT_EQ(Ask({0x07, 0x00}), (Bytes{0, 0}));
    EXPECT_EQ(Ask({0x07, 0x00}), (Bytes{0x60, 0x02}));
    EXPECT_EQ(Ask({0x07, 0x00}), (Bytes{0x60, 0x02}));
    EXPECT_EQ(Ask({0x07, 0x00}), (Bytes{0, 0}));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(Raw({0x07, 0x00}));
}

TEST_F(SimAdapterTest, TimingModelChargesCommandsErasedBlocksAndWrittenAndReadBytes) {
    adapter.timing = {100, 5000, 1000};
    const Bytes write = simtest::WritePayload(0, Bytes(1000, 0));
    EXPECT_EQ(adapter.CommandDurationUs(CommandKind::kWriteFlash, write.data(), write.size()),
              1100u);
    EXPECT_EQ(adapter.CommandDurationUs(CommandKind::kEraseBlock, nullptr, 0), 5100u);
    EXPECT_EQ(adapter.CommandDurationUs(CommandKind::kEraseChip, nullptr, 0), 4 * 5000u + 100);
    EXPECT_EQ(adapter.CommandDurationUs(CommandKind::kReadProtect, nullptr, 0), 100u);
    EXPECT_EQ(Raw(write)->durationUs, 1100u);
    // Reads cost nothing per byte unless asked to.
    const Bytes read = {0x05, 0x10, 0x30, 0x27, 0, 0, 0, 0, 0x01, 0xF4, 0x02};  // 500 bytes
    EXPECT_EQ(adapter.CommandDurationUs(CommandKind::kReadFlash, read.data(), read.size()), 100u);
    adapter.timing.perReadByteNs = 3000;
    EXPECT_EQ(Raw(read)->durationUs, 1600u);
}

TEST(CommandDecoding, EveryCommandOfTheTableIsRecognised) {
    struct Case {
        Bytes payload;
        CommandKind kind;
    } cases[] = {
        {simtest::WritePayload(0, {1}), CommandKind::kWriteFlash},
        {simtest::ReadPayload(0, 1000), CommandKind::kReadFlash},
        {simtest::ReadPayload(0, 2), CommandKind::kReadFlashWord},
        {{0x12, 0x10}, CommandKind::kEraseChip},
        {{0x12, 0x12, 0, 0, 0, 0}, CommandKind::kEraseBlock},
        {{0x12, 0x30}, CommandKind::kUnlockProtect},
        {{0x12, 0x32}, CommandKind::kReadProtect},
        {{0x07, 0x00}, CommandKind::kChipReset},
        {{0x07, 0x06, 0}, CommandKind::kSystemReset},
        {{0x0A, 0x03, 0x3F, 0x09}, CommandKind::kReadId64},
        {{0x0A, 0x05, 0x3F, 0x09}, CommandKind::kReadId128},
        {{0x0A, 0x04}, CommandKind::kSetTargetInfo},
        {{0x0A, 0x00, 0x3F, 0x01}, CommandKind::kGetChipName},
        {{0x0A, 0x00, 0x3F, 0x02}, CommandKind::kGetFirmVersion},
        {{0x0A, 0x00, 0x7F, 0xFF}, CommandKind::kErrorIndication},
        {{0x0A, 0x00, 0x00, 0x01}, CommandKind::kGetTextOther},
        {{0x00, 0xFD}, CommandKind::kRemovePowerOnState},
        {{0x0A, 0x03, 0x3F, 0x08}, CommandKind::kUnknown},
        {{}, CommandKind::kUnknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeCommand(c.payload.data(), c.payload.size()), c.kind)
            << CommandKindName(c.kind);
}

}  // namespace
