// vexil-sim: serves the simulated adapters of a setup file as Unix domain sockets in the
// device directory, where the socket device provider of every program finds them.
#include <getopt.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "brindlex/trg_connect_ctrl.h"
#include "platform/file_content.h"
#include "platform/socket_device.h"
#include "vexilsim/sim_server.h"

namespace {

void Usage(FILE* out) {
    std::fputs(
        "usage: vexil-sim [options] SETUP-FILE\n"
        "\n"
        "Serves the simulated Vexil adapters described in SETUP-FILE, one Unix domain socket\n"
        "per adapter in the device directory. Prints \"ready\" when every socket listens.\n"
        "\n"
        "  --device-dir DIR   where the sockets go (default $VEXIL_DEVICE_DIR, else\n"
        "                     $XDG_RUNTIME_DIR/vexil, else /tmp/vexil-<uid>); it must belong\n"
        "                     to the user and be writable by nobody else\n"
        "  --dump-dir DIR     write every chip's flash to DIR/<adapter name>.bin at exit and\n"
        "                     on SIGUSR1 (prints \"dumped\" after each SIGUSR1 dump)\n"
        "  --trace[=FILE]     log every frame to standard error, or to FILE\n"
        "  --ready-file FILE  create FILE when every socket listens; removed at exit\n"
        "  --help             show this text\n"
        "\n"
        "SIGINT or SIGTERM stops the simulator and removes its sockets.\n",
        out);
}

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    enum { kDeviceDir = 1, kDumpDir, kTrace, kReadyFile, kHelp };
    static const option options[] = {
        {"device-dir", required_argument, nullptr, kDeviceDir},
        {"dump-dir", required_argument, nullptr, kDumpDir},
        {"trace", optional_argument, nullptr, kTrace},
        {"ready-file", required_argument, nullptr, kReadyFile},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    std::string deviceDir = plat::SocketDeviceDirectory();
    std::string dumpDir;
    std::string readyFile;
    FILE* trace = nullptr;
    bool traceToFile = false;
    for (int opt; (opt = ::getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        switch (opt) {
            case kDeviceDir:
                deviceDir = optarg;
                while (deviceDir.size() > 1 && deviceDir.back() == '/')
                    deviceDir.pop_back();
                break;
            case kDumpDir:
                dumpDir = optarg;
                break;
            case kTrace:
                if (optarg != nullptr && *optarg != '\0') {
                    trace = std::fopen(optarg, "w");
                    if (trace == nullptr) {
                        std::fprintf(stderr, "vexil-sim: cannot write %s: %s\n", optarg,
                                     std::strerror(errno));
                        return 2;
                    }
                    traceToFile = true;
                } else {
                    trace = stderr;
                }
                break;
            case kReadyFile:
                readyFile = optarg;
                break;
            case kHelp:
                Usage(stdout);
                return 0;
            default:
                Usage(stderr);
                return 2;
        }
    }
    if (optind != argc - 1) {
        Usage(stderr);
        return 2;
    }
    if (trace != nullptr)
        std::setvbuf(trace, nullptr, _IOLBF, 0);

    std::vector<vexilsim::AdapterSetup> adapters;
    std::string error;
    if (!vexilsim::LoadSetup(argv[optind], adapters, error)) {
        std::fprintf(stderr, "vexil-sim: %s\n", error.c_str());
        return 1;
    }

    // Signals arrive through the event loop; a host that goes away must not kill us.
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGUSR1);
    sigaddset(&mask, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &mask, nullptr);
    int signalFd = ::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        std::fprintf(stderr, "vexil-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    vexilsim::ServerOptions so;
    so.deviceDir = deviceDir;
    so.dumpDir = dumpDir;
    so.trace = trace;
    so.interfaceClass = VEXIL_INTERFACE_GUID;
    so.signalFd = signalFd;
    so.notify = Say;
    int status = 0;
    {
        vexilsim::SimServer server(std::move(adapters), so);
        if (!server.Listen(error)) {
            std::fprintf(stderr, "vexil-sim: %s\n", error.c_str());
            return 1;
        }
        // Renamed into place, so a watcher never reads it half written.
        uint32_t code = 0;
        if (!readyFile.empty() &&
            !plat::ReplaceFileContent(readyFile, std::to_string(::getpid()) + "\n", code)) {
            std::fprintf(stderr, "vexil-sim: cannot write %s (error %u)\n", readyFile.c_str(),
                         code);
            return 1;
        }
        std::fprintf(stderr, "vexil-sim: %zu adapters in %s\n", server.adapters().size(),
                     deviceDir.c_str());
        Say("ready");
        server.Run();
        if (!server.DumpFlash(error)) {
            std::fprintf(stderr, "vexil-sim: %s\n", error.c_str());
            status = 1;
        }
        if (!readyFile.empty())
            ::unlink(readyFile.c_str());
    }
    if (traceToFile)
        std::fclose(trace);
    ::close(signalFd);
    return status;
}
