#pragma once
// What a console run tells: lines for a person on standard error (progress, each target's
// result, each operation's outcome, the message boxes), JSON lines for a program on standard
// output, and the exit status that follows from all of it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/dialog_view.h"
#include "app/operation_events.h"

// A JSON string literal of bytes: quotes, backslashes and control characters escaped, every
// byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view bytes);

// The exit status of quorvel-cli.
enum CliExit : int { kExitSuccess = 0, kExitFailed = 1, kExitNothingRan = 2 };

class ConsoleReport : public OperationObserver {
  public:
    using Clock = std::chrono::steady_clock;
    // err: the lines for a person; json: the JSON lines, or null. terminal: err is a terminal,
    // so the progress redraws one line in place instead of adding lines.
    ConsoleReport(std::FILE* err, std::FILE* json, bool terminal,
                  std::function<Clock::time_point()> now = Clock::now);

    void OnOperationStart(int operation) override;
    void OnTargetResult(const TargetResult& result) override;
    void OnOperationEnd(const OperationSummary& summary) override;
    void OnProgress(const OperationProgress& progress) override;
    void OnIdle() override;

    // A message box as one line, captioned; answer: the button a question got.
    void Message(const std::string& caption, uint32_t id, MsgIcon icon, const std::string& text,
                 std::optional<DialogResult> answer);
    // A line of the run itself.
    void Note(const std::string& text);
    // Something the run found wrong before anything reached the targets.
    void InputError(const std::string& text);
    void SetStopped() { stopped_ = true; }
    // Whether the production record or the log could not be written since the last call.
    bool TakeRecordOrLogFailure() { return std::exchange(recordOrLogFailed_, false); }

    // Error boxes shown so far.
    int Errors() const { return errors_; }
    int ExitCode() const;

  private:
    void Line(const std::string& text);
    void Json(const std::string& object);
    void ClearProgress();

    std::FILE* err_;
    std::FILE* json_;
    bool terminal_;
    std::function<Clock::time_point()> now_;

    // Progress: the operation and target it shows, when and how far it was last shown.
    struct Shown {
        int operation = -1;
        int target = -1;
        int tenth = -1;
        int percent = -1;
        Clock::time_point at;
    } progress_;
    size_t progressWidth_ = 0;  // characters of the line drawn in place

    int errors_ = 0;
    bool plugReached_ = false;     // a Plug got as far as the targets
    bool targetsTouched_ = false;  // Write, Verify, Erase or Save worked on a target
    bool inputError_ = false;
    bool failed_ = false;
    bool stopped_ = false;
    // The record or the log could not be written: in this operation, and since asked.
    bool recordFailed_ = false;
    bool logFailed_ = false;
    bool recordOrLogFailed_ = false;
};
