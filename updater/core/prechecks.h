// Checks a packager can turn on in config.ini's [Checks] section, made before anything is written
// to the camera: the computer's power, the firmware file's identity and its revision. Every key is
// off when absent, so a config.ini without the section runs as it always has. The decisions are
// pure functions; the session reads the inputs and reports the refusals.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kit/profile.h"
#include "ports.h"

namespace tessaw {

inline constexpr const char* kChecksSection = "Checks";
inline constexpr const char* kKeyMinBattery = "MinBatteryPercent";
inline constexpr const char* kKeyMainsOnly = "RefuseOnBattery";
inline constexpr const char* kKeyImageIdentity = "ImageIdentity";
inline constexpr const char* kKeySkipCurrent = "SkipCurrentVersion";
inline constexpr const char* kKeyNoDowngrade = "RefuseDowngrade";
// [FW_TOOL] Backup: 1 keeps what the camera holds in a file before anything is erased (session.h).
inline constexpr const char* kKeyBackup = "Backup";

struct CheckSettings {
    int minBatteryPercent = 0;   // on battery below this charge: refused; 0 off
    bool refuseOnBattery = false;  // on battery at all: refused
    bool imageIdentity = false;    // the file must name the identified camera
    bool skipCurrent = false;      // the camera holds the file's revision already: nothing to do
    bool refuseDowngrade = false;  // the file's revision is below the camera's: nothing to do

    bool VersionCheck() const { return skipCurrent || refuseDowngrade; }
};

// Reads [Checks] of `file`. A flag is on when its leading number is not 0; MinBatteryPercent is
// clamped to 0..100.
CheckSettings ReadCheckSettings(kit::ProfileReader& profile, const char* file);

enum class PowerVerdict { Pass, OnBattery, LowBattery };
// A state the system cannot tell (no battery, a desktop; a battery of unknown charge for the
// charge test) passes: the check guards against a dying battery, not against a missing reading.
PowerVerdict DecidePower(const CheckSettings& settings, const kit::PowerStatus& status);

// Where a Quelmar image carries its identity block (vendor ID, product ID and device release,
// 16-bit little-endian each), by the chip family letter of the camera-access library.
uint32_t QuelmarIdentityOffset(char family);
inline constexpr uint32_t kIdentityBlockBytes = 6;

struct ImageIdentity {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t rev = 0;
};
// The identity block of `image` (its first `length` bytes hold the file) for `family`; nothing
// when the file is too short to hold it.
std::optional<ImageIdentity> QuelmarImageIdentity(const std::vector<uint8_t>& image, uint32_t length,
                                                  char family);

// "B5A4" -> 0xB5A4; nothing unless the text is one to four hexadecimal digits.
std::optional<uint16_t> HexWord(const std::string& text);

enum class VersionVerdict { Update, Current, Downgrade };
VersionVerdict DecideVersion(const CheckSettings& settings, uint16_t imageRev, uint16_t cameraRev);

}  // namespace tessaw
