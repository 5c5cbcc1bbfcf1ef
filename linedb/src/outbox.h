#pragma once
// The record rows that wait for the line's record, in a file beside the CSV: one line per row,
// its fields separated by tabs (tab, line break, carriage return and backslash escaped), a
// batch appended with one write and flushed to the disk. A line a crash cut short is no row;
// it is cut off before the next append. The caller holds the outbox's lock (plat::FileLock).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/line_services.h"

namespace linedb {

// Holders of an outbox append one batch or send it: a few milliseconds, a second at worst.
constexpr uint32_t kOutboxLockWaitMs = 3000;

struct OutboxRow {
    LineRecordRow record;
    std::string station;
    std::string pool;  // the serial pool its number came from, or empty
};

std::string EncodeOutboxRow(const OutboxRow& row);
// False for a line of another form; row may then hold part of it.
bool DecodeOutboxRow(std::string_view line, OutboxRow& row);

// Appends the rows after the last whole line, flushed. False when the file cannot be opened,
// written or flushed.
bool AppendOutbox(const std::string& path, const std::vector<OutboxRow>& rows);

struct OutboxContent {
    std::vector<OutboxRow> rows;
    std::vector<std::string> unreadable;  // whole lines of another form
};
// The whole lines; a missing file holds none. False when the file cannot be read.
bool ReadOutbox(const std::string& path, OutboxContent& content);
// Empties the file (the rows reached the line's record), flushed.
bool ClearOutbox(const std::string& path);

}  // namespace linedb
