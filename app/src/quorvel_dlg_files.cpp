// The program file list of the main window: list 1151 mirrors the model in ProgramData, the
// entry fields 1002 and 1007 with "...", Add to List and Delete from List, and the
// Add/Delete Hex/S File dialog.
#include <algorithm>
#include <functional>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "programdata/address_text.h"
#include "programdata/string_table.h"

using programdata::AddFileResult;
using programdata::FocusField;

void CQuorvelDlg::RowInserted(size_t row) {
    const int r = static_cast<int>(row);
    view_.ListInsertRow(IDC_FILE_LIST, r, programData_.columnText(row, 0));
    for (int column = 1; column < programdata::kColumnCount; ++column)
        view_.ListSetCell(IDC_FILE_LIST, r, column, programData_.columnText(row, column));
    // The settings keep what the list shows: the name and the offset column's text.
    settings_.programFiles.insert(
        settings_.programFiles.begin() + static_cast<std::ptrdiff_t>(row),
        StoredProgramFile{programData_.columnText(row, programdata::kColumnFileName),
                          programData_.columnText(row, programdata::kColumnOffset)});
}

void CQuorvelDlg::RowRemoved(size_t row) {
    view_.ListDeleteRow(IDC_FILE_LIST, static_cast<int>(row));
    if (row < settings_.programFiles.size())
        settings_.programFiles.erase(settings_.programFiles.begin() +
                                     static_cast<std::ptrdiff_t>(row));
}

FileDialogSpec CQuorvelDlg::ProgramFileDialogSpec() {
    FileDialogSpec browse;
    browse.title = std::string(GetStringText(IDS_SELECT_PROGRAM_FILE_TITLE));
    browse.filter = std::string(GetStringText(IDS_PROGRAM_FILE_FILTER));
    browse.defaultExtension = "hex";
    return browse;
}

bool CQuorvelDlg::ParseOffsetField(const std::string& text, int32_t& offset) {
    offset = 0;
    if (text.empty() || programdata::ParseOffsetText(text, offset))
        return true;
    ShowError(IDS_ILLEGAL_OFFSET);
    return false;
}

void CQuorvelDlg::AfterFileAdded(const AddFileResult& added) {
    serialOverlapConfirmed_ = 0;
    if (added.warning)
        ShowInformation(IDS_DATA_OUTSIDE_FLASH);
}

void CQuorvelDlg::RefreshChecksum() {
    programData_.UpdateChecksumField();
    checksumText_ = programData_.checksumText();
    view_.SetControlText(IDC_CHECKSUM_EDIT, checksumText_);
}

void CQuorvelDlg::ApplyFileListEnables(bool pluggedLayout) {
    // List 1151 mirrors the file list.
    const bool rows = view_.ListRowCount(IDC_FILE_LIST) > 0;
    view_.EnableControl(IDC_WRITE, pluggedLayout && rows);
    view_.EnableControl(IDC_VERIFY, pluggedLayout && rows);
    view_.EnableControl(IDC_PROGRAM, !settings_.commandFileName.empty() && rows);
}

void CQuorvelDlg::OnAddToList() {
    UpdateData(true);
    int32_t offset = 0;
    if (!ParseOffsetField(offsetText_, offset)) {
        view_.SetFocus(IDC_OFFSET_EDIT);
        return;
    }
    const AddFileResult added = programData_.AddProgramFile(fileNameText_, offset);
    if (!added.ok) {
        if (added.focus == FocusField::FileName)
            view_.SetFocus(IDC_FILE_NAME_EDIT);
        else if (added.focus == FocusField::Offset)
            view_.SetFocus(IDC_OFFSET_EDIT);
        return;
    }
    AfterFileAdded(added);
    ApplyFileListEnables(plugged_ != 0);
    view_.SetFocus(IDC_WRITE);
    programData_.UpdateChecksumField();
    checksumText_ = programData_.checksumText();
    UpdateData(false);
}

void CQuorvelDlg::DeleteFileRows(const std::vector<int>& rows) {
    std::vector<int> order(rows);
    // Last first, so that the indices still to come stay valid.
    std::sort(order.begin(), order.end(), std::greater<int>());
    order.erase(std::unique(order.begin(), order.end()), order.end());
    for (int row : order)
        if (row >= 0)
            programData_.DeleteProgramFile(static_cast<size_t>(row));
}

void CQuorvelDlg::OnDeleteFromList() {
    const std::vector<int> selected = view_.ListSelectedRows(IDC_FILE_LIST);
    if (selected.empty())
        return;
    DeleteFileRows(selected);
    ApplyFileListEnables(plugged_ != 0);
    RefreshChecksum();
}

void CQuorvelDlg::OnBrowseProgramFile() {
    std::optional<std::string> path = view_.OpenFileDialog(ProgramFileDialogSpec());
    if (!path)
        return;
    // Only this field changes; what the operator typed elsewhere stays.
    fileNameText_ = *path;
    view_.SetControlText(IDC_FILE_NAME_EDIT, fileNameText_);
    view_.EnableControl(IDC_ADD_TO_LIST, !fileNameText_.empty());
}

void CQuorvelDlg::OnFileNameChange() {
    view_.EnableControl(IDC_ADD_TO_LIST, !view_.GetControlText(IDC_FILE_NAME_EDIT).empty());
}

std::vector<std::array<std::string, 5>> CQuorvelDlg::FileListRows() {
    std::vector<std::array<std::string, 5>> rows(programData_.rowCount());
    for (size_t i = 0; i < rows.size(); ++i)
        for (int column = 0; column < programdata::kColumnCount; ++column)
            rows[i][static_cast<size_t>(column)] = programData_.columnText(i, column);
    return rows;
}

bool CQuorvelDlg::AddFromDialog() {
    const AddHexFileResult entered = view_.RunAddHexFileDialog(ProgramFileDialogSpec());
    if (entered.button != IDOK)
        return false;
    int32_t offset = 0;
    if (!ParseOffsetField(entered.offsetText, offset))
        return false;
    const AddFileResult added = programData_.AddProgramFile(entered.fileName, offset);
    if (added.ok)
        AfterFileAdded(added);
    SetIdleState(plugged_ != 0 ? IdleState::AfterPlug : IdleState::Unplugged);
    RefreshChecksum();
    return added.ok;
}

void CQuorvelDlg::DeleteRows(const std::vector<int>& rows) {
    DeleteFileRows(rows);
    SetIdleState(plugged_ != 0 ? IdleState::AfterPlug : IdleState::Unplugged);
    RefreshChecksum();
}

void CQuorvelDlg::OnProgramFileDialog() {
    // The refreshes inside the dialog write the fields back: keep what the operator typed.
    UpdateData(true);
    view_.RunProgramFileDialog(*this);
}

void CQuorvelDlg::RestoreProgramFiles() {
    std::vector<StoredProgramFile> stored;
    if (runOverrides_ && runOverrides_->programFiles)
        stored = *runOverrides_->programFiles;
    else
        settingsFile_.ReadProgramFiles(stored);
    std::vector<programdata::StoredFileEntry> entries;
    entries.reserve(stored.size());
    for (StoredProgramFile& s : stored)
        entries.push_back({std::move(s.fileName), std::move(s.offsetText)});
    // The list mirrors what was registered; entries that could not be added are gone.
    settings_.programFiles.clear();
    programData_.RestoreFileList(entries);
}

void CQuorvelDlg::ReleaseProgramFiles() {
    // The window is going away: close every file without redrawing the list.
    programData_.SetObserver(nullptr);
    while (programData_.rowCount() != 0)
        programData_.DeleteProgramFile(programData_.rowCount() - 1);
}
