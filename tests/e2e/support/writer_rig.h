#pragma once
// The writer program's controller against a vexil-sim process: a writer installation whose
// bin/ holds the example TRG files, the simulator started from adapter sections, and the
// scripted view. Header-only: only the tests that drive the controller link its libraries.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "support/fake_dialog_view.h"
#include "support/sim_process.h"
#include "support/writer_env.h"

namespace e2e {

class WriterRig {
  public:
    WriterRig() {
        for (const auto& trg : std::filesystem::directory_iterator(ExampleDir() + "/TRG"))
            std::filesystem::copy_file(trg.path(), env.bin / trg.path().filename());
        env.WriteIni("[Settings]\r\nTRGNAME=QX16A064\r\n");
    }
    ~WriterRig() { ApiDelConnect(); }

    // Starts vexil-sim with these [ADAPTERn] sections (their count given).
    bool Start(const std::string& adapters, int sections, std::string& error,
               std::vector<std::string> extraArgs = {}) {
        const std::string setup = dir / "setup.ini";
        WriteText(setup, "[SIMULATOR]\nADAPTERS=" + std::to_string(sections) +
                             "\nTRGDIR=" + ExampleDir() + "/TRG\n" + adapters);
        return StartSetup(setup, error, std::move(extraArgs));
    }
    bool StartSetup(const std::string& setup, std::string& error,
                    std::vector<std::string> extraArgs = {}) {
        sim = std::make_unique<SimProcess>(dir, setup, std::move(extraArgs));
        return sim->Start(error);
    }

    // Runs the window (target type QX16A064 unless the settings say otherwise) and plays body.
    void Run(FakeDialogView& view, const std::function<void(CQuorvelDlg&, DialogEvents&)>& body,
             std::optional<CQuorvelDlg::RunOverrides> overrides = {}) {
        CQuorvelDlg dialog(view, "Quorvel", env.lock);
        if (overrides)
            dialog.SetRunOverrides(*overrides);
        view.actions.push_back([&](DialogEvents& e) { body(dialog, e); });
        dialog.DoModal();
    }

    std::string LogText() const {
        const auto bytes = ReadBytes((env.bin / "Quorvel.log").string());
        return std::string(bytes.begin(), bytes.end());
    }

    WriterEnv env;
    TempDir dir;
    std::unique_ptr<SimProcess> sim;
};

// Target n's flash as the simulator dumps it now.
inline std::vector<uint8_t> Dump(WriterRig& rig, int n) {
    char name[16];
    std::snprintf(name, sizeof name, "vexil-%02d", n);
    EXPECT_TRUE(rig.sim->Dump());
    return ReadBytes(rig.sim->DumpPath(name));
}

// The serial number a target's flash holds at address, over four bytes.
inline std::string HeldAt(WriterRig& rig, int n, uint32_t address) {
    const auto flash = Dump(rig, n);
    if (flash.size() < address + 4)
        return "<short>";
    char held[16];
    std::snprintf(held, sizeof held, "%02X%02X%02X%02X", flash[address], flash[address + 1],
                  flash[address + 2], flash[address + 3]);
    return held;
}

}  // namespace e2e
