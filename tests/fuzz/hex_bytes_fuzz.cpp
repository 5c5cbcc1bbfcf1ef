// ParseHexBytes on arbitrary text (SERIALNUM, SERIALNUMINC and SECUREID of the settings file,
// and what the operator types), with any requested length and field size. The field is an
// exact-size heap block so that AddressSanitizer sees any write past it; a refusal must leave
// it untouched, and an accepted text must give exactly its digits, right-aligned.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/writer_settings.h"
#include "fuzz_support.h"

namespace {

// The digits the text stands for: trimmed, upper case, without "0X" and the 'H's. Empty when
// some character is not allowed.
std::string Digits(const std::string& text, bool& allowed) {
    const char* blanks = " \t\r\n\v\f";
    const size_t b = text.find_first_not_of(std::string(blanks, 6));
    allowed = true;
    if (b == std::string::npos)
        return {};
    const size_t e = text.find_last_not_of(std::string(blanks, 6));
    std::string s;
    for (size_t i = b; i <= e; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        s.push_back(c);
    }
    if (s.rfind("0X", 0) == 0)
        s.erase(0, 2);
    std::string digits;
    for (char c : s) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (!hex && c != ':' && c != 'H')
            allowed = false;
        if (c != 'H')
            digits.push_back(c);
    }
    return digits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // The real fields hold 256 bytes; smaller ones check the bound itself.
    const size_t fieldSize =
        in.ConsumeBool() ? kByteFieldSize : in.ConsumeIntegralInRange<size_t>(0, 300);
    const uint32_t requested = in.ConsumeIntegralInRange<uint32_t>(0, 320);
    const std::string text = in.ConsumeRemainingBytesAsString();

    std::unique_ptr<uint8_t[]> field(new uint8_t[fieldSize == 0 ? 1 : fieldSize]);
    std::fill_n(field.get(), fieldSize, uint8_t{0xA5});
    std::span<uint8_t> span(field.get(), fieldSize);
    uint32_t length = requested;
    const bool ok = ParseHexBytes(text, span, length);

    if (!ok) {
        FUZZ_CHECK(length == requested);
        FUZZ_CHECK(
            std::all_of(field.get(), field.get() + fieldSize, [](uint8_t b) { return b == 0xA5; }));
        return 0;
    }
    bool allowed = false;
    std::string digits = Digits(text, allowed);
    FUZZ_CHECK(allowed && !text.empty());
    FUZZ_CHECK(digits.find(':') == std::string::npos);
    const size_t count = (digits.size() + 1) / 2;
    FUZZ_CHECK(length == count);
    FUZZ_CHECK(std::max<size_t>(count, requested) <= fieldSize);

    const size_t lead = count < requested ? requested - count : 0;
    FUZZ_CHECK(std::all_of(field.get(), field.get() + lead, [](uint8_t b) { return b == 0; }));
    if (digits.size() % 2 != 0)
        digits.insert(digits.begin(), '0');
    FUZZ_CHECK(FormatHexBytes(std::span<const uint8_t>(field.get() + lead, count), count) ==
               digits);
    // Nothing beyond the parsed bytes is touched.
    FUZZ_CHECK(std::all_of(field.get() + lead + count, field.get() + fieldSize,
                           [](uint8_t b) { return b == 0xA5; }));
    return 0;
}
