#pragma once
// The string table: every text the operator sees, keyed by the number the system uses for it.
// Texts that name a file carry "%1" where the full path goes (FormatStringText).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

enum StringId : uint32_t {
    IDS_ABOUTBOX = 104,                   // system menu item that opens the About box
    IDS_MAIN_TITLE = 105,                 // title of the main window
    IDS_SELECT_PROGRAM_FILE_TITLE = 106,  // file-open dialog for program files
    IDS_FILE_ALREADY_REGISTERED = 107,
    IDS_PROGRAM_FILE_FILTER = 109,
    IDS_STATUS_6000 = 110,
    IDS_STATUS_6001 = 111,
    IDS_STATUS_6002 = 112,
    IDS_STATUS_6003 = 113,
    IDS_COLUMN_FILE_NAME = 114,
    IDS_COLUMN_START_ADDRESS = 115,
    IDS_COLUMN_OFFSET = 116,
    IDS_COLUMN_END_ADDRESS = 117,
    IDS_STATUS_6304 = 118,
    IDS_STATUS_6305 = 119,
    IDS_STATUS_6306 = 121,
    IDS_STATUS_6309 = 131,
    IDS_STATUS_6302 = 137,
    IDS_WRONG_SECURITY_ID = 139,
    IDS_STATUS_0001 = 141,
    IDS_STATUS_6307 = 142,
    IDS_STATUS_6308 = 143,
    IDS_STATUS_630A = 144,
    IDS_STATUS_6100 = 145,
    IDS_DIFFERENT_TARGET = 146,  // status 0x2002
    IDS_STATUS_630C = 148,
    IDS_STATUS_6300 = 149,
    IDS_FIRMWARE_READ_ERROR = 153,  // status 0x2003
    IDS_FIRMWARE_TOO_OLD = 154,     // status 0x2004
    IDS_STATUS_OK = 155,            // status 0
    IDS_SAVE_LOG_TITLE = 161,
    IDS_LOG_FILE_FILTER = 162,
    IDS_FILE_OVERLAPS_REGISTERED = 163,
    IDS_TRG_NOT_FOUND = 165,
    IDS_DIFFERENCES_DETECTED = 176,  // status 0x2006
    IDS_STOPPED_BEFORE_DONE = 177,   // status 0x2007
    IDS_CONFIRM_TARGET_CONNECTION = 186,
    IDS_UPDATE_FIRMWARE = 187,
    IDS_CONFIRM_EXIT = 188,
    IDS_NO_ADAPTER = 193,
    IDS_COLUMN_FLASH_START = 204,
    IDS_COLUMN_ENABLE = 205,
    IDS_COLUMN_TARGET_NO = 206,
    IDS_COLUMN_STATUS = 207,
    IDS_COLUMN_SERIAL_NO = 208,
    IDS_SAVE_MEMORY_TITLE = 209,
    IDS_SAVE_MEMORY_FILTER = 210,
    IDS_CONFIRM_CANCEL = 211,
    IDS_COMMAND_FILE_FILTER = 217,
    IDS_SET_COMMAND_FILE_TITLE = 218,
    IDS_ILLEGAL_OFFSET = 2001,
    IDS_HEX_ILLEGAL_END_RECORD = 2007,
    IDS_HEX_CHECKSUM_ERROR = 2008,
    IDS_S_CHECKSUM_ERROR = 2009,
    IDS_S_INVALID_END_RECORD = 2010,
    IDS_NO_END_RECORD = 2011,
    IDS_NO_DATA_RECORD = 2012,
    IDS_FILE_OPEN_FAILED = 2013,
    IDS_ILLEGAL_FORMAT = 2021,
    IDS_DUPLICATE_ADDRESSES = 2023,
    IDS_INTERNAL_ERROR_START = 2024,   // unparsable "Start Address" column
    IDS_INTERNAL_ERROR_END = 2025,     // unparsable "End Address" column
    IDS_INTERNAL_ERROR_OFFSET = 2026,  // unparsable "Offset" column
    IDS_STATUS_6303 = 2032,
    IDS_STATUS_5000 = 2035,
    IDS_STATUS_5001 = 2036,
    IDS_STATUS_5002 = 2037,
    IDS_STATUS_5004 = 2038,
    IDS_ADAPTER_NOT_CONNECTED = 2039,  // status 0x5005, and the adapter mutex time-out
    IDS_STATUS_4000 = 2040,            // 0x4000 + k gives 2040 + k, up to 0x4007
    IDS_STATUS_4007 = 2047,
    IDS_STATUS_UNKNOWN = 2050,
    IDS_STATUS_5003 = 2051,
    IDS_SECURITY_ID_CHECK = 2052,  // status 0x2005
    IDS_LOG_WRITE_FAILED = 2053,
    IDS_TOO_MANY_ADAPTERS = 2055,
    IDS_LOG_OPEN_FAILED = 2056,
    IDS_LOG_CLOSE_FAILED = 2057,
    IDS_HEX_OPEN_FAILED = 2058,
    IDS_HEX_WRITE_FAILED = 2059,
    IDS_HEX_CLOSE_FAILED = 2060,
    IDS_NO_ENABLED_TARGETS = 2061,
    IDS_ILLEGAL_START_SERIAL = 2062,
    IDS_ILLEGAL_SERIAL_ADDRESS = 2063,
    IDS_EMPTY_ENTRY_FIELD = 2064,
    IDS_ILLEGAL_INCREMENT = 2065,
    IDS_SERIAL_OVERFLOW = 2066,
    IDS_SERIAL_AREA_NOT_FLASH = 2067,
    IDS_SERIAL_AREA_OVERLAPS_FILES = 2069,
    IDS_INI_WRITE_FAILED = 2072,
    IDS_COMMAND_ERROR = 2073,
    IDS_COMMAND_FILE_OPEN_FAILED = 2075,
    IDS_TRG_SOME_SKIPPED = 2077,
    IDS_TRG_NONE_READ = 2078,
    IDS_TARGET_NOT_SUPPORTED = 2079,
    IDS_DATA_OUTSIDE_FLASH = 2080,
    IDS_PROGRAM_PATH_TOO_LONG = 2090,  // the executable's path does not fit MAX_PATH
    IDS_ADAPTER_MUTEX_DENIED = 2091,   // the adapter mutex belongs to a program with more rights
    IDS_RECORD_WRITE_FAILED = 2101,    // the production record; once per operation
    IDS_RECORD_FILE_TITLE = 2102,
    IDS_RECORD_FILE_FILTER = 2103,
    IDS_CONFIRM_RESET_YIELD = 2104,
    IDS_YIELD_WRITE_FAILED = 2105,     // the yield counters; once per operation
    IDS_TARGET_COUNT_MISMATCH = 2106,  // a console run expected another number of adapters
    // The line of stations (LINEDB): "%1" holds what the database or the client said.
    IDS_LINE_NOT_BUILT = 2120,
    IDS_LINE_BAD_SETTING = 2121,
    IDS_LINE_UNREACHABLE = 2122,
    IDS_LINE_NO_SCHEMA = 2123,
    IDS_LINE_NO_POOL = 2124,
    IDS_LINE_POOL_MISMATCH = 2125,
    IDS_LINE_OUTBOX_FAILED = 2126,
    IDS_LINE_REFUSED = 2127,
    IDS_LINE_RECORD_REFUSED = 2128,
    IDS_LINE_POOL_NOT_MOVED = 2129,  // quorvel-cli line init --serial
};

struct StringTableEntry {
    uint32_t id;
    const char* text;
};

// The text of id, or an empty text for an id the table does not hold.
std::string_view GetStringText(uint32_t id);

// The text of id with every "%1" replaced by name (the full path of the file it names).
std::string FormatStringText(uint32_t id, std::string_view name);
// The same with "%2" replaced by second.
std::string FormatStringText(uint32_t id, std::string_view name, std::string_view second);

// Every entry, in ascending id order.
std::span<const StringTableEntry> StringTableEntries();
