#pragma once
// One target description file read by path, for the reader's own search and for tools that
// name their TRG file directly (the simulator) rather than searching the program's places.
#include <cstddef>
#include <cstdint>
#include <string>

#include "brindlex/target_info.h"
#include "brindlex/trg_file.h"

// Fills entry from the TRG file at path with the reader's rules; false when the file would be
// skipped (not enabled, unsupported identity width or version, zero identity, too many ranges).
bool ReadTargetFile(const char* path, uint8_t maxIdBits, CTargetInfo& entry);

// The number that a minimum firmware version text (at most size bytes) stands for: its points
// removed, the rest read as a decimal integer, so blanks and a sign may lead and reading stops
// at the first other character. The reader and the firmware check both read it so.
int32_t VersionNumber(const char* version, size_t size);
