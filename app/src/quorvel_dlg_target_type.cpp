// Target selection: the main combo 1000 and the Select Target dialog both end in the target
// change, which stores the name, sets the geometry and re-checks the registered files.
#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/target_info.h"
#include "programdata/string_table.h"

void CQuorvelDlg::OnTargetChange() {
    int selection = view_.ComboGetCurSel(IDC_TARGET_COMBO);
    if (selection < 0 || targetSet_ == nullptr ||
        static_cast<uint32_t>(selection) >= targetSet_->count)
        selection = 0;
    selectedTarget_ = static_cast<uint32_t>(selection);
    settings_.targetName = TargetName(selectedTarget_);
    if (!runOverrides_ && !settingsFile_.WriteTargetName(settings_.targetName))
        ShowFileError(IDS_INI_WRITE_FAILED, settingsFile_.Path());
    if (targetSet_ != nullptr && targetSet_->entries != nullptr)
        programData_.SetTargetGeometry(targetSet_->entries[selectedTarget_]);
    serialOverlapConfirmed_ = 0;
    // A file that fails the re-check fails the checksum the same way: one message is enough,
    // and the checksum would stay as it is in either case.
    if (programData_.RecheckFileList())
        RefreshChecksum();
    view_.SetControlText(IDC_TARGET_NAME_EDIT, settings_.targetName);
}

void CQuorvelDlg::OnSelectTargetDialog() {
    if (targetSet_ == nullptr || targetSet_->entries == nullptr)
        return;
    SelectTargetRequest request;
    for (uint32_t i = 0; i < targetSet_->count; ++i)
        request.names.push_back(TargetName(i));
    request.selected = static_cast<int>(selectedTarget_);
    const SelectTargetResult chosen = view_.RunSelectTargetDialog(request);
    if (chosen.button != IDOK || chosen.name == settings_.targetName)
        return;
    // A typed name that names no target changes nothing: the selection stays as it is.
    for (uint32_t i = 0; i < targetSet_->count; ++i) {
        if (TargetName(i) == chosen.name) {
            view_.ComboSetCurSel(IDC_TARGET_COMBO, static_cast<int>(i));
            OnTargetChange();
            return;
        }
    }
}
