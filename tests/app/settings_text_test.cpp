#include <gtest/gtest.h>

#include <array>
#include <string>

#include "app/writer_settings.h"

namespace {

using Field = std::array<uint8_t, kByteFieldSize>;

Field Filled(uint8_t value) {
    Field f;
    f.fill(value);
    return f;
}

TEST(ParseHexBytes, RightAlignsShortValuesInTheRequestedLength) {
    Field f = Filled(0xAA);
    uint32_t length = 4;
    ASSERT_TRUE(ParseHexBytes("1234", f, length));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(FormatHexBytes(f, 4), "00001234");
    EXPECT_EQ(f[4], 0xAA) << "bytes beyond the requested length are not the parser's";

    length = 4;
    ASSERT_TRUE(ParseHexBytes("0x12H", f, length));
    EXPECT_EQ(FormatHexBytes(f, 4), "00000012");

    // Lower case, blanks around, a leading odd digit forming a byte alone.
    length = 3;
    ASSERT_TRUE(ParseHexBytes("  0Xabc\t", f, length));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(FormatHexBytes(f, 3), "000ABC");

    // Longer than requested: all bytes are stored, the count tells how many.
    length = 2;
    ASSERT_TRUE(ParseHexBytes("123456", f, length));
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(FormatHexBytes(f, 3), "123456");

    // "H" may stand anywhere and is dropped.
    length = 2;
    ASSERT_TRUE(ParseHexBytes("1H2H", f, length));
    EXPECT_EQ(FormatHexBytes(f, 2), "0012");
}

TEST(ParseHexBytes, RejectsBadTextWithoutTouchingTheField) {
    for (const char* bad : {"", "12G4", "12 34", "1:23", ":", "-1", "0x1.2"}) {
        Field f = Filled(0x5A);
        uint32_t length = 4;
        EXPECT_FALSE(ParseHexBytes(bad, f, length)) << '"' << bad << '"';
        EXPECT_EQ(length, 4u) << bad;
        EXPECT_EQ(f, Filled(0x5A)) << bad;
    }
}

TEST(ParseHexBytes, NeverWritesBeyondTheField) {
    std::array<uint8_t, 6> guarded{};
    guarded.fill(0xEE);
    std::span<uint8_t> field(guarded.data() + 1, 4);  // guard bytes at both ends

    uint32_t length = 4;
    EXPECT_FALSE(ParseHexBytes("0102030405", field, length)) << "five bytes in a four-byte field";
    length = 5;
    EXPECT_FALSE(ParseHexBytes("01", field, length)) << "requested length beyond the field";
    length = 4;
    EXPECT_TRUE(ParseHexBytes("01020304", field, length));
    EXPECT_EQ(guarded.front(), 0xEE);
    EXPECT_EQ(guarded.back(), 0xEE);

    // 256 bytes fit the settings fields, 257 do not.
    Field f{};
    length = 256;
    EXPECT_TRUE(ParseHexBytes(std::string(512, 'F'), f, length));
    EXPECT_EQ(length, 256u);
    length = 4;
    EXPECT_FALSE(ParseHexBytes(std::string(513, 'F'), f, length));
}

TEST(FormatHexBytes, UpperCaseFirstByteFirstAndBounded) {
    const std::array<uint8_t, 4> bytes = {0x00, 0x00, 0x12, 0x34};
    EXPECT_EQ(FormatHexBytes(bytes, 4), "00001234");
    EXPECT_EQ(FormatHexBytes(bytes, 0), "");
    EXPECT_EQ(FormatHexBytes(bytes, 9), "00001234") << "cut to the field";
    const std::array<uint8_t, 2> high = {0xAB, 0xCD};
    EXPECT_EQ(FormatHexBytes(high, 2), "ABCD");
}

TEST(LimitByteLength, KeepsLengthsInsideTheByteFields) {
    EXPECT_EQ(LimitByteLength(4), 4);
    EXPECT_EQ(LimitByteLength(256), 256);
    EXPECT_EQ(LimitByteLength(257), 256);
    EXPECT_EQ(LimitByteLength(0xFFFFFFFF), 256);
    EXPECT_EQ(LimitByteLength(0), 1);
}

}  // namespace
