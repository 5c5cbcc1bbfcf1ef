#pragma once
// One target description file read by path, for tools that name their TRG file directly (the
// simulator, test and benchmark rigs) rather than searching the program's places. Tools link the
// library's static form: the shared library does not export it.
#include <string>

#include "brindlex/target_info.h"

// Fills entry from the TRG file at path with the library's own reader rules, for any identity
// width; false with a reason in error when the file cannot be used.
bool ReadTargetInfoFileAt(const std::string& path, CTargetInfo& entry, std::string& error);
