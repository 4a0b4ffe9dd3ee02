// The emulated bench: a folder that stands in for the cameras of a machine.
//
// The folder holds "bench.ini", the description, and the devices' persistent state. The bench in
// use is named by the environment variable CAMKIT_BENCH, which child processes inherit, so that a
// launcher and the program it starts see the same cameras. Every view of a camera that the kit
// asks the system for (DirectShow device path, USB hardware ID, instance IDs) is derived here from
// one camera record, so the views always agree.
//
// bench.ini:
//   [bench]
//   description=free text shown by the bench tool
//   cameras=cam0, cam1         ; camera records, in the order the system presents them
//
//   [cam0]
//   friendly=USB Camera        ; DirectShow FriendlyName
//   bus=usb                    ; usb (default) or root: a virtual (non-USB) capture device
//   vid=3B1D                   ; USB identity, 4 hexadecimal digits each
//   pid=B5A4
//   rev=0012                   ; device release (bcdDevice)
//   mi=00                      ; interface number of a composite device; empty: single function
//   instance=1a2b3c4d          ; parent-instance key of the instance IDs; default derived
//   port=1                     ; port number on the parent hub (1..255)
//   path=                      ; explicit DevicePath, replacing the derived one
//   nopath=0                   ; 1: the device's property bag has no "DevicePath"
//   chip=none                  ; quelmar | realtek | sonix | none: which model answers for it
//   formats=640x480            ; the video formats the camera streams, in_use=1: held by another
//                              ; program (emu/capture_filter/stream_settings.h)
// Keys of the chip models are read by those models from the record's key table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kit/trace.h"
#include "kit/video_input.h"

namespace emu {

inline constexpr const char* kBenchEnvVar = "CAMKIT_BENCH";
inline constexpr const char* kBenchFile = "bench.ini";

struct CameraRecord {
    std::string name;      // section name in bench.ini
    std::string friendly;  // DirectShow FriendlyName
    std::string bus;       // "usb" or "root"
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t rev = 0;
    int mi = -1;           // -1: not a composite device
    std::string instance;  // 8 lower-case hexadecimal digits
    uint8_t port = 1;
    std::string pathOverride;
    bool noPath = false;
    std::string chip = "none";  // "quelmar", "realtek", "sonix" or "none"
    // Every key of the record's section, names lower-cased, values trimmed, in file order of
    // first appearance; the chip models take their own settings from here.
    std::map<std::string, std::string> keys;

    // The value of a key, or `fallback` when the record does not set it.
    std::string Get(const std::string& key, const std::string& fallback = "") const;

    bool IsUsb() const { return bus == "usb"; }
    // \\?\usb#vid_3b1d&pid_b5a4&mi_00#6&1a2b3c4d&0&0000#{65e8773d-...}\global
    std::string DevicePath() const;
    // USB\VID_3B1D&PID_B5A4&REV_0012&MI_00
    std::string HardwareId() const;
    // USB\VID_3B1D&PID_B5A4&MI_00\6&1A2B3C4D&0&0000
    std::string InstanceId() const;
};

struct Bench {
    std::string folder;
    std::string description;
    std::vector<CameraRecord> cameras;
    // Every section of bench.ini (names and keys lower-cased): hub records, bench-wide settings.
    std::map<std::string, std::map<std::string, std::string>> sections;

    // A key of a section, or `fallback`.
    std::string Get(const std::string& section, const std::string& key, const std::string& fallback = "") const;
};

// Reads <folder>/bench.ini. On failure returns false and says why in `error`
// (missing file, unknown camera record, malformed identity...).
bool LoadBench(const std::string& folder, Bench& out, std::string& error);

// The folder named by CAMKIT_BENCH, or nothing when the variable is unset or empty.
std::optional<std::string> BenchFolderFromEnvironment();

// "emulated bench: <folder>", without a line end: what every program that runs on a bench says,
// in its trace and, where it has one, in the log the user reads.
std::string BenchNotice(const std::string& folder);

// Writes BenchNotice(folder) and "\n" to the trace.
void TraceBenchInUse(kit::Trace& trace, const std::string& folder);

// DirectShow video-input devices of a bench, in the bench's order.
class EmulatedVideoInput final : public kit::VideoInputPort {
public:
    explicit EmulatedVideoInput(const Bench& bench) : bench_(bench) {}
    int32_t Enumerate(std::vector<kit::VideoInputDevice>& out) override;

private:
    const Bench& bench_;
};

// A video-input port that fails every enumeration with E_FAIL: what a program uses when the bench
// it was asked to run on cannot be read, so that nothing real is touched by mistake.
class FailedVideoInput final : public kit::VideoInputPort {
public:
    int32_t Enumerate(std::vector<kit::VideoInputDevice>& out) override;
};

}  // namespace emu
