// The operation events the console view, the production record and the window's progress
// band follow: started, one result per target, progress, the outcome, idle. The operation runs
// decide what happened; this is only how it is told.
#include "app/quorvel_dlg.h"
#include "operation_run.h"
#include "programdata/error_messages.h"
#include "programdata/status_texts.h"
#include "programdata/targets.h"
#include "target_cells.h"

using namespace programdata;

namespace {

// The connection check is Plug and Unplug to the observers.
bool Told(int op) {
    return op != kOperationConnectionCheck;
}

}  // namespace

void CQuorvelDlg::AddOperationObserver(OperationObserver* observer) {
    if (observer != nullptr)
        observers_.push_back(observer);
}

void CQuorvelDlg::RequestCancel() {
    if (run_ != nullptr)
        run_->RequestCancel();
}

void CQuorvelDlg::NotifyStart(int op) {
    if (!Told(op))
        return;
    for (OperationObserver* o : observers_)
        o->OnOperationStart(op);
}

TargetResult CQuorvelDlg::MakeTargetResult(int op, int target, uint32_t status,
                                           uint32_t durationMs) const {
    std::string message = GetErrorMessage(status);
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    // A number stands for the board once it was taken, or when the board passed (its Verify
    // found it): a Write refused before it took its numbers gave none.
    std::string serial;
    if (settings_.serialOn != 0 && (serialSession_.taken || status == 0) &&
        (op == kOperationWrite || op == kOperationVerify || op == kOperationProgram)) {
        uint32_t length = 0;
        const auto held = HeldSerialNumber(target, &length);
        if (length > 0)
            serial = FormatHexBytes(held, settings_.serialLength);
    }
    const bool numbered = target >= 1 && target <= kMaxTargets;
    return {.operation = op,
            .target = target,
            .devicePath = targets::DevicePath(target).value_or(""),
            .serialNumber = serial,
            .status = status,
            .message = message,
            .durationMs = durationMs,
            .targetName = settings_.targetName,
            .chipName = numbered ? chipNames_[size_t(target)] : std::string(),
            .checksum = checksumText_,
            .run = {},
            .cycle = {}};
}

void CQuorvelDlg::NotifyTargetResult(const TargetResult& result) {
    if (!Told(result.operation))
        return;
    for (OperationObserver* o : observers_)
        o->OnTargetResult(result);
}

void CQuorvelDlg::NotifyEnd(const OperationSummary& summary) {
    if (!Told(summary.operation))
        return;
    for (OperationObserver* o : observers_)
        o->OnOperationEnd(summary);
}

void CQuorvelDlg::NotifyProgress(const OperationProgress& progress) {
    for (OperationObserver* o : observers_)
        o->OnProgress(progress);
}

void CQuorvelDlg::ReportIdle() {
    for (OperationObserver* o : observers_)
        o->OnIdle();
}
