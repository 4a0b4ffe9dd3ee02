// A camera's power state across processes: <record>.power in the bench folder, written when a cut
// fault takes its power and when `benchtool replug` plugs it back in. Lines "state=<on|cut|returned>"
// "download_ok=<0|1>" (the commit flag of Quelmar families j and l) and, for a family 'l' chip with
// in-package flash, "boot_flash=<serial|in_package>" (the flash that flag belongs to). No file: the
// camera was never cut and does not boot by its mark.
#pragma once

#include <string>

#include "emu/bench.h"

namespace emu {

struct PowerFile {
    std::string state;  // "", "on", "cut" or "returned"
    bool downloadOk = true;
    std::string bootFlash;  // "", "serial" or "in_package"; "": as the camera record says
};

std::string PowerFilePath(const Bench& bench, const CameraRecord& camera);
// A missing file leaves `out` empty; a state other than the three is an error.
bool ReadPowerFile(const std::string& path, PowerFile& out, std::string& error);
bool WritePowerFile(const std::string& path, const PowerFile& file, std::string& error);

}  // namespace emu
