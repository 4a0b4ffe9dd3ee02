#include "driver_check.h"

#include "text_util.h"
#include "texts.h"

namespace tessaw {
namespace {

constexpr uint32_t kNameChars = 256;
constexpr uint32_t kValueBytes = 256;

uint32_t LeadingDigits(const std::string& part) {
    uint64_t value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

DriverVersion ParseDriverVersion(const std::string& text) {
    DriverVersion v{};
    size_t from = 0;
    for (size_t i = 0; i < v.size() && from <= text.size(); ++i) {
        size_t dot = text.find('.', from);
        std::string part = text.substr(from, dot == std::string::npos ? std::string::npos : dot - from);
        v[i] = LeadingDigits(part);
        if (dot == std::string::npos) break;
        from = dot + 1;
    }
    return v;
}

DriverCheckResult CompareDriverVersions(const DriverVersion& installed, const DriverVersion& required) {
    for (size_t i = 0; i < 3; ++i) {
        if (installed[i] > required[i]) return kDriverAccepted;
        if (installed[i] < required[i]) return kDriverOutdated;
    }
    return installed[3] < required[3] ? kDriverOutdated : kDriverAccepted;
}

DriverCheck CheckDriver(kit::RegistryPort& registry, const std::string& vid, const std::string& pid,
                        const std::string& minimum, ChipFamily family) {
    DriverCheck check;
    auto fail = [&check](int32_t code) {
        check.result = kDriverStepFailed;
        check.code = code;
        return check;
    };
    const std::string devicePath = Format(kDeviceKey, Lower(vid).c_str(), Lower(pid).c_str());
    kit::ScopedRegistryKey device(registry);
    if (!registry.OpenLocalMachine(devicePath.c_str(), device.Out())) return fail(0);
    std::string instanceName;
    if (!registry.SubKeyName(device.Get(), 0, kNameChars, instanceName)) return fail(1);
    kit::ScopedRegistryKey instance(registry);
    if (!registry.OpenSubKey(device.Get(), instanceName.c_str(), instance.Out())) return fail(2);
    std::string driverName;
    if (!registry.ReadString(instance.Get(), "Driver", kValueBytes, driverName)) return fail(3);
    kit::ScopedRegistryKey classes(registry);
    if (!registry.OpenLocalMachine(kClassKey, classes.Out())) return fail(4);
    kit::ScopedRegistryKey driver(registry);
    if (!registry.OpenSubKey(classes.Get(), driverName.c_str(), driver.Out())) return fail(5);
    std::string version;
    if (!registry.ReadString(driver.Get(), "DriverVersion", kValueBytes, version)) return fail(6);

    check.code = 0;
    check.result = family == ChipFamily::Quelmar
                       ? CompareDriverVersions(ParseDriverVersion(version), ParseDriverVersion(minimum))
                       : kDriverAccepted;
    return check;
}

}  // namespace tessaw
