// Command files and the Program cycle, and the checks every flash operation makes first,
// through the scripted view against in-process simulated adapters.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "support/fake_dialog_view.h"
#include "support/writer_env.h"
#include "vexilsim/inproc_adapter.h"

namespace {

TEST(CommandLinesTest, AreTrimmedUpperCasedAndKeepTheirBlankLines) {
    EXPECT_EQ(SplitCommandLines("  write \r\nVerify\r\n\r\n \t\nerase"),
              (std::vector<std::string>{"WRITE", "VERIFY", "", "", "ERASE"}));
    EXPECT_EQ(SplitCommandLines("write verify\n"), (std::vector<std::string>{"WRITE VERIFY"}));
    EXPECT_TRUE(SplitCommandLines("").empty());
    EXPECT_EQ(SplitCommandLines("\xEF\xBB\xBFwrite\r\n"), (std::vector<std::string>{"WRITE"}))
        << "an editor's byte order mark is no part of the first command";
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.WriteTrg({"QX16A064"});
        uint16_t found = 0;
        TRGINFO* set = ApiObj.ReadTargetInfoFile(93, found);
        std::vector<vexilsim::SimChip> chips(2, vexilsim::SimChip(set->entries[0]));
        ApiObj.DeleteTargetInfoSet(&set);
        bench_ = std::make_unique<vexilsim::SimBench>(chips, &VEXIL_INTERFACE_GUID);
        file_ = env_.WriteFile("p.hex", HexFile(0x10, {0x12}));
    }
    void TearDown() override { ApiDelConnect(); }

    // Runs the window with the program file registered, in simple mode, with this command file.
    void RunCycle(FakeDialogView& view, const std::string& commands,
                  const std::function<void(CQuorvelDlg&, DialogEvents&)>& body) {
        const std::string command = env_.WriteFile("run.cd8", commands);
        env_.WriteIni("[Settings]\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=" + file_ +
                      "\r\nCOMFILENAME=" + command + "\r\n");
        CQuorvelDlg dialog(view, "Quorvel", env_.lock);
        view.actions.push_back([&](DialogEvents& e) { body(dialog, e); });
        dialog.DoModal();
    }
    std::string Log() const {
        std::ifstream in(env_.bin / "Quorvel.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static int Count(const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    WriterEnv env_;
    std::unique_ptr<vexilsim::SimBench> bench_;
    std::string file_;
};

TEST_F(ProgramTest, ACycleRunsEveryCommandAndAlwaysEndsUnplugged) {
    FakeDialogView view;
    RunCycle(view, "  write  \r\n\r\nVerify\r\n", [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "SUCCESS");
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_EQ(env_.lock.held, 0);
        EXPECT_TRUE(view.Control(IDC_PROGRAM).focused);
        EXPECT_EQ(bench_->chip(1).ByteAt(0x10), 0x12);
    });
    const std::string log = Log();
    EXPECT_EQ(Count(log, "\nWrite  "), 1);
    EXPECT_EQ(Count(log, "\nVerify  "), 1) << "simple mode verifies only when told to";
    EXPECT_EQ(Count(log, "\nUnplug  "), 1);
}

TEST_F(ProgramTest, ACommandErrorStopsTheCycleAndFailsIt) {
    FakeDialogView view;
    RunCycle(view, "ERASE\nwrite verify\nWRITE\n", [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, "Command error : WRITE VERIFY");
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "FAILURE");
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_EQ(dialog.Band().counters().passed(), 0u) << "no board ran its whole cycle";
    });
    EXPECT_EQ(Count(Log(), "\nErase  "), 1);
    EXPECT_EQ(Count(Log(), "\nWrite  "), 0);
}

TEST_F(ProgramTest, AnEmptyCommandFileOnlyPlugsAndUnplugs) {
    FakeDialogView view;
    RunCycle(view, "", [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "SUCCESS");
        EXPECT_FALSE(dialog.IsPlugged());
    });
    EXPECT_EQ(Count(Log(), "\nPlug  "), 1);
    EXPECT_EQ(Count(Log(), "\nUnplug  "), 1);
}

TEST_F(ProgramTest, ABareNameIsLookedUpBesideTheProgramAndAMissingFilePlugsNothing) {
    env_.WriteFile("bin/side.cd8", "ERASE\n");
    FakeDialogView view;
    RunCycle(view, "", [&](CQuorvelDlg& dialog, DialogEvents& e) {
        view.Control(IDC_COMMAND_FILE_EDIT).text = "side.cd8";
        view.fileDialogAnswers = {std::string("side.cd8")};
        e.OnCommand(ID_FILE_SET_COMMAND_FILE);
        e.OnCommand(IDC_PROGRAM);
        EXPECT_EQ(dialog.Settings().commandFileName, (env_.bin / "side.cd8").string());
        EXPECT_EQ(Count(Log(), "\nErase  "), 1);

        view.fileDialogAnswers = {(env_.root / "missing.cd8").string()};
        e.OnCommand(ID_FILE_SET_COMMAND_FILE);
        e.OnCommand(IDC_PROGRAM);
        EXPECT_EQ(view.messages.back().text,
                  (env_.root / "missing.cd8").string() + " could not be opened.");
        EXPECT_EQ(Count(Log(), "\nPlug  "), 1) << "nothing is plugged";
    });
}

TEST_F(ProgramTest, NothingToWorkOnIsAFailureNotASuccess) {
    bench_.reset();  // no adapter at all
    FakeDialogView view;
    RunCycle(view, "WRITE\n", [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        EXPECT_TRUE(view.Shows(193));
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "FAILURE");
        EXPECT_EQ(dialog.ResultDisplayState(), 2);
    });
}

TEST_F(ProgramTest, OperationsRefuseWithoutEnabledTargetsOrWithASerialAreaOutsideFlash) {
    FakeDialogView view;
    RunCycle(view, "", [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_ALL_CHECK);  // clears every box: nothing is enabled
        for (int row = 0; row < 2; ++row)
            e.OnListCheckChanged(IDC_CONNECTION_LIST, row, false);
        for (int id : {IDC_WRITE, IDC_VERIFY, IDC_ERASE_MEMORY}) {
            e.OnCommand(id);
            EXPECT_TRUE(dialog.OperationFailed());
        }
        EXPECT_EQ(view.CountMessages(2061), 3);
        for (int row = 0; row < 2; ++row)
            e.OnListCheckChanged(IDC_CONNECTION_LIST, row, true);
        env_.WriteIni(env_.IniContent() + "SERIALNUMFLG=1\r\nSERIALNUMADDR=0x7FFE\r\n");
        e.OnCommand(IDC_WRITE);  // four bytes from 7FFEH pass the end of the flash
        EXPECT_TRUE(view.Shows(2067));
        EXPECT_EQ(bench_->chip(0).ByteAt(0x10), 0xFF) << "nothing was written";
    });
    EXPECT_EQ(Count(Log(), "\nWrite  "), 0);
}

}  // namespace
