// The Program cycle (plug, WRITE, unplug) of a 256 KiB image on 32 QX32G512 adapters at the
// demo's timing (200 us per command, 20 ms per erased block, 10 us per written byte):
// - through quorvel-cli, the whole process each time (start, TRG files, settings, program
//   file, the "Vexil" mutex, log), in simple mode so that Write does not verify;
// - the same plug, block loop and reset driven directly through the flat API.
// Goal: the process within 1.05 times of the flat API.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "sim_daemon.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAdapters = 32;
constexpr uint32_t kImageSize = 256 * 1024;
constexpr const char* kDaemon =
    "[ADAPTER1]\nTRG=QX32G512\nCOUNT=32\nLATENCY_US=200\nERASE_BLOCK_US=20000\n"
    "WRITE_BYTE_NS=10000\n";

uint8_t ImageByte(uint32_t address) {
    return uint8_t(address * 7 + (address >> 9));
}

// The image as an Intel HEX file: extended address records and 16 bytes a line.
std::string HexImage() {
    std::string hex;
    char line[64];
    for (uint32_t at = 0; at < kImageSize; at += 16) {
        if (at % 0x10000 == 0) {
            std::snprintf(line, sizeof line, ":02000004%04X%02X\n", unsigned(at >> 16),
                          unsigned(uint8_t(-(6 + (at >> 16)))));
            hex += line;
        }
        uint8_t sum = uint8_t(16 + (at >> 8) + at);
        std::snprintf(line, sizeof line, ":10%04X00", unsigned(at & 0xFFFF));
        hex += line;
        for (uint32_t i = 0; i < 16; ++i) {
            std::snprintf(line, sizeof line, "%02X", ImageByte(at + i));
            hex += line;
            sum = uint8_t(sum + ImageByte(at + i));
        }
        std::snprintf(line, sizeof line, "%02X\n", unsigned(uint8_t(-sum)));
        hex += line;
    }
    return hex + ":00000001FF\n";
}

bool AllOk() {
    for (int n = 1; n <= kAdapters; ++n) {
        int status = -1;
        if (ApiGetTargetStatus(n, &status) == 0 || status != 0)
            return false;
    }
    return true;
}

// The writer's cycle: its plug sequence, erase and program every block that meets an area,
// reset every target.
bool FlatCycle(const std::vector<uint8_t>& image) {
    static CTargetInfo info = bench::ExampleTarget("QX32G512");
    if (!bench::PlugAll(info, kAdapters))
        return false;
    const uint32_t blockSize = uint32_t(info.blockSize);
    uint32_t limit = 0;
    for (uint32_t a = 0; a < info.areaCount; ++a)
        limit = std::max(limit, info.areas[a].end);
    for (uint32_t b = 0; b <= limit / blockSize; ++b) {
        const uint64_t first = uint64_t(b) * blockSize, last = first + blockSize - 1;
        bool erased = false;
        for (uint32_t a = 0; a < info.areaCount; ++a) {
            const TargetArea& area = info.areas[a];
            if (area.end < first || area.start > last)
                continue;
            const uint32_t from = uint32_t(std::max<uint64_t>(first, area.start));
            const uint32_t to = uint32_t(std::min<uint64_t>(last, area.end));
            if (!erased)
                ApiFlashEraseBlockAll(from);
            erased = true;
            ApiFlashWriteAll(from, to, from, image.data());
        }
    }
    const bool ok = AllOk();
    ApiObj.SysResetAll();
    for (int n = 1; n <= kAdapters; ++n)
        ApiSetTargetPlugStatus(n, PLUG_NONE);
    return ok;
}

void BM_ProgramCycleFlatApi(benchmark::State& state) {
    bench::SimDaemon daemon(kDaemon, 1);
    std::vector<uint8_t> image(0x80000, 0xFF);
    for (uint32_t i = 0; i < kImageSize; ++i)
        image[i] = ImageByte(i);
    for (auto _ : state) {
        if (!FlatCycle(image)) {
            state.SkipWithError("the cycle failed");
            return;
        }
    }
    ApiDelConnect();
    state.counters["adapters"] = kAdapters;
}
BENCHMARK(BM_ProgramCycleFlatApi)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProgramCycleCli(benchmark::State& state) {
    bench::SimDaemon daemon(kDaemon, 1);
    const fs::path dir = daemon.dir();
    std::ofstream(dir / "image.hex") << HexImage();
    std::ofstream(dir / "write.cd8") << "WRITE\n";
    std::ofstream(dir / "Quorvel.ini")
        << "[Settings]\r\nTRGNAME=QX32G512\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0="
        << (dir / "image.hex").string() << "\r\nCOMFILENAME=" << (dir / "write.cd8").string()
        << "\r\nLOGFILENAME=" << (dir / "Quorvel.log").string() << "\r\n";
    const std::string command = std::string(QUORVEL_CLI_PATH) + " program --settings " +
                                (dir / "Quorvel.ini").string() + " >/dev/null 2>" +
                                (dir / "cli.err").string();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("quorvel-cli failed, see cli.err");
            return;
        }
    }
    state.counters["adapters"] = kAdapters;
}
BENCHMARK(BM_ProgramCycleCli)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
