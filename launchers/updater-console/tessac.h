// Tessac: starts the updater "Tessaw.exe" from its own folder; with "-s" waits for the silent
// update and reports its outcome. The whole behaviour lives here, over ports, so that it runs
// in native tests with a scripted child and a virtual clock.
#pragma once

#include <cstdint>

#include "kit/process.h"

namespace tessac {

// Console texts, exactly as the launcher prints them.
inline constexpr const char* kPathTooDeep = "Camera update tool path too deep!\n";
inline constexpr const char* kCreateFailed = "Error(%x) creating process.\n";
inline constexpr const char* kInProgress = "Korvath Camera firmware update in progress.\n";
inline constexpr const char* kPleaseWait = "Please wait";
inline constexpr const char* kDot = ".";
inline constexpr const char* kDone = "done.\n";
inline constexpr const char* kSucceeded = "Update successfully, please reboot.\n";
inline constexpr const char* kFailed = "Error(%x), please refer to log.\n";
// Tessaw's refusals of its opt-in checks, each with a line a person reading the console can act on.
inline constexpr const char* kUpToDate = "Firmware already up to date, nothing to do.\n";
inline constexpr const char* kNoDowngrade = "Camera firmware is newer than the update, nothing to do.\n";
inline constexpr const char* kOnBattery = "Computer on battery, connect the AC adapter and try again.\n";
inline constexpr const char* kWrongImage = "Error(%x), the firmware file is not for this camera, please refer to log.\n";
inline constexpr int kUpToDateCode = 40;
inline constexpr int kNoDowngradeCode = 41;
inline constexpr int kOnBatteryCode = 42;
inline constexpr int kWrongImageCode = 43;
// Tessaw could not back up the camera's firmware that config.ini asked it to keep: nothing was written.
inline constexpr const char* kNoBackup =
    "Error(%x), the camera firmware could not be backed up, nothing was written, please refer to log.\n";
inline constexpr int kNoBackupCode = 45;

// The outcome line for a non-zero exit code of Tessaw (printf format taking the code).
const char* OutcomeLine(uint32_t exitCode);

inline constexpr const char* kChild = "Tessaw.exe";
inline constexpr int kPathTooDeepCode = 30840;  // 0x7878
inline constexpr unsigned kPolls = 1000;
inline constexpr unsigned kPollMs = 200;
inline constexpr unsigned kPauseMs = 3000;
inline constexpr unsigned kIdleWaitMs = 1000;

struct Ports {
    kit::SystemPort& system;
    kit::ProcessPort& processes;
    kit::ConsolePort& console;
};

// True when the arguments (without the program name) ask for a silent update: exactly one
// argument, "-s" or "-S".
bool IsSilent(int argc, const char* const* argv);

// Runs the launcher; argv[0] is the program name. Returns the process exit code.
int Run(int argc, const char* const* argv, Ports& ports);

}  // namespace tessac
