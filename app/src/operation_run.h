#pragma once
// OperationRun: one operation of the controller from its start to its result. Every operation
// (Plug, Unplug, Write, Verify, Erase, Save Memory, the Program cycle and the connection check)
// is one run: it begins (start time, start event), reports progress, answers "cancelled?" by
// running the message pump, and ends through one closing sequence: each target's cells, error
// light, log block and result, the log closed, the result field, the summary, the idle layout.
// A run started while another is going on belongs to it: a Program cycle contains the runs of
// its commands, a Write started on its own contains its Verify. The outermost run of such a
// cycle keeps each board's outcome (its first failure) and counts the boards for the yield.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/quorvel_dlg.h"
#include "programdata/status_texts.h"

class OperationRun {
  public:
    using Ending = CQuorvelDlg::Ending;
    static constexpr int kMaxTargets = 32;

    // What became of the targets when the run finishes.
    enum class Targets {
        Worked,       // each target not closed yet gets its cells, light, log block and result
        ResultsOnly,  // the operation failed, but each target's result still goes out
        NotReached,   // nothing per target
    };

    // Begins op: the start time from the controller's clock and the start event.
    OperationRun(CQuorvelDlg& dlg, int op);
    // A run that was not finished ends as failed; then the outermost run of a cycle counts its
    // boards, and the window takes the idle layout the run was given.
    ~OperationRun();
    OperationRun(const OperationRun&) = delete;
    OperationRun& operator=(const OperationRun&) = delete;

    int op() const { return op_; }
    const OperationRun* parent() const { return parent_; }
    // This run's name, unique across runs and stations, and that of the outermost run.
    const std::string& id() const { return id_; }
    const std::string& cycleId() const { return Root()->id_; }
    uint32_t ElapsedMs() const;
    void IdleAfterwards(CQuorvelDlg::IdleState state) { idle_ = state; }
    // Save Memory works on one target only.
    void OnlyTarget(int target) { onlyTarget_ = target; }

    // Verify tells the target and the file it compares (fileNumber of fileCount).
    void Progress(uint32_t done, uint32_t total, int target = 0,
                  const std::string& file = std::string(), uint32_t fileNumber = 0,
                  uint32_t fileCount = 0);
    // Runs the message pump; true when a Cancel was confirmed for this run or one holding it.
    bool Cancelled();
    bool CancelRequested() const;
    void RequestCancel();

    // One target's end before the others are done (Verify), with the time it took.
    void CloseTarget(int target, uint32_t durationMs);
    // The closing sequence: the targets, the cancel line, the log closed, the result field, the
    // summary. Answers the ending.
    Ending Finish(Ending ending, Targets targets);
    Ending Finish(Ending ending) {
        return Finish(ending, ending == Ending::Completed ? Targets::Worked : Targets::NotReached);
    }
    // The Program cycle shows FAILURE when it had nothing to work on.
    void ShowFailureWhenFinished() { failureShown_ = true; }
    // This run's own ending, or a worse one of a run it held.
    Ending Overall() const;

  private:
    // A target's result in this run, once told.
    struct Outcome {
        bool closed = false;
        programdata::TargetState state;
    };
    OperationRun* Root() const;
    // The run that keeps this run's boards, or null: a Program cycle, or a Write on its own.
    OperationRun* Cycle();
    bool Concerns(int target) const;
    // The status that stands for the target in this run: for a Program cycle its first failure.
    uint32_t StatusOf(int target);
    // The target's result in this run: kept, counted into its board, told.
    void Report(int target, uint32_t status, uint32_t durationMs);
    // Every connected target as the outcome counts it.
    std::vector<programdata::TargetState> States() const;
    void CountBoards();

    CQuorvelDlg& dlg_;
    const int op_;
    OperationRun* const parent_;
    const CQuorvelDlg::OperationClock::time_point start_;
    const std::string id_;
    CQuorvelDlg::IdleState idle_ = CQuorvelDlg::IdleState::Unchanged;
    int onlyTarget_ = 0;
    bool cancelRequested_ = false;
    bool finished_ = false;
    bool failureShown_ = false;
    Ending ending_ = Ending::Failed;
    Ending worstHeld_ = Ending::Completed;
    std::array<Outcome, kMaxTargets + 1> outcomes_{};  // by target number
    // The cycle's boards, kept by the run that counts them.
    std::array<bool, kMaxTargets + 1> boardSeen_{};
    std::array<uint32_t, kMaxTargets + 1> boardFirstFailure_{};
};
