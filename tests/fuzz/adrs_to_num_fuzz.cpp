// CQuorvelApi::AdrsToNum on arbitrary text. The library's TRG address syntax and the
// program's address text follow one rule, written twice (one copy per deliverable): both
// must accept the same texts with the same value, and a failure may leave only 0 or an
// accepted bank.
#include <cstdint>
#include <cstdio>
#include <string>

#include "brindlex/quorvel_api.h"
#include "fuzz_support.h"
#include "programdata/address_text.h"
#include "support/quorvel_api_test_access.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The TRG reader hands over NUL-terminated texts.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string cText(text.c_str());

    CQuorvelApi api;
    uint32_t value = 0xDEADBEEF;
    const int ok = CQuorvelApiTestAccess::AdrsToNum(api, cText.c_str(), value);
    FUZZ_CHECK(ok == 0 || ok == 1);

    uint32_t programValue = 0xDEADBEEF;
    const bool programOk = programdata::ParseAddressText(cText, programValue);
    FUZZ_CHECK(programOk == (ok == 1));
    if (!ok) {
        FUZZ_CHECK(value % 0x10000 == 0 && value <= 0xFF0000);
        FUZZ_CHECK(value == 0 || cText.find(':') != std::string::npos);
        return 0;
    }
    FUZZ_CHECK(programValue == value);
    FUZZ_CHECK(value <= 0x1FEFFFF);

    // The canonical spelling of the value reads back as the value.
    char canonical[32];
    if (value <= 0xFFFFFF) {
        std::snprintf(canonical, sizeof canonical, "%XH", unsigned(value));
    } else {
        std::snprintf(canonical, sizeof canonical, "FF:%XH", unsigned(value - 0xFF0000));
    }
    uint32_t again = 0;
    FUZZ_CHECK(CQuorvelApiTestAccess::AdrsToNum(api, canonical, again) == 1 && again == value);
    return 0;
}
