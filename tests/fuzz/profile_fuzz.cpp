// The private-profile functions on arbitrary file content: every key reads within its buffer,
// the name lists match the file, the integer reader agrees with the string reader, and one
// write (or removal) chosen by the input changes exactly that key and nothing else.
//
// Input: the value and a new name are taken from the front, the selectors from the back
// (FuzzedDataProvider), and what remains in between is the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "platform/private_profile.h"
#include "platform/profile_text.h"

namespace {

using plat::profile::NamesEqual;

constexpr size_t kMaxSections = 32;
constexpr size_t kMaxKeys = 32;
constexpr uint32_t kBig = 1 << 16;

const fuzz::ScratchDir& Scratch() {
    static fuzz::ScratchDir dir;
    return dir;
}

std::string ReadAll(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

bool HasNul(std::string_view s) {
    return s.find('\0') != std::string_view::npos;
}

bool IsLineSpace(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

// What a reader gives for an entry line "key=value": trimmed, one outer quote pair removed.
std::string ReadBackOf(std::string_view value) {
    size_t b = 0, e = value.size();
    while (b < e && IsLineSpace(value[b]))
        ++b;
    while (e > b && IsLineSpace(value[e - 1]))
        --e;
    return std::string(plat::profile::Unquote(value.substr(b, e - b)));
}

// The integer rule, written out again: sign, "0x", digits modulo 2^32; empty means default.
uint32_t ExpectedInt(const std::optional<std::string>& value, int defaultValue) {
    if (!value || value->empty())
        return static_cast<uint32_t>(defaultValue);
    const std::string& s = *value;
    size_t i = 0;
    while (i < s.size() && std::strchr(" \t\v\f\r\n", s[i]) != nullptr && s[i] != '\0')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    uint32_t base = 10;
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    uint32_t v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = static_cast<uint32_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<uint32_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<uint32_t>(c - 'A' + 10);
        else
            break;
        v = v * base + d;
    }
    return negative ? 0u - v : v;
}

// Every readable (section, key) of the file and its value, through the reader under test.
using Values = std::map<std::pair<std::string, std::string>, std::optional<std::string>>;

// Names reachable through the C interface: no NUL inside, and unchanged by the caller-side
// trimming of spaces (the file's own names are already trimmed of line space).
std::vector<std::string> Addressable(const std::vector<std::string_view>& names) {
    std::vector<std::string> out;
    for (std::string_view n : names) {
        if (HasNul(n) || plat::profile::TrimCallerName(n) != n)
            continue;
        bool dup = false;
        for (const std::string& o : out)
            dup = dup || NamesEqual(o, n);
        if (!dup)
            out.emplace_back(n);
    }
    return out;
}

// Splits a name list (NUL after each name, one more NUL at the end) of result length n.
std::vector<std::string> SplitList(const char* buffer, uint32_t n) {
    std::vector<std::string> names;
    size_t b = 0;
    for (size_t i = 0; i < n; ++i) {
        if (buffer[i] == '\0') {
            names.emplace_back(buffer + b, i - b);
            b = i + 1;
        }
    }
    return names;
}

// The list the reader must give: every name, NUL-terminated, in file order.
std::vector<std::string> JoinedAndSplit(const std::vector<std::string_view>& names) {
    std::string joined;
    for (std::string_view n : names) {
        joined.append(n);
        joined.push_back('\0');
    }
    return SplitList(joined.data(), static_cast<uint32_t>(joined.size()));
}

std::optional<std::string> ReadValue(const plat::PrivateProfileSnapshot& snap, const std::string& s,
                                     const std::string& k) {
    static std::vector<char> buffer(kBig);
    // No value holds a line break, so this default never passes for one.
    const char kMissing[] = "\nmissing";
    const uint32_t n = snap.GetString(s.c_str(), k.c_str(), kMissing, buffer.data(), kBig);
    FUZZ_CHECK(n < kBig && buffer[n] == '\0');
    std::string v(buffer.data(), n);
    if (v == kMissing)
        return std::nullopt;
    return v;
}

Values ReadEverything(const std::string& path, std::vector<std::string>& sections) {
    const std::string text = ReadAll(path);
    std::vector<std::string_view> sectionNames;
    plat::profile::ForEachSectionName(text, [&](std::string_view n) {
        sectionNames.push_back(n);
        return true;
    });

    // The section list through the reader equals the file's headers.
    static std::vector<char> list(kBig);
    uint32_t n =
        plat::GetPrivateProfileStringA(nullptr, nullptr, "", list.data(), kBig, path.c_str());
    if (text.size() < kBig / 2) {
        FUZZ_CHECK(SplitList(list.data(), n) == JoinedAndSplit(sectionNames));
    }

    const plat::PrivateProfileSnapshot snap(path.c_str());
    Values values;
    sections = Addressable(sectionNames);
    if (sections.size() > kMaxSections)
        sections.resize(kMaxSections);
    for (const std::string& s : sections) {
        std::vector<std::string_view> keyNames;
        plat::profile::ForEachKeyName(text, s, [&](std::string_view k) {
            keyNames.push_back(k);
            return true;
        });
        n = snap.GetString(s.c_str(), nullptr, "", list.data(), kBig);
        if (text.size() < kBig / 2) {
            FUZZ_CHECK(SplitList(list.data(), n) == JoinedAndSplit(keyNames));
        }
        std::vector<std::string> keys = Addressable(keyNames);
        if (keys.size() > kMaxKeys)
            keys.resize(kMaxKeys);
        for (const std::string& k : keys) {
            auto v = ReadValue(snap, s, k);
            FUZZ_CHECK(v.has_value());  // a listed key is found
            FUZZ_CHECK(snap.GetInt(s.c_str(), k.c_str(), 7) == ExpectedInt(v, 7));
            values[{s, k}] = v;
        }
    }
    return values;
}

// Every key read before the edit, except the one edited, reads the same afterwards.
void CheckOthersKept(const Values& before, const Values& after, const std::string& section,
                     const std::optional<std::string>& key) {
    for (const auto& [sk, v] : before) {
        if (NamesEqual(sk.first, section) && (!key || NamesEqual(sk.second, *key)))
            continue;
        auto it = after.find(sk);
        FUZZ_CHECK(it != after.end());
        FUZZ_CHECK(it->second == v);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t op = in.ConsumeIntegral<uint8_t>();
    const uint8_t sectionPick = in.ConsumeIntegral<uint8_t>();
    const uint8_t keyPick = in.ConsumeIntegral<uint8_t>();
    const uint32_t smallSize = in.ConsumeIntegralInRange<uint32_t>(0, 40);
    std::string value = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 64));
    std::string newName = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 16));
    const std::string content = in.ConsumeRemainingBytesAsString();
    for (char& c : value)
        if (c == '\0')
            c = ' ';
    for (char& c : newName)
        if (c == '\0')
            c = '_';

    const std::string path = Scratch().path() + "/f.ini";
    fuzz::WriteFile(path, content);

    std::vector<std::string> sections;
    const Values before = ReadEverything(path, sections);

    // A small buffer cuts the value and still terminates it.
    if (!before.empty()) {
        auto it = before.begin();
        std::advance(it, keyPick % before.size());
        char small[41];
        std::memset(small, 0x7E, sizeof small);
        const uint32_t n = plat::GetPrivateProfileStringA(
            it->first.first.c_str(), it->first.second.c_str(), "", small, smallSize, path.c_str());
        const std::string& v = *it->second;
        if (smallSize == 0) {
            FUZZ_CHECK(n == 0 && small[0] == 0x7E);
        } else {
            FUZZ_CHECK(n == std::min<size_t>(v.size(), smallSize - 1));
            FUZZ_CHECK(std::memcmp(small, v.data(), n) == 0 && small[n] == '\0');
            FUZZ_CHECK(static_cast<unsigned char>(small[smallSize]) == 0x7E);
        }
    }

    // The key to edit: an existing section and key, or the new name for either.
    std::string section =
        sections.empty() || (op & 1) ? newName : sections[sectionPick % sections.size()];
    std::string key = newName;
    if (!(op & 2)) {
        uint8_t skip = keyPick;
        for (const auto& [sk, v] : before) {
            if (NamesEqual(sk.first, section) && skip-- == 0) {
                key = sk.second;
                break;
            }
        }
    }
    const int action = (op >> 2) % 4;  // 0, 1: set; 2: remove the key; 3: remove the section
    const char* keyArg = action == 3 ? nullptr : key.c_str();
    const char* valueArg = action >= 2 ? nullptr : value.c_str();

    const bool ok =
        plat::WritePrivateProfileStringA(section.c_str(), keyArg, valueArg, path.c_str());
    const std::string after = ReadAll(path);
    if (!ok) {
        FUZZ_CHECK(after == content);  // a refused write leaves the file as it was
        return 0;
    }
    std::vector<std::string> sectionsAfter;
    const Values valuesAfter = ReadEverything(path, sectionsAfter);
    const std::string s = std::string(plat::profile::TrimCallerName(section));
    const std::string k = std::string(plat::profile::TrimCallerName(key));
    const char kMissing[] = "\nmissing";
    char buffer[256];
    const uint32_t n = plat::GetPrivateProfileStringA(
        s.c_str(), action == 3 ? k.c_str() : keyArg, kMissing, buffer, sizeof buffer, path.c_str());
    const std::string readBack(buffer, n);
    if (action < 2) {
        // A set key reads back as written, as the reader shows any value.
        FUZZ_CHECK(readBack == ReadBackOf(value).substr(0, sizeof buffer - 1));
    } else {
        FUZZ_CHECK(readBack == kMissing);
    }
    CheckOthersKept(before, valuesAfter, s,
                    action == 3 ? std::nullopt : std::optional<std::string>(k));
    return 0;
}
