#pragma once
// One target description file read by path, for the reader's own search and for tools that
// name their TRG file directly (the simulator) rather than searching the program's places.
#include <cstdint>
#include <string>

#include "brindlex/target_info.h"

// Fills entry from the TRG file at path with the reader's rules; false when the file would be
// skipped (not enabled, unsupported identity width or version, zero identity, too many ranges).
bool ReadTargetFile(const char* path, uint8_t maxIdBits, CTargetInfo& entry);

// The same for tools: any identity width, and a reason in error when the file cannot be used.
bool ReadTargetInfoFileAt(const std::string& path, CTargetInfo& entry, std::string& error);
