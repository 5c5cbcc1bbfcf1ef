// The operation events the console view, the production record and the window's progress
// band follow: started, one result per target, progress, the outcome, idle.
#include "app/quorvel_dlg.h"
#include "programdata/error_messages.h"
#include "programdata/status_texts.h"
#include "target_queries.h"

using namespace programdata;

namespace {

// Plug and Unplug concern every target, the flash operations the enabled ones.
bool Concerns(int op, int target) {
    return op == kOperationPlug || op == kOperationUnplug || targets::Enabled(target);
}

}  // namespace

void CQuorvelDlg::AddOperationObserver(OperationObserver* observer) {
    if (observer != nullptr)
        observers_.push_back(observer);
}

uint32_t CQuorvelDlg::MsSince(OperationClock::time_point start) {
    return uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(OperationClock::now() - start)
            .count());
}

void CQuorvelDlg::BeginOperation(int op) {
    operationStart_ = OperationClock::now();
    for (OperationObserver* o : observers_)
        o->OnOperationStart(op);
}

void CQuorvelDlg::ReportTargetResult(int op, int target, uint32_t durationMs) {
    if (!Concerns(op, target))
        return;
    const uint32_t status = uint32_t(targets::Status(target));
    NoteCycleResult(op, target, status);
    TargetResult result;
    result.operation = op;
    result.target = target;
    result.devicePath = targets::DevicePath(target);
    result.status = status;
    const bool numbered = target >= 1 && target <= kMaxTargets;
    // The cycle's line names what failed the board, not only how its last operation ended.
    if (op == kOperationProgram && numbered && cycle_.seen[size_t(target)])
        result.status = cycle_.firstFailure[size_t(target)];
    if (numbered)
        result.chipName = chipNames_[size_t(target)];
    result.targetName = settings_.targetName;
    result.checksum = checksumText_;
    result.message = GetErrorMessage(result.status);
    while (!result.message.empty() && result.message.back() == '\n')
        result.message.pop_back();
    if (settings_.serialOn != 0 &&
        (op == kOperationWrite || op == kOperationVerify || op == kOperationProgram)) {
        uint32_t length = 0;
        const auto serial = targets::HeldSerialNumber(target, &length);
        if (length > 0)
            result.serialNumber = FormatHexBytes(serial, settings_.serialLength);
    }
    result.durationMs = durationMs;
    for (OperationObserver* o : observers_)
        o->OnTargetResult(result);
}

void CQuorvelDlg::ReportTargetResults(int op, OperationClock::time_point start) {
    const uint32_t elapsed = MsSince(start);
    const int count = targets::Count();
    for (int n = 1; n <= count; ++n)
        ReportTargetResult(op, n, elapsed);
}

void CQuorvelDlg::ReportOperationEnd(int op, OperationClock::time_point start) {
    if (observers_.empty())
        return;
    OperationSummary summary;
    summary.operation = op;
    summary.cancelled = cancelRequested_ != 0;
    const OperationResultDisplay shown = OperationResultText(
        op, EvaluateOperationOutcome(op), settings_.mode == 1, summary.cancelled);
    summary.resultText = shown.text;
    summary.resultCode = shown.code;
    const int count = targets::Count();
    for (int n = 1; n <= count; ++n)
        if (Concerns(op, n))
            ++(targets::Status(n) == 0 ? summary.passed : summary.failed);
    summary.durationMs = MsSince(start);
    for (OperationObserver* o : observers_)
        o->OnOperationEnd(summary);
}

void CQuorvelDlg::ReportOperationFailure(int op, bool cancelled) {
    if (observers_.empty())
        return;
    OperationSummary summary;
    summary.operation = op;
    summary.cancelled = cancelled;
    const OperationResultDisplay shown =
        OperationResultText(op, kResultFailure, settings_.mode == 1, cancelled);
    summary.resultText = shown.text;
    summary.resultCode = shown.code;
    summary.durationMs = MsSince(operationStart_);
    for (OperationObserver* o : observers_)
        o->OnOperationEnd(summary);
}

void CQuorvelDlg::ReportProgress(int op, uint32_t done, uint32_t total, int target,
                                 const std::string& file) {
    if (observers_.empty())
        return;
    OperationProgress progress{op, done, total, target, file, MsSince(operationStart_)};
    for (OperationObserver* o : observers_)
        o->OnProgress(progress);
}

void CQuorvelDlg::ReportIdle() {
    for (OperationObserver* o : observers_)
        o->OnIdle();
}
