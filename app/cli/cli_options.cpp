#include "cli_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "programdata/address_text.h"

namespace {

constexpr const char kUsage[] =
    R"(Usage: quorvel-cli COMMAND [OPTIONS]

Runs Quorvel's operations without a window: the same settings file, TRG files,
adapters and operation log as the window.

Commands:
  program               plug, run the command file's WRITE, VERIFY and ERASE lines,
                        unplug (the Program button)
  plug                  plug and unplug again
  write                 plug, write, unplug; Write verifies by itself only in
                        detail mode (MODE=0), as the window's "Write with Verify" does
  verify                plug, verify, unplug
  erase                 plug, erase the whole flash, unplug
  save N FILE           plug, save target N's flash as Intel HEX, unplug
  list                  plug, tell each adapter found (device path, firmware, chip,
                        protection, plug result), unplug; erases and writes nothing and
                        sends no security ID unless one is given
  check                 no adapter traffic: the checks a Write makes before it erases,
                        where each file's data lands, the bytes a block erase loses, the
                        checksum and the next serial numbers; exit 0 when a Write would
                        start, 2 when it would refuse
  init                  write a new settings file (--settings, or Quorvel.ini beside
                        quorvel-cli) with every key; never replaces a file
  line init|status      a line's serial pool and record in PostgreSQL (LINEDB); see
                        "quorvel-cli line --help"

Options for this run only (the settings file keeps its own values):
  --settings FILE       settings file (default: Quorvel.ini beside quorvel-cli). The log,
                        command, record and yield files it leaves at their defaults lie
                        beside it
  --target NAME         target type, in any letter case
  --file PATH[@OFFSET]  program file, repeatable; replaces the stored list. OFFSET is
                        hexadecimal: +01000H, -00100H, 0x1000, -0x100
  --log FILE            operation log
  --command FILE        command file (program)
  --expect-targets N    the plug must find exactly N adapters; otherwise nothing is
                        plugged or written (exit 2); check lists N serial numbers

Serial numbers:
  --serial HEX          start serial number of the first Write (serialization must be
                        on). Each Write stores the first number after its boards before
                        anything is erased, so later runs go on from there and no number
                        is handed out twice; a start below the stored number is refused
  --serial-rewind       allow a --serial below the stored number (numbers may repeat)

Repeating the Program cycle:
  --cycles N            N cycles, waiting for Enter before each further one (the end of
                        input stops the waiting: give --interval to run N cycles unattended)
  --loop                cycles until Ctrl+C, or end of input at the prompt
  --interval SECONDS    wait this long between cycles instead of for Enter
  --keep-going          go on after a cycle whose record or log could not be written
                        (otherwise the run stops after that cycle with exit status 1)

Program files:
  --allow-outside       program data outside the target's flash is dropped after a note
                        (otherwise such a file is refused)

Questions and dialogs (without these: Cancel, and a locked target is skipped):
  --yes                 OK to question 2069 (the serial number overlaps a program file)
  --security-id-file FILE
                        the security ID in FILE, as words of four hexadecimal digits
                        such as 1234 5678 9ABC DEF0 (blanks and line ends optional),
                        sent once to each target that the remembered ID does not unlock
  --security-id WORDS   the ID on the command line, where every user of the PC can
                        read it in the process list: prefer the file or the variable
  --allow-initialize    a target still locked after that is unlocked by erasing every
                        plugged chip and its security setting (not for security type 1)
  --force               save: replace an existing FILE

Output:
  --json                one JSON object per line on standard output (schema 1): each
                        target's result, each operation's outcome, each message, and a
                        last "run" line with the counts and the exit status
  --version             the version
  -h, --help            this text

Environment:
  QUORVEL_SECURITY_ID   the security ID when neither option gives one

Exit status: 0 every target succeeded; 1 a target failed, or the run was stopped;
2 nothing could run (arguments, settings, program files, no adapter, adapters in use,
another number of adapters than --expect-targets), or check found a Write would refuse.
)";

// Far more than twelve words with blanks and line ends: anything larger is another file.
constexpr size_t kMaxSecurityIdFileSize = 4096;

bool ParseCount(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && at == end && value >= low && value <= high;
}

bool ParseSeconds(const std::string& text, uint32_t& ms) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, seconds);
    if (ec != std::errc() || at != end || !(seconds >= 0) || seconds > 86400)
        return false;
    ms = static_cast<uint32_t>(std::lround(seconds * 1000));
    return true;
}

bool ParseSecurityId(const std::string& text, std::vector<uint16_t>& words) {
    std::string digits;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    // Twelve words of four digits at most, as the dialog's fields hold them.
    if (digits.empty() || digits.size() % 4 != 0 || digits.size() > 48)
        return false;
    words.clear();
    for (size_t i = 0; i < digits.size(); i += 4)
        words.push_back(uint16_t(std::stoul(digits.substr(i, 4), nullptr, 16)));
    return true;
}

// PATH or PATH@OFFSET (the last '@'); the offset in the file list's form.
bool ParseProgramFile(const std::string& text, CliProgramFile& file, std::string& error) {
    const size_t at = text.rfind('@');
    file.path = text.substr(0, at);
    int32_t offset = 0;
    if (at != std::string::npos && !programdata::ParseOffsetText(text.substr(at + 1), offset)) {
        error = "offset \"" + text.substr(at + 1) + "\" of --file does not parse";
        return false;
    }
    if (file.path.empty()) {
        error = "--file needs a path";
        return false;
    }
    file.offsetText = programdata::FormatOffsetColumn(offset);
    return true;
}

// Each command with its arguments after the name, and the options it takes where it does not
// take them all.
struct CommandSpec {
    CliCommand command;
    size_t arguments;
    std::vector<std::string> options;  // empty: every option
};
const std::map<std::string, CommandSpec> kCommands = {
    {"program", {CliCommand::Program, 0, {}}},
    {"plug", {CliCommand::Plug, 0, {}}},
    {"write", {CliCommand::Write, 0, {}}},
    {"verify", {CliCommand::Verify, 0, {}}},
    {"erase", {CliCommand::Erase, 0, {}}},
    {"save", {CliCommand::Save, 2, {}}},
    {"list",
     {CliCommand::List,
      0,
      {"--settings", "--target", "--log", "--json", "--security-id", "--security-id-file",
       "--expect-targets"}}},
    {"check",
     {CliCommand::Check,
      0,
      {"--settings", "--target", "--file", "--log", "--json", "--serial", "--serial-rewind",
       "--allow-outside", "--yes", "--expect-targets"}}},
    {"init", {CliCommand::Init, 0, {"--settings", "--target", "--file", "--json"}}},
};

// The options without a value; --json is read before the rest (CliWantsJson).
const std::map<std::string, bool CliOptions::*> kFlags = {
    {"--loop", &CliOptions::loop},
    {"--json", nullptr},
    {"--yes", &CliOptions::yes},
    {"--allow-initialize", &CliOptions::allowInitialize},
    {"--serial-rewind", &CliOptions::serialRewind},
    {"--allow-outside", &CliOptions::allowOutside},
    {"--keep-going", &CliOptions::keepGoing},
    {"--force", &CliOptions::force},
};

}  // namespace

bool ParseSerialOption(const std::string& text, uint16_t length,
                       std::array<uint8_t, kByteFieldSize>& bytes, std::string& error) {
    bytes.fill(0);
    uint32_t parsed = length;
    if (ParseHexBytes(text, bytes, parsed) && parsed <= length)
        return true;
    error = "--serial: \"" + text + "\" is no hexadecimal number of at most " +
            std::to_string(length) + " bytes";
    return false;
}

bool CliWantsJson(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), "--json") != args.end();
}

const char* CliUsage() {
    return kUsage;
}

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& o, std::string& error) {
    o = CliOptions{};
    std::vector<std::string> positional;
    std::map<std::string, int> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "-h" || arg == "--help") {
            o.command = CliCommand::Help;
            return true;
        }
        if (arg == "--version") {
            o.command = CliCommand::Version;
            return true;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg[1] != '-' || arg.size() == 2) {
            error = "unknown option " + arg;
            return false;
        }
        std::optional<std::string> inlineValue;
        if (const size_t eq = arg.find('='); eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto flag = [&](bool& out) {
            if (inlineValue) {
                error = arg + " takes no value";
                return false;
            }
            out = true;
            return true;
        };
        if (arg != "--file" && ++seen[arg] > 1) {
            error = arg + " is given twice";
            return false;
        }
        std::string v;
        if (const auto f = kFlags.find(arg); f != kFlags.end()) {
            bool given = false;
            if (!flag(given))
                return false;
            if (f->second != nullptr)
                o.*(f->second) = true;
        } else if (arg == "--settings" || arg == "--target" || arg == "--log" ||
                   arg == "--command" || arg == "--serial") {
            if (!value(v))
                return false;
            if (v.empty()) {
                error = arg + " needs a value";
                return false;
            }
            if (arg == "--settings")
                o.settingsPath = v;
            else
                (arg == "--target"   ? o.target
                 : arg == "--log"    ? o.logFile
                 : arg == "--serial" ? o.serial
                                     : o.commandFile) = v;
        } else if (arg == "--file") {
            CliProgramFile file;
            if (!value(v) || !ParseProgramFile(v, file, error))
                return false;
            o.files.push_back(file);
        } else if (arg == "--cycles") {
            if (!value(v))
                return false;
            if (!ParseCount(v, 1, 1000000, o.cycles)) {
                error = "--cycles needs a count from 1, not \"" + v + "\"";
                return false;
            }
        } else if (arg == "--expect-targets") {
            int count = 0;
            if (!value(v))
                return false;
            if (!ParseCount(v, 1, 32, count)) {
                error = "--expect-targets needs a count from 1 to 32, not \"" + v + "\"";
                return false;
            }
            o.expectTargets = count;
        } else if (arg == "--interval") {
            uint32_t ms = 0;
            if (!value(v))
                return false;
            if (!ParseSeconds(v, ms)) {
                error = "--interval needs seconds from 0 to 86400, not \"" + v + "\"";
                return false;
            }
            o.intervalMs = ms;
        } else if (arg == "--security-id") {
            std::vector<uint16_t> words;
            if (!value(v))
                return false;
            if (!ParseSecurityId(v, words)) {
                // The value is a secret: it goes out in no message.
                error = "--security-id needs 1 to 12 words of four hexadecimal digits";
                return false;
            }
            o.securityId = words;
            o.securityIdSource = arg;
        } else if (arg == "--security-id-file") {
            if (!value(v))
                return false;
            if (v.empty()) {
                error = arg + " needs a value";
                return false;
            }
            o.securityIdFile = v;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }

    if (positional.empty()) {
        error = "no command given";
        return false;
    }
    const auto command = kCommands.find(positional[0]);
    if (command == kCommands.end()) {
        error = "unknown command " + positional[0];
        return false;
    }
    o.command = command->second.command;
    o.commandName = command->first;
    const size_t expected = command->second.arguments + 1;
    if (positional.size() != expected) {
        error = o.command == CliCommand::Save ? "save needs a target number and a file"
                                              : "unexpected argument " + positional[1];
        return false;
    }
    const std::vector<std::string>& allowed = command->second.options;
    for (const auto& [option, count] : seen) {
        if (!allowed.empty() &&
            std::find(allowed.begin(), allowed.end(), option) == allowed.end()) {
            error = option + " does not apply to " + o.commandName;
            return false;
        }
    }
    if (!allowed.empty() && !o.files.empty() &&
        std::find(allowed.begin(), allowed.end(), "--file") == allowed.end()) {
        error = "--file does not apply to " + o.commandName;
        return false;
    }
    if (o.force && o.command != CliCommand::Save) {
        error = "--force belongs to the save command";
        return false;
    }
    if (o.command == CliCommand::Save) {
        if (!ParseCount(positional[1], 1, 32, o.saveTarget)) {
            error = "save needs a target number from 1 to 32, not \"" + positional[1] + "\"";
            return false;
        }
        o.savePath = positional[2];
    }
    const bool repeats = o.loop || seen.count("--cycles") != 0;
    if ((repeats || o.intervalMs) && o.command != CliCommand::Program) {
        error = "--cycles, --loop and --interval repeat the program command only";
        return false;
    }
    if (o.intervalMs && !repeats) {
        error = "--interval needs --cycles or --loop";
        return false;
    }
    if (o.loop && seen.count("--cycles") != 0) {
        error = "--cycles and --loop exclude each other";
        return false;
    }
    if (o.securityId && o.securityIdFile) {
        error = "--security-id and --security-id-file exclude each other";
        return false;
    }
    if (o.commandFile && o.command != CliCommand::Program) {
        error = "--command belongs to the program command";
        return false;
    }
    if (o.serialRewind && !o.serial) {
        error = "--serial-rewind needs --serial";
        return false;
    }
    if (o.keepGoing && !repeats) {
        error = "--keep-going needs --cycles or --loop";
        return false;
    }
    return true;
}

bool ResolveSecurityId(CliOptions& o, const std::optional<std::string>& variable,
                       std::string& error) {
    constexpr const char* kForm = "1 to 12 words of four hexadecimal digits";
    if (o.securityIdFile) {
        const std::string& path = *o.securityIdFile;
        // Not opened as a regular file only: a pipe (<(command)) keeps the ID off the disk.
        std::error_code ec;
        std::ifstream in;
        if (!std::filesystem::is_directory(path, ec))
            in.open(path, std::ios::binary);
        std::string text(kMaxSecurityIdFileSize + 1, '\0');
        if (in)
            in.read(text.data(), std::streamsize(text.size()));
        if (!in.is_open() || in.bad()) {
            error = "--security-id-file " + path + " cannot be read";
            return false;
        }
        text.resize(size_t(in.gcount()));
        std::vector<uint16_t> words;
        if (text.size() > kMaxSecurityIdFileSize || !ParseSecurityId(text, words)) {
            error = "--security-id-file " + path + " must hold " + kForm;
            return false;
        }
        o.securityId = words;
        o.securityIdSource = "--security-id-file";
        return true;
    }
    if (o.securityId || !variable || variable->empty())
        return true;
    std::vector<uint16_t> words;
    if (!ParseSecurityId(*variable, words)) {
        error = std::string(kSecurityIdVariable) + " must hold " + kForm;
        return false;
    }
    o.securityId = words;
    o.securityIdSource = kSecurityIdVariable;
    return true;
}
