#pragma once
// quorvel-cli's runner in this process, with its output captured and the test's adapter mutex;
// between Program cycles wait answers (none: the end of input); securityIdVariable stands for
// QUORVEL_SECURITY_ID.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli_runner.h"

struct CliCapture {
    int code = -1;
    std::string out, err;
};

inline std::string SlurpFile(std::FILE* file) {
    std::string text(size_t(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

inline CliCapture RunCliInProcess(const std::vector<std::string>& args, AdapterLock& lock,
                                  decltype(CliEnvironment::wait) wait = nullptr,
                                  std::optional<std::string> securityIdVariable = std::nullopt) {
    CliEnvironment env{std::tmpfile(), std::tmpfile(),     false, &lock, [] { return 0; },
                       wait,           securityIdVariable, {}};
    if (!env.wait)
        env.wait = [](bool, uint32_t) { return plat::ConsoleWait::EndOfInput; };
    const int code = RunQuorvelCli(args, env);
    return {code, SlurpFile(env.out), SlurpFile(env.err)};
}
