// Whole-system figures against a vexil-sim process, through the flat API as the writer
// drives it:
// - Parallelism: a 256 KiB image erased block by block (ApiFlashEraseBlockAll) and written
//   (ApiFlashWriteAll) with adapter timing of 20 ms per erased block, 10 us per written byte
//   and 200 us per command, to 1, 8 and 32 adapters. Goal: 32 adapters take at most 1.25
//   times as long as one.
// - Host throughput: the same image to 32 adapters that answer at once. Goal: at least
//   35 MB/s of flash data in total.
// Each benchmark starts its own daemon in a private device directory.
#include <benchmark/benchmark.h>
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
#include <string>
#include <vector>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "target_info_file.h"

namespace {

constexpr uint32_t kImageSize = 256 * 1024;
constexpr uint32_t kBlockSize = 32 * 1024;  // QX32G512: its first 256 KiB are one area

// A daemon serving count adapters of the given timing, stopped on destruction.
class Daemon {
  public:
    Daemon(int count, const std::string& timing) {
        char pattern[] = "/tmp/bench-sim-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp");
        dir_ = pattern;
        std::string setup = dir_ + "/setup.ini";
        std::ofstream(setup) << "[SIMULATOR]\nADAPTERS=1\nTRGDIR=" << QUORVEL_SOURCE_DIR
                             << "/examples/TRG\n[ADAPTER1]\nTRG=QX32G512\nCOUNT=" << count << "\n"
                             << timing;
        std::string devices = dir_ + "/dev";
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
        if (::poll(&p, 1, 30000) != 1 || ::read(out[0], buf, sizeof buf - 1) < 5)
            throw std::runtime_error("vexil-sim did not start");
        ::close(out[0]);
    }
    ~Daemon() {
        ApiDelConnect();
        ::kill(pid_, SIGTERM);
        int status;
        ::waitpid(pid_, &status, 0);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

  private:
    std::string dir_;
    pid_t pid_ = -1;
};

// The writer's plug sequence; false unless every target ends ready.
bool PlugAll(int expected) {
    static CTargetInfo info = [] {
        CTargetInfo i;
        std::string error;
        if (!ReadTargetInfoFileAt(std::string(QUORVEL_SOURCE_DIR) + "/examples/TRG/QX32G512.TRG", i,
                                  error))
            throw std::runtime_error(error);
        return i;
    }();
    TRGINFO set{1, &info};
    ApiDelConnect();
    int count = 0;
    if (ApiCreateConnect() != 1 || !ApiGetTargetNum(&count) || count != expected)
        return false;
    for (int n = 1; n <= count; ++n) {
        int status = -1;
        ApiSetEnableFlg(n, 1);
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiSysResetPlug(n);
        ApiCheckTargetName(n, &set, info.name);
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

std::vector<uint8_t> Image() {
    std::vector<uint8_t> image(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    return image;
}

bool AllOk(int count) {
    for (int n = 1; n <= count; ++n) {
        int status = -1;
        ApiGetTargetStatus(n, &status);
        if (status != 0)
            return false;
    }
    return true;
}

// Erase and write block by block, as the writer does.
void EraseAndWrite(const std::vector<uint8_t>& image) {
    for (uint32_t start = 0; start < kImageSize; start += kBlockSize) {
        ApiFlashEraseBlockAll(start);
        ApiFlashWriteAll(start, start + kBlockSize - 1, start, image.data());
    }
}

// Erases and writes the image on `adapters` targets per iteration, with the daemon's timing.
void MeasureWrites(benchmark::State& state, const char* timing) {
    const int count = static_cast<int>(state.range(0));
    Daemon daemon(count, timing);
    if (!PlugAll(count)) {
        state.SkipWithError("plug failed");
        return;
    }
    const auto image = Image();
    for (auto _ : state) {
        EraseAndWrite(image);
        if (!AllOk(count)) {
            state.SkipWithError("a target failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageSize * count);
    state.counters["adapters"] = count;
}

void BM_ParallelWrite(benchmark::State& state) {
    MeasureWrites(state, "LATENCY_US=200\nERASE_BLOCK_US=20000\nWRITE_BYTE_NS=10000\n");
}
BENCHMARK(BM_ParallelWrite)
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Erasing costs no time here and keeps the NOR contents writable.
void BM_HostThroughput(benchmark::State& state) {
    MeasureWrites(state, "LATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n");
}
BENCHMARK(BM_HostThroughput)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
