#pragma once
// The yield counters and the progress of the running operation, as the band at the bottom of
// the window shows them. The controller counts the boards; this class keeps the numbers (and
// their state file, so they survive a restart), follows the progress events and hands the
// view what to draw.
//
// A board is one enabled target of a Program cycle, or of a Write started on its own (with the
// Verify that follows it), counted once per cycle: passed when every Write, Verify and Erase of
// the cycle left it without error, failed otherwise. A cycle stopped by Cancel counts nothing;
// a target without any result in the cycle (disabled, or the cycle ended before its first
// operation) is no board.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/operation_events.h"

constexpr const char* kYieldStateFileName = "Quorvel-yield.ini";

class YieldCounters {
  public:
    struct Board {
        int target = 0;
        bool failed = false;
    };
    void Count(const std::vector<Board>& boards);
    void Reset();

    uint32_t passed() const { return passed_; }
    uint32_t failed() const { return failed_; }
    const std::map<int, uint32_t>& failsByTarget() const { return failsByTarget_; }
    bool lastCycleFailed() const { return lastCycleFailed_; }

    // "Passed 12   Failed 1   Yield 92.3 %" ("Yield --" before the first board).
    std::string CountsText() const;
    // "Fails by target  2: 1   4: 3", empty when no target failed.
    std::string FailsText() const;

    // Section "Yield" of the state file; a missing or damaged file gives zeros.
    void Load(const std::string& path);
    // False when a key could not be written.
    bool Save(const std::string& path) const;

  private:
    uint32_t passed_ = 0;
    uint32_t failed_ = 0;
    std::map<int, uint32_t> failsByTarget_;
    bool lastCycleFailed_ = false;
};

// "Write  block 12 / 63   0:03.2" and its siblings.
std::string ProgressText(const OperationProgress& progress);

class ProductionBand : public OperationObserver {
  public:
    explicit ProductionBand(DialogView& view) : view_(view) {}

    // The counters of the state file at path, shown at once.
    void Load(const std::string& statePath);
    // One cycle's boards: counted, stored, shown. False when the state file was not written.
    bool CountBoards(const std::vector<YieldCounters::Board>& boards);
    bool Reset();
    const YieldCounters& counters() const { return counters_; }
    const ProductionBandState& state() const { return state_; }

    void OnProgress(const OperationProgress& progress) override;
    void OnIdle() override;

  private:
    void ShowCounters();

    DialogView& view_;
    YieldCounters counters_;
    std::string statePath_;
    ProductionBandState state_;
};
