// Plug, Unplug and the connection check: connecting every adapter, checking each target
// against the selected type and the adapter's firmware, and releasing the adapters again.
#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/target_info.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_queries.h"

using namespace programdata;

void CQuorvelDlg::OnPlugButton() {
    if (plugged_ != 0)
        Unplug();
    else
        Plug();
}

bool CQuorvelDlg::TakeAdapters() {
    // Held at most once: a failed plug gives it back, so one Unplug always frees the adapters.
    if (adapterMutexHeld_)
        return true;
    adapterMutexHeld_ = AcquireAdapterMutex();
    return adapterMutexHeld_;
}

void CQuorvelDlg::ReleaseAdapters() {
    if (!adapterMutexHeld_)
        return;
    adapterLock_.Release();
    adapterMutexHeld_ = false;
}

bool CQuorvelDlg::AbandonPlug(uint32_t messageId) {
    if (messageId != 0)
        ShowError(messageId);
    CloseOperationLog();
    ReportOperationFailure(kOperationPlug);
    // Another program must not stay locked out by a plug that did not happen.
    ReleaseAdapters();
    ReallocateImages();
    operationFailed_ = 1;
    return false;
}

void CQuorvelDlg::ReallocateImages() {
    if (targetSet_ != nullptr && targetSet_->entries != nullptr)
        programData_.AllocateImages();
}

bool CQuorvelDlg::Plug() {
    // 1. The log.
    if (!OpenOperationLog()) {
        operationFailed_ = 1;
        return false;
    }
    BeginOperation(kOperationPlug);
    // 2. The previous connection and the images (back at every end of the plug).
    if (connectionCheckActive_ == 0)
        ApiDelConnect();
    programData_.ReleaseImages();
    // 3. The adapters for this program alone.
    if (!TakeAdapters())
        return AbandonPlug(0);
    // 4. Connect.
    const int connected = ApiCreateConnect();
    if (connected == 0)
        return AbandonPlug(IDS_NO_ADAPTER);
    if (connected < 0)
        return AbandonPlug(IDS_TOO_MANY_ADAPTERS);
    // 5. One row per target, every target enabled.
    BuildTargetRows();
    const int count = targets::Count();
    if (count == 0)
        return AbandonPlug(0);
    // 6. Running.
    ShowProgressStatus(kOperationPlug);
    WriteLogHeader(kOperationPlug);
    SetBusyState(3);
    // 7. and 8. Identity and firmware of each target; the failed ones show why.
    if (RunTargetSequence()) {
        for (int n = 1; n <= count; ++n)
            if (targets::Status(n) != 0)
                ShowTargetStatus(n, kOperationPlug);
    }
    // 9. Protection; the operator may have chosen to unplug everything.
    if (!SecurityCheck()) {
        UnplugAfterFailedSecurityCheck(count);
        return false;
    }
    // 10. Plugged.
    TickPluggedTargets(count);
    if (connectionCheckActive_ == 0)
        FetchChipNames(count);
    settingsFile_.ReadSerialSettings(settings_);
    AssignSerialPreview();
    SetIdleState(3);
    view_.SetControlText(IDC_PLUG, "Un&plug");
    cancelRequested_ = 0;
    plugged_ = 1;
    ReallocateImages();
    for (int n = 1; n <= count; ++n)
        WriteTargetLogBlock(kOperationPlug, n);
    ReportTargetResults(kOperationPlug, operationStart_);
    CloseOperationLog();
    ReportOperationEnd(kOperationPlug, operationStart_);
    if (settings_.mode != 1) {
        ShowOperationResult(kOperationPlug);
        view_.SetFocus(programData_.rowCount() > 0 ? IDC_WRITE : IDC_FILE_BROWSE);
    }
    return true;
}

bool CQuorvelDlg::RunTargetSequence() {
    if (targetSet_ == nullptr)
        return false;
    const int count = targets::Count();
    if (count == 0)
        return false;
    const std::string name = settings_.targetName;
    for (int n = 1; n <= count; ++n) {
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiSysResetPlug(n);
        if (targets::Status(n) != 0) {
            ApiUpdateErrorTargetLED(n);
            continue;
        }
        ApiCheckTargetName(n, targetSet_, name.c_str());
        if (targets::Status(n) == 0)
            ApiSetTargetPlugStatus(n, PLUG_IDENTIFIED);
        ApiUpdateErrorTargetLED(n);
        ApiCheckFirm(n);
        if (targets::Status(n) != 0)
            ApiUpdateErrorTargetLED(n);
    }
    return true;
}

void CQuorvelDlg::TickPluggedTargets(int count) {
    // The check-box rule: only a target that plugged stays ticked and enabled.
    for (int n = 1; n <= count; ++n) {
        const bool plugged = targets::PlugSucceeded(n);
        view_.ListSetRowCheck(IDC_CONNECTION_LIST, n - 1, plugged);
        ApiSetEnableFlg(n, plugged ? 1 : 0);
    }
}

void CQuorvelDlg::ResetAndReleaseTargets(int count) {
    ApiObj.SysResetAll();
    for (int n = 1; n <= count; ++n)
        ApiSetTargetPlugStatus(n, PLUG_NONE);
}

void CQuorvelDlg::UnplugAfterFailedSecurityCheck(int count) {
    ReportTargetResults(kOperationPlug, operationStart_);
    ReportOperationFailure(kOperationPlug);
    BeginOperation(kOperationUnplug);
    ShowProgressStatus(kOperationUnplug);
    WriteLogHeader(kOperationUnplug);
    ResetAndReleaseTargets(count);
    for (int n = 1; n <= count; ++n)
        WriteTargetLogBlock(kOperationUnplug, n);
    ReportTargetResults(kOperationUnplug, operationStart_);
    CloseOperationLog();
    ReportOperationEnd(kOperationUnplug, operationStart_);
    SetIdleState(2);
    view_.SetControlText(IDC_PLUG, "&Plug");
    plugged_ = 0;
    if (settings_.mode != 1)
        ShowOperationResult(kOperationUnplug);
    operationFailed_ = 1;
    ReleaseAdapters();
    ReallocateImages();
}

void CQuorvelDlg::Unplug() {
    // 1. The log.
    if (!OpenOperationLog())
        return;
    BeginOperation(kOperationUnplug);
    // 2. Running; detail mode empties the Connection List.
    SetBusyState(2);
    if (settings_.mode != 1)
        ShowProgressStatus(kOperationUnplug);
    WriteLogHeader(kOperationUnplug);
    // 3. The number reached so far survives.
    SaveSerialSettings();
    // 4. Reset every target.
    const int count = targets::Count();
    ResetAndReleaseTargets(count);
    // 5. One line per target.
    for (int n = 1; n <= count; ++n)
        WriteTargetLogBlock(kOperationUnplug, n);
    ReportTargetResults(kOperationUnplug, operationStart_);
    SetIdleState(2);
    view_.SetControlText(IDC_PLUG, "&Plug");
    plugged_ = 0;
    // 6. The start serial number as stored.
    uint32_t serialOn = 0;
    if (!settingsFile_.ReadSerialFlag(serialOn) || serialOn == 0 ||
        !settingsFile_.ReadSerialNumberText(serialText_))
        serialText_.clear();
    // 7. Done: the adapters belong to every program again.
    CloseOperationLog();
    ReportOperationEnd(kOperationUnplug, operationStart_);
    if (settings_.mode != 1)
        ShowOperationResult(kOperationUnplug);
    ReleaseAdapters();
    UpdateData(false);
    if (settings_.mode != 1)
        view_.SetFocus(IDC_PLUG);
}

void CQuorvelDlg::OnConnectionCheck() {
    connectionCheckActive_ = 1;
    operationFailed_ = 0;
    ApiDelConnect();
    Plug();
    if (operationFailed_ == 0) {
        ShowOperationResult(kOperationConnectionCheck);
        Unplug();
    }
    view_.SetFocus(IDC_CONNECTION_CHECK);
    connectionCheckActive_ = 0;
}

void CQuorvelDlg::ResetAllTargets() {
    if (plugged_ == 0)
        return;
    ResetAndReleaseTargets(targets::Count());
    plugged_ = 0;
}

void CQuorvelDlg::ReleaseImagesAndConnection() {
    programData_.ReleaseImages();
    if (connectionCheckActive_ == 0)
        ApiDelConnect();
}
