#include "programdata/string_table.h"

#include <algorithm>
#include <array>

namespace {

// Shared texts of the status-code table: several codes explain themselves the same way.
constexpr const char* kMalfunction =
    "The Quorvel Flash Writer may be malfunctioning.\nCheck the connection, and then restart "
    "Quorvel and the Vexil.\n";
constexpr const char* kTargetAccess =
    "Failed to access the target LSI.\nCheck the user target system connected to the Vexil.\n";
constexpr const char* kCommunication =
    "Failed to communicate with the Vexil.\nCheck the connection.\n";
constexpr const char* kInternal = "Internal Quorvel error.\n";
constexpr const char* kNotConnected = "Vexil is not connected. Check the connection.";
constexpr const char* kCouldNotOpen = "%1 could not be opened.";
constexpr const char* kChecksumError = "A checksum error occurred in %1.";

constexpr std::array kEntries = std::to_array<StringTableEntry>({
    {IDS_ABOUTBOX, "Quorvel Version Information..."},
    {IDS_MAIN_TITLE, "Quorvel   Multiple Flash Writer"},
    {IDS_SELECT_PROGRAM_FILE_TITLE, "Select File to write"},
    {IDS_FILE_ALREADY_REGISTERED, "%1 is already registered in File List."},
    {IDS_PROGRAM_FILE_FILTER,
     "Intel HEX file(*.hex)|*.hex|Motorola S file(*.s)|*.s|All files(*.*)|*.*|"},
    {IDS_STATUS_6000, kMalfunction},
    {IDS_STATUS_6001, kMalfunction},
    {IDS_STATUS_6002, kMalfunction},
    {IDS_STATUS_6003, kMalfunction},
    {IDS_COLUMN_FILE_NAME, "File Name"},
    {IDS_COLUMN_START_ADDRESS, "Start Address"},
    {IDS_COLUMN_OFFSET, "Offset"},
    {IDS_COLUMN_END_ADDRESS, "End Address"},
    {IDS_STATUS_6304, kMalfunction},
    {IDS_STATUS_6305, kTargetAccess},
    {IDS_STATUS_6306, kMalfunction},
    {IDS_STATUS_6309, kTargetAccess},
    {IDS_STATUS_6302, kTargetAccess},
    {IDS_WRONG_SECURITY_ID, "A wrong value was input to the \"Security ID\" entry field."},
    {IDS_STATUS_0001, kCommunication},
    {IDS_STATUS_6307, kTargetAccess},
    {IDS_STATUS_6308, kTargetAccess},
    {IDS_STATUS_630A, kMalfunction},
    {IDS_STATUS_6100, kTargetAccess},
    {IDS_DIFFERENT_TARGET, "Different target LSI."},
    {IDS_STATUS_630C, kMalfunction},
    {IDS_STATUS_6300, kTargetAccess},
    {IDS_FIRMWARE_READ_ERROR, "Error acquiring firmware version."},
    {IDS_FIRMWARE_TOO_OLD, "Different firmware version."},
    {IDS_STATUS_OK, "OK"},
    {IDS_SAVE_LOG_TITLE, "Save log"},
    {IDS_LOG_FILE_FILTER, "Log file(*.log)|*.log|All files(*.*)|*.*|"},
    {IDS_FILE_OVERLAPS_REGISTERED,
     "Flash memory write address is a duplication of an address of a registered file."},
    {IDS_TRG_NOT_FOUND, "Activation was canceled because the TRG files were not found."},
    {IDS_DIFFERENCES_DETECTED, "differences were detected. "},
    {IDS_STOPPED_BEFORE_DONE, "Processing was stopped before this target was done."},
    {IDS_CONFIRM_TARGET_CONNECTION, "Please confirm connection to the target system."},
    {IDS_UPDATE_FIRMWARE, "Please update New Firmware.  "},
    {IDS_CONFIRM_EXIT, "Do you want to exit Quorvel?"},
    {IDS_NO_ADAPTER, kNotConnected},
    {IDS_COLUMN_FLASH_START, "Flash Start"},
    {IDS_COLUMN_ENABLE, "Enable"},
    {IDS_COLUMN_TARGET_NO, "Target No."},
    {IDS_COLUMN_STATUS, "Status"},
    {IDS_COLUMN_SERIAL_NO, "Serial No."},
    {IDS_SAVE_MEMORY_TITLE, "Save Program Memory"},
    {IDS_SAVE_MEMORY_FILTER, "Intel HEX file(*.hex)|*.hex|"},
    {IDS_CONFIRM_CANCEL, "Do you want to cancel the present processing?"},
    {IDS_COMMAND_FILE_FILTER, "Command file(*.cd8)|*.cd8|All files(*.*)|*.*|"},
    {IDS_SET_COMMAND_FILE_TITLE, "Set Command File"},
    {IDS_ILLEGAL_OFFSET, "An illegal value was input to the \"Flash Memory Offset\" entry field."},
    {IDS_HEX_ILLEGAL_END_RECORD, "An illegal end record was found in %1."},
    {IDS_HEX_CHECKSUM_ERROR, kChecksumError},
    {IDS_S_CHECKSUM_ERROR, kChecksumError},
    {IDS_S_INVALID_END_RECORD, "An invalid end record was found in %1."},
    {IDS_NO_END_RECORD, "No valid end record was found in %1."},
    {IDS_NO_DATA_RECORD, "No valid data record was found in %1."},
    {IDS_FILE_OPEN_FAILED, kCouldNotOpen},
    {IDS_ILLEGAL_FORMAT, "The format of %1 is illegal."},
    {IDS_DUPLICATE_ADDRESSES, "Data record having duplicate addresses was found included in %1."},
    {IDS_INTERNAL_ERROR_START, "Internal Quorvel error.\n(Error code:2024)"},
    {IDS_INTERNAL_ERROR_END, "Internal Quorvel error.\n(Error code:2025)"},
    {IDS_INTERNAL_ERROR_OFFSET, "Internal Quorvel error.\n(Error code:2026)"},
    {IDS_STATUS_6303, kTargetAccess},
    {IDS_STATUS_5000, kCommunication},
    {IDS_STATUS_5001, kCommunication},
    {IDS_STATUS_5002, kMalfunction},
    {IDS_STATUS_5004, kMalfunction},
    {IDS_ADAPTER_NOT_CONNECTED, kNotConnected},
    {2040, kInternal},
    {2041, kInternal},
    {2042, kInternal},
    {2043, kInternal},
    {2044, kInternal},
    {2045, kInternal},
    {2046, kInternal},
    {2047, kInternal},
    {IDS_STATUS_UNKNOWN, kMalfunction},
    {IDS_STATUS_5003, kMalfunction},
    {IDS_SECURITY_ID_CHECK, "Security ID Check"},
    {IDS_LOG_WRITE_FAILED, "Cannot write log file."},
    {IDS_TOO_MANY_ADAPTERS, "Cannot plug too many Vexils."},
    {IDS_LOG_OPEN_FAILED, "Cannot open log file. The present processing was canceled."},
    {IDS_LOG_CLOSE_FAILED, "Cannot close log file."},
    {IDS_HEX_OPEN_FAILED, "Cannot open the hex file. The present processing was canceled."},
    {IDS_HEX_WRITE_FAILED, "Cannot write the hex file."},
    {IDS_HEX_CLOSE_FAILED, "Cannot close the hex file."},
    {IDS_NO_ENABLED_TARGETS, "No enable targets"},
    {IDS_ILLEGAL_START_SERIAL,
     "An illegal value was input to the \"Starting Serial Number\" entry field."},
    {IDS_ILLEGAL_SERIAL_ADDRESS,
     "An illegal value was input to the \"Start Address\" entry field."},
    {IDS_EMPTY_ENTRY_FIELD, "Cannot omit any enrty fields."},
    {IDS_ILLEGAL_INCREMENT, "An illegal value was input to the \"Incremental Value\" entry field."},
    {IDS_SERIAL_OVERFLOW,
     "Serial number has overflowed.\nPush on OK button opens the Serialization dialog.\nPush on "
     "Cancel button unplugs all targets."},
    {IDS_SERIAL_AREA_NOT_FLASH,
     "Serial number write address is specified on the area where Flash memory is not "
     "implemented."},
    {IDS_SERIAL_AREA_OVERLAPS_FILES,
     "Serial number write address overlaps with an address of registered files. Continue?"},
    {IDS_INI_WRITE_FAILED, "Cannot write to the QUORVEL.INI file."},
    {IDS_COMMAND_ERROR, "Command error : %1"},
    {IDS_COMMAND_FILE_OPEN_FAILED, kCouldNotOpen},
    {IDS_TRG_SOME_SKIPPED, "Several TRG files with the version not supported were skipped."},
    {IDS_TRG_NONE_READ,
     "Activation was canceled because the TRG files were not read.\nSeveral TRG files with the "
     "version not supported were skipped."},
    {IDS_TARGET_NOT_SUPPORTED, "Specified target device is not supported."},
    {IDS_DATA_OUTSIDE_FLASH, "Write data include address where Flash memory is not built in."},
    {IDS_PROGRAM_PATH_TOO_LONG,
     "Activation was canceled because the path of the Quorvel program is too long.\nMove "
     "Quorvel to a folder with a shorter path."},
    {IDS_ADAPTER_MUTEX_DENIED,
     "Access to the Vexil adapters was denied: a program with higher rights (run as "
     "administrator) holds the \"Vexil\" mutex.\nClose that program, or run Quorvel with the "
     "same rights."},
    {IDS_RECORD_WRITE_FAILED, "Cannot write the production record file %1."},
    {IDS_RECORD_FILE_TITLE, "Production record file"},
    {IDS_RECORD_FILE_FILTER, "Record file(*.csv)|*.csv|All files(*.*)|*.*|"},
    {IDS_CONFIRM_RESET_YIELD, "Do you want to reset the yield counters?"},
    {IDS_YIELD_WRITE_FAILED, "Cannot write the yield counters file %1."},
    {IDS_TARGET_COUNT_MISMATCH,
     "%1 Vexil adapters were found where %2 were expected.\nCheck the fixture: nothing was "
     "plugged or written."},
    {IDS_LINE_NOT_BUILT,
     "The settings file names a line database (LINEDB), but this build of Quorvel has none.\n"
     "Clear LINEDB to work as a station on its own."},
    {IDS_LINE_BAD_SETTING, "The line database setting cannot be used: %1\nNothing was written."},
    {IDS_LINE_UNREACHABLE,
     "The line database cannot be reached, so no board got a serial number and nothing was "
     "written.\n%1"},
    {IDS_LINE_NO_SCHEMA,
     "The line database has no tables of this version: %1\nRun \"quorvel-cli line init\" "
     "first. Nothing was written."},
    {IDS_LINE_NO_POOL,
     "The line database has no serial pool %1.\nRun \"quorvel-cli line init\" to create it. "
     "Nothing was written."},
    {IDS_LINE_POOL_MISMATCH,
     "The serial pool does not fit this station's serial numbers: %1\nNothing was written."},
    {IDS_LINE_OUTBOX_FAILED, "Cannot keep the line's record rows in the outbox file %1."},
    {IDS_LINE_REFUSED,
     "The line database refused to hand out serial numbers: %1\nNothing was written."},
    {IDS_LINE_RECORD_REFUSED, "The line database refused rows of the production record: %1"},
    {IDS_LINE_POOL_NOT_MOVED, "The serial pool was not moved: %1"},
});

// Lookup is a binary search, so the table must stay sorted; a repeated id is a typing error.
constexpr bool StrictlyAscending() {
    for (size_t i = 1; i < kEntries.size(); ++i)
        if (kEntries[i - 1].id >= kEntries[i].id)
            return false;
    return true;
}
static_assert(StrictlyAscending(), "string table ids must be unique and in ascending order");

}  // namespace

std::string_view GetStringText(uint32_t id) {
    auto it = std::lower_bound(kEntries.begin(), kEntries.end(), id,
                               [](const StringTableEntry& e, uint32_t v) { return e.id < v; });
    if (it == kEntries.end() || it->id != id)
        return {};
    return it->text;
}

std::string FormatStringText(uint32_t id, std::string_view name) {
    return FormatStringText(id, name, "%2");
}

std::string FormatStringText(uint32_t id, std::string_view name, std::string_view second) {
    std::string_view text = GetStringText(id);
    std::string out;
    out.reserve(text.size() + name.size() + second.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
            out.append(text[i + 1] == '1' ? name : second);
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::span<const StringTableEntry> StringTableEntries() {
    return kEntries;
}
