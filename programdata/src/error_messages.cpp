#include "programdata/error_messages.h"

#include <cstdio>

namespace programdata {

namespace {

constexpr bool EndsWithTerminator() {
    const ErrorMessagePair& last = ErrorMessageTable[std::size(ErrorMessageTable) - 1];
    return last.code == kErrorTableTerminator && last.messageId == IDS_STATUS_UNKNOWN;
}
static_assert(EndsWithTerminator(), "the search falls back on the last pair");

}  // namespace

const ErrorMessagePair& FindErrorMessage(uint32_t code) {
    const size_t last = std::size(ErrorMessageTable) - 1;
    for (size_t i = 0; i < last; ++i)
        if (ErrorMessageTable[i].code == code)
            return ErrorMessageTable[i];
    return ErrorMessageTable[last];
}

std::string GetErrorMessage(uint32_t code) {
    return std::string(GetStringText(FindErrorMessage(code).messageId));
}

std::string FormatErrorMessageCode(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", unsigned(FindErrorMessage(code).code));
    return text;
}

}  // namespace programdata
