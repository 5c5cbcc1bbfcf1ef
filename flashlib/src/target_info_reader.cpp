// The TRG reader of CQuorvelApi: finds the target description files, parses them into
// CTargetInfo entries and hands the set to the program, which gives it back for freeing.
//
// Choices where a file does not fit the record or the reader's bounds:
// - more than 256 writable, read-only or merged ranges: the file is skipped, since a partial
//   flash map could let a write reach a range the file meant to exclude;
// - a VEXIL_VERSION longer than 9 characters: the file is skipped as an unsupported version;
// - an MMAP or GMAP NUMBER above 65535: the file is skipped as damaged, so that a value such
//   as -1 cannot keep start-up looping over four billion missing keys; a PMAP NUMBER above
//   65535 only bounds the ROMWIN scan, which ends at the first ROMWIN entry anyway;
// - no ROMWIN entry: romWinStart and romWinEnd are 0.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "brindlex/quorvel_api.h"
#include "platform/files.h"
#include "platform/private_profile.h"
#include "platform/registry.h"
#include "target_info_file.h"
#include "target_ranges.h"

namespace {

constexpr uint32_t kTextSize = 256;
constexpr uint32_t kRegistryValueSize = 260;
constexpr uint32_t kMaxVersionLength = 9;
constexpr uint32_t kMaxSectionEntries = 0xFFFF;
constexpr uint32_t kGmapStartLimit = 0x80000;
constexpr uint32_t kMaxBank = 0xFF;
constexpr uint32_t kMaxOffset = 0xFFFFFF;
const char kDefaultVersion[] = "1.10";

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Identity codes: leading blanks, optional 0x, digits up to the first non-digit (so "12H" is
// 0x12); a value beyond 32 bits saturates.
uint32_t HexTextToNumber(const char* text) {
    while (IsBlank(*text))
        ++text;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && HexDigit(text[2]) >= 0)
        text += 2;
    uint64_t value = 0;
    for (int d; (d = HexDigit(*text)) >= 0; ++text) {
        value = value * 16 + static_cast<uint64_t>(d);
        if (value > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

// One part of an address: an "H" suffix is cut at the first "H", the rest must be hexadecimal
// throughout (empty is 0) and at most limit.
bool AddressPart(std::string part, uint32_t limit, uint32_t& value) {
    if (!part.empty() && part.back() == 'H')
        part.erase(part.find('H'));
    uint64_t v = 0;
    for (char c : part) {
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        v = v * 16 + static_cast<uint64_t>(d);
        if (v > limit)
            return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

int AddressTextToNumber(const char* text, uint32_t& value) {
    value = 0;
    if (text == nullptr || *text == '\0')
        return 0;
    std::string s(text);
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    const size_t first = s.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) {
        s.clear();
    } else {
        s = s.substr(first, s.find_last_not_of(" \t\r\n\v\f") - first + 1);
    }
    if (s.compare(0, 2, "0X") == 0)
        s.erase(0, 2);
    for (char c : s)
        if (HexDigit(c) < 0 && c != ':' && c != 'H')
            return 0;

    uint32_t bank = 0;
    std::string offsetPart = s;
    const size_t colon = s.find(':');
    if (colon != std::string::npos) {
        if (!AddressPart(s.substr(0, colon), kMaxBank, bank))
            return 0;
        value = bank * 0x10000;
        offsetPart = s.substr(colon + 1);
    }
    uint32_t offset = 0;
    if (!AddressPart(offsetPart, kMaxOffset, offset))
        return 0;
    value = bank * 0x10000 + offset;
    return 1;
}

uint32_t ShiftByCode(uint32_t value, uint8_t code, int width) {
    if (width < 2 || width > 4)
        return 0;
    int exponent = code & ((1 << width) - 1);
    if (exponent >= (1 << (width - 1)))
        exponent -= 1 << width;
    return exponent >= 0 ? value << exponent : value >> -exponent;
}

// Key reads of one TRG file; the file is read once, not once per key.
class TrgFile {
  public:
    explicit TrgFile(const char* path) : profile(path) {}

    void Text(const char* section, const char* key, const char* defaultValue,
              char (&buffer)[kTextSize]) const {
        profile.GetString(section, key, defaultValue, buffer, kTextSize);
    }
    uint32_t Int(const char* section, const char* key, int defaultValue) const {
        return profile.GetInt(section, key, defaultValue);
    }
    uint32_t Hex(const char* section, const char* key) const {
        char text[kTextSize];
        Text(section, key, "0H", text);
        return HexTextToNumber(text);
    }
    // Whatever value the address conversion leaves, failed or not, is the value used.
    uint32_t Address(const char* section, const char* prefix, uint32_t n) const {
        char key[32];
        std::snprintf(key, sizeof key, "%s%u", prefix, n);
        char text[kTextSize];
        Text(section, key, "0H", text);
        uint32_t value = 0;
        AddressTextToNumber(text, value);
        return value;
    }
    void Kind(const char* section, uint32_t n, char (&buffer)[kTextSize]) const {
        char key[32];
        std::snprintf(key, sizeof key, "DEFAULT%u", n);
        Text(section, key, "NONE", buffer);
    }

  private:
    plat::PrivateProfileSnapshot profile;
};

bool IsOneOf(const char* kind, std::initializer_list<const char*> kinds) {
    return std::any_of(kinds.begin(), kinds.end(),
                       [kind](const char* k) { return std::strcmp(kind, k) == 0; });
}

// Adds the writable entries of MMAP or GMAP and notes the MMAP TEST start. False when the
// file has more entries or ranges than the reader takes.
bool ReadMap(const TrgFile& file, bool gmap, trg::RangeList& writable, uint32_t& testStart) {
    const char* section = gmap ? "GMAP" : "MMAP";
    const uint32_t number = file.Int(section, "NUMBER", 0);
    if (number > kMaxSectionEntries)
        return false;
    for (uint32_t n = 1; n <= number; ++n) {
        char kind[kTextSize];
        file.Kind(section, n, kind);
        if (gmap ? IsOneOf(kind, {"SC", "UC", "SCT", "UCT", "MO", "SCD", "UCD"})
                 : IsOneOf(kind, {"SC", "UC", "SCT", "UCT", "MO"})) {
            const uint32_t start = file.Address(section, "STARTADRS", n);
            if (gmap && start >= kGmapStartLimit)
                continue;
            if (!writable.Add(start, file.Address(section, "ENDADRS", n)))
                return false;
        } else if (!gmap && std::strcmp(kind, "TEST") == 0) {
            testStart = file.Address(section, "STARTADRS", n);
        }
    }
    return true;
}

}  // namespace

bool ReadTargetFile(const char* path, uint8_t maxIdBits, CTargetInfo& entry) {
    const TrgFile file(path);
    char text[kTextSize];

    file.Text("VEXIL", "VEXILDEBUG", "DISABLE", text);
    if (std::strcmp(text, "ENABLE") != 0)
        return false;

    plat::SplitPath(path, nullptr, 0, nullptr, 0, entry.name, sizeof entry.name, nullptr, 0);
    entry.targetId00 = file.Hex("VEXIL", "TARGETID00");
    entry.targetId32 = file.Hex("VEXIL", "TARGETID32");
    entry.targetId64 = file.Hex("VEXIL", "TARGETID64");
    entry.targetId96 = file.Hex("VEXIL", "TARGETID96");
    entry.targetIdBitNum = file.Int("VEXIL", "TARGETID_BIT_NUM", 64);
    if (entry.targetIdBitNum > maxIdBits)
        return false;

    file.Text("VEXIL", "VEXIL_VERSION", kDefaultVersion, text);
    const size_t versionLength = std::strlen(text);
    if (versionLength > kMaxVersionLength)
        return false;
    std::memcpy(entry.version, text, versionLength + 1);
    if (VersionNumber(entry.version, sizeof entry.version) == 0)
        std::memcpy(entry.version, kDefaultVersion, sizeof kDefaultVersion);

    if (entry.targetId00 == 0 && entry.targetId32 == 0)
        return false;

    const uint8_t blockCode = (entry.targetId32 >> 16) & 0xF;
    if ((entry.targetId00 & (1u << 30)) == 0) {
        entry.blockSize = blockCode == 0 ? 0x4000 : blockCode * 2048;
        entry.sizeFromBits10 = 512;
        entry.sizeFromBits13 = 512;
    } else {
        entry.blockSize = static_cast<int32_t>(ShiftByCode(2048, blockCode, 4));
        const uint8_t code10 = (entry.targetId64 >> 10) & 7;
        const uint8_t code13 = (entry.targetId64 >> 13) & 7;
        // Code 3 means no such area.
        entry.sizeFromBits10 = code10 == 3 ? 0 : static_cast<int32_t>(ShiftByCode(512, code10, 3));
        entry.sizeFromBits13 = code13 == 3 ? 0 : static_cast<int32_t>(ShiftByCode(512, code13, 3));
    }

    entry.edit = file.Int("VEXIL", "EDIT", 1);
    entry.memoryType = file.Int("VEXIL", "MEMORYTYPE", 2);
    entry.brkPointVal = file.Int("VEXIL", "BRKPOINTVAL", 2);

    trg::RangeList readOnly;
    const uint32_t readOnlyCount = file.Int("VEXIL_READONLY_AREA", "NUMBER", 0) & 0xFFFF;
    if (readOnlyCount > trg::kMaxRanges)
        return false;
    for (uint32_t n = 1; n <= readOnlyCount; ++n)
        readOnly.Add(file.Address("VEXIL_READONLY_AREA", "STARTADRS", n),
                     file.Address("VEXIL_READONLY_AREA", "ENDADRS", n));

    trg::RangeList writable;
    entry.testStart = 0;
    if (!ReadMap(file, false, writable, entry.testStart))
        return false;
    if (!ReadMap(file, true, writable, entry.testStart))
        return false;

    entry.areaCount = trg::MergeRanges(writable, readOnly, entry.areas, trg::kMaxRanges);
    if (entry.areaCount > trg::kMaxRanges)
        return false;

    const uint32_t windows = std::min(file.Int("PMAP", "NUMBER", 0), kMaxSectionEntries);
    for (uint32_t n = 1; n <= windows; ++n) {
        file.Kind("PMAP", n, text);
        if (std::strcmp(text, "ROMWIN") == 0) {
            entry.romWinStart = file.Address("PMAP", "STARTADRS", n);
            entry.romWinEnd = file.Address("PMAP", "ENDADRS", n);
            break;
        }
    }
    return true;
}

int32_t VersionNumber(const char* version, size_t size) {
    std::string digits;
    for (size_t i = 0; i < size && version[i] != '\0'; ++i)
        if (version[i] != '.')
            digits += version[i];
    size_t i = 0;
    while (i < digits.size() && IsBlank(digits[i]))
        ++i;
    const bool negative = i < digits.size() && digits[i] == '-';
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-'))
        ++i;
    // Saturates: a text of any length stays within 32 bits.
    int64_t value = 0;
    for (; i < digits.size() && digits[i] >= '0' && digits[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (digits[i] - '0'), int64_t{INT32_MAX} + 1);
    return static_cast<int32_t>(negative ? -value : std::min<int64_t>(value, INT32_MAX));
}

namespace {

// Appends the full paths of the *.TRG files in dir (which ends with a separator).
void FindTargetFiles(const std::string& dir, std::vector<std::string>& paths) {
    plat::WIN32_FIND_DATAA data{};
    plat::HANDLE search = plat::FindFirstFileA((dir + "*.TRG").c_str(), &data);
    if (!plat::IsOpenHandle(search))
        return;
    do {
        // A directory that happens to match is no description.
        if ((data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0)
            paths.push_back(dir +
                            std::string(data.cFileName, strnlen(data.cFileName, plat::MAX_PATH)));
    } while (plat::FindNextFileA(search, &data));
    plat::FindClose(search);
}

std::string WithSeparator(std::string dir) {
    if (dir.empty() || dir.back() != plat::kPathSeparator)
        dir += plat::kPathSeparator;
    return dir;
}

// Drive and directory of the running program, with a trailing separator; empty when unknown.
std::string ProgramDirectory() {
    char path[4096];
    const uint32_t length = plat::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path - 1)
        return {};
    char drive[16];
    char dir[sizeof path];
    plat::SplitPath(path, drive, sizeof drive, dir, sizeof dir, nullptr, 0, nullptr, 0);
    const std::string result = std::string(drive) + dir;
    return result.empty() ? result : WithSeparator(result);
}

// The directory named by TrgPath, or empty when there is none.
std::string RegistryDirectory(const std::string& programDir) {
    plat::HKEY key = nullptr;
    if (plat::RegOpenKeyExA(plat::HKEY_CURRENT_USER, "Software\\Ostrel\\Zeph", 0, plat::KEY_READ,
                            &key) != static_cast<long>(plat::ERROR_SUCCESS))
        return {};
    char value[kRegistryValueSize + 1] = {};
    uint32_t size = kRegistryValueSize;
    uint32_t type = 0;
    const long result = plat::RegQueryValueExA(key, "TrgPath", nullptr, &type,
                                               reinterpret_cast<uint8_t*>(value), &size);
    plat::RegCloseKey(key);
    if (result != static_cast<long>(plat::ERROR_SUCCESS))
        return {};

    std::string path(value);
    if (type == plat::REG_EXPAND_SZ && path.find("%Q7TOOLBASE%") == std::string::npos) {
        // The tool base marker is the program's own and wins over a variable of that name.
        char expanded[kRegistryValueSize + 1] = {};
        const uint32_t needed = plat::ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
        // A path cut to the buffer would name some other directory.
        if (needed == 0 || needed > sizeof expanded)
            return {};
        path = expanded;
    }
    if (path.find("%Q7TOOLBASE%") != std::string::npos) {
        // A tool base relative to an unknown program directory names nothing.
        if (programDir.empty())
            return {};
        std::string base = programDir.substr(0, programDir.size() - 1);
        const size_t cut = base.rfind(plat::kPathSeparator);
        base.erase(cut == std::string::npos ? 0 : cut);
        path = base + path.substr(path.rfind('%') + 1);
    }
    // Values written for Windows still name the right directory here.
    if (plat::kPathSeparator != '\\')
        std::replace(path.begin(), path.end(), '\\', plat::kPathSeparator);
    return path.empty() ? path : WithSeparator(path);
}

// The files of the first place that has any: the program directory, the registry's TrgPath,
// then ..\TRG beside the program.
std::vector<std::string> SearchTargetFiles() {
    std::vector<std::string> paths;
    const std::string programDir = ProgramDirectory();
    if (!programDir.empty())
        FindTargetFiles(programDir, paths);
    if (!paths.empty())
        return paths;

    const std::string registryDir = RegistryDirectory(programDir);
    if (!registryDir.empty())
        FindTargetFiles(registryDir, paths);
    if (!paths.empty())
        return paths;

    if (!programDir.empty())
        FindTargetFiles(programDir + ".." + plat::kPathSeparator + "TRG" + plat::kPathSeparator,
                        paths);
    return paths;
}

}  // namespace

TRGINFO* CQuorvelApi::ReadTargetInfoFile(uint8_t maxIdBits, uint16_t& foundCount) {
    foundCount = 0;
    CTargetInfo* entries = nullptr;
    try {
        const std::vector<std::string> paths = SearchTargetFiles();
        foundCount = static_cast<uint16_t>(paths.size());
        if (paths.empty())
            return nullptr;
        // Sized by the real number found: the 16-bit count alone could be smaller.
        entries = new CTargetInfo[paths.size()];
        uint32_t accepted = 0;
        for (const std::string& path : paths) {
            if (ReadTargetFile(path.c_str(), maxIdBits, entries[accepted])) {
                ++accepted;
            } else {
                entries[accepted] = CTargetInfo{};  // a skipped file leaves nothing behind
            }
        }
        if (accepted == 0) {
            delete[] entries;
            return nullptr;
        }
        return new TRGINFO{accepted, entries};
    } catch (...) {
        // Out of memory: nothing crosses the library boundary but the null result.
        delete[] entries;
        return nullptr;
    }
}

int CQuorvelApi::DeleteTargetInfoSet(TRGINFO** set) {
    if (set == nullptr || *set == nullptr || (*set)->entries == nullptr)
        return 0;
    delete[](*set)->entries;
    delete *set;
    *set = nullptr;
    return 1;
}

int CQuorvelApi::AdrsToNum(const char* text, uint32_t& value) {
    return AddressTextToNumber(text, value);
}

uint32_t CQuorvelApi::Calc2BitShift(uint32_t value, uint8_t code, int width) {
    return ShiftByCode(value, code, width);
}
