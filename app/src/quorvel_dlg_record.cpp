// The production record and the yield counters: the Setting menu's record file, the chip
// names the record names, and the boards each cycle counts.
#include "app/control_ids.h"
#include "app/program_paths.h"
#include "app/quorvel_dlg.h"
#include "brindlex/quorvel_api.h"
#include "platform/files.h"
#include "programdata/limits.h"
#include "programdata/production_record.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_cells.h"

using namespace programdata;

namespace {

constexpr uint32_t kChipNameSize = 64;

}  // namespace

std::string CQuorvelDlg::RecordFilePath() const {
    return RecordFilePathOf(settings_);
}

std::string CQuorvelDlg::YieldStatePath() const {
    if (settingsFile_.Path().empty())
        return {};
    return DirectoryOf(settingsFile_.Path()) + kYieldStateFileName;
}

void CQuorvelDlg::WriteRecordSettings() {
    if (!settingsFile_.WriteRecordSettings(settings_))
        ShowFileError(IDS_INI_WRITE_FAILED, settingsFile_.Path());
    view_.CheckMenuItem(ID_SETTING_RECORD_ON, settings_.recordOn != 0);
}

void CQuorvelDlg::OnRecordWriteFailed(const std::string& path) {
    ShowFileError(IDS_RECORD_WRITE_FAILED, path);
}

void CQuorvelDlg::DeliverLineRows(const std::string& path, const std::vector<LineRecordRow>& rows) {
    // A build without the line refuses to plug with one set: nothing to send to.
    if (!settings_.line.On() || line_ == nullptr)
        return;
    if (const LineProblem problem = line_->Record().Deliver(settings_.line, path, rows))
        ShowFileError(problem.messageId, problem.detail);
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
    if (AskOkCancel(IDS_CONFIRM_RESET_YIELD) && !band_.Reset())
        ShowFileError(IDS_YIELD_WRITE_FAILED, YieldStatePath());
}

void CQuorvelDlg::FetchChipNames(int count) {
    chipNames_.fill(std::string());
    // Only a target that answered: a silent adapter would cost a time-out per name.
    for (int n : targets::PluggedOnes()) {
        char name[kChipNameSize] = {};
        if (n <= count && n <= kMaxTargets && ApiObj.GetChipName(n, name, sizeof name) != 0)
            chipNames_[size_t(n)] = name;
    }
}
