// Plug, Unplug and the connection check: connecting every adapter, checking each target
// against the selected type and the adapter's firmware, and releasing the adapters again.
#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/target_info.h"
#include "operation_run.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_cells.h"

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

bool CQuorvelDlg::AbandonPlug(OperationRun& run, uint32_t messageId) {
    if (messageId != 0)
        ShowError(messageId);
    run.Finish(Ending::Failed);
    // Another program must not stay locked out by a plug that did not happen.
    ReleaseAdapters();
    ReallocateImages();
    return false;
}

void CQuorvelDlg::ReallocateImages() {
    if (targetSet_ != nullptr && targetSet_->entries != nullptr)
        programData_.AllocateImages();
}

bool CQuorvelDlg::InConnectionCheck() const {
    for (const OperationRun* run = run_; run != nullptr; run = run->parent())
        if (run->op() == kOperationConnectionCheck)
            return true;
    return false;
}

bool CQuorvelDlg::Plug() {
    // 1. The log.
    if (!OpenOperationLog()) {
        Refused();
        return false;
    }
    OperationRun run(*this, kOperationPlug);
    // 2. The previous connection and the images (back at every end of the plug).
    if (!InConnectionCheck())
        ApiDelConnect();
    programData_.ReleaseImages();
    // The line this station belongs to, if any: its settings must be usable.
    if (!InConnectionCheck() && !OpenLine())
        return AbandonPlug(run, 0);
    // 3. The adapters for this program alone.
    if (!TakeAdapters())
        return AbandonPlug(run, 0);
    // 4. Connect.
    const int connected = ApiCreateConnect();
    if (connected == 0)
        return AbandonPlug(run, IDS_NO_ADAPTER);
    if (connected < 0)
        return AbandonPlug(run, IDS_TOO_MANY_ADAPTERS);
    // 5. One row per target, every target enabled.
    BuildTargetRows();
    const int count = targets::Count();
    if (count == 0)
        return AbandonPlug(run, 0);
    // A fixture with an adapter missing would shift every later board to another number.
    if (runOverrides_ && runOverrides_->expectedTargets &&
        count != *runOverrides_->expectedTargets) {
        const std::string text = FormatStringText(IDS_TARGET_COUNT_MISMATCH, std::to_string(count),
                                                  std::to_string(*runOverrides_->expectedTargets));
        WriteLogText(text + "\n");
        view_.MessageBox(
            {IDS_TARGET_COUNT_MISMATCH, text, programName_, MsgIcon::Error, MsgButtons::Ok});
        // None of them is a board of this cycle: the adapters are let go untouched.
        ApiDelConnect();
        return AbandonPlug(run, 0);
    }
    // 6. Running.
    ShowProgressStatus(kOperationPlug);
    WriteLogHeader(kOperationPlug);
    SetBusyState(BusyKind::Plug);
    // 7. and 8. Identity and firmware of each target; the failed ones show why.
    if (RunTargetSequence()) {
        for (int n : targets::All())
            if (targets::Status(n) != 0)
                ShowTargetStatus(n, kOperationPlug);
    }
    // 9. Protection; the operator may have chosen to unplug everything.
    if (!SecurityCheck()) {
        run.Finish(Ending::Failed, OperationRun::Targets::ResultsOnly);
        RunUnplug(UnplugCause::RefusedSecurity);
        return false;
    }
    // 10. Plugged.
    TickPluggedTargets(count);
    if (!InConnectionCheck())
        FetchChipNames(count);
    settingsFile_.ReadSerialSettings(settings_);
    serialSession_ = FreshSerialSession();
    AssignSerialPreview();
    view_.SetControlText(IDC_PLUG, "Un&plug");
    plugged_ = 1;
    ReallocateImages();
    run.IdleAfterwards(IdleState::AfterPlug);
    run.Finish(Ending::Completed);
    return true;
}

bool CQuorvelDlg::OpenLine() {
    settingsFile_.ReadLineSettings(settings_);
    if (!settings_.line.On())
        return true;
    if (line_ == nullptr) {
        ShowError(IDS_LINE_NOT_BUILT);
        return false;
    }
    const LineProblem problem = line_->Open(settings_.line, RecordFilePath());
    if (problem.messageId == IDS_LINE_UNREACHABLE) {
        // Record rows wait in the outbox; a Write that needs numbers refuses.
        WriteLogText("Line database not reached: " + problem.detail + "\n");
        return true;
    }
    if (problem)
        ShowFileError(problem.messageId, problem.detail);
    // Rows that cannot go out yet are kept; the boards can still be worked on.
    return !problem || problem.messageId == IDS_LINE_RECORD_REFUSED ||
           problem.messageId == IDS_LINE_OUTBOX_FAILED;
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
        const bool plugged = targets::Plugged(n);
        view_.ListSetRowCheck(IDC_CONNECTION_LIST, n - 1, plugged);
        ApiSetEnableFlg(n, plugged ? 1 : 0);
    }
}

void CQuorvelDlg::ResetAndReleaseTargets(int count) {
    ApiObj.SysResetAll();
    for (int n = 1; n <= count; ++n)
        ApiSetTargetPlugStatus(n, PLUG_NONE);
}

void CQuorvelDlg::Unplug() {
    RunUnplug(UnplugCause::Operator);
}

void CQuorvelDlg::RunUnplug(UnplugCause cause) {
    // 1. The log. After a refused security check the targets are released all the same.
    const bool operatorUnplug = cause == UnplugCause::Operator;
    if (!OpenOperationLog() && operatorUnplug)
        return;
    OperationRun run(*this, kOperationUnplug);
    run.IdleAfterwards(IdleState::Unplugged);
    // 2. Running; detail mode empties the Connection List.
    if (operatorUnplug)
        SetBusyState(BusyKind::StartUnplug);
    if (!operatorUnplug || settings_.mode != 1)
        ShowProgressStatus(kOperationUnplug);
    WriteLogHeader(kOperationUnplug);
    // 3. The number reached so far survives; a refused plug reached none.
    if (operatorUnplug)
        SaveSerialSettings();
    // 4. Reset every target.
    ResetAndReleaseTargets(targets::Count());
    view_.SetControlText(IDC_PLUG, "&Plug");
    plugged_ = 0;
    // 6. The start serial number as stored.
    if (operatorUnplug) {
        uint32_t serialOn = 0;
        if (!settingsFile_.ReadSerialFlag(serialOn) || serialOn == 0 ||
            !settingsFile_.ReadSerialNumberText(serialText_))
            serialText_.clear();
    }
    // 5. and 7. One line per target; done: the adapters belong to every program again.
    run.Finish(Ending::Completed);
    ReleaseAdapters();
    if (!operatorUnplug)
        ReallocateImages();
}

void CQuorvelDlg::OnConnectionCheck() {
    {
        OperationRun check(*this, kOperationConnectionCheck);
        ApiDelConnect();
        if (Plug()) {
            check.Finish(Ending::Completed, OperationRun::Targets::NotReached);
            Unplug();
        } else {
            // A check that found nothing shows no rows of an earlier one, and fails.
            if (targets::Count() == 0)
                for (int id : {IDC_CONNECTION_LIST, IDC_CHECK_LIST_LOW, IDC_CHECK_LIST_HIGH})
                    view_.ListDeleteAllRows(id);
            check.ShowFailureWhenFinished();
            check.Finish(Ending::Failed);
        }
    }
    view_.SetFocus(IDC_CONNECTION_CHECK);
}

void CQuorvelDlg::ResetAllTargets() {
    if (plugged_ == 0)
        return;
    ResetAndReleaseTargets(targets::Count());
    plugged_ = 0;
}

void CQuorvelDlg::ReleaseImagesAndConnection() {
    programData_.ReleaseImages();
    ApiDelConnect();
}
