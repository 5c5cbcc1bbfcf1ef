// The socket device provider against scripted peers standing in for vexil-sim.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/device_enum.h"
#include "platform/device_io.h"
#include "platform/device_provider.h"
#include "platform/socket_device.h"
#include "support/fake_socket_device.h"
#include "support/temp_dir.h"

namespace {

using namespace plat;
using testing_support::FakeSocketDevice;
using testing_support::TempDir;

const GUID kClassA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kClassB = {0x44444444, 0x5555, 0x6666, {8, 7, 6, 5, 4, 3, 2, 1}};

class SocketProvider : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("VEXIL_DEVICE_DIR", dir.path().c_str(), 1);
        event = CreateEventA(nullptr, true, false, nullptr);
    }
    void TearDown() override {
        CloseHandle(event);
        ::unsetenv("VEXIL_DEVICE_DIR");
    }

    std::string Path(const std::string& name) { return dir / name; }

    HANDLE OpenDevice(const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    }
    HANDLE OpenPipe(const std::string& path, int pipe) {
        std::string name = path + (pipe == 0 ? "\\PIPE00" : "\\PIPE01");
        return CreateFileA(name.c_str(), pipe == 0 ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    OVERLAPPED Overlapped() {
        OVERLAPPED ov{};
        ov.hEvent = event;
        return ov;
    }
    bool Write(HANDLE pipe, const std::vector<uint8_t>& bytes) {
        OVERLAPPED ov = Overlapped();
        uint32_t n = 0;
        return WriteFile(pipe, bytes.data(), static_cast<uint32_t>(bytes.size()), &n, &ov) &&
               n == bytes.size();
    }
    // Reads what is there now; empty when nothing is.
    std::vector<uint8_t> ReadNow(HANDLE pipe, uint32_t length) {
        std::vector<uint8_t> buf(length);
        OVERLAPPED ov = Overlapped();
        uint32_t n = 0;
        if (ReadFile(pipe, buf.data(), length, &n, &ov)) {
            buf.resize(n);
            return buf;
        }
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        CancelIo(pipe);
        return {};
    }

    std::vector<std::string> Enumerate(const GUID& cls) {
        std::vector<std::string> paths;
        HDEVINFO set =
            SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        for (uint32_t i = 0;; ++i) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &data))
                break;
            std::vector<uint64_t> storage(64);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            uint32_t required = 0;
            if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 512, &required, nullptr))
                paths.emplace_back(detail->DevicePath);
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    TempDir dir;
    HANDLE event = nullptr;
};

TEST_F(SocketProvider, EnumerationListsLiveSocketsOfTheClassSortedByName) {
    FakeSocketDevice b(Path("vexil-b"), kClassA);
    FakeSocketDevice a(Path("vexil-a"), kClassA);
    FakeSocketDevice c(Path("vexil-c"), kClassB);
    // A socket whose daemon died, and a file that is no socket at all.
    int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, Path("vexil-0").c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);
    testing_support::WriteBytes(Path("vexil-00"), "not a socket");

    EXPECT_EQ(Enumerate(kClassA), (std::vector<std::string>{Path("vexil-a"), Path("vexil-b")}));
    EXPECT_EQ(Enumerate(kClassB), (std::vector<std::string>{Path("vexil-c")}));

    // The directory is read again at every call, and an absent one lists nothing.
    ::setenv("VEXIL_DEVICE_DIR", (dir / "none").c_str(), 1);
    EXPECT_TRUE(Enumerate(kClassA).empty());
}

TEST_F(SocketProvider, ClaimsOnlyPathsDirectlyInsideTheDeviceDirectory) {
    EXPECT_NE(FindDeviceProvider(Path("vexil-a")), nullptr);
    EXPECT_EQ(FindDeviceProvider(Path("sub/vexil-a")), nullptr);
    EXPECT_EQ(FindDeviceProvider(dir.path() + "x/vexil-a"), nullptr);
    EXPECT_EQ(FindDeviceProvider("/dev/null"), nullptr);
    // A trailing slash in the variable names the same directory.
    ::setenv("VEXIL_DEVICE_DIR", (dir.path() + "//").c_str(), 1);
    EXPECT_NE(FindDeviceProvider(Path("vexil-a")), nullptr);

    // Nothing listens: the device is absent.
    EXPECT_EQ(OpenDevice(Path("vexil-a")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenPipe(Path("vexil-a"), 0), INVALID_HANDLE_VALUE);
}

// Whoever can put a socket into the device directory could pose as an adapter: receive every
// write image and answer identity and verify.
TEST_F(SocketProvider, ADeviceDirectoryOthersOwnOrMayWriteToIsRefused) {
    FakeSocketDevice fake(Path("vexil-a"), kClassA);
    ASSERT_EQ(Enumerate(kClassA).size(), 1u);
    ::testing::internal::CaptureStderr();
    for (mode_t mode : {0777, 0770, 0703}) {
        ASSERT_EQ(::chmod(dir.path().c_str(), mode), 0);
        EXPECT_TRUE(Enumerate(kClassA).empty()) << std::oct << mode;
        EXPECT_EQ(OpenDevice(Path("vexil-a")), INVALID_HANDLE_VALUE) << std::oct << mode;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(dir.path() + " is writable by group or others"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "said once: " << said;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
    if (::geteuid() == 0) {  // only root can hand the directory to another user
        ASSERT_EQ(::chown(dir.path().c_str(), 65534, static_cast<gid_t>(-1)), 0);
        EXPECT_TRUE(Enumerate(kClassA).empty());
        ASSERT_EQ(::chown(dir.path().c_str(), 0, static_cast<gid_t>(-1)), 0);
    }
    EXPECT_EQ(Enumerate(kClassA), std::vector<std::string>{Path("vexil-a")});
}

TEST_F(SocketProvider, DeviceAndPipesShareOneConnectionAndFramesArriveWhole) {
    FakeSocketDevice fake(Path("vexil-01"), kClassA);
    HANDLE dev = OpenDevice(Path("vexil-01"));
    ASSERT_TRUE(IsOpenHandle(dev));
    EXPECT_EQ(fake.opens(), 1);

    std::vector<uint8_t> frame1(1027), frame2 = {1, 2, 3};
    for (size_t i = 0; i < frame1.size(); ++i)
        frame1[i] = static_cast<uint8_t>(i * 7);
    // The library opens and closes a pipe around every frame.
    for (const auto* f : {&frame1, &frame2}) {
        HANDLE p0 = OpenPipe(Path("vexil-01"), 0);
        ASSERT_TRUE(IsOpenHandle(p0));
        EXPECT_TRUE(Write(p0, *f));
        CloseHandle(p0);
    }
    ASSERT_TRUE(fake.WaitForFrames(2));
    EXPECT_EQ(fake.frames(), (std::vector<std::vector<uint8_t>>{frame1, frame2}));
    EXPECT_EQ(fake.accepts(), 1);
    EXPECT_EQ(fake.opens(), 1);

    // Data flows only host to device on pipe 0 and back on pipe 1.
    HANDLE p1 = OpenPipe(Path("vexil-01"), 1);
    uint32_t n = 0;
    OVERLAPPED ov = Overlapped();
    EXPECT_FALSE(WriteFile(p1, frame2.data(), 3, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(p1);
    HANDLE readOnly = CreateFileA((Path("vexil-01") + "\\PIPE00").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_FALSE(WriteFile(readOnly, frame2.data(), 3, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(readOnly);
    EXPECT_EQ(fake.frames().size(), 2u);
    CloseHandle(dev);
}

TEST_F(SocketProvider, RepliesQueueUntilReadAndLongOnesSpanSeveralReads) {
    FakeSocketDevice fake(Path("vexil-01"), kClassA);
    HANDLE dev = OpenDevice(Path("vexil-01"));
    HANDLE p1 = OpenPipe(Path("vexil-01"), 1);
    ASSERT_TRUE(IsOpenHandle(p1));

    // Nothing there: the read is pending, and a wait of 0 ms expires.
    std::vector<uint8_t> buf(16);
    OVERLAPPED ov = Overlapped();
    uint32_t n = 99;
    ASSERT_FALSE(ReadFile(p1, buf.data(), 4, &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    // The reply arrives while the read waits and completes it.
    fake.Reply({10, 11, 12, 13, 14, 15});
    fake.Reply({20, 21});
    ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 4),
              (std::vector<uint8_t>{10, 11, 12, 13}));
    // The rest of the first reply, then the second one whole (both were sent before the
    // wait ended, so both are there).
    EXPECT_EQ(ReadNow(p1, 16), (std::vector<uint8_t>{14, 15}));
    EXPECT_EQ(ReadNow(p1, 16), (std::vector<uint8_t>{20, 21}));

    // A cancelled read reports the abort.
    ASSERT_FALSE(ReadFile(p1, buf.data(), 16, &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    CancelIo(p1);
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, true));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    CloseHandle(p1);
    CloseHandle(dev);
}

TEST_F(SocketProvider, OpeningOrResettingTheDeviceDropsQueuedReplies) {
    FakeSocketDevice fake(Path("vexil-01"), kClassA);
    HANDLE dev = OpenDevice(Path("vexil-01"));
    HANDLE p1 = OpenPipe(Path("vexil-01"), 1);

    // A reset (the device answers that it was reset) voids what was queued before it.
    fake.Reply({1, 2, 3});
    std::vector<uint8_t> io(512, 0x33);
    uint32_t returned = 0;
    ASSERT_TRUE(DeviceIoControl(dev, 0x220004, io.data(), 512, io.data(), 512, &returned, nullptr));
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(io[0], 0xC5);
    EXPECT_TRUE(ReadNow(p1, 16).empty());
    auto controls = fake.controls();
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].first, 0x220004u);
    EXPECT_EQ(controls[0].second, std::vector<uint8_t>(512, 0x33));

    // Another control keeps the queue; a new open of the device empties it.
    fake.Reply({4, 5});
    ASSERT_TRUE(DeviceIoControl(dev, 0x220038, io.data(), 512, io.data(), 512, &returned, nullptr));
    EXPECT_EQ(ReadNow(p1, 16), (std::vector<uint8_t>{4, 5}));
    fake.Reply({6, 7});
    ASSERT_TRUE(DeviceIoControl(dev, 0x220038, io.data(), 512, io.data(), 512, &returned, nullptr));
    HANDLE dev2 = OpenDevice(Path("vexil-01"));
    ASSERT_TRUE(IsOpenHandle(dev2));
    EXPECT_EQ(fake.opens(), 2);
    EXPECT_TRUE(ReadNow(p1, 16).empty());
    CloseHandle(dev2);
    CloseHandle(p1);
    CloseHandle(dev);
}

TEST_F(SocketProvider, RefusedOpenReportsTheDevicesReason) {
    FakeSocketDevice fake(Path("vexil-01"), kClassA);
    fake.openError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(OpenDevice(Path("vexil-01")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    fake.openError = ERROR_SUCCESS;
    HANDLE dev = OpenDevice(Path("vexil-01"));
    EXPECT_TRUE(IsOpenHandle(dev));
    CloseHandle(dev);
}

TEST_F(SocketProvider, ADaemonGoingAwayFailsTransfersAndALaterOneIsReached) {
    auto fake = std::make_unique<FakeSocketDevice>(Path("vexil-01"), kClassA);
    HANDLE dev = OpenDevice(Path("vexil-01"));
    HANDLE p0 = OpenPipe(Path("vexil-01"), 0);
    HANDLE p1 = OpenPipe(Path("vexil-01"), 1);
    std::vector<uint8_t> buf(16);
    OVERLAPPED ov = Overlapped();
    uint32_t n = 0;
    ASSERT_FALSE(ReadFile(p1, buf.data(), 16, &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);

    // The pending read ends with the connection instead of waiting out its limit.
    fake->DropConnections();
    ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(p1, &ov, &n, false));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    // Writing to the dead connection fails; it does not raise SIGPIPE.
    EXPECT_FALSE(Write(p0, {1, 2, 3}));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    uint32_t returned = 0;
    uint8_t io[512] = {};
    EXPECT_FALSE(DeviceIoControl(dev, 0x220004, io, 512, io, 512, &returned, nullptr));
    CloseHandle(p0);
    CloseHandle(p1);
    CloseHandle(dev);

    // Gone altogether: the device is absent. A new daemon on the path is reached again.
    fake.reset();
    EXPECT_EQ(OpenDevice(Path("vexil-01")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    fake = std::make_unique<FakeSocketDevice>(Path("vexil-01"), kClassA);
    dev = OpenDevice(Path("vexil-01"));
    ASSERT_TRUE(IsOpenHandle(dev));
    p0 = OpenPipe(Path("vexil-01"), 0);
    EXPECT_TRUE(Write(p0, {9}));
    EXPECT_TRUE(fake->WaitForFrames(1));
    CloseHandle(p0);
    CloseHandle(dev);
}

TEST_F(SocketProvider, AnAbandonedWriteNeverReachesTheDevice) {
    FakeSocketDevice fake(Path("vexil-01"), kClassA);
    HANDLE dev = OpenDevice(Path("vexil-01"));
    HANDLE p0 = OpenPipe(Path("vexil-01"), 0);
    ASSERT_TRUE(IsOpenHandle(p0));

    // A frame larger than the socket buffers while the device reads nothing: the write stays
    // pending, runs out of time and is cancelled, as the pipe layer does after its time-out.
    fake.HoldReading(true);
    std::vector<uint8_t> frame(1000000, 0x5A);
    OVERLAPPED ov = Overlapped();
    uint32_t n = 0;
    ASSERT_FALSE(WriteFile(p0, frame.data(), static_cast<uint32_t>(frame.size()), &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    SetSocketWaitLimitForTesting(1);
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_TIMEOUT);
    SetSocketWaitLimitForTesting(0);
    EXPECT_EQ(TakeSocketWaitExpiriesForTesting().longestAskedMs, 5000u);
    ASSERT_TRUE(CancelIo(p0));
    fake.HoldReading(false);

    // Part of it was already on its way, so the connection is given up rather than letting
    // the device run the rest; the next open is a fresh connection that works.
    uint32_t returned = 0;
    uint8_t io[512] = {};
    EXPECT_FALSE(DeviceIoControl(dev, 0x220004, io, 512, io, 512, &returned, nullptr));
    CloseHandle(p0);
    CloseHandle(dev);
    dev = OpenDevice(Path("vexil-01"));
    ASSERT_TRUE(IsOpenHandle(dev));
    p0 = OpenPipe(Path("vexil-01"), 0);
    EXPECT_TRUE(Write(p0, {7, 7}));
    ASSERT_TRUE(fake.WaitForFrames(1));
    EXPECT_EQ(fake.frames(), (std::vector<std::vector<uint8_t>>{{7, 7}}));
    CloseHandle(p0);
    CloseHandle(dev);
}

TEST_F(SocketProvider, AnIdleConnectionToADeadDaemonIsReplacedOnEnumerationAndOpen) {
    auto fake = std::make_unique<FakeSocketDevice>(Path("vexil-01"), kClassA);
    HANDLE dev = OpenDevice(Path("vexil-01"));
    CloseHandle(dev);
    // The daemon restarts while the provider still holds its old connection.
    fake.reset();
    fake = std::make_unique<FakeSocketDevice>(Path("vexil-01"), kClassA);
    EXPECT_EQ(Enumerate(kClassA), std::vector<std::string>{Path("vexil-01")});
    dev = OpenDevice(Path("vexil-01"));
    ASSERT_TRUE(IsOpenHandle(dev));
    EXPECT_EQ(fake->opens(), 1);
    CloseHandle(dev);
}

}  // namespace
