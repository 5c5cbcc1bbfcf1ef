// The operation log of each operation and the status texts of the target lists and the
// "Operation Result" field.
#include <array>
#include <cstring>
#include <vector>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "programdata/error_messages.h"
#include "programdata/limits.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_cells.h"

using namespace programdata;

namespace {

constexpr int kConnectionStatusColumn = 3;
constexpr int kCheckListStatusColumn = 2;
// Firmware version texts are a few characters ("1.23"); more is not a version.
constexpr uint32_t kMaxFirmwareTextSize = 64;

}  // namespace

void CQuorvelDlg::MessageReporter::Report(int messageId, const std::string& fileName,
                                          MessageIcon icon) {
    const std::string text = FormatStringText(uint32_t(messageId), fileName);
    const MsgIcon shown = icon == MessageIcon::Error     ? MsgIcon::Error
                          : icon == MessageIcon::Warning ? MsgIcon::Warning
                                                         : MsgIcon::Information;
    dlg_.view_.MessageBox(
        {uint32_t(messageId), text, dlg_.programName_, shown, MsgButtons::Ok, fileName});
}

bool CQuorvelDlg::FirmwareVersionText(int target, std::string& text) {
    text = targets::FetchText(
               [target](char* buffer, uint32_t size, uint32_t& needed) {
                   return ApiObj.GetFirmVerStr(target, buffer, size, needed);
               },
               kMaxFirmwareTextSize)
               .value_or("");
    return !text.empty();
}

// ---------------------------------------------------------------------------------------------
// The log

bool CQuorvelDlg::OpenOperationLog() {
    // A name typed into the field counts.
    UpdateData(true);
    return log_.OpenOperationLog(settings_.logFileName);
}

bool CQuorvelDlg::WriteLogHeader(int op) {
    return log_.WriteLogHeader(op);
}

bool CQuorvelDlg::WriteLogText(const std::string& text) {
    return log_.WriteLogText(text);
}

bool CQuorvelDlg::WriteTargetLogBlock(int op, int target) {
    if (op != kOperationWrite || settings_.serialOn == 0)
        return log_.WriteTargetLogBlock(op, target);
    // The number this target was given, as the library holds it; missing bytes read as 0.
    return log_.WriteTargetLogBlock(
        op, target, FormatHexBytes(HeldSerialNumber(target), settings_.serialLength));
}

bool CQuorvelDlg::CloseOperationLog() {
    return log_.CloseOperationLog();
}

void CQuorvelDlg::OnLogFileBrowse() {
    FileDialogSpec dialog;
    dialog.title = GetStringText(IDS_SAVE_LOG_TITLE);
    dialog.filter = GetStringText(IDS_LOG_FILE_FILTER);
    dialog.defaultExtension = "log";
    dialog.initialPath = view_.GetControlText(IDC_LOG_FILE_EDIT);
    // Appending to an existing log is the normal case: no overwrite question.
    dialog.overwritePrompt = false;
    std::optional<std::string> path = view_.SaveFileDialog(dialog);
    if (!path.has_value())
        return;
    // The settings file gives back no more: a longer name would come back as another file.
    if (path->size() > programdata::kMaxStoredPath) {
        ShowError(IDS_LOG_OPEN_FAILED);
        return;
    }
    settings_.logFileName = *path;
    view_.SetControlText(IDC_LOG_FILE_EDIT, *path);
}

// ---------------------------------------------------------------------------------------------
// Status texts

void CQuorvelDlg::SetTargetCells(int target, int connectionColumn,
                                 const std::string& connectionText, int checkListColumn,
                                 const std::string& checkListText) {
    if (target < 1)
        return;
    // Rows may be missing: Unplug empties the Connection List while the lists stay.
    const int row = target - 1;
    if (row < view_.ListRowCount(IDC_CONNECTION_LIST))
        view_.ListSetCell(IDC_CONNECTION_LIST, row, connectionColumn, connectionText);
    const CheckListRow small = CheckListRowOf(target);
    if (small.row < view_.ListRowCount(small.list))
        view_.ListSetCell(small.list, small.row, checkListColumn, checkListText);
}

void CQuorvelDlg::SetTargetStatusCells(int target, const std::string& text) {
    SetTargetCells(target, kConnectionStatusColumn, text, kCheckListStatusColumn, text);
}

void CQuorvelDlg::SetResultField(const std::string& text, ResultCode state) {
    resultDisplayState_ = state;
    view_.SetControlText(IDC_RESULT_EDIT, text);
    view_.UpdateWindow();
}

void CQuorvelDlg::ShowProgressStatus(int op) {
    SetResultField(std::string(), kResultRunning);
    if (op == kOperationUnplug && settings_.mode != 1) {
        view_.ListDeleteAllRows(IDC_CONNECTION_LIST);
        view_.UpdateWindow();
        return;
    }
    const std::string label(ProgressLabel(op));
    for (int n : targets::EnabledOnes()) {
        SetTargetStatusCells(n, label);
        if (targets::Plugged(n))
            targets::SetStatus(n, FLASH_OK);
    }
    view_.UpdateWindow();
}

bool CQuorvelDlg::ShowTargetStatus(int target, int op) {
    int enabled = 0;
    if (ApiGetEnableFlg(target, &enabled) == 0)
        return false;
    if (enabled != 1)
        return true;
    SetTargetStatusCells(target,
                         TargetStatusText(op, targets::Status(target), settings_.mode == 1));
    UpdateData(false);
    view_.UpdateWindow();
    return true;
}

void CQuorvelDlg::ShowOperationResult(int op, bool stopped, std::optional<ResultCode> outcome) {
    const OperationResultDisplay shown = OperationResultText(
        op, outcome ? *outcome : EvaluateOperationOutcome(op), settings_.mode == 1, stopped);
    SetResultField(shown.text, shown.code);
}
