// Target selection through the scripted view: the main combo and the Select Target dialog,
// the geometry each target gives, and the re-check of the registered files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "programdata/string_table.h"
#include "support/fake_dialog_view.h"
#include "support/writer_env.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kBit30 = 1u << 30;

class TargetSelection : public ::testing::Test {
  protected:
    void SetUp() override {
        env.WriteTrg({"QA"});
        // Bit 30 clear, G = 3, bits 8-11 = 4.
        env.WriteTrg({"QB", 0x1C083032, 0x60030400});
        // Bit 30 set, G = 6: 2048 shifted by 6.
        env.WriteTrg({"QC", 0x1C083032 | kBit30, 0x60060200});
        // Bit 30 set, G = 1, two blocks, bits 10-12 of TARGETID64 = 3.
        env.WriteTrg({"QD", 0x1C083032 | kBit30, 0x60010200, 3u << 10});
        // A smaller flash than QA's.
        env.WriteTrg({"QE", 0x1C083032, 0x60010000, 0, {{0, 0xFFF}}});
    }

    void Session(std::function<void(CQuorvelDlg&, DialogEvents&)> play) {
        CQuorvelDlg dialog(view, "Quorvel", env.lock);
        view.actions.push_back([&](DialogEvents& e) { play(dialog, e); });
        dialog.DoModal();
    }
    int IndexOf(const std::string& name) {
        const auto& items = view.Control(IDC_TARGET_COMBO).items;
        return int(std::find(items.begin(), items.end(), name) - items.begin());
    }
    void Select(DialogEvents& e, const std::string& name) {
        view.ComboSetCurSel(IDC_TARGET_COMBO, IndexOf(name));
        e.OnComboSelChange(IDC_TARGET_COMBO);
    }
    void Add(DialogEvents& e, const std::string& file) {
        view.SetControlText(IDC_FILE_NAME_EDIT, file);
        view.SetControlText(IDC_OFFSET_EDIT, "");
        e.OnCommand(IDC_ADD_TO_LIST);
    }

    WriterEnv env;
    FakeDialogView view;
};

TEST_F(TargetSelection, TheComboSetsTheGeometryOfTheSelectedTarget) {
    env.WriteIni("[Settings]\r\nTRGNAME=QA\r\n");
    Session([&](CQuorvelDlg& dialog, DialogEvents& e) {
        const auto& g = dialog.ProgramFiles().geometry();
        ASSERT_TRUE(view.messages.empty());

        Select(e, "QB");
        EXPECT_EQ(g.blockSize, 6144u);
        EXPECT_EQ(g.testAreaSize, 512u);
        EXPECT_EQ(g.testAreaAnchor, 24048u);  // 4 x 6144 - 512 - 16
        EXPECT_EQ(env.Key("TRGNAME"), "QB");
        EXPECT_EQ(view.Control(IDC_TARGET_NAME_EDIT).text, "QB");
        EXPECT_EQ(dialog.SelectedTarget(), uint32_t(IndexOf("QB")));
        EXPECT_TRUE(view.messages.empty());

        Select(e, "QC");
        EXPECT_EQ(g.blockSize, 131072u);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, "Specified target device is not supported.");
        EXPECT_EQ(view.messages[0].icon, MsgIcon::Error);
        EXPECT_EQ(dialog.ProgramFiles().geometry().imageSize, 131072u) << "still used";
        EXPECT_EQ(env.Key("TRGNAME"), "QC");

        Select(e, "QD");
        EXPECT_EQ(g.blockSize, 4096u);
        EXPECT_EQ(g.blockCount, 2u);
        EXPECT_EQ(g.testAreaAnchor, 0u);
        EXPECT_EQ(view.messages.size(), 1u);

        // The settings file cannot be written: 2072, and the selection changes all the same.
        fs::remove(env.IniPath());
        fs::create_directories(env.IniPath());
        Select(e, "QB");
        EXPECT_EQ(view.CountMessages(IDS_INI_WRITE_FAILED), 1);
        EXPECT_EQ(g.blockSize, 6144u);
        EXPECT_EQ(dialog.Settings().targetName, "QB");
        fs::remove(env.IniPath());
    });
}

TEST_F(TargetSelection, TargetChangeRechecksTheFilesAndWarnsOnce) {
    env.WriteIni("[Settings]\r\nTRGNAME=QA\r\n");
    const std::string a = env.WriteFile("a.hex", HexFile(0x2000, {1}));
    const std::string b = env.WriteFile("b.hex", HexFile(0x3000, {2}));
    Session([&](CQuorvelDlg&, DialogEvents& e) {
        Add(e, a);
        Add(e, b);
        ASSERT_TRUE(view.messages.empty());
        Select(e, "QE");
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, GetStringText(IDS_DATA_OUTSIDE_FLASH));
        EXPECT_EQ(view.messages[0].icon, MsgIcon::Information);
        EXPECT_EQ(view.Control(IDC_FILE_LIST).rows.size(), 2u) << "the files stay registered";
        EXPECT_EQ(view.Control(IDC_CHECKSUM_EDIT).text, "00000FF000") << "QE's 4 KiB of 0xFF";
        Select(e, "QA");
        EXPECT_EQ(view.messages.size(), 1u) << "everything fits again";
        EXPECT_EQ(view.Control(IDC_CHECKSUM_EDIT).text, "00007F7E05");
    });
}

TEST_F(TargetSelection, SelectTargetDialogChangesOnlyToAnotherKnownName) {
    env.WriteIni("[Settings]\r\nTRGNAME=QB\r\n");
    Session([&](CQuorvelDlg& dialog, DialogEvents& e) {
        const int qb = IndexOf("QB");
        // Someone else's TRGNAME shows whether the dialog wrote the key.
        env.WriteIni("[Settings]\r\nTRGNAME=elsewhere\r\n");
        view.selectTargetAnswers = {
            {IDCANCEL, "QA"}, {IDOK, "QB"}, {IDOK, "qa"}, {IDOK, ""}, {IDOK, "QA"}};
        for (int i = 0; i < 4; ++i)
            e.OnCommand(ID_SETTING_TARGET);
        EXPECT_EQ(env.Key("TRGNAME"), "elsewhere");
        EXPECT_EQ(view.Control(IDC_TARGET_COMBO).curSel, qb);
        EXPECT_EQ(dialog.SelectedTarget(), uint32_t(qb));
        EXPECT_EQ(dialog.ProgramFiles().geometry().blockSize, 6144u);

        e.OnCommand(ID_SETTING_TARGET);
        EXPECT_EQ(env.Key("TRGNAME"), "QA");
        EXPECT_EQ(view.Control(IDC_TARGET_COMBO).curSel, IndexOf("QA"));
        EXPECT_EQ(view.Control(IDC_TARGET_NAME_EDIT).text, "QA");
        EXPECT_EQ(dialog.ProgramFiles().geometry().blockSize, 2048u);
    });
    EXPECT_TRUE(view.messages.empty());
    ASSERT_EQ(view.selectTargetRequests.size(), 5u);
    EXPECT_EQ(view.selectTargetRequests[0].names, view.Control(IDC_TARGET_COMBO).items);
    EXPECT_EQ(view.selectTargetRequests[0].selected, IndexOf("QB"));
    EXPECT_EQ(view.selectTargetRequests[4].selected, IndexOf("QB"));
}

}  // namespace
