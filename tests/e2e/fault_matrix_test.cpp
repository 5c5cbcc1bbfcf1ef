// Every fault vexil-sim can inject, against every all-target operation of the flat API, on
// one adapter of four: the faulty target ends with the code its failure names, the other three
// finish as if nothing had happened (their flash checked in the simulator's dump or in what
// they read), and only a silent adapter runs into a time-out: one read time-out, whose real
// wait the socket provider cuts short so the matrix does not sleep through it.
//
// The faulty adapter, vexil-02, is served by a daemon of its own, so that it alone can be
// killed. Each cell prints one line, also written to fault-matrix-<fault>.txt in the working
// directory for the test script to show.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "brindlex/api.h"
#include "brindlex/flash_status.h"
#include "brindlex/quorvel_api.h"
#include "platform/socket_device.h"
#include "support/sim_process.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

constexpr int kTargets = 4;
constexpr int kFaulty = 2;
constexpr uint32_t kFlashSize = 0x10000;  // QX16A064
constexpr uint32_t kWritable = 0xFE00;    // below its test data area
constexpr uint32_t kBlock = 0x2000;       // the block the erase and write cells use
constexpr uint32_t kBlockSize = 0x2000;
constexpr uint32_t kReadTimeoutMs = 10000;  // the pipe read time-out
// Real waits are cut to this; an expired wait still reports the time-out it asked for.
constexpr uint32_t kWaitLimitMs = 200;
constexpr double kMarginS = 4.0;  // scheduling on a loaded machine, sanitizers

// The fill each adapter's flash starts with: vexil-0N holds N * 0x11.
uint8_t Fill(int n) {
    return static_cast<uint8_t>(0x11 * n);
}

enum class Op { Plug, BlockErase, Write, ChipErase, Read };

struct Operation {
    Op op;
    const char* name;
    const char* command;  // the adapter command the fault is put on
};

const Operation kOperations[] = {
    {Op::Plug, "plug sequence", "read-identity-64"},
    {Op::BlockErase, "block erase", "erase-block"},
    {Op::Write, "write", "write-flash"},
    {Op::ChipErase, "chip erase", "erase-chip"},
    {Op::Read, "read", "read-flash"},
};

struct Fault {
    const char* name;
    const char* line;  // FAULT1 of vexil-02, %s standing for the command; null for none
    const char* key;   // another key of vexil-02's section
    bool kill;         // vexil-02's daemon is killed just before the operation
    uint32_t expected;
    bool runsIntoReadLimit;
};

// The writer's plug sequence for every target of the connection list.
void PlugTargets(TRGINFO* set, int count) {
    for (int n = 1; n <= count; ++n) {
        ApiSetEnableFlg(n, 1);
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiSysResetPlug(n);
        if (Status(n) != 0)
            continue;
        ApiCheckTargetName(n, set, "QX16A064");
        if (Status(n) == 0)
            ApiSetTargetPlugStatus(n, PLUG_IDENTIFIED);
        ApiCheckFirm(n);
    }
    for (int n = 1; n <= count; ++n) {
        uint16_t protect = 1;
        if (Status(n) == 0)
            ApiObj.IsTargetProtected(n, protect);
    }
}

std::string Setup(const std::string& adapters, int sections) {
    return "[SIMULATOR]\nADAPTERS=" + std::to_string(sections) + "\nTRGDIR=" + ExampleDir() +
           "/TRG\n[DEFAULTS]\nTRG=QX16A064\nLATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n" +
           adapters;
}

std::string Section(int index, int n, const std::string& extra) {
    char text[96];
    std::snprintf(text, sizeof text, "[ADAPTER%d]\nNAME=vexil-%02d\nFLASH=FILL %02X\n", index, n,
                  Fill(n));
    return text + extra;
}

std::string AdapterName(int n) {
    char name[16];
    std::snprintf(name, sizeof name, "vexil-%02d", n);
    return name;
}

// What the flash of a healthy target holds after the operation.
std::vector<uint8_t> ExpectedFlash(Op op, int n, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> flash(kFlashSize, Fill(n));
    switch (op) {
        case Op::BlockErase:
            std::fill_n(flash.begin() + kBlock, kBlockSize, 0xFF);
            break;
        case Op::Write:
            std::copy_n(image.begin() + kBlock, kBlockSize, flash.begin() + kBlock);
            break;
        case Op::ChipErase:
            std::fill(flash.begin(), flash.end(), 0xFF);
            break;
        default:
            break;
    }
    return flash;
}

struct Disconnect {
    ~Disconnect() { ApiDelConnect(); }
};

void RunCell(const Fault& fault, const Operation& operation, std::ofstream& table) {
    SCOPED_TRACE(std::string(fault.name) + " x " + operation.name);
    TempDir dir;
    char faultLine[96] = "";
    if (fault.line != nullptr) {
        std::snprintf(faultLine, sizeof faultLine, "FAULT1=");
        std::snprintf(faultLine + 7, sizeof faultLine - 7, fault.line, operation.command);
        std::strcat(faultLine, "\n");
    }
    const std::string healthy = dir / "healthy.ini";
    const std::string faulty = dir / "faulty.ini";
    WriteText(healthy, Setup(Section(1, 1, "") + Section(2, 3, "") + Section(3, 4, ""), 3));
    WriteText(faulty,
              Setup(Section(1, kFaulty, std::string(faultLine) + (fault.key ? fault.key : "")), 1));
    SimProcess others(dir, healthy);
    SimProcess lone(dir, faulty);
    std::string error;
    ASSERT_TRUE(others.Start(error)) << error;
    ASSERT_TRUE(lone.Start(error)) << error;

    CTargetInfo entry = ExampleTarget("QX16A064");
    TRGINFO set{1, &entry};
    Disconnect disconnect;
    std::vector<uint8_t> image(kFlashSize);
    for (uint32_t i = 0; i < kFlashSize; ++i)
        image[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8));
    std::vector<std::vector<uint8_t>> read(kTargets + 1, std::vector<uint8_t>(kWritable, 0));

    ApiDelConnect();
    const auto connect = [&] {
        ASSERT_EQ(ApiCreateConnect(), 1);
        int count = 0;
        ApiGetTargetNum(&count);
        ASSERT_EQ(count, kTargets);
    };
    const auto kill = [&] {
        int status = 0;
        ASSERT_TRUE(lone.Stop(SIGKILL, status));
    };
    if (operation.op != Op::Plug) {
        connect();
        PlugTargets(&set, kTargets);
        for (int n = 1; n <= kTargets; ++n) {
            if (n != kFaulty || fault.key == nullptr) {
                ASSERT_EQ(PlugState(n), PLUG_READY) << "target " << n;
            }
        }
        if (operation.op == Op::Write) {
            ASSERT_EQ(ApiFlashEraseBlockAll(kBlock), 1);
        }
        if (fault.kill)
            kill();
    }

    plat::SetSocketWaitLimitForTesting(kWaitLimitMs);
    plat::TakeSocketWaitExpiriesForTesting();
    const auto start = Clock::now();
    switch (operation.op) {
        case Op::Plug:
            connect();
            if (fault.kill)
                kill();
            PlugTargets(&set, kTargets);
            break;
        case Op::BlockErase:
            EXPECT_EQ(ApiFlashEraseBlockAll(kBlock), 1);
            break;
        case Op::Write:
            EXPECT_EQ(ApiFlashWriteAll(kBlock, kBlock + kBlockSize - 1, kBlock, image.data()), 1);
            break;
        case Op::ChipErase:
            EXPECT_EQ(ApiChipEraseAll(), 1);
            break;
        case Op::Read:
            for (int n = 1; n <= kTargets; ++n) {
                uint32_t count = 0;
                ApiFlashRead(n, kWritable, &count, read[n].data());
            }
            break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const plat::SocketWaitExpiries expired = plat::TakeSocketWaitExpiriesForTesting();
    plat::SetSocketWaitLimitForTesting(0);

    const uint32_t got = static_cast<uint32_t>(Status(kFaulty));
    EXPECT_EQ(got, fault.expected) << std::hex << got;
    bool othersOk = true;
    if (operation.op != Op::Read) {
        EXPECT_TRUE(others.Dump());
    }
    for (int n = 1; n <= kTargets; ++n) {
        if (n == kFaulty)
            continue;
        bool ok = Status(n) == 0 && PlugState(n) == PLUG_READY;
        if (operation.op == Op::Read) {
            ok = ok && read[n] == std::vector<uint8_t>(kWritable, Fill(n));
        } else {
            ok = ok && ReadBytes(others.DumpPath(AdapterName(n))) ==
                           ExpectedFlash(operation.op, n, image);
        }
        EXPECT_TRUE(ok) << "target " << n << " status " << std::hex << Status(n);
        othersOk = othersOk && ok;
    }

    // A silent adapter costs exactly one read time-out; nothing else runs into a time-out.
    EXPECT_EQ(expired.count, fault.runsIntoReadLimit ? 1u : 0u);
    if (fault.runsIntoReadLimit) {
        EXPECT_EQ(expired.longestAskedMs, kReadTimeoutMs);
    }
    EXPECT_LE(seconds, kMarginS);

    char line[200];
    std::snprintf(line, sizeof line,
                  "%-14s x %-13s  target 2: %04X (expected %04X)  targets 1,3,4: %s  %5.2f s  "
                  "time-outs: %u (asked %u ms)",
                  fault.name, operation.name, got, fault.expected, othersOk ? "ok" : "FAILED",
                  seconds, expired.count, expired.longestAskedMs);
    std::printf("%s\n", line);
    table << line << "\n";
}

class FaultMatrix : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultMatrix, OneFaultyAdapterOfFourInEveryOperation) {
    const Fault& fault = GetParam();
    std::ofstream table(std::string("fault-matrix-") + fault.name + ".txt", std::ios::trunc);
    for (const Operation& operation : kOperations)
        RunCell(fault, operation, table);
}

const Fault kFaults[] = {
    {"no-reply", "NO-REPLY ON %s", nullptr, false, FLASH_RECEIVE_FAILED, true},
    {"wrong-sequence", "WRONG-SEQUENCE ON %s", nullptr, false, FLASH_SEQUENCE, false},
    {"bad-magic", "BAD-MAGIC ON %s", nullptr, false, FLASH_BAD_MAGIC, false},
    {"short-reply", "SHORT-REPLY ON %s", nullptr, false, FLASH_RECEIVE_FAILED, false},
    {"overlong-reply", "OVERLONG-REPLY ON %s", nullptr, false, FLASH_RECEIVE_FAILED, false},
    {"status-word", "STATUS 6305 ON %s", nullptr, false, 0x6305, false},
    {"refuse-open", nullptr, "REFUSE_OPEN=ALL\n", false, FLASH_NOT_CONNECTED, false},
    {"disconnect", "DISCONNECT ON %s", nullptr, false, FLASH_RECEIVE_FAILED, false},
    {"daemon-killed", nullptr, nullptr, true, FLASH_SEND_FAILED, false},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
