// Time and memory of one ReadTargetInfoFile over 50 TRG files whose ranges reach 0x1FEFFFF.
// Heap use is counted by replacing the global operator new, so an allocation that grew with the
// address range (a byte per address would be 32 MiB per file) shows at once.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "brindlex/quorvel_api.h"
#include "platform/files.h"
#include "platform/private_profile.h"

namespace {

std::atomic<size_t> heapInUse{0};
std::atomic<size_t> heapPeak{0};

void* Allocate(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    const size_t now = heapInUse += malloc_usable_size(p);
    size_t peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void Release(void* p) {
    if (p == nullptr)
        return;
    heapInUse -= malloc_usable_size(p);
    std::free(p);
}

long MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

constexpr int kFiles = 50;

// One description with several MMAP, GMAP and read-only ranges, the last reaching FF:FFFFFFH.
std::string Description(int i) {
    char text[2048];
    std::snprintf(text, sizeof text,
                  "[VEXIL]\nVEXILDEBUG=ENABLE\nTARGETID00=%08XH\nTARGETID32=52830800H\n"
                  "TARGETID64=2800H\nTARGETID_BIT_NUM=%d\nVEXIL_VERSION=1.%02d\n"
                  "[VEXIL_READONLY_AREA]\nNUMBER=3\n"
                  "STARTADRS1=%X:0000H\nENDADRS1=%X:0FFFH\n"
                  "STARTADRS2=80:1000H\nENDADRS2=80:1FFFH\n"
                  "STARTADRS3=FF:F00000H\nENDADRS3=FF:F000FFH\n"
                  "[MMAP]\nNUMBER=5\n"
                  "DEFAULT1=SC\nSTARTADRS1=0H\nENDADRS1=%X:FFFFH\n"
                  "DEFAULT2=UC\nSTARTADRS2=10:0000H\nENDADRS2=7F:FFFFH\n"
                  "DEFAULT3=MO\nSTARTADRS3=80:0000H\nENDADRS3=C0:FFFFH\n"
                  "DEFAULT4=UCT\nSTARTADRS4=C1:0000H\nENDADRS4=FF:FFFFFFH\n"
                  "DEFAULT5=TEST\nSTARTADRS5=FF:FFFF00H\nENDADRS5=FF:FFFFFFH\n"
                  "[GMAP]\nNUMBER=3\n"
                  "DEFAULT1=SCD\nSTARTADRS1=4:0000H\nENDADRS1=4:7FFFH\n"
                  "DEFAULT2=UCD\nSTARTADRS2=7:0000H\nENDADRS2=7:FFFFH\n"
                  "DEFAULT3=SC\nSTARTADRS3=8:0000H\nENDADRS3=FF:FFFFFFH\n"
                  "[PMAP]\nNUMBER=2\nDEFAULT1=NONE\nDEFAULT2=ROMWIN\nSTARTADRS2=8000H\n"
                  "ENDADRS2=0FFFFH\n",
                  0x40000000u | static_cast<unsigned>(i + 1), i % 2 ? 64 : 80, i % 100, 1 + i % 8,
                  1 + i % 8, 2 + i % 8);
    return text;
}

class BenchPlace {
  public:
    BenchPlace() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "trg-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        root = pattern;
        std::filesystem::create_directories(root + "/bin");
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/bin/QB%02dF32M.TRG", i);
            std::ofstream(root + name) << Description(i);
            if (i == 0)
                first = root + name;
        }
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        plat::SetModuleFileNameOverrideForTesting(root + "/bin/Quorvel");
    }
    ~BenchPlace() {
        plat::SetModuleFileNameOverrideForTesting("");
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    const std::string& FirstFile() const { return first; }

  private:
    std::string root;
    std::string first;
};

void BM_ReadTargetInfoFile50(benchmark::State& state) {
    BenchPlace place;
    const long rssBefore = MaxRssKiB();
    size_t peakExtra = 0;
    for (auto _ : state) {
        const size_t base = heapInUse.load();
        heapPeak = base;
        uint16_t found = 0;
        TRGINFO* set = ApiObj.ReadTargetInfoFile(93, found);
        peakExtra = std::max(peakExtra, heapPeak.load() - base);
        if (set == nullptr || set->count != kFiles || set->entries[0].areaCount == 0 ||
            set->entries[0].areas[set->entries[0].areaCount - 1].end != 0x1FEFFFF) {
            state.SkipWithError("the generated files were not read as expected");
            ApiObj.DeleteTargetInfoSet(&set);
            break;
        }
        ApiObj.DeleteTargetInfoSet(&set);
    }
    state.counters["files"] = kFiles;
    state.counters["peak_heap_KiB"] = static_cast<double>(peakExtra) / 1024.0;
    state.counters["maxrss_growth_KiB"] = static_cast<double>(MaxRssKiB() - rssBefore);
    state.counters["maxrss_KiB"] = static_cast<double>(MaxRssKiB());
}
BENCHMARK(BM_ReadTargetInfoFile50)->Unit(benchmark::kMillisecond);

// One key read of the platform layer, which reads the file afresh each time: the unit that the
// reader's time is mostly made of (about 46 reads per generated file).
void BM_OneProfileRead(benchmark::State& state) {
    BenchPlace place;
    char value[256];
    for (auto _ : state) {
        plat::GetPrivateProfileStringA("MMAP", "ENDADRS4", "0H", value, sizeof value,
                                       place.FirstFile().c_str());
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_OneProfileRead)->Unit(benchmark::kMicrosecond);

}  // namespace

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, size_t) noexcept {
    Release(p);
}

BENCHMARK_MAIN();
