#pragma once
// Address and offset texts: what the operator types and what the file list's columns hold.
// The column texts are the stored form read back by Write, Verify, the duplicate checks and
// the checksum, and written to the settings file, so their formats must not change.
#include <cstdint>
#include <string>

namespace programdata {

// "1:2345H", "0x12345", "12345" ...: an optional bank before ':' (at most 0xFF), then at most
// 0xFFFFFF; result bank * 0x10000 + rest. False (value 0) for anything else.
bool ParseAddressText(const std::string& text, uint32_t& value);
// A leading '+', ' ' or '-' (or a hexadecimal digit, meaning '+'), then an address text.
bool ParseOffsetText(const std::string& text, int32_t& value);
// The settings file's offset text (an "Offset" column as stored): sign, then the last eight
// characters before the unit suffix as two 16-bit hexadecimal halves; any other character
// counts as the digit 0, so this never fails.
int32_t OffsetTextToNumber(const std::string& text);

// Column texts of the file list.
std::string FormatAddressColumn(uint32_t address);                   // "%05lXH"
std::string FormatOffsetColumn(int32_t offset);                      // "+%05lXH", "-…", " …"
std::string FormatFlashStartColumn(uint32_t start, int32_t offset);  // 32-bit sum, "%05lXH"

// Read a column back. Everything ParseAddressText/ParseOffsetText accept gives the same value;
// in addition the columns' own full 32-bit form ("1000000H", "-1000000H") is accepted, which
// the field parsers refuse above 0xFFFFFF.
bool ParseAddressColumn(const std::string& text, uint32_t& value);
bool ParseOffsetColumn(const std::string& text, int32_t& value);

}  // namespace programdata
