#include "support/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : int(left.count());
}

}  // namespace

std::string CliPath() {
    return QUORVEL_CLI_PATH;
}

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& dir)
    : outPath_(dir + "/cli-out-" + std::to_string(::getpid()) + ".txt") {
    std::vector<std::string> all = {CliPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string config = dir + "/cli-config";
    ::mkdir(config.c_str(), 0700);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || ::chdir(dir.c_str()) != 0)
            ::_exit(127);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    errFd_ = fds[0];
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (errFd_ >= 0)
        ::close(errFd_);
    ::unlink(outPath_.c_str());
}

bool CliProcess::ReadErr(int ms) {
    pollfd p{errFd_, POLLIN, 0};
    if (errFd_ < 0 || ::poll(&p, 1, ms) <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(errFd_, buffer, sizeof buffer);
    if (n <= 0) {
        ::close(errFd_);
        errFd_ = -1;
        return false;
    }
    err_.append(buffer, size_t(n));
    return true;
}

bool CliProcess::WaitForErr(const std::string& text) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (err_.find(text) == std::string::npos) {
        if (errFd_ < 0 || MsLeft(deadline) == 0)
            return false;
        ReadErr(MsLeft(deadline));
    }
    return true;
}

void CliProcess::Signal(int signal) {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

int CliProcess::Wait() {
    // Standard error closes when the program ends: wait on that, not on a clock.
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (errFd_ >= 0 && MsLeft(deadline) > 0)
        ReadErr(MsLeft(deadline));
    int status = 0;
    if (pid_ <= 0 || errFd_ >= 0 || ::waitpid(pid_, &status, 0) != pid_)
        return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CliProcess::out() const {
    std::ifstream in(outPath_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& dir) {
    CliProcess process(args, dir);
    CliResult result;
    result.code = process.Wait();
    result.out = process.out();
    result.err = process.err();
    return result;
}

}  // namespace e2e
