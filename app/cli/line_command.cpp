#include "line_command.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/program_paths.h"
#include "app/writer_settings.h"
#include "cli_options.h"
#include "console_report.h"
#include "linedb/line_client.h"
#include "programdata/string_table.h"

namespace {

constexpr const char kLineUsage[] =
    R"(Usage: quorvel-cli line init [OPTIONS]
       quorvel-cli line status [OPTIONS]

The line database that the settings file names (LINEDB): a serial pool and a production
record shared by the stations of a line.

  init      creates the tables or brings them up to this program's version, and creates
            this station's serial pool (SERIALPOOL, by default the target name) from the
            settings file's serial number, increment and length when it is missing
  status    the line database, its serial pools, the rows waiting in this station's
            outbox, and the yield per station and target

Options:
  --settings FILE       settings file (default: Quorvel.ini beside quorvel-cli)
  --target NAME         target type (names the default pool)
  --serial HEX          init: the pool's next number (a new pool starts there; an existing
                        one moves there, forwards only, and its overflow mark is cleared)
  --serial-rewind       init: allow a --serial below the pool's next number

Exit status: 0 done; 2 the settings or the line database could not be used.
)";

struct LineOptions {
    std::string command;
    std::string settingsPath;
    std::optional<std::string> target;
    std::optional<std::string> serial;
    bool rewind = false;
};

bool ParseLineOptions(const std::vector<std::string>& args, LineOptions& o, std::string& error) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--settings" || arg == "--target" || arg == "--serial") {
            if (!value(v))
                return false;
            if (arg == "--settings")
                o.settingsPath = v;
            else
                (arg == "--target" ? o.target : o.serial) = v;
        } else if (arg == "--serial-rewind") {
            o.rewind = true;
        } else if ((arg == "init" || arg == "status") && o.command.empty()) {
            o.command = arg;
        } else {
            error = "unknown argument " + arg;
            return false;
        }
    }
    if (o.command.empty())
        error = "init or status?";
    else if ((o.serial || o.rewind) && o.command != "init")
        error = "--serial and --serial-rewind belong to line init";
    else if (o.rewind && !o.serial)
        error = "--serial-rewind needs --serial";
    return error.empty();
}

// A message box's text on one line.
std::string MessageLine(const LineProblem& problem) {
    return "error " + std::to_string(problem.messageId) + ": " +
           OneLine(FormatStringText(problem.messageId, problem.detail));
}

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace

int RunLineCommand(const std::vector<std::string>& args, const CliEnvironment& env) {
    const std::string program = ProgramName().empty() ? "quorvel-cli" : ProgramName();
    const std::string name = program + ": line";
    auto fail = [&](const std::string& why) {
        std::fprintf(env.err, "%s: %s\n", name.c_str(), why.c_str());
        return int(kExitNothingRan);
    };
    if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
        std::fputs(kLineUsage, env.out);
        return kExitSuccess;
    }
    LineOptions o;
    std::string error;
    if (!ParseLineOptions(args, o, error))
        return fail(error + " (" + program + " line --help tells the usage)");

    std::error_code ec;
    const std::string path = o.settingsPath.empty()
                                 ? ExecutableDirectory() + kSettingsFileName
                                 : std::filesystem::absolute(o.settingsPath, ec).string();
    SettingsFile file(path);
    WriterSettings s;
    if (!file.ReadTargetName(s.targetName))
        return fail("settings file " + path + " cannot be read");
    if (o.target)
        s.targetName = *o.target;
    file.ReadSerialSettings(s);
    file.ReadRecordSettings(s);
    file.ReadLineSettings(s);
    s.logFileName = file.ReadLogFileName();
    if (s.logFileName.empty())
        s.logFileName = ExecutableDirectory() + kDefaultLogFileName;
    if (!s.line.On())
        return fail("LINEDB is not set in " + path + ": this station works on its own");
    if (s.line.pool.empty())
        return fail("no serial pool: SERIALPOOL and the target name are empty in " + path);

    if (o.command == "init") {
        linedb::InitRequest request{.line = s.line,
                                    .length = s.serialLength,
                                    .start = s.serialNumber,
                                    .increment = s.increment,
                                    .incrementLength = s.incrementLength,
                                    .move = std::nullopt,
                                    .rewind = o.rewind};
        if (o.serial) {
            std::array<uint8_t, kByteFieldSize> bytes{};
            if (!ParseSerialOption(*o.serial, s.serialLength, bytes, error))
                return fail(error);
            request.move = bytes;
        }
        linedb::InitReport report;
        if (const LineProblem problem = linedb::InitLine(request, report))
            return fail(MessageLine(problem));
        std::fprintf(env.out, "line database: %s\n", report.server.c_str());
        if (report.fromVersion == report.toVersion)
            std::fprintf(env.out, "tables: version %d, up to date\n", report.toVersion);
        else
            std::fprintf(env.out, "tables: version %d, were %d\n", report.toVersion,
                         report.fromVersion);
        const linedb::PoolState& pool = report.pool;
        std::fprintf(env.out, "serial pool %s: %s, next %s, increment %s, length %d%s\n",
                     pool.name.c_str(),
                     report.poolCreated ? "created"
                     : report.poolMoved ? "moved"
                                        : "kept",
                     pool.next.c_str(), pool.increment.c_str(), pool.length,
                     pool.overflowed ? ", overflowed" : "");
        if (pool.length != s.serialLength)
            std::fprintf(env.err,
                         "%s: warning: SERIALNUMLEN is %d in %s: this station's Writes refuse "
                         "numbers of the pool's length\n",
                         name.c_str(), int(s.serialLength), path.c_str());
        return kExitSuccess;
    }

    // status: the outbox first, it is this station's own and needs no server.
    const std::string record = RecordFilePathOf(s);
    size_t waiting = 0, unreadable = 0;
    if (record.empty())
        std::fprintf(env.out, "outbox: none, the production record is off (RECORDFLG=0)\n");
    else if (linedb::CountOutbox(record, waiting, unreadable))
        std::fprintf(
            env.out, "outbox %s: %zu rows waiting%s\n", linedb::OutboxPathFor(record).c_str(),
            waiting,
            unreadable > 0 ? (", " + std::to_string(unreadable) + " unreadable").c_str() : "");
    else
        std::fprintf(env.out, "outbox %s: cannot be read\n", linedb::OutboxPathFor(record).c_str());
    linedb::LineStatus status;
    if (const LineProblem problem = linedb::ReadLineStatus(s.line, status))
        return fail(MessageLine(problem));
    std::fprintf(env.out, "line database: %s, tables of version %d\n", status.server.c_str(),
                 status.schemaVersion);
    std::fprintf(env.out, "station %s, serial pool %s\n", s.line.station.c_str(),
                 s.line.pool.c_str());
    std::fprintf(env.out, "serial pools:\n");
    for (const linedb::PoolState& pool : status.pools)
        std::fprintf(env.out,
                     "  %-20s next %s  increment %s  length %d  taken %lld  overflowed %s\n",
                     pool.name.c_str(), pool.next.c_str(), pool.increment.c_str(), pool.length,
                     pool.taken, YesNo(pool.overflowed).c_str());
    std::fprintf(env.out, "yield per station and target (Program cycles, Writes on their own):\n");
    std::fprintf(env.out, "  %-20s %6s %8s %8s %7s\n", "station", "target", "passed", "failed",
                 "yield");
    for (const linedb::YieldRow& row : status.yield) {
        const long long boards = row.passed + row.failed;
        std::fprintf(env.out, "  %-20s %6d %8lld %8lld %6.1f%%\n", row.station.c_str(), row.target,
                     row.passed, row.failed,
                     boards > 0 ? 100.0 * double(row.passed) / boards : 0.0);
    }
    return kExitSuccess;
}
