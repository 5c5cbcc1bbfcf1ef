// quorvel-cli: Quorvel's operations for automated lines and test rigs, without a window.
#include <string>
#include <vector>

#include "cli_runner.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    plat::InstallConsoleCancelHandler();
    CliEnvironment env;
    env.errIsTerminal = plat::StandardErrorIsTerminal();
    return RunQuorvelCli(std::vector<std::string>(argv + 1, argv + argc), env);
}
