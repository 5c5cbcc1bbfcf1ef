#pragma once
// The built-in socket device provider (see platform/socket_device.h).
#include "platform/device_provider.h"

namespace plat {

DeviceProvider& SocketProvider();

}  // namespace plat
