#pragma once
// The command line of quorvel-cli: what to run and what this run uses instead of the stored
// settings.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/writer_settings.h"

enum class CliCommand {
    Help,
    Version,
    Program,
    Plug,
    Write,
    Verify,
    Erase,
    Save,
    List,
    Check,
    Init
};

struct CliProgramFile {
    std::string path;
    std::string offsetText;  // the file list's own form ("+01000H")
};

struct CliOptions {
    CliCommand command = CliCommand::Help;
    std::string commandName;  // as given
    int saveTarget = 0;       // save N FILE
    std::string savePath;
    bool force = false;  // save may replace an existing file

    std::string settingsPath;  // empty: beside the executable
    std::optional<std::string> target;
    std::vector<CliProgramFile> files;  // replace the stored list when not empty
    std::optional<std::string> logFile;
    std::optional<std::string> commandFile;
    std::optional<std::string> serial;  // hexadecimal start serial number
    bool serialRewind = false;          // --serial may lie below the stored number
    bool allowOutside = false;          // program files may hold data outside the flash
    bool keepGoing = false;             // cycles go on after the record could not be written
    std::optional<int> expectTargets;   // the adapters a plug must find

    int cycles = 1;
    bool loop = false;
    std::optional<uint32_t> intervalMs;  // between cycles instead of waiting for Enter

    bool yes = false;
    bool allowInitialize = false;
    std::optional<std::vector<uint16_t>> securityId;
    std::optional<std::string> securityIdFile;
    std::string securityIdSource;  // where securityId came from, as the user named it
};

// Holds the security ID for runs that give it neither on the command line nor in a file.
constexpr const char* kSecurityIdVariable = "QUORVEL_SECURITY_ID";

// False with a one-line reason in error.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// Settles the run's security ID: --security-id, or the content of --security-id-file (read
// here), or else variable, the value of QUORVEL_SECURITY_ID (unset or empty: no ID). False
// with a one-line reason that never shows the ID.
bool ResolveSecurityId(CliOptions& options, const std::optional<std::string>& variable,
                       std::string& error);

// --serial's text as length bytes, the rest 0. False with a one-line reason in error.
bool ParseSerialOption(const std::string& text, uint16_t length,
                       std::array<uint8_t, kByteFieldSize>& bytes, std::string& error);

// The --help text.
const char* CliUsage();

// Whether the command line asks for JSON lines, also when it does not parse otherwise.
bool CliWantsJson(const std::vector<std::string>& args);
