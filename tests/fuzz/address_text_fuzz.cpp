// ParseAddressText on arbitrary text (the "Start Address" and "End Address" columns and what
// the operator types), and the columns' read-back: a failure leaves 0, a success stays within
// bank 0xFF plus 0xFFFFFF, and every value shown in a column reads back as itself.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "programdata/address_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint32_t value = 0xDEADBEEF;
    const bool ok = programdata::ParseAddressText(text, value);

    uint32_t column = 0xDEADBEEF;
    const bool columnOk = programdata::ParseAddressColumn(text, column);
    // The column reader accepts everything the field parser does, with the same value.
    if (ok)
        FUZZ_CHECK(columnOk && column == value);

    if (!ok) {
        FUZZ_CHECK(value == 0);
    } else {
        FUZZ_CHECK(value <= 0x1FEFFFF);
    }
    if (columnOk) {
        const std::string shown = programdata::FormatAddressColumn(column);
        uint32_t again = 0;
        FUZZ_CHECK(programdata::ParseAddressColumn(shown, again) && again == column);
        if (column <= 0xFFFFFF)
            FUZZ_CHECK(programdata::ParseAddressText(shown, again) && again == column);
    }
    return 0;
}
