#include "tessac.h"

#include <cstdio>
#include <cstring>

namespace tessac {
namespace {

void Print(kit::ConsolePort& console, const char* fmt, unsigned value) {
    char line[128];
    std::snprintf(line, sizeof line, fmt, value);
    console.Write(line);
}

// Polls the child's exit code every 200 ms, at most 1000 times; never terminates it.
uint32_t WaitForChild(Ports& ports, const kit::ProcessHandles& child) {
    uint32_t exitCode = kit::kStillActive;
    int pollsLeft = kPolls;
    ports.console.Write(kInProgress);
    ports.console.Write(kPleaseWait);
    while (exitCode == kit::kStillActive && pollsLeft > 0) {
        uint32_t code = exitCode;
        if (ports.processes.GetExitCode(child, code)) exitCode = code;
        --pollsLeft;
        if (pollsLeft % 5 == 0) ports.console.Write(kDot);
        ports.system.Sleep(kPollMs);
    }
    ports.console.Write(kDone);
    return exitCode;
}

}  // namespace

const char* OutcomeLine(uint32_t exitCode) {
    switch (exitCode) {
        case kUpToDateCode:
            return kUpToDate;
        case kNoDowngradeCode:
            return kNoDowngrade;
        case kOnBatteryCode:
            return kOnBattery;
        case kWrongImageCode:
            return kWrongImage;
        case kNoBackupCode:
            return kNoBackup;
        default:
            return kFailed;
    }
}

bool IsSilent(int argc, const char* const* argv) {
    return argc == 2 && (std::strcmp(argv[1], "-s") == 0 || std::strcmp(argv[1], "-S") == 0);
}

int Run(int argc, const char* const* argv, Ports& ports) {
    int result = 0;
    const bool silent = IsSilent(argc, argv);
    char commandLine[32] = {};
    std::snprintf(commandLine, sizeof commandLine, "%s%s", kChild, silent ? " -s" : "");

    char modulePath[260] = {};
    if (ports.system.ModuleFileName(modulePath, sizeof modulePath) == sizeof modulePath) {
        ports.console.Write(kPathTooDeep);
        ports.system.Sleep(kPauseMs);
        return kPathTooDeepCode;
    }
    ports.system.RemoveFileSpec(modulePath);
    ports.system.ChangeDirectory(modulePath);

    kit::ProcessHandles child;
    uint32_t lastError = 0;
    if (!ports.processes.Create(kChild, commandLine, child, lastError)) {
        result = static_cast<int>(lastError);
        Print(ports.console, kCreateFailed, lastError);
        ports.system.Sleep(kPauseMs);
        return result;
    }
    ports.processes.WaitForInputIdle(child, kIdleWaitMs);

    if (silent) {
        uint32_t exitCode = WaitForChild(ports, child);
        if (exitCode == 0) {
            ports.console.Write(kSucceeded);
        } else {
            Print(ports.console, OutcomeLine(exitCode), exitCode);
            result = static_cast<int>(exitCode);
        }
        ports.system.Sleep(kPauseMs);
    }
    ports.processes.Close(child);
    return result;
}

}  // namespace tessac
