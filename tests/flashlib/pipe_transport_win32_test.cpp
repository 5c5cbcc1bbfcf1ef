// Windows build: the adapters' transport over real overlapped I/O. Each adapter is the
// simulator's firmware served over named pipes in this process (vexilsim/pipe_adapter.h);
// enumeration runs through SetupDi with the pipe devices added by its test seam.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
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

// Before the Win32 headers, whose INFINITE is a macro.
static constexpr uint32_t kNoWaitLimit = plat::INFINITE;

// Win32 headers last: they define ERROR_* and friends as macros.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: they need its types.
#include <aclapi.h>
#include <sddl.h>

namespace {

std::shared_ptr<vexilsim::SimAdapter> Adapter(const char* firmware) {
    auto adapter = std::make_shared<vexilsim::SimAdapter>(vexilsim::SimChip(mtrig::Description()));
    adapter->setFirmwareVersion(firmware);
    return adapter;
}

class PipeTransport : public ::testing::Test {
  protected:
    void TearDown() override {
        plat::SetWaitLimitForTesting(kNoWaitLimit);
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

// A request frame as the command channel sends it, taken from the adapter's record.
std::vector<uint8_t> FirmwareRequest(vexilsim::PipeAdapter& device) {
    CFlashApi api(device.path().c_str());
    char version[32] = {};
    EXPECT_EQ(api.GetFirmVersion(version, sizeof version), 1);
    return device.adapter().trace().front().frame;
}

TEST_F(PipeTransport, ReadWithoutReplyTimesOutIsCancelledAndThePipeGoesOn) {
    const std::vector<uint8_t> request = FirmwareRequest(device);

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
    plat::SetWaitLimitForTesting(kNoWaitLimit);

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

// A driver may end a cancelled read later, into the buffer and the shared record. Here the
// cancel leaves the read running until a reply ends it: ReadPipe waits for that, so nothing
// reaches the buffer once it returned, and the next exchange on the same record is clean.
TEST_F(PipeTransport, TimedOutReadHasEndedWhenReadPipeReturns) {
    const std::vector<uint8_t> request = FirmwareRequest(device);
    CUsbPipe pipe(VEXIL_INTERFACE_GUID, vexil::kChannelTransferSize);
    ASSERT_EQ(pipe.OpenDevice(device.path().c_str()), 1);
    ASSERT_EQ(pipe.OpenPipe(vexil::kReadPipe, 0), 1);
    HANDLE cancelAsked = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    plat::SetWaitLimitForTesting(0);
    plat::SetSlowCancelForTesting(cancelAsked);
    std::vector<uint8_t> buffer(vexil::kReplyBufferSize, 0xA5), atReturn;
    uint32_t got = 123;
    int result = -1;
    std::thread reader([&] {
        result = pipe.ReadPipe(buffer.data(), uint32_t(buffer.size()), got);
        atReturn = buffer;
    });
    // Once the cancel was asked for, a request past the transport brings the reply.
    EXPECT_EQ(::WaitForSingleObject(cancelAsked, 10000), WAIT_OBJECT_0);
    HANDLE writer = ::CreateFileA((device.path() + "\\PIPE00").c_str(), GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    DWORD n = 0;
    EXPECT_TRUE(::WriteFile(writer, request.data(), DWORD(request.size()), &n, nullptr));
    ::CloseHandle(writer);
    reader.join();
    plat::SetSlowCancelForTesting(nullptr);
    plat::SetWaitLimitForTesting(kNoWaitLimit);
    ::CloseHandle(cancelAsked);
    EXPECT_TRUE(result == 0 && got == 0);
    EXPECT_EQ(std::memcmp(atReturn.data(), vexil::kReplyMagic, sizeof vexil::kReplyMagic), 0)
        << "ReadPipe returned while its read was still running";
    EXPECT_EQ(buffer, atReturn);

    uint32_t written = 0;
    ASSERT_EQ(pipe.OpenPipe(vexil::kWritePipe, 0), 1);
    ASSERT_EQ(pipe.WritePipe(request.data(), uint32_t(request.size()), written), 1);
    ASSERT_EQ(pipe.OpenPipe(vexil::kReadPipe, 0), 1);
    EXPECT_EQ(pipe.ReadPipe(buffer.data(), uint32_t(buffer.size()), got), 1);
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
    plat::SetWaitLimitForTesting(kNoWaitLimit);
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

// This process's user (TokenUser) or integrity label (TokenIntegrityLevel) as SDDL text.
std::string TokenSid(TOKEN_INFORMATION_CLASS what) {
    HANDLE token = nullptr;
    unsigned char info[256];
    DWORD size = 0;
    char* text = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    // TOKEN_USER and TOKEN_MANDATORY_LABEL both begin with the SID's SID_AND_ATTRIBUTES.
    const bool ok =
        ::GetTokenInformation(token, what, info, sizeof info, &size) &&
        ::ConvertSidToStringSidA(reinterpret_cast<SID_AND_ATTRIBUTES*>(info)->Sid, &text);
    ::CloseHandle(token);
    const std::string sid = ok ? text : "";
    ::LocalFree(text);
    return sid;
}

// A pipe server made by hand with a security descriptor in SDDL, where %U stands for this
// user and %L for this process's integrity label. Single-instance pipes can be made busy.
struct HandMadePipe {
    explicit HandMadePipe(std::string sddl, DWORD instances = PIPE_UNLIMITED_INSTANCES) {
        for (size_t at; (at = sddl.find('%')) != std::string::npos;)
            sddl.replace(at, 2, TokenSid(sddl[at + 1] == 'U' ? TokenUser : TokenIntegrityLevel));
        PSECURITY_DESCRIPTOR sd = nullptr;
        EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
            sddl.c_str(), SDDL_REVISION_1, &sd, nullptr));
        SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
        static int serial = 0;
        path += std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial);
        server = ::CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, instances,
                                    4096, 4096, 0, &sa);
        ::LocalFree(sd);
    }
    ~HandMadePipe() { ::CloseHandle(server); }
    bool Opens() {
        CUsbPipe pipe(VEXIL_INTERFACE_GUID, vexil::kChannelTransferSize);
        return pipe.OpenDevice(path.c_str()) == 1;
    }

    std::string path = "\\\\.\\pipe\\quorvel-hand-made-";
    HANDLE server;
};

// Who made a pipe shows in its security descriptor. Wine runs every program as one user at one
// level, so pipes made by hand stand for another user's or a lower-integrity server.
TEST_F(PipeTransport, OnlyPipesThisUserMadeAtThisIntegrityServeAsAdapters) {
    // The simulator's pipes are owned by this user, who alone is admitted.
    HANDLE h =
        ::CreateFileA(device.path().c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PSID owner = nullptr, user = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(::GetSecurityInfo(h, SE_KERNEL_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &dacl, nullptr, &sd),
              DWORD(ERROR_SUCCESS));
    ::CloseHandle(h);
    ASSERT_TRUE(::ConvertStringSidToSidA(TokenSid(TokenUser).c_str(), &user));
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(dacl != nullptr && dacl->AceCount == 1 &&
                ::GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_TRUE(::EqualSid(reinterpret_cast<PSID>(&ace->SidStart), user));
    EXPECT_TRUE(owner != nullptr && ::EqualSid(owner, user));
    ::LocalFree(sd);
    ::LocalFree(user);

    // Labelled below this program's level: refused as not connected; at its level it opens.
    HandMadePipe low("O:%UD:P(A;;FA;;;%U)S:(ML;;NW;;;LW)"),
        same("O:%UD:P(A;;FA;;;%U)S:(ML;;NW;;;%L)");
    EXPECT_FALSE(low.Opens());
    EXPECT_TRUE(same.Opens());
    // Owned by someone else (where this user may make such a pipe at all).
    HandMadePipe theirs("O:BAD:(A;;FA;;;WD)S:(ML;;NW;;;%L)");
    if (theirs.server != INVALID_HANDLE_VALUE) {
        EXPECT_FALSE(theirs.Opens());
    }
}

// A pipe whose every instance is taken is waited for only briefly during enumeration.
TEST_F(PipeTransport, EnumerationWaitsBrieflyForABusyPipe) {
    HandMadePipe busy("O:%UD:P(A;;FA;;;%U)S:(ML;;NW;;;%L)", 1);
    HANDLE taken =
        ::CreateFileA(busy.path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(taken, INVALID_HANDLE_VALUE);
    ASSERT_EQ(::_putenv_s("VEXIL_PIPE_DEVICES", (busy.path + ";" + device.path()).c_str()), 0);
    plat::TakeWaitExpiriesForTesting();
    plat::SetWaitLimitForTesting(0);
    EXPECT_EQ(ApiCreateConnect(), 1);
    const plat::WaitExpiries expired = plat::TakeWaitExpiriesForTesting();
    ::_putenv_s("VEXIL_PIPE_DEVICES", "");
    ::CloseHandle(taken);
    int count = 0;
    EXPECT_TRUE(ApiGetTargetNum(&count) == 1 && count == 1);
    EXPECT_EQ(ApiDelConnect(), 1);
    EXPECT_EQ(expired.count, 1u);
    EXPECT_TRUE(expired.longestAskedMs > 0 && expired.longestAskedMs <= 250)
        << expired.longestAskedMs << " ms each: 32 busy pipes would hold a Plug up";
}

}  // namespace
