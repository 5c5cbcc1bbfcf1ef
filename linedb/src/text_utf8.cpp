#include "text_utf8.h"

namespace linedb {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed sequence at s[0], or 0.
size_t SequenceLength(const unsigned char* s, size_t n) {
    const unsigned char c = s[0];
    if (c >= 0x01 && c < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = c == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < length || s[1] < low || s[1] > high)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if (s[k] < 0x80 || s[k] > 0xBF)
            return 0;
    return length;
}

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = SequenceLength(s + i, bytes.size() - i);
        if (length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        out.append(bytes.data() + i, length);
        i += length;
    }
    return out;
}

bool PlainUtf8(std::string_view bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return ValidUtf8(bytes) == bytes;
}

}  // namespace linedb
