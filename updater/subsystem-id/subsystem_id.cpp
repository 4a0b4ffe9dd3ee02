#include "subsystem_id.h"

#include <cctype>

#include "kit/text.h"

namespace subsysid {
namespace {

bool IsHex(const std::string& text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return !text.empty();
}

}  // namespace

std::string SubsysField(const std::string& hardwareId) {
    const std::string upper = kit::Upper(hardwareId);
    const std::string marker = "SUBSYS_";
    size_t at = upper.find(marker);
    if (at == std::string::npos) return {};
    std::string field = upper.substr(at + marker.size(), 8);
    size_t end = at + marker.size() + 8;
    // The field runs to the next '&' or the end; anything but exactly eight digits is damaged.
    if (field.size() != 8 || !IsHex(field) || (end < upper.size() && upper[end] != '&')) return {};
    return field;
}

bool IsHostBridge(const PciDevice& device) {
    for (const auto* list : {&device.hardwareIds, &device.compatibleIds})
        for (const std::string& id : *list)
            if (kit::Upper(id).find("CC_0600") != std::string::npos) return true;
    return false;
}

std::string FindSubsystemId(const std::vector<PciDevice>& devices, std::string& source) {
    source.clear();
    for (const PciDevice& device : devices) {
        if (!IsHostBridge(device)) continue;
        for (const std::string& id : device.hardwareIds) {
            std::string field = SubsysField(id);
            if (field.empty()) continue;
            source = id;
            return field.substr(0, 4);
        }
    }
    return {};
}

std::string IdLogText(const std::string& id, const std::string& source) {
    return "[SUBSYSTEM]\r\nSYSID=" + id + "\r\nSOURCE=" + source + "\r\n";
}

}  // namespace subsysid
