// Start-up, exit and shutdown of the main dialog, driven through the scripted view with an
// "executable" in a temporary directory that holds its own TRG files and settings file.
#include "app/quorvel_dlg.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/control_ids.h"
#include "brindlex/target_info.h"
#include "platform/files.h"
#include "platform/private_profile.h"
#include "programdata/string_table.h"
#include "support/fake_dialog_view.h"

namespace fs = std::filesystem;

namespace {

class CountingLock : public AdapterLock {
  public:
    bool available = true;
    bool denied = false;
    int waits = 0, releases = 0;
    uint32_t lastWaitMs = 0;
    bool Wait(uint32_t ms) override {
        ++waits;
        lastWaitMs = ms;
        return available;
    }
    void Release() override { ++releases; }
    bool Denied() const override { return denied; }
};

class QuorvelDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("quorvel_dlg_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        bin_ = root_ / "bin";
        fs::create_directories(bin_);
        fs::create_directories(root_ / "config");
        // No registry path of the user's leaks into the search.
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        plat::SetModuleFileNameOverrideForTesting((bin_ / "Quorvel").string());
    }
    void TearDown() override {
        plat::SetModuleFileNameOverrideForTesting("");
        fs::remove_all(root_);
    }

    // A target description; accepted unless its identity width is above the writer's limit.
    void WriteTrg(const fs::path& dir, const std::string& name, bool accepted = true) {
        fs::create_directories(dir);
        std::ofstream(dir / (name + ".TRG"))
            << "[VEXIL]\nVEXILDEBUG=ENABLE\nTARGETID00=1C083032H\nTARGETID32=60010200H\n"
            << "TARGETID_BIT_NUM=" << (accepted ? 64 : 128) << "\n"
            << "[MMAP]\nNUMBER=1\nDEFAULT1=SC\nSTARTADRS1=0H\nENDADRS1=7FFFH\n";
    }
    std::string IniPath() const { return (bin_ / "Quorvel.ini").string(); }
    void WriteIni(const std::string& content) {
        std::ofstream(IniPath(), std::ios::binary) << content;
    }
    std::string IniContent() const {
        std::ifstream in(IniPath(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Key(const char* key) const {
        char buffer[1024] = {};
        plat::GetPrivateProfileStringA("Settings", key, "<missing>", buffer, sizeof buffer,
                                       IniPath().c_str());
        return buffer;
    }

    DialogResult Run(FakeDialogView& view) {
        CQuorvelDlg dialog(view, "Quorvel", lock_);
        return dialog.DoModal();
    }
    static void Close(DialogEvents& e) { e.OnCloseRequest(); }

    fs::path root_, bin_;
    CountingLock lock_;
};

TEST_F(QuorvelDlgTest, NoTrgFileAnywhereEndsWith165) {
    WriteIni("[Settings]\r\nTRGNAME=QX08C032\r\nFILENUM=1\r\nFILENAME0=/a.hex\r\n");
    const std::string before = IniContent();
    FakeDialogView view;
    EXPECT_EQ(Run(view), IDCANCEL);
    EXPECT_FALSE(view.initResult);
    EXPECT_FALSE(view.shown);
    EXPECT_TRUE(view.destroyed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, GetStringText(IDS_TRG_NOT_FOUND));
    EXPECT_EQ(view.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(view.messages[0].caption, "Quorvel");
    EXPECT_TRUE(view.Control(IDC_TARGET_COMBO).items.empty());
    EXPECT_EQ(IniContent(), before) << "an abandoned start leaves the stored settings alone";
    EXPECT_EQ(lock_.releases, 1) << "the adapter mutex is released at destruction";
}

TEST_F(QuorvelDlgTest, OnlyUnacceptedTrgFilesEndWith2078) {
    WriteTrg(bin_, "QX99Z128", false);
    WriteTrg(bin_, "QX98Z128", false);
    FakeDialogView view;
    Run(view);
    EXPECT_FALSE(view.shown);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, GetStringText(IDS_TRG_NONE_READ));
    EXPECT_EQ(view.messages[0].icon, MsgIcon::Error);
    EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(QuorvelDlgTest, SkippedTrgFilesWarnAndStartUpGoesOn) {
    WriteTrg(root_ / "TRG", "QX08C032");
    WriteTrg(root_ / "TRG", "QX16A064");
    WriteTrg(root_ / "TRG", "QX99Z128", false);
    FakeDialogView view;
    Run(view);
    EXPECT_TRUE(view.initResult);
    EXPECT_TRUE(view.shown);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, GetStringText(IDS_TRG_SOME_SKIPPED));
    EXPECT_EQ(view.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(view.Control(IDC_TARGET_COMBO).items,
              (std::vector<std::string>{"QX08C032", "QX16A064"}));
    EXPECT_EQ(view.Control(IDC_TARGET_COMBO).curSel, 0);
}

TEST_F(QuorvelDlgTest, WithoutSettingsFileTheFirstTargetIsSelectedAndStored) {
    WriteTrg(bin_, "QX08C032");
    WriteTrg(bin_, "QX16A064");
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", lock_);
    view.actions.push_back([&](DialogEvents&) {
        // Everything start-up promises, checked while the window is open.
        EXPECT_TRUE(view.messages.empty());
        EXPECT_EQ(view.Control(IDC_TARGET_COMBO).curSel, 0);
        EXPECT_EQ(Key("TRGNAME"), "QX08C032");
        EXPECT_EQ(view.Control(IDC_TARGET_NAME_EDIT).text, "QX08C032");
        EXPECT_EQ(view.Control(IDC_LOG_FILE_EDIT).text, (bin_ / "Quorvel.log").string());
        EXPECT_EQ(view.Control(IDC_COMMAND_FILE_EDIT).text, (bin_ / "Write_Verify.cd8").string());
        EXPECT_EQ(view.Control(IDC_FILL_TEXT_EDIT).text, "0xFF");
        EXPECT_TRUE(view.Control(IDC_FILL_FF).checked);
        EXPECT_FALSE(view.Control(IDC_FILL_FLASH_CONTENT).checked);
        EXPECT_TRUE(view.Control(IDC_WRITE_WITH_VERIFY).checked);
        EXPECT_EQ(view.Control(IDC_SERIAL_TEXT_EDIT).text, "");
        EXPECT_EQ(view.Control(IDC_PLUG).text, "&Plug");
        const WriterSettings& s = dialog.Settings();
        EXPECT_EQ(s.mode, 0);
        EXPECT_EQ(s.fillType, 0);
        EXPECT_TRUE(s.programFiles.empty());
        EXPECT_EQ(s.serialOn, 0u);
        EXPECT_EQ(FormatHexBytes(s.serialNumber, s.serialLength), "00000001");
        EXPECT_EQ(FormatHexBytes(s.increment, s.incrementLength), "00000001");
        EXPECT_FALSE(dialog.IsPlugged());
    });
    dialog.DoModal();
    // The About item went into the system menu, and the list views got their columns.
    ASSERT_EQ(view.systemMenu.size(), 1u);
    EXPECT_EQ(view.systemMenu[0], std::make_pair(IDM_ABOUTBOX, std::string(GetStringText(104))));
    const auto& columns = view.Control(IDC_CONNECTION_LIST).columns;
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[2], std::make_pair(std::string("Serial No."), 190));
    EXPECT_TRUE(view.Control(IDC_CONNECTION_LIST).checkBoxes);
    EXPECT_EQ(view.Control(IDC_FILE_LIST).columns.size(), 5u);
    EXPECT_EQ(view.Control(IDC_CONNECTION_LIST).font->face, "Courier New");
    EXPECT_EQ(view.Control(IDC_RESULT_EDIT).font->height, -26);
    // Shutdown wrote the rest of the file.
    EXPECT_EQ(Key("FILENUM"), "0");
    EXPECT_EQ(Key("MODE"), "0");
    EXPECT_EQ(Key("FILLTYPE"), "0");
    EXPECT_EQ(Key("LOGFILENAME"), (bin_ / "Quorvel.log").string());
}

TEST_F(QuorvelDlgTest, StoredTargetNameSelectsItsEntryExactly) {
    WriteTrg(bin_, "QX08C032");
    WriteTrg(bin_, "QX16A064");
    WriteTrg(bin_, "QX32F128");
    struct Case {
        const char* stored;
        int expected;
    };
    for (Case c : {Case{"QX16A064", 1}, Case{"QX32F128", 2}, Case{"qx16a064", 0}, Case{"QX99", 0},
                   Case{"", 0}}) {
        WriteIni(std::string("[Settings]\r\nTRGNAME=") + c.stored + "\r\n");
        FakeDialogView view;
        CQuorvelDlg dialog(view, "Quorvel", lock_);
        dialog.DoModal();
        EXPECT_EQ(view.Control(IDC_TARGET_COMBO).curSel, c.expected) << c.stored;
        EXPECT_EQ(dialog.SelectedTarget(), static_cast<uint32_t>(c.expected)) << c.stored;
        EXPECT_EQ(Key("TRGNAME"), view.Control(IDC_TARGET_COMBO).items[c.expected]) << c.stored;
    }
}

TEST_F(QuorvelDlgTest, TargetChangeStoresTheNameAtOnce) {
    WriteTrg(bin_, "QX08C032");
    WriteTrg(bin_, "QX16A064");
    FakeDialogView view;
    view.actions.push_back([&](DialogEvents& e) {
        view.ComboSetCurSel(IDC_TARGET_COMBO, 1);
        e.OnComboSelChange(IDC_TARGET_COMBO);
        EXPECT_EQ(Key("TRGNAME"), "QX16A064");
        EXPECT_EQ(view.Control(IDC_TARGET_NAME_EDIT).text, "QX16A064");
    });
    Run(view);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(QuorvelDlgTest, UnwritableSettingsFileReports2072AndGoesOn) {
    WriteTrg(bin_, "QX08C032");
    fs::create_directories(IniPath());  // nothing can replace a directory, not even root
    FakeDialogView view;
    view.actions.push_back([&](DialogEvents&) {
        EXPECT_EQ(view.CountMessages(IDS_INI_WRITE_FAILED), 1) << "TRGNAME at start-up";
        EXPECT_EQ(view.Control(IDC_TARGET_COMBO).curSel, 0) << "the selection still applies";
    });
    Run(view);
    EXPECT_TRUE(view.shown);
    EXPECT_EQ(view.CountMessages(IDS_INI_WRITE_FAILED), 2) << "and FILENUM at shutdown";
    for (const ShownMessage& m : view.messages)
        EXPECT_EQ(m.icon, MsgIcon::Error);
}

TEST_F(QuorvelDlgTest, StoredFileListSurvivesStartAndShutdown) {
    WriteTrg(bin_, "QX08C032");
    const std::string a = (root_ / "a.hex").string(), b = (root_ / "b b.s").string();
    std::ofstream(a) << ":0110000012DD\n:00000001FF\n";
    std::ofstream(b) << "S1042000AB30\nS9030000FC\n";
    WriteIni("[Settings]\r\nTRGNAME=QX08C032\r\nFILENUM=2\r\nFILENAME0=" + a +
             "\r\nOFFSET0=-01000H\r\nFILENAME1=" + b +
             "\r\nOFFSET1= 00000H\r\nLOGFILENAME=/logs/q.log\r\nCOMFILENAME=/cmd/x.cd8\r\n"
             "MODE=1\r\nFILLTYPE=5\r\n");
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", lock_);
    view.actions.push_back([&](DialogEvents&) {
        EXPECT_EQ(view.Control(IDC_LOG_FILE_EDIT).text, "/logs/q.log");
        EXPECT_EQ(view.Control(IDC_COMMAND_FILE_EDIT).text, "/cmd/x.cd8");
        EXPECT_EQ(view.Control(IDC_FILL_TEXT_EDIT).text, "0xFF") << "5 is not 1";
        EXPECT_EQ(dialog.Settings().mode, 1);
        EXPECT_EQ(dialog.Settings().programFiles.size(), 2u);
    });
    dialog.DoModal();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(Key("FILENUM"), "2");
    EXPECT_EQ(Key("FILENAME0"), a);
    EXPECT_EQ(Key("OFFSET0"), "-01000H");
    EXPECT_EQ(Key("FILENAME1"), b);
    EXPECT_NE(IniContent().find("OFFSET1= 00000H"), std::string::npos) << "the column's blank";
    EXPECT_EQ(Key("LOGFILENAME"), "/logs/q.log");
    EXPECT_EQ(Key("COMFILENAME"), "/cmd/x.cd8");
    EXPECT_EQ(Key("MODE"), "1");
    EXPECT_EQ(Key("FILLTYPE"), "5") << "kept as read";

    // A second run reads what the first one saved: nothing drifts.
    const std::string saved = IniContent();
    FakeDialogView again;
    Run(again);
    EXPECT_EQ(IniContent(), saved);
}

TEST_F(QuorvelDlgTest, SerialNumberTextShownWhenSerializationIsOn) {
    WriteTrg(bin_, "QX08C032");
    WriteIni(
        "[Settings]\r\nSERIALNUMFLG=1\r\nSERIALNUM=00AB12\r\nSERIALNUMLEN=3\r\nFILLTYPE=1\r\n");
    FakeDialogView view;
    view.actions.push_back([&](DialogEvents&) {
        EXPECT_EQ(view.Control(IDC_SERIAL_TEXT_EDIT).text, "00AB12");
        EXPECT_EQ(view.Control(IDC_FILL_TEXT_EDIT).text, "Content of Flash Memory");
        EXPECT_TRUE(view.Control(IDC_FILL_FLASH_CONTENT).checked);
    });
    Run(view);
}

TEST_F(QuorvelDlgTest, ExitAndCloseAskFirstAndCancelKeepsTheWindow) {
    WriteTrg(bin_, "QX08C032");
    FakeDialogView view;
    view.messageAnswers = {IDCANCEL, IDCANCEL, IDCANCEL, IDOK};
    view.actions = {
        Close,
        [](DialogEvents& e) { e.OnCommand(IDC_EXIT); },
        [](DialogEvents& e) { e.OnCommand(ID_FILE_EXIT); },
        [&](DialogEvents& e) {
            EXPECT_FALSE(view.ended) << "three times Cancel";
            EXPECT_FALSE(view.destroyed);
            e.OnCommand(IDC_EXIT);
        },
        [](DialogEvents&) { ADD_FAILURE() << "the dialog should have ended"; },
    };
    EXPECT_EQ(Run(view), IDOK);
    ASSERT_EQ(view.messages.size(), 4u);
    for (const ShownMessage& m : view.messages) {
        EXPECT_EQ(m.text, "Do you want to exit Quorvel?");
        EXPECT_EQ(m.icon, MsgIcon::Question);
        EXPECT_EQ(m.buttons, MsgButtons::OkCancel);
        EXPECT_EQ(m.caption, "Quorvel");
    }

    FakeDialogView closing;
    closing.actions = {Close};
    EXPECT_EQ(Run(closing), IDCANCEL);
    EXPECT_TRUE(closing.ended);

    FakeDialogView menu;
    menu.actions = {[](DialogEvents& e) { e.OnCommand(ID_FILE_EXIT); }};
    EXPECT_EQ(Run(menu), IDOK);
}

TEST_F(QuorvelDlgTest, LogFileNameTypedByTheOperatorIsSaved) {
    WriteTrg(bin_, "QX08C032");
    FakeDialogView view;
    view.actions = {[&](DialogEvents& e) {
        view.SetControlText(IDC_LOG_FILE_EDIT, "/elsewhere/line3.log");
        e.OnCommand(IDC_EXIT);
    }};
    Run(view);
    EXPECT_EQ(Key("LOGFILENAME"), "/elsewhere/line3.log");
}

TEST_F(QuorvelDlgTest, AdapterMutexTimeOutShows2039AndReleases) {
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", lock_);
    EXPECT_TRUE(dialog.AcquireAdapterMutex());
    EXPECT_EQ(lock_.lastWaitMs, 3000u);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(lock_.releases, 0) << "a taken mutex stays held";

    lock_.available = false;
    EXPECT_FALSE(dialog.AcquireAdapterMutex());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Vexil is not connected. Check the connection.");
    EXPECT_EQ(view.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(lock_.releases, 1);

    // A mutex this program may not use at all is reported as such.
    lock_.denied = true;
    EXPECT_FALSE(dialog.AcquireAdapterMutex());
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1].id, 2091u);
    EXPECT_EQ(view.messages[1].icon, MsgIcon::Error);
}

TEST_F(QuorvelDlgTest, ReportingUsesTheProgramNameAndFileNames) {
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Line7", lock_);
    dialog.ShowWarning(IDS_TRG_SOME_SKIPPED);
    dialog.ShowInformation(IDS_DATA_OUTSIDE_FLASH);
    dialog.ShowFileError(IDS_FILE_OPEN_FAILED, "/p/a.hex");
    view.messageAnswers = {IDCANCEL};
    EXPECT_FALSE(dialog.AskOkCancel(IDS_CONFIRM_CANCEL));
    EXPECT_TRUE(dialog.AskOkCancel(IDS_CONFIRM_CANCEL));
    ASSERT_EQ(view.messages.size(), 5u);
    EXPECT_EQ(view.messages[0].icon, MsgIcon::Warning);
    EXPECT_EQ(view.messages[1].icon, MsgIcon::Information);
    EXPECT_EQ(view.messages[2].text, "/p/a.hex could not be opened.");
    EXPECT_EQ(view.messages[3].buttons, MsgButtons::OkCancel);
    for (const ShownMessage& m : view.messages)
        EXPECT_EQ(m.caption, "Line7");
}

TEST_F(QuorvelDlgTest, EnterIsPassedOnOnlyForTheOperationButtons) {
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", lock_);
    for (int id :
         {IDC_WRITE, IDC_EXIT, IDC_PLUG, IDC_PROGRAM, IDC_LOG_FILE_BROWSE, IDC_FILE_BROWSE})
        EXPECT_TRUE(dialog.IsEnterPassedOn(id)) << id;
    for (int id : {IDC_FILE_NAME_EDIT, IDC_OFFSET_EDIT, IDC_TARGET_COMBO, IDC_CONNECTION_LIST,
                   IDC_CONNECTION_CHECK, 0})
        EXPECT_FALSE(dialog.IsEnterPassedOn(id)) << id;
}

}  // namespace
