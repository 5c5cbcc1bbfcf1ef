#include "programdata/targets.h"

#include "brindlex/api.h"

namespace programdata::targets {

namespace {

// Device paths are short; anything longer is a fault of the library, not a path.
constexpr uint32_t kLongestDevicePath = 32 * 1024;

}  // namespace

int Count() {
    int count = 0;
    if (ApiGetTargetNum(&count) == 0 || count < 0)
        return 0;
    return count;
}

bool Enabled(int target) {
    int flag = 0;
    return ApiGetEnableFlg(target, &flag) != 0 && flag == 1;
}

bool Plugged(int target) {
    int flag = 0;
    return ApiIsTargetPlugSuccess(target, &flag) != 0 && flag != 0;
}

FlashStatus Status(int target) {
    int status = 0;
    if (ApiGetTargetStatus(target, &status) == 0)
        return FLASH_OK;
    return FlashStatus(uint32_t(status));
}

void SetStatus(int target, uint32_t status) {
    ApiSetTargetStatus(target, int(status));
}

bool AnyEnabled() {
    return !EnabledOnes().empty();
}

std::optional<std::string> DevicePath(int target) {
    return FetchText(
        [target](char* buffer, uint32_t size, uint32_t& needed) {
            return ApiGetDevicePathStr(target, buffer, size, &needed);
        },
        kLongestDevicePath);
}

int Range::Next(int from) const {
    for (int n = from; n <= count_; ++n) {
        if (filter_ == Filter::All || (filter_ == Filter::Enabled && Enabled(n)) ||
            (filter_ == Filter::Plugged && Plugged(n)))
            return n;
    }
    return count_ + 1;
}

}  // namespace programdata::targets
