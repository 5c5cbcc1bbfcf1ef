#pragma once
// What the controller asks the library about one connected target, asked the same way in
// every operation: a refused call counts as "no", "none" or 0.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/control_ids.h"
#include "app/writer_settings.h"
#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"

namespace targets {

// Simple mode splits the targets over two lists: 1 to 16 and 17 and up.
constexpr int kInLowList = 16;

inline int Count() {
    int count = 0;
    if (ApiGetTargetNum(&count) == 0 || count < 0)
        return 0;
    return count;
}

inline bool Enabled(int target) {
    int flag = 0;
    return ApiGetEnableFlg(target, &flag) != 0 && flag == 1;
}

inline bool AnyEnabled() {
    const int count = Count();
    for (int n = 1; n <= count; ++n)
        if (Enabled(n))
            return true;
    return false;
}

inline bool PlugSucceeded(int target) {
    int flag = 0;
    return ApiIsTargetPlugSuccess(target, &flag) != 0 && flag != 0;
}

inline int Status(int target) {
    int status = 0;
    ApiGetTargetStatus(target, &status);
    return status;
}

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

// The library's texts come in two calls: the size first, then the text. Anything longer than
// longest is no text we show.
template <class Fetch>
std::string FetchText(Fetch fetch, uint32_t longest) {
    uint32_t needed = 0;
    if (fetch(nullptr, 0, needed) == 0 || needed == 0 || needed > longest)
        return {};
    std::string text(needed, '\0');
    uint32_t again = needed;
    if (fetch(text.data(), needed, again) == 0 || again > needed)
        return {};
    text.resize(strnlen(text.data(), needed));
    return text;
}

// Device paths are short; anything longer is not a path we show.
inline std::string DevicePath(int target) {
    return FetchText(
        [target](char* buffer, uint32_t size, uint32_t& needed) {
            return ApiGetDevicePathStr(target, buffer, size, &needed);
        },
        32 * 1024);
}

// A target's row in the list of simple mode that shows it.
struct CheckListRow {
    int list;
    int row;
};
inline CheckListRow CheckListRowOf(int target) {
    return target <= kInLowList ? CheckListRow{IDC_CHECK_LIST_LOW, target - 1}
                                : CheckListRow{IDC_CHECK_LIST_HIGH, target - kInLowList - 1};
}

// The last count characters: the lists show the low end of long serial numbers.
inline std::string Rightmost(const std::string& text, size_t count) {
    return text.size() > count ? text.substr(text.size() - count) : text;
}

}  // namespace targets
