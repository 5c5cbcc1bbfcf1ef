#pragma once
// The working copy that a Windows write prepares beside a file and then moves over it.
#include <string>

namespace plat {

// A name beside path for its working copy, unique within this process and across processes.
std::string WorkingCopyBeside(const std::string& path, const char* extension);
// Deletes the copy and fails, keeping the error that made the caller give up.
bool FailRemoving(const std::string& copy);

}  // namespace plat
