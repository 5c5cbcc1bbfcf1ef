// Program file reading and the checksum against the reference converters.
//
//   bench_program_files [--benchmark_* options]
//
// Generates a 16 MiB Intel HEX file and a 16 MiB S3 file (32 data bytes per record, CR LF
// line ends), reads each into the image of a synthetic 16 MiB target, rebuilds the checksum of
// a 4 MiB target with ten registered files, and converts the same two files to binary with
// objcopy (and srec_cat when installed). The ratios of the converters' times to ours close the
// run.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/locked_file.h"
#include "programdata/program_data.h"

extern char** environ;

using namespace programdata;

namespace {

constexpr size_t kFileSize = 16u << 20;

struct SilentReporter : ProgramDataReporter {
    void Report(int id, const std::string& name, MessageIcon) override {
        std::fprintf(stderr, "message %d %s\n", id, name.c_str());
        ++count;
    }
    int count = 0;
};

struct Files {
    std::string dir;
    std::string hex;
    std::string s3;
    std::vector<std::string> checksumFiles;
    bool haveSrecCat = false;
};
Files g_files;

void AppendByte(std::string& s, uint8_t b) {
    static const char kHex[] = "0123456789ABCDEF";
    s += kHex[b >> 4];
    s += kHex[b & 15];
}

std::string HexLine(uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
    std::string s = ":";
    uint8_t sum = uint8_t(count + (address >> 8) + address + type);
    AppendByte(s, uint8_t(count));
    AppendByte(s, uint8_t(address >> 8));
    AppendByte(s, uint8_t(address));
    AppendByte(s, type);
    for (size_t i = 0; i < count; ++i) {
        AppendByte(s, data[i]);
        sum = uint8_t(sum + data[i]);
    }
    AppendByte(s, uint8_t(0x100 - sum));
    return s + "\r\n";
}

std::string S3Line(uint32_t address, const uint8_t* data, size_t count) {
    std::string s = "S3";
    uint8_t sum = uint8_t(count + 5);
    AppendByte(s, uint8_t(count + 5));
    for (int i = 3; i >= 0; --i) {
        uint8_t b = uint8_t(address >> (8 * i));
        AppendByte(s, b);
        sum = uint8_t(sum + b);
    }
    for (size_t i = 0; i < count; ++i) {
        AppendByte(s, data[i]);
        sum = uint8_t(sum + data[i]);
    }
    AppendByte(s, uint8_t(0xFF - sum));
    return s + "\r\n";
}

uint8_t Pattern(uint32_t address) {
    return uint8_t(address * 2654435761u >> 13);
}

// HEX text of data from start on, 32 bytes per record, until the text reaches size bytes (or
// the data reaches length bytes).
std::string MakeHex(uint32_t start, size_t size, size_t length) {
    std::string text;
    text.reserve(size + 64);
    uint32_t linear = 0xFFFFFFFF;
    uint8_t data[32];
    for (uint32_t a = start; text.size() + 100 < size && a - start < length; a += 32) {
        if ((a >> 16) != linear) {
            linear = a >> 16;
            uint8_t word[2] = {uint8_t(linear >> 8), uint8_t(linear)};
            text += HexLine(4, 0, word, 2);
        }
        for (uint32_t i = 0; i < 32; ++i)
            data[i] = Pattern(a + i);
        text += HexLine(0, uint16_t(a), data, 32);
    }
    return text + ":00000001FF\r\n";
}

std::string MakeS3(size_t size) {
    std::string text = "S00F000068656C6C6F202020202000003C\r\n";
    uint8_t data[32];
    for (uint32_t a = 0; text.size() + 100 < size; a += 32) {
        for (uint32_t i = 0; i < 32; ++i)
            data[i] = Pattern(a + i);
        text += S3Line(a, data, 32);
    }
    return text + "S70500000000FA\r\n";
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Pads a text to exactly size bytes with empty lines, which every reader skips.
std::string PadTo(std::string text, size_t size) {
    while (text.size() + 2 <= size)
        text += "\r\n";
    if (text.size() < size)
        text += "\n";
    return text;
}

CTargetInfo LargeTarget(uint32_t flashLimit) {
    CTargetInfo t{};
    t.targetId00 = 1u << 30;
    t.targetId32 = 5u << 16;             // blocks of 2048 << 5 = 64 KiB
    t.targetId64 = 3u << 10 | 3u << 13;  // no test data area
    t.areaCount = 1;
    t.areas[0] = {0, flashLimit};
    return t;
}

bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ReadFile(benchmark::State& state, const std::string& path) {
    SilentReporter reporter;
    ProgramData data(reporter);
    data.SetTargetGeometry(LargeTarget(0x00FFFFFF));
    plat::LockedFile file;
    if (!file.Open(path)) {
        state.SkipWithError("cannot open the generated file");
        return;
    }
    ReadResult result;
    for (auto _ : state) {
        data.ReadProgramFile(file, path, 0, data.writeImage(), result);
        benchmark::DoNotOptimize(data.writeImage().data());
    }
    bool placed = result.ok && reporter.count == 0 && result.lowestAddress == 0;
    for (uint32_t a = 0; placed && a <= result.highestAddress; a += 4093)
        placed = data.writeImage()[a] == Pattern(a);
    if (!placed)
        state.SkipWithError("the file was not read into the image");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

void Convert(benchmark::State& state, const std::vector<std::string>& args) {
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        bool ok = Run(args);
        auto t1 = std::chrono::steady_clock::now();
        if (!ok) {
            state.SkipWithError("converter failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFileSize));
}

void UpdateChecksum(benchmark::State& state) {
    SilentReporter reporter;
    ProgramData data(reporter);
    data.SetTargetGeometry(LargeTarget(0x003FFFFF));
    for (const std::string& f : g_files.checksumFiles)
        if (!data.AddProgramFile(f, 0).ok)
            state.SkipWithError("a file was not registered");
    for (auto _ : state) {
        data.UpdateChecksumField();
        benchmark::DoNotOptimize(data.checksumValue());
    }
    if (data.rowCount() != 10 || data.checksumText().empty() || reporter.count != 0)
        state.SkipWithError("checksum not computed");
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred)
                times[r.run_name.function_name] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void PrintRatio(const RatioReporter& r, const char* ours, const char* theirs) {
    auto a = r.times.find(ours);
    auto b = r.times.find(theirs);
    if (a == r.times.end() || b == r.times.end() || a->second <= 0)
        return;
    std::printf("  %-22s %8.1f ms   %-22s %8.1f ms   ratio %5.2f\n", ours, a->second, theirs,
                b->second, b->second / a->second);
}

}  // namespace

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-pf-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        return 1;
    g_files.dir = pattern;
    g_files.hex = g_files.dir + "/big.hex";
    g_files.s3 = g_files.dir + "/big.s3";
    WriteFile(g_files.hex, PadTo(MakeHex(0, kFileSize, ~size_t(0)), kFileSize));
    WriteFile(g_files.s3, PadTo(MakeS3(kFileSize), kFileSize));
    for (uint32_t i = 0; i < 10; ++i) {
        std::string f = g_files.dir + "/part" + std::to_string(i) + ".hex";
        WriteFile(f, MakeHex(i * 0x66000, ~size_t(0), 0x66000));
        g_files.checksumFiles.push_back(f);
    }
    g_files.haveSrecCat = Run({"sh", "-c", "command -v srec_cat > /dev/null"});
    const std::string out = g_files.dir + "/out.bin";

    benchmark::RegisterBenchmark("ReadHex16MiB", [](benchmark::State& s) {
        ReadFile(s, g_files.hex);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ReadS3_16MiB", [](benchmark::State& s) {
        ReadFile(s, g_files.s3);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("UpdateChecksum4MiB10Files", UpdateChecksum)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        "ObjcopyIhex",
        [out](benchmark::State& s) {
            Convert(s, {"objcopy", "-I", "ihex", "-O", "binary", g_files.hex, out});
        })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark(
        "ObjcopySrec",
        [out](benchmark::State& s) {
            Convert(s, {"objcopy", "-I", "srec", "-O", "binary", g_files.s3, out});
        })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    if (g_files.haveSrecCat) {
        benchmark::RegisterBenchmark(
            "SrecCatIhex",
            [out](benchmark::State& s) {
                Convert(s, {"srec_cat", g_files.hex, "-intel", "-o", out, "-binary"});
            })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(2);
        benchmark::RegisterBenchmark(
            "SrecCatS3",
            [out](benchmark::State& s) {
                Convert(s, {"srec_cat", g_files.s3, "-motorola", "-o", out, "-binary"});
            })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(2);
    }

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nSide by side (converter time / our time; the goal is at least 2):\n");
    PrintRatio(reporter, "ReadHex16MiB", "ObjcopyIhex");
    PrintRatio(reporter, "ReadS3_16MiB", "ObjcopySrec");
    PrintRatio(reporter, "ReadHex16MiB", "SrecCatIhex");
    PrintRatio(reporter, "ReadS3_16MiB", "SrecCatS3");
    benchmark::Shutdown();
    std::filesystem::remove_all(g_files.dir);
    return 0;
}
