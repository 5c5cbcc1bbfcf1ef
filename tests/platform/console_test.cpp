// Interrupts as a flag a console program polls, and waiting for Enter without missing one.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "platform/console.h"
#include "support/wine.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

using plat::ConsoleWait;

#ifdef _WIN32
HANDLE input = nullptr;

// Standard input reads "x\n" from a pipe. Console control events need a console: the child
// gets its own. Standard error is a pipe first, then that console.
bool Prepare() {
    HANDLE write = nullptr;
    DWORD n = 0;
    if (!::CreatePipe(&input, &write, nullptr, 0) || !::WriteFile(write, "x\n", 2, &n, nullptr) ||
        !::CloseHandle(write) || !::SetStdHandle(STD_ERROR_HANDLE, input) ||
        plat::StandardErrorIsTerminal())
        return false;
    ::FreeConsole();
    if (!::AllocConsole())
        return false;
    ::SetStdHandle(STD_ERROR_HANDLE,
                   ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    return (plat::StandardErrorIsTerminal() ||
            testing_support::KnownWineDifference("a console allocated under Wine has no mode")) &&
           ::SetStdHandle(STD_INPUT_HANDLE, input);
}
DWORD Unread() {
    DWORD available = 0;
    return ::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) ? available : 99;
}
bool Request(bool first) {
    if (first)
        return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    if (::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
        return true;
    return testing_support::KnownWineDifference("Wine generates no Ctrl+Break") &&
           ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
}
void WaitToBeEnded() {
    ::Sleep(30000);  // a bound, reached only when the request fails to end the process
}
#else
int input[2] = {-1, -1};
bool Prepare() {
    if (::pipe(input) != 0 || ::write(input[1], "x\n", 2) != 2 ||
        ::dup2(input[0], STDIN_FILENO) < 0)
        return false;
    ::close(input[1]);
    return true;
}
int Unread() {
    int available = 0;
    return ::ioctl(input[0], FIONREAD, &available) == 0 ? available : 99;
}
void WaitToBeEnded() {}
bool Request(bool first) {
    std::raise(SIGPIPE);  // ignored
    return std::raise(first ? SIGINT : SIGTERM) == 0;
}
#endif

// In a child process: the handler changes how the whole process takes its requests.
TEST(ConsoleTest, LinesAndTheEndOfInputAreToldThenTheFirstInterruptCountsAndTheSecondEnds) {
    EXPECT_EXIT(
        {
            if (!Prepare())
                std::_Exit(2);
            plat::InstallConsoleCancelHandler();
            // A wait that asks for no line leaves the input alone.
            if (plat::WaitForConsole(false, 0) != ConsoleWait::TimeUp || Unread() != 2)
                std::_Exit(3);
            if (plat::WaitForConsole(true, 0) != ConsoleWait::Line ||
                plat::WaitForConsole(true, 0) != ConsoleWait::EndOfInput)
                std::_Exit(4);
            if (!Request(true) || plat::WaitForConsole(false, 60000) != ConsoleWait::Cancelled ||
                plat::ConsoleCancelRequests() != 1 ||
                plat::WaitForConsole(true, 0) != ConsoleWait::Cancelled)
                std::_Exit(5);
            Request(false);
            // On Windows the handler ends the process from a thread of its own, meanwhile.
            WaitToBeEnded();
            std::_Exit(6);
        },
        ::testing::ExitedWithCode(1), "");
}

}  // namespace
