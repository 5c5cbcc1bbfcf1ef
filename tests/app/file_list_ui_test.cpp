// The program file list of the main window through the scripted view: Add to List, Delete from
// List, "...", the Add/Delete Hex/S File dialog, the restore at start-up and the save at
// shutdown.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "programdata/string_table.h"
#include "support/fake_dialog_view.h"
#include "support/writer_env.h"

namespace {

using Cells = std::vector<std::string>;

class FileListUi : public ::testing::Test {
  protected:
    void SetUp() override { env.WriteTrg({"QX08C032"}); }

    // Runs the dialog with one operator session played after start-up.
    void Session(std::function<void(CQuorvelDlg&, DialogEvents&)> play) {
        CQuorvelDlg dialog(view, "Quorvel", env.lock);
        view.actions.push_back([&](DialogEvents& e) { play(dialog, e); });
        dialog.DoModal();
    }
    // Types the entry fields and presses "&Add to List".
    void Add(DialogEvents& e, const std::string& file, const std::string& offset = "") {
        view.SetControlText(IDC_FILE_NAME_EDIT, file);
        view.SetControlText(IDC_OFFSET_EDIT, offset);
        e.OnCommand(IDC_ADD_TO_LIST);
    }
    Cells RowCells(int row) { return view.Control(IDC_FILE_LIST).rows.at(size_t(row)).cells; }
    size_t Rows() { return view.Control(IDC_FILE_LIST).rows.size(); }
    std::string Checksum() { return view.Control(IDC_CHECKSUM_EDIT).text; }
    bool Enabled(int id) { return view.Control(id).enabled; }
    const ShownMessage& LastMessage() { return view.messages.back(); }

    WriterEnv env;
    FakeDialogView view;
};

TEST_F(FileListUi, AddToListMirrorsTheRowAndShowsTheChecksum) {
    const std::string a = env.WriteFile("a.hex", HexFile(0, {0x12}));
    const std::string b = env.WriteFile("b.hex", HexFile(0x1100, {0x34}));
    Session([&](CQuorvelDlg& dialog, DialogEvents& e) {
        view.EnableControl(IDC_WRITE, true);  // not plugged: Add must not leave these usable
        view.EnableControl(IDC_VERIFY, true);
        view.EnableControl(IDC_PROGRAM, false);
        Add(e, a);
        EXPECT_TRUE(view.messages.empty());
        ASSERT_EQ(Rows(), 1u);
        EXPECT_EQ(RowCells(0), (Cells{a, "00000H", "00000H", " 00000H", "00000H"}));
        // 0x7FFF bytes of fill 0xFF and the file's 0x12.
        EXPECT_EQ(Checksum(), "00007F7F13");
        EXPECT_TRUE(view.Control(IDC_WRITE).focused);
        EXPECT_TRUE(Enabled(IDC_PROGRAM)) << "the command file name is set";
        EXPECT_FALSE(Enabled(IDC_WRITE));
        EXPECT_FALSE(Enabled(IDC_VERIFY));

        Add(e, b, "-1000");
        ASSERT_EQ(Rows(), 2u);
        EXPECT_EQ(RowCells(1), (Cells{b, "01100H", "01100H", "-01000H", "00100H"}));
        EXPECT_EQ(Checksum(), "00007F7E48") << "0x34 replaces one 0xFF at 0x100";
        EXPECT_EQ(dialog.Settings().programFiles,
                  (std::vector<StoredProgramFile>{{a, " 00000H"}, {b, "-01000H"}}));
    });
    EXPECT_EQ(env.Key("FILENUM"), "2");
    EXPECT_EQ(env.Key("FILENAME1"), b);
    EXPECT_EQ(env.Key("OFFSET1"), "-01000H");
}

TEST_F(FileListUi, AddToListRefusesWithTheReasonAndTheFocus) {
    const std::string a = env.WriteFile("a.hex", HexFile(0x100, {1, 2}));
    const std::string overlapping = env.WriteFile("c.hex", HexFile(0x0F0, {0, 0}));
    const std::string noEnd = env.WriteFile("d.hex", HexRecord(0x200, {9}));
    const std::string missing = (env.root / "none.hex").string();
    Session([&](CQuorvelDlg&, DialogEvents& e) {
        Add(e, a);
        ASSERT_EQ(Rows(), 1u);
        const std::string checksum = Checksum();

        Add(e, a, "100");  // the same path with another offset
        EXPECT_EQ(LastMessage().text, a + " is already registered in File List.");
        EXPECT_EQ(LastMessage().icon, MsgIcon::Error);

        Add(e, overlapping, "11");  // 0xF0 + 0x11 lands on 0x101
        EXPECT_EQ(LastMessage().text, GetStringText(IDS_FILE_OVERLAPS_REGISTERED));
        Add(e, overlapping, "E");  // ends just below a: accepted
        EXPECT_EQ(Rows(), 2u);
        e.OnCommand(IDC_DELETE_FROM_LIST);  // no selection: nothing happens
        view.ListSelectRow(IDC_FILE_LIST, 1);
        e.OnCommand(IDC_DELETE_FROM_LIST);
        EXPECT_EQ(Checksum(), checksum);

        Add(e, noEnd, "x10");
        EXPECT_EQ(LastMessage().text, GetStringText(IDS_ILLEGAL_OFFSET));
        EXPECT_TRUE(view.Control(IDC_OFFSET_EDIT).focused);

        Add(e, noEnd, "10");
        EXPECT_EQ(LastMessage().text, "No valid end record was found in " + noEnd + ".");
        EXPECT_TRUE(view.Control(IDC_FILE_NAME_EDIT).focused);

        Add(e, missing);
        EXPECT_EQ(LastMessage().text, missing + " could not be opened.");
        EXPECT_EQ(Rows(), 1u) << "nothing refused was registered";
        EXPECT_EQ(Checksum(), checksum);
    });
    EXPECT_EQ(view.messages.size(), 5u);
}

TEST_F(FileListUi, DataOutsideFlashIsRegisteredWithOneInformation) {
    const std::string a = env.WriteFile("a.hex", HexFile(0x7FFF, {1, 2}));
    Session([&](CQuorvelDlg&, DialogEvents& e) {
        Add(e, a);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, GetStringText(IDS_DATA_OUTSIDE_FLASH));
        EXPECT_EQ(view.messages[0].icon, MsgIcon::Information);
        EXPECT_EQ(Rows(), 1u);
        EXPECT_EQ(RowCells(0)[2], "08000H");
    });
}

TEST_F(FileListUi, DeleteFromListRemovesSelectedRowsAndDisablesTheOperationsWhenEmpty) {
    std::string files[3];
    for (int i = 0; i < 3; ++i)
        files[i] = env.WriteFile("f" + std::to_string(i) + ".hex", HexFile(0x100 * i, {7}));
    Session([&](CQuorvelDlg& dialog, DialogEvents& e) {
        for (const std::string& f : files)
            Add(e, f);
        ASSERT_EQ(Rows(), 3u);
        view.Control(IDC_FILE_LIST).selected = {2, 0};
        e.OnCommand(IDC_DELETE_FROM_LIST);
        ASSERT_EQ(Rows(), 1u);
        EXPECT_EQ(RowCells(0)[0], files[1]);
        EXPECT_EQ(dialog.ProgramFiles().rowCount(), 1u);
        EXPECT_EQ(dialog.Settings().programFiles.size(), 1u);
        EXPECT_NE(Checksum(), "");

        // As a plugged window would have them.
        view.EnableControl(IDC_WRITE, true);
        view.EnableControl(IDC_VERIFY, true);
        EXPECT_TRUE(Enabled(IDC_PROGRAM));
        view.ListSelectRow(IDC_FILE_LIST, 0);
        e.OnCommand(IDC_DELETE_FROM_LIST);
        EXPECT_EQ(Rows(), 0u);
        EXPECT_FALSE(Enabled(IDC_WRITE));
        EXPECT_FALSE(Enabled(IDC_VERIFY));
        EXPECT_FALSE(Enabled(IDC_PROGRAM));
        EXPECT_EQ(Checksum(), "") << "an empty list has no checksum";
        // The files are closed with their rows: the same path registers again.
        Add(e, files[0]);
        EXPECT_EQ(Rows(), 1u);
    });
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(FileListUi, BrowseFillsTheFieldAndTheFieldDecidesAddToList) {
    Session([&](CQuorvelDlg&, DialogEvents& e) {
        view.SetControlText(IDC_OFFSET_EDIT, "typed");
        view.fileDialogAnswers = {std::nullopt, std::string("/p/chosen.hex")};
        view.EnableControl(IDC_ADD_TO_LIST, false);
        e.OnCommand(IDC_FILE_BROWSE);
        EXPECT_FALSE(Enabled(IDC_ADD_TO_LIST)) << "cancelled";
        e.OnCommand(IDC_FILE_BROWSE);
        EXPECT_EQ(view.Control(IDC_FILE_NAME_EDIT).text, "/p/chosen.hex");
        EXPECT_EQ(view.Control(IDC_OFFSET_EDIT).text, "typed");
        EXPECT_TRUE(Enabled(IDC_ADD_TO_LIST));
        ASSERT_EQ(view.fileDialogs.size(), 2u);
        EXPECT_EQ(view.fileDialogs[0].title, "Select File to write");
        EXPECT_EQ(view.fileDialogs[0].filter,
                  "Intel HEX file(*.hex)|*.hex|Motorola S file(*.s)|*.s|All files(*.*)|*.*|");
        EXPECT_EQ(view.fileDialogs[0].defaultExtension, "hex");

        view.SetControlText(IDC_FILE_NAME_EDIT, "");
        e.OnEditChange(IDC_FILE_NAME_EDIT);
        EXPECT_FALSE(Enabled(IDC_ADD_TO_LIST));
        view.SetControlText(IDC_FILE_NAME_EDIT, "x");
        e.OnEditChange(IDC_FILE_NAME_EDIT);
        EXPECT_TRUE(Enabled(IDC_ADD_TO_LIST));
        e.OnEditChange(IDC_OFFSET_EDIT);  // other fields leave it alone
        EXPECT_TRUE(Enabled(IDC_ADD_TO_LIST));
    });
}

TEST_F(FileListUi, ProgramFileDialogAddsAndDeletesOnTheMainList) {
    const std::string a = env.WriteFile("a.hex", HexFile(0, {1}));
    const std::string b = env.WriteFile("b.hex", HexFile(0x8000, {2}));  // outside flash
    view.addHexFileAnswers = {{IDCANCEL, a, ""},
                              {IDOK, a, "+"},  // a sign with nothing after it
                              {IDOK, a, ""},
                              {IDOK, b, "+10"}};
    std::vector<bool> added;
    view.programFileDialogActions = {
        [&](ProgramFileDialogHost& host) {
            for (int i = 0; i < 4; ++i)
                added.push_back(host.AddFromDialog());
            const auto rows = host.FileListRows();
            ASSERT_EQ(rows.size(), 2u);
            EXPECT_EQ(rows[1],
                      (std::array<std::string, 5>{b, "08000H", "08000H", "+00010H", "08010H"}));
        },
        [&](ProgramFileDialogHost& host) {
            host.DeleteRows({0, 1});
        },
    };
    Session([&](CQuorvelDlg& dialog, DialogEvents& e) {
        view.SetControlText(IDC_FILE_NAME_EDIT, "/typed/before.hex");
        e.OnCommand(ID_FILE_PROGRAM_FILES);
        EXPECT_EQ(view.Control(IDC_FILE_NAME_EDIT).text, "/typed/before.hex");
        EXPECT_EQ(added, (std::vector<bool>{false, false, true, true}));
        EXPECT_EQ(Rows(), 0u) << "deleted through the dialog";
        EXPECT_EQ(dialog.ProgramFiles().rowCount(), 0u);
        EXPECT_FALSE(Enabled(IDC_PROGRAM));
        EXPECT_EQ(Checksum(), "");
    });
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[0].text, GetStringText(IDS_ILLEGAL_OFFSET));
    EXPECT_EQ(view.messages[1].text, GetStringText(IDS_DATA_OUTSIDE_FLASH));
}

TEST_F(FileListUi, ProgramFileDialogListUsesTheMainListsFontForTheLanguage) {
    std::vector<FontSpec> fonts;
    auto ask = [&](ProgramFileDialogHost& host) { fonts.push_back(host.FileListFont()); };
    view.localeLanguage = "日本語";
    view.programFileDialogActions = {ask};
    Session([&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(ID_FILE_PROGRAM_FILES);
        view.localeLanguage = "English";
        view.programFileDialogActions = {ask};
        e.OnCommand(ID_FILE_PROGRAM_FILES);
    });
    ASSERT_EQ(fonts.size(), 2u);
    EXPECT_EQ(fonts[0], (FontSpec{"ＭＳ ゴシック", -12, true}));
    EXPECT_EQ(fonts[0], view.Control(IDC_CONNECTION_LIST).font);
    EXPECT_EQ(fonts[1], (FontSpec{"Courier New", -12, true}));
}

TEST_F(FileListUi, StartUpRestoresTheStoredListAndShutdownSavesWhatIsRegistered) {
    const std::string a = env.WriteFile("a.hex", HexFile(0x1000, {0x12}));
    const std::string out1 = env.WriteFile("o1.hex", HexFile(0x9000, {1}));
    const std::string out2 = env.WriteFile("o2.hex", HexFile(0xA000, {1}));
    // FILENUM names five entries; the last two have no keys and come back as empty names.
    env.WriteIni("[Settings]\r\nTRGNAME=QX08C032\r\nFILENUM=5\r\nFILENAME0=" + a +
                 "\r\nOFFSET0=-01000H\r\nFILENAME1=" + out1 + "\r\nFILENAME2=" + out2 +
                 "\r\nOFFSET2=+00010H\r\n");
    Session([&](CQuorvelDlg&, DialogEvents&) {
        ASSERT_EQ(Rows(), 3u);
        EXPECT_EQ(RowCells(0), (Cells{a, "01000H", "01000H", "-01000H", "00000H"}));
        EXPECT_EQ(RowCells(1)[3], " 00000H") << "an empty OFFSET is 0";
        EXPECT_EQ(RowCells(2)[3], "+00010H");
        EXPECT_EQ(Checksum(), "00007F7F13");
        EXPECT_TRUE(Enabled(IDC_PROGRAM));
    });
    ASSERT_EQ(view.messages.size(), 3u);
    EXPECT_EQ(view.messages[0].text, " could not be opened.");
    EXPECT_EQ(view.messages[1].text, " could not be opened.");
    EXPECT_EQ(view.messages[2].text, GetStringText(IDS_DATA_OUTSIDE_FLASH)) << "once for two";
    EXPECT_EQ(view.messages[2].icon, MsgIcon::Information);
    EXPECT_EQ(env.Key("FILENUM"), "3");
    EXPECT_EQ(env.Key("FILENAME2"), out2);
    EXPECT_EQ(env.Key("OFFSET2"), "+00010H");

    // Started again, the saved list comes back as it was, without the refused entries.
    FakeDialogView again;
    CQuorvelDlg second(again, "Quorvel", env.lock);
    again.actions.push_back([&](DialogEvents&) {
        EXPECT_EQ(again.Control(IDC_FILE_LIST).rows.size(), 3u);
        ASSERT_EQ(again.messages.size(), 1u) << "the saved entries are all usable";
        EXPECT_EQ(again.messages[0].text, GetStringText(IDS_DATA_OUTSIDE_FLASH));
    });
    second.DoModal();
    EXPECT_EQ(env.Key("FILENAME0"), a);
    EXPECT_EQ(env.Key("OFFSET0"), "-01000H");
}

TEST_F(FileListUi, RegisteredFileChangedOnDiskIsRefusedAtTheNextUse) {
    const std::string a = env.WriteFile("a.hex", HexFile(0, {1}));
    const std::string b = env.WriteFile("b.hex", HexFile(0x10, {2}));
    Session([&](CQuorvelDlg&, DialogEvents& e) {
        Add(e, a);
        Add(e, b);
        const std::string checksum = Checksum();
        std::ofstream(a, std::ios::binary | std::ios::trunc) << HexFile(0, {3});
        // The target change re-reads every file.
        e.OnComboSelChange(IDC_TARGET_COMBO);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, a + " could not be opened.");
        EXPECT_EQ(Checksum(), checksum) << "the changed content never reaches the checksum";
        // So does the checksum after a deletion.
        view.ListSelectRow(IDC_FILE_LIST, 1);
        e.OnCommand(IDC_DELETE_FROM_LIST);
        ASSERT_EQ(view.messages.size(), 2u);
        EXPECT_EQ(view.messages[1].text, a + " could not be opened.");
        EXPECT_EQ(Checksum(), checksum);
        // Deleted and added again, the new content is taken.
        view.ListSelectRow(IDC_FILE_LIST, 0);
        e.OnCommand(IDC_DELETE_FROM_LIST);
        Add(e, a);
        EXPECT_EQ(Checksum(), "00007F7F04");
    });
}

}  // namespace
