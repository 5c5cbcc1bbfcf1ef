// The text conversions of the settings file, free of any file access.
#include <algorithm>
#include <cctype>
#include <vector>

#include "app/writer_settings.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

bool ParseHexBytes(std::string_view text, std::span<uint8_t> field, uint32_t& length) {
    if (text.empty())
        return false;
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    std::string digits;
    for (size_t i = first; i < last; ++i)
        digits.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[i]))));
    if (digits.starts_with("0X"))
        digits.erase(0, 2);
    for (char c : digits)
        if (HexDigit(c) < 0 && c != ':' && c != 'H')
            return false;
    std::erase(digits, 'H');

    const size_t count = (digits.size() + 1) / 2;
    const size_t requested = length;
    if (std::max(count, requested) > field.size())
        return false;

    // Pairs from the right; a leading odd digit forms the first byte alone.
    std::vector<uint8_t> bytes(count);
    size_t end = digits.size();
    for (size_t k = count; k-- > 0;) {
        size_t begin = end >= 2 ? end - 2 : 0;
        int value = 0;
        for (size_t i = begin; i < end; ++i) {
            int d = HexDigit(digits[i]);
            if (d < 0)
                return false;
            value = value * 16 + d;
        }
        bytes[k] = static_cast<uint8_t>(value);
        end = begin;
    }

    size_t lead = count < requested ? requested - count : 0;
    std::fill(field.begin(), field.begin() + lead, uint8_t{0});
    std::copy(bytes.begin(), bytes.end(), field.begin() + lead);
    length = static_cast<uint32_t>(count);
    return true;
}

std::string FormatHexBytes(std::span<const uint8_t> bytes, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    length = std::min(length, bytes.size());
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

uint16_t LimitByteLength(uint32_t stored) {
    return static_cast<uint16_t>(std::clamp<uint32_t>(stored, 1, kByteFieldSize));
}

int CompareSerialNumbers(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t length) {
    length = std::min({length, a.size(), b.size()});
    for (size_t k = 0; k < length; ++k)
        if (a[k] != b[k])
            return a[k] < b[k] ? -1 : 1;
    return 0;
}

bool AddSerialIncrement(std::span<uint8_t> serial, size_t serialLength,
                        std::span<const uint8_t> increment, size_t incrementLength) {
    serialLength = std::min(serialLength, serial.size());
    incrementLength = std::min(incrementLength, increment.size());
    // Both are numbers with their most significant byte first: they line up at their last
    // byte, so an increment of 0001 adds one whatever the serial number's length.
    unsigned carry = 0;
    size_t s = serialLength, i = incrementLength;
    while (s > 0) {
        --s;
        const unsigned add = i > 0 ? increment[--i] : 0;
        const unsigned sum = serial[s] + add + carry;
        serial[s] = uint8_t(sum);
        carry = sum >> 8;
    }
    // Increment digits above the serial number's length wrap it as a carry would.
    bool overflow = carry != 0;
    while (i > 0)
        overflow = overflow || increment[--i] != 0;
    std::fill(serial.begin() + serialLength, serial.end(), uint8_t{0});
    return overflow;
}

int CountOffSerialNumbers(std::span<const uint8_t> first, int count, uint16_t length,
                          std::span<const uint8_t> increment, uint16_t incrementLength,
                          std::array<uint8_t, kByteFieldSize>& next, bool& nextWrapped,
                          std::vector<std::string>* numbers) {
    next = {};
    std::copy_n(first.begin(), std::min(first.size(), next.size()), next.begin());
    nextWrapped = false;
    int wrapsAt = 0;
    for (int board = 1; board <= count; ++board) {
        if (nextWrapped && wrapsAt == 0)
            wrapsAt = board;
        if (numbers != nullptr)
            numbers->push_back(FormatHexBytes(next, length));
        nextWrapped = AddSerialIncrement(next, length, increment, incrementLength);
    }
    return wrapsAt;
}
