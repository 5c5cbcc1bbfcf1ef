#include "programdata/address_text.h"

#include <cstdio>

namespace programdata {

namespace {

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
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string TrimmedUpper(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    std::string s = text.substr(b, e - b);
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

// The whole part must be hexadecimal (an empty part is 0) and not above max.
bool ConvertPart(const std::string& part, uint64_t max, uint64_t& value) {
    value = 0;
    for (char c : part) {
        int d = HexDigit(c);
        if (d < 0)
            return false;
        value = value * 16 + uint64_t(d);
        if (value > max)
            return false;
    }
    return true;
}

// A part that ends in 'H' is cut at its first 'H'.
std::string CutAtUnit(const std::string& part) {
    if (!part.empty() && part.back() == 'H')
        return part.substr(0, part.find('H'));
    return part;
}

}  // namespace

bool ParseAddressText(const std::string& text, uint32_t& value) {
    value = 0;
    if (text.empty())
        return false;
    std::string s = TrimmedUpper(text);
    if (s.compare(0, 2, "0X") == 0)
        s.erase(0, 2);
    for (char c : s)
        if (HexDigit(c) < 0 && c != ':' && c != 'H')
            return false;
    uint64_t bank = 0;
    std::string rest = s;
    size_t colon = s.find(':');
    if (colon != std::string::npos) {
        if (!ConvertPart(CutAtUnit(s.substr(0, colon)), 0xFF, bank))
            return false;
        rest = s.substr(colon + 1);
    }
    uint64_t offset = 0;
    if (!ConvertPart(CutAtUnit(rest), 0xFFFFFF, offset))
        return false;
    value = uint32_t(bank * 0x10000 + offset);
    return true;
}

bool ParseOffsetText(const std::string& text, int32_t& value) {
    value = 0;
    if (text.empty())
        return false;
    bool negative = false;
    std::string rest;
    char first = text[0];
    if (first == '+' || first == ' ') {
        rest = text.substr(1);
    } else if (first == '-') {
        negative = true;
        rest = text.substr(1);
    } else if (HexDigit(first) >= 0) {
        rest = text;
    } else {
        return false;
    }
    uint32_t magnitude = 0;
    if (!ParseAddressText(rest, magnitude))
        return false;
    value = int32_t(negative ? 0u - magnitude : magnitude);
    return true;
}

int32_t OffsetTextToNumber(const std::string& text) {
    std::string s = text;
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        s.erase(0, 1);
    } else if (!s.empty() && s[0] == '+') {
        s.erase(0, 1);
    }
    s = "00000000" + s;
    if (s.size() > 9)
        s = s.substr(s.size() - 9);
    auto half = [&s](size_t from) {
        uint32_t v = 0;
        for (size_t i = from; i < from + 4; ++i) {
            int d = i < s.size() ? HexDigit(s[i]) : 0;
            v = v * 16 + uint32_t(d < 0 ? 0 : d);
        }
        return v;
    };
    uint32_t v = half(0) * 0x10000 + half(4);
    return int32_t(negative ? 0u - v : v);
}

std::string FormatAddressColumn(uint32_t address) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%05XH", unsigned(address));
    return buffer;
}

std::string FormatOffsetColumn(int32_t offset) {
    uint32_t u = uint32_t(offset);
    char sign = offset > 0 ? '+' : offset < 0 ? '-' : ' ';
    uint32_t magnitude = offset < 0 ? 0u - u : u;
    return sign + FormatAddressColumn(magnitude);
}

std::string FormatFlashStartColumn(uint32_t start, int32_t offset) {
    return FormatAddressColumn(start + uint32_t(offset));
}

bool ParseAddressColumn(const std::string& text, uint32_t& value) {
    if (ParseAddressText(text, value))
        return true;
    std::string s = TrimmedUpper(text);
    if (!s.empty() && s.back() == 'H')
        s.pop_back();
    uint64_t v = 0;
    if (s.empty() || !ConvertPart(s, 0xFFFFFFFF, v))
        return false;
    value = uint32_t(v);
    return true;
}

bool ParseOffsetColumn(const std::string& text, int32_t& value) {
    if (ParseOffsetText(text, value))
        return true;
    value = 0;
    if (text.empty() || (text[0] != '+' && text[0] != '-' && text[0] != ' '))
        return false;
    uint32_t magnitude = 0;
    if (!ParseAddressColumn(text.substr(1), magnitude))
        return false;
    value = int32_t(text[0] == '-' ? 0u - magnitude : magnitude);
    return true;
}

}  // namespace programdata
