#include "brindlex/usb_pipe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "brindlex/trg_connect_ctrl.h"
#include "platform/inproc_device.h"
#include "support/scripted_adapter.h"

using test::Bytes;
using test::ScriptedAdapter;

namespace {

class UsbPipeTest : public ::testing::Test {
  protected:
    void SetUp() override { path = test::RegisterAdapter(device, "pipe"); }
    void TearDown() override { plat::InprocClear(); }

    plat::InprocStats Stats() {
        plat::InprocStats s;
        plat::InprocGetStats(path, s);
        return s;
    }

    // Arms the adapter with a reply of n bytes by writing a request.
    void ArmReply(CUsbPipe& pipe, uint32_t n) {
        device->script.push_back(ScriptedAdapter::Reply(Bytes(n, 0xA5)));
        uint8_t request[16] = {};
        uint32_t written = 0;
        ASSERT_TRUE(pipe.OpenPipe(0, 0));
        ASSERT_TRUE(pipe.WritePipe(request, sizeof request, written));
        ASSERT_TRUE(pipe.OpenPipe(1, 0));
    }

    std::shared_ptr<ScriptedAdapter> device = std::make_shared<ScriptedAdapter>();
    std::string path;
};

TEST_F(UsbPipeTest, DeviceAndPipeLifeCycle) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 16384);
    EXPECT_EQ(pipe.GetMaximumTransferSize(), 16384u);
    EXPECT_EQ(pipe.GetMaxPacketSize(), 512u);
    EXPECT_TRUE(pipe.GetCurrentGuid() == VEXIL_INTERFACE_GUID);

    // Every successful open resets the adapter.
    ASSERT_EQ(pipe.OpenDevice(path.c_str()), 1);
    ASSERT_EQ(device->controls.size(), 1u);
    EXPECT_EQ(device->controls[0].code, 0x220004u);
    EXPECT_EQ(device->controls[0].pipe, -1);
    EXPECT_EQ(device->controls[0].in.size(), 512u);
    EXPECT_EQ(device->controls[0].outSize, 512u);

    ASSERT_EQ(pipe.OpenPipe(0, 0), 1);
    EXPECT_EQ(std::string(pipe.GetCompletePipeName()), path + "\\PIPE00");
    EXPECT_EQ(Stats().openHandles, 2u);
    // Opening the other pipe closes the first.
    ASSERT_EQ(pipe.OpenPipe(1, 0), 1);
    EXPECT_EQ(std::string(pipe.GetCompletePipeName()), path + "\\PIPE01");
    EXPECT_EQ(Stats().openHandles, 2u);

    // A pipe open on a closed device reopens it from the stored path, with its reset.
    pipe.ClosePipe();
    EXPECT_EQ(pipe.CloseDevice(), 1);
    EXPECT_EQ(Stats().openHandles, 0u);
    ASSERT_EQ(pipe.OpenPipe(0, 0), 1);
    EXPECT_EQ(Stats().opens, 2u);
    EXPECT_EQ(device->ControlCodes(), (std::vector<uint32_t>{0x220004, 0x220004}));

    // A pipe that cannot be opened takes the device down too, so the next try starts afresh.
    device->pipeOpenError = plat::ERROR_GEN_FAILURE;
    EXPECT_EQ(pipe.OpenPipe(1, 0), 0);
    EXPECT_EQ(Stats().openHandles, 0u);
    device->pipeOpenError = 0;
    EXPECT_EQ(pipe.OpenPipe(1, 0), 1);
    EXPECT_EQ(Stats().opens, 3u);

    // A device that refuses leaves the object closed; a pipe open then fails too.
    pipe.ClosePipe();
    device->deviceOpenError = plat::ERROR_ACCESS_DENIED;
    EXPECT_EQ(pipe.OpenDevice(path.c_str()), 0);
    EXPECT_EQ(pipe.OpenPipe(0, 0), 0);
    EXPECT_EQ(Stats().openHandles, 0u);
}

TEST_F(UsbPipeTest, ADevicePathTooLongForTheNameIsRefusedNotCut) {
    // Cut to the 255 characters the name holds, the path would name this other device.
    const std::string kept(255 - std::strlen(plat::kInprocPathPrefix), 'd');
    auto other = std::make_shared<ScriptedAdapter>();
    const std::string otherPath = test::RegisterAdapter(other, kept);
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 16384);
    EXPECT_EQ(pipe.OpenDevice((otherPath + "X").c_str()), 0);
    EXPECT_STREQ(pipe.GetCompleteDeviceName(), "");
    EXPECT_TRUE(other->controls.empty()) << "the other device was opened and reset";
    EXPECT_EQ(pipe.OpenDevice(otherPath.c_str()), 1);
}

TEST_F(UsbPipeTest, DestroyingTheObjectClosesWhatAFailedTransferLeftOpen) {
    {
        CUsbPipe pipe(VEXIL_INTERFACE_GUID, 16384);
        ASSERT_TRUE(pipe.OpenDevice(path.c_str()));
        ASSERT_TRUE(pipe.OpenPipe(1, 0));
        uint8_t buffer[64];
        uint32_t read = 0;
        EXPECT_EQ(pipe.ReadPipe(buffer, sizeof buffer, read), 0);  // no reply: time-out
        EXPECT_EQ(Stats().openHandles, 2u);
    }
    EXPECT_EQ(Stats().openHandles, 0u);
}

TEST_F(UsbPipeTest, WritesGoInFullChunksAndOneRemainder) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 64);
    ASSERT_TRUE(pipe.OpenDevice(path.c_str()));
    ASSERT_TRUE(pipe.OpenPipe(0, 0));
    uint8_t data[150];
    for (int i = 0; i < 150; ++i)
        data[i] = static_cast<uint8_t>(i);
    uint32_t written = 99;

    EXPECT_EQ(pipe.WritePipe(data, 0, written), 1);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(device->writeSizes.empty());

    EXPECT_EQ(pipe.WritePipe(data, 64, written), 1);
    EXPECT_EQ(written, 64u);
    EXPECT_EQ(device->writeSizes, (std::vector<uint32_t>{64}));

    device->writeSizes.clear();
    EXPECT_EQ(pipe.WritePipe(data, 150, written), 1);
    EXPECT_EQ(written, 150u);
    EXPECT_EQ(device->writeSizes, (std::vector<uint32_t>{64, 64, 22}));
    EXPECT_EQ(device->requests.back(), Bytes(data + 128, data + 150));

    // The same through pending transfers.
    plat::InprocSetSwitches(path, {false, true, false});
    device->writeSizes.clear();
    EXPECT_EQ(pipe.WritePipe(data, 150, written), 1);
    EXPECT_EQ(written, 150u);
    EXPECT_EQ(device->writeSizes, (std::vector<uint32_t>{64, 64, 22}));
    EXPECT_EQ(Stats().lastWriteWaitMs, 5000u);
}

TEST_F(UsbPipeTest, WriteFailures) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 64);
    ASSERT_TRUE(pipe.OpenDevice(path.c_str()));
    ASSERT_TRUE(pipe.OpenPipe(0, 0));
    uint8_t data[200] = {};
    uint32_t written = 0;

    // A full chunk taken only in part stops the write; the pipe stays open.
    device->writeResults.push_back(plat::InprocIo::Now(10));
    EXPECT_EQ(pipe.WritePipe(data, 200, written), 0);
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(device->writeSizes.size(), 1u);
    EXPECT_EQ(Stats().openHandles, 2u);

    // An outright failure of a full chunk keeps pipe and device open...
    device->writeResults.push_back(plat::InprocIo::Fail(plat::ERROR_GEN_FAILURE));
    EXPECT_EQ(pipe.WritePipe(data, 64, written), 0);
    EXPECT_EQ(Stats().openHandles, 2u);

    // ...one of the remainder closes both.
    device->writeResults.push_back(plat::InprocIo::Fail(plat::ERROR_GEN_FAILURE));
    EXPECT_EQ(pipe.WritePipe(data, 20, written), 0);
    EXPECT_EQ(Stats().openHandles, 0u);

    // No completion within 5000 ms: the write is cancelled.
    ASSERT_TRUE(pipe.OpenPipe(0, 0));
    device->writesStuck = true;
    EXPECT_EQ(pipe.WritePipe(data, 20, written), 0);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(Stats().lastWriteWaitMs, 5000u);
    EXPECT_EQ(Stats().cancelled, 1u);
}

TEST_F(UsbPipeTest, AShortPacketEndsAReadAtOnceOrPending) {
    for (bool pending : {false, true}) {
        SCOPED_TRACE(pending ? "pending" : "at once");
        plat::InprocSetSwitches(path, {pending, false, false});

        // The channel's settings: one remainder read.
        CUsbPipe big(VEXIL_INTERFACE_GUID, 16384);
        ASSERT_TRUE(big.OpenDevice(path.c_str()));
        ArmReply(big, 40);
        uint8_t buffer[4096];
        uint32_t read = 0;
        EXPECT_EQ(big.ReadPipe(buffer, sizeof buffer, read), 1);
        EXPECT_EQ(read, 40u);
        big.ClosePipe();

        // Full chunks: the short one ends the read without asking again.
        CUsbPipe small(VEXIL_INTERFACE_GUID, 64);
        ASSERT_TRUE(small.OpenDevice(path.c_str()));
        ArmReply(small, 40);
        device->readSizes.clear();
        EXPECT_EQ(small.ReadPipe(buffer, 256, read), 1);
        EXPECT_EQ(read, 40u);
        EXPECT_EQ(device->readSizes.size(), 1u);
        small.ClosePipe();
    }
}

TEST_F(UsbPipeTest, ReadFailures) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 16384);
    ASSERT_TRUE(pipe.OpenDevice(path.c_str()));
    ASSERT_TRUE(pipe.OpenPipe(1, 0));
    uint8_t buffer[4096];
    uint32_t read = 7;

    // Nothing within 10000 ms: the read is cancelled, the pipe stays open.
    EXPECT_EQ(pipe.ReadPipe(buffer, sizeof buffer, read), 0);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(Stats().lastReadWaitMs, 10000u);
    EXPECT_EQ(Stats().expiredReadWaits, 1u);
    EXPECT_EQ(Stats().cancelled, 1u);
    EXPECT_EQ(Stats().openHandles, 2u);

    // A remainder read that fails outright closes pipe and device.
    device->script.push_back([](const Bytes&) {
        return ScriptedAdapter::Answer{ScriptedAdapter::Answer::kFail, {}};
    });
    uint8_t request[16] = {};
    uint32_t written = 0;
    ASSERT_TRUE(pipe.OpenPipe(0, 0));
    ASSERT_TRUE(pipe.WritePipe(request, sizeof request, written));
    ASSERT_TRUE(pipe.OpenPipe(1, 0));
    EXPECT_EQ(pipe.ReadPipe(buffer, sizeof buffer, read), 0);
    EXPECT_EQ(Stats().openHandles, 0u);
}

TEST_F(UsbPipeTest, PipeControlRequestsCarryTheEndpoint) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 16384);
    ASSERT_TRUE(pipe.OpenDevice(path.c_str()));
    ASSERT_TRUE(pipe.OpenPipe(1, 0));
    device->controls.clear();

    EXPECT_EQ(pipe.ClrFeature(1), 1);
    ASSERT_EQ(device->controls.size(), 2u);
    EXPECT_EQ(device->controls[0].code, 0x220038u);
    EXPECT_EQ(device->controls[0].pipe, -1);
    EXPECT_EQ(device->controls[1].code, 0x220008u);
    EXPECT_EQ(device->controls[1].pipe, 1);
    for (const auto& c : device->controls) {
        ASSERT_EQ(c.in.size(), 512u);
        EXPECT_EQ(c.in[0], 0x82);
        EXPECT_EQ(c.in[1], 0x00);
    }

    ASSERT_TRUE(pipe.OpenPipe(0, 0));
    device->controls.clear();
    EXPECT_EQ(pipe.resetPipe(0), 1);
    ASSERT_EQ(device->controls.size(), 1u);
    EXPECT_EQ(device->controls[0].code, 0x220008u);
    EXPECT_EQ(device->controls[0].pipe, 0);
    EXPECT_EQ(device->controls[0].in[0], 0x01);
}

TEST_F(UsbPipeTest, DescriptorRequests) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 16384);
    ASSERT_TRUE(pipe.OpenDevice(path.c_str()));
    device->controls.clear();

    // Always 512 bytes each way, but nothing beyond length lands in the caller's buffer.
    uint8_t buffer[32];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint16_t returned = 0;
    EXPECT_EQ(pipe.GetDescriptor(0x01, 0x02, 0x0409, buffer, 18, returned), 1);
    ASSERT_EQ(device->controls.size(), 1u);
    const auto& c = device->controls[0];
    EXPECT_EQ(c.code, 0x22000Cu);
    ASSERT_EQ(c.in.size(), 512u);
    EXPECT_EQ(c.outSize, 512u);
    EXPECT_EQ(Bytes(c.in.begin(), c.in.begin() + 6), (Bytes{0x01, 0x02, 0x09, 0x04, 18, 0}));
    EXPECT_EQ(returned, 18) << "what was copied, not what the driver returned";
    EXPECT_EQ(buffer[18], 0xEE);

    uint8_t config[40] = {};
    EXPECT_EQ(pipe.GetConfigDesc(config, sizeof config, returned), 1);
    EXPECT_EQ(device->controls[1].code, 0x220000u);
    EXPECT_EQ(device->controls[1].in.size(), 40u);
    EXPECT_EQ(device->controls[1].outSize, 40u);

    // A driver that returns less than length: what it returned is what was copied.
    device->controlReturnLimit = 8;
    EXPECT_EQ(pipe.GetDescriptor(0x01, 0x02, 0x0409, buffer, 18, returned), 1);
    EXPECT_EQ(returned, 8);
}

TEST_F(UsbPipeTest, RequestControlCodesAndHead) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, 16384);
    ASSERT_TRUE(pipe.OpenDevice(path.c_str()));
    struct Case {
        int kind, direction, recipient;
        uint32_t code;
    };
    const Case cases[] = {{0, 0, 0, 0x220014}, {0, 1, 0, 0x220010}, {0, 0, 1, 0x220024},
                          {0, 1, 1, 0x220020}, {1, 0, 0, 0x22001C}, {1, 1, 0, 0x220018},
                          {1, 0, 1, 0x22002C}, {1, 1, 1, 0x220028}};
    for (const Case& k : cases) {
        device->controls.clear();
        uint8_t buffer[2 + 7] = {'A', 'B'};
        uint16_t returned = 0;
        EXPECT_EQ(pipe.RequestControl(static_cast<REQ_TYPE>(k.kind),
                                      static_cast<DIRECT_TYPE>(k.direction),
                                      static_cast<DEST_TYPE>(k.recipient), 0x33, 0x1234, 0x5678, 2,
                                      buffer, returned),
                  1);
        ASSERT_EQ(device->controls.size(), 1u);
        EXPECT_EQ(device->controls[0].code, k.code);
        EXPECT_EQ(device->controls[0].in,
                  (Bytes{0x33, 0x34, 0x12, 0x78, 0x56, 0x02, 0x00, 'A', 'B'}));
        EXPECT_EQ(device->controls[0].outSize, 4u);
    }

    // Kinds other than 0 and 1 are refused without touching the buffer.
    device->controls.clear();
    uint8_t buffer[9] = {'A', 'B'};
    uint16_t returned = 0;
    EXPECT_EQ(pipe.RequestControl(static_cast<REQ_TYPE>(2), DIRECT_OUT, DEST_DEVICE, 1, 2, 3, 2,
                                  buffer, returned),
              0);
    EXPECT_TRUE(device->controls.empty());
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_EQ(buffer[2], 0);
}

}  // namespace
