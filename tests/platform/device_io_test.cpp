#include "platform/device_io.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/device_provider.h"
#include "platform/inproc_device.h"
#include "support/test_device.h"

namespace {

using namespace plat;
using testdev::ScriptedDevice;

const std::string kPath = "\\\\?\\inproc#test#0001";

class DeviceIo : public ::testing::Test {
  protected:
    void SetUp() override {
        InprocClear();
        device = std::make_shared<ScriptedDevice>();
        ASSERT_TRUE(InprocRegister(kPath, device));
        event = CreateEventA(nullptr, true, false, nullptr);
    }
    void TearDown() override {
        if (event != nullptr)
            CloseHandle(event);
        InprocClear();
    }

    HANDLE OpenPipe(int pipe) {
        std::string name = kPath + (pipe == 0 ? "\\PIPE00" : "\\PIPE01");
        return CreateFileA(name.c_str(), pipe == 0 ? GENERIC_WRITE : GENERIC_READ,
                           pipe == 0 ? FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    }
    OVERLAPPED Overlapped() {
        OVERLAPPED ov{};
        ov.hEvent = event;
        return ov;
    }
    InprocStats Stats() {
        InprocStats s;
        EXPECT_TRUE(InprocGetStats(kPath, s));
        return s;
    }

    std::shared_ptr<ScriptedDevice> device;
    HANDLE event = nullptr;
};

TEST_F(DeviceIo, PathsReachTheDeviceAndItsPipes) {
    HANDLE dev = CreateFileA("\\\\?\\INPROC#Test#0001", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
    ASSERT_TRUE(IsOpenHandle(dev));  // device paths are case-insensitive
    HANDLE p0 = OpenPipe(0);
    HANDLE p1 = OpenPipe(1);
    ASSERT_TRUE(IsOpenHandle(p0));
    ASSERT_TRUE(IsOpenHandle(p1));
    EXPECT_EQ(device->opened, (std::vector<int>{kDeviceItself, 0, 1}));
    EXPECT_EQ(Stats().openHandles, 3u);
    EXPECT_EQ(Stats().opens, 1u);

    EXPECT_EQ(CreateFileA((kPath + "\\PIPE02").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(
        CreateFileA("\\\\?\\inproc#other", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileA("/dev/null", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);

    // Data only flows host to device on pipe 0 and back on pipe 1, with the rights asked for.
    uint8_t buf[4] = {1, 2, 3, 4};
    uint32_t n = 99;
    OVERLAPPED ov = Overlapped();
    EXPECT_FALSE(ReadFile(p0, buf, 4, &n, &ov));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(WriteFile(p1, buf, 4, &n, &ov));
    EXPECT_FALSE(WriteFile(dev, buf, 4, &n, nullptr));
    HANDLE readOnly0 = CreateFileA((kPath + "\\PIPE00").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_FALSE(WriteFile(readOnly0, buf, 4, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(device->written.empty());

    for (HANDLE h : {dev, p0, p1, readOnly0})
        EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(Stats().openHandles, 0u);
    EXPECT_EQ(device->closed.size(), 4u);
}

TEST_F(DeviceIo, RefusedOpenReportsTheDevicesError) {
    device->refuseOpen = ERROR_ACCESS_DENIED;
    EXPECT_EQ(CreateFileA(kPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Stats().openHandles, 0u);
}

TEST_F(DeviceIo, TransfersCompletingAtOnceSignalTheEventAndReportShortPackets) {
    HANDLE p0 = OpenPipe(0), p1 = OpenPipe(1);
    const uint8_t frame[3] = {7, 8, 9};
    uint32_t n = 0;
    OVERLAPPED ov = Overlapped();
    ASSERT_TRUE(WriteFile(p0, frame, 3, &n, &ov));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(device->written.at(0), (std::vector<uint8_t>{7, 8, 9}));

    device->Queue({1, 2, 3, 4, 5});
    ResetEvent(event);
    uint8_t buf[4096] = {};
    ASSERT_TRUE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(buf[4], 5);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(n, 5u);

    // A packet longer than the read is cut to the read's length.
    device->Queue({1, 2, 3, 4, 5});
    ASSERT_TRUE(ReadFile(p1, buf, 2, &n, &ov));
    EXPECT_EQ(n, 2u);
    CloseHandle(p0);
    CloseHandle(p1);
}

TEST_F(DeviceIo, PendingTransfersCompleteThroughTheWaitAndRecordItsTimeout) {
    InprocSwitches sw;
    sw.pendingReads = sw.pendingWrites = true;
    ASSERT_TRUE(InprocSetSwitches(kPath, sw));
    HANDLE p0 = OpenPipe(0), p1 = OpenPipe(1);
    OVERLAPPED ov = Overlapped();
    uint32_t n = 77;

    const uint8_t frame[2] = {0xAA, 0xBB};
    EXPECT_FALSE(WriteFile(p0, frame, 2, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(device->written.empty());  // not yet handed to the device
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(p0, &ov, &n, true));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(device->written.at(0), (std::vector<uint8_t>{0xAA, 0xBB}));

    device->Queue({9, 8, 7});
    ResetEvent(event);
    uint8_t buf[64] = {};
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(p1, &ov, &n, true));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(buf[0], 9);

    InprocStats s = Stats();
    EXPECT_EQ(s.lastWriteWaitMs, 5000u);
    EXPECT_EQ(s.lastReadWaitMs, 10000u);
    EXPECT_EQ(s.readWaits, 1u);
    EXPECT_EQ(s.expiredReadWaits + s.expiredWriteWaits, 0u);

    // Completion is also fetched without a wait on the event.
    device->Queue({1});
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    ASSERT_TRUE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(n, 1u);
    CloseHandle(p0);
    CloseHandle(p1);
}

TEST_F(DeviceIo, ATransferThatNeverCompletesTimesOutAtOnceAndCancelAborts) {
    device->readMode = InprocIo::kNever;
    device->writeMode = InprocIo::kNever;
    HANDLE p0 = OpenPipe(0), p1 = OpenPipe(1);
    OVERLAPPED ov = Overlapped();
    uint8_t buf[64];
    uint32_t n = 0;

    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_TIMEOUT);
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, true));  // fails instead of hanging
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_TRUE(CancelIo(p1));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    n = 5;
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, true));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(n, 0u);

    ResetEvent(event);
    OVERLAPPED wov = Overlapped();
    EXPECT_FALSE(WriteFile(p0, buf, 8, &n, &wov));
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_TIMEOUT);
    EXPECT_TRUE(CancelIo(p0));
    EXPECT_FALSE(GetOverlappedResult(p0, &wov, &n, true));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

    InprocStats s = Stats();
    EXPECT_EQ(s.lastReadWaitMs, 0xFFFFFFFFu);  // the last read wait was GetOverlappedResult's
    EXPECT_EQ(s.lastWriteWaitMs, 5000u);
    EXPECT_EQ(s.expiredReadWaits, 3u);
    EXPECT_EQ(s.expiredWriteWaits, 1u);
    EXPECT_EQ(s.cancelled, 2u);
    // The pipe stays usable after a cancelled transfer.
    device->readMode = InprocIo::kNow;
    device->Queue({4});
    EXPECT_TRUE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    CloseHandle(p0);
    CloseHandle(p1);
}

TEST_F(DeviceIo, ATransferNotYetReadyCompletesWhenTheDeviceNotifies) {
    device->readMode = InprocIo::kNotYet;
    HANDLE p1 = OpenPipe(1);
    OVERLAPPED ov = Overlapped();
    uint8_t buf[16];
    uint32_t n = 0;
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    std::thread producer([this] {
        device->Queue({42, 43});
        device->readMode = InprocIo::kNow;
        InprocNotify();
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    producer.join();
    ASSERT_TRUE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(buf[1], 43);
    CloseHandle(p1);
}

TEST_F(DeviceIo, ClosingAPipeWithAPendingTransferCancelsItWhateverTheEventsFate) {
    device->readMode = InprocIo::kNever;
    uint8_t buf[16];
    uint32_t n = 0;

    // Event still open: it is signalled, nothing dangles.
    HANDLE p1 = OpenPipe(1);
    OVERLAPPED ov = Overlapped();
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    EXPECT_TRUE(CloseHandle(p1));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, true));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    // Event closed first, then the pipe.
    p1 = OpenPipe(1);
    HANDLE ev2 = CreateEventA(nullptr, true, false, nullptr);
    OVERLAPPED ov2{};
    ov2.hEvent = ev2;
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov2));
    EXPECT_TRUE(CloseHandle(ev2));
    EXPECT_FALSE(GetOverlappedResult(p1, &ov2, &n, false));  // still pending, no crash
    EXPECT_TRUE(CloseHandle(p1));

    // The device handle closed with a pipe transfer pending leaves the pipe working.
    HANDLE dev = CreateFileA(kPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             0, nullptr);
    p1 = OpenPipe(1);
    ResetEvent(event);
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    EXPECT_TRUE(CloseHandle(dev));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(p1));

    EXPECT_EQ(Stats().cancelled, 3u);
    EXPECT_EQ(Stats().openHandles, 0u);
}

TEST_F(DeviceIo, ControlRequestsReachTheDeviceWithTheirCodeAndHandle) {
    HANDLE dev = CreateFileA(kPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             0, nullptr);
    HANDLE p1 = OpenPipe(1);
    uint8_t buf[4] = {1, 2, 3, 4};
    uint32_t returned = 0;
    // One buffer as input and output, as the callers pass it.
    ASSERT_TRUE(DeviceIoControl(dev, 0x220004, buf, 4, buf, 4, &returned, nullptr));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(buf[0], 4);
    EXPECT_EQ(buf[3], 1);
    ASSERT_TRUE(DeviceIoControl(p1, 0x220008, buf, 2, buf, 1, &returned, nullptr));
    EXPECT_EQ(returned, 1u);
    EXPECT_FALSE(DeviceIoControl(dev, 0xDEAD, buf, 4, buf, 4, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    ASSERT_EQ(device->controls.size(), 3u);
    EXPECT_EQ(device->controls[0].pipe, kDeviceItself);
    EXPECT_EQ(device->controls[0].code, 0x220004u);
    EXPECT_EQ(device->controls[1].pipe, 1);
    EXPECT_EQ(device->controls[1].in, (std::vector<uint8_t>{4, 3}));
    EXPECT_FALSE(DeviceIoControl(dev, 1, nullptr, 4, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(dev);
    CloseHandle(p1);
}

TEST_F(DeviceIo, AnUnpluggedDeviceFailsOpenHandlesAndNewOpens) {
    HANDLE dev = CreateFileA(kPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             0, nullptr);
    HANDLE p1 = OpenPipe(1);
    device->readMode = InprocIo::kNever;
    OVERLAPPED ov = Overlapped();
    uint8_t buf[8];
    uint32_t n = 0;
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));

    device->connected = false;
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);  // the pending read fails
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(DeviceIoControl(dev, 0x220004, buf, 8, buf, 8, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(OpenPipe(0), INVALID_HANDLE_VALUE);

    device->connected = true;
    ASSERT_TRUE(InprocUnregister(kPath));
    EXPECT_FALSE(ReadFile(p1, buf, sizeof buf, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(OpenPipe(1), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(p1));  // the device object outlives its registration
    EXPECT_TRUE(CloseHandle(dev));
}

TEST(DevicePaths, PipeSuffixIsSplitOff) {
    std::string dev;
    int pipe = 0;
    SplitPipePath("\\\\?\\inproc#a\\PIPE01", dev, pipe);
    EXPECT_EQ(dev, "\\\\?\\inproc#a");
    EXPECT_EQ(pipe, 1);
    SplitPipePath("\\\\?\\inproc#a\\pipe12", dev, pipe);
    EXPECT_EQ(pipe, 12);
    SplitPipePath("\\\\?\\inproc#a", dev, pipe);
    EXPECT_EQ(dev, "\\\\?\\inproc#a");
    EXPECT_EQ(pipe, kDeviceItself);
    SplitPipePath("\\\\?\\inproc#a\\PIPE", dev, pipe);
    EXPECT_EQ(pipe, kDeviceItself);
    SplitPipePath("\\\\?\\inproc#a\\PIPE0x", dev, pipe);
    EXPECT_EQ(pipe, kDeviceItself);
}

}  // namespace
