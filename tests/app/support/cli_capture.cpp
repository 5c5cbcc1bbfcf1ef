#include "support/cli_capture.h"

#include <cstdio>

#include "cli_runner.h"

namespace {

std::string Slurp(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

}  // namespace

CliCapture RunCliInProcess(const std::vector<std::string>& args, AdapterLock& lock,
                           std::function<plat::ConsoleWait(bool, uint32_t)> wait) {
    CliEnvironment env;
    env.out = std::tmpfile();
    env.err = std::tmpfile();
    env.adapterLock = &lock;
    env.cancelRequests = [] { return 0; };
    env.wait =
        wait ? std::move(wait) : [](bool, uint32_t) { return plat::ConsoleWait::EndOfInput; };
    CliCapture result;
    result.code = RunQuorvelCli(args, env);
    result.out = Slurp(env.out);
    result.err = Slurp(env.err);
    return result;
}
