// Host cost of FlashWriteAll: 1 MiB to 1, 8 and 32 in-process simulated adapters that answer
// at once, so what is measured is the library, the platform layer and the simulator, not
// any flash timing. Reported per target and per write frame (one request and its reply).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "brindlex/brindlex.h"
#include "vexilsim/inproc_adapter.h"

namespace {

constexpr uint32_t kImageSize = 0x100000;
constexpr uint32_t kChunk = 1000;

// Eight blocks of 128 KiB in one area. Bit 30 of targetId00 codes the block size as a shift
// (2048 << 6), so the plug sequence accepts it as it would a real chip.
CTargetInfo MegabyteTarget() {
    CTargetInfo info;
    std::strcpy(info.name, "QX64H1M0");
    std::strcpy(info.version, "1.10");
    info.targetIdBitNum = 64;
    info.targetId00 = 0x40001234;
    info.targetId32 = 0x00060800;
    info.areaCount = 1;
    info.areas[0] = {0, kImageSize - 1};
    info.blockSize = 0x20000;
    info.sizeFromBits10 = 512;
    info.sizeFromBits13 = 512;
    return info;
}

void BM_FlashWriteAll1MiB(benchmark::State& state) {
    const int targets = static_cast<int>(state.range(0));
    CTargetInfo info = MegabyteTarget();
    TRGINFO set{1, &info};
    vexilsim::SimBench bench(info, targets, &VEXIL_INTERFACE_GUID);
    for (int i = 0; i < targets; ++i) {
        bench.adapter(i).timing = vexilsim::SimTiming{0, 0, 0};
        bench.adapter(i).setTraceEnabled(false);
    }
    if (ApiCreateConnect() != 1) {
        state.SkipWithError("no connection");
        return;
    }
    for (int n = 1; n <= targets; ++n) {
        uint16_t protect = 1;
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiSysResetPlug(n);
        ApiCheckTargetName(n, &set, info.name);
        ApiSetTargetPlugStatus(n, PLUG_IDENTIFIED);
        ApiCheckFirm(n);
        ApiObj.IsTargetProtected(n, protect);
    }
    int ready = 0;
    for (int n = 1; n <= targets; ++n) {
        int flag = 0;
        ApiIsTargetPlugSuccess(n, &flag);
        ready += flag;
    }
    if (ready != targets) {
        state.SkipWithError("not every target plugged");
        ApiDelConnect();
        return;
    }

    std::vector<uint8_t> image(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i) {
        image[i] = static_cast<uint8_t>(i * 31 + (i >> 11));
    }
    for (auto _ : state) {
        ApiFlashWriteAll(0, kImageSize - 1, 0, image.data());
    }
    for (int n = 1; n <= targets; ++n) {
        int status = 0;
        ApiGetTargetStatus(n, &status);
        if (status != 0 ||
            std::memcmp(bench.chip(n - 1).contents().data(), image.data(), kImageSize) != 0) {
            state.SkipWithError("a target was not written");
        }
    }
    ApiDelConnect();

    const double frames = double(targets) * ((kImageSize + kChunk - 1) / kChunk);
    using benchmark::Counter;
    state.counters["per_target"] =
        Counter(targets, Counter::kIsIterationInvariantRate | Counter::kInvert);
    state.counters["per_frame"] =
        Counter(frames, Counter::kIsIterationInvariantRate | Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * int64_t{kImageSize} * targets);
}
BENCHMARK(BM_FlashWriteAll1MiB)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
