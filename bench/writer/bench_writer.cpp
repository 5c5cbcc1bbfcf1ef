// The writer's operations through its controller (CQuorvelDlg with the scripted view, as the
// tests drive it) against vexil-sim at the demo's timing: 200 us per command, 20 ms per erased
// block, 10 us per written byte.
// - Plug then Unplug of 1, 8 and 32 QX16A064 adapters. Goal: 32 adapters plug in under
//   250 ms (their own command times add up to about 50 ms), growing no faster than linearly.
// - The Program cycle (plug, WRITE, VERIFY, unplug) of a 256 KiB image on 1, 8 and 32
//   QX32G512 adapters, split into its phases, without read time (second argument 0) and with
//   1 us per byte read back (1000, full-speed USB). Goal: Write on 32 within 1.1 times of Write
//   on 1 (its block loop runs all adapters at once).
// - The same cycle on 8 adapters at 1 us per byte read, all answering (0) or one that stops
//   answering in the middle of the write (1). Goal: the silent adapter costs one read time-out
//   (10 s) on top of the healthy cycle.
// - Verify of a 1 MiB image (QX64H1M0, adapters answering at once) with the window's message
//   pump against the same Verify with an empty pump. Goal: within 1.2 times.
// - Cancel: the time from the pump that sees a confirmed Cancel to Write and Verify having
//   stopped, with 1 us per byte read. Goal: under 100 ms plus the block in progress.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "platform/files.h"
#include "sim_daemon.h"
#include "support/app_fixtures.h"
#include "support/fake_dialog_view.h"

#ifdef QUORVEL_BENCH_QT
#include <QCoreApplication>
#endif

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kDemoTiming = "LATENCY_US=200\nERASE_BLOCK_US=20000\nWRITE_BYTE_NS=10000\n";

// A writer installation in a temporary directory: bin/ with the example TRG files and a
// settings file that selects QX16A064.
class Installation {
  public:
    Installation() {
        root_ = fs::temp_directory_path() / ("bench-writer-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "bin");
        for (const auto& trg : fs::directory_iterator(bench::ExampleTrgDir()))
            fs::copy_file(trg.path(), root_ / "bin" / trg.path().filename());
        std::ofstream(root_ / "bin" / "Quorvel.ini") << "[Settings]\r\nTRGNAME=QX16A064\r\n";
        plat::SetModuleFileNameOverrideForTesting((root_ / "bin" / "Quorvel").string());
    }
    ~Installation() {
        plat::SetModuleFileNameOverrideForTesting("");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path bin() const { return root_ / "bin"; }

  private:
    fs::path root_;
};

// The window's pump: the Qt event loop when Qt is there.
class PumpingView : public FakeDialogView {
  public:
    explicit PumpingView(bool pump) : pump_(pump) {}
    void PumpMessages() override {
        FakeDialogView::PumpMessages();
#ifdef QUORVEL_BENCH_QT
        if (pump_)
            QCoreApplication::processEvents();
#endif
    }

  private:
    bool pump_;
};

// The time each operation took, from the controller's events.
struct PhaseTimes : OperationObserver {
    void OnOperationEnd(const OperationSummary& s) override { ms[s.operation] += s.durationMs; }
    std::map<int, double> ms;
};

// Runs the window around body.
using WindowBody = std::function<void(CQuorvelDlg&, DialogEvents&, FakeDialogView&)>;
void RunWindow(const WindowBody& body, bool pump = true) {
    PumpingView view(pump);
    FreeLock lock;
    CQuorvelDlg dialog(view, "Quorvel", lock);
    view.actions.push_back([&](DialogEvents& e) { body(dialog, e, view); });
    dialog.DoModal();
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_PlugUnplug(benchmark::State& state) {
    const int count = int(state.range(0));
    bench::SimDaemon daemon(
        "[ADAPTER1]\nTRG=QX16A064\nCOUNT=" + std::to_string(count) + "\n" + kDemoTiming, 1);
    Installation install;
    double plugMs = 0, unplugMs = 0;
    RunWindow([&](CQuorvelDlg& dialog, DialogEvents& e, FakeDialogView& view) {
        for (auto _ : state) {
            const auto t0 = Clock::now();
            e.OnCommand(IDC_PLUG);
            const auto t1 = Clock::now();
            if (!dialog.IsPlugged()) {
                state.SkipWithError("plug failed");
                return;
            }
            e.OnCommand(IDC_PLUG);
            const auto t2 = Clock::now();
            plugMs += Ms(t1 - t0);
            unplugMs += Ms(t2 - t1);
            state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
        }
    });
    state.counters["adapters"] = count;
    state.counters["plug_ms"] = plugMs / double(state.iterations());
    state.counters["unplug_ms"] = unplugMs / double(state.iterations());
}
BENCHMARK(BM_PlugUnplug)
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// A HEX file of size bytes from address 0, every byte a function of its address.
std::string HexImage(uint32_t size) {
    std::string hex;
    char line[64];
    for (uint32_t at = 0; at < size; at += 16) {
        if (at % 0x10000 == 0) {
            const uint8_t sum = uint8_t(-(2 + 4 + (at >> 24) + (at >> 16)));
            std::snprintf(line, sizeof line, ":02000004%04X%02X\n", unsigned(at >> 16), sum);
            hex += line;
        }
        uint8_t sum = uint8_t(16 + (at >> 8) + at);
        std::snprintf(line, sizeof line, ":10%04X00", unsigned(at & 0xFFFF));
        hex += line;
        for (uint32_t i = 0; i < 16; ++i) {
            const uint8_t b = uint8_t((at + i) * 7 + ((at + i) >> 9));
            std::snprintf(line, sizeof line, "%02X", b);
            hex += line;
            sum = uint8_t(sum + b);
        }
        std::snprintf(line, sizeof line, "%02X\n", uint8_t(-sum));
        hex += line;
    }
    return hex + ":00000001FF\n";
}

// Registers the file and a command file, in simple mode (Write does not verify by itself).
void UseProgram(const Installation& install, const std::string& target, uint32_t size,
                const std::string& commands) {
    const std::string file = (install.bin() / "image.hex").string();
    std::ofstream(file) << HexImage(size);
    const std::string command = (install.bin() / "cycle.cd8").string();
    std::ofstream(command) << commands;
    std::ofstream(install.bin() / "Quorvel.ini")
        << "[Settings]\r\nTRGNAME=" << target << "\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=" << file
        << "\r\nCOMFILENAME=" << command << "\r\n";
}

// One Program cycle per iteration on the adapters of the setup, with its phases as counters;
// it must succeed, or with a failing adapter in the setup, fail.
void MeasureProgramCycle(benchmark::State& state, const std::string& adapters, int sections,
                         bool failing = false) {
    bench::SimDaemon daemon(adapters, sections);
    Installation install;
    UseProgram(install, "QX32G512", 256 * 1024, "WRITE\nVERIFY\n");
    PhaseTimes phases;
    RunWindow([&](CQuorvelDlg& dialog, DialogEvents& e, FakeDialogView& view) {
        dialog.AddOperationObserver(&phases);
        for (auto _ : state) {
            const auto t0 = Clock::now();
            e.OnCommand(IDC_PROGRAM);
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
            if ((dialog.ResultDisplayState() != 0) != failing) {
                state.SkipWithError(failing ? "the cycle did not fail" : "the cycle failed");
                return;
            }
        }
    });
    const double n = double(state.iterations());
    state.counters["plug_ms"] = phases.ms[0] / n;
    state.counters["write_ms"] = phases.ms[1] / n;
    state.counters["verify_ms"] = phases.ms[2] / n;
    state.counters["unplug_ms"] = phases.ms[5] / n;
    state.counters["verify_share"] = phases.ms[2] / phases.ms[7];
}

// Arguments: adapters, nanoseconds per byte read.
void BM_ProgramCycle(benchmark::State& state) {
    const int count = int(state.range(0));
    MeasureProgramCycle(state,
                        "[ADAPTER1]\nTRG=QX32G512\nCOUNT=" + std::to_string(count) + "\n" +
                            kDemoTiming + "READ_BYTE_NS=" + std::to_string(state.range(1)) + "\n",
                        1);
    state.counters["adapters"] = count;
}
BENCHMARK(BM_ProgramCycle)
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({32, 0})
    ->Args({1, 1000})
    ->Args({8, 1000})
    ->Args({32, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// vexil-03 of 8 answers its plug (six requests), the erase of the first block and the first six
// KiB of its write, and nothing after that.
void BM_ProgramCycleSilentAdapter(benchmark::State& state) {
    const bool silent = state.range(0) != 0;
    MeasureProgramCycle(state,
                        std::string("[DEFAULTS]\nTRG=QX32G512\n") + kDemoTiming +
                            "READ_BYTE_NS=1000\n[ADAPTER1]\nNAME=vexil-0\nCOUNT=2\n"
                            "[ADAPTER2]\nNAME=vexil-03\n" +
                            (silent ? "FAULT1=NO-REPLY AT 14 TIMES ALL\n" : "") +
                            "[ADAPTER3]\nNAME=vexil-1\nCOUNT=5\n",
                        3, silent);
    state.counters["silent"] = silent ? 1 : 0;
}
BENCHMARK(BM_ProgramCycleSilentAdapter)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Arg 1: the window's pump; 0: an empty one.
void BM_Verify1MiB(benchmark::State& state) {
    bench::SimDaemon daemon(
        "[ADAPTER1]\nTRG=QX64H1M0\nLATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n", 1);
    Installation install;
    UseProgram(install, "QX64H1M0", 1 << 20, "WRITE\n");
    RunWindow(
        [&](CQuorvelDlg& dialog, DialogEvents& e, FakeDialogView& view) {
            e.OnCommand(IDC_PLUG);
            e.OnCommand(IDC_WRITE);
            for (auto _ : state) {
                e.OnCommand(IDC_VERIFY);
                int status = -1;
                if (ApiGetTargetStatus(1, &status) == 0 || status != 0) {
                    state.SkipWithError("verify failed");
                    return;
                }
            }
            e.OnCommand(IDC_PLUG);
        },
        state.range(0) != 0);
}
BENCHMARK(BM_Verify1MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The time from the pump that sees the Cancel to the operation having stopped. Arg 1: Write on
// 8 adapters, cancelled at its third block; arg 2: Verify, cancelled at its first file.
void BM_CancelLatency(benchmark::State& state) {
    const bool write = state.range(0) == 1;
    bench::SimDaemon daemon(
        "[ADAPTER1]\nTRG=QX32G512\nCOUNT=8\nREAD_BYTE_NS=1000\n" + std::string(kDemoTiming), 1);
    Installation install;
    UseProgram(install, "QX32G512", 256 * 1024, "");
    double blockMs = 0;
    RunWindow([&](CQuorvelDlg& dialog, DialogEvents& e, FakeDialogView& view) {
        e.OnCommand(IDC_PLUG);
        for (auto _ : state) {
            Clock::time_point seen, previous;
            view.pumpActions.clear();
            const int at = write ? 3 : 1;
            for (int i = 1; i <= at; ++i)
                view.pumpActions.push_back([&, i, at](DialogEvents& ev) {
                    if (i == at - 1)
                        previous = Clock::now();
                    if (i < at)
                        return;
                    seen = Clock::now();
                    ev.OnCommand(IDC_CANCEL_OPERATION);  // the question answers OK
                });
            e.OnCommand(write ? IDC_WRITE : IDC_VERIFY);
            const auto stopped = Clock::now();
            if (!dialog.StoppedByCancel()) {
                state.SkipWithError("not cancelled");
                return;
            }
            if (write)
                blockMs = Ms(seen - previous);
            state.SetIterationTime(std::chrono::duration<double>(stopped - seen).count());
        }
        e.OnCommand(IDC_PLUG);
    });
    if (write)
        state.counters["block_ms"] = blockMs;
}
BENCHMARK(BM_CancelLatency)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
#ifdef QUORVEL_BENCH_QT
    QCoreApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
