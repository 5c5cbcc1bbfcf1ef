// ParseOffsetText on arbitrary text (the "Flash Memory Offset" field and the "Offset" column).
// A parsed offset is shown in the column, stored in the settings file and restored from it:
// each of those steps must give the same offset back.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "programdata/address_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The restore rule never fails and reads at most the last nine characters.
    if (text.size() > 9 && text[0] != '-' && text[0] != '+') {
        const std::string tail = text.substr(text.size() - 9);
        if (tail[0] != '-' && tail[0] != '+')
            FUZZ_CHECK(programdata::OffsetTextToNumber(text) ==
                       programdata::OffsetTextToNumber(tail));
    }

    int32_t value = 0x5A5A5A5A;
    const bool ok = programdata::ParseOffsetText(text, value);
    int32_t column = 0x5A5A5A5A;
    const bool columnOk = programdata::ParseOffsetColumn(text, column);
    if (!ok) {
        FUZZ_CHECK(value == 0);
    } else {
        FUZZ_CHECK(columnOk && column == value);
        // A sign, then an address: the magnitude is what the address text gives.
        const uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
        FUZZ_CHECK(magnitude <= 0x1FEFFFF);
    }
    if (columnOk) {
        const std::string shown = programdata::FormatOffsetColumn(column);
        int32_t again = 0;
        FUZZ_CHECK(programdata::ParseOffsetColumn(shown, again) && again == column);
        // The settings file keeps the column text; restoring it gives the offset back.
        FUZZ_CHECK(programdata::OffsetTextToNumber(shown) == column);
    }
    return 0;
}
