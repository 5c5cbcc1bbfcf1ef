// Host cost of the adapter link: full exchanges and a 1 MiB FlashWrite through the
// in-process provider, against the simulated adapter (which answers at once in-process) and,
// to separate the library's and platform's share, against a bare echo device.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adapter_channel.h"
#include "brindlex/flash_api.h"
#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/vexil_protocol.h"
#include "platform/inproc_device.h"
#include "vexilsim/inproc_adapter.h"

namespace {

// Answers every request at once with status 0 and nothing else.
class EchoAdapter : public plat::InprocDevice {
  public:
    plat::InprocIo Write(const uint8_t* data, uint32_t length) override {
        reply_.assign(vexil::kHeaderSize + 2, 0);
        std::memcpy(reply_.data(), vexil::kReplyMagic, 4);
        reply_[vexil::kOffVersion] = vexil::kFrameVersion;
        reply_[vexil::kOffSequence] = data[vexil::kOffSequence];
        vexil::PutLE32(reply_.data() + vexil::kOffLength, 2);
        return plat::InprocIo::Now(length);
    }
    plat::InprocIo Read(uint8_t* buffer, uint32_t length) override {
        if (reply_.empty())
            return plat::InprocIo::Never();
        uint32_t n = static_cast<uint32_t>(reply_.size());
        std::memcpy(buffer, reply_.data(), n);
        reply_.clear();
        return plat::InprocIo::Now(n);
    }

  private:
    std::vector<uint8_t> reply_;
};

std::string RegisterEcho(const char* name) {
    std::string path = std::string(plat::kInprocPathPrefix) + name;
    plat::InprocRegister(path, std::make_shared<EchoAdapter>(), &VEXIL_INTERFACE_GUID);
    return path;
}

// One megabyte of flash in one area: eight blocks of 128 KiB.
CTargetInfo MegabyteTarget() {
    CTargetInfo info;
    std::strcpy(info.name, "BENCH1");
    info.targetIdBitNum = 64;
    info.targetId32 = 0x00000800;
    info.areaCount = 1;
    info.areas[0] = {0, 0x100000 - 1};
    info.blockSize = 0x20000;
    return info;
}

void Exchanges(benchmark::State& state, const std::string& path) {
    AdapterChannel channel(path.c_str());
    for (auto _ : state) {
        if (!channel.TargetChipReset())
            state.SkipWithError("exchange failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void Write1MiB(benchmark::State& state, const std::string& path) {
    CFlashApi api(path.c_str());
    api.setTargetInfo(MegabyteTarget());
    std::vector<uint8_t> image(0x100000, 0x5A);
    for (auto _ : state) {
        if (!api.FlashWrite(0, 0xFFFFF, 0, image.data()))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(state.iterations() * int64_t{0x100000});
}

void BM_FullExchange_Sim(benchmark::State& state) {
    vexilsim::SimBench bench(MegabyteTarget(), 1, &VEXIL_INTERFACE_GUID);
    Exchanges(state, bench.path(0));
}
BENCHMARK(BM_FullExchange_Sim);

void BM_FullExchange_Echo(benchmark::State& state) {
    std::string path = RegisterEcho("bench-exchange");
    Exchanges(state, path);
    plat::InprocUnregister(path);
}
BENCHMARK(BM_FullExchange_Echo);

void BM_FlashWrite1MiB_Sim(benchmark::State& state) {
    vexilsim::SimBench bench(MegabyteTarget(), 1, &VEXIL_INTERFACE_GUID);
    Write1MiB(state, bench.path(0));
}
BENCHMARK(BM_FlashWrite1MiB_Sim)->Unit(benchmark::kMillisecond);

void BM_FlashWrite1MiB_Echo(benchmark::State& state) {
    std::string path = RegisterEcho("bench-write");
    Write1MiB(state, path);
    plat::InprocUnregister(path);
}
BENCHMARK(BM_FlashWrite1MiB_Echo)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
