#include "support/wine.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace testing_support {

namespace {

bool UnderWine() {
#ifdef _WIN32
    // Wine's ntdll exports its version; Windows' does not.
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

}  // namespace

bool KnownWineDifference(const char* reason) {
    static const bool wine = UnderWine();
    if (wine)
        std::cout << "[ WINE     ] known difference: " << reason << std::endl;
    return wine;
}

}  // namespace testing_support
