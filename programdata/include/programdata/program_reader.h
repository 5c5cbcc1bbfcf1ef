#pragma once
// Intel HEX and Motorola S program files as the program reads them. These work on the whole
// text of a file (read once per pass); ProgramData supplies the text of its open files.
//
// Lines end at LF (a CR before it is dropped). A line counts only by its first character:
// ':' is a HEX record, 'S' an S record, anything else is skipped. Hexadecimal digits are read
// in either case; any other character counts as the digit 0, and so does every position past
// the end of the line, so a short line is read as if padded with '0' and never beyond its end.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "programdata/program_image.h"
#include "programdata/reporter.h"
#include "programdata/target_geometry.h"

namespace programdata {

struct ReadResult {
    bool ok = false;
    uint32_t lowestAddress = 0xFFFFFFFF;  // lowest data record address on file (no offset)
    uint32_t highestAddress = 0;          // highest image address of any data byte; 0 if none
};

struct AddressFlags {
    bool ok = false;
    bool noFlash = false;   // some byte lies where the target has no flash
    bool testArea = false;  // some byte lies in the test data area
};

enum class MarkResult { Marked, Collision, Failed };

// Places every data byte at offset + file address (32-bit, wrapping). Bytes above the flash
// limit or beyond the image are dropped but still count for the highest address. Format
// errors and the end checks are reported with fileName.
ReadResult ReadProgramText(std::string_view text, const std::string& fileName, int32_t offset,
                           const TargetGeometry& geometry, ProgramImage& image,
                           ProgramDataReporter& reporter);

// Flags for the data bytes at offset + file address. Fails only on a format error.
AddressFlags CheckProgramTextAddresses(std::string_view text, const std::string& fileName,
                                       int32_t offset, const TargetGeometry& geometry,
                                       ProgramDataReporter& reporter);

// Both of the above in one walk: the data placed at readOffset, the flags taken at checkOffset.
void ReadAndCheckProgramText(std::string_view text, const std::string& fileName, int32_t readOffset,
                             int32_t checkOffset, const TargetGeometry& geometry,
                             ProgramImage& image, ProgramDataReporter& reporter, ReadResult& read,
                             AddressFlags& flags);

// Marks offset + file address in map for every data byte whose file address lies in
// [start, end] and whose image address is not above mapLimit (nor beyond the map). Collision
// at the first address already marked; Failed on a format error (reported).
MarkResult MarkProgramTextAddresses(std::string_view text, const std::string& fileName,
                                    uint32_t start, uint32_t end, int32_t offset, uint32_t mapLimit,
                                    std::vector<uint8_t>& map, ProgramDataReporter& reporter);

// The image ranges of the data bytes (offset + file address), merged where they meet or
// overlap, in ascending order; an image address past 0xFFFFFFFF wraps to 0 as it does when
// read. False on a format error (reported).
bool CollectProgramTextRanges(std::string_view text, const std::string& fileName, int32_t offset,
                              ProgramDataReporter& reporter, std::vector<TargetArea>& ranges);

}  // namespace programdata
