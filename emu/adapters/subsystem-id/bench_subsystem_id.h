// SubSystemID.exe on an emulated bench: the subsystem ID the bench's machine reports instead of the
// PCI host bridge's.
//
// bench.ini key:
//   [bench] subsystem_id=17A3   four hexadecimal digits; `none` for a machine where nothing is
//                               found; absent: 0000, a machine without an ID of its own (entries
//                               for SysID XXXX match it)
#pragma once

#include <string>

#include "emu/bench.h"

namespace subsysid {

// What the bench's machine reports. Empty for `none`; false with the reason when the value is
// malformed.
bool BenchSubsystemId(const emu::Bench& bench, std::string& id, std::string& error);

}  // namespace subsysid
