#include "sim_daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/trg_file.h"

namespace bench {

std::string ExampleTrgDir() {
    return std::string(QUORVEL_SOURCE_DIR) + "/examples/TRG";
}

CTargetInfo ExampleTarget(const std::string& name) {
    CTargetInfo info;
    std::string error;
    if (!ReadTargetInfoFileAt(ExampleTrgDir() + "/" + name + ".TRG", info, error))
        throw std::runtime_error(error);
    return info;
}

bool PlugAll(CTargetInfo& target, int expected) {
    TRGINFO set{1, &target};
    ApiDelConnect();
    int count = 0;
    if (ApiCreateConnect() != 1 || !ApiGetTargetNum(&count) || count != expected)
        return false;
    for (int n = 1; n <= count; ++n) {
        int status = -1;
        ApiSetEnableFlg(n, 1);
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiSysResetPlug(n);
        ApiCheckTargetName(n, &set, target.name);
        ApiSetTargetPlugStatus(n, PLUG_IDENTIFIED);
        ApiCheckFirm(n);
        uint16_t protect = 1;
        ApiObj.IsTargetProtected(n, protect);
        int ready = 0;
        ApiGetTargetStatus(n, &status);
        ApiIsTargetPlugSuccess(n, &ready);
        if (status != 0 || !ready)
            return false;
    }
    return true;
}

SimDaemon::SimDaemon(const std::string& adapters, int sections) {
    char pattern[] = "/tmp/bench-sim-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    const std::string setup = dir_ + "/setup.ini";
    std::ofstream(setup) << "[SIMULATOR]\nADAPTERS=" << sections << "\nTRGDIR=" << ExampleTrgDir()
                         << "\n"
                         << adapters;
    const std::string devices = dir_ + "/dev";
    ::setenv("VEXIL_DEVICE_DIR", devices.c_str(), 1);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(VEXIL_SIM_PATH, VEXIL_SIM_PATH, "--device-dir", devices.c_str(), setup.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    // "ready" once every socket listens.
    char buf[16] = {};
    pollfd p{out[0], POLLIN, 0};
    const bool ready = ::poll(&p, 1, 30000) == 1 && ::read(out[0], buf, sizeof buf - 1) >= 5;
    ::close(out[0]);
    if (!ready)
        throw std::runtime_error("vexil-sim did not start");
}

SimDaemon::~SimDaemon() {
    ApiDelConnect();
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

}  // namespace bench
