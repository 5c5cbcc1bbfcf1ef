// "Save Memory" of the Connection List's menu and Verify's difference report.
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "operation_run.h"
#include "programdata/difference_report.h"
#include "programdata/memory_save.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "programdata/targets.h"

using namespace programdata;

void CQuorvelDlg::OnSaveMemory(int target) {
    UpdateData(true);
    FileDialogSpec dialog;
    dialog.title = GetStringText(IDS_SAVE_MEMORY_TITLE);
    dialog.filter = GetStringText(IDS_SAVE_MEMORY_FILTER);
    dialog.defaultExtension = "hex";
    dialog.overwritePrompt = true;
    const std::optional<std::string> path = view_.SaveFileDialog(dialog);
    if (!path.has_value())
        return;
    SaveTargetMemory(target, *path);
    UpdateData(false);
}

bool CQuorvelDlg::SaveTargetMemory(int target, const std::string& path) {
    OperationRun run(*this, kOperationSave);
    run.OnlyTarget(target);
    run.IdleAfterwards(IdleState::AfterEraseSave);
    SetBusyState(BusyKind::EraseSave);
    const uint32_t size = programData_.packedSize();
    uint32_t count = 0;
    const int read = ApiFlashRead(target, size, &count, programData_.packedBuffer());
    if (targets::Status(target) != 0) {
        ShowTargetStatus(target, kOperationSave);
        run.Finish(Ending::Completed);
        return false;
    }
    // A refused or short read leaves the buffer as an earlier read filled it: that is not this
    // target's flash and must not be saved as such.
    if (read == 0 || count < size) {
        ShowError(IDS_HEX_WRITE_FAILED);
        run.Finish(Ending::Failed);
        return false;
    }
    const bool saved = SaveMemoryHexFile(path, programData_.geometry(), programData_.packedBuffer(),
                                         size, logReporter_);
    run.Finish(saved ? Ending::Completed : Ending::Failed);
    return saved;
}

bool CQuorvelDlg::CompareImages(uint32_t first, uint32_t last, uint32_t& differences) {
    const ComparePump pump = [this] {
        if (run_ != nullptr)
            return run_->Cancelled();
        view_.PumpMessages();
        return false;
    };
    return programdata::CompareImages(programData_.geometry(), programData_.writeImage(),
                                      programData_.flashImage(), first, last, log_, pump,
                                      differences);
}
