#include "identify.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "text_util.h"
#include "texts.h"

namespace tessaw {
namespace {

std::string FieldAfter(const std::string& id, const char* marker) {
    size_t at = id.find(marker);
    if (at == std::string::npos || at + 4 > id.size()) return {};
    size_t begin = at + 4;
    size_t end = id.find('&', begin);
    return id.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

bool Listed(const std::vector<std::string>& list, const std::string& pid) {
    return std::find(list.begin(), list.end(), pid) != list.end();
}

uint16_t Hex16(const std::string& text) {
    unsigned value = 0;
    if (std::sscanf(text.c_str(), "%04x", &value) != 1) return 0;
    return static_cast<uint16_t>(value);
}

}  // namespace

HardwareIdParts ParseHardwareId(const std::string& upperHardwareId) {
    return {FieldAfter(upperHardwareId, "VID"), FieldAfter(upperHardwareId, "PID"),
            FieldAfter(upperHardwareId, "REV")};
}

void Identifier::Record(Identity& identity, FirmwareEntry& entry, const std::string& rev, ChipFamily family,
                        const char* modelLine, int& recorded) {
    entry.rev = rev;
    kit::TraceF(trace_, kRecorded, ++recorded, entry.pid.c_str(), entry.modId.c_str(), entry.rev.c_str());
    if (identity.family != ChipFamily::None) {
        identity.moduleText += " + " + entry.modId;
    } else {
        identity.moduleText = entry.modId;
        identity.family = family;
        trace_.Write(modelLine);
    }
}

bool Identifier::Identify(Identity& identity, std::vector<FirmwareEntry>& entries, const DevLists& lists,
                          const std::string& systemId, bool first) {
    identity.vid.clear();
    identity.pid.clear();
    identity.moduleText.clear();
    identity.family = ChipFamily::None;
    identity.romMode = false;
    identity.firmwarePid.clear();
    identity.romRefusal = RomRefusal::None;
    identity.romEntries = 0;

    std::vector<kit::UsbDevice> devices;
    if (!usb_.ListPresent(devices)) return false;

    const std::string system = Upper(systemId);
    int recorded = 0;
    std::optional<HardwareIdParts> rom;  // the first camera that shows a listed ROM identity
    for (const kit::UsbDevice& device : devices) {
        const std::string id = Upper(device.hardwareId);
        kit::TraceF(trace_, kHardwareIdTrace, id.c_str());
        const HardwareIdParts parts = ParseHardwareId(id);
        if (!rom && std::find(lists.quelmarRom.begin(), lists.quelmarRom.end(), std::make_pair(parts.vid, parts.pid)) !=
                        lists.quelmarRom.end())
            rom = parts;
        if (parts.vid != kVendorId) continue;

        for (FirmwareEntry& entry : entries) {
            const std::string sysId = Upper(entry.sysId);
            if (sysId != system && sysId != kAnySystem) continue;
            if (Upper(entry.pid) != parts.pid) continue;

            identity.vid = parts.vid;
            identity.pid = parts.pid;
            identity.rev = parts.rev;
            identity.binName = entry.binName;
            if (identity.family == ChipFamily::None || identity.family == ChipFamily::Realtek) {
                if (Listed(lists.realtek, parts.pid)) {
                    if (first) {
                        stillCapture_.InitStillGraph(Hex16(parts.vid), Hex16(parts.pid));
                        system_.Sleep(kProbeMs);
                        stillCapture_.ClearGraphs();
                    }
                    Record(identity, entry, parts.rev, ChipFamily::Realtek, kModelRealtek, recorded);
                }
            }
            if (identity.family == ChipFamily::None || identity.family == ChipFamily::Sonix) {
                if (Listed(lists.sonix, parts.pid))
                    Record(identity, entry, parts.rev, ChipFamily::Sonix, kModelSonix, recorded);
            }
            if (identity.family == ChipFamily::None || identity.family == ChipFamily::Quelmar) {
                if (Listed(lists.quelmar, parts.pid))
                    Record(identity, entry, parts.rev, ChipFamily::Quelmar, kModelQuelmar, recorded);
            }
            break;
        }
    }
    // A camera in ROM mode names its chip, not its module: it is taken only when no camera of the
    // kit maker matched, and only with the one Quelmar entry of this computer (two would be a guess).
    if (rom && identity.family == ChipFamily::None) {
        FirmwareEntry* only = nullptr;
        int fitting = 0;
        for (FirmwareEntry& entry : entries) {
            const std::string sysId = Upper(entry.sysId);
            if ((sysId == system || sysId == kAnySystem) && Listed(lists.quelmar, Upper(entry.pid))) {
                only = &entry;
                ++fitting;
            }
        }
        if (fitting != 1) {
            identity.romRefusal = fitting == 0 ? RomRefusal::NoEntry : RomRefusal::SeveralEntries;
            identity.romEntries = fitting;
            romIdentity_ = *rom;
            return true;
        }
        identity.vid = rom->vid;
        identity.pid = rom->pid;
        identity.rev = rom->rev;
        identity.binName = only->binName;
        identity.romMode = true;
        identity.firmwarePid = Upper(only->pid);
        kit::TraceF(trace_, kModelQuelmarRom, rom->vid.c_str(), rom->pid.c_str());
        Record(identity, *only, rom->rev, ChipFamily::Quelmar, kModelQuelmar, recorded);
    }
    return true;
}

ComboOutcome CheckCombo(const std::vector<FirmwareEntry>& entries, const DevLists& lists, kit::Trace& trace) {
    ComboOutcome outcome;
    for (size_t i = 0; i < lists.pairs.size(); ++i) {
        const ComboPair& pair = lists.pairs[i];
        if (pair.first == 0 || pair.second == 0) return outcome;
        const std::string a = Upper(Format("%04x", pair.first));
        const std::string b = Upper(Format("%04x", pair.second));
        bool firstMark = false, secondMark = false;
        int found = 0;
        std::string lastFound;
        for (const FirmwareEntry& e : entries) {
            if (e.rev.empty()) continue;
            kit::TraceF(trace, kComboFound, e.pid.c_str(), e.rev.c_str());
            lastFound = e.pid;
            ++found;
            if (!firstMark && e.pid == a) {
                kit::TraceF(trace, kComboFirst, e.pid.c_str(), e.rev.c_str());
                firstMark = true;
                if (secondMark) break;
                continue;
            }
            if (!secondMark && e.pid == b) {
                kit::TraceF(trace, kComboSecond, e.pid.c_str(), e.rev.c_str());
                secondMark = true;
                if (firstMark) break;
            }
        }
        outcome.combo = firstMark && secondMark;
        if (outcome.combo) {
            kit::TraceF(trace, kComboDevice, a.c_str(), b.c_str());
            return outcome;
        }
        const std::string text = i < lists.combo.size() ? lists.combo[i] : std::string();
        kit::TraceF(trace, kListItem, text.c_str());
        if (i + 1 == lists.pairs.size() || firstMark != secondMark) {
            if (firstMark || secondMark || found == 2) {
                outcome.pass = false;
                return outcome;
            }
            kit::TraceF(trace, kSingleDevice, lastFound.c_str());
            return outcome;
        }
    }
    return outcome;
}

}  // namespace tessaw
