#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "brindlex/api.h"
#include "brindlex/trg_file.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

constexpr int kLimitMs = 30000;

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vexil-e2e-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

SimProcess::SimProcess(const TempDir& dir, const std::string& setupPath,
                       std::vector<std::string> extraArgs)
    : deviceDir_(dir / "dev"), dumpDir_(dir / "dump"), logPath_(dir / "vexil-sim.log") {
    ::setenv("VEXIL_DEVICE_DIR", deviceDir_.c_str(), 1);
    std::vector<std::string> args = {VEXIL_SIM_PATH, "--device-dir", deviceDir_, "--dump-dir",
                                     dumpDir_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    args.push_back(setupPath);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // No daemon outlives a test process that crashed or was killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0)
            ::dup2(log, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
}

SimProcess::~SimProcess() {
    int status = 0;
    if (pid_ > 0 && !Stop(SIGTERM, status))
        Stop(SIGKILL, status);
    if (out_ >= 0)
        ::close(out_);
}

bool SimProcess::WaitForLine(const std::string& line, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        size_t nl;
        while ((nl = pending_.find('\n')) != std::string::npos) {
            std::string got = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            if (got == line)
                return true;
        }
        pollfd p{out_, POLLIN, 0};
        int left = MsLeft(deadline);
        if (left == 0 || ::poll(&p, 1, left) <= 0)
            return false;
        char buf[256];
        ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0)
            return false;  // the daemon ended
        pending_.append(buf, static_cast<size_t>(n));
    }
}

bool SimProcess::Start(std::string& error) {
    if (pid_ <= 0 || out_ < 0) {
        error = "cannot start vexil-sim";
        return false;
    }
    if (!WaitForLine("ready", kLimitMs)) {
        error = "vexil-sim did not get ready:\n" + Log();
        return false;
    }
    return true;
}

bool SimProcess::Dump() {
    Signal(SIGUSR1);
    return WaitForLine("dumped", kLimitMs);
}

void SimProcess::Signal(int signal) {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

bool SimProcess::Reap(int ms, int& status) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            return true;
        }
        // The daemon's standard output closes when it exits: wait on that, not on a clock.
        pollfd p{out_, POLLIN, 0};
        int left = MsLeft(deadline);
        if (left == 0)
            return false;
        if (::poll(&p, 1, std::min(left, 100)) > 0) {
            char buf[256];
            ssize_t n = ::read(out_, buf, sizeof buf);
            if (n > 0)
                pending_.append(buf, static_cast<size_t>(n));
        }
    }
}

bool SimProcess::Stop(int signal, int& status) {
    if (pid_ <= 0)
        return true;
    ::kill(pid_, signal);
    return Reap(kLimitMs, status);
}

std::string SimProcess::DumpPath(const std::string& adapterName) const {
    return dumpDir_ + "/" + adapterName + ".bin";
}

std::string SimProcess::Log() const {
    std::ifstream in(logPath_);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ExampleDir() {
    return std::string(QUORVEL_SOURCE_DIR) + "/examples";
}

CTargetInfo ExampleTarget(const std::string& name) {
    CTargetInfo info;
    std::string error;
    if (!ReadTargetInfoFileAt(ExampleDir() + "/TRG/" + name + ".TRG", info, error))
        throw std::runtime_error(error);
    return info;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

int Status(int n) {
    int status = -1;
    ApiGetTargetStatus(n, &status);
    return status;
}

int PlugState(int n) {
    int state = -1;
    ApiGetTargetPlugStatus(n, &state);
    return state;
}

}  // namespace e2e
