#pragma once
// One target description file read by path, for tools that name their TRG file directly
// (the simulator) rather than searching the program's places.
#include <string>

#include "brindlex/target_info.h"

// Reads the file at path with the library's TRG reader. False (error set) when the file
// cannot be read or is not a usable description.
bool ReadTargetInfoFileAt(const std::string& path, CTargetInfo& entry, std::string& error);
