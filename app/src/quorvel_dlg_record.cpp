// The production record and the yield counters: the Setting menu's record file, the chip
// names the record names, and the boards each cycle counts.
#include <cstring>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/flash_api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/trg_connect_ctrl.h"
#include "platform/files.h"
#include "programdata/limits.h"
#include "programdata/production_record.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_queries.h"

using namespace programdata;

namespace {

constexpr uint32_t kChipNameSize = 64;

std::string DirectoryOf(const std::string& path) {
    char drive[3] = {}, dir[plat::MAX_PATH] = {};
    plat::SplitPath(path.c_str(), drive, sizeof drive, dir, sizeof dir, nullptr, 0, nullptr, 0);
    return std::string(drive) + dir;
}

}  // namespace

std::string CQuorvelDlg::RecordFilePath() const {
    if (settings_.recordOn == 0)
        return {};
    if (!settings_.recordFileName.empty())
        return settings_.recordFileName;
    return DirectoryOf(settings_.logFileName) + kDefaultRecordFileName;
}

std::string CQuorvelDlg::YieldStatePath() const {
    if (settingsFile_.Path().empty())
        return {};
    return DirectoryOf(settingsFile_.Path()) + kYieldStateFileName;
}

void CQuorvelDlg::WriteRecordSettings() {
    if (!settingsFile_.WriteRecordSettings(settings_))
        ShowError(IDS_INI_WRITE_FAILED);
    view_.CheckMenuItem(ID_SETTING_RECORD_ON, settings_.recordOn != 0);
}

void CQuorvelDlg::OnRecordWriteFailed(const std::string& path) {
    ShowFileError(IDS_RECORD_WRITE_FAILED, path);
}

void CQuorvelDlg::OnChooseRecordFile() {
    // A name typed into the "Log File" field moves the default record with it.
    UpdateData(true);
    FileDialogSpec dialog;
    dialog.title = GetStringText(IDS_RECORD_FILE_TITLE);
    dialog.filter = GetStringText(IDS_RECORD_FILE_FILTER);
    dialog.defaultExtension = "csv";
    dialog.initialPath = settings_.recordFileName.empty()
                             ? DirectoryOf(settings_.logFileName) + kDefaultRecordFileName
                             : settings_.recordFileName;
    const std::optional<std::string> path = view_.SaveFileDialog(dialog);
    if (!path.has_value())
        return;
    // The settings file gives back no more: a longer name would come back as another file.
    if (path->size() > kMaxStoredPath) {
        ShowFileError(IDS_RECORD_WRITE_FAILED, *path);
        return;
    }
    settings_.recordFileName = *path;
    settings_.recordOn = 1;
    WriteRecordSettings();
}

void CQuorvelDlg::OnToggleRecord() {
    settings_.recordOn = settings_.recordOn != 0 ? 0 : 1;
    WriteRecordSettings();
}

void CQuorvelDlg::OnResetYield() {
    if (AskOkCancel(IDS_CONFIRM_RESET_YIELD))
        band_.Reset();
}

void CQuorvelDlg::FetchChipNames(int count) {
    chipNames_.fill(std::string());
    CTrgConnectCtrl* list = ApiObj.GetTrgConnect();
    if (list == nullptr)
        return;
    for (int n = 1; n <= count && n <= kMaxTargets; ++n) {
        // Only a target that answered: a silent adapter would cost a time-out per name.
        CFlashApi* adapter = list->GetIndexDevObj(n);
        if (adapter == nullptr || !targets::PlugSucceeded(n))
            continue;
        const int status = targets::Status(n);
        char name[kChipNameSize] = {};
        if (adapter->GetChipName(name, sizeof name))
            chipNames_[size_t(n)].assign(name, strnlen(name, sizeof name));
        // Reading the name resets the adapter object's status: the plug's outcome stays.
        ApiSetTargetStatus(n, status);
    }
}

void CQuorvelDlg::OpenBoardCycle() {
    cycle_ = BoardCycle{};
    cycle_.open = true;
}

void CQuorvelDlg::NoteCycleResult(int op, int target, uint32_t status) {
    if (!cycle_.open || target < 1 || target > kMaxTargets ||
        (op != kOperationWrite && op != kOperationVerify && op != kOperationErase))
        return;
    cycle_.seen[size_t(target)] = true;
    if (cycle_.firstFailure[size_t(target)] == 0)
        cycle_.firstFailure[size_t(target)] = status;
}

void CQuorvelDlg::CloseBoardCycle() {
    cycle_.open = false;
    // Boards of a stopped cycle are neither good nor bad: they will be programmed again.
    if (stoppedByCancel_)
        return;
    std::vector<YieldCounters::Board> boards;
    for (int n = 1; n <= kMaxTargets; ++n)
        if (cycle_.seen[size_t(n)])
            boards.push_back({n, cycle_.firstFailure[size_t(n)] != 0});
    if (!boards.empty())
        band_.CountBoards(boards);
}
