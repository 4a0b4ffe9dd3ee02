// The adapters of the machine the library runs on, without any bench: the Win32 ones on Windows;
// on other hosts none (no capture devices, no imaging devices, no hubs).
#pragma once

#include "camlib/ports.h"

namespace camlib {

Platform& HostPlatform();

}  // namespace camlib
