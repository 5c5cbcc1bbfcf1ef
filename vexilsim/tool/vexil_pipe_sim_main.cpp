// vexil-pipe-sim: vexil-sim's counterpart on Windows. Serves the simulated adapters of a setup
// file as named-pipe devices, which the library finds through VEXIL_PIPE_DEVICES.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/console.h"
#include "platform/file_content.h"
#include "vexilsim/pipe_adapter.h"
#include "vexilsim/sim_setup.h"

namespace {

using Served = std::vector<std::unique_ptr<vexilsim::PipeAdapter>>;

void Usage(FILE* out) {
    std::fputs(
        "usage: vexil-pipe-sim [options] SETUP-FILE\n"
        "\n"
        "Serves the simulated Vexil adapters described in SETUP-FILE as named-pipe devices\n"
        "\\\\.\\pipe\\<prefix>\\<adapter name>. Prints each device path, then \"ready\" when "
        "every\n"
        "pipe listens. Enter on standard input dumps the flash (prints \"dumped\"); the end of\n"
        "the input, Ctrl+C or closing the console stops the simulator, which dumps once more.\n"
        "\n"
        "  --prefix NAME      first part of the pipe names (default vexil): letters, digits,\n"
        "                     '-', '_' and '.'\n"
        "  --dump-dir DIR     write every chip's flash to DIR\\<adapter name>.bin\n"
        "  --ready-file FILE  when every pipe listens, write the device paths separated by ';'\n"
        "                     (the value for VEXIL_PIPE_DEVICES) to FILE; removed at exit\n"
        "  --help             show this text\n",
        out);
}

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

bool PlainName(std::string_view name) {
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            return false;
    return true;
}

// Byte i of each file is flash address i. While serving, each copy is taken between frames.
bool DumpFlash(const std::string& dir, const std::vector<vexilsim::AdapterSetup>& adapters,
               const Served& served, std::string& error) {
    if (dir.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (size_t i = 0; i < adapters.size(); ++i)
        if (!vexilsim::WriteFlashDump(dir + "\\" + adapters[i].name + ".bin",
                                      i < served.size() ? served[i]->FlashContents()
                                                        : adapters[i].adapter->chip().contents(),
                                      error))
            return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string prefix = "vexil", dumpDir, readyFile, setup;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) { return i + 1 < argc && !(out = argv[++i]).empty(); };
        if (arg == "--help") {
            Usage(stdout);
            return 0;
        }
        if ((arg == "--prefix" && value(prefix)) || (arg == "--dump-dir" && value(dumpDir)) ||
            (arg == "--ready-file" && value(readyFile)))
            continue;
        if (arg.rfind("--", 0) == 0 || !setup.empty()) {
            Usage(stderr);
            return 2;
        }
        setup = arg;
    }
    if (setup.empty() || !PlainName(prefix)) {
        Usage(stderr);
        return 2;
    }
    std::vector<vexilsim::AdapterSetup> adapters;
    std::string error;
    if (!vexilsim::LoadSetup(setup, adapters, error)) {
        std::fprintf(stderr, "vexil-pipe-sim: %s\n", error.c_str());
        return 1;
    }

    plat::InstallConsoleCancelHandler();
    Served served;
    std::string devices;
    for (const auto& a : adapters) {
        a.adapter->setTraceEnabled(false);  // bounded memory however long it runs
        served.push_back(std::make_unique<vexilsim::PipeAdapter>(
            a.adapter, "\\\\.\\pipe\\" + prefix + "\\" + a.name));
        if (!served.back()->serving()) {
            std::fprintf(stderr, "vexil-pipe-sim: %s\n", served.back()->error().c_str());
            return 1;
        }
        devices += (devices.empty() ? "" : ";") + served.back()->path();
    }
    uint32_t code = 0;
    if (!readyFile.empty() && !plat::ReplaceFileContent(readyFile, devices, code)) {
        std::fprintf(stderr, "vexil-pipe-sim: cannot write %s (error %u)\n", readyFile.c_str(),
                     code);
        return 1;
    }
    for (const auto& s : served)
        Say(s->path());
    Say("ready");

    int status = 0;
    while (plat::WaitForConsole(true, 0) == plat::ConsoleWait::Line) {
        if (DumpFlash(dumpDir, adapters, served, error)) {
            Say("dumped");
        } else {
            std::fprintf(stderr, "vexil-pipe-sim: %s\n", error.c_str());
            status = 1;
        }
    }
    served.clear();
    if (!DumpFlash(dumpDir, adapters, served, error)) {
        std::fprintf(stderr, "vexil-pipe-sim: %s\n", error.c_str());
        status = 1;
    }
    std::error_code ignored;
    if (!readyFile.empty())
        std::filesystem::remove(readyFile, ignored);
    return status;
}
