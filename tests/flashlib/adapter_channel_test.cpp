#include "adapter_channel.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brindlex/flash_status.h"
#include "brindlex/quorvel_api.h"
#include "platform/inproc_device.h"
#include "support/scripted_adapter.h"

using test::Bytes;
using test::ReplyFrame;
using test::ScriptedAdapter;

namespace {

constexpr uint32_t kReset = 0x220004;
constexpr uint32_t kClearFeature = 0x220038;
constexpr uint32_t kResetPipe = 0x220008;

class AdapterChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path = test::RegisterAdapter(device, "channel");
        channel = std::make_unique<AdapterChannel>(path.c_str());
        device->controls.clear();
    }
    void TearDown() override {
        ApiObj.SetExchangeWaitHook(nullptr, nullptr);
        channel.reset();
        plat::InprocClear();
    }

    plat::InprocStats Stats() {
        plat::InprocStats s;
        plat::InprocGetStats(path, s);
        return s;
    }

    // The next reply echoes the request's sequence number plus delta.
    void ReplyNext(const Bytes& payload, int delta = 0) {
        device->script.push_back(
            ScriptedAdapter::ReplyWith([payload, delta](uint8_t seq, const Bytes&) {
                return ReplyFrame(static_cast<uint8_t>(seq + delta), payload);
            }));
    }

    std::shared_ptr<ScriptedAdapter> device = std::make_shared<ScriptedAdapter>();
    std::string path;
    std::unique_ptr<AdapterChannel> channel;
};

TEST_F(AdapterChannelTest, RequestFramesAndSequenceNumbers) {
    ASSERT_EQ(channel->TargetChipReset(), 1);
    ASSERT_EQ(channel->TargetChipReset(), 1);
    ASSERT_EQ(device->requests.size(), 2u);
    EXPECT_EQ(device->requests[0], (Bytes{'C', 'H', 'R', 'M', 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00}));
    EXPECT_EQ(device->requests[1][5], 1);
    EXPECT_EQ(channel->getSequence(), 2);
    // One write and one 4096-byte read per frame; the pipes are closed afterwards.
    EXPECT_EQ(device->writeSizes, (std::vector<uint32_t>{18, 18}));
    EXPECT_EQ(device->readSizes, (std::vector<uint32_t>{4096, 4096}));
    EXPECT_EQ(Stats().openHandles, 1u);
    EXPECT_TRUE(device->controls.empty());

    // The number wraps from 255 to 0.
    for (int i = 2; i < 256; ++i)
        ASSERT_EQ(channel->TargetChipReset(), 1);
    EXPECT_EQ(channel->getSequence(), 0);
    ASSERT_EQ(channel->TargetChipReset(), 1);
    EXPECT_EQ(device->requests.back()[5], 0);
}

TEST_F(AdapterChannelTest, AStaleSequenceNumberFailsAndTheNextRequestMovesOn) {
    ASSERT_EQ(channel->TargetChipReset(), 1);
    ReplyNext({0, 0}, -1);  // answers with the earlier request's number
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_SEQUENCE);
    EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{kReset}));
    EXPECT_EQ(Stats().openHandles, 0u);

    // The device is opened afresh and the next request carries the next number.
    ASSERT_EQ(channel->TargetChipReset(), 1);
    EXPECT_EQ(device->requests.back()[5], 2);
    EXPECT_EQ(Stats().opens, 2u);
    // A success does not clear the last failure.
    EXPECT_EQ(channel->getLastError(), FLASH_SEQUENCE);
}

TEST_F(AdapterChannelTest, ReplyFramesAreCheckedLengthFirst) {
    struct Case {
        const char* what;
        std::function<Bytes(uint8_t seq)> frame;
        uint32_t error;  // 0: accepted
    };
    auto withMagic = [](Bytes frame, const char* magic, uint8_t version = 1) {
        std::memcpy(frame.data(), magic, 4);
        frame[4] = version;
        return frame;
    };
    const Case cases[] = {
        // The erase-block reply accepts 3 payload bytes.
        {"exactly the capacity",
         [](uint8_t s) {
             return ReplyFrame(s, {0, 0, 0x55});
         },
         0},
        {"bytes beyond the payload",
         [](uint8_t s) {
             Bytes f = ReplyFrame(s, {0, 0});
             f.push_back(0x99);
             return f;
         },
         0},
        {"over capacity with a bad magic",
         [&](uint8_t s) {
             return withMagic(ReplyFrame(s, {0, 0, 0, 0}), "XXXX");
         },
         FLASH_RECEIVE_FAILED},
        {"shorter than a header", [](uint8_t s) { return Bytes(10, 0); }, FLASH_RECEIVE_FAILED},
        {"cut off",
         [](uint8_t s) {
             Bytes f = ReplyFrame(s, {0, 0, 0});
             f.pop_back();
             return f;
         },
         FLASH_RECEIVE_FAILED},
        {"bad magic",
         [&](uint8_t s) {
             return withMagic(ReplyFrame(s, {0, 0}), "CHRM");
         },
         FLASH_BAD_MAGIC},
        {"bad version",
         [&](uint8_t s) {
             return withMagic(ReplyFrame(s, {0, 0}), "CHPM", 2);
         },
         FLASH_BAD_MAGIC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device->controls.clear();
        auto make = c.frame;
        device->script.push_back(
            ScriptedAdapter::ReplyWith([make](uint8_t s, const Bytes&) { return make(s); }));
        const uint8_t before = channel->getSequence();
        EXPECT_EQ(channel->FlashEraseBlock(0x4000), c.error == 0 ? 1 : 0);
        EXPECT_EQ(channel->getSequence(), static_cast<uint8_t>(before + 1));
        if (c.error != 0) {
            EXPECT_EQ(channel->getLastError(), c.error);
            EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{kReset}));
            // The device was closed: the next exchange opens it again.
            const uint32_t opens = Stats().opens;
            EXPECT_EQ(channel->TargetChipReset(), 1);
            EXPECT_EQ(Stats().opens, opens + 1);
        }
    }
}

TEST_F(AdapterChannelTest, EmptyReplyAndLostReply) {
    device->script.push_back(ScriptedAdapter::Reply({}));
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_EMPTY_REPLY);
    EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{kClearFeature, kResetPipe}));
    EXPECT_EQ(device->controls[1].pipe, 1);
    EXPECT_EQ(Stats().openHandles, 0u);

    device->controls.clear();
    device->script.push_back(ScriptedAdapter::NoReply());
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_RECEIVE_FAILED);
    EXPECT_EQ(Stats().lastReadWaitMs, 10000u);
    EXPECT_EQ(Stats().cancelled, 1u);
    // Reopening the device resets it, then the failed read resets it again.
    EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{kReset, kReset}));

    // An adapter that timed out is not waited for again: the next exchange fails at once
    // with the same status and spends its number, until a new plug forgets the time-out.
    const size_t written = device->requests.size();
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_RECEIVE_FAILED);
    EXPECT_EQ(device->requests.size(), written);
    EXPECT_EQ(channel->getSequence(), 3);
    channel->ForgetTimeout();
    // The read pipe left open by the time-out is closed by the next exchange.
    ASSERT_EQ(channel->TargetChipReset(), 1);
    EXPECT_EQ(Stats().openHandles, 1u);
}

TEST_F(AdapterChannelTest, TheWaitHookIsAskedEverySliceAndMayGiveTheExchangeUp) {
    struct Hook {
        int calls = 0;
        int goOnFor = 1 << 30;  // answers 1 this many times, then 0
        AdapterChannel* reenter = nullptr;
        int reentered = -1;
        static int Call(void* context) {
            auto* h = static_cast<Hook*>(context);
            if (h->reenter != nullptr)
                h->reentered = h->reenter->TargetChipReset();
            return ++h->calls <= h->goOnFor ? 1 : 0;
        }
    } hook;
    ApiObj.SetExchangeWaitHook(Hook::Call, &hook);

    // A hook that always goes on: the time-out still ends the wait, after 100 slices, and an
    // exchange asked for from inside the hook fails at once without a frame.
    hook.reenter = channel.get();
    device->script.push_back(ScriptedAdapter::NoReply());
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(hook.calls, 99);
    EXPECT_EQ(hook.reentered, 0);
    EXPECT_EQ(device->requests.size(), 1u);
    EXPECT_EQ(Stats().lastReadWaitMs, 100u);
    EXPECT_EQ(Stats().expiredReadWaits, 100u);
    EXPECT_EQ(channel->getTimeoutError(), uint32_t{FLASH_RECEIVE_FAILED});
    channel->ForgetTimeout();
    hook.reenter = nullptr;

    // So does a write that is never taken.
    device->writesStuck = true;
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(Stats().lastWriteWaitMs, 100u);
    EXPECT_EQ(channel->getTimeoutError(), uint32_t{FLASH_SEND_FAILED});
    channel->ForgetTimeout();
    device->writesStuck = false;

    // Given up at the third slice: the exchange fails, but as no time-out.
    hook.calls = 0;
    hook.goOnFor = 2;
    device->script.push_back(ScriptedAdapter::NoReply());
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_RECEIVE_FAILED);
    EXPECT_EQ(hook.calls, 3);
    EXPECT_EQ(channel->getTimeoutError(), 0u);
    // Once it said stop, a wait that is not over at once asks it at once.
    device->script.push_back(ScriptedAdapter::NoReply());
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(hook.calls, 4);
    EXPECT_EQ(Stats().lastReadWaitMs, 0u);
    // An answer that is there at once never reaches the hook.
    EXPECT_EQ(channel->TargetChipReset(), 1);
    EXPECT_EQ(hook.calls, 4);
}

TEST_F(AdapterChannelTest, SendFailures) {
    // A pending write that completes with nothing written.
    plat::InprocSetSwitches(path, {false, true, false});
    device->writeResults.push_back(plat::InprocIo::Now(0));
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_SEND_FAILED);
    EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{kClearFeature, kResetPipe}));
    EXPECT_EQ(device->controls[1].pipe, 0);
    EXPECT_EQ(Stats().openHandles, 0u);
    EXPECT_EQ(channel->getSequence(), 1);

    // A pending write that completes with only part of the frame taken fails the same way.
    device->writeResults.push_back(plat::InprocIo::Now(5));
    device->controls.clear();
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_SEND_FAILED);
    EXPECT_EQ(device->ControlCodes(),
              (std::vector<uint32_t>{kReset, kClearFeature, kResetPipe}));  // reopen first

    // A write taken in part at once, and one that fails outright.
    plat::InprocSetSwitches(path, {false, false, false});
    device->writeResults.push_back(plat::InprocIo::Now(5));
    device->controls.clear();
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_SEND_FAILED);
    EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{kReset, kReset}));  // reopen, reset
    device->writeResults.push_back(plat::InprocIo::Fail(plat::ERROR_GEN_FAILURE));
    device->controls.clear();
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_SEND_FAILED);
    // The failed remainder closed the device; the reset opens it again (and resets it).
    EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{kReset, kReset, kReset}));
    EXPECT_EQ(channel->getSequence(), 4);

    device->pipeOpenError = plat::ERROR_GEN_FAILURE;
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_NOT_CONNECTED);
    EXPECT_EQ(channel->getNotConnected(), 1);
    device->pipeOpenError = 0;
    EXPECT_EQ(channel->TargetChipReset(), 1);
    EXPECT_EQ(channel->getNotConnected(), 0);
}

TEST_F(AdapterChannelTest, SplitHalvesShareOneSequenceNumber) {
    const uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(channel->FlashWrite_trans(0x100, 3, data), 1);
    EXPECT_EQ(channel->getSequence(), 0);
    ASSERT_EQ(channel->FlashWrite_receive(), 1);
    EXPECT_EQ(channel->getSequence(), 1);

    // A failed send half spends its number; the next request does not reuse it.
    device->pipeOpenError = plat::ERROR_GEN_FAILURE;
    EXPECT_EQ(channel->FlashWrite_trans(0x100, 3, data), 0);
    EXPECT_EQ(channel->getSequence(), 2);
    device->pipeOpenError = 0;
    ReplyNext({0, 0, 0x44});
    ASSERT_EQ(channel->TargetSystemReset_trans(0x02), 1);
    EXPECT_EQ(device->requests.back()[5], 2);
    uint8_t result = 0;
    ASSERT_EQ(channel->TargetSystemReset_receive(result), 1);
    EXPECT_EQ(result, 0x44);
    EXPECT_EQ(channel->getSequence(), 3);

    // A receive half without a reply also moves on.
    device->script.push_back(ScriptedAdapter::NoReply());
    ASSERT_EQ(channel->FlashEraseChip_trans(), 1);
    EXPECT_EQ(channel->FlashEraseChip_receive(), 0);
    EXPECT_EQ(channel->getSequence(), 4);
}

TEST_F(AdapterChannelTest, AdapterStatusWords) {
    const uint8_t data[4] = {};
    ReplyNext({0x63, 0x05});
    EXPECT_EQ(channel->FlashWrite(0x1000, 4, data), 0);
    EXPECT_EQ(channel->getLastError(), 0x6305u);
    // The recovery steps are for the transport only.
    EXPECT_TRUE(device->controls.empty());

    // A failing status comes alone; a successful one must bring what the command reads.
    uint32_t id[2] = {};
    ReplyNext({0x60, 0x01});
    EXPECT_EQ(channel->TargetReadProductID(id), 0);
    EXPECT_EQ(channel->getLastError(), 0x6001u);
    ReplyNext({0x00, 0x00, 1, 2});
    EXPECT_EQ(channel->TargetReadProductID(id), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_RECEIVE_FAILED);
    ReplyNext({0x00});
    EXPECT_EQ(channel->TargetChipReset(), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_RECEIVE_FAILED);
}

Bytes TextReply(uint8_t length, const std::string& text) {
    Bytes payload(3 + text.size());
    payload[2] = length;
    std::copy(text.begin(), text.end(), payload.begin() + 3);
    return payload;
}

TEST_F(AdapterChannelTest, GetTextCopiesNoMoreThanBufferAndReplyHold) {
    char buffer[12];
    // The length byte says 20; the reply holds what the command accepts (12 + 4 bytes).
    ReplyNext(TextReply(20, "ABCDEFGHIJKLM"));
    ASSERT_EQ(channel->GetText(0x3F02, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "ABCDEFGHIJK");
    EXPECT_EQ(test::PayloadOf(device->requests.back()), (Bytes{0x0A, 0x00, 0x3F, 0x02}));

    // A length byte larger than the characters sent.
    ReplyNext(TextReply(9, "1.1"));
    ASSERT_EQ(channel->GetText(0x3F02, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "1.1");

    ReplyNext(TextReply(0, "junk"));
    ASSERT_EQ(channel->GetText(0x3F01, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "");

    // More than the buffer size + 4 is more than the command accepts.
    ReplyNext(TextReply(14, "ABCDEFGHIJKLMN"));
    EXPECT_EQ(channel->GetText(0x3F01, buffer, sizeof buffer), 0);
    EXPECT_EQ(channel->getLastError(), FLASH_RECEIVE_FAILED);
}

TEST_F(AdapterChannelTest, UnlockLengthWrapsWithoutReadingPastTheWords) {
    for (unsigned count : {3u, 127u, 128u, 130u}) {
        SCOPED_TRACE(count);
        // Exactly count words, so a read beyond them shows under the address sanitizer.
        std::vector<uint16_t> words(count);
        for (unsigned i = 0; i < count; ++i)
            words[i] = static_cast<uint16_t>(0x0100 * i + 0x11);
        ASSERT_EQ(channel->FlashUnlockProtect(static_cast<uint8_t>(count), words.data()), 1);
        Bytes payload = test::PayloadOf(device->requests.back());
        const size_t length = 2 + (2 * count) % 256;
        ASSERT_EQ(payload.size(), length);
        EXPECT_EQ(payload[0], 0x12);
        EXPECT_EQ(payload[1], 0x30);
        for (size_t i = 0; 2 + 2 * i < length; ++i) {
            EXPECT_EQ(payload[2 + 2 * i], words[i] >> 8);
            EXPECT_EQ(payload[3 + 2 * i], words[i] & 0xFF);
        }
    }
}

TEST(AdapterChannelConnect, ADeviceThatCouldNotBeOpenedIsTriedAgainByTheNextCommand) {
    auto device = std::make_shared<ScriptedAdapter>();
    device->deviceOpenError = plat::ERROR_ACCESS_DENIED;
    std::string path = test::RegisterAdapter(device, "late");
    {
        AdapterChannel channel(path.c_str());
        EXPECT_EQ(channel.getNotConnected(), 1);
        EXPECT_EQ(channel.TargetChipReset(), 0);
        EXPECT_EQ(channel.getLastError(), FLASH_NOT_CONNECTED);
        EXPECT_TRUE(device->requests.empty());

        device->deviceOpenError = 0;
        EXPECT_EQ(channel.TargetChipReset(), 1);
        EXPECT_EQ(channel.getNotConnected(), 0);
        EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{0x220004}));
        EXPECT_EQ(device->requests.back()[5], 1);
    }
    // Nothing stays open once the channel is gone.
    plat::InprocStats stats;
    plat::InprocGetStats(path, stats);
    EXPECT_EQ(stats.openHandles, 0u);
    plat::InprocClear();
}

}  // namespace
