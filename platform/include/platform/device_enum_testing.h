#pragma once
// Windows build: a test seam of the device enumeration. Under Wine no driver provides the
// adapters' interface class, so tests name device paths (named-pipe devices, see
// device_io.h) that the enumeration lists after the interfaces SetupDi itself reports for
// that class. The enumeration still runs through SetupDi; with no paths set (the program
// never sets any) it is SetupDi alone, followed by the pipe devices of simulated adapters
// that VEXIL_PIPE_DEVICES names (README, "Windows build"). The Linux build lists test
// devices through the in-process provider instead (inproc_device.h).
#include <string>
#include <vector>

#include "platform/win32_types.h"

namespace plat {

// Replaces the extra paths of the class; an empty list removes them. Sets taken before keep
// what they listed.
void SetExtraDeviceInterfacesForTesting(const GUID& interfaceClass, std::vector<std::string> paths);

}  // namespace plat
