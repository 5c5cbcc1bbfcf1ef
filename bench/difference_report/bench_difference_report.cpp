// Verify's comparison of a 1 MiB flash image against a plain memcmp of the same range.
//
//   bench_difference_report [--benchmark_* options]
//
// The pump is what the window runs while Verify compares: an empty
// QCoreApplication::processEvents when Qt is there, else a counter. CompareImages pumps once per
// chunk of addresses; PumpPerAddress times one pump for every address of the range, the rate a
// comparison that pumped before every byte could never beat.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "programdata/difference_report.h"

#ifdef QUORVEL_BENCH_QT
#include <QCoreApplication>
#endif

using namespace programdata;

namespace {

constexpr uint32_t kFlashSize = 1u << 20;

struct QuietReporter : ProgramDataReporter {
    void Report(int id, const std::string&, MessageIcon) override {
        std::fprintf(stderr, "message %d\n", id);
    }
};

struct Images {
    Images() {
        geometry.areas = {{0, kFlashSize - 1}};
        geometry.flashLimit = kFlashSize - 1;
        geometry.blockSize = 0x10000;
        geometry.imageSize = kFlashSize;
        write.Allocate(kFlashSize);
        flash.Allocate(kFlashSize);
        for (uint32_t a = 0; a < kFlashSize; ++a)
            write[a] = flash[a] = uint8_t(a * 131 + 7);
    }
    TargetGeometry geometry;
    ProgramImage write, flash;
};

Images& Shared() {
    static Images images;
    return images;
}

uint64_t g_pumps = 0;

bool Pump() {
#ifdef QUORVEL_BENCH_QT
    QCoreApplication::processEvents();
#endif
    ++g_pumps;
    benchmark::ClobberMemory();
    return false;
}

void BM_CompareImages(benchmark::State& state) {
    Images& images = Shared();
    QuietReporter reporter;
    OperationLog log(reporter);  // nothing differs, so nothing is written
    const ComparePump pump = Pump;
    g_pumps = 0;
    for (auto _ : state) {
        uint32_t differences = 0;
        bool same = CompareImages(images.geometry, images.write, images.flash, 0, kFlashSize - 1,
                                  log, pump, differences);
        benchmark::DoNotOptimize(same);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFlashSize);
    state.counters["pumps_per_compare"] = double(g_pumps) / double(state.iterations());
}
BENCHMARK(BM_CompareImages)->Unit(benchmark::kMicrosecond);

void BM_Memcmp(benchmark::State& state) {
    Images& images = Shared();
    for (auto _ : state) {
        int r = std::memcmp(images.write.data(), images.flash.data(), kFlashSize);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFlashSize);
}
BENCHMARK(BM_Memcmp)->Unit(benchmark::kMicrosecond);

void BM_PumpPerAddress(benchmark::State& state) {
    for (auto _ : state)
        for (uint32_t a = 0; a < kFlashSize; ++a)
            benchmark::DoNotOptimize(Pump());
    state.SetBytesProcessed(int64_t(state.iterations()) * kFlashSize);
}
BENCHMARK(BM_PumpPerAddress)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
#ifdef QUORVEL_BENCH_QT
    QCoreApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
