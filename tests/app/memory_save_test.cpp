// Save Memory from the Connection List's menu, against simulated adapters behind the real
// library and the scripted view.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "programdata/memory_save.h"
#include "support/fake_dialog_view.h"
#include "support/writer_env.h"
#include "vexilsim/inproc_adapter.h"

namespace fs = std::filesystem;

// Verify fills the images; Cancel sets the flag while messages are pumped.
struct CQuorvelDlgTestAccess {
    static programdata::ProgramData& Data(CQuorvelDlg& dlg) { return dlg.programData_; }
    static void RequestCancel(CQuorvelDlg& dlg) { dlg.cancelRequested_ = 1; }
};

namespace {

TEST(SaveMemoryCommand, SavesTheTargetsFlashAndAFailedReadLeavesNoFile) {
    WriterEnv env;
    env.WriteTrg({"QX16A064", 0x12345678, 0x00020400, 0, {{0, 0x3DFF}}});
    CTargetInfo info = SimulatedTarget();
    info.sizeFromBits10 = info.sizeFromBits13 = 512;
    vexilsim::SimBench bench(info, 2, &VEXIL_INTERFACE_GUID);
    // The area and the test data area above it, as the library reads them.
    std::vector<uint8_t> content(0x4000);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = uint8_t(i * 7 + 1);
    ASSERT_TRUE(bench.chip(0).Load(0, content));
    ASSERT_EQ(ApiCreateConnect(), 1);

    const fs::path saved = env.root / "flash.hex", failed = env.root / "failed.hex";
    FakeDialogView view;
    std::string expected;
    {
        CQuorvelDlg dialog(view, "Quorvel", env.lock);
        view.actions.push_back([&](DialogEvents& e) {
            dialog.BuildTargetRows();
            for (int n : {1, 2}) {
                ApiSysResetPlug(n);
                ApiCheckTargetName(n, const_cast<TRGINFO*>(dialog.TargetSet()), "QX16A064");
                ApiSetTargetPlugStatus(n, PLUG_READY);
            }
            view.popupAnswers = {ID_TARGET_SAVE_MEMORY, ID_TARGET_SAVE_MEMORY};
            view.fileDialogAnswers = {saved.string(), failed.string()};
            e.OnListRightClick(IDC_CONNECTION_LIST, 0);
            bench.adapter(1).InjectFault(vexilsim::CommandKind::kReadFlash,
                                         vexilsim::Fault::Status(0x6100));
            e.OnListRightClick(IDC_CONNECTION_LIST, 1);
            EXPECT_FALSE(dialog.IsBusy());
            expected = programdata::FormatMemoryHex(dialog.ProgramFiles().geometry(),
                                                    content.data(), uint32_t(content.size()));
        });
        dialog.DoModal();
    }
    ApiDelConnect();

    ASSERT_EQ(view.fileDialogs.size(), 2u);
    EXPECT_EQ(view.fileDialogs[0].title, "Save Program Memory");
    EXPECT_EQ(view.fileDialogs[0].filter, "Intel HEX file(*.hex)|*.hex|");
    EXPECT_EQ(view.fileDialogs[0].defaultExtension, "hex");
    EXPECT_TRUE(view.fileDialogs[0].overwritePrompt);
    // 0x3E00 area bytes in 16-byte records and the end record; the test data area is left out.
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 0x3E0 + 1);
    std::ifstream in(saved, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected);

    EXPECT_FALSE(fs::exists(failed));
    EXPECT_EQ(view.ListGetCell(IDC_CONNECTION_LIST, 1, 3), "Save Error: 0x6100");
    EXPECT_TRUE(view.messages.empty());
}

// Verify's comparison goes into the open log and pumps messages, where Cancel is seen.
TEST(SaveMemoryCommand, CompareImagesWritesTheOpenLogAndSeesCancel) {
    WriterEnv env;
    env.WriteTrg({"QX16A064", 0x12345678, 0x00020400, 0, {{0, 0x3DFF}}});
    const fs::path log = env.root / "verify.log";
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", env.lock);
    view.actions.push_back([&](DialogEvents&) {
        programdata::ProgramData& data = CQuorvelDlgTestAccess::Data(dialog);
        data.writeImage().Fill(0xFF);
        data.flashImage().Fill(0xFF);
        data.writeImage()[0x10] = 0x12;
        data.writeImage()[0x2000] = 0x34;
        view.SetControlText(IDC_LOG_FILE_EDIT, log.string());
        ASSERT_TRUE(dialog.OpenOperationLog());

        uint32_t differences = 0;
        const int pumps = view.pumps;
        EXPECT_FALSE(dialog.CompareImages(0, 0x3DFF, differences));
        EXPECT_EQ(differences, 2u);
        EXPECT_EQ(view.pumps - pumps, 4) << "one pump per 4096 addresses";
        view.pumpActions.push_back([](DialogEvents&) {});
        view.pumpActions.push_back(
            [&](DialogEvents&) { CQuorvelDlgTestAccess::RequestCancel(dialog); });
        EXPECT_TRUE(dialog.CompareImages(0, 0x3DFF, differences));
        EXPECT_EQ(differences, 1u) << "stopped before the second chunk";
        EXPECT_TRUE(dialog.CloseOperationLog());
    });
    dialog.DoModal();
    std::ifstream in(log, std::ios::binary);
    const std::string table = "\tAddress   File      Flash\r\n\t==========================\r\n";
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              table + "\t00010H    12H       FFH\r\n\t02000H    34H       FFH\r\n" + table +
                  "\t00010H    12H       FFH\r\n");
}

}  // namespace
