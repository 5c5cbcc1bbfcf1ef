#include "operation_run.h"

#include <cstdio>
#include <random>

#include "brindlex/api.h"
#include "programdata/string_table.h"
#include "programdata/targets.h"

using namespace programdata;
namespace targets = programdata::targets;

namespace {

// What each operation's closing sequence does.
enum Step : unsigned {
    kCells = 1,          // each target's status cells
    kLight = 2,          // each target's error light, with its cells
    kLightsAfter = 4,    // every target's light once all are done (not when stopped)
    kBlock = 8,          // each target's log block
    kCancelLine = 16,    // "Processing has canceled!!" when stopped
    kOwnLog = 32,        // the operation opened the log and closes it
    kResultDetail = 64,  // the result field in detail mode
    kResultAlways = 128,
    kResultWhenFailed = 256,
    kResultWhenStopped = 512,
};

unsigned ClosingOf(int op) {
    switch (op) {
        case kOperationPlug:
        case kOperationUnplug:
            return kBlock | kOwnLog | kResultDetail;
        case kOperationWrite:
            return kCells | kLight | kBlock | kCancelLine | kOwnLog | kResultDetail |
                   kResultWhenStopped;
        case kOperationVerify:
            return kCells | kLightsAfter | kBlock | kCancelLine | kOwnLog | kResultDetail |
                   kResultWhenFailed | kResultWhenStopped;
        case kOperationErase:
            return kCells | kLight | kBlock | kOwnLog | kResultDetail | kResultWhenStopped;
        case kOperationProgram:
        case kOperationConnectionCheck:
            return kResultAlways;
        default:  // Save Memory shows its target's failure itself
            return 0;
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

// 128 random bits: the stations of a line name their runs without asking each other.
std::string NewRunId() {
    std::random_device random;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", unsigned(random()));
        id += part;
    }
    return id;
}

}  // namespace

OperationRun::OperationRun(CQuorvelDlg& dlg, int op)
    : dlg_(dlg), op_(op), parent_(dlg.run_), start_(dlg.now_()), id_(NewRunId()) {
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

OperationRun* OperationRun::Root() const {
    return parent_ != nullptr ? parent_->Root() : const_cast<OperationRun*>(this);
}

OperationRun* OperationRun::Cycle() {
    OperationRun* root = Root();
    return root->op_ == kOperationProgram || root->op_ == kOperationWrite ? root : nullptr;
}

CQuorvelDlg::Ending OperationRun::Overall() const {
    return Worse(ending_, worstHeld_);
}

void OperationRun::Progress(uint32_t done, uint32_t total, int target, const std::string& file,
                            uint32_t fileNumber, uint32_t fileCount) {
    dlg_.NotifyProgress({.operation = op_,
                         .done = done,
                         .total = total,
                         .target = target,
                         .file = file,
                         .fileNumber = fileNumber,
                         .fileCount = fileCount,
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
    if (EveryTarget(op_) || targets::Enabled(target))
        return true;
    // Every adapter found is a board of its cycle: one that failed to plug has that result.
    if (op_ == kOperationProgram)
        return target <= kMaxTargets && boardSeen_[size_t(target)];
    return op_ == kOperationWrite && parent_ == nullptr && !targets::Plugged(target) &&
           targets::Status(target) != FLASH_OK;
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
    const unsigned closing = ClosingOf(op_);
    if (closing & kCells)
        dlg_.ShowTargetStatus(target, op_);
    if (closing & kLight)
        ApiUpdateErrorTargetLED(target);
    if (closing & kBlock)
        dlg_.WriteTargetLogBlock(op_, target);
    Report(target, StatusOf(target), durationMs);
}

void OperationRun::Report(int target, uint32_t status, uint32_t durationMs) {
    if (target < 1 || target > kMaxTargets)
        return;
    OperationRun* cycle = Cycle();
    if (cycle != nullptr && (WorksOnFlash(op_) || (op_ == kOperationPlug && status != 0))) {
        cycle->boardSeen_[size_t(target)] = true;
        uint32_t& first = cycle->boardFirstFailure_[size_t(target)];
        if (first == 0)
            first = status;
        // A board that failed any step of its cycle stays failed: a later step that found
        // nothing wrong tells the earlier failure (its own log block tells what it found).
        if (WorksOnFlash(op_) && status == 0)
            status = first;
    }
    outcomes_[size_t(target)] = {true, {targets::Enabled(target), status}};
    TargetResult result = dlg_.MakeTargetResult(op_, target, status, durationMs);
    result.run = id_;
    result.cycle = cycleId();
    dlg_.NotifyTargetResult(result);
}

CQuorvelDlg::Ending OperationRun::Finish(Ending ending, Targets targetsDone) {
    if (finished_)
        return ending_;
    finished_ = true;
    ending_ = ending;
    const unsigned closing = ClosingOf(op_);
    const bool stopped = ending == Ending::Stopped;
    // Boards a stop left half done, or a cycle that ended before its commands did, are told
    // as stopped, never as passed.
    const bool unfinished = stopped || (op_ == kOperationProgram && ending == Ending::Failed);
    if (stopped && targetsDone == Targets::NotReached && WorksOnFlash(op_))
        targetsDone = Targets::ResultsOnly;
    if (targetsDone != Targets::NotReached) {
        const uint32_t elapsed = ElapsedMs();
        for (int n : targets::All()) {
            if (!Concerns(n) || (n <= kMaxTargets && outcomes_[size_t(n)].closed))
                continue;
            if (targetsDone == Targets::Worked) {
                CloseTarget(n, elapsed);
                continue;
            }
            const uint32_t status = StatusOf(n);
            Report(n, unfinished && status == FLASH_OK ? FLASH_STOPPED : status, elapsed);
        }
    }
    if ((closing & kLightsAfter) && !stopped)
        for (int n : targets::All())
            ApiUpdateErrorTargetLED(n);
    if ((closing & kCancelLine) && stopped)
        dlg_.WriteLogText("Processing has canceled!!\n");
    if (closing & kOwnLog)
        dlg_.CloseOperationLog();
    // Worked on its targets, the outcome counts them; otherwise the operation failed as a whole.
    const bool counted = ending == Ending::Completed || (stopped && targetsDone == Targets::Worked);
    const std::vector<TargetState> states = States();
    const ResultCode outcome = counted ? EvaluateOperationOutcome(op_, states) : kResultFailure;
    // The result field.
    const bool simple = dlg_.settings_.mode == 1;
    const bool shown = (closing & kResultAlways) || ((closing & kResultDetail) && !simple);
    if (shown && failureShown_)
        dlg_.ShowOperationResult(op_, false, kResultFailure);
    else if (shown && (ending == Ending::Completed ||
                       (ending == Ending::Failed && (closing & kResultWhenFailed)) ||
                       (stopped && (closing & kResultWhenStopped))))
        dlg_.ShowOperationResult(op_, stopped, EvaluateOperationOutcome(op_, states));
    // The summary counts the results told. The window shows no result for Save: its summary
    // names the operation in either mode.
    const OperationResultDisplay text =
        OperationResultText(op_, outcome, simple && op_ != kOperationSave, stopped);
    OperationSummary summary{.operation = op_,
                             .resultText = text.text,
                             .resultCode = text.code,
                             .cancelled = stopped,
                             .durationMs = ElapsedMs()};
    for (const Outcome& o : outcomes_)
        if (o.closed)
            ++(o.state.status == 0 ? summary.passed : summary.failed);
    dlg_.NotifyEnd(summary);
    return ending_;
}

std::vector<TargetState> OperationRun::States() const {
    // Targets closed by this run stand as they were then; the others as the library has them.
    // Save Memory counts its one target only.
    std::vector<TargetState> states;
    for (int n : targets::All()) {
        const bool closed = n <= kMaxTargets && outcomes_[size_t(n)].closed;
        TargetState state = closed ? outcomes_[size_t(n)].state
                                   : TargetState{targets::Enabled(n), targets::Status(n)};
        if (onlyTarget_ != 0)
            state = n == onlyTarget_ ? TargetState{true, state.status} : TargetState{true, 0};
        states.push_back(state);
    }
    return states;
}

void OperationRun::CountBoards() {
    // Boards of a cycle that did not run through are neither good nor bad: they will be
    // programmed again.
    if (Overall() != Ending::Completed)
        return;
    std::vector<YieldCounters::Board> boards;
    for (int n = 1; n <= kMaxTargets; ++n)
        if (boardSeen_[size_t(n)])
            boards.push_back({n, boardFirstFailure_[size_t(n)] != 0});
    if (!boards.empty() && !dlg_.band_.CountBoards(boards))
        dlg_.ShowFileError(IDS_YIELD_WRITE_FAILED, dlg_.YieldStatePath());
}
