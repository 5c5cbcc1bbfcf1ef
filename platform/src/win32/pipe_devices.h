#pragma once
// Simulated adapters on Windows: named-pipe devices (\\.\pipe\...) served by another program,
// such as vexil-pipe-sim. Enumeration lists the ones that VEXIL_PIPE_DEVICES names, and every
// open of a pipe device or of its \PIPE00 / \PIPE01 pipes is refused unless the pipe is one
// that this user's server made (pipe_security.h): another user cannot pose as an adapter.
#include <string>
#include <vector>

#include "platform/win32_types.h"

namespace plat {

// "\\.\pipe\" followed by a name: a pipe on this machine.
bool IsLocalPipePath(const char* path);
// The device paths of VEXIL_PIPE_DEVICES (separated by ';') that are local pipes served by
// this user now, in the order given. Empty when the variable is not set.
std::vector<std::string> PipeDevicesFromEnvironment();

}  // namespace plat
