#include "programdata/production_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/append_file.h"
#include "programdata/status_texts.h"

namespace programdata {

namespace {

// How far back a torn tail is searched for the last complete line. A longer tail is no line
// this writer left: it stays, and the next batch starts on a line of its own.
constexpr uint64_t kTailWindow = 64 * 1024;

// Where the last complete line ends (just after its CR LF), searched back from the end; false
// when the tail holds none.
bool LastLineEnd(const plat::AppendFile& file, uint64_t size, uint64_t& end) {
    const uint64_t from = size > kTailWindow ? size - kTailWindow : 0;
    std::vector<char> tail(size_t(size - from));
    if (!file.ReadAt(from, tail.data(), tail.size()))
        return false;
    for (size_t i = tail.size(); i >= 2; --i) {
        if (tail[i - 2] == '\r' && tail[i - 1] == '\n') {
            end = from + i;
            return true;
        }
    }
    return false;
}

// Only a file this writer began (it starts with the header, or with part of it) is cut: the
// operator may have chosen a file of another kind, whose content must survive.
bool WrittenByRecord(const plat::AppendFile& file, uint64_t size) {
    const std::string header = RecordHeaderLine();
    std::string start(size_t(std::min<uint64_t>(size, header.size())), '\0');
    return file.ReadAt(0, start.data(), start.size()) &&
           header.compare(0, start.size(), start) == 0;
}

}  // namespace

std::string CsvField(std::string_view text) {
    std::string out;
    bool quote = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                continue;
            out.push_back('\n');
            quote = true;
            continue;
        }
        if (c == '"')
            out.push_back('"');
        quote = quote || c == ',' || c == '"' || c == '\n';
        out.push_back(c);
    }
    return quote ? "\"" + out + "\"" : out;
}

std::string RecordHeaderLine() {
    return "Time,Host,Operation,Target,Device Path,Target Name,Chip Name,Serial Number,"
           "Checksum,Status,Message,Duration (ms)\r\n";
}

std::string SpreadsheetText(std::string_view text) {
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        return "'" + std::string(text);
    return std::string(text);
}

std::string RecordLine(const RecordRow& row) {
    char status[16];
    std::snprintf(status, sizeof status, "0x%04X", unsigned(row.status));
    const std::string fields[] = {row.time,
                                  SpreadsheetText(row.host),
                                  SpreadsheetText(row.operation),
                                  std::to_string(row.target),
                                  SpreadsheetText(row.devicePath),
                                  SpreadsheetText(row.targetName),
                                  SpreadsheetText(row.chipName),
                                  SpreadsheetText(row.serialNumber),
                                  SpreadsheetText(row.checksum),
                                  status,
                                  SpreadsheetText(row.message)};
    std::string line;
    for (const std::string& field : fields) {
        line += CsvField(field);
        line += ',';
    }
    return line + std::to_string(row.durationMs) + "\r\n";
}

std::string UtcOffsetOf(const std::tm& local) {
    std::tm normal = local;
    const std::time_t at = std::mktime(&normal);
    if (at == std::time_t(-1))
        return {};
    std::tm utc{};
#ifdef _WIN32
    if (gmtime_s(&utc, &at) != 0)
        return {};
#else
    if (gmtime_r(&at, &utc) == nullptr)
        return {};
#endif
    // The two differ by less than a day: across a year's end the day of the year restarts.
    int days = normal.tm_yday - utc.tm_yday;
    if (normal.tm_year != utc.tm_year)
        days = normal.tm_year > utc.tm_year ? 1 : -1;
    const int minutes =
        days * 1440 + (normal.tm_hour - utc.tm_hour) * 60 + (normal.tm_min - utc.tm_min);
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+',
                  std::abs(minutes) / 60, std::abs(minutes) % 60);
    return text;
}

std::string IsoLocalTime(const std::tm& time) {
    char text[40] = "";
    char offset[16] = "";
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &time) == 0)
        return {};
    std::string out = text;
    // "+hhmm" to the extended form the date and time use; a C library whose %z names the zone
    // instead (Windows) gets it from the time itself.
    if (std::strftime(offset, sizeof offset, "%z", &time) == 5 &&
        (offset[0] == '+' || offset[0] == '-'))
        out += std::string(offset, 3) + ":" + std::string(offset + 3, 2);
    else
        out += UtcOffsetOf(time);
    return out;
}

std::string RecordOperationName(int op) {
    if (op == kOperationProgram)
        return "Program";
    if (op == kOperationWrite || op == kOperationVerify || op == kOperationErase)
        return std::string(OperationName(op));
    return {};
}

bool AppendRecordLines(const std::string& fileName, std::string_view lines) {
    plat::AppendFile file;
    uint64_t size = 0;
    if (fileName.empty() || !file.Open(fileName) || !file.Size(size))
        return false;
    std::string text;
    if (size > 0) {
        char last[2] = {};
        if (size < 2 || !file.ReadAt(size - 2, last, 2))
            last[0] = last[1] = 0;
        if (last[0] != '\r' || last[1] != '\n') {
            // A batch cut short: its partial line goes, so that every line stays whole.
            uint64_t end = 0;
            if (!WrittenByRecord(file, size)) {
                text = "\r\n";
            } else if (size <= RecordHeaderLine().size() || LastLineEnd(file, size, end)) {
                if (!file.Truncate(end))
                    return false;
                size = end;
            } else {
                text = "\r\n";
            }
        }
    }
    if (size == 0)
        text = RecordHeaderLine();
    text += lines;
    return file.Append(text) && file.Flush();
}

}  // namespace programdata
