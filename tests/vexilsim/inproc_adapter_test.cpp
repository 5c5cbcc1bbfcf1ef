#include "vexilsim/inproc_adapter.h"

#include <gtest/gtest.h>

#include "brindlex/vexil_protocol.h"
#include "platform/device_enum.h"
#include "platform/device_io.h"
#include "support/sim_fixtures.h"

namespace {

using namespace vexilsim;
using Bytes = std::vector<uint8_t>;

const plat::GUID kClass = {0x5EC7F00D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

// The host side of one adapter, as the library drives it: pipes opened per frame.
struct Host {
    explicit Host(const std::string& path) : path(path) {
        event = plat::CreateEventA(nullptr, true, false, nullptr);
        device = plat::CreateFileA(path.c_str(), plat::GENERIC_READ | plat::GENERIC_WRITE, 0,
                                   nullptr, plat::OPEN_ALWAYS, 0, nullptr);
    }
    ~Host() {
        if (plat::IsOpenHandle(device))
            plat::CloseHandle(device);
        plat::CloseHandle(event);
    }
    bool Send(const Bytes& frame) {
        plat::HANDLE pipe = plat::CreateFileA((path + "\\PIPE00").c_str(), plat::GENERIC_WRITE,
                                              plat::FILE_SHARE_WRITE, nullptr, plat::OPEN_EXISTING,
                                              plat::FILE_FLAG_OVERLAPPED, nullptr);
        if (!plat::IsOpenHandle(pipe))
            return false;
        plat::OVERLAPPED ov{};
        ov.hEvent = event;
        uint32_t n = 0;
        bool ok = plat::WriteFile(pipe, frame.data(), static_cast<uint32_t>(frame.size()), &n, &ov);
        plat::CloseHandle(pipe);
        return ok && n == frame.size();
    }
    // Empty when no reply came within the (declared) time-out.
    Bytes Receive(uint32_t length = 4096) {
        plat::HANDLE pipe = plat::CreateFileA((path + "\\PIPE01").c_str(), plat::GENERIC_READ,
                                              plat::FILE_SHARE_READ, nullptr, plat::OPEN_EXISTING,
                                              plat::FILE_FLAG_OVERLAPPED, nullptr);
        Bytes buf(length);
        plat::OVERLAPPED ov{};
        ov.hEvent = event;
        uint32_t n = 0;
        if (!plat::ReadFile(pipe, buf.data(), length, &n, &ov)) {
            if (plat::GetLastError() != plat::ERROR_IO_PENDING ||
                plat::WaitForSingleObject(event, 10000) != plat::WAIT_OBJECT_0 ||
                !plat::GetOverlappedResult(pipe, &ov, &n, true)) {
                plat::CancelIo(pipe);
                n = 0;
            }
        }
        plat::CloseHandle(pipe);
        buf.resize(n);
        return buf;
    }
    std::string path;
    plat::HANDLE event;
    plat::HANDLE device;
};

std::vector<std::string> Enumerate() {
    std::vector<std::string> out;
    plat::HDEVINFO set = plat::SetupDiGetClassDevsA(
        &kClass, nullptr, nullptr, plat::DIGCF_PRESENT | plat::DIGCF_DEVICEINTERFACE);
    for (uint32_t i = 0;; ++i) {
        plat::SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!plat::SetupDiEnumDeviceInterfaces(set, nullptr, &kClass, i, &data))
            break;
        uint32_t need = 0;
        plat::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &need, nullptr);
        Bytes buf(need);
        auto* d = reinterpret_cast<plat::SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buf.data());
        d->cbSize = sizeof(plat::SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (plat::SetupDiGetDeviceInterfaceDetailA(set, &data, d, need, nullptr, nullptr))
            out.emplace_back(d->DevicePath);
    }
    plat::SetupDiDestroyDeviceInfoList(set);
    return out;
}

TEST(InprocAdapter, BenchAdaptersAreEnumeratedInOrderAndGoAwayWithTheBench) {
    plat::InprocClear();
    {
        SimBench bench(simtest::SmallTarget(), 3, &kClass);
        ASSERT_EQ(bench.size(), 3);
        EXPECT_EQ(Enumerate(),
                  (std::vector<std::string>{bench.path(0), bench.path(1), bench.path(2)}));
        EXPECT_NE(bench.adapter(0).id(), bench.adapter(1).id());
        bench.adapter(1).Disconnect();
        EXPECT_EQ(Enumerate(), (std::vector<std::string>{bench.path(0), bench.path(2)}));
        SimBench second(std::vector<SimChip>{SimChip()}, &kClass);  // paths never collide
        EXPECT_EQ(Enumerate().size(), 3u);
    }
    EXPECT_TRUE(Enumerate().empty());
}

TEST(InprocAdapter, SplitRequestsReachEveryAdapterBeforeTheFirstReplyIsRead) {
    SimBench bench(simtest::SmallTarget(), 3);
    std::vector<std::unique_ptr<Host>> hosts;
    for (int i = 0; i < 3; ++i)
        hosts.push_back(std::make_unique<Host>(bench.path(i)));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(hosts[i]->Send(simtest::Request(7, {0x12, 0x12, 0, 0, 0x10, 0})));
    for (int i = 0; i < 3; ++i) {
        Bytes reply = hosts[i]->Receive();
        ASSERT_EQ(reply.size(), 19u);
        EXPECT_EQ(reply[5], 7);
    }
    auto t = bench.trace();
    ASSERT_EQ(t.size(), 6u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t[i].direction, TraceEntry::kReceived);
        EXPECT_EQ(t[i].adapter, bench.adapter(i).id());
        EXPECT_EQ(t[i].kind, CommandKind::kEraseBlock);
        EXPECT_EQ(t[i].payload(), (Bytes{0x12, 0x12, 0, 0, 0x10, 0}));
        EXPECT_EQ(t[3 + i].direction, TraceEntry::kSent);
        EXPECT_EQ(t[3 + i].adapter, bench.adapter(i).id());
        EXPECT_EQ(t[3 + i].status(), 0);
        EXPECT_EQ(t[3 + i].frameNumber, 1u);
    }
    EXPECT_LT(t[2].order, t[3].order);
}

TEST(InprocAdapter, MissingReplyTimesOutAtOnceAndBusResetDropsStaleReplies) {
    SimBench bench(simtest::SmallTarget(), 1);
    Host host(bench.path(0));
    EXPECT_EQ(bench.adapter(0).controlCounts().busResets, 0u);

    bench.adapter(0).InjectFault(CommandKind::kReadProtect, Fault::NoReply());
    ASSERT_TRUE(host.Send(simtest::Request(1, {0x12, 0x32})));
    EXPECT_TRUE(host.Receive().empty());
    plat::InprocStats stats;
    ASSERT_TRUE(plat::InprocGetStats(bench.path(0), stats));
    EXPECT_EQ(stats.lastReadWaitMs, 10000u);
    EXPECT_EQ(stats.expiredReadWaits, 1u);

    // A reply left unread is dropped by a bus reset, as the library resets after a failure.
    ASSERT_TRUE(host.Send(simtest::Request(2, {0x12, 0x32})));
    EXPECT_EQ(bench.device(0).queuedReplies(), 1u);
    uint8_t buf[512] = {};
    uint32_t n = 0;
    ASSERT_TRUE(plat::DeviceIoControl(host.device, vexil::IOCTL_RESET_DEVICE, buf, 512, buf, 512,
                                      &n, nullptr));
    ASSERT_TRUE(plat::DeviceIoControl(host.device, vexil::IOCTL_CLEAR_FEATURE, buf, 512, buf, 512,
                                      &n, nullptr));
    EXPECT_EQ(bench.device(0).queuedReplies(), 0u);
    auto counts = bench.adapter(0).controlCounts();
    EXPECT_EQ(counts.busResets, 1u);
    EXPECT_EQ(counts.clearFeatures, 1u);
    EXPECT_TRUE(host.Receive().empty());
}

TEST(InprocAdapter, AReplyReadInPiecesIsTracedOnceWhenTheHostFirstReadsIt) {
    SimBench bench(simtest::SmallTarget(), 1);
    Host host(bench.path(0));
    ASSERT_TRUE(host.Send(simtest::Request(3, {0x0A, 0x03, 0x3F, 0x09})));
    EXPECT_EQ(bench.adapter(0).trace().size(), 1u);  // produced, not yet read
    Bytes head = host.Receive(16);
    Bytes rest = host.Receive();
    EXPECT_EQ(head.size(), 16u);
    EXPECT_EQ(rest.size(), 10u);
    EXPECT_EQ(rest[9], 0x78);
    EXPECT_EQ(bench.adapter(0).trace().size(), 2u);
}

TEST(InprocAdapter, RefusedOpensAndADisconnectReachTheHost) {
    SimBench bench(simtest::SmallTarget(), 1);
    const std::string path = bench.path(0);
    bench.adapter(0).RefuseOpens(1);
    {
        Host refused(path);
        EXPECT_EQ(refused.device, plat::INVALID_HANDLE_VALUE);
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);
        EXPECT_TRUE(refused.Send(simtest::Request(0, {0x07, 0x00})));  // pipes still open
        refused.Receive();
    }
    Host host(path);
    ASSERT_TRUE(plat::IsOpenHandle(host.device));
    bench.adapter(0).RefuseOpens(-1, true);
    EXPECT_FALSE(host.Send(simtest::Request(1, {0x07, 0x00})));
    bench.adapter(0).RefuseOpens(0);

    bench.adapter(0).InjectFault(CommandKind::kChipReset, Fault::Disconnect());
    ASSERT_TRUE(host.Send(simtest::Request(2, {0x07, 0x00})));
    EXPECT_FALSE(host.Send(simtest::Request(3, {0x07, 0x00})));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
    uint8_t buf[512];
    uint32_t n = 0;
    EXPECT_FALSE(plat::DeviceIoControl(host.device, vexil::IOCTL_RESET_DEVICE, buf, 512, buf, 512,
                                       &n, nullptr));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_DEVICE_NOT_CONNECTED);
    bench.adapter(0).Reconnect();
    EXPECT_TRUE(host.Send(simtest::Request(4, {0x07, 0x00})));
    EXPECT_EQ(host.Receive().size(), 18u);
}

}  // namespace
