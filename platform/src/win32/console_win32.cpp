// The console on Windows. Ctrl+C, Ctrl+Break and closing the console arrive on a thread of
// their own (SetConsoleCtrlHandler); the first is counted and sets an event that every wait
// watches. Standard input is read by a thread that the first wait for Enter starts, so a run
// that never asks for input never reads it.
#include <atomic>
#include <climits>
#include <mutex>
#include <thread>

#include "platform/console.h"
#include "platform/win32_types.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

namespace plat {

namespace {

struct ConsoleState {
    std::atomic<int> requests{0};
    HANDLE cancelled = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);  // the first request
    HANDLE lines = ::CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);  // one count per line
    HANDLE ended = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);      // end of input
    std::once_flag readerStarted;
};

ConsoleState& State() {
    // The handler and the reader thread may run while static objects are destroyed.
    static ConsoleState* state = new ConsoleState;
    return *state;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    ConsoleState& s = State();
    if (s.requests.fetch_add(1) > 0) {
        // At once: no destructors run under the main thread's feet. The system releases the
        // process's mutexes as abandoned.
        ::TerminateProcess(::GetCurrentProcess(), 1);
    }
    ::SetEvent(s.cancelled);
    // The system ends the process when a close handler returns: hold it, so the program
    // cancels, unplugs and exits in the few seconds the system grants.
    if (type == CTRL_CLOSE_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}

void ReadStandardInput() {
    ConsoleState& s = State();
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = ::GetConsoleMode(in, &mode) != FALSE;
    char buffer[512];
    DWORD n = 0;
    while (in != nullptr && in != INVALID_HANDLE_VALUE &&
           ::ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        for (DWORD i = 0; i < n; ++i)
            if (buffer[i] == '\n')
                ::ReleaseSemaphore(s.lines, 1, nullptr);
    }
    // A console read also comes back empty or aborted when Ctrl+C interrupts it, before the
    // handler has counted the request: give the handler a moment, so the wait reports the
    // interrupt rather than an end of input. Either way nothing is read any more.
    if (console)
        ::WaitForSingleObject(s.cancelled, 200);
    ::SetEvent(s.ended);
}

}  // namespace

void InstallConsoleCancelHandler() {
    State();
    // A process started in a new process group has Ctrl+C switched off: switch it on.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int ConsoleCancelRequests() {
    return State().requests.load();
}

bool StandardErrorIsTerminal() {
    // _isatty is true for every character device, NUL included; only a console has a mode.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

ConsoleWait WaitForConsole(bool readLine, uint32_t ms) {
    ConsoleState& s = State();
    if (!readLine)
        return ::WaitForSingleObject(s.cancelled, ms) == WAIT_OBJECT_0 ? ConsoleWait::Cancelled
                                                                       : ConsoleWait::TimeUp;
    std::call_once(s.readerStarted, [] { std::thread(ReadStandardInput).detach(); });
    // The lowest index wins when several are set: a request first, then lines read before
    // the input ended.
    const HANDLE events[3] = {s.cancelled, s.lines, s.ended};
    switch (::WaitForMultipleObjects(3, events, FALSE, INFINITE)) {
        case WAIT_OBJECT_0:
            return ConsoleWait::Cancelled;
        case WAIT_OBJECT_0 + 1:
            return ConsoleWait::Line;
        default:
            return ConsoleWait::EndOfInput;
    }
}

}  // namespace plat
