// SubSystemID.exe: finds the computer's subsystem ID and leaves it in ID_Log.ini in its current
// directory (the updater starts it in its own folder and waits for that file).
//
// The ID is the subsystem device ID of the PCI host bridge (class 06, subclass 00): the first four
// hexadecimal digits of the SUBSYS_ field of its hardware ID, the last four being the subsystem
// vendor (PCI\VEN_8086&DEV_0C04&SUBSYS_17A3103C&REV_06 gives 17A3). Board makers put the board's ID
// there. No other device is consulted: a guessed ID could select another machine's firmware, while
// a missing one ends the update with a clear message. A bridge whose SUBSYS is all zeros has no ID
// of its own and gives 0000, which only entries for any computer (XXXX) match.
//
// ID_Log.ini:
//   [SUBSYSTEM]
//   SYSID=17A3
//   SOURCE=<the hardware ID it came from, or "emulated bench: <folder>">
//
// On an emulated bench the ID comes from the bench instead (emu/adapters/subsystem-id/).
#pragma once

#include <string>
#include <vector>

namespace subsysid {

inline constexpr const char* kIdLogName = "ID_Log.ini";

// Exit codes of SubSystemID.exe.
enum : int { kExitWritten = 0, kExitNotFound = 1, kExitNotWritten = 2 };

struct PciDevice {
    std::vector<std::string> hardwareIds;
    std::vector<std::string> compatibleIds;
};

// "17A3103C" from "...&SUBSYS_17A3103C&...", upper-cased; empty when the field is missing or is not
// eight hexadecimal digits.
std::string SubsysField(const std::string& hardwareId);

// True when one of the device's IDs names the host-bridge class (CC_0600...).
bool IsHostBridge(const PciDevice& device);

// The subsystem ID of the first host bridge whose hardware IDs carry a SUBSYS field, with that
// hardware ID in `source`; empty when there is none.
std::string FindSubsystemId(const std::vector<PciDevice>& devices, std::string& source);

// The bytes of ID_Log.ini.
std::string IdLogText(const std::string& id, const std::string& source);

}  // namespace subsysid
