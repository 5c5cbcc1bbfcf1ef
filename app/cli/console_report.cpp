#include "console_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <random>

#include "platform/append_file.h"
#include "programdata/operation_log.h"
#include "programdata/production_record.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"

using namespace programdata;

namespace {

// Messages that mean the input cannot be worked with: shown before anything reached the
// targets, nothing could run.
constexpr uint32_t kInputErrors[] = {IDS_ADAPTER_NOT_CONNECTED,
                                     IDS_ADAPTER_MUTEX_DENIED,
                                     IDS_NO_ADAPTER,
                                     IDS_TOO_MANY_ADAPTERS,
                                     IDS_LOG_OPEN_FAILED,
                                     IDS_COMMAND_FILE_OPEN_FAILED,
                                     IDS_COMMAND_ERROR,
                                     IDS_DUPLICATE_ADDRESSES,
                                     IDS_INTERNAL_ERROR_START,
                                     IDS_INTERNAL_ERROR_END,
                                     IDS_INTERNAL_ERROR_OFFSET,
                                     IDS_SERIAL_AREA_NOT_FLASH,
                                     IDS_TARGET_NOT_SUPPORTED,
                                     IDS_FILE_OPEN_FAILED,
                                     IDS_ILLEGAL_FORMAT,
                                     IDS_HEX_ILLEGAL_END_RECORD,
                                     IDS_HEX_CHECKSUM_ERROR,
                                     IDS_S_CHECKSUM_ERROR,
                                     IDS_S_INVALID_END_RECORD,
                                     IDS_NO_END_RECORD,
                                     IDS_NO_DATA_RECORD,
                                     IDS_FILE_ALREADY_REGISTERED,
                                     IDS_FILE_OVERLAPS_REGISTERED,
                                     IDS_TRG_NOT_FOUND,
                                     IDS_TRG_NONE_READ,
                                     IDS_HEX_OPEN_FAILED,
                                     IDS_ILLEGAL_OFFSET,
                                     IDS_DATA_OUTSIDE_FLASH,
                                     IDS_INI_WRITE_FAILED,
                                     IDS_TARGET_COUNT_MISMATCH,
                                     IDS_LINE_NOT_BUILT,
                                     IDS_LINE_BAD_SETTING,
                                     IDS_LINE_UNREACHABLE,
                                     IDS_LINE_NO_SCHEMA,
                                     IDS_LINE_NO_POOL,
                                     IDS_LINE_POOL_MISMATCH,
                                     IDS_LINE_REFUSED};

bool IsInputError(uint32_t id) {
    return std::find(std::begin(kInputErrors), std::end(kInputErrors), id) !=
           std::end(kInputErrors);
}

// The operation as a person reads it, and as the JSON names it.
std::string OperationLabel(int op) {
    switch (op) {
        case kOperationSave:
            return "Save";
        case kOperationProgram:
            return "Program";
        default:
            return std::string(OperationName(op));
    }
}

std::string JsonName(int op) {
    std::string name = OperationLabel(op);
    for (char& c : name)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return name;
}

bool TouchesFlash(int op) {
    return op == kOperationWrite || op == kOperationVerify || op == kOperationErase ||
           op == kOperationSave;
}

const char* OutcomeName(int resultCode, bool cancelled) {
    if (cancelled || resultCode == kResultStopped)
        return "stopped";
    switch (resultCode) {
        case kResultSuccess:
            return "success";
        case kResultPartialSuccess:
            return "partial";
        default:
            return "failure";
    }
}

const char* IconName(MsgIcon icon) {
    return icon == MsgIcon::Error      ? "error"
           : icon == MsgIcon::Warning  ? "warning"
           : icon == MsgIcon::Question ? "question"
                                       : "note";
}

}  // namespace

std::string OneLine(std::string_view text) {
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
            continue;
        }
        line += c;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string StatusHex(uint32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", status);
    return text;
}

JsonFields& JsonFields::Raw(const char* key, const std::string& value) {
    text_ += (text_.empty() ? "" : ",") + JsonString(key) + ":" + value;
    return *this;
}

JsonFields& JsonFields::TextOrNull(const char* key, const std::string& value) {
    return Raw(key, value.empty() ? "null" : JsonString(value));
}

std::string JsonString(std::string_view bytes) {
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
                        out += escaped;
                    } else {
                        out += char(c);
                    }
            }
            ++i;
            continue;
        }
        // A well-formed sequence: its length from the lead byte, continuation bytes 10xxxxxx,
        // no overlong form, no surrogate, nothing above U+10FFFF.
        const size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                              : c >= 0xE0 && c <= 0xEF ? 3
                              : c >= 0xF0 && c <= 0xF4 ? 4
                                                       : 0;
        bool ok = length != 0 && i + length <= n;
        for (size_t k = 1; ok && k < length; ++k)
            ok = (s[i + k] & 0xC0) == 0x80;
        if (ok && length >= 3) {
            const unsigned char second = s[i + 1];
            ok = !(c == 0xE0 && second < 0xA0) && !(c == 0xED && second > 0x9F) &&
                 !(c == 0xF0 && second < 0x90) && !(c == 0xF4 && second > 0x8F);
        }
        if (ok) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out += "\\uFFFD";
            ++i;
        }
    }
    return out + "\"";
}

JsonStamp SystemJsonStamp() {
    // 128 random bits, shown as a UUID (version 4) so that a database takes it as one.
    std::random_device random;
    std::array<uint32_t, 4> words{};
    for (uint32_t& w : words)
        w = random();
    words[1] = (words[1] & 0xFFFF0FFFu) | 0x00004000u;
    words[2] = (words[2] & 0x3FFFFFFFu) | 0x80000000u;
    char id[40];
    std::snprintf(id, sizeof id, "%08x-%04x-%04x-%04x-%04x%08x", unsigned(words[0]),
                  unsigned(words[1] >> 16), unsigned(words[1] & 0xFFFF), unsigned(words[2] >> 16),
                  unsigned(words[2] & 0xFFFF), unsigned(words[3]));
    return {id, plat::HostName(), [] {
                std::tm now{};
                return SystemLocalTime(now) ? IsoLocalTime(now) : std::string();
            }};
}

ConsoleReport::ConsoleReport(std::FILE* err, std::FILE* json, bool terminal,
                             std::function<Clock::time_point()> now, JsonStamp stamp)
    : err_(err), json_(json), terminal_(terminal), now_(std::move(now)), stamp_(std::move(stamp)) {}

void ConsoleReport::ClearProgress() {
    if (progressWidth_ == 0)
        return;
    std::fprintf(err_, "\r%*s\r", int(progressWidth_), "");
    progressWidth_ = 0;
}

void ConsoleReport::Line(const std::string& text) {
    ClearProgress();
    std::fprintf(err_, "%s\n", text.c_str());
    std::fflush(err_);
}

void ConsoleReport::Json(const std::string& type, const std::string& fields) {
    if (json_ == nullptr)
        return;
    JsonFields line;
    line.Field("schema", kSchema)
        .Field("type", type)
        .Field("run_id", stamp_.runId)
        .Field("time", stamp_.time ? stamp_.time() : std::string())
        .Field("host", stamp_.host);
    if (cycle_ > 0)
        line.Field("cycle", cycle_);
    std::fprintf(json_, "{%s%s%s}\n", line.Text().c_str(), fields.empty() ? "" : ",",
                 fields.c_str());
    std::fflush(json_);
}

void ConsoleReport::JsonLine(const std::string& type, const std::string& fields) {
    Json(type, fields);
}

void ConsoleReport::OnOperationStart(int) {
    recordFailed_ = false;
    logFailed_ = false;
}

void ConsoleReport::OnTargetResult(const TargetResult& r) {
    plugReached_ = plugReached_ || r.operation == kOperationPlug;
    targetsTouched_ = targetsTouched_ || TouchesFlash(r.operation);
    failed_ = failed_ || r.status != 0;
    std::string line = OperationLabel(r.operation) + " target " + std::to_string(r.target) + ": ";
    line += r.status == 0 ? "OK" : "Error " + StatusHex(r.status) + ": " + OneLine(r.message);
    if (!r.serialNumber.empty())
        line += ", serial " + r.serialNumber;
    line += ", " + std::to_string(r.durationMs) + " ms";
    if (r.operation == kOperationPlug && !r.devicePath.empty())
        line += " (" + r.devicePath + ")";
    Line(line);
    if (std::find(boardOperations_.begin(), boardOperations_.end(), r.operation) !=
        boardOperations_.end())
        cycleBoards_[r.target] = r.status;
    // Numbers handed out: those the targets of a Write got.
    if (r.operation == kOperationWrite && !r.serialNumber.empty()) {
        if (serialFirst_.empty())
            serialFirst_ = r.serialNumber;
        serialLast_ = r.serialNumber;
    }
    Json("target", JsonFields()
                       .Field("operation", JsonName(r.operation))
                       .Field("target", r.target)
                       .Field("device_path", r.devicePath)
                       .Field("serial_number", r.serialNumber)
                       .Field("status", int64_t(r.status))
                       .Field("status_hex", StatusHex(r.status))
                       .Field("message", r.message)
                       .Field("duration_ms", int64_t(r.durationMs))
                       .Text());
}

void ConsoleReport::OnOperationEnd(const OperationSummary& s) {
    failed_ = failed_ || s.resultCode != kResultSuccess;
    stopped_ = stopped_ || s.cancelled;
    const std::string label = OperationLabel(s.operation);
    // The window's text names the operation in detail mode only.
    std::string outcome = OneLine(s.resultText);
    if (outcome.rfind(label + " ", 0) == 0)
        outcome.erase(0, label.size() + 1);
    while (!outcome.empty() && outcome.front() == ' ')
        outcome.erase(0, 1);
    // No record line, no silent success: a line says so.
    Line(label + ": " + outcome + ", " + std::to_string(s.passed) + " passed, " +
         std::to_string(s.failed) + " failed, " + std::to_string(s.durationMs) + " ms" +
         (recordFailed_ ? ", record not written" : "") + (logFailed_ ? ", log not written" : ""));
    Json("summary", JsonFields()
                        .Field("operation", JsonName(s.operation))
                        .Field("result", s.resultText)
                        .Field("outcome", OutcomeName(s.resultCode, s.cancelled))
                        .Field("passed", s.passed)
                        .Field("failed", s.failed)
                        .Flag("cancelled", s.cancelled)
                        .Field("duration_ms", int64_t(s.durationMs))
                        .Field("record", recordFailed_ ? "failed" : "ok")
                        .Field("log", logFailed_ ? "failed" : "ok")
                        .Text());
}

void ConsoleReport::OnProgress(const OperationProgress& p) {
    const Clock::time_point now = now_();
    const int percent = p.total == 0 ? 0 : int(uint64_t(p.done) * 100 / p.total);
    const bool fresh = p.operation != progress_.operation || p.target != progress_.target;
    if (terminal_) {
        // Redrawn for every percent, at most five times a second otherwise.
        if (!fresh && percent == progress_.percent &&
            now - progress_.at < std::chrono::milliseconds(200))
            return;
    } else if (!fresh && percent / 10 <= progress_.tenth &&
               now - progress_.at < std::chrono::seconds(1)) {
        // A line per tenth or per second: a long Write gives tens of lines, not thousands.
        return;
    }
    progress_ = {p.operation, p.target, percent / 10, percent, now};
    std::string text = OperationLabel(p.operation) + ": ";
    if (p.operation == kOperationVerify && p.target == 0)
        text += "reading every target, block " + std::to_string(p.done) + " of " +
                std::to_string(p.total);
    else if (p.operation == kOperationVerify)
        text += "target " + std::to_string(p.target) + ", file " + std::to_string(p.fileNumber) +
                " of " + std::to_string(p.fileCount) + " " + p.file + " (" +
                std::to_string(percent) + " %)";
    else if (p.operation == kOperationWrite)
        text += "block " + std::to_string(p.done) + " of " + std::to_string(p.total) + " (" +
                std::to_string(percent) + " %)";
    else
        text += "working";
    text += ", " + std::to_string(p.elapsedMs / 1000) + " s";
    if (!terminal_) {
        Line(text);
        return;
    }
    const size_t width = text.size();
    std::fprintf(err_, "\r%s", text.c_str());
    if (width < progressWidth_)
        std::fprintf(err_, "%*s\r%s", int(progressWidth_ - width), "", text.c_str());
    progressWidth_ = width;
    std::fflush(err_);
}

void ConsoleReport::OnIdle() {
    ClearProgress();
    std::fflush(err_);
    progress_ = Shown{};
}

void ConsoleReport::Message(const std::string& caption, uint32_t id, MsgIcon icon,
                            const std::string& text, std::optional<DialogResult> answer,
                            const std::string& file) {
    const char* kind = IconName(icon);
    // A text that names no file gets the file it is about.
    const std::string shown =
        OneLine(text) +
        (file.empty() || text.find(file) != std::string::npos ? "" : " (" + file + ")");
    std::string line =
        caption + ": " + kind + (id != 0 ? " " + std::to_string(id) : "") + ": " + shown;
    const std::string answered = !answer ? "" : *answer == 1 ? "ok" : "cancel";
    if (answer)
        line += *answer == 1 ? " -> OK" : " -> Cancel";
    Line(line);
    Emit(kind, id, text, answered, file);
    // Rows the line's outbox could not keep are lost for the line's record.
    if (id == IDS_RECORD_WRITE_FAILED || id == IDS_LINE_OUTBOX_FAILED)
        recordFailed_ = recordOrLogFailed_ = true;
    if (id == IDS_TARGET_COUNT_MISMATCH)
        countMismatch_ = true;
    if (id == IDS_LOG_WRITE_FAILED || id == IDS_LOG_CLOSE_FAILED)
        logFailed_ = recordOrLogFailed_ = true;
    if (icon == MsgIcon::Error) {
        ++errors_;
        // A wrong security ID is the operator's try; the target's own result tells the rest.
        if (IsInputError(id))
            inputError_ = true;
        else if (id != IDS_WRONG_SECURITY_ID)
            failed_ = true;
    }
    // A question left unanswered stops its operation before it does anything.
    if (answer && *answer != 1)
        inputError_ = true;
}

void ConsoleReport::Emit(const std::string& kind, uint32_t id, const std::string& text,
                         const std::string& answer, const std::string& file) {
    JsonFields fields;
    fields.Raw("number", id != 0 ? std::to_string(id) : "null")
        .Field("icon", kind)
        .Field("text", text);
    if (!answer.empty())
        fields.Field("answer", answer);
    if (!file.empty())
        fields.Field("file", file);
    Json("message", fields.Text());
}

void ConsoleReport::Note(const std::string& text) {
    Line(text);
    Emit("note", 0, text, "", "");
}

void ConsoleReport::Warning(const std::string& text) {
    Line(text);
    Emit("warning", 0, text, "", "");
}

void ConsoleReport::InputError(const std::string& text) {
    Line(text);
    Emit("error", 0, text, "", "");
    inputError_ = true;
}

void ConsoleReport::SetCommand(const std::string& name, std::vector<int> boardOperations) {
    command_ = name;
    boardOperations_ = std::move(boardOperations);
}

void ConsoleReport::CountBoards() {
    for (const auto& [target, status] : cycleBoards_)
        ++(status == 0 ? boardsPassed_ : boardsFailed_);
    cycleBoards_.clear();
}

void ConsoleReport::BeginCycle(int cycle) {
    CountBoards();
    cycle_ = cycle;
}

int ConsoleReport::ExitCode() const {
    if (verdict_)
        return *verdict_ && errors_ == 0 && !inputError_ ? kExitSuccess : kExitNothingRan;
    if (stopped_)
        return kExitFailed;
    if (!plugReached_ || (inputError_ && !targetsTouched_))
        return kExitNothingRan;
    return failed_ || inputError_ ? kExitFailed : kExitSuccess;
}

int ConsoleReport::Finish() {
    CountBoards();
    const int cycles = cycle_;
    cycle_ = 0;
    const int code = ExitCode();
    const int boards = boardsPassed_ + boardsFailed_;
    char yield[32] = "null";
    if (boards > 0)
        std::snprintf(yield, sizeof yield, "%.1f", 100.0 * boardsPassed_ / boards);
    Json("run", JsonFields()
                    .Field("command", command_)
                    .Field("cycles", cycles)
                    .Field("passed", boardsPassed_)
                    .Field("failed", boardsFailed_)
                    .Raw("yield", yield)
                    .TextOrNull("serial_first", serialFirst_)
                    .TextOrNull("serial_last", serialLast_)
                    .Field("exit_code", code)
                    .Text());
    return code;
}
