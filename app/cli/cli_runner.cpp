#include "cli_runner.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/control_ids.h"
#include "app/program_paths.h"
#include "app/quorvel_dlg.h"
#include "app/writer_settings.h"
#include "brindlex/api.h"
#include "brindlex/target_info.h"
#include "cli_options.h"
#include "console_report.h"
#include "console_view.h"
#include "platform/files.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"

namespace fs = std::filesystem;
using namespace programdata;

namespace {

// Command-line paths are taken from the current directory, as a shell user means them.
std::string Absolute(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.string();
}

// The run saves serial numbers and security IDs into the settings file, by writing a new file
// beside it (after following links) and renaming it: the file must be there, readable, and
// both the file and its directory writable.
bool SettingsFileUsable(const std::string& path, std::string& error) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || !std::ifstream(path, std::ios::binary)) {
        error = "settings file " + path + " cannot be read";
        return false;
    }
    const fs::path real = fs::canonical(path, ec);
    bool writable =
        !ec && std::fstream(real, std::ios::in | std::ios::out | std::ios::binary).is_open();
    if (writable) {
        const fs::path probe = real.parent_path() / (real.filename().string() + ".probe" +
                                                     std::to_string(std::random_device()()));
        writable = std::ofstream(probe, std::ios::app).is_open();
        fs::remove(probe, ec);
    }
    if (!writable)
        error = "settings file " + path + " cannot be written";
    return writable;
}

// --serial: the start number of the first Write, checked now against the stored number, which
// it may not go below without --serial-rewind. It is stored when that Write takes its numbers.
bool ParseStartSerial(const std::string& path, const CliOptions& o,
                      std::array<uint8_t, kByteFieldSize>& bytes, std::string& error) {
    SettingsFile file(path);
    WriterSettings settings;
    file.ReadSerialSettings(settings);
    file.ReadLineSettings(settings);
    if (settings.serialOn == 0) {
        error = "--serial: serialization is off in " + path;
        return false;
    }
    if (settings.line.On()) {
        error = "--serial: the numbers come from the line's serial pool (LINEDB in " + path +
                "); \"line init --serial\" moves the pool";
        return false;
    }
    uint32_t length = settings.serialLength;
    if (!ParseHexBytes(*o.serial, bytes, length) || length > settings.serialLength) {
        error = "--serial: \"" + *o.serial + "\" is no hexadecimal number of at most " +
                std::to_string(settings.serialLength) + " bytes";
        return false;
    }
    std::fill(bytes.begin() + settings.serialLength, bytes.end(), uint8_t{0});
    if (!o.serialRewind &&
        CompareSerialNumbers(bytes, settings.serialNumber, settings.serialLength) < 0) {
        error = "--serial: " + FormatHexBytes(bytes, settings.serialLength) +
                " is below the next stored number " +
                FormatHexBytes(settings.serialNumber, settings.serialLength) +
                ": numbers up to it may be on boards already (--serial-rewind allows it)";
        return false;
    }
    return true;
}

// The adapter mutex, telling why a plug found the adapters unavailable when it was held.
class WatchedLock : public AdapterLock {
  public:
    WatchedLock(AdapterLock& lock, ConsoleReport& report, const std::string& name)
        : lock_(lock), report_(report), name_(name) {}
    bool Wait(uint32_t ms) override {
        if (lock_.Wait(ms))
            return true;
        // A denied lock has its own message; a held one is worth saying so.
        if (!lock_.Denied()) {
            const std::string problem = lock_.Problem();
            report_.Note(name_ + ": " +
                         (problem.empty()
                              ? "another program holds the adapters (the \"Vexil\" mutex)"
                              : problem));
        }
        return false;
    }
    void Release() override { lock_.Release(); }
    bool Denied() const override { return lock_.Denied(); }
    std::string Problem() const override { return lock_.Problem(); }

  private:
    AdapterLock& lock_;
    ConsoleReport& report_;
    const std::string& name_;
};

class Session {
  public:
    Session(CQuorvelDlg& dialog, const CliOptions& options, ConsoleReport& report,
            const CliEnvironment& env, const std::string& name)
        : dialog_(dialog), o_(options), report_(report), env_(env), name_(name) {}

    void Run() {
        // A message while starting (a program file, the TRG files) leaves nothing to run.
        if (report_.Errors() > 0 || !TargetKnown())
            return;
        // The window's Program, Write and Verify buttons need a registered file.
        const bool needsFiles = o_.command == CliCommand::Program ||
                                o_.command == CliCommand::Write || o_.command == CliCommand::Verify;
        if (needsFiles && dialog_.ProgramFiles().rowCount() == 0) {
            report_.InputError(name_ +
                               ": no program file: the settings file lists none and no "
                               "--file was given");
            return;
        }
        if (o_.command == CliCommand::Program)
            RunCycles();
        else
            RunStep();
    }

  private:
    bool Stopped() const { return env_.cancelRequests() > 0; }

    bool TargetKnown() {
        if (!o_.target || dialog_.Settings().targetName == *o_.target)
            return true;
        std::string known;
        const TRGINFO* set = dialog_.TargetSet();
        for (uint32_t i = 0; set != nullptr && i < set->count; ++i) {
            const char* n = set->entries[i].name;
            known += (i > 0 ? ", " : "") + std::string(n, strnlen(n, sizeof set->entries[i].name));
        }
        report_.InputError(name_ + ": unknown target " + *o_.target +
                           " (the TRG files name: " + known + ")");
        return false;
    }

    void RunCycles() {
        const bool repeating = o_.loop || o_.cycles > 1;
        const std::string of = o_.loop ? "" : " of " + std::to_string(o_.cycles);
        for (int cycle = 1;; ++cycle) {
            if (repeating)
                report_.Note("Cycle " + std::to_string(cycle) + of);
            dialog_.OnCommand(IDC_PROGRAM);
            if (Stopped()) {
                report_.SetStopped();
                return;
            }
            // A board without its record line is a board nobody can account for.
            if (report_.TakeRecordOrLogFailure() && repeating && !o_.keepGoing) {
                report_.Note(
                    "No further cycle: the production record or the log could not be "
                    "written (--keep-going goes on)");
                return;
            }
            if (!o_.loop && cycle >= o_.cycles)
                return;
            // An interrupt or the end of input here ends the run; nothing was cut short.
            const std::string next = "Cycle " + std::to_string(cycle + 1) + of;
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", o_.intervalMs.value_or(0) / 1000.0);
            if (o_.intervalMs)
                report_.Note(next + " starts in " + seconds + " s (Ctrl+C stops)");
            else
                report_.Note(next + ": press Enter to start it (Ctrl+C or end of input stops)");
            const plat::ConsoleWait waited = env_.wait(!o_.intervalMs, o_.intervalMs.value_or(0));
            if (waited == plat::ConsoleWait::Cancelled || waited == plat::ConsoleWait::EndOfInput) {
                report_.Note("No further cycle");
                return;
            }
        }
    }

    void RunStep() {
        dialog_.OnCommand(IDC_PLUG);
        if (dialog_.IsPlugged() && !Stopped()) {
            switch (o_.command) {
                case CliCommand::Write:
                    dialog_.OnCommand(IDC_WRITE);
                    break;
                case CliCommand::Verify:
                    dialog_.OnCommand(IDC_VERIFY);
                    break;
                case CliCommand::Erase:
                    dialog_.OnCommand(IDC_ERASE_MEMORY);
                    break;
                case CliCommand::Save:
                    Save();
                    break;
                default:
                    break;
            }
        }
        if (dialog_.IsPlugged())
            dialog_.OnCommand(IDC_PLUG);
        if (Stopped())
            report_.SetStopped();
    }

    void Save() {
        const int n = o_.saveTarget;
        int count = 0;
        if (ApiGetTargetNum(&count) == 0 || n > count) {
            report_.InputError(name_ + ": save: there is no target " + std::to_string(n) + " of " +
                               std::to_string(count));
            return;
        }
        dialog_.SaveTargetMemory(n, o_.savePath);
    }

    CQuorvelDlg& dialog_;
    const CliOptions& o_;
    ConsoleReport& report_;
    const CliEnvironment& env_;
    const std::string& name_;
};

}  // namespace

int RunQuorvelCli(const std::vector<std::string>& args, const CliEnvironment& env) {
    const std::string programName = ProgramName();
    const std::string name = programName.empty() ? "quorvel-cli" : programName;
    auto refuse = [&](const std::string& why) {
        std::fprintf(env.err, "%s: %s\n", name.c_str(), why.c_str());
        return int(kExitNothingRan);
    };
    if (!args.empty() && args.front() == "line")
        return env.lineCommand ? env.lineCommand(args, env)
                               : refuse("line: this build has no line database (LINEDB)");
    CliOptions o;
    std::string error;
    if (!ParseCliOptions(args, o, error))
        return refuse(error + " (" + name + " --help tells the usage)");
    if (o.command == CliCommand::Help) {
        std::fputs(CliUsage(), env.out);
        return kExitSuccess;
    }
    if (!ResolveSecurityId(o, env.securityIdVariable, error))
        return refuse(error);
    if (o.securityIdFile && plat::IsReadableByOthers(o.securityIdFile->c_str()))
        std::fprintf(env.err,
                     "%s: warning: %s holds the security ID and other users can read it; make it "
                     "readable by its owner only (chmod 600)\n",
                     name.c_str(), o.securityIdFile->c_str());
    // A cut path would name another directory with its own settings and TRG files.
    if (!ExecutablePathIsWhole())
        return refuse(std::string(GetStringText(IDS_PROGRAM_PATH_TOO_LONG)));
    const std::string settings = o.settingsPath.empty() ? ExecutableDirectory() + kSettingsFileName
                                                        : Absolute(o.settingsPath);
    if (!SettingsFileUsable(settings, error))
        return refuse(error);
    std::array<uint8_t, kByteFieldSize> startSerial{};
    if (o.serial && !ParseStartSerial(settings, o, startSerial, error))
        return refuse(error);

    CQuorvelDlg::RunOverrides overrides;
    overrides.settingsPath = settings;
    overrides.targetName = o.target;
    if (o.serial)
        overrides.startSerial = startSerial;
    overrides.serialRewind = o.serialRewind;
    if (!o.files.empty()) {
        overrides.programFiles.emplace();
        for (const CliProgramFile& f : o.files)
            overrides.programFiles->push_back({Absolute(f.path), f.offsetText});
    }
    if (o.logFile)
        overrides.logFileName = Absolute(*o.logFile);
    if (o.commandFile)
        overrides.commandFileName = Absolute(*o.commandFile);
    o.savePath = o.savePath.empty() ? o.savePath : Absolute(o.savePath);

    ConsoleReport report(env.err, o.json ? env.out : nullptr, env.errIsTerminal);
    ConsoleView view({o.yes, o.securityId, o.allowInitialize, o.securityIdSource, o.allowOutside},
                     report);
    WatchedLock lock(env.adapterLock != nullptr ? *env.adapterLock : ProcessAdapterMutex(), report,
                     name);
    CQuorvelDlg dialog(view, name, lock);
    dialog.SetRunOverrides(std::move(overrides));
    dialog.SetLineServices(env.line);
    dialog.AddOperationObserver(&view);
    dialog.AddOperationObserver(&report);
    Session session(dialog, o, report, env, name);
    view.cancelPending = [&env] { return env.cancelRequests() > 0; };
    view.cancel = [&dialog] { dialog.RequestCancel(); };
    view.session = [&session] { session.Run(); };
    dialog.DoModal();
    return report.ExitCode();
}
