#pragma once
// What a console program needs of the system beyond standard C++: interrupt and termination
// requests turned into a flag it polls, whether standard error is a terminal, and waiting for
// Enter or for a time without missing such a request.
#include <cstdint>

namespace plat {

// From now on the first interrupt or termination request (SIGINT, SIGTERM; on Windows Ctrl+C,
// Ctrl+Break and closing the console) is only counted, for the program to act on at a safe
// point. A second one ends the process at once with exit code 1; the system then frees every
// named mutex the process held. Writing to a closed pipe no longer ends the process.
void InstallConsoleCancelHandler();

// Requests counted since the handler was installed.
int ConsoleCancelRequests();

bool StandardErrorIsTerminal();

enum class ConsoleWait { Line, TimeUp, Cancelled, EndOfInput };

// readLine: waits for a line on standard input (its text is dropped) without a time limit;
// otherwise waits ms milliseconds and reads nothing. Answers Cancelled as soon as a request is
// counted, at once when one was counted before the call.
ConsoleWait WaitForConsole(bool readLine, uint32_t ms);

}  // namespace plat
