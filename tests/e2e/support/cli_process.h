#pragma once
// quorvel-cli as a child process with no display in its environment: its standard error read
// as it comes, its standard output kept in a file. Killed and reaped by the destructor.
#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

class CliProcess {
  public:
    // Runs quorvel-cli with args in dir (which also holds its standard output and an empty
    // configuration directory, so that no registry path of the user is seen).
    CliProcess(const std::vector<std::string>& args, const std::string& dir);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Waits (at most 60 s) until standard error holds text.
    bool WaitForErr(const std::string& text);
    void Signal(int signal);
    // Waits (at most 120 s) for the exit: its exit code, or -1.
    int Wait();

    const std::string& err() const { return err_; }
    std::string out() const;

  private:
    bool ReadErr(int ms);

    pid_t pid_ = -1;
    int errFd_ = -1;
    std::string outPath_;
    std::string err_;
};

// The quorvel-cli executable of this build.
std::string CliPath();

struct CliResult {
    int code = -1;
    std::string out, err;
};
CliResult RunCli(const std::vector<std::string>& args, const std::string& dir);

}  // namespace e2e
