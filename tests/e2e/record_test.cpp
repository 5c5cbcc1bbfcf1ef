// The production record of Program cycles run by the writer's controller against vexil-sim,
// read back with Python's csv module; and a writer killed in the middle of a cycle.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "app/control_ids.h"
#include "programdata/status_texts.h"
#include "support/python_csv.h"
#include "support/writer_rig.h"

namespace {

using namespace e2e;

constexpr const char* kFast =
    "[DEFAULTS]\nTRG=QX16A064\nLATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n";

std::string CycleIni(WriterRig& rig, const std::string& extra = "") {
    const std::string program = rig.env.WriteFile("p.hex", HexFile(0x10, {0x12, 0x34}));
    const std::string commands = rig.env.WriteFile("run.cd8", "WRITE\nVERIFY\n");
    return "[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=" + program +
           "\r\nCOMFILENAME=" + commands + "\r\n" + extra;
}

std::vector<std::vector<std::string>> Record(WriterRig& rig) {
    return ReadCsvWithPython((rig.env.bin / "Quorvel-record.csv").string());
}

TEST(RecordE2eTest, AProgramCycleRecordsEachTargetAndOperationWithTheSerialNumbersItWrote) {
    // The test's directories under one whose name holds a comma, a quote and a blank, so that
    // the device paths in the record do too.
    struct RemovedLast {
        std::string path;
        ~RemovedLast() { ::rmdir(path.c_str()); }
    } awkward{"/tmp/line 7, \"A\"-XXXXXX"};
    ASSERT_NE(::mkdtemp(awkward.path.data()), nullptr);
    ::setenv("TMPDIR", awkward.path.c_str(), 1);
    WriterRig rig;
    ::unsetenv("TMPDIR");
    rig.env.WriteIni(CycleIni(rig,
                              "SERIALNUMFLG=1\r\nSERIALNUM=00000001\r\nSERIALNUMINC=00000001\r\n"
                              "SERIALNUMLEN=4\r\nSERIALNUMINCLEN=4\r\nSERIALNUMADDR=0x08000\r\n"));
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) +
                              "[ADAPTER1]\nFLASH=FILL 00\n[ADAPTER2]\nFLASH=FILL 00\n"
                              "FAULT1=STATUS 6305 ON erase-block\n[ADAPTER3]\nFLASH=FILL 00\n"
                              "COUNT=2\n",
                          3, error))
        << error;
    ASSERT_NE(rig.sim->deviceDir().find(", \"A\""), std::string::npos);
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "FAILURE");
    });
    ASSERT_TRUE(rig.sim->Dump());

    const auto rows = Record(rig);
    ASSERT_EQ(rows.size(), 13u);
    EXPECT_EQ(rows[0][2], "Operation");
    for (size_t i = 1; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const std::vector<std::string>& row = rows[i];
        ASSERT_EQ(row.size(), 12u);
        const int target = int(i - 1) % 4 + 1;
        char name[16];
        std::snprintf(name, sizeof name, "vexil-%02d", target);
        EXPECT_EQ(row[2], i <= 4 ? "Write" : i <= 8 ? "Verify" : "Program");
        EXPECT_EQ(row[3], std::to_string(target));
        EXPECT_EQ(row[4], rig.sim->deviceDir() + "/" + name) << "the comma and quote survive";
        EXPECT_EQ(row[5] + " " + row[6], "QX16A064 16064") << "the type and the chip's own name";
        EXPECT_EQ(row[7], "0000000" + std::to_string(target));
        const auto flash = ReadBytes(rig.sim->DumpPath(name));
        ASSERT_GT(flash.size(), 0x8003u);
        char held[16];
        std::snprintf(held, sizeof held, "%02X%02X%02X%02X", flash[0x8000], flash[0x8001],
                      flash[0x8002], flash[0x8003]);
        if (target == 2) {
            EXPECT_EQ(row[9], i <= 4 || i > 8 ? "0x6305" : "0x2006");
            EXPECT_NE(row[7], held) << "its erase failed: nothing was written";
        } else {
            EXPECT_EQ(row[9], "0x0000");
            EXPECT_EQ(row[7], held);
        }
    }
    EXPECT_EQ(rows[2][10],
              "Failed to access the target LSI.\nCheck the user target system connected to the "
              "Vexil.")
        << "a message over two lines survives";
}

// Tells the test each Write block through a pipe.
// Once it has told the last block it waits there to be killed, so that the kill lands in the
// middle of that cycle however slowly the test reads.
struct BlockTeller : OperationObserver {
    int fd = -1;
    int left = 0;
    void OnProgress(const OperationProgress& p) override {
        if (p.operation != programdata::kOperationWrite)
            return;
        if (::write(fd, "b", 1) != 1)
            ::_exit(3);
        if (--left == 0)
            for (;;)
                ::pause();
    }
};

TEST(RecordE2eTest, AWriterKilledInTheMiddleOfACycleLeavesOnlyWholeLines) {
    WriterRig rig;
    rig.env.WriteIni(CycleIni(rig));
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\nCOUNT=2\n", 1, error)) << error;
    // 64 KiB of flash in 8 KiB blocks: eight a cycle. Two cycles and part of the third.
    constexpr int kBlocks = 2 * 8 + 5;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Cycle after cycle until killed; never outlives the test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(2);
        ::close(pipeFds[0]);
        BlockTeller teller;
        teller.fd = pipeFds[1];
        teller.left = kBlocks;
        FakeDialogView view;
        CQuorvelDlg dialog(view, "Quorvel", rig.env.lock);
        dialog.AddOperationObserver(&teller);
        view.actions.push_back([](DialogEvents& e) {
            for (;;)
                e.OnCommand(IDC_PROGRAM);
        });
        dialog.DoModal();
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    int blocks = 0;
    char c;
    while (blocks < kBlocks && ::read(pipeFds[0], &c, 1) == 1)
        ++blocks;
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipeFds[0]);
    ASSERT_EQ(blocks, kBlocks);
    ASSERT_TRUE(WIFSIGNALED(status));

    const auto rows = Record(rig);
    ASSERT_EQ(rows.size(), 1u + 2 * 6) << "two whole cycles of two targets, three lines each";
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), 12u);
    const auto bytes = ReadBytes((rig.env.bin / "Quorvel-record.csv").string());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(std::string(bytes.end() - 2, bytes.end()), "\r\n");
}

}  // namespace
