// The library's flat API against a real vexil-sim process, as the writer program drives it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "support/sim_process.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

// The target types the tests select from.
class TargetSet {
  public:
    TargetSet() : entries_{ExampleTarget("QX16A064"), ExampleTarget("QX08C032")} {
        set_.count = 2;
        set_.entries = entries_;
    }
    TRGINFO* get() { return &set_; }

  private:
    CTargetInfo entries_[2];
    TRGINFO set_{};
};

std::string WriteSetup(const TempDir& dir, const std::string& adapters, int count) {
    std::string path = dir / "setup.ini";
    WriteText(path, "[SIMULATOR]\nADAPTERS=" + std::to_string(count) + "\nTRGDIR=" + ExampleDir() +
                        "/TRG\n" + adapters);
    return path;
}

// The writer's plug sequence for every target; returns the number of targets.
int Plug(TRGINFO* set, const char* name) {
    ApiDelConnect();
    if (ApiCreateConnect() != 1)
        return 0;
    int count = 0;
    ApiGetTargetNum(&count);
    for (int n = 1; n <= count; ++n) {
        ApiSetEnableFlg(n, 1);
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiSysResetPlug(n);
        if (Status(n) != 0) {
            ApiUpdateErrorTargetLED(n);
            continue;
        }
        ApiCheckTargetName(n, set, name);
        if (Status(n) == 0)
            ApiSetTargetPlugStatus(n, PLUG_IDENTIFIED);
        ApiUpdateErrorTargetLED(n);
        ApiCheckFirm(n);
        if (Status(n) != 0)
            ApiUpdateErrorTargetLED(n);
    }
    // The protection read: unprotected targets become ready, protected ones keep 0x2005.
    for (int n = 1; n <= count; ++n) {
        uint16_t protect = 1;
        if (Status(n) == 0)
            ApiObj.IsTargetProtected(n, protect);
    }
    return count;
}

class FlatApi : public ::testing::Test {
  protected:
    void TearDown() override { ApiDelConnect(); }
    TempDir dir;
    TargetSet targets;
};

TEST_F(FlatApi, TheFaultShowcasePlugsAsItsDescriptionSays) {
    SimProcess sim(dir, ExampleDir() + "/sim/faults.ini");
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    ASSERT_EQ(Plug(targets.get(), "QX16A064"), 7);

    for (int n : {1, 2}) {
        EXPECT_EQ(Status(n), 0) << n;
        EXPECT_EQ(PlugState(n), PLUG_READY) << n;
    }
    char version[16] = {};
    uint32_t needed = 0;
    ASSERT_EQ(ApiObj.GetFirmVerStr(1, version, sizeof version, needed), 1);
    EXPECT_STREQ(version, "1.10");

    // Target 3 is protected: a wrong ID leaves it so, the known one unlocks it.
    EXPECT_EQ(Status(3), FLASH_PROTECTED);
    EXPECT_EQ(PlugState(3), PLUG_IDENTIFIED);
    const uint16_t wrong[4] = {0x1234, 0x5678, 0x9ABC, 0xDEF1};
    const uint16_t right[4] = {0x1234, 0x5678, 0x9ABC, 0xDEF0};
    uint16_t protect = 0;
    ApiSetTargetStatus(3, 0);
    ASSERT_EQ(ApiObj.SetSecID(3, 4, wrong, protect), 1);
    EXPECT_EQ(protect, 1);
    EXPECT_EQ(Status(3), FLASH_PROTECTED);
    ApiSetTargetStatus(3, 0);
    ASSERT_EQ(ApiObj.SetSecID(3, 4, right, protect), 1);
    EXPECT_EQ(protect, 0);
    EXPECT_EQ(Status(3), 0);
    EXPECT_EQ(PlugState(3), PLUG_READY);

    // Targets 4 and 5 carry other chips; target 6's firmware is too old.
    EXPECT_EQ(Status(4), FLASH_WRONG_TARGET);
    EXPECT_EQ(PlugState(4), PLUG_STARTED);
    EXPECT_EQ(Status(5), FLASH_WRONG_TARGET);
    EXPECT_EQ(Status(6), FLASH_FIRM_TOO_OLD);
    // Target 7 plugs and then refuses every block erase; the good ones erase.
    EXPECT_EQ(Status(7), 0);
    ASSERT_EQ(ApiFlashEraseBlockAll(0), 1);
    EXPECT_EQ(Status(7), 0x6305u);
    EXPECT_EQ(Status(1), 0);
}

TEST_F(FlatApi, EraseWriteWithSerialNumbersReadBackAndTheDumpsAgree) {
    const std::string path = WriteSetup(dir,
                                        "[DEFAULTS]\nTRG=QX16A064\nLATENCY_US=0\nERASE_BLOCK_US=0\n"
                                        "WRITE_BYTE_NS=0\n"
                                        "[ADAPTER1]\nCOUNT=3\n"
                                        "[ADAPTER2]\nNAME=vexil-04\nFLASH=FILL 00\n",
                                        2);
    SimProcess sim(dir, path);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    ASSERT_EQ(Plug(targets.get(), "QX16A064"), 4);
    for (int n = 1; n <= 4; ++n)
        ASSERT_EQ(PlugState(n), PLUG_READY) << n;

    // A chip erase empties even the flash that started as zeros.
    constexpr uint32_t kWritable = 0xFE00;  // 0-FDFFH; the test area above is not written
    std::vector<uint8_t> buffer(kWritable);
    uint32_t count = 0;
    ASSERT_EQ(ApiChipEraseAll(), 1);
    ASSERT_EQ(ApiFlashRead(4, kWritable, &count, buffer.data()), 1);
    EXPECT_EQ(Status(4), 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(kWritable, 0xFF));

    std::vector<uint8_t> image(kWritable);
    for (uint32_t i = 0; i < kWritable; ++i)
        image[i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
    // Two bytes at the end of one 1000-byte chunk of the block at 2000H, two in the next.
    constexpr uint32_t kSerialAddress = 0x2F9E;
    for (int n = 1; n <= 4; ++n) {
        const uint8_t sn[4] = {0xA0, 0xB0, 0xC0, static_cast<uint8_t>(n)};
        ASSERT_EQ(ApiSetSerialNumber(n, sn, 4), 1);
    }
    const uint32_t block = 0x2000;
    for (uint32_t start = 0; start < kWritable; start += block) {
        ASSERT_EQ(ApiFlashEraseBlockAll(start), 1);
        const uint32_t last = std::min(start + block, kWritable) - 1;
        ASSERT_EQ(ApiFlashWriteAllWithSN(start, last, start, image.data(), kSerialAddress), 1);
    }

    for (int n = 1; n <= 4; ++n) {
        std::vector<uint8_t> expected = image;
        for (int k = 0; k < 3; ++k)
            expected[kSerialAddress + k] = static_cast<uint8_t>(0xA0 + 0x10 * k);
        expected[kSerialAddress + 3] = static_cast<uint8_t>(n);
        EXPECT_EQ(Status(n), 0) << n;
        ASSERT_EQ(ApiFlashRead(n, kWritable, &count, buffer.data()), 1);
        EXPECT_GE(count, kWritable);
        EXPECT_EQ(buffer, expected) << "target " << n;

        // The simulator's own view of the chip: the whole flash, the test area erased.
        ASSERT_TRUE(sim.Dump());
        char name[16];
        std::snprintf(name, sizeof name, "vexil-%02d", n);
        auto dump = ReadBytes(sim.DumpPath(name));
        ASSERT_EQ(dump.size(), 0x10000u) << name;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dump.begin())) << name;
        EXPECT_EQ(std::vector<uint8_t>(dump.begin() + kWritable, dump.end()),
                  std::vector<uint8_t>(0x10000 - kWritable, 0xFF));
    }

    // Stopping dumps too, and leaves no socket behind.
    ApiDelConnect();
    int status = 0;
    ASSERT_TRUE(sim.Stop(SIGTERM, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sim.Log();
    EXPECT_TRUE(std::filesystem::is_empty(sim.deviceDir()));
    EXPECT_EQ(ReadBytes(sim.DumpPath("vexil-02"))[kSerialAddress + 3], 2);
}

TEST_F(FlatApi, RefusedOpensWrongSequencesAndTooManyAdaptersGiveTheirCodes) {
    const std::string path = WriteSetup(dir,
                                        "[DEFAULTS]\nTRG=QX16A064\nLATENCY_US=0\n"
                                        "[ADAPTER1]\nREFUSE_OPEN=1\n"
                                        "[ADAPTER2]\nFAULT1=wrong-sequence ON system-reset\n"
                                        "[ADAPTER3]\n",
                                        3);
    {
        SimProcess sim(dir, path);
        std::string error;
        ASSERT_TRUE(sim.Start(error)) << error;
        ASSERT_EQ(ApiCreateConnect(), 1);
        int count = 0;
        ApiGetTargetNum(&count);
        ASSERT_EQ(count, 3);
        EXPECT_EQ(Status(1), FLASH_NOT_CONNECTED);
        for (int n = 1; n <= 3; ++n)
            ApiSysResetPlug(n);
        EXPECT_EQ(Status(1), FLASH_NOT_CONNECTED);  // a failed target is left alone
        EXPECT_EQ(Status(2), FLASH_SEQUENCE);
        EXPECT_EQ(Status(3), 0);
        // Once cleared, both work again: the device opens, the sequence numbers agree.
        ApiSetTargetStatus(1, 0);
        ApiSetTargetStatus(2, 0);
        ApiSysResetPlug(1);
        ApiSysResetPlug(2);
        EXPECT_EQ(Status(1), 0);
        EXPECT_EQ(Status(2), 0);
        ApiDelConnect();
    }

    // One adapter more than the library accepts.
    TempDir other;
    SimProcess many(other, WriteSetup(other, "[ADAPTER1]\nTRG=QX16A064\nCOUNT=33\n", 1));
    std::string error;
    ASSERT_TRUE(many.Start(error)) << error;
    EXPECT_EQ(ApiCreateConnect(), -1);
    int count = -1;
    EXPECT_EQ(ApiGetTargetNum(&count), 0);
}

TEST_F(FlatApi, ADaemonKilledDuringAWriteGivesTransportCodesWithoutWaitingOutTheLimits) {
    // Frames are traced into a pipe, so the daemon is killed when writes are under way.
    const std::string trace = dir / "trace";
    ASSERT_EQ(::mkfifo(trace.c_str(), 0600), 0);
    const std::string path = WriteSetup(dir,
                                        "[ADAPTER1]\nTRG=QX16A064\nCOUNT=4\nLATENCY_US=0\n"
                                        "ERASE_BLOCK_US=0\nWRITE_BYTE_NS=20000\n",
                                        1);
    SimProcess sim(dir, path, {"--trace=" + trace});
    std::atomic<int> writesSeen{0};
    std::thread watcher([&] {
        std::ifstream in(trace);  // opens once the daemon opens its end
        int writes = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.find("write flash") != std::string::npos && ++writes == 40) {
                writesSeen = writes;
                sim.Signal(SIGKILL);
            }
        }
    });
    struct Join {
        std::thread& t;
        SimProcess& sim;
        const std::string& fifo;
        ~Join() {
            // Ends the trace on every path, also when the daemon never opened it.
            sim.Signal(SIGKILL);
            int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            t.join();
        }
    } join{watcher, sim, trace};
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    ASSERT_EQ(Plug(targets.get(), "QX16A064"), 4);

    std::vector<uint8_t> image(0xFE00, 0x5A);
    const auto start = Clock::now();
    ASSERT_EQ(ApiFlashWriteAll(0, 0xFDFF, 0, image.data()), 1);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(writesSeen.load(), 40);
    for (int n = 1; n <= 4; ++n) {
        int s = Status(n);
        EXPECT_TRUE(s == FLASH_RECEIVE_FAILED || s == FLASH_SEND_FAILED || s == FLASH_NOT_CONNECTED)
            << "target " << n << ": " << std::hex << s;
    }
    // The connections ended with the daemon: nobody waited for the 10 s read limit.
    EXPECT_LT(elapsed, std::chrono::seconds(10));

    // Later commands fail at once too.
    for (int n = 1; n <= 4; ++n)
        ApiSetTargetStatus(n, 0);
    ASSERT_EQ(ApiFlashEraseBlockAll(0), 1);
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(Status(n), FLASH_NOT_CONNECTED) << n;
}

TEST_F(FlatApi, AdaptersEraseAtTheSameTimeAndAnswerAfterTheirTimingModel) {
    const std::string path = WriteSetup(dir,
                                        "[ADAPTER1]\nTRG=QX16A064\nCOUNT=8\nLATENCY_US=0\n"
                                        "ERASE_BLOCK_US=100000\n",
                                        1);
    SimProcess sim(dir, path);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    ASSERT_EQ(Plug(targets.get(), "QX16A064"), 8);
    const auto start = Clock::now();
    ASSERT_EQ(ApiFlashEraseBlockAll(0), 1);
    const auto elapsed = Clock::now() - start;
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(Status(n), 0) << n;
    // No reply before the erase time; one after another would take 800 ms.
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    EXPECT_LT(elapsed, std::chrono::milliseconds(600));
}

}  // namespace
