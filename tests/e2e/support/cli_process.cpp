#include "support/cli_process.h"

#include <signal.h>
#include <sys/wait.h>

namespace e2e {

std::string CliPath() {
    return QUORVEL_CLI_PATH;
}

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& dir) {
    // The shell tells its process id, then becomes quorvel-cli.
    std::string command = "cd '" + dir + "' && mkdir -p cli-config && env -u DISPLAY -u " +
                          "WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME='" + dir +
                          "/cli-config' sh -c 'echo $$; exec \"$0\" \"$@\"' '" + CliPath() + "'";
    for (const std::string& a : args)
        command += " '" + a + "'";
    pipe_ = ::popen((command + " </dev/null 2>&1").c_str(), "r");
    char line[64];
    if (pipe_ != nullptr && std::fgets(line, sizeof line, pipe_) != nullptr)
        pid_ = pid_t(std::atoi(line));
}

bool CliProcess::WaitFor(const std::string& text) {
    char line[4096];
    while (output_.find(text) == std::string::npos) {
        if (pipe_ == nullptr || std::fgets(line, sizeof line, pipe_) == nullptr)
            return false;
        output_ += line;
    }
    return true;
}

void CliProcess::Signal(int signal) {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

int CliProcess::Wait() {
    if (pipe_ == nullptr)
        return -1;
    WaitFor(std::string(1, '\0'));  // to the end
    const int status = ::pclose(pipe_);
    pipe_ = nullptr;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& dir) {
    CliProcess process(args, dir);
    const int code = process.Wait();
    return {code, process.output()};
}

}  // namespace e2e
