#pragma once
// quorvel-cli's runner in this process, with its output captured and the adapter mutex of the
// test.
#include <functional>
#include <string>
#include <vector>

#include "app/adapter_mutex.h"
#include "platform/console.h"

struct CliCapture {
    int code = -1;
    std::string out, err;
};

// wait: between Program cycles (none: the end of input).
CliCapture RunCliInProcess(const std::vector<std::string>& args, AdapterLock& lock,
                           std::function<plat::ConsoleWait(bool, uint32_t)> wait = nullptr);
