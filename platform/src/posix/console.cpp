#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace plat {

namespace {

volatile sig_atomic_t g_requests = 0;
// Written by the handler so that a wait in poll wakes up without a race against the flag.
int g_wake[2] = {-1, -1};

extern "C" void OnCancelSignal(int) {
    if (g_requests > 0)
        ::_exit(1);
    const int saved = errno;
    g_requests = 1;
    if (g_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(g_wake[1], &byte, 1);
    }
    errno = saved;
}

}  // namespace

void InstallConsoleCancelHandler() {
    if (g_wake[0] < 0 && ::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        g_wake[0] = g_wake[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

int ConsoleCancelRequests() {
    return g_requests;
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

ConsoleWait WaitForConsole(bool readLine, uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (g_requests > 0)
            return ConsoleWait::Cancelled;
        int timeout = -1;
        if (!readLine) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return ConsoleWait::TimeUp;
            timeout = left > 60000 ? 60000 : static_cast<int>(left);
        }
        pollfd fds[2];
        nfds_t count = 0;
        if (g_wake[0] >= 0)
            fds[count++] = {g_wake[0], POLLIN, 0};
        const nfds_t input = count;
        if (readLine)
            fds[count++] = {STDIN_FILENO, POLLIN, 0};
        if (::poll(fds, count, timeout) <= 0 || !readLine || fds[input].revents == 0)
            continue;
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return ConsoleWait::EndOfInput;
        if (got == 1 && c == '\n')
            return ConsoleWait::Line;
    }
}

}  // namespace plat
