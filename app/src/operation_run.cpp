#include "operation_run.h"

#include "brindlex/api.h"
#include "programdata/targets.h"

using namespace programdata;
namespace targets = programdata::targets;

namespace {

// What each operation's closing sequence does.
struct Closing {
    bool cells = false;        // each target's status cells
    bool light = false;        // each target's error light, with its cells
    bool lightsAfter = false;  // every target's light once all are done (not when stopped)
    bool block = false;        // each target's log block
    bool cancelLine = false;   // "Processing has canceled!!" when stopped
    bool ownLog = false;       // the operation opened the log and closes it
    enum Shown { Never, DetailMode, Always } result = Never;
    bool resultWhenFailed = false;
    bool resultWhenStopped = false;
};

Closing ClosingOf(int op) {
    switch (op) {
        case kOperationPlug:
        case kOperationUnplug:
            return {.block = true, .ownLog = true, .result = Closing::DetailMode};
        case kOperationWrite:
            return {.cells = true,
                    .light = true,
                    .block = true,
                    .cancelLine = true,
                    .ownLog = true,
                    .result = Closing::DetailMode,
                    .resultWhenStopped = true};
        case kOperationVerify:
            return {.cells = true,
                    .lightsAfter = true,
                    .block = true,
                    .cancelLine = true,
                    .ownLog = true,
                    .result = Closing::DetailMode,
                    .resultWhenFailed = true,
                    .resultWhenStopped = true};
        case kOperationErase:
            return {.cells = true,
                    .light = true,
                    .block = true,
                    .ownLog = true,
                    .result = Closing::DetailMode,
                    .resultWhenStopped = true};
        case kOperationProgram:
        case kOperationConnectionCheck:
            return {.result = Closing::Always};
        default:  // Save Memory shows its target's failure itself
            return {};
    }
}

// Which operations a board's outcome in a cycle is made of.
bool WorksOnFlash(int op) {
    return op == kOperationWrite || op == kOperationVerify || op == kOperationErase;
}

// Plug and Unplug concern every target, Save one, the others the enabled ones.
bool EveryTarget(int op) {
    return op == kOperationPlug || op == kOperationUnplug || op == kOperationConnectionCheck;
}

CQuorvelDlg::Ending Worse(CQuorvelDlg::Ending a, CQuorvelDlg::Ending b) {
    return int(a) > int(b) ? a : b;
}

}  // namespace

OperationRun::OperationRun(CQuorvelDlg& dlg, int op)
    : dlg_(dlg), op_(op), parent_(dlg.run_), start_(dlg.now_()) {
    dlg_.run_ = this;
    dlg_.NotifyStart(op_);
}

OperationRun::~OperationRun() {
    if (!finished_)
        Finish(Ending::Failed);
    dlg_.run_ = parent_;
    if (parent_ != nullptr)
        parent_->worstHeld_ = Worse(parent_->worstHeld_, Overall());
    else
        dlg_.lastEnding_ = Overall();
    if (idle_ != CQuorvelDlg::IdleState::Unchanged) {
        dlg_.SetIdleState(idle_);
        dlg_.FocusAfter(op_);
    }
    if (Cycle() == this)
        CountBoards();
}

uint32_t OperationRun::ElapsedMs() const {
    return uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(dlg_.now_() - start_).count());
}

OperationRun* OperationRun::Root() {
    OperationRun* run = this;
    while (run->parent_ != nullptr)
        run = run->parent_;
    return run;
}

const OperationRun* OperationRun::Root() const {
    const OperationRun* run = this;
    while (run->parent_ != nullptr)
        run = run->parent_;
    return run;
}

OperationRun* OperationRun::Cycle() {
    OperationRun* root = Root();
    return root->op_ == kOperationProgram || root->op_ == kOperationWrite ? root : nullptr;
}

CQuorvelDlg::Ending OperationRun::Overall() const {
    return Worse(ending_, worstHeld_);
}

void OperationRun::Progress(uint32_t done, uint32_t total, int target, const std::string& file) {
    dlg_.NotifyProgress({.operation = op_,
                         .done = done,
                         .total = total,
                         .target = target,
                         .file = file,
                         .elapsedMs = ElapsedMs()});
}

bool OperationRun::Cancelled() {
    dlg_.view_.PumpMessages();
    return CancelRequested();
}

bool OperationRun::CancelRequested() const {
    return Root()->cancelRequested_;
}

void OperationRun::RequestCancel() {
    Root()->cancelRequested_ = true;
}

bool OperationRun::Concerns(int target) const {
    if (onlyTarget_ != 0)
        return target == onlyTarget_;
    return EveryTarget(op_) || targets::Enabled(target);
}

uint32_t OperationRun::StatusOf(int target) {
    OperationRun* cycle = Cycle();
    if (op_ == kOperationProgram && cycle != nullptr && cycle->boardSeen_[size_t(target)])
        return cycle->boardFirstFailure_[size_t(target)];
    return targets::Status(target);
}

void OperationRun::CloseTarget(int target, uint32_t durationMs) {
    if (target < 1 || target > kMaxTargets || outcomes_[size_t(target)].closed)
        return;
    const Closing closing = ClosingOf(op_);
    if (closing.cells)
        dlg_.ShowTargetStatus(target, op_);
    if (closing.light)
        ApiUpdateErrorTargetLED(target);
    if (closing.block)
        dlg_.WriteTargetLogBlock(op_, target);
    Outcome& outcome = outcomes_[size_t(target)];
    outcome = {true, targets::Enabled(target), StatusOf(target)};
    // The board's first failure in its cycle wins.
    OperationRun* cycle = Cycle();
    if (cycle != nullptr && WorksOnFlash(op_)) {
        cycle->boardSeen_[size_t(target)] = true;
        uint32_t& first = cycle->boardFirstFailure_[size_t(target)];
        if (first == 0)
            first = outcome.status;
    }
    dlg_.NotifyTargetResult(dlg_.MakeTargetResult(op_, target, outcome.status, durationMs));
}

CQuorvelDlg::Ending OperationRun::Finish(Ending ending, Targets targetsDone) {
    if (finished_)
        return ending_;
    finished_ = true;
    ending_ = ending;
    const Closing closing = ClosingOf(op_);
    if (targetsDone != Targets::NotReached) {
        const uint32_t elapsed = ElapsedMs();
        for (int n : targets::All()) {
            if (!Concerns(n))
                continue;
            if (targetsDone == Targets::Worked)
                CloseTarget(n, elapsed);
            else
                dlg_.NotifyTargetResult(dlg_.MakeTargetResult(op_, n, StatusOf(n), elapsed));
        }
    }
    if (closing.lightsAfter && ending != Ending::Stopped)
        for (int n : targets::All())
            ApiUpdateErrorTargetLED(n);
    if (closing.cancelLine && ending == Ending::Stopped)
        dlg_.WriteLogText("Processing has canceled!!\n");
    if (closing.ownLog)
        dlg_.CloseOperationLog();
    ShowResult(ending);
    Summarise(ending, targetsDone);
    return ending_;
}

ResultCode OperationRun::Evaluate() const {
    // Targets closed by this run stand as they were then; the others as the library has them.
    ResultCode outcome = kResultSuccess;
    for (int n : targets::All()) {
        const bool closed = n <= kMaxTargets && outcomes_[size_t(n)].closed;
        const uint32_t status = closed ? outcomes_[size_t(n)].status : targets::Status(n);
        if (onlyTarget_ != 0 && n != onlyTarget_)
            continue;
        if (EveryTarget(op_) || onlyTarget_ != 0) {
            if (status != 0)
                return kResultFailure;
            continue;
        }
        const bool enabled = closed ? outcomes_[size_t(n)].enabled : targets::Enabled(n);
        if (!enabled)
            outcome = kResultPartialSuccess;
        else if (status != 0)
            return kResultFailure;
    }
    return outcome;
}

void OperationRun::ShowResult(Ending ending) {
    const Closing closing = ClosingOf(op_);
    const bool simple = dlg_.settings_.mode == 1;
    if (closing.result == Closing::Never || (closing.result == Closing::DetailMode && simple))
        return;
    if (failureShown_) {
        dlg_.ShowOperationResult(op_, false, kResultFailure);
        return;
    }
    if ((ending == Ending::Failed && !closing.resultWhenFailed) ||
        (ending == Ending::Stopped && !closing.resultWhenStopped))
        return;
    dlg_.ShowOperationResult(op_, ending == Ending::Stopped, Evaluate());
}

void OperationRun::Summarise(Ending ending, Targets targetsDone) {
    const bool stopped = ending == Ending::Stopped;
    // Worked on every target, the outcome counts them; otherwise the operation failed as a
    // whole.
    const bool counted =
        ending == Ending::Completed || (stopped && targetsDone == Targets::Worked);
    // The window shows no result for Save: its summary names the operation in either mode.
    const bool simple = dlg_.settings_.mode == 1 && op_ != kOperationSave;
    const OperationResultDisplay shown =
        OperationResultText(op_, counted ? Evaluate() : kResultFailure, simple, stopped);
    OperationSummary summary{.operation = op_,
                             .resultText = shown.text,
                             .resultCode = shown.code,
                             .cancelled = stopped,
                             .durationMs = ElapsedMs()};
    if (counted) {
        for (int n : targets::All()) {
            if (!Concerns(n))
                continue;
            const bool closed = n <= kMaxTargets && outcomes_[size_t(n)].closed;
            const uint32_t status = closed ? outcomes_[size_t(n)].status : targets::Status(n);
            ++(status == 0 ? summary.passed : summary.failed);
        }
    }
    dlg_.NotifyEnd(summary);
}

void OperationRun::CountBoards() {
    // Boards of a stopped cycle are neither good nor bad: they will be programmed again.
    if (Overall() == Ending::Stopped)
        return;
    std::vector<YieldCounters::Board> boards;
    for (int n = 1; n <= kMaxTargets; ++n)
        if (boardSeen_[size_t(n)])
            boards.push_back({n, boardFirstFailure_[size_t(n)] != 0});
    if (!boards.empty())
        dlg_.band_.CountBoards(boards);
}
