#pragma once
// "quorvel-cli line init" and "quorvel-cli line status": the line database that the settings
// file names (LINEDB), its tables, this station's serial pool, the outbox and the yield.
#include <string>
#include <vector>

#include "cli_runner.h"

// args: the command line without the program's name, "line" first. Answers the exit status:
// 0 done, 2 when the settings or the line database could not be used.
int RunLineCommand(const std::vector<std::string>& args, const CliEnvironment& env);
