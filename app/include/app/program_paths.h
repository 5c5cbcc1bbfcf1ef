#pragma once
// Where the running program lies, as the settings, log and command file defaults need it.
#include <string>

// False when the executable's path is unknown or too long to be held whole (MAX_PATH), so
// that its directory and name would come out cut; both functions below then answer "".
bool ExecutablePathIsWhole();

// The executable's drive and directory, ending in its separator ("" when unknown).
std::string ExecutableDirectory();

// The executable's file name without directory and extension: the program's name, used as
// the message-box caption and the single-instance lock.
std::string ProgramName();

// A path's drive and directory, ending in its separator ("" for a bare name).
std::string DirectoryOf(const std::string& path);
