#pragma once
// quorvel-cli as a child process with no display in its environment and no user's registry
// path, standard output and error read together as they come.
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace e2e {

std::string CliPath();

class CliProcess {
  public:
    // Runs quorvel-cli with args in dir.
    CliProcess(const std::vector<std::string>& args, const std::string& dir);
    ~CliProcess() { Wait(); }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Reads until the output holds text; false when it ended first.
    bool WaitFor(const std::string& text);
    void Signal(int signal);
    // Reads to the end: the exit code, or -1.
    int Wait();
    const std::string& output() const { return output_; }

  private:
    std::FILE* pipe_ = nullptr;
    pid_t pid_ = -1;
    std::string output_;
};

struct CliResult {
    int code = -1;
    std::string output;
};
CliResult RunCli(const std::vector<std::string>& args, const std::string& dir);

}  // namespace e2e
