// Windows build: the adapters' transport over real overlapped I/O. Each adapter is the
// simulator's firmware served over named pipes in this process (vexilsim/pipe_adapter.h);
// enumeration runs through SetupDi with the pipe devices added by its test seam.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brindlex/api.h"
#include "brindlex/flash_api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/usb_pipe.h"
#include "brindlex/vexil_protocol.h"
#include "platform/device_enum_testing.h"
#include "platform/wait_testing.h"
#include "support/sample_target.h"
#include "vexilsim/pipe_adapter.h"

namespace {

std::shared_ptr<vexilsim::SimAdapter> Adapter(const char* firmware) {
    auto adapter = std::make_shared<vexilsim::SimAdapter>(vexilsim::SimChip(mtrig::Description()));
    adapter->setFirmwareVersion(firmware);
    return adapter;
}

class PipeTransport : public ::testing::Test {
  protected:
    void TearDown() override {
        plat::SetWaitLimitForTesting(plat::INFINITE);
        plat::SetExtraDeviceInterfacesForTesting(VEXIL_INTERFACE_GUID, {});
    }
    vexilsim::PipeAdapter device{Adapter("2.04")};
};

TEST_F(PipeTransport, OpenWriteReadOverOverlappedPipes) {
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, vexil::kChannelTransferSize);
    ASSERT_EQ(pipe.OpenDevice(device.path().c_str()), 1);
    // Pipes carry no control codes: the reset that every open issues fails, which the open
    // ignores (the pipe device counts the open itself as the reset).
    EXPECT_EQ(pipe.BusReset(), 0);
    ASSERT_EQ(pipe.OpenPipe(vexil::kWritePipe, 0), 1);
    EXPECT_EQ(std::string(pipe.GetCompletePipeName()), device.path() + "\\PIPE00");

    pipe.ClosePipe();
    pipe.CloseDevice();

    // A firmware version request, framed as the command channel frames it.
    CFlashApi api(device.path().c_str());
    char version[32] = {};
    ASSERT_EQ(api.GetFirmVersion(version, sizeof version), 1);
    EXPECT_STREQ(version, "2.04");
    EXPECT_TRUE(device.WaitForDeviceOpens(2));
    EXPECT_EQ(device.adapter().framesReceived(), 1u);

    // The same device again, after its handles were closed and reopened.
    ASSERT_EQ(api.GetFirmVersion(version, sizeof version), 1);
    EXPECT_STREQ(version, "2.04");
    EXPECT_EQ(device.queuedReplies(), 0u);
}

TEST_F(PipeTransport, ReadWithoutReplyTimesOutIsCancelledAndThePipeGoesOn) {
    // A request frame as the command channel sends it, taken from the adapter's record.
    {
        CFlashApi api(device.path().c_str());
        char version[32] = {};
        ASSERT_EQ(api.GetFirmVersion(version, sizeof version), 1);
    }
    const std::vector<uint8_t> request = device.adapter().trace().front().frame;

    CUsbPipe pipe(VEXIL_INTERFACE_GUID, vexil::kChannelTransferSize);
    ASSERT_EQ(pipe.OpenDevice(device.path().c_str()), 1);
    ASSERT_EQ(pipe.OpenPipe(vexil::kReadPipe, 0), 1);
    plat::TakeWaitExpiriesForTesting();
    plat::SetWaitLimitForTesting(0);
    uint8_t buffer[vexil::kReplyBufferSize];
    uint32_t got = 123;
    EXPECT_EQ(pipe.ReadPipe(buffer, sizeof buffer, got), 0);
    EXPECT_EQ(got, 0u);
    plat::WaitExpiries expired = plat::TakeWaitExpiriesForTesting();
    EXPECT_EQ(expired.count, 1u);
    EXPECT_EQ(expired.longestAskedMs, 10000u);  // the read time-out
    plat::SetWaitLimitForTesting(plat::INFINITE);

    // The cancelled read is gone: the same object writes the request and reads the reply
    // that the abandoned read did not take.
    uint32_t written = 0;
    ASSERT_EQ(pipe.OpenPipe(vexil::kWritePipe, 0), 1);
    ASSERT_EQ(pipe.WritePipe(request.data(), static_cast<uint32_t>(request.size()), written), 1);
    EXPECT_EQ(written, request.size());
    ASSERT_EQ(pipe.OpenPipe(vexil::kReadPipe, 0), 1);
    ASSERT_EQ(pipe.ReadPipe(buffer, sizeof buffer, got), 1);
    EXPECT_GT(got, vexil::kHeaderSize);
    EXPECT_EQ(std::memcmp(buffer, vexil::kReplyMagic, sizeof vexil::kReplyMagic), 0);
    EXPECT_EQ(device.queuedReplies(), 0u);
    pipe.ClosePipe();
}

TEST_F(PipeTransport, AdapterThatNeverAnswersFailsTheExchangeAndTheNextPlugReachesIt) {
    device.adapter().InjectFaultAtFrame(1, vexilsim::Fault::NoReply());
    CFlashApi api(device.path().c_str());
    char version[32] = {};
    plat::TakeWaitExpiriesForTesting();
    plat::SetWaitLimitForTesting(0);
    EXPECT_EQ(api.GetFirmVersion(version, sizeof version), 0);
    EXPECT_EQ(plat::TakeWaitExpiriesForTesting().longestAskedMs, 10000u);
    plat::SetWaitLimitForTesting(plat::INFINITE);
    // The host gave up at once; the next request, in a new plug (within one, a silent adapter
    // is not asked again), must reach the adapter after this one.
    api.setPlugStatus(PLUG_STARTED);
    ASSERT_TRUE(device.WaitForFrames(1));
    ASSERT_EQ(api.GetFirmVersion(version, sizeof version), 1);
    EXPECT_STREQ(version, "2.04");
}

TEST_F(PipeTransport, ConnectionListFindsPipeDevicesThroughSetupDi) {
    vexilsim::PipeAdapter second{Adapter("3.00")};
    plat::SetExtraDeviceInterfacesForTesting(VEXIL_INTERFACE_GUID, {device.path(), second.path()});
    ASSERT_EQ(ApiCreateConnect(), 1);
    int count = 0;
    ASSERT_EQ(ApiGetTargetNum(&count), 1);
    ASSERT_EQ(count, 2);
    char path[256] = {};
    uint32_t needed = 0;
    ASSERT_EQ(ApiGetDevicePathStr(2, path, sizeof path, &needed), 1);
    EXPECT_EQ(std::string(path), second.path());
    // Each target's reset goes to its own adapter and comes back as its status.
    for (int n : {1, 2}) {
        ASSERT_EQ(ApiSysResetPlug(n), 1);
        int status = -1;
        ASSERT_EQ(ApiGetTargetStatus(n, &status), 1);
        EXPECT_EQ(status, 0) << n;
    }
    EXPECT_FALSE(device.adapter().systemResetModes().empty());
    EXPECT_FALSE(second.adapter().systemResetModes().empty());
    EXPECT_EQ(ApiDelConnect(), 1);

    // Without the seam SetupDi alone answers: no driver, no adapter.
    plat::SetExtraDeviceInterfacesForTesting(VEXIL_INTERFACE_GUID, {});
    EXPECT_EQ(ApiCreateConnect(), 0);
}

// What a program run finds with VEXIL_PIPE_DEVICES: only local pipes that serve (under Wine
// every process runs as the same user, so a pipe of another user cannot be shown refused).
TEST_F(PipeTransport, EnumerationAddsThePipeDevicesTheVariableNames) {
    const std::string list = "C:\\Windows;\\\\.\\pipe\\vexil-nobody-serves-this;" + device.path() +
                             ";;\\\\elsewhere\\pipe\\vexil";
    ASSERT_EQ(::_putenv_s("VEXIL_PIPE_DEVICES", list.c_str()), 0);
    ASSERT_EQ(ApiCreateConnect(), 1);
    int count = 0;
    char path[256] = {};
    uint32_t needed = 0;
    EXPECT_TRUE(ApiGetTargetNum(&count) == 1 && count == 1);
    ASSERT_EQ(ApiGetDevicePathStr(1, path, sizeof path, &needed), 1);
    EXPECT_EQ(std::string(path), device.path());
    EXPECT_EQ(ApiSysResetPlug(1), 1);
    EXPECT_EQ(ApiDelConnect(), 1);
    ASSERT_EQ(::_putenv_s("VEXIL_PIPE_DEVICES", ""), 0);
    EXPECT_EQ(ApiCreateConnect(), 0);
}

}  // namespace
