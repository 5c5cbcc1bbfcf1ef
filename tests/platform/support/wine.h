#pragma once
// Wine is a second implementation of the Windows services, not Windows itself. Where it is
// known to differ from what Windows does (and the POSIX build reproduces), a test skips the
// Windows expectation under Wine and says why.

namespace testing_support {

// True only in a Windows build running under Wine; then the reason is printed with the test.
bool KnownWineDifference(const char* reason);

}  // namespace testing_support
