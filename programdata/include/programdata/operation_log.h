#pragma once
// The operation log: one append-only text file, opened and closed around every operation.
// Every "\n" of a text is stored as CR LF on every platform, so the file reads the same
// wherever it was written. Each text is built whole and handed to the file in one write
// after seeking to the end; nothing is ever truncated.
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "programdata/reporter.h"
#include "programdata/status_texts.h"

namespace programdata {

// Local time now; false when it cannot be formed (the header then has an empty time).
using LocalTimeSource = std::function<bool(std::tm& out)>;
bool SystemLocalTime(std::tm& out);

// The adapter's firmware version text of a target; false when it cannot be had.
using FirmwareTextSource = std::function<bool(int target, std::string& text)>;

class OperationLog {
  public:
    // Messages (2053, 2056, 2057) go through reporter. Without a firmware source the 0x2004
    // block carries an empty firmware version.
    explicit OperationLog(ProgramDataReporter& reporter, LocalTimeSource clock = SystemLocalTime,
                          FirmwareTextSource firmware = {});
    ~OperationLog();  // closes silently
    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    // Opens fileName for appending, creating it when missing. An empty name or a file that
    // cannot be read and written shows 2056 and answers false. Clears the write-error flag.
    bool OpenOperationLog(const std::string& fileName);
    // An empty line, the operation name with the local time, and the number of targets (all
    // targets for Unplug, enabled ones otherwise).
    bool WriteLogHeader(int op);
    // The text as given; callers add "\n" themselves.
    bool WriteLogText(std::string_view text);
    // One target's block: status and message, the device path for Plug, and for Write with
    // serial numbers the line with serialDigits (the caller formats the target's number over
    // the configured byte count; nullopt when serialization is off). A disabled target gets
    // no block except in Plug and Unplug.
    bool WriteTargetLogBlock(int op, int target,
                             std::optional<std::string_view> serialDigits = std::nullopt);
    // Shows 2057 when closing fails.
    bool CloseOperationLog();

    bool isOpen() const { return file_ != nullptr; }
    // Tests fix the time stamps.
    void SetClock(LocalTimeSource clock) { clock_ = std::move(clock); }

    // The block text without writing it (tests and callers that collect text).
    std::string TargetLogBlockText(int op, int target,
                                   std::optional<std::string_view> serialDigits) const;
    std::string LogHeaderText(int op) const;

  private:
    // Seeks to the end and writes text with its line ends translated; a failure shows 2053
    // once per open and answers false.
    bool Append(std::string_view text);

    ProgramDataReporter& reporter_;
    std::string fileName_;  // of the log last opened, for the messages that name none
    LocalTimeSource clock_;
    FirmwareTextSource firmware_;
    std::FILE* file_ = nullptr;
    bool writeErrorReported_ = false;
};

}  // namespace programdata
