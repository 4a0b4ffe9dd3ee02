// The recoveries a camera gets after a cut and its return, each run as a fresh process would run
// it on the bench in a folder: the write tool Orlinde, a second unattended updater run (what
// "Tessac -s" starts), and that run finding a camera in ROM mode through dev.vrk's ROM key. The
// unit tests use them, and the cut matrix can call them after any cut.
//
// Each function opens the bench folder anew (a camera cut earlier stays off the bus until
// Replug), runs the program's portable core over the bench to its end, closes the bench again so
// that what the camera holds is in its files, and says how the camera boots then.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "emu/bench_devices.h"

namespace recovery {

struct Outcome {
    bool ok = false;         // the program reported success
    std::string said;        // its last words: Orlinde's log view, or "exit N: " and Tessaw's log file
    int exitCode = -1;       // Tessaw's exit code (-1 for Orlinde, which has none)
    emu::BootMode boot = emu::BootMode::Dead;  // how the camera booted afterwards
    bool present = false;    // it is on the bus afterwards
    std::string hardwareId;  // as the system sees it afterwards ("" when not present)
    uint32_t requests = 0;   // extension-unit requests the camera counted from power-on in the run
};

// "benchtool replug <folder> <camera>". False, with the reason, when the bench has no such camera.
bool Replug(const std::filesystem::path& folder, const std::string& camera, std::string& error);

// How the first camera of the bench boots and shows itself now, without running anything.
Outcome Look(const std::filesystem::path& folder);

// Orlinde with ChooseBinUsePid, AutoDL and CmdLineMode, started with the bench's first camera
// attached: pid.ini has a section for `productId` naming bin\fw.bin, and bin\SF.bin, the file of a
// camera that shows its chip's ROM identity, is the same firmware. ok: "Download complete.".
Outcome OrlindeRecover(const std::filesystem::path& folder, const std::string& firmware,
                       uint16_t productId = 0xB5A4);

// A silent updater run (Tessaw -s) on computer 17A3 with a config.ini entry for `productId`
// naming FW.bin (= `firmware`) and `devVrk` as dev.vrk; the camera's driver is new enough. ok:
// exit code 0.
Outcome TessawRun(const std::filesystem::path& folder, const std::string& firmware, const std::string& devVrk,
                  const std::string& productId = "B5A4", const std::string& configEntries = "");

// dev.vrk for the camera alone; with `romIds` also the ROM key of [QUELMAR] ("04FC:2080").
std::string DevVrk(const std::string& productId = "B5A4", const std::string& romIds = "");

}  // namespace recovery
