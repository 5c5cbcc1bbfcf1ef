#pragma once
// What a console run tells: lines for a person on standard error (progress, each target's
// result, each operation's outcome, the message boxes), JSON lines for a program on standard
// output, and the exit status that follows from all of it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/dialog_view.h"
#include "app/operation_events.h"

// A JSON string literal of bytes: quotes, backslashes and control characters escaped, every
// byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view bytes);

// Message texts span lines in a box; a console line holds them with blanks between.
std::string OneLine(std::string_view text);
// A status code as the log and the record write it: "0x2005".
std::string StatusHex(uint32_t status);

// The fields of one JSON object, built one by one (without the braces).
class JsonFields {
  public:
    JsonFields& Field(const char* key, const std::string& value) {
        return Raw(key, JsonString(value));
    }
    JsonFields& Field(const char* key, int64_t value) { return Raw(key, std::to_string(value)); }
    JsonFields& Flag(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    // A text, or null when it is empty.
    JsonFields& TextOrNull(const char* key, const std::string& value);
    // value is JSON already.
    JsonFields& Raw(const char* key, const std::string& value);
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

// The exit status of quorvel-cli.
enum CliExit : int { kExitSuccess = 0, kExitFailed = 1, kExitNothingRan = 2 };

// What every JSON line carries besides its own fields.
struct JsonStamp {
    std::string runId;  // the same on every line of one process
    std::string host;
    std::function<std::string()> time;  // ISO 8601 local time with its offset
};
// A fresh run id, the host name and the local time.
JsonStamp SystemJsonStamp();

class ConsoleReport : public OperationObserver {
  public:
    using Clock = std::chrono::steady_clock;
    // The version of the JSON lines: a consumer refuses lines of a version it does not know.
    static constexpr int kSchema = 1;

    // err: the lines for a person; json: the JSON lines, or null. terminal: err is a terminal,
    // so the progress redraws one line in place instead of adding lines.
    ConsoleReport(std::FILE* err, std::FILE* json, bool terminal,
                  std::function<Clock::time_point()> now = Clock::now,
                  JsonStamp stamp = SystemJsonStamp());

    void OnOperationStart(int operation) override;
    void OnTargetResult(const TargetResult& result) override;
    void OnOperationEnd(const OperationSummary& summary) override;
    void OnProgress(const OperationProgress& progress) override;
    void OnIdle() override;

    // A message box as one line, captioned; answer: the button a question got; file: the file
    // it is about, added when the text does not name it.
    void Message(const std::string& caption, uint32_t id, MsgIcon icon, const std::string& text,
                 std::optional<DialogResult> answer, const std::string& file = std::string());
    // A line of the run itself.
    void Note(const std::string& text);
    // Something the run found wrong before anything reached the targets.
    void InputError(const std::string& text);
    // A line that is neither: a warning of the run.
    void Warning(const std::string& text);
    // Any other JSON object of the run (without its closing brace), stamped like the rest.
    void JsonLine(const std::string& type, const std::string& fields);
    void SetStopped() { stopped_ = true; }
    // Whether the production record or the log could not be written since the last call.
    bool TakeRecordOrLogFailure() { return std::exchange(recordOrLogFailed_, false); }

    // The command, and the operations whose target lines tell its boards (the last of them
    // per target and cycle counts).
    void SetCommand(const std::string& name, std::vector<int> boardOperations);
    // The lines that follow belong to this cycle (from 1).
    void BeginCycle(int cycle);
    // check and init: whether a Write would start, or the file was made; it decides the exit
    // status then (0 or 2).
    void SetVerdict(bool ok) { verdict_ = ok; }
    // Whether a plug found another number of adapters than expected since the last call.
    bool TakeTargetCountMismatch() { return std::exchange(countMismatch_, false); }

    // Error boxes shown so far.
    int Errors() const { return errors_; }
    int ExitCode() const;
    // The "run" line with the exit status; answers the exit status.
    int Finish();

  private:
    void Line(const std::string& text);
    void Json(const std::string& type, const std::string& fields);
    void ClearProgress();
    void Emit(const std::string& kind, uint32_t id, const std::string& text,
              const std::string& answer, const std::string& file);
    void CountBoards();

    std::FILE* err_;
    std::FILE* json_;
    bool terminal_;
    std::function<Clock::time_point()> now_;
    JsonStamp stamp_;

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
    std::optional<bool> verdict_;
    bool countMismatch_ = false;
    // The record or the log could not be written: in this operation, and since asked.
    bool recordFailed_ = false;
    bool logFailed_ = false;
    bool recordOrLogFailed_ = false;

    // The run as the "run" line tells it.
    std::string command_;
    std::vector<int> boardOperations_;
    int cycle_ = 0;
    std::map<int, uint32_t> cycleBoards_;  // target: status of its last board line
    int boardsPassed_ = 0;
    int boardsFailed_ = 0;
    std::string serialFirst_, serialLast_;
};
