// Interrupts as a flag a console program polls, and waiting for Enter without missing one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "platform/console.h"

namespace {

using plat::ConsoleWait;

// In a child process: the handler changes how the whole process takes its signals.
TEST(ConsoleTest, LinesAndTheEndOfInputAreToldThenTheFirstInterruptCountsAndTheSecondEnds) {
    EXPECT_EXIT(
        {
            int fds[2];
            if (::pipe(fds) != 0 || ::write(fds[1], "x\n", 2) != 2 ||
                ::dup2(fds[0], STDIN_FILENO) < 0)
                std::_Exit(2);
            ::close(fds[1]);
            plat::InstallConsoleCancelHandler();
            if (plat::WaitForConsole(true, 0) != ConsoleWait::Line ||
                plat::WaitForConsole(true, 0) != ConsoleWait::EndOfInput ||
                plat::WaitForConsole(false, 0) != ConsoleWait::TimeUp)
                std::_Exit(3);
            std::raise(SIGINT);
            if (plat::ConsoleCancelRequests() != 1 ||
                plat::WaitForConsole(false, 60000) != ConsoleWait::Cancelled)
                std::_Exit(4);
            std::raise(SIGPIPE);  // ignored
            std::raise(SIGTERM);
            std::_Exit(5);
        },
        ::testing::ExitedWithCode(1), "");
}

}  // namespace
