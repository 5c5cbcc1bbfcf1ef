#include "programdata/string_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

const std::string A =
    "The Quorvel Flash Writer may be malfunctioning.\nCheck the connection, and then restart "
    "Quorvel and the Vexil.\n";
const std::string B =
    "Failed to access the target LSI.\nCheck the user target system connected to the Vexil.\n";
const std::string C = "Failed to communicate with the Vexil.\nCheck the connection.\n";
const std::string D = "Internal Quorvel error.\n";

// Every numbered text the operator can meet, typed in independently of the table.
const std::map<uint32_t, std::string>& Expected() {
    static const std::map<uint32_t, std::string> expected = {
        {104, "Quorvel Version Information..."},
        {105, "Quorvel   Multiple Flash Writer"},
        {106, "Select File to write"},
        {107, "%1 is already registered in File List."},
        {109, "Intel HEX file(*.hex)|*.hex|Motorola S file(*.s)|*.s|All files(*.*)|*.*|"},
        {110, A},
        {111, A},
        {112, A},
        {113, A},
        {114, "File Name"},
        {115, "Start Address"},
        {116, "Offset"},
        {117, "End Address"},
        {118, A},
        {119, B},
        {121, A},
        {131, B},
        {137, B},
        {139, "A wrong value was input to the \"Security ID\" entry field."},
        {141, C},
        {142, B},
        {143, B},
        {144, A},
        {145, B},
        {146, "Different target LSI."},
        {148, A},
        {149, B},
        {153, "Error acquiring firmware version."},
        {154, "Different firmware version."},
        {155, "OK"},
        {161, "Save log"},
        {162, "Log file(*.log)|*.log|All files(*.*)|*.*|"},
        {163, "Flash memory write address is a duplication of an address of a registered file."},
        {165, "Activation was canceled because the TRG files were not found."},
        {176, "differences were detected. "},
        {177, "Processing was stopped before this target was done."},
        {186, "Please confirm connection to the target system."},
        {187, "Please update New Firmware.  "},
        {188, "Do you want to exit Quorvel?"},
        {193, "Vexil is not connected. Check the connection."},
        {204, "Flash Start"},
        {205, "Enable"},
        {206, "Target No."},
        {207, "Status"},
        {208, "Serial No."},
        {209, "Save Program Memory"},
        {210, "Intel HEX file(*.hex)|*.hex|"},
        {211, "Do you want to cancel the present processing?"},
        {217, "Command file(*.cd8)|*.cd8|All files(*.*)|*.*|"},
        {218, "Set Command File"},
        {2001, "An illegal value was input to the \"Flash Memory Offset\" entry field."},
        {2007, "An illegal end record was found in %1."},
        {2008, "A checksum error occurred in %1."},
        {2009, "A checksum error occurred in %1."},
        {2010, "An invalid end record was found in %1."},
        {2011, "No valid end record was found in %1."},
        {2012, "No valid data record was found in %1."},
        {2013, "%1 could not be opened."},
        {2021, "The format of %1 is illegal."},
        {2023, "Data record having duplicate addresses was found included in %1."},
        {2024, "Internal Quorvel error.\n(Error code:2024)"},
        {2025, "Internal Quorvel error.\n(Error code:2025)"},
        {2026, "Internal Quorvel error.\n(Error code:2026)"},
        {2032, B},
        {2035, C},
        {2036, C},
        {2037, A},
        {2038, A},
        {2039, "Vexil is not connected. Check the connection."},
        {2040, D},
        {2041, D},
        {2042, D},
        {2043, D},
        {2044, D},
        {2045, D},
        {2046, D},
        {2047, D},
        {2050, A},
        {2051, A},
        {2052, "Security ID Check"},
        {2053, "Cannot write log file."},
        {2055, "Cannot plug too many Vexils."},
        {2056, "Cannot open log file. The present processing was canceled."},
        {2057, "Cannot close log file."},
        {2058, "Cannot open the hex file. The present processing was canceled."},
        {2059, "Cannot write the hex file."},
        {2060, "Cannot close the hex file."},
        {2061, "No enable targets"},
        {2062, "An illegal value was input to the \"Starting Serial Number\" entry field."},
        {2063, "An illegal value was input to the \"Start Address\" entry field."},
        {2064, "Cannot omit any enrty fields."},
        {2065, "An illegal value was input to the \"Incremental Value\" entry field."},
        {2066,
         "Serial number has overflowed.\nPush on OK button opens the Serialization dialog.\n"
         "Push on Cancel button unplugs all targets."},
        {2067,
         "Serial number write address is specified on the area where Flash memory is not "
         "implemented."},
        {2069,
         "Serial number write address overlaps with an address of registered files. "
         "Continue?"},
        {2072, "Cannot write to the QUORVEL.INI file."},
        {2073, "Command error : %1"},
        {2075, "%1 could not be opened."},
        {2077, "Several TRG files with the version not supported were skipped."},
        {2078,
         "Activation was canceled because the TRG files were not read.\nSeveral TRG files with "
         "the version not supported were skipped."},
        {2079, "Specified target device is not supported."},
        {2080, "Write data include address where Flash memory is not built in."},
        {2090,
         "Activation was canceled because the path of the Quorvel program is too long.\nMove "
         "Quorvel to a folder with a shorter path."},
        {2091,
         "Access to the Vexil adapters was denied: a program with higher rights (run as "
         "administrator) holds the \"Vexil\" mutex.\nClose that program, or run Quorvel with "
         "the same rights."},
        {2101, "Cannot write the production record file %1."},
        {2102, "Production record file"},
        {2103, "Record file(*.csv)|*.csv|All files(*.*)|*.*|"},
        {2104, "Do you want to reset the yield counters?"},
        {2105, "Cannot write the yield counters file %1."},
        {2106,
         "%1 Vexil adapters were found where %2 were expected.\nCheck the fixture: nothing was "
         "plugged or written."},
        {2120,
         "The settings file names a line database (LINEDB), but this build of Quorvel has none.\n"
         "Clear LINEDB to work as a station on its own."},
        {2121, "The line database setting cannot be used: %1\nNothing was written."},
        {2122,
         "The line database cannot be reached, so no board got a serial number and nothing was "
         "written.\n%1"},
        {2123,
         "The line database has no tables of this version: %1\nRun \"quorvel-cli line init\" "
         "first. Nothing was written."},
        {2124,
         "The line database has no serial pool %1.\nRun \"quorvel-cli line init\" to create it. "
         "Nothing was written."},
        {2125,
         "The serial pool does not fit this station's serial numbers: %1\nNothing was "
         "written."},
        {2126, "Cannot keep the line's record rows in the outbox file %1."},
        {2127, "The line database refused to hand out serial numbers: %1\nNothing was written."},
        {2128, "The line database refused rows of the production record: %1"},
        {2129, "The serial pool was not moved: %1"},
    };
    return expected;
}

TEST(StringTable, HoldsExactlyTheNumberedTextsOfTheSystem) {
    for (const auto& [id, text] : Expected())
        EXPECT_EQ(GetStringText(id), text) << "id " << id;

    // Nothing beyond them: an extra entry would be a mistyped id.
    std::set<uint32_t> ids;
    for (const StringTableEntry& e : StringTableEntries()) {
        EXPECT_TRUE(Expected().count(e.id)) << "unexpected id " << e.id;
        EXPECT_TRUE(ids.insert(e.id).second) << "duplicate id " << e.id;
    }
    EXPECT_EQ(ids.size(), Expected().size());
}

TEST(StringTable, NamedIdsCarryTheirNumbers) {
    EXPECT_EQ(IDS_TRG_NOT_FOUND, 165u);
    EXPECT_EQ(IDS_TRG_NONE_READ, 2078u);
    EXPECT_EQ(IDS_TRG_SOME_SKIPPED, 2077u);
    EXPECT_EQ(IDS_CONFIRM_EXIT, 188u);
    EXPECT_EQ(IDS_INI_WRITE_FAILED, 2072u);
    EXPECT_EQ(IDS_ADAPTER_NOT_CONNECTED, 2039u);
    EXPECT_EQ(IDS_STATUS_4000 + 7, IDS_STATUS_4007);
}

TEST(StringTable, UnknownIdsGiveAnEmptyText) {
    for (uint32_t id : {0u, 1u, 103u, 108u, 120u, 2000u, 2049u, 2054u, 2081u, 0xFFFFFFFFu})
        EXPECT_TRUE(GetStringText(id).empty()) << "id " << id;
    EXPECT_EQ(FormatStringText(2054, "x"), "");
}

TEST(StringTable, FormatPutsTheFileNameInPlaceOfThePlaceholder) {
    EXPECT_EQ(FormatStringText(IDS_FILE_OPEN_FAILED, "/data/a b.hex"),
              "/data/a b.hex could not be opened.");
    EXPECT_EQ(FormatStringText(IDS_COMMAND_ERROR, "WRITE VERIFY"), "Command error : WRITE VERIFY");
    // A name that itself holds "%1" is not expanded again.
    EXPECT_EQ(FormatStringText(IDS_ILLEGAL_FORMAT, "%1.hex"), "The format of %1.hex is illegal.");
    // Texts without a placeholder stay as they are.
    EXPECT_EQ(FormatStringText(IDS_CONFIRM_EXIT, "x"), "Do you want to exit Quorvel?");
    // Two numbers, each in its place; a first that holds "%2" is not expanded.
    EXPECT_EQ(FormatStringText(IDS_TARGET_COUNT_MISMATCH, "3", "4").substr(0, 47),
              "3 Vexil adapters were found where 4 were expect");
    EXPECT_EQ(FormatStringText(IDS_TARGET_COUNT_MISMATCH, "%2", "4").substr(0, 3), "%2 ");
}

}  // namespace
