// Whole-system figures against a vexil-sim process, through the flat API as the writer
// drives it:
// - Parallelism: a 256 KiB image erased block by block (ApiFlashEraseBlockAll) and written
//   (ApiFlashWriteAll) with adapter timing of 20 ms per erased block, 10 us per written byte
//   and 200 us per command, to 1, 8 and 32 adapters. Goal: 32 adapters take at most 1.25
//   times as long as one.
// - Host throughput: the same image to 32 adapters that answer at once. Goal: at least
//   35 MB/s of flash data in total.
// - Read-back: the whole flash of 1, 8 and 32 adapters, as Verify reads it, at the same timing
//   with 1 us per byte read (full-speed USB): all targets at once (FlashReadAll) against one
//   after another (ApiFlashRead per target), with the program's own CPU time per MiB read.
//   Goal: 32 adapters at once within 1.2 times one.
// Each benchmark starts its own daemon in a private device directory.
#include <benchmark/benchmark.h>

#include <time.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "programdata/target_geometry.h"
#include "sim_daemon.h"

namespace {

constexpr uint32_t kImageSize = 256 * 1024;
constexpr uint32_t kBlockSize = 32 * 1024;  // QX32G512: its first 256 KiB are one area

// A daemon serving count QX32G512 adapters of the given timing.
class Daemon : public bench::SimDaemon {
  public:
    Daemon(int count, const std::string& timing)
        : SimDaemon("[ADAPTER1]\nTRG=QX32G512\nCOUNT=" + std::to_string(count) + "\n" + timing, 1) {
    }
};

// The writer's plug sequence; false unless every target ends ready.
bool PlugAll(int expected) {
    static CTargetInfo info = bench::ExampleTarget("QX32G512");
    return bench::PlugAll(info, expected);
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

double CpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Reads every target's flash areas into its own buffer, as Verify does.
void MeasureReads(benchmark::State& state, bool atOnce) {
    const int count = static_cast<int>(state.range(0));
    Daemon daemon(count,
                  "LATENCY_US=200\nERASE_BLOCK_US=20000\nWRITE_BYTE_NS=10000\n"
                  "READ_BYTE_NS=1000\n");
    if (!PlugAll(count)) {
        state.SkipWithError("plug failed");
        return;
    }
    programdata::TargetGeometry geometry;
    programdata::ComputeTargetGeometry(bench::ExampleTarget("QX32G512"), geometry);
    const uint32_t size = geometry.packedSize;
    std::vector<std::vector<uint8_t>> buffers(count, std::vector<uint8_t>(size));
    std::vector<uint8_t*> pointers;
    for (auto& b : buffers)
        pointers.push_back(b.data());
    std::vector<uint32_t> counts(count);
    double cpuMs = 0;
    for (auto _ : state) {
        const double start = CpuMs();
        if (atOnce) {
            ApiObj.FlashReadAll(size, pointers.data(), counts.data(), count, nullptr, nullptr);
        } else {
            for (int n = 1; n <= count; ++n)
                ApiFlashRead(n, size, &counts[n - 1], pointers[n - 1]);
        }
        cpuMs += CpuMs() - start;
        for (int n = 1; n <= count; ++n) {
            if (counts[n - 1] != size || buffers[n - 1][size - 1] != 0xFF || !AllOk(count)) {
                state.SkipWithError("a target was not read");
                return;
            }
        }
    }
    const double mib = double(state.iterations()) * count * size / (1 << 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size * count);
    state.counters["adapters"] = count;
    state.counters["cpu_ms_per_MiB"] = cpuMs / mib;
}

void BM_ReadAllAtOnce(benchmark::State& state) {
    MeasureReads(state, true);
}
BENCHMARK(BM_ReadAllAtOnce)
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ReadOneAfterAnother(benchmark::State& state) {
    MeasureReads(state, false);
}
BENCHMARK(BM_ReadOneAfterAnother)
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
