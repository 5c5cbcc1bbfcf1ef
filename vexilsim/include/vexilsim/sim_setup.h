#pragma once
// The setup file of vexil-sim: an INI file describing every simulated adapter (its chip from
// a TRG file with overrides, firmware version, flash contents, protection, power-on state,
// timing and faults). The format is described in the README, "Simulated adapters".
#include <memory>
#include <string>
#include <vector>

#include "vexilsim/sim_adapter.h"

namespace vexilsim {

struct AdapterSetup {
    std::string name;  // socket name in the device directory
    std::shared_ptr<SimAdapter> adapter;
};

// Reads the setup file. On failure returns false with a message that names the file, the
// section and the key at fault.
bool LoadSetup(const std::string& path, std::vector<AdapterSetup>& adapters, std::string& error);

// One fault line: KIND [ARGUMENT] (ON COMMAND | AT FRAME) [TIMES N | TIMES ALL].
struct FaultSetup {
    Fault fault;
    bool atFrame = false;
    uint32_t frame = 0;
    CommandKind command = CommandKind::kInvalid;
};
bool ParseFault(const std::string& text, FaultSetup& out, std::string& error);

// Loads an Intel HEX file into the chip's flash (bypassing NOR rules and protection).
bool LoadIntelHex(const std::string& path, SimChip& chip, std::string& error);

// Writes flash to path (byte i = flash address i), replacing the file atomically so that a
// reader never sees half a dump.
bool WriteFlashDump(const std::string& path, const std::vector<uint8_t>& flash, std::string& error);

// The command kind of a name such as "write-flash" (any letter case); kInvalid if unknown.
CommandKind CommandKindFromName(const std::string& name);

}  // namespace vexilsim
