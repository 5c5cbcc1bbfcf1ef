// Save Memory from the Connection List's menu against simulated adapters behind the real
// library and the scripted view.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "programdata/memory_save.h"
#include "support/fake_dialog_view.h"
#include "support/writer_env.h"
#include "vexilsim/inproc_adapter.h"

namespace fs = std::filesystem;

namespace {

TEST(SaveMemoryCommand, SavesTheTargetsFlashAndAFailedReadLeavesNoFile) {
    WriterEnv env;
    env.WriteTrg({"QX16A064", 0x12345678, 0x00020400, 0, {{0, 0x3DFF}}});
    CTargetInfo info = SimulatedTarget();
    info.sizeFromBits10 = info.sizeFromBits13 = 512;
    vexilsim::SimBench bench(info, 2, &VEXIL_INTERFACE_GUID);
    std::vector<uint8_t> content(0x4000);  // the area and the test data area above it
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
            EXPECT_TRUE(view.messages.empty());
            // No target 0: the read is refused with no status, and a stale buffer is not saved.
            dialog.SaveTargetMemory(0, failed.string());
            expected = programdata::FormatMemoryHex(dialog.ProgramFiles().geometry(),
                                                    content.data(), uint32_t(content.size()));
        });
        dialog.DoModal();
    }
    ApiDelConnect();
    ASSERT_EQ(view.fileDialogs.size(), 2u);
    const FileDialogSpec& asked = view.fileDialogs[0];
    EXPECT_EQ(asked.title + asked.filter + asked.defaultExtension,
              "Save Program MemoryIntel HEX file(*.hex)|*.hex|hex");
    EXPECT_TRUE(asked.overwritePrompt);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 0x3E0 + 1) << "no test area";
    std::stringstream text;
    text << std::ifstream(saved, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(), expected);
    EXPECT_FALSE(fs::exists(failed));
    EXPECT_EQ(view.ListGetCell(IDC_CONNECTION_LIST, 1, 3), "Save Error: 0x6100");
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Cannot write the hex file.");
}

}  // namespace
