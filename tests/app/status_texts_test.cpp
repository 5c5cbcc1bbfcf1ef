// The controller's status cells, result field and operation log, against simulated adapters
// behind the real library and the scripted view.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "platform/files.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "support/app_fixtures.h"
#include "support/fake_dialog_view.h"
#include "vexilsim/inproc_adapter.h"

namespace fs = std::filesystem;
using namespace programdata;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class StatusTextsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("quorvel_status_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        bin_ = root_ / "bin";
        fs::create_directories(bin_);
        fs::create_directories(root_ / "config");
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        plat::SetModuleFileNameOverrideForTesting((bin_ / "Quorvel").string());
        std::ofstream(bin_ / "QX16A064.TRG")
            << "[VEXIL]\nVEXILDEBUG=ENABLE\nTARGETID00=12345678H\nTARGETID32=00020400H\n"
            << "TARGETID_BIT_NUM=64\n[MMAP]\nNUMBER=1\nDEFAULT1=SC\nSTARTADRS1=0H\n"
            << "ENDADRS1=3DFFH\n";
    }
    void TearDown() override {
        dialog_.reset();
        ApiDelConnect();
        bench_.reset();
        plat::SetModuleFileNameOverrideForTesting("");
        fs::remove_all(root_);
    }

    // Starts the dialog with these settings and count adapters, every target enabled and
    // plugged, with the rows that plugging gives the three lists.
    CQuorvelDlg& Start(int count, const std::string& settings = "") {
        if (!settings.empty())
            std::ofstream(bin_ / "Quorvel.ini", std::ios::binary) << "[Settings]\r\n" << settings;
        bench_ = std::make_unique<vexilsim::SimBench>(info_, count, &VEXIL_INTERFACE_GUID);
        EXPECT_EQ(ApiCreateConnect(), 1);
        dialog_ = std::make_unique<CQuorvelDlg>(view_, "Quorvel", lock_);
        EXPECT_TRUE(dialog_->OnInitDialog());
        for (int n = 1; n <= count; ++n) {
            ApiSetEnableFlg(n, 1);
            ApiSetTargetPlugStatus(n, PLUG_READY);
            view_.ListInsertRow(IDC_CONNECTION_LIST, n - 1, "");
            view_.ListSetCell(IDC_CONNECTION_LIST, n - 1, 1, "Target" + std::to_string(n));
            int list = n <= 16 ? IDC_CHECK_LIST_LOW : IDC_CHECK_LIST_HIGH;
            int row = n <= 16 ? n - 1 : n - 17;
            view_.ListInsertRow(list, row, std::to_string(n));
        }
        return *dialog_;
    }
    std::string Cell(int list, int row, int column) { return view_.ListGetCell(list, row, column); }
    std::string ConnectionStatus(int n) { return Cell(IDC_CONNECTION_LIST, n - 1, 3); }
    std::string CheckStatus(int n) {
        return n <= 16 ? Cell(IDC_CHECK_LIST_LOW, n - 1, 2) : Cell(IDC_CHECK_LIST_HIGH, n - 17, 2);
    }
    int Status(int n) {
        int s = -1;
        ApiGetTargetStatus(n, &s);
        return s;
    }
    std::string Result() { return view_.Control(IDC_RESULT_EDIT).text; }

    fs::path root_, bin_;
    CTargetInfo info_ = SimulatedTarget();
    FreeLock lock_;
    FakeDialogView view_;
    std::unique_ptr<vexilsim::SimBench> bench_;
    std::unique_ptr<CQuorvelDlg> dialog_;
};

TEST_F(StatusTextsTest, ProgressMarksEnabledTargetsAndClearsOnlyPluggedStatuses) {
    CQuorvelDlg& dlg = Start(17);
    view_.SetControlText(IDC_RESULT_EDIT, "Write SUCCESS");
    ApiSetTargetStatus(1, 0x6300);
    ApiSetEnableFlg(2, 0);
    ApiSetTargetStatus(2, 0x6100);
    ApiSetTargetPlugStatus(3, PLUG_IDENTIFIED);
    ApiSetTargetStatus(3, 0x2002);
    const int updates = view_.updates;

    dlg.ShowProgressStatus(kOperationVerify);
    EXPECT_EQ(Result(), "");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultRunning);
    for (int n : {1, 3, 16, 17}) {
        EXPECT_EQ(ConnectionStatus(n), "Verifying") << n;
        EXPECT_EQ(CheckStatus(n), "Verifying") << n;
    }
    EXPECT_EQ(ConnectionStatus(2), "");
    EXPECT_EQ(CheckStatus(2), "");
    EXPECT_EQ(Status(1), 0) << "a plugged target starts afresh";
    EXPECT_EQ(Status(2), 0x6100) << "a disabled target is left alone";
    EXPECT_EQ(Status(3), 0x2002) << "a target that did not plug keeps its reason";
    EXPECT_GT(view_.updates, updates) << "drawn at once";

    dlg.ShowProgressStatus(kOperationPlug);
    EXPECT_EQ(ConnectionStatus(17), "Plugging");
    dlg.ShowProgressStatus(kOperationErase);
    EXPECT_EQ(CheckStatus(4), "Erasing");
    dlg.ShowProgressStatus(kOperationWrite);
    EXPECT_EQ(ConnectionStatus(4), "Writing");
}

TEST_F(StatusTextsTest, UnplugEmptiesTheConnectionListOnlyInDetailMode) {
    CQuorvelDlg& dlg = Start(2);
    dlg.ShowProgressStatus(kOperationWrite);
    dlg.ShowProgressStatus(kOperationUnplug);
    EXPECT_EQ(view_.ListRowCount(IDC_CONNECTION_LIST), 0);
    EXPECT_EQ(CheckStatus(1), "Writing") << "the small lists keep their rows and texts";
    EXPECT_EQ(dlg.ResultDisplayState(), kResultRunning);
    // Later cells have no Connection List row to go to.
    ApiSetTargetStatus(2, 0x6300);
    EXPECT_TRUE(dlg.ShowTargetStatus(2, kOperationErase));
    EXPECT_EQ(CheckStatus(2), "Erase Error: 0x6300");
}

TEST_F(StatusTextsTest, SimpleModeKeepsTheRowsAndDropsThePlugPrefix) {
    CQuorvelDlg& dlg = Start(2, "MODE=1\r\n");
    dlg.ShowProgressStatus(kOperationWrite);
    dlg.ShowProgressStatus(kOperationUnplug);
    EXPECT_EQ(view_.ListRowCount(IDC_CONNECTION_LIST), 2);
    EXPECT_EQ(ConnectionStatus(1), "");
    EXPECT_EQ(CheckStatus(2), "");
    ApiSetTargetStatus(2, 0x2004);
    dlg.ShowTargetStatus(2, kOperationPlug);
    EXPECT_EQ(CheckStatus(2), "Error: Different firmware version.");
}

TEST_F(StatusTextsTest, TargetCellsAfterEachOperation) {
    CQuorvelDlg& dlg = Start(17);
    ApiSetTargetStatus(1, 0x2006);
    EXPECT_TRUE(dlg.ShowTargetStatus(1, kOperationVerify));
    EXPECT_EQ(ConnectionStatus(1), "Verify Error: differences were detected. ");
    EXPECT_EQ(CheckStatus(1), "Verify Error: differences were detected. ");
    EXPECT_TRUE(dlg.ShowTargetStatus(17, kOperationWrite));
    EXPECT_EQ(ConnectionStatus(17), "Write OK");
    EXPECT_EQ(CheckStatus(17), "Write OK");

    // A disabled target keeps its cells; a target that does not exist answers false.
    ApiSetEnableFlg(6, 0);
    ApiSetTargetStatus(6, 0x6300);
    EXPECT_TRUE(dlg.ShowTargetStatus(6, kOperationWrite));
    EXPECT_EQ(ConnectionStatus(6), "");
    EXPECT_FALSE(dlg.ShowTargetStatus(18, kOperationWrite));
    EXPECT_FALSE(dlg.ShowTargetStatus(0, kOperationWrite));
}

TEST_F(StatusTextsTest, ResultTextsAndStatesInDetailMode) {
    CQuorvelDlg& dlg = Start(3);
    dlg.ShowOperationResult(kOperationWrite);
    EXPECT_EQ(Result(), "Write SUCCESS");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultSuccess);
    // A disabled target that failed earlier only makes the result partial.
    ApiSetEnableFlg(2, 0);
    ApiSetTargetStatus(2, 0x6300);
    dlg.ShowOperationResult(kOperationVerify);
    EXPECT_EQ(Result(), "Verify PARTIAL SUCCESS");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultPartialSuccess);
    // Plug looks at every target.
    dlg.ShowOperationResult(kOperationPlug);
    EXPECT_EQ(Result(), "Plug FAILURE");
    ApiSetTargetStatus(3, 0x2006);
    dlg.ShowOperationResult(kOperationErase);
    EXPECT_EQ(Result(), "Erase FAILURE");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultFailure);

    const int updates = view_.updates;
    dlg.ShowOperationResult(kOperationWrite, true);
    EXPECT_EQ(Result(), "Write STOP");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultStopped);
    EXPECT_GT(view_.updates, updates);
}

TEST_F(StatusTextsTest, ResultTextsAndStatesInSimpleMode) {
    CQuorvelDlg& dlg = Start(2, "MODE=1\r\n");
    dlg.ShowOperationResult(kOperationProgram);
    EXPECT_EQ(Result(), "SUCCESS");
    ApiSetEnableFlg(2, 0);
    dlg.ShowOperationResult(kOperationProgram);
    EXPECT_EQ(Result(), "FAILURE");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultPartialSuccess);
    ApiSetTargetStatus(1, 0x6300);
    dlg.ShowOperationResult(kOperationProgram);
    EXPECT_EQ(Result(), "FAILURE");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultFailure);
    dlg.ShowOperationResult(kOperationProgram, true);
    EXPECT_EQ(Result(), "STOP");
    EXPECT_EQ(dlg.ResultDisplayState(), kResultStopped);
}

TEST_F(StatusTextsTest, LogFileButtonChoosesTheLogWithoutOverwriteQuestion) {
    CQuorvelDlg& dlg = Start(1);
    const std::string before = view_.Control(IDC_LOG_FILE_EDIT).text;
    view_.fileDialogAnswers = {std::nullopt, (root_ / "line2.log").string()};
    dlg.OnCommand(IDC_LOG_FILE_BROWSE);
    EXPECT_EQ(view_.Control(IDC_LOG_FILE_EDIT).text, before) << "Cancel changes nothing";
    dlg.OnCommand(IDC_LOG_FILE_BROWSE);
    ASSERT_EQ(view_.fileDialogs.size(), 2u);
    const FileDialogSpec& dialog = view_.fileDialogs[1];
    EXPECT_EQ(dialog.title, "Save log");
    EXPECT_EQ(dialog.filter, "Log file(*.log)|*.log|All files(*.*)|*.*|");
    EXPECT_EQ(dialog.defaultExtension, "log");
    EXPECT_FALSE(dialog.overwritePrompt);
    EXPECT_EQ(view_.Control(IDC_LOG_FILE_EDIT).text, (root_ / "line2.log").string());
    EXPECT_EQ(dlg.Settings().logFileName, (root_ / "line2.log").string());

    // A name the settings file could not give back whole is refused; the chosen log stays.
    const size_t messages = view_.messages.size();
    view_.fileDialogAnswers = {(root_ / (std::string(260, 'x') + ".log")).string()};
    dlg.OnCommand(IDC_LOG_FILE_BROWSE);
    ASSERT_EQ(view_.messages.size(), messages + 1);
    EXPECT_EQ(view_.messages.back().text, GetStringText(IDS_LOG_OPEN_FAILED));
    EXPECT_EQ(view_.Control(IDC_LOG_FILE_EDIT).text, (root_ / "line2.log").string());
    EXPECT_EQ(dlg.Settings().logFileName, (root_ / "line2.log").string());
}

TEST_F(StatusTextsTest, LogGoesToTheTypedFileWithSerialNumbersAndFirmware) {
    CQuorvelDlg& dlg =
        Start(2, "SERIALNUMFLG=1\r\nSERIALNUMLEN=2\r\nSERIALNUM=0001\r\nSERIALNUMADDR=3000\r\n");
    dlg.SetLogClock([](std::tm& t) {
        t = std::tm{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 6;
        t.tm_hour = 4;
        t.tm_min = 50;
        return true;
    });
    const uint8_t first[] = {0x12, 0x34};
    const uint8_t second[] = {0x12, 0x35};
    ApiSetSerialNumber(1, first, 2);
    ApiSetSerialNumber(2, second, 2);
    ApiSetTargetStatus(2, 0x6300);
    const fs::path typed = root_ / "typed.log";
    view_.SetControlText(IDC_LOG_FILE_EDIT, typed.string());
    ASSERT_TRUE(dlg.OpenOperationLog());
    EXPECT_TRUE(dlg.WriteLogHeader(kOperationWrite));
    EXPECT_TRUE(dlg.WriteLogText("Checksum : 1234\n"));
    EXPECT_TRUE(dlg.WriteTargetLogBlock(kOperationWrite, 1));
    EXPECT_TRUE(dlg.WriteTargetLogBlock(kOperationWrite, 2));
    EXPECT_TRUE(dlg.CloseOperationLog());
    EXPECT_EQ(ReadFile(typed),
              "\r\nWrite  2026/12/06 04:50:00\r\nNumber of Target: 2\r\nChecksum : 1234\r\n"
              "\tTarget 1: Write  OK\r\n\t\tSerial No: 0x1234\r\n"
              "\tTarget 2: Error:0x6300\r\nFailed to access the target LSI.\r\nCheck the user "
              "target system connected to the Vexil.\r\n\r\n\t\tSerial No: 0x1235 missing\r\n");
    EXPECT_EQ(dlg.Settings().logFileName, typed.string());

    // Firmware too old: the block names the version the adapter reported.
    bench_->adapter(0).setFirmwareVersion("1.05");
    TRGINFO set{};
    set.count = 1;
    set.entries = &info_;
    ApiSetTargetStatus(1, 0);
    ApiSetTargetPlugStatus(1, PLUG_STARTED);
    ApiSysResetPlug(1);
    ApiCheckTargetName(1, &set, info_.name);
    ApiCheckFirm(1);
    ASSERT_EQ(Status(1), 0x2004);
    ASSERT_TRUE(dlg.OpenOperationLog());
    EXPECT_TRUE(dlg.WriteTargetLogBlock(kOperationPlug, 1));
    EXPECT_TRUE(dlg.CloseOperationLog());
    const std::string log = ReadFile(typed);
    EXPECT_NE(log.find("\tTarget 1: Error:0x2004\r\nDifferent firmware version. Please update "
                       "New Firmware.  Firmware Version: 1.05\r\n\t\tUSB Device Path: " +
                       bench_->path(0) + "\r\n"),
              std::string::npos)
        << log;

    // An emptied field cancels the next operation with 2056.
    view_.SetControlText(IDC_LOG_FILE_EDIT, "");
    EXPECT_FALSE(dlg.OpenOperationLog());
    ASSERT_FALSE(view_.messages.empty());
    EXPECT_EQ(view_.messages.back().text, GetStringText(IDS_LOG_OPEN_FAILED));
    EXPECT_EQ(view_.messages.back().icon, MsgIcon::Error);
    EXPECT_EQ(view_.messages.back().caption, "Quorvel");
}

}  // namespace
