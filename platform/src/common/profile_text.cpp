#include "platform/profile_text.h"

namespace plat::profile {

namespace {

bool IsLineSpace(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Trims [b, e) of line white space in place.
void Trim(std::string_view text, size_t& b, size_t& e) {
    while (b < e && IsLineSpace(text[b]))
        ++b;
    while (e > b && IsLineSpace(text[e - 1]))
        --e;
}

const std::string_view kCrLf = "\r\n";

bool EndsWithLineBreak(std::string_view text) {
    return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

// The first section named section, with the lines that matter to an edit.
struct SectionScan {
    bool found = false;
    Line header;
    size_t bodyEnd = 0;  // start of the next header, or the end of the text
    bool hasLastEntry = false;
    Line lastEntry;
};

SectionScan ScanSection(std::string_view text, std::string_view section) {
    SectionScan scan;
    Line line;
    for (size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (line.kind == LineKind::Section) {
            if (scan.found) {
                scan.bodyEnd = line.begin;
                return scan;
            }
            if (NamesEqual(LineName(text, line), section)) {
                scan.found = true;
                scan.header = line;
            }
        } else if (scan.found && line.kind == LineKind::Entry) {
            scan.hasLastEntry = true;
            scan.lastEntry = line;
        }
    }
    scan.bodyEnd = text.size();
    return scan;
}

void AppendEntry(std::string& out, std::string_view key, std::string_view value) {
    out.append(key);
    out.push_back('=');
    out.append(value);
    out.append(kCrLf);
}

// Appends "[section]" CR LF, first ending an unterminated last line.
void AppendHeader(std::string& out, std::string_view section) {
    if (!out.empty() && !EndsWithLineBreak(out))
        out.append(kCrLf);
    out.push_back('[');
    out.append(section);
    out.push_back(']');
    out.append(kCrLf);
}

std::string RemoveSections(std::string_view text, std::string_view section) {
    std::string out;
    out.reserve(text.size());
    bool removing = false;
    size_t copyFrom = 0;
    Line line;
    for (size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (line.kind != LineKind::Section)
            continue;
        bool match = NamesEqual(LineName(text, line), section);
        if (match && !removing) {
            out.append(text.substr(copyFrom, line.begin - copyFrom));
            removing = true;
        } else if (!match && removing) {
            copyFrom = line.begin;
            removing = false;
        }
    }
    if (!removing)
        out.append(text.substr(copyFrom));
    return out;
}

std::string RemoveKey(std::string_view text, std::string_view section, std::string_view key) {
    std::string out;
    out.reserve(text.size());
    bool seenSection = false;
    bool inSection = false;
    size_t copyFrom = 0;
    Line line;
    for (size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (line.kind == LineKind::Section) {
            if (inSection)
                break;  // only the first section of the name counts
            if (!seenSection && NamesEqual(LineName(text, line), section)) {
                seenSection = inSection = true;
            }
        } else if (inSection && line.kind == LineKind::Entry &&
                   NamesEqual(LineName(text, line), key)) {
            // Every duplicate goes, so the key reads as missing afterwards.
            out.append(text.substr(copyFrom, line.begin - copyFrom));
            copyFrom = line.next;
        }
    }
    out.append(text.substr(copyFrom));
    return out;
}

}  // namespace

bool NextLine(std::string_view text, size_t pos, Line& line) {
    if (pos >= text.size())
        return false;
    line = Line{};
    line.begin = pos;
    size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r')
        ++end;
    if (end == text.size()) {
        line.end = line.next = text.size();
    } else {
        line.end = end;
        line.next = end + 1;
        if (text[end] == '\r' && line.next < text.size() && text[line.next] == '\n')
            ++line.next;
    }
    size_t b = line.begin;
    size_t e = line.end;
    Trim(text, b, e);
    if (b == e) {
        line.kind = LineKind::Blank;
        return true;
    }
    if (text[b] == '[') {
        line.kind = LineKind::Section;
        size_t nameBegin = b + 1;
        size_t close = text.substr(0, e).find(']', nameBegin);
        size_t nameEnd = close == std::string_view::npos ? e : close;
        Trim(text, nameBegin, nameEnd);
        line.nameBegin = nameBegin;
        line.nameEnd = nameEnd;
        return true;
    }
    if (text[b] == ';') {
        line.kind = LineKind::Comment;
        return true;
    }
    size_t eq = text.substr(0, e).find('=', b);
    if (eq == std::string_view::npos) {
        line.kind = LineKind::Other;
        return true;
    }
    line.kind = LineKind::Entry;
    line.nameBegin = b;
    line.nameEnd = eq;
    Trim(text, line.nameBegin, line.nameEnd);
    line.valueBegin = eq + 1;
    line.valueEnd = e;
    Trim(text, line.valueBegin, line.valueEnd);
    return true;
}

bool NamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

std::string_view TrimCallerName(std::string_view name) {
    size_t b = name.find_first_not_of(' ');
    if (b == std::string_view::npos)
        return {};
    size_t e = name.find_last_not_of(' ');
    return name.substr(b, e - b + 1);
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
    bool inSection = false;
    Line line;
    for (size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (line.kind == LineKind::Section) {
            if (inSection)
                return std::nullopt;  // only the first section of the name counts
            inSection = NamesEqual(LineName(text, line), section);
        } else if (inSection && line.kind == LineKind::Entry &&
                   NamesEqual(LineName(text, line), key)) {
            return Unquote(text.substr(line.valueBegin, line.valueEnd - line.valueBegin));
        }
    }
    return std::nullopt;
}

void ForEachSectionName(std::string_view text, const std::function<bool(std::string_view)>& visit) {
    Line line;
    for (size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (line.kind == LineKind::Section && !visit(LineName(text, line)))
            return;
    }
}

void ForEachKeyName(std::string_view text, std::string_view section,
                    const std::function<bool(std::string_view)>& visit) {
    bool inSection = false;
    Line line;
    for (size_t pos = 0; NextLine(text, pos, line); pos = line.next) {
        if (line.kind == LineKind::Section) {
            if (inSection)
                return;
            inSection = NamesEqual(LineName(text, line), section);
        } else if (inSection && line.kind == LineKind::Entry) {
            if (!visit(LineName(text, line)))
                return;
        }
    }
}

bool HasSection(std::string_view text, std::string_view section) {
    bool found = false;
    ForEachSectionName(text, [&](std::string_view name) {
        found = NamesEqual(name, section);
        return !found;
    });
    return found;
}

namespace {
// Readers trim line space around names, so such a name would be written but never found.
bool HasLineSpaceAtEnds(std::string_view name) {
    return !name.empty() && (IsLineSpace(name.front()) || IsLineSpace(name.back()));
}
}  // namespace

bool IsWritableSectionName(std::string_view section) {
    // A ']' or a line break would make the header read back as another name.
    return section.find_first_of("]\r\n") == std::string_view::npos && !HasLineSpaceAtEnds(section);
}

bool IsWritableKeyName(std::string_view key) {
    if (key.find_first_of("=\r\n") != std::string_view::npos || HasLineSpaceAtEnds(key))
        return false;
    // Such a line would read back as a header or a comment.
    return key.empty() || (key.front() != '[' && key.front() != ';');
}

bool IsWritableValue(std::string_view value) {
    return value.find_first_of(kCrLf) == std::string_view::npos;
}

std::string EditText(std::string_view text, std::string_view section,
                     std::optional<std::string_view> key, std::optional<std::string_view> value) {
    if (!key)
        return RemoveSections(text, section);
    if (!value)
        return RemoveKey(text, section, *key);

    SectionScan scan = ScanSection(text, section);
    std::string out;
    out.reserve(text.size() + section.size() + key->size() + value->size() + 8);
    if (!scan.found) {
        out.append(text);
        AppendHeader(out, section);
        AppendEntry(out, *key, *value);
        return out;
    }
    Line line;
    for (size_t pos = scan.header.next; pos < scan.bodyEnd && NextLine(text, pos, line);
         pos = line.next) {
        if (line.kind == LineKind::Entry && NamesEqual(LineName(text, line), *key)) {
            out.append(text.substr(0, line.begin));
            AppendEntry(out, LineName(text, line), *value);  // the key keeps its file spelling
            out.append(text.substr(line.next));
            return out;
        }
    }
    const Line& after = scan.hasLastEntry ? scan.lastEntry : scan.header;
    out.append(text.substr(0, after.next));
    if (after.next == after.end)
        out.append(kCrLf);  // the last line had no line break
    AppendEntry(out, *key, *value);
    out.append(text.substr(after.next));
    return out;
}

std::string EnsureSection(std::string_view text, std::string_view section) {
    std::string out(text);
    if (!HasSection(text, section))
        AppendHeader(out, section);
    return out;
}

}  // namespace plat::profile
