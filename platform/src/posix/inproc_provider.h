#pragma once
// The built-in in-process device provider (see platform/inproc_device.h).
#include "platform/device_provider.h"

namespace plat {

DeviceProvider& InprocProvider();

}  // namespace plat
