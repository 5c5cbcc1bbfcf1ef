// The writer's operations through its controller (CQuorvelDlg with the scripted view, as the
// tests drive it) against vexil-sim at the demo's timing: 200 us per command, 20 ms per erased
// block, 10 us per written byte.
// - Plug then Unplug of 1, 8 and 32 QX16A064 adapters. Goal: 32 adapters plug in under
//   250 ms (their own command times add up to about 50 ms), growing no faster than linearly.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "platform/files.h"
#include "sim_daemon.h"
#include "support/app_fixtures.h"
#include "support/fake_dialog_view.h"

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

// Runs the window around body and answers whether it completed.
void RunWindow(const std::function<void(CQuorvelDlg&, DialogEvents&)>& body) {
    FakeDialogView view;
    FreeLock lock;
    CQuorvelDlg dialog(view, "Quorvel", lock);
    view.actions.push_back([&](DialogEvents& e) { body(dialog, e); });
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
    RunWindow([&](CQuorvelDlg& dialog, DialogEvents& e) {
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

}  // namespace

BENCHMARK_MAIN();
