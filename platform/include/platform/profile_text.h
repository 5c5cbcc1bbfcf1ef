#pragma once
// The text layer under the private-profile functions: INI bytes parsed into lines, values
// looked up and edits applied, without touching any file. The file functions and the registry
// stand-in are built on it; tests and fuzzers drive it with arbitrary content.
//
// Every function takes any bytes (NULs, lone CRs, binary junk) and allocates at most in
// proportion to the text it is given.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plat::profile {

enum class LineKind {
    Blank,    // nothing but spaces, tabs and vertical tabs
    Comment,  // first character ';'
    Section,  // first character '['
    Entry,    // contains '='
    Other,    // anything else: ignored by readers, kept by writers
};

// Offsets into the text. A line ends at CR, LF or CR LF.
struct Line {
    size_t begin = 0;  // first byte of the line
    size_t end = 0;    // one past its last byte, before the line break
    size_t next = 0;   // start of the following line (== end when the text ends without a break)
    LineKind kind = LineKind::Blank;
    size_t nameBegin = 0;  // Section: the trimmed name; Entry: the trimmed key
    size_t nameEnd = 0;
    size_t valueBegin = 0;  // Entry: the trimmed value, quotes still on
    size_t valueEnd = 0;
};

// Parses the line that starts at pos. Returns false when pos is at or past the end.
bool NextLine(std::string_view text, size_t pos, Line& line);

inline std::string_view LineName(std::string_view text, const Line& line) {
    return text.substr(line.nameBegin, line.nameEnd - line.nameBegin);
}

// Section and key names match without regard to ASCII letter case.
bool NamesEqual(std::string_view a, std::string_view b);
// Names given by callers are trimmed of spaces (only) before matching.
std::string_view TrimCallerName(std::string_view name);
// The value as readers see it: one outer pair of equal quotes (' or ") removed.
std::string_view Unquote(std::string_view value);

// The value of key in the first section named section (first entry wins), unquoted; nullopt
// when the section or the key is missing. Names are matched as given (trim them first).
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// Visits every section header name in file order (duplicates included), or every key of
// the first section named section. The visitor returns false to stop.
void ForEachSectionName(std::string_view text, const std::function<bool(std::string_view)>& visit);
void ForEachKeyName(std::string_view text, std::string_view section,
                    const std::function<bool(std::string_view)>& visit);
bool HasSection(std::string_view text, std::string_view section);

// Why an edit was refused: names or values that would not read back as written.
bool IsWritableSectionName(std::string_view section);
bool IsWritableKeyName(std::string_view key);
bool IsWritableValue(std::string_view value);

// The text after a write, editing lines in place and keeping every other byte:
// key and value given: set the key (replace its line, or insert it after the section's last
//   entry, or append a new section);
// value missing: remove the key's lines from the first matching section;
// key missing: remove every section of that name with all its lines.
// Names are used as given (trim them first). New lines end in CR LF.
std::string EditText(std::string_view text, std::string_view section,
                     std::optional<std::string_view> key, std::optional<std::string_view> value);

// The text with an empty section appended when no section of that name exists.
std::string EnsureSection(std::string_view text, std::string_view section);

}  // namespace plat::profile
