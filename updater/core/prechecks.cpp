#include "prechecks.h"

#include <algorithm>

#include "camlib/chips.h"
#include "config.h"
#include "text_util.h"

namespace tessaw {
namespace {

long long ReadNumber(kit::ProfileReader& profile, const char* file, const char* key) {
    return LeadingNumber(ReadProfileString(profile, file, kChecksSection, key, "0"));
}

}  // namespace

CheckSettings ReadCheckSettings(kit::ProfileReader& profile, const char* file) {
    CheckSettings s;
    s.minBatteryPercent = static_cast<int>(std::clamp(ReadNumber(profile, file, kKeyMinBattery), 0LL, 100LL));
    s.refuseOnBattery = ReadNumber(profile, file, kKeyMainsOnly) != 0;
    s.imageIdentity = ReadNumber(profile, file, kKeyImageIdentity) != 0;
    s.skipCurrent = ReadNumber(profile, file, kKeySkipCurrent) != 0;
    s.refuseDowngrade = ReadNumber(profile, file, kKeyNoDowngrade) != 0;
    return s;
}

PowerVerdict DecidePower(const CheckSettings& settings, const kit::PowerStatus& status) {
    if (status.source != kit::PowerSource::Battery) return PowerVerdict::Pass;
    if (settings.refuseOnBattery) return PowerVerdict::OnBattery;
    if (status.percent >= 0 && status.percent < settings.minBatteryPercent) return PowerVerdict::LowBattery;
    return PowerVerdict::Pass;
}

uint32_t QuelmarIdentityOffset(char family) { return camlib::IdentityOffset(family); }

std::optional<ImageIdentity> QuelmarImageIdentity(const std::vector<uint8_t>& image, uint32_t length,
                                                  char family) {
    const uint32_t at = QuelmarIdentityOffset(family);
    // Bytes past the file's end are the loader's fill, not the file's.
    if (std::min<size_t>(length, image.size()) < at + kIdentityBlockBytes) return std::nullopt;
    auto word = [&](uint32_t i) { return static_cast<uint16_t>(image[at + i] | image[at + i + 1] << 8); };
    return ImageIdentity{word(0), word(2), word(4)};
}

std::optional<uint16_t> HexWord(const std::string& text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    uint16_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = static_cast<uint16_t>(value << 4 | digit);
    }
    return value;
}

VersionVerdict DecideVersion(const CheckSettings& settings, uint16_t imageRev, uint16_t cameraRev) {
    if (settings.skipCurrent && imageRev == cameraRev) return VersionVerdict::Current;
    if (settings.refuseDowngrade && imageRev < cameraRev) return VersionVerdict::Downgrade;
    return VersionVerdict::Update;
}

}  // namespace tessaw
