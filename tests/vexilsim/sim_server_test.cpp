// The vexil-sim server in this process, reached by the library through the socket device
// provider exactly as a separate daemon is.
#include "vexilsim/sim_server.h"

#include <dirent.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "brindlex/flash_api.h"
#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/vexil_protocol.h"
#include "platform/device_io.h"
#include "support/sim_fixtures.h"
#include "support/sim_temp_dir.h"

namespace {

using namespace vexilsim;
using simtest::TempDir;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

AdapterSetup Adapter(const std::string& name) {
    auto a = std::make_shared<SimAdapter>(SimChip(simtest::SmallTarget()));
    a->timing = SimTiming{0, 0, 0};
    a->setTraceEnabled(false);
    return {name, a};
}

class SimServerTest : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("VEXIL_DEVICE_DIR", devDir.c_str(), 1); }
    void TearDown() override {
        StopServer();
        server.reset();
        ::unsetenv("VEXIL_DEVICE_DIR");
    }

    ServerOptions Options() {
        ServerOptions o;
        o.deviceDir = devDir;
        o.dumpDir = dir / "dump";
        o.interfaceClass = VEXIL_INTERFACE_GUID;
        return o;
    }
    void Start(std::vector<AdapterSetup> adapters) {
        server = std::make_unique<SimServer>(std::move(adapters), Options());
        std::string error;
        ASSERT_TRUE(server->Listen(error)) << error;
        thread = std::thread([this] { server->Run(); });
    }
    void StopServer() {
        if (thread.joinable()) {
            server->Stop();
            thread.join();
        }
    }
    std::string Path(const std::string& name) { return devDir + "/" + name; }

    TempDir dir;
    std::string devDir = dir / "dev";
    std::unique_ptr<SimServer> server;
    std::thread thread;
};

TEST_F(SimServerTest, TheLibraryFindsTheAdaptersInNameOrderAndWorksThemAllAtOnce) {
    std::vector<AdapterSetup> adapters = {Adapter("vexil-b"), Adapter("vexil-a"),
                                          Adapter("vexil-c")};
    adapters[1].adapter->setFirmwareVersion("2.34");
    Start(adapters);

    CTrgConnectCtrl ctrl;
    ASSERT_EQ(ctrl.GetUsbDevice(), 1);
    ASSERT_EQ(ctrl.CreateFlashApi(), 1);
    ASSERT_EQ(ctrl.GetSizeDevObj(), 3);
    char path[256];
    uint32_t needed = 0;
    ASSERT_EQ(ctrl.GetDevicePathStr(1, path, sizeof path, needed), 1);
    EXPECT_EQ(std::string(path), Path("vexil-a"));

    char version[16] = {};
    CFlashApi* first = ctrl.GetIndexDevObj(1);
    EXPECT_EQ(first->getStatus(), 0);
    ASSERT_EQ(first->GetFirmVersion(version, sizeof version), 1);
    EXPECT_STREQ(version, "2.34");

    // Send to every adapter first, then collect, as the all-target operations do.
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 1);
    for (int n = 1; n <= 3; ++n) {
        ctrl.GetIndexDevObj(n)->setTargetInfo(simtest::SmallTarget());
        ASSERT_EQ(ctrl.GetIndexDevObj(n)->FlashEraseBlock_trans(0x1000), 1);
    }
    for (int n = 1; n <= 3; ++n)
        ASSERT_EQ(ctrl.GetIndexDevObj(n)->FlashEraseBlock_receive(), 1);
    for (int n = 1; n <= 3; ++n) {
        uint32_t sent = 0;
        ASSERT_EQ(ctrl.GetIndexDevObj(n)->FlashWrite_trans(0x1100, 1000, data.data(), sent), 1);
    }
    for (int n = 1; n <= 3; ++n)
        ASSERT_EQ(ctrl.GetIndexDevObj(n)->FlashWrite_receive(), 1);
    std::vector<uint8_t> block(0x1000);
    uint32_t count = 0;
    ASSERT_EQ(ctrl.GetIndexDevObj(3)->FlashReadBlock(0x1100, count, block.data()), 1);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 0x100, block.begin() + 0x100 + 1000), data);

    // The dump holds each chip's whole flash under the adapter's name.
    StopServer();
    std::string error;
    ASSERT_TRUE(server->DumpFlash(error)) << error;
    for (const char* name : {"vexil-a", "vexil-b", "vexil-c"}) {
        auto dump = simtest::ReadFileBytes(dir / "dump" + "/" + SimServer::DumpFileName(name));
        ASSERT_EQ(dump.size(), 0x4000u) << name;
        EXPECT_EQ(std::vector<uint8_t>(dump.begin() + 0x1100, dump.begin() + 0x1100 + 1000), data);
        EXPECT_EQ(dump[0x10FF], 0xFF);
    }
}

TEST_F(SimServerTest, ARefusedOpenLeavesTheAdapterNotConnectedUntilItOpensAgain) {
    auto a = Adapter("vexil-01");
    a.adapter->RefuseOpens(1);
    Start({a});
    CFlashApi flash(Path("vexil-01").c_str());
    EXPECT_EQ(flash.getStatus(), FLASH_NOT_CONNECTED);
    // The next command opens the device again, which resets it.
    char version[16] = {};
    EXPECT_EQ(flash.GetFirmVersion(version, sizeof version), 1);
    EXPECT_EQ(flash.getStatus(), 0);
    StopServer();
    EXPECT_GE(a.adapter->controlCounts().busResets, 1u);
}

// The host side of one adapter, by hand.
struct RawHost {
    explicit RawHost(const std::string& path) : path(path) {
        event = plat::CreateEventA(nullptr, true, false, nullptr);
        device = plat::CreateFileA(path.c_str(), plat::GENERIC_READ | plat::GENERIC_WRITE, 0,
                                   nullptr, plat::OPEN_ALWAYS, 0, nullptr);
    }
    ~RawHost() {
        plat::CloseHandle(device);
        plat::CloseHandle(event);
    }
    bool Send(const std::vector<uint8_t>& frame) {
        plat::HANDLE pipe =
            plat::CreateFileA((path + "\\PIPE00").c_str(), plat::GENERIC_WRITE, 0, nullptr,
                              plat::OPEN_EXISTING, plat::FILE_FLAG_OVERLAPPED, nullptr);
        plat::OVERLAPPED ov{};
        ov.hEvent = event;
        uint32_t n = 0;
        bool ok = plat::WriteFile(pipe, frame.data(), static_cast<uint32_t>(frame.size()), &n, &ov);
        plat::CloseHandle(pipe);
        return ok;
    }
    std::vector<uint8_t> Receive(uint32_t ms) {
        plat::HANDLE pipe =
            plat::CreateFileA((path + "\\PIPE01").c_str(), plat::GENERIC_READ, 0, nullptr,
                              plat::OPEN_EXISTING, plat::FILE_FLAG_OVERLAPPED, nullptr);
        std::vector<uint8_t> buf(4096);
        plat::OVERLAPPED ov{};
        ov.hEvent = event;
        uint32_t n = 0;
        bool ok = plat::ReadFile(pipe, buf.data(), 4096, &n, &ov);
        if (!ok && plat::GetLastError() == plat::ERROR_IO_PENDING) {
            if (plat::WaitForSingleObject(event, ms) == plat::WAIT_OBJECT_0)
                ok = plat::GetOverlappedResult(pipe, &ov, &n, false);
            else
                plat::CancelIo(pipe);
        }
        plat::CloseHandle(pipe);
        buf.resize(ok ? n : 0);
        return buf;
    }
    bool BusReset() {
        uint8_t io[512] = {};
        uint32_t returned = 0;
        return plat::DeviceIoControl(device, vexil::IOCTL_RESET_DEVICE, io, 512, io, 512, &returned,
                                     nullptr);
    }
    std::string path;
    plat::HANDLE event;
    plat::HANDLE device;
};

TEST_F(SimServerTest, AResetVoidsRepliesStillInTheMaking) {
    auto a = Adapter("vexil-01");
    a.adapter->timing.perCommandUs = 50000;
    Start({a});
    RawHost host(Path("vexil-01"));
    ASSERT_TRUE(plat::IsOpenHandle(host.device));
    ASSERT_TRUE(host.Send(simtest::Request(1, {0x07, 0x06, 0x00})));
    ASSERT_TRUE(host.BusReset());
    ASSERT_TRUE(host.Send(simtest::Request(2, {0x07, 0x06, 0x00})));
    // The first reply would have come first; only the second one arrives.
    auto reply = host.Receive(10000);
    ASSERT_GE(reply.size(), 16u);
    EXPECT_EQ(reply[vexil::kOffSequence], 2);
}

TEST_F(SimServerTest, ADisconnectUnplugsTheAdapterWhileTheOthersCarryOn) {
    auto gone = Adapter("vexil-01");
    gone.adapter->InjectFault(CommandKind::kReadId64, Fault::Disconnect());
    Start({gone, Adapter("vexil-02")});
    CFlashApi first(Path("vexil-01").c_str());
    CFlashApi second(Path("vexil-02").c_str());
    uint32_t id[2] = {};
    EXPECT_EQ(first.TargetReadProductID(id), 0);
    EXPECT_EQ(first.getStatus(), FLASH_RECEIVE_FAILED);
    EXPECT_FALSE(Exists(Path("vexil-01")));
    // A further command finds no device at all.
    EXPECT_EQ(first.TargetReadProductID(id), 0);
    EXPECT_EQ(first.getStatus(), FLASH_NOT_CONNECTED);
    EXPECT_EQ(second.TargetReadProductID(id), 1);
    EXPECT_EQ(id[0], simtest::SmallTarget().targetId00);

    CTrgConnectCtrl ctrl;
    ASSERT_EQ(ctrl.GetUsbDevice(), 1);
    ASSERT_EQ(ctrl.CreateFlashApi(), 1);
    EXPECT_EQ(ctrl.GetSizeDevObj(), 1);
}

TEST_F(SimServerTest, ListenGuardsItsPathsAndRemovesOnlyItsOwnSockets) {
    Start({Adapter("vexil-01"), Adapter("vexil-02")});
    EXPECT_TRUE(Exists(Path("vexil-01")));

    // A second server on the same path refuses to start and leaves the first one's sockets.
    SimServer second({Adapter("vexil-02")}, Options());
    std::string error;
    EXPECT_FALSE(second.Listen(error));
    EXPECT_NE(error.find("already served"), std::string::npos) << error;
    EXPECT_TRUE(Exists(Path("vexil-02")));
    StopServer();
    server.reset();
    EXPECT_FALSE(Exists(Path("vexil-01")));
    EXPECT_FALSE(Exists(Path("vexil-02")));

    // A socket left by a daemon that died is taken over; another kind of file is not.
    int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, Path("vexil-01").c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);
    simtest::WriteText(Path("plain"), "x");
    {
        SimServer third({Adapter("vexil-01")}, Options());
        EXPECT_TRUE(third.Listen(error)) << error;
        SimServer fourth({Adapter("plain")}, Options());
        EXPECT_FALSE(fourth.Listen(error));
        EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
    }
    EXPECT_FALSE(Exists(Path("vexil-01")));
    EXPECT_TRUE(Exists(Path("plain")));
}

TEST_F(SimServerTest, ListenRefusesADeviceDirectoryOthersMayWriteTo) {
    ASSERT_EQ(::mkdir(devDir.c_str(), 0700), 0);
    std::string error;
    for (mode_t mode : {0777, 0770}) {
        ASSERT_EQ(::chmod(devDir.c_str(), mode), 0);
        SimServer refused({Adapter("vexil-01")}, Options());
        EXPECT_FALSE(refused.Listen(error)) << std::oct << mode;
        EXPECT_NE(error.find(devDir + " is writable by group or others"), std::string::npos)
            << error;
        EXPECT_FALSE(Exists(Path("vexil-01")));
    }
    ASSERT_EQ(::chmod(devDir.c_str(), 0700), 0);
    SimServer served({Adapter("vexil-01")}, Options());
    EXPECT_TRUE(served.Listen(error)) << error;
}

// Lowers the descriptor limit so that exactly one descriptor is free; undone on destruction.
class DescriptorsAllButOne {
  public:
    DescriptorsAllButOne() {
        ::getrlimit(RLIMIT_NOFILE, &old_);
        int highest = 0;
        if (DIR* d = ::opendir("/proc/self/fd")) {
            while (dirent* e = ::readdir(d))
                highest = std::max(highest, std::atoi(e->d_name));
            ::closedir(d);
        }
        rlimit low = old_;
        low.rlim_cur = static_cast<rlim_t>(highest + 8);
        ::setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::dup(0)) >= 0;)
            fillers_.push_back(fd);
        ::close(fillers_.back());
        fillers_.pop_back();
    }
    ~DescriptorsAllButOne() {
        for (int fd : fillers_)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &old_);
    }

  private:
    rlimit old_{};
    std::vector<int> fillers_;
};

TEST_F(SimServerTest, OutOfDescriptorsAWaitingHostIsTurnedAwayAndServingGoesOn) {
    Start({Adapter("vexil-01")});
    {
        DescriptorsAllButOne full;
        // The host takes the last descriptor; the server has none left to accept with.
        int host = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(host, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, Path("vexil-01").c_str());
        ASSERT_EQ(::connect(host, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        // Closed at once: left waiting in the queue, it would keep the loop awake forever.
        pollfd p{host, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        char byte;
        EXPECT_EQ(::recv(host, &byte, 1, MSG_DONTWAIT), 0);
        ::close(host);
    }
    // With descriptors back, hosts are served again.
    CFlashApi flash(Path("vexil-01").c_str());
    char version[16] = {};
    EXPECT_EQ(flash.GetFirmVersion(version, sizeof version), 1);
    EXPECT_EQ(flash.getStatus(), 0);
}

}  // namespace
