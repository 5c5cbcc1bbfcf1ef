#pragma once
// One run of quorvel-cli: the command line checked, the controller run with the console view
// as the window runs it, and the exit status.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/adapter_mutex.h"
#include "app/line_services.h"
#include "console_report.h"
#include "platform/console.h"

struct CliEnvironment {
    std::FILE* out = stdout;  // JSON lines and --help
    std::FILE* err = stderr;  // everything for a person
    bool errIsTerminal = false;
    AdapterLock* adapterLock = nullptr;  // the "Vexil" mutex unless a test gives another
    std::function<int()> cancelRequests = plat::ConsoleCancelRequests;
    // Between Program cycles: Enter (readLine) or a time.
    std::function<plat::ConsoleWait(bool readLine, uint32_t ms)> wait = plat::WaitForConsole;
    // The value of QUORVEL_SECURITY_ID; unset unless main reads it.
    std::optional<std::string> securityIdVariable;
    // What every JSON line carries (run id, host, time); unset: the system's.
    std::function<JsonStamp()> stamp;
    // The line database client and "line ..." where this build has them.
    LineServices* line = nullptr;
    std::function<int(const std::vector<std::string>& args, const CliEnvironment& env)>
        lineCommand = {};
};

// args: the command line without the program's name. Answers the exit status (CliExit).
int RunQuorvelCli(const std::vector<std::string>& args, const CliEnvironment& env);
