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
    if (!ParseSerialOption(*o.serial, settings.serialLength, bytes, error))
        return false;
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

// Text for a person: addresses as the window shows them.
std::string Address(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%05XH", address);
    return text;
}

std::string Range(uint32_t first, uint32_t last) {
    return Address(first) + "-" + Address(last);
}

std::string JsonRange(uint32_t first, uint32_t last) {
    return "{\"first\":" + JsonString(Address(first)) + ",\"last\":" + JsonString(Address(last)) +
           "}";
}

const char* ProtectionName(Protection p) {
    switch (p) {
        case Protection::None:
            return "none";
        case Protection::Unlocked:
            return "unlocked";
        case Protection::Locked:
            return "locked";
        case Protection::Initialized:
            return "initialized";
        default:
            return "unknown";
    }
}

const char* WhereName(LandedRange::Where where) {
    switch (where) {
        case LandedRange::Where::Area:
            return "area";
        case LandedRange::Where::TestArea:
            return "test-area";
        case LandedRange::Where::Gap:
            return "gap";
        default:
            return "beyond";
    }
}

// The most adapters one PC drives: the boards check tells serial numbers for by default.
constexpr int kMaxBoards = 32;

class Session {
  public:
    Session(CQuorvelDlg& dialog, const CliOptions& options, ConsoleReport& report,
            const CliEnvironment& env, const std::string& name)
        : dialog_(dialog), o_(options), report_(report), env_(env), name_(name) {}

    void Run() {
        // A message while starting (a program file, the TRG files) leaves nothing to run; check
        // goes on to tell what it can.
        const bool checking = o_.command == CliCommand::Check;
        if ((report_.Errors() > 0 && !checking) || !TargetKnown()) {
            if (checking)
                report_.SetVerdict(false);
            return;
        }
        // The window's Program, Write and Verify buttons need a registered file.
        const bool needsFiles = o_.command == CliCommand::Program ||
                                o_.command == CliCommand::Write ||
                                o_.command == CliCommand::Verify || checking;
        if (needsFiles && dialog_.ProgramFiles().rowCount() == 0 && report_.Errors() == 0) {
            report_.InputError(name_ +
                               ": no program file: the settings file lists none and no "
                               "--file was given");
            if (checking)
                report_.SetVerdict(false);
            return;
        }
        switch (o_.command) {
            case CliCommand::Program:
                RunCycles();
                break;
            case CliCommand::List:
                List();
                break;
            case CliCommand::Check:
                Check();
                break;
            case CliCommand::Init:
                Init();
                break;
            default:
                RunStep();
                break;
        }
    }

  private:
    bool Stopped() const { return env_.cancelRequests() > 0; }

    bool TargetKnown() {
        if (!o_.target || Upper(dialog_.Settings().targetName) == Upper(*o_.target))
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

    static std::string Upper(std::string text) {
        for (char& c : text)
            c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return text;
    }

    void RunCycles() {
        const bool repeating = o_.loop || o_.cycles > 1;
        const std::string of = o_.loop ? "" : " of " + std::to_string(o_.cycles);
        for (int cycle = 1;; ++cycle) {
            report_.BeginCycle(cycle);
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
            // A fixture that lost an adapter waits for a person, not for the next cycle.
            if (o_.expectTargets && dialog_.OperationFailed() && repeating &&
                report_.TakeTargetCountMismatch()) {
                report_.Note("No further cycle: the adapters found are not the " +
                             std::to_string(*o_.expectTargets) + " expected");
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
            if (waited == plat::ConsoleWait::Cancelled) {
                report_.Note("No further cycle: stopped while waiting");
                return;
            }
            if (waited == plat::ConsoleWait::EndOfInput) {
                report_.Note("No further cycle: standard input ended while waiting for Enter, " +
                             std::to_string(cycle) + of +
                             " cycles run (--interval runs the cycles without waiting)");
                return;
            }
        }
    }

    void RunStep() {
        report_.BeginCycle(1);
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

    void List() {
        report_.BeginCycle(1);
        for (const AdapterListing& a : dialog_.ListAdapters()) {
            const std::string matches = !a.matches   ? "not identified"
                                        : *a.matches ? dialog_.Settings().targetName
                                                     : "not " + dialog_.Settings().targetName;
            report_.Note("Adapter " + std::to_string(a.target) + ": " + a.devicePath +
                         ", firmware " + (a.firmware.empty() ? "not read" : a.firmware) +
                         ", chip " + (a.chipName.empty() ? "not read" : a.chipName) + " (" +
                         matches + "), protection " + ProtectionName(a.protection) + ", " +
                         (a.status == 0 ? "Plug OK" : "Plug Error: " + OneLine(a.message)));
            JsonFields fields;
            fields.Field("target", a.target)
                .Field("device_path", a.devicePath)
                .TextOrNull("firmware", a.firmware)
                .TextOrNull("chip_name", a.chipName)
                .Raw("matches", !a.matches   ? "null"
                                : *a.matches ? "true"
                                             : "false")
                .Field("protection", ProtectionName(a.protection))
                .Field("status", int64_t(a.status))
                .Field("status_hex", StatusHex(a.status))
                .Field("message", a.message);
            report_.JsonLine("adapter", fields.Text());
        }
    }

    void Check() {
        const int boards = o_.expectTargets.value_or(kMaxBoards);
        const WriteCheck c = dialog_.CheckWrite(boards);
        std::string areas;
        for (size_t i = 0; i < c.areas.size(); ++i)
            areas += (i > 0 ? ", " : "") + Range(c.areas[i].start, c.areas[i].end);
        report_.Note("Target " + c.targetName + ": memory areas " + areas +
                     (c.testArea ? ", test data area " + Range(c.testArea->start, c.testArea->end)
                                 : std::string()) +
                     ", erase blocks of " + std::to_string(c.blockSize) + " bytes");
        std::string filesJson;
        for (const FileLanding& f : c.files) {
            std::string where, rangesJson;
            for (const LandedRange& r : f.ranges) {
                const std::string place =
                    r.where == LandedRange::Where::Area       ? "area " + std::to_string(r.area)
                    : r.where == LandedRange::Where::TestArea ? "test data area"
                    : r.where == LandedRange::Where::Gap      ? "gap (not written)"
                                                              : "beyond the flash (not written)";
                where += (where.empty() ? "" : ", ") + Range(r.first, r.last) + " " + place;
                rangesJson +=
                    std::string(rangesJson.empty() ? "" : ",") +
                    "{\"where\":" + JsonString(WhereName(r.where)) +
                    (r.where == LandedRange::Where::Area ? ",\"area\":" + std::to_string(r.area)
                                                         : std::string()) +
                    ",\"first\":" + JsonString(Address(r.first)) +
                    ",\"last\":" + JsonString(Address(r.last)) + "}";
            }
            report_.Note("File " + f.fileName + " at offset " + f.offsetText + ": " +
                         Range(f.start, f.end) + " on file, " + std::to_string(f.bytes) +
                         " bytes: " + where +
                         (f.outsideBytes > 0
                              ? "; " + std::to_string(f.outsideBytes) + " bytes outside the flash"
                              : std::string()));
            filesJson +=
                std::string(filesJson.empty() ? "" : ",") + "{\"file\":" + JsonString(f.fileName) +
                ",\"offset\":" + JsonString(f.offsetText) +
                ",\"start\":" + JsonString(Address(f.start)) +
                ",\"end\":" + JsonString(Address(f.end)) + ",\"bytes\":" + std::to_string(f.bytes) +
                ",\"outside_bytes\":" + std::to_string(f.outsideBytes) +
                ",\"test_area_bytes\":" + std::to_string(f.testAreaBytes) + ",\"ranges\":[" +
                rangesJson + "]}";
        }
        std::string erasedJson;
        for (const ErasedRange& e : c.erased) {
            const std::string text = "Write erases " + Range(e.first, e.last) + " (" +
                                     (e.testArea ? "test data area" : "read-only") +
                                     ") with block " + Range(e.blockFirst, e.blockLast) +
                                     " and does not program it: its bytes are lost on every board";
            // The test data area goes with the last block on every target: worth a note only.
            if (e.testArea)
                report_.Note(text);
            else
                report_.Warning(text);
            erasedJson += std::string(erasedJson.empty() ? "" : ",") +
                          "{\"first\":" + JsonString(Address(e.first)) +
                          ",\"last\":" + JsonString(Address(e.last)) +
                          ",\"block\":" + JsonRange(e.blockFirst, e.blockLast) +
                          ",\"kind\":" + JsonString(e.testArea ? "test-area" : "read-only") + "}";
        }
        report_.Note("Checksum " + (c.checksum.empty() ? std::string("none") : c.checksum) +
                     ", fill " + c.fill + ", log " + c.logFile);
        std::string serialJson = "null";
        if (c.serialOn && !c.pool.empty()) {
            report_.Note("Serial numbers of the next Write at " + Address(c.serialAddress) +
                         ": from the line's pool \"" + c.pool + "\" when the Write starts");
            serialJson = "{\"address\":" + JsonString(Address(c.serialAddress)) +
                         ",\"length\":" + std::to_string(c.serialLength) +
                         ",\"boards\":[],\"next\":null,\"wraps_at_board\":null,\"pool\":" +
                         JsonString(c.pool) + "}";
        } else if (c.serialOn) {
            report_.Note("Serial numbers of the next Write at " + Address(c.serialAddress) + ": " +
                         c.serialNumbers.front() + " (board 1) to " + c.serialNumbers.back() +
                         " (board " + std::to_string(c.serialNumbers.size()) + "), then " +
                         c.nextSerial + " is stored");
            if (c.wrapsAt != 0)
                report_.Warning("Board " + std::to_string(c.wrapsAt) +
                                " would get a number that wrapped around: a Write with that many "
                                "boards asks 2066 and erases nothing");
            std::string numbers;
            for (const std::string& n : c.serialNumbers)
                numbers += (numbers.empty() ? "" : ",") + JsonString(n);
            serialJson =
                "{\"address\":" + JsonString(Address(c.serialAddress)) +
                ",\"length\":" + std::to_string(c.serialLength) + ",\"boards\":[" + numbers +
                "],\"next\":" + JsonString(c.nextSerial) +
                ",\"wraps_at_board\":" + (c.wrapsAt != 0 ? std::to_string(c.wrapsAt) : "null") +
                "}";
        }
        const bool starts = c.writeWouldStart && report_.Errors() == 0;
        report_.Note(starts ? "A Write would start"
                            : "A Write would refuse: see the messages above");
        std::string areasJson;
        for (const TargetArea& a : c.areas)
            areasJson += (areasJson.empty() ? "" : ",") + JsonRange(a.start, a.end);
        report_.JsonLine(
            "check", JsonFields()
                         .Field("target_type", c.targetName)
                         .Raw("areas", "[" + areasJson + "]")
                         .Raw("test_area",
                              c.testArea ? JsonRange(c.testArea->start, c.testArea->end) : "null")
                         .Field("block_size", c.blockSize)
                         .Raw("files", "[" + filesJson + "]")
                         .Raw("erased_not_written", "[" + erasedJson + "]")
                         .TextOrNull("checksum", c.checksum)
                         .Field("fill", c.fill)
                         .Raw("serial_numbers", serialJson)
                         .Flag("write_would_start", starts)
                         .Text());
        report_.SetVerdict(starts);
    }

    void Init() {
        switch (dialog_.CreateSettingsFile()) {
            case SettingsFile::Creation::Created:
                report_.Note(name_ + ": created " + dialog_.SettingsFileLocation().Path() +
                             " for " + dialog_.Settings().targetName + " with " +
                             std::to_string(dialog_.ProgramFiles().rowCount()) +
                             " program file(s)");
                report_.SetVerdict(true);
                return;
            case SettingsFile::Creation::Exists:
                report_.InputError(name_ + ": settings file " +
                                   dialog_.SettingsFileLocation().Path() +
                                   " exists: init never replaces one");
                break;
            case SettingsFile::Creation::Unreadable:
                report_.InputError(name_ +
                                   ": a path holds a line break, which the settings file "
                                   "cannot keep");
                break;
            case SettingsFile::Creation::Failed:
                break;
        }
        report_.SetVerdict(false);
    }

    CQuorvelDlg& dialog_;
    const CliOptions& o_;
    ConsoleReport& report_;
    const CliEnvironment& env_;
    const std::string& name_;
};

// The operations whose target lines are the command's boards: each board's last such line in
// its cycle tells it.
std::vector<int> BoardOperations(CliCommand command) {
    switch (command) {
        case CliCommand::Program:
            return {kOperationProgram};
        case CliCommand::Write:
            return {kOperationWrite, kOperationVerify};
        case CliCommand::Verify:
            return {kOperationVerify};
        case CliCommand::Erase:
            return {kOperationErase};
        case CliCommand::Save:
            return {kOperationSave};
        case CliCommand::Plug:
            return {kOperationPlug};
        default:
            return {};
    }
}

}  // namespace

int RunQuorvelCli(const std::vector<std::string>& args, const CliEnvironment& env) {
    const std::string programName = ProgramName();
    const std::string name = programName.empty() ? "quorvel-cli" : programName;
    // "line ..." has its own commands, where this build has the line database.
    if (!args.empty() && args.front() == "line") {
        if (env.lineCommand)
            return env.lineCommand(args, env);
        std::fprintf(env.err, "%s: line: this build has no line database (LINEDB)\n", name.c_str());
        return int(kExitNothingRan);
    }
    CliOptions o;
    std::string error;
    const bool parsed = ParseCliOptions(args, o, error);
    if (parsed && o.command == CliCommand::Help) {
        std::fputs(CliUsage(), env.out);
        return kExitSuccess;
    }
    if (parsed && o.command == CliCommand::Version) {
        std::fprintf(env.out, "quorvel-cli %s\n", QUORVEL_VERSION);
        return kExitSuccess;
    }
    // From here on every line has its JSON twin, a refusal too.
    ConsoleReport report(env.err, CliWantsJson(args) ? env.out : nullptr, env.errIsTerminal,
                         ConsoleReport::Clock::now, env.stamp ? env.stamp() : SystemJsonStamp());
    report.SetCommand(parsed ? o.commandName : "", BoardOperations(o.command));
    auto refuse = [&](const std::string& why) {
        report.InputError(name + ": " + why);
        return report.Finish();
    };
    if (!parsed)
        return refuse(error + " (" + name + " --help tells the usage)");
    if (!ResolveSecurityId(o, env.securityIdVariable, error))
        return refuse(error);
    if (o.securityIdFile && plat::IsReadableByOthers(o.securityIdFile->c_str()))
        report.Warning(name + ": warning: " + *o.securityIdFile +
                       " holds the security ID and other users can read it; make it readable by "
                       "its owner only (chmod 600)");
    // A cut path would name another directory with its own settings and TRG files.
    if (!ExecutablePathIsWhole())
        return refuse(std::string(GetStringText(IDS_PROGRAM_PATH_TOO_LONG)));
    const std::string settings = o.settingsPath.empty() ? ExecutableDirectory() + kSettingsFileName
                                                        : Absolute(o.settingsPath);
    if (o.command == CliCommand::Init) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(settings, ec)))
            return refuse("settings file " + settings + " exists: init never replaces one");
    } else if (!SettingsFileUsable(settings, error)) {
        return refuse(error);
    }
    std::array<uint8_t, kByteFieldSize> startSerial{};
    if (o.serial && !ParseStartSerial(settings, o, startSerial, error))
        return refuse(error);
    o.savePath = o.savePath.empty() ? o.savePath : Absolute(o.savePath);
    if (o.command == CliCommand::Save && !o.force && plat::FileExists(o.savePath.c_str()))
        return refuse("save: " + o.savePath + " exists (--force replaces it)");

    CQuorvelDlg::RunOverrides overrides;
    overrides.settingsPath = settings;
    overrides.targetName = o.target;
    if (o.serial)
        overrides.startSerial = startSerial;
    overrides.serialRewind = o.serialRewind;
    overrides.expectedTargets = o.expectTargets;
    if (!o.files.empty()) {
        overrides.programFiles.emplace();
        for (const CliProgramFile& f : o.files)
            overrides.programFiles->push_back({Absolute(f.path), f.offsetText});
    }
    if (o.logFile)
        overrides.logFileName = Absolute(*o.logFile);
    if (o.commandFile)
        overrides.commandFileName = Absolute(*o.commandFile);

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
    // The TRG files could not be read: nothing ran.
    if ((o.command == CliCommand::Check || o.command == CliCommand::Init) && !view.Initialised())
        report.SetVerdict(false);
    return report.Finish();
}
