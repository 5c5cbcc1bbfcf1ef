// One Program cycle's library traffic (plug, WRITE of a 256 KiB image, VERIFY's read-back one
// target after another, unplug), through the flat API in the order the writer calls it, on 8
// QX32G512 adapters at the demo's timing with 1 us per byte read. Arg 0: all answer; arg 1:
// vexil-03 stops answering in the middle of the write. Goal: the silent adapter costs one read
// time-out (10 s) on top of the healthy cycle; it used to cost one per operation that asks it
// (the write, its error indication, the read, the second error indication, the unplug reset).
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "programdata/target_geometry.h"
#include "sim_daemon.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTargets = 8;
constexpr uint32_t kImageSize = 256 * 1024;
constexpr uint32_t kBlockSize = 32 * 1024;
constexpr const char* kTiming =
    "LATENCY_US=200\nERASE_BLOCK_US=20000\nWRITE_BYTE_NS=10000\nREAD_BYTE_NS=1000\n";
// Its plug takes six requests (two resets, identity, target information, firmware,
// protection); the seventh erases the first block, the 14th is the write of its seventh KiB.
constexpr const char* kSilent = "FAULT1=NO-REPLY AT 14 TIMES ALL\n";

int Status(int n) {
    int status = -1;
    ApiGetTargetStatus(n, &status);
    return status;
}

// The writer's Write and Verify (without the log and the window), then Unplug. Returns the
// targets whose status ended at 0 after the read.
int Cycle(const std::vector<uint8_t>& image, std::vector<uint8_t>& buffer) {
    static CTargetInfo info = bench::ExampleTarget("QX32G512");
    const auto size = static_cast<uint32_t>(buffer.size());
    if (!bench::PlugAll(info, kTargets))
        return -1;
    for (uint32_t start = 0; start < kImageSize; start += kBlockSize) {
        ApiFlashEraseBlockAll(start);
        ApiFlashWriteAll(start, start + kBlockSize - 1, start, image.data());
    }
    for (int n = 1; n <= kTargets; ++n)
        ApiUpdateErrorTargetLED(n);
    // Verify starts by clearing the statuses of the plugged targets.
    for (int n = 1; n <= kTargets; ++n)
        ApiSetTargetStatus(n, 0);
    int ok = 0;
    for (int n = 1; n <= kTargets; ++n) {
        uint32_t count = 0;
        ApiFlashRead(n, size, &count, buffer.data());
        ok += Status(n) == 0 ? 1 : 0;
    }
    for (int n = 1; n <= kTargets; ++n)
        ApiUpdateErrorTargetLED(n);
    ApiObj.SysResetAll();
    for (int n = 1; n <= kTargets; ++n)
        ApiSetTargetPlugStatus(n, PLUG_NONE);
    return ok;
}

void BM_ProgramCycleTraffic(benchmark::State& state) {
    const bool silent = state.range(0) != 0;
    bench::SimDaemon daemon("[DEFAULTS]\nTRG=QX32G512\n" + std::string(kTiming) +
                                "[ADAPTER1]\nNAME=vexil-0\nCOUNT=2\n[ADAPTER2]\nNAME=vexil-03\n" +
                                (silent ? kSilent : "") + "[ADAPTER3]\nNAME=vexil-1\nCOUNT=5\n",
                            3);
    std::vector<uint8_t> image(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    // The packed flash areas, as Verify reads them.
    programdata::TargetGeometry geometry;
    programdata::ComputeTargetGeometry(bench::ExampleTarget("QX32G512"), geometry);
    std::vector<uint8_t> buffer(geometry.packedSize);
    for (auto _ : state) {
        const auto start = Clock::now();
        const int ok = Cycle(image, buffer);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (ok != kTargets - (silent ? 1 : 0)) {
            state.SkipWithError("unexpected outcome");
            return;
        }
    }
    state.counters["silent"] = silent ? 1 : 0;
}
BENCHMARK(BM_ProgramCycleTraffic)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
