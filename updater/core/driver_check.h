// The driver check made before a Quelmar camera is flashed: the installed driver's version, read
// from the registry, against the minimum that config.ini names.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "kit/driver_registry.h"
#include "model.h"

namespace tessaw {

using DriverVersion = std::array<uint32_t, 4>;

// "6.1.7600.16" -> {6, 1, 7600, 16}: each "."-separated part is the value of its leading decimal
// digits (0 without digits), a missing part is 0; values beyond 32 bits are clamped.
DriverVersion ParseDriverVersion(const std::string& text);

enum DriverCheckResult : int { kDriverStepFailed = 0, kDriverOutdated = 1, kDriverAccepted = 2 };

// kDriverAccepted when `installed` is at least `required`, kDriverOutdated otherwise.
DriverCheckResult CompareDriverVersions(const DriverVersion& installed, const DriverVersion& required);

struct DriverCheck {
    DriverCheckResult result = kDriverStepFailed;
    // Which registry step failed (result 0): 0 device key, 1 its first subkey's name, 2 that subkey,
    // 3 its "Driver" value, 4 the Class key, 5 the driver's key under it, 6 its "DriverVersion".
    int32_t code = 0;
};

// Walks HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_<vid>&Pid_<pid>&MI_00 to the driver's
// "DriverVersion" and compares it with `minimum` (an empty minimum accepts every version). Families
// other than Quelmar pass once the version has been read. Every key opened is closed again.
DriverCheck CheckDriver(kit::RegistryPort& registry, const std::string& vid, const std::string& pid,
                        const std::string& minimum, ChipFamily family);

}  // namespace tessaw
