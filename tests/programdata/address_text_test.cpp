#include "programdata/address_text.h"

#include <gtest/gtest.h>

#include <climits>

using namespace programdata;

namespace {

uint32_t Address(const std::string& text) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_TRUE(ParseAddressText(text, v)) << text;
    return v;
}

int32_t Offset(const std::string& text) {
    int32_t v = 0x5A5A;
    EXPECT_TRUE(ParseOffsetText(text, v)) << text;
    return v;
}

TEST(AddressText, BankRestPrefixAndUnit) {
    EXPECT_EQ(Address("0x1:2345H"), 0x12345u);
    EXPECT_EQ(Address("0FFFFH"), 0xFFFFu);
    EXPECT_EQ(Address("1:2000H"), 0x12000u);
    EXPECT_EQ(Address("0x1000"), 0x1000u);
    EXPECT_EQ(Address("1000"), 0x1000u);
    EXPECT_EQ(Address("1:"), 0x10000u);
    EXPECT_EQ(Address("  ab  "), 0xABu);
    EXPECT_EQ(Address("FF:FFFFFF"), 0x1FEFFFFu);  // the rest may reach past its bank
    EXPECT_EQ(Address("1H2H:3"), 0x10003u);       // a bank ending in H is cut at its first H
    EXPECT_EQ(Address("FFFFFFH"), 0xFFFFFFu);

    uint32_t v = 7;
    for (const char* bad : {"", "100:0", "12G", "1000000", "1H2:3", "1:2:3", "1 2", "-1", "0x"}) {
        bool ok = ParseAddressText(bad, v);
        if (std::string(bad) == "0x") {
            EXPECT_TRUE(ok);  // nothing left after the prefix reads as 0
            EXPECT_EQ(v, 0u);
        } else {
            EXPECT_FALSE(ok) << bad;
        }
    }
}

TEST(OffsetText, SignFromTheFirstCharacterAsTyped) {
    EXPECT_EQ(Offset(" 00100H"), 0x100);
    EXPECT_EQ(Offset("-1F"), -0x1F);
    EXPECT_EQ(Offset("+00100H"), 0x100);
    EXPECT_EQ(Offset("a0"), 0xA0);
    EXPECT_EQ(Offset("-01000H"), -0x1000);
    int32_t v = 0;
    for (const char* bad : {"x10", "", "+", " ", "H10", "--1", "+1000000"})
        EXPECT_FALSE(ParseOffsetText(bad, v)) << bad;
}

TEST(OffsetText, SettingsRestoreReadsTheLastEightDigits) {
    EXPECT_EQ(OffsetTextToNumber("-01000H"), -4096);
    EXPECT_EQ(OffsetTextToNumber("+FFFFFH"), 0xFFFFF);
    EXPECT_EQ(OffsetTextToNumber(" 12345H"), 0x12345);
    EXPECT_EQ(OffsetTextToNumber(""), 0);
    EXPECT_EQ(OffsetTextToNumber("+zz000H"), 0);
    EXPECT_EQ(static_cast<uint32_t>(OffsetTextToNumber("-01000H")), 0xFFFFF000u);
    EXPECT_EQ(OffsetTextToNumber("+0ffffH"), 0xFFFF);
    EXPECT_EQ(OffsetTextToNumber("-FFFFFFFFH"), 1) << "eight digits wrap in 32 bits";
    EXPECT_EQ(OffsetTextToNumber("+1234567890H"), 0x34567890) << "only the last eight digits";
    EXPECT_EQ(OffsetTextToNumber("+0x100H"), 0x100) << "other characters count as 0";
}

TEST(Columns, FormatsReadBackThroughTheColumnParsersAndTheSettingsRestore) {
    EXPECT_EQ(FormatAddressColumn(0), "00000H");
    EXPECT_EQ(FormatAddressColumn(0x12345), "12345H");
    EXPECT_EQ(FormatAddressColumn(0xFFFFFFFF), "FFFFFFFFH");
    EXPECT_EQ(FormatOffsetColumn(0), " 00000H");
    EXPECT_EQ(FormatOffsetColumn(-0x1000), "-01000H");
    EXPECT_EQ(FormatOffsetColumn(0x100), "+00100H");
    EXPECT_EQ(FormatOffsetColumn(INT32_MIN), "-80000000H");
    EXPECT_EQ(FormatFlashStartColumn(0x10, -0x100), "FFFFFF10H");
    EXPECT_EQ(FormatFlashStartColumn(0x2000, 0x100), "02100H");

    for (int32_t offset :
         {0, 1, -1, 0x100, -0x1000, 0xFFFFFF, 0x1000000, -0x1FEFFFF, INT32_MAX, INT32_MIN}) {
        std::string text = FormatOffsetColumn(offset);
        int32_t back = 0;
        EXPECT_TRUE(ParseOffsetColumn(text, back)) << text;
        EXPECT_EQ(back, offset) << text;
        EXPECT_EQ(OffsetTextToNumber(text), offset) << text;
    }
    for (uint32_t address : {0u, 0xFFFFFFu, 0x1000000u, 0xFFFFFFFFu}) {
        uint32_t back = 1;
        EXPECT_TRUE(ParseAddressColumn(FormatAddressColumn(address), back));
        EXPECT_EQ(back, address);
    }
    uint32_t v = 0;
    EXPECT_FALSE(ParseAddressColumn("100000000H", v));
}

}  // namespace
