#pragma once
// What the controller shows of a connected target beyond the library's own answers: the serial
// number the library holds for it, and its row in the lists of simple mode.
#include <array>
#include <cstdint>
#include <string>

#include "app/control_ids.h"
#include "app/writer_settings.h"
#include "brindlex/api.h"
#include "programdata/targets.h"

namespace targets = programdata::targets;

// Simple mode splits the targets over two lists: 1 to 16 and 17 and up.
constexpr int kTargetsInLowList = 16;

// The serial number the library holds for a target; bytes it does not hold read as 0, and
// length (when asked for) is 0 when it holds none.
inline std::array<uint8_t, kByteFieldSize> HeldSerialNumber(int target,
                                                            uint32_t* length = nullptr) {
    std::array<uint8_t, kByteFieldSize> bytes{};
    uint32_t held = 0;
    if (ApiGetSerialNumber(target, bytes.data(), uint32_t(bytes.size()), &held) == 0)
        held = 0;
    if (length != nullptr)
        *length = held;
    return bytes;
}

// A target's row in the list of simple mode that shows it.
struct CheckListRow {
    int list;
    int row;
};
inline CheckListRow CheckListRowOf(int target) {
    return target <= kTargetsInLowList
               ? CheckListRow{IDC_CHECK_LIST_LOW, target - 1}
               : CheckListRow{IDC_CHECK_LIST_HIGH, target - kTargetsInLowList - 1};
}

// The last count characters: the lists show the low end of long serial numbers.
inline std::string Rightmost(const std::string& text, size_t count) {
    return text.size() > count ? text.substr(text.size() - count) : text;
}
