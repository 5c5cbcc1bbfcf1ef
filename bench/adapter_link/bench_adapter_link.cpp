// Host cost of the adapter link: full exchanges through the in-process provider against an
// adapter that answers at once, and a 1 MiB FlashWrite.
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

namespace {

// Answers every request at once with status 0 (and one spare byte where accepted).
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

std::string Register(const char* name) {
    std::string path = std::string(plat::kInprocPathPrefix) + name;
    plat::InprocRegister(path, std::make_shared<EchoAdapter>(), &VEXIL_INTERFACE_GUID);
    return path;
}

void BM_FullExchange(benchmark::State& state) {
    std::string path = Register("bench-exchange");
    {
        AdapterChannel channel(path.c_str());
        for (auto _ : state) {
            if (!channel.TargetChipReset())
                state.SkipWithError("exchange failed");
        }
        state.SetItemsProcessed(state.iterations());
    }
    plat::InprocUnregister(path);
}
BENCHMARK(BM_FullExchange);

void BM_FlashWrite1MiB(benchmark::State& state) {
    std::string path = Register("bench-write");
    {
        CFlashApi api(path.c_str());
        CTargetInfo info;
        info.areaCount = 1;
        info.areas[0] = {0, 0x100000 - 1};
        info.blockSize = 0x10000;
        api.setTargetInfo(info);
        std::vector<uint8_t> image(0x100000, 0x5A);
        for (auto _ : state) {
            if (!api.FlashWrite(0, 0xFFFFF, 0, image.data()))
                state.SkipWithError("write failed");
        }
        state.SetBytesProcessed(state.iterations() * int64_t{0x100000});
    }
    plat::InprocUnregister(path);
}
BENCHMARK(BM_FlashWrite1MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
