#include "outbox.h"

#include <charconv>

#include "platform/append_file.h"
#include "platform/files.h"

namespace linedb {

namespace {

// The form of a line; a later form gets another tag.
constexpr std::string_view kTag = "r1";
constexpr size_t kFields = 17;

std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool Unescaped(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

template <class T>
bool Number(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && at == end;
}

// The whole file; false when it cannot be read.
bool ReadAll(plat::AppendFile& file, std::string& text) {
    uint64_t size = 0;
    if (!file.Size(size))
        return false;
    text.assign(size_t(size), '\0');
    return size == 0 || file.ReadAt(0, text.data(), text.size());
}

}  // namespace

std::string EncodeOutboxRow(const OutboxRow& r) {
    const programdata::RecordRow& row = r.record.row;
    const std::string fields[kFields] = {std::string(kTag),
                                         r.record.run,
                                         r.record.cycle,
                                         r.station,
                                         r.pool,
                                         row.time,
                                         row.host,
                                         row.operation,
                                         std::to_string(row.target),
                                         row.devicePath,
                                         row.targetName,
                                         row.chipName,
                                         row.serialNumber,
                                         row.checksum,
                                         std::to_string(row.status),
                                         row.message,
                                         std::to_string(row.durationMs)};
    std::string line;
    for (const std::string& field : fields)
        line += (line.empty() ? "" : "\t") + Escaped(field);
    return line + "\n";
}

bool DecodeOutboxRow(std::string_view line, OutboxRow& r) {
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        std::string field;
        if (!Unescaped(line.substr(start, tab == std::string_view::npos ? tab : tab - start),
                       field))
            return false;
        fields.push_back(std::move(field));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (fields.size() != kFields || fields[0] != kTag)
        return false;
    programdata::RecordRow& row = r.record.row;
    r.record.run = fields[1];
    r.record.cycle = fields[2];
    r.station = fields[3];
    r.pool = fields[4];
    row.time = fields[5];
    row.host = fields[6];
    row.operation = fields[7];
    row.devicePath = fields[9];
    row.targetName = fields[10];
    row.chipName = fields[11];
    row.serialNumber = fields[12];
    row.checksum = fields[13];
    row.message = fields[15];
    return !r.record.run.empty() && Number(fields[8], row.target) &&
           Number(fields[14], row.status) && Number(fields[16], row.durationMs);
}

bool AppendOutbox(const std::string& path, const std::vector<OutboxRow>& rows) {
    plat::AppendFile file;
    uint64_t size = 0;
    char last = '\n';
    if (!file.Open(path) || !file.Size(size) || (size > 0 && !file.ReadAt(size - 1, &last, 1)))
        return false;
    // A batch a crash cut short: its partial line goes, so that every line stays whole. Only
    // then is the file read whole; while the server is away it grows with every operation.
    if (last != '\n') {
        std::string text;
        if (!ReadAll(file, text))
            return false;
        const size_t end = text.rfind('\n');
        if (!file.Truncate(end == std::string::npos ? 0 : end + 1))
            return false;
    }
    std::string lines;
    for (const OutboxRow& row : rows)
        lines += EncodeOutboxRow(row);
    return file.Append(lines) && file.Flush();
}

bool ReadOutbox(const std::string& path, OutboxContent& content) {
    content = {};
    if (!plat::FileExists(path.c_str()))
        return true;
    plat::AppendFile file;
    std::string text;
    if (!file.Open(path) || !ReadAll(file, text))
        return false;
    for (size_t start = 0;;) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break;
        const std::string_view line(text.data() + start, end - start);
        OutboxRow row;
        if (DecodeOutboxRow(line, row))
            content.rows.push_back(std::move(row));
        else
            content.unreadable.emplace_back(line);
        start = end + 1;
    }
    return true;
}

bool ClearOutbox(const std::string& path) {
    plat::AppendFile file;
    return file.Open(path) && file.Truncate(0) && file.Flush();
}

}  // namespace linedb
