#include "brindlex/flash_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brindlex/vexil_protocol.h"
#include "platform/inproc_device.h"
#include "support/scripted_adapter.h"

using test::Bytes;
using test::PayloadOf;
using test::ReplyFrame;
using test::ScriptedAdapter;

namespace {

uint8_t Pattern(uint32_t address) {
    return static_cast<uint8_t>(address ^ (address >> 8));
}

// Answers flash reads with Pattern bytes, everything else with status 0.
Bytes Respond(const Bytes& p) {
    if (p.size() == 11 && p[0] == 0x05 && p[1] == 0x10) {
        const uint32_t address = vexil::GetBE32(p.data() + 4);
        const uint16_t length = vexil::GetBE16(p.data() + 8);
        Bytes reply{0, 0, p[8], p[9]};
        for (uint32_t i = 0; i < length; ++i)
            reply.push_back(Pattern(address + i));
        return reply;
    }
    // Erase block, system reset and remove power-on state answer one byte more.
    if (p.size() >= 2 && ((p[0] == 0x12 && p[1] == 0x12) || (p[0] == 0x07 && p[1] == 0x06) ||
                          (p[0] == 0x00 && p[1] == 0xFD)))
        return {0, 0, 0};
    return {0, 0};
}

// Areas [0x0000, 0x7FFF] and [0x8000, 0xF7FF], blocks of 0x4000, four blocks, 0x800 reserved.
CTargetInfo TwoAreaTarget() {
    CTargetInfo info;
    std::strcpy(info.name, "TWOAREA");
    info.targetIdBitNum = 64;
    info.targetId32 = 0x00000400;  // four blocks
    info.areaCount = 2;
    info.areas[0] = {0x0000, 0x7FFF};
    info.areas[1] = {0x8000, 0xF7FF};
    info.blockSize = 0x4000;
    info.sizeFromBits13 = 0x800;
    return info;
}

CTargetInfo OneAreaTarget() {
    CTargetInfo info = TwoAreaTarget();
    info.areaCount = 1;
    info.areas[0] = {0x0000, 0x0FFF};
    return info;
}

class FlashApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device->responder = Respond;
        path = test::RegisterAdapter(device, "flash");
        api = std::make_unique<CFlashApi>(path.c_str());
        api->setTargetInfo(TwoAreaTarget());
    }
    void TearDown() override {
        api.reset();
        plat::InprocClear();
    }

    std::shared_ptr<ScriptedAdapter> device = std::make_shared<ScriptedAdapter>();
    std::string path;
    std::unique_ptr<CFlashApi> api;
};

TEST(FlashApiState, ConstructionAndTargetInformation) {
    auto device = std::make_shared<ScriptedAdapter>();
    std::string path = test::RegisterAdapter(device, "state");
    {
        CFlashApi api(path.c_str());
        EXPECT_EQ(api.getStatus(), FLASH_OK);
        EXPECT_EQ(api.getPlugStatus(), PLUG_NONE);
        EXPECT_EQ(api.getEnableFlg(), 1);
        EXPECT_EQ(api.getFirmVer(), 0u);
        EXPECT_EQ(api.getLastBlockIndex(), 0);
        EXPECT_EQ(api.getTargetInfo()->areaCount, 0u);

        CTargetInfo info;
        std::memset(info.name, 'N', sizeof info.name);  // no terminator
        std::strcpy(info.version, "1.23456789X");
        info.targetId32 = 0x00800300;
        info.targetIdBitNum = 64;
        info.targetId64 = 0xF0;  // ignored for 64-bit identities
        info.areaCount = 1000;
        info.romWinEnd = 0x1234;
        info.testStart = 0xF800;
        api.setTargetInfo(info);
        const CTargetInfo* kept = api.getTargetInfo();
        EXPECT_EQ(std::strlen(kept->name), 255u);
        EXPECT_STREQ(kept->version, "1.2345678");
        EXPECT_EQ(kept->areaCount, 256u);
        EXPECT_EQ(kept->romWinEnd, 0x1234u);
        EXPECT_EQ(kept->testStart, 0xF800u);
        EXPECT_EQ(api.getLastBlockIndex(), 2);
        EXPECT_EQ(api.getSecType(), 1);

        // 128-bit identities take the high four bits of the block count from targetId64.
        info.targetIdBitNum = 128;
        info.targetId64 = 0x1F;
        api.setTargetInfo(info);
        EXPECT_EQ(api.getLastBlockIndex(), 0x12);
        info.targetId32 = 0;
        info.targetId64 = 0;
        api.setTargetInfo(info);
        EXPECT_EQ(api.getLastBlockIndex(), 255);
        EXPECT_EQ(api.getSecType(), 0);
    }
    // A device that cannot be opened leaves the adapter "not connected" from the start.
    device->deviceOpenError = plat::ERROR_ACCESS_DENIED;
    CFlashApi refused(path.c_str());
    EXPECT_EQ(refused.getStatus(), FLASH_NOT_CONNECTED);
    plat::InprocClear();
}

TEST_F(FlashApiTest, SerialBytes) {
    uint32_t length = 99;
    api->getSN(nullptr, 0, length);
    EXPECT_EQ(length, 0u);

    const uint8_t sn[4] = {1, 2, 3, 4};
    api->setSN(sn, 4);
    uint8_t small[3] = {9, 9, 9};
    api->getSN(small, sizeof small, length);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(small[0], 9);
    uint8_t room[4] = {};
    api->getSN(room, sizeof room, length);
    EXPECT_EQ(Bytes(room, room + 4), Bytes(sn, sn + 4));
}

TEST_F(FlashApiTest, EndOfBlockAndFlashSize) {
    uint32_t end = 0;
    EXPECT_EQ(api->getEndAddrBlock(0xC123, end), 1);
    EXPECT_EQ(end, 0xFFFFu);  // the top block reaches over the reserved area
    EXPECT_EQ(api->getEndAddrBlock(0x1234, end), 1);
    EXPECT_EQ(end, 0x3FFFu);
    EXPECT_EQ(api->getEndAddrBlock(0x9000, end), 1);
    EXPECT_EQ(end, 0xBFFFu);
    end = 7;
    EXPECT_EQ(api->getEndAddrBlock(0xF800, end), 0);
    EXPECT_EQ(end, 7u);
    EXPECT_EQ(api->checkFlashSize(0x10000), 1);
    EXPECT_EQ(api->checkFlashSize(0x10001), 0);

    api->setTargetInfo(OneAreaTarget());
    EXPECT_EQ(api->getEndAddrBlock(0x10, end), 1);
    EXPECT_EQ(end, 0x0FFFu);
    EXPECT_EQ(api->checkFlashSize(0x4000), 1);
    EXPECT_EQ(api->checkFlashSize(0x4001), 0);
    EXPECT_EQ(api->checkSingleAddress(0x0FFF), 1);
    EXPECT_EQ(api->checkSingleAddress(0x1000), 0);

    // Without areas the flash has size 0.
    api->setTargetInfo(CTargetInfo{});
    EXPECT_EQ(api->checkFlashSize(0), 1);
    EXPECT_EQ(api->checkFlashSize(1), 0);
    EXPECT_EQ(api->checkSingleAddress(0), 0);
}

TEST_F(FlashApiTest, BlockReadsPackTheAreaBytes) {
    std::vector<uint8_t> out(0x4000 + 16, 0xEE);
    uint32_t count = 0;
    ASSERT_EQ(api->FlashReadBlock(0xC000, count, out.data()), 1);
    EXPECT_EQ(count, 0x4000u);
    EXPECT_EQ(out[0], Pattern(0xC000));
    EXPECT_EQ(out[0x3FFF], Pattern(0xFFFF));
    EXPECT_EQ(out[0x4000], 0xEE);
    // The block is read in commands of at most 1000 bytes, from its start upward.
    ASSERT_EQ(device->requests.size(), 17u);
    EXPECT_EQ(PayloadOf(device->requests[0]),
              (Bytes{0x05, 0x10, 0x30, 0x27, 0x00, 0x00, 0xC0, 0x00, 0x03, 0xE8, 0x02}));
    EXPECT_EQ(PayloadOf(device->requests[16]),
              (Bytes{0x05, 0x10, 0x30, 0x27, 0x00, 0x00, 0xFE, 0x80, 0x01, 0x80, 0x02}));

    api->setTargetInfo(OneAreaTarget());
    ASSERT_EQ(api->FlashReadBlock(0x10, count, out.data()), 1);
    EXPECT_EQ(count, 0x1000u);

    // Gaps between areas are left out.
    CTargetInfo gaps = OneAreaTarget();
    gaps.areaCount = 2;
    gaps.areas[0] = {0x10100, 0x101FF};
    gaps.areas[1] = {0x10300, 0x103FF};
    api->setTargetInfo(gaps);
    device->requests.clear();
    ASSERT_EQ(api->FlashReadBlock(0x10000, count, out.data()), 1);
    EXPECT_EQ(count, 0x200u);
    EXPECT_EQ(out[0], Pattern(0x10100));
    EXPECT_EQ(out[0x100], Pattern(0x10300));
    EXPECT_EQ(device->requests[0][16 + 3], 0x2B);

    // A failed command ends the read with the adapter's reason.
    device->script.push_back(ScriptedAdapter::ReplyWith([](uint8_t s, const Bytes&) {
        return ReplyFrame(s, {0x63, 0x03});
    }));
    EXPECT_EQ(api->FlashReadBlock(0x10000, count, out.data()), 0);
    EXPECT_EQ(api->getStatus(), 0x6303u);
    EXPECT_EQ(count, 0u);

    // So does a reply with fewer bytes than asked for.
    device->script.push_back(ScriptedAdapter::ReplyWith([](uint8_t s, const Bytes&) {
        return ReplyFrame(s, {0, 0, 0, 1, 0x42});
    }));
    EXPECT_EQ(api->FlashReadBlock(0x10000, count, out.data()), 0);
    EXPECT_EQ(api->getStatus(), FLASH_RECEIVE_FAILED);
}

TEST_F(FlashApiTest, ContinuousReadsStopAtTheSize) {
    // Areas 0x0000-0x7FFF and 0x8000-0xF7FF plus the reserved 0x800: 0x10000 bytes.
    std::vector<uint8_t> out(0x10000 + 16, 0xEE);
    uint32_t count = 0;
    ASSERT_EQ(api->FlashReadCont(0x10000, count, out.data()), 1);
    EXPECT_EQ(count, 0x10000u);
    EXPECT_EQ(out[0x9ABC], Pattern(0x9ABC));
    EXPECT_EQ(out[0x10000], 0xEE);

    // A size inside a block: nothing lands beyond it.
    std::fill(out.begin(), out.end(), 0xEE);
    ASSERT_EQ(api->FlashReadCont(0x4100, count, out.data()), 1);
    EXPECT_EQ(count, 0x4100u);
    EXPECT_EQ(out[0x40FF], Pattern(0x40FF));
    EXPECT_EQ(out[0x4100], 0xEE);

    device->requests.clear();
    EXPECT_EQ(api->FlashReadCont(0x10001, count, out.data()), 0);
    EXPECT_EQ(api->getStatus(), FLASH_READ_SIZE);
    EXPECT_TRUE(device->requests.empty());
    EXPECT_EQ(api->FlashReadCont(0, count, out.data()), 1);
    EXPECT_EQ(count, 0u);

    // More than the areas hold although the flash is large enough: the read ends at the
    // flash's end instead of running on through the address space.
    api->setTargetInfo(OneAreaTarget());
    device->requests.clear();
    EXPECT_EQ(api->FlashReadCont(0x2000, count, out.data()), 0);
    EXPECT_EQ(api->getStatus(), FLASH_READ_SIZE);
    EXPECT_EQ(device->requests.size(), 17u);
}

TEST_F(FlashApiTest, WritesInChunksOfAThousand) {
    std::vector<uint8_t> image(3000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 3);
    ASSERT_EQ(api->FlashWrite(10, 2509, 0x0FF0, image.data()), 1);
    ASSERT_EQ(device->requests.size(), 3u);
    const uint32_t addresses[] = {0x0FF0, 0x13D8, 0x17C0};
    const uint32_t lengths[] = {1000, 1000, 500};
    for (int i = 0; i < 3; ++i) {
        Bytes p = PayloadOf(device->requests[i]);
        ASSERT_EQ(p.size(), 11u + lengths[i]);
        EXPECT_EQ(Bytes(p.begin(), p.begin() + 4), (Bytes{0x05, 0x00, 0x30, 0x27}));
        EXPECT_EQ(vexil::GetBE32(p.data() + 4), addresses[i]);
        EXPECT_EQ(p[8], 0x02);
        EXPECT_EQ(vexil::GetBE16(p.data() + 9), lengths[i]);
        EXPECT_EQ(p[11], image[10 + i * 1000]);
        EXPECT_EQ(p.back(), image[10 + i * 1000 + lengths[i] - 1]);
    }

    // A last index below the first, a count of 2^32, an address outside the flash, a failure
    // half-way.
    device->requests.clear();
    for (uint32_t last : {9u, 0u}) {
        EXPECT_EQ(api->FlashWrite(10, last, 0x0FF0, image.data()), 0) << last;
        EXPECT_EQ(api->getStatus(), FLASH_WRITE_ADDRESS) << last;
    }
    EXPECT_EQ(api->FlashWrite(0, 0xFFFFFFFF, 0x0FF0, image.data()), 0);
    EXPECT_EQ(api->getStatus(), FLASH_WRITE_ADDRESS);
    EXPECT_TRUE(device->requests.empty());
    EXPECT_EQ(api->FlashWrite(0, 9, 0xF800, image.data()), 0);
    EXPECT_EQ(api->getStatus(), FLASH_WRITE_ADDRESS);
    EXPECT_TRUE(device->requests.empty());
    device->script.push_back(ScriptedAdapter::ReplyWith([](uint8_t s, const Bytes&) {
        return ReplyFrame(s, {0, 0});
    }));
    device->script.push_back(ScriptedAdapter::ReplyWith([](uint8_t s, const Bytes&) {
        return ReplyFrame(s, {0x63, 0x05});
    }));
    EXPECT_EQ(api->FlashWrite(0, 2999, 0, image.data()), 0);
    EXPECT_EQ(api->getStatus(), 0x6305u);
    EXPECT_EQ(device->requests.size(), 2u);
    // The next operation starts with a clear status.
    EXPECT_EQ(api->FlashWrite(0, 0, 0, image.data()), 1);
    EXPECT_EQ(api->getStatus(), FLASH_OK);
}

TEST_F(FlashApiTest, SendHalfOfAWrite) {
    std::vector<uint8_t> data(1500, 0x5A);
    uint32_t sent = 0;
    ASSERT_EQ(api->FlashWrite_trans(0x2000, 1500, data.data(), sent), 1);
    EXPECT_EQ(sent, 1000u);
    ASSERT_EQ(device->requests.size(), 1u);
    EXPECT_EQ(PayloadOf(device->requests[0]).size(), 1011u);
    ASSERT_EQ(api->FlashWrite_receive(), 1);

    sent = 77;
    EXPECT_EQ(api->FlashWrite_trans(0xF900, 10, data.data(), sent), 0);
    EXPECT_EQ(api->getStatus(), FLASH_WRITE_ADDRESS);
    EXPECT_EQ(sent, 77u);

    // A failed send still reports what it tried to send.
    device->pipeOpenError = plat::ERROR_GEN_FAILURE;
    EXPECT_EQ(api->FlashWrite_trans(0x2000, 300, data.data(), sent), 0);
    EXPECT_EQ(sent, 300u);
    EXPECT_EQ(api->getStatus(), FLASH_NOT_CONNECTED);
}

TEST_F(FlashApiTest, SerialNumberMerge) {
    const uint8_t sn[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    api->setSN(sn, 4);
    const std::vector<uint8_t> zeros(1500, 0);
    auto sentData = [&]() {
        Bytes p = PayloadOf(device->requests.back());
        return Bytes(p.begin() + 11, p.end());
    };
    auto merged = [&](uint32_t serialAddress, uint32_t length = 16) {
        uint32_t sent = 0;
        EXPECT_EQ(api->FlashWrite_trans_WithSN(0x100, length, zeros.data(), sent, serialAddress),
                  1);
        EXPECT_EQ(api->FlashWrite_receive(), 1);
        return sentData();
    };
    Bytes expect(16, 0);

    // Starting before the chunk and ending inside it: the tail of the serial bytes.
    expect[0] = 0xA3;
    expect[1] = 0xA4;
    EXPECT_EQ(merged(0xFE), expect);
    // Wholly inside.
    expect.assign(16, 0);
    std::memcpy(&expect[4], sn, 4);
    EXPECT_EQ(merged(0x104), expect);
    // Running past the chunk's end.
    expect.assign(16, 0);
    expect[14] = 0xA1;
    expect[15] = 0xA2;
    EXPECT_EQ(merged(0x10E), expect);
    // Touching neither end, and beyond the 1000 bytes that go in one chunk.
    EXPECT_EQ(merged(0x110), Bytes(16, 0));
    EXPECT_EQ(merged(0x100 + 1000, 1500), Bytes(1000, 0));
    // The caller's data stay as they were.
    EXPECT_EQ(zeros, std::vector<uint8_t>(1500, 0));

    api->setSN(nullptr, 0);
    EXPECT_EQ(merged(0x104), Bytes(16, 0));
}

TEST_F(FlashApiTest, AddressChecksFailBeforeContactingTheAdapter) {
    // Erasing from the middle of a block erases the block from its start.
    ASSERT_EQ(api->FlashEraseBlock(0x5123), 1);
    EXPECT_EQ(PayloadOf(device->requests.back()), (Bytes{0x12, 0x12, 0x00, 0x00, 0x40, 0x00}));

    device->requests.clear();
    EXPECT_EQ(api->FlashEraseBlock(0xF800), 0);
    EXPECT_EQ(api->getStatus(), FLASH_ERASE_ADDRESS);
    EXPECT_EQ(api->FlashEraseBlock_trans(0x20000), 0);
    EXPECT_EQ(api->getStatus(), FLASH_ERASE_ADDRESS);
    uint16_t word = 0;
    EXPECT_EQ(api->FlashReadRand(0x10000, word), 0);
    EXPECT_EQ(api->getStatus(), FLASH_READ_ADDRESS);
    EXPECT_EQ(api->VexilSetTargetInfo(0x2000, 0x1FFF, 0xF7EF), 0);
    EXPECT_EQ(api->getStatus(), FLASH_TARGET_INFO);
    EXPECT_EQ(api->VexilSetTargetInfo(0x0000, 0x1FFF, 0xF800), 0);
    EXPECT_EQ(api->getStatus(), FLASH_TARGET_INFO);
    EXPECT_TRUE(device->requests.empty());
    // An equal window start and end is a window.
    EXPECT_EQ(api->VexilSetTargetInfo(0x2000, 0x2000, 0xF7EF), 1);
}

TEST_F(FlashApiTest, StatusRules) {
    // Operations clear the status on entry; receive halves and ErrorFunction leave it.
    api->setStatus(FLASH_PROTECTED);
    ASSERT_EQ(api->FlashEraseChip_trans(), 1);
    EXPECT_EQ(api->getStatus(), FLASH_OK);
    api->setStatus(FLASH_PROTECTED);
    ASSERT_EQ(api->FlashEraseChip_receive(), 1);
    EXPECT_EQ(api->getStatus(), FLASH_PROTECTED);
    device->script.push_back(ScriptedAdapter::ReplyWith([](uint8_t s, const Bytes&) {
        return ReplyFrame(s, {0x60, 0x00});
    }));
    EXPECT_EQ(api->ErrorFunction(), 0);
    EXPECT_EQ(api->getStatus(), FLASH_PROTECTED);
    EXPECT_EQ(PayloadOf(device->requests.back()), (Bytes{0x0A, 0x00, 0x7F, 0xFF}));
}

}  // namespace
