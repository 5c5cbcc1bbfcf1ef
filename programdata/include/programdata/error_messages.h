#pragma once
// Per-target status codes to message texts, for the operation log and the status cells.
#include <cstdint>
#include <span>
#include <string>

#include "programdata/string_table.h"

namespace programdata {

struct ErrorMessagePair {
    uint32_t code;
    uint32_t messageId;
};

constexpr uint32_t kErrorTableTerminator = 0xFFFF;

// Searched in order; the terminator's text stands for every code the table does not hold.
inline constexpr ErrorMessagePair ErrorMessageTable[] = {
    {0x0000, IDS_STATUS_OK},
    {0x0001, IDS_STATUS_0001},
    {0x6000, IDS_STATUS_6000},
    {0x6001, IDS_STATUS_6001},
    {0x6002, IDS_STATUS_6002},
    {0x6003, IDS_STATUS_6003},
    {0x6100, IDS_STATUS_6100},
    {0x6300, IDS_STATUS_6300},
    {0x6302, IDS_STATUS_6302},
    {0x6303, IDS_STATUS_6303},
    {0x6304, IDS_STATUS_6304},
    {0x6305, IDS_STATUS_6305},
    {0x6306, IDS_STATUS_6306},
    {0x6307, IDS_STATUS_6307},
    {0x6308, IDS_STATUS_6308},
    {0x6309, IDS_STATUS_6309},
    {0x630A, IDS_STATUS_630A},
    {0x630C, IDS_STATUS_630C},
    {0x5000, IDS_STATUS_5000},
    {0x5001, IDS_STATUS_5001},
    {0x5002, IDS_STATUS_5002},
    {0x5003, IDS_STATUS_5003},
    {0x5004, IDS_STATUS_5004},
    {0x5005, IDS_ADAPTER_NOT_CONNECTED},
    {0x4000, IDS_STATUS_4000 + 0},
    {0x4001, IDS_STATUS_4000 + 1},
    {0x4002, IDS_STATUS_4000 + 2},
    {0x4003, IDS_STATUS_4000 + 3},
    {0x4004, IDS_STATUS_4000 + 4},
    {0x4005, IDS_STATUS_4000 + 5},
    {0x4006, IDS_STATUS_4000 + 6},
    {0x4007, IDS_STATUS_4007},
    {0x2002, IDS_DIFFERENT_TARGET},
    {0x2003, IDS_FIRMWARE_READ_ERROR},
    {0x2004, IDS_FIRMWARE_TOO_OLD},
    {0x2005, IDS_SECURITY_ID_CHECK},
    {0x2006, IDS_DIFFERENCES_DETECTED},
    {0x2007, IDS_STOPPED_BEFORE_DONE},
    {kErrorTableTerminator, IDS_STATUS_UNKNOWN},
};

// The first pair whose code matches, or the terminator.
const ErrorMessagePair& FindErrorMessage(uint32_t code);

// The string-table text for a status code.
std::string GetErrorMessage(uint32_t code);

// The matched pair's code as four upper-case hexadecimal digits; "FFFF" when none matched.
std::string FormatErrorMessageCode(uint32_t code);

}  // namespace programdata
