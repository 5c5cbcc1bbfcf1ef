#pragma once
// The production record: one CSV line (RFC 4180, UTF-8, CR LF) per target and operation,
// appended to a file beside the log. The writer appends a whole batch of lines with one write
// and flushes it to the disk, so a crash leaves complete lines only; a tail that a crash or a
// power loss cut is removed before the next batch.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace programdata {

constexpr const char* kDefaultRecordFileName = "Quorvel-record.csv";

struct RecordRow {
    std::string time;  // ISO 8601 local time with its offset
    std::string host;
    std::string operation;  // "Write", "Verify", "Erase" or "Program"
    int target = 0;
    std::string devicePath;
    std::string targetName;
    std::string chipName;
    std::string serialNumber;  // empty without serialization
    std::string checksum;
    uint32_t status = 0;
    std::string message;
    uint32_t durationMs = 0;
};

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a line break (quotes
// doubled). Line breaks inside a field become LF, so CR LF only ever ends a line.
std::string CsvField(std::string_view text);
// A text field as a spreadsheet must show it: one that begins with =, +, -, @, a tab or a CR
// would be taken for a formula, so it gets a leading apostrophe.
std::string SpreadsheetText(std::string_view text);
// The column names, ending in CR LF.
std::string RecordHeaderLine();
// One row, ending in CR LF. Text fields go through SpreadsheetText; the numbers the record
// formats itself (time, target, status, duration) are written as they are.
std::string RecordLine(const RecordRow& row);
// "2026-12-08T09:15:02+01:00"; the offset is left out when the time carries none.
std::string IsoLocalTime(const std::tm& time);
// The local time's offset from UTC ("+05:30") worked out from the time itself, for C libraries
// whose %z names the zone instead of giving the offset (Windows).
std::string UtcOffsetOf(const std::tm& local);
// The record's operation column for an operation code ("" for Plug and Unplug).
std::string RecordOperationName(int op);

// Appends lines (whole rows) to the file in one write, with the header first when the file is
// new or empty, and flushes it to the disk. False when the file cannot be opened, locked,
// written or flushed.
bool AppendRecordLines(const std::string& fileName, std::string_view lines);

}  // namespace programdata
