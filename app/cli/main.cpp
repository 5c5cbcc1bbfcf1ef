// quorvel-cli: Quorvel's operations for automated lines and test rigs, without a window.
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_options.h"
#include "cli_runner.h"
#include "platform/console.h"
#ifdef QUORVEL_LINEDB
#include "line_command.h"
#include "linedb/line_client.h"
#endif

int main(int argc, char** argv) {
    plat::InstallConsoleCancelHandler();
    CliEnvironment env;
    env.errIsTerminal = plat::StandardErrorIsTerminal();
    if (const char* id = std::getenv(kSecurityIdVariable))
        env.securityIdVariable = id;
#ifdef QUORVEL_LINEDB
    linedb::LineClient line;
    env.line = &line;
    env.lineCommand = RunLineCommand;
#endif
    return RunQuorvelCli(std::vector<std::string>(argv + 1, argv + argc), env);
}
