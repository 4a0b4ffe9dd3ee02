// Device identification: finds the kit maker's camera among the present USB devices, matches it with
// the firmware entries and the chip-family lists, and the combo check for Realtek combo devices.
#pragma once

#include <string>
#include <vector>

#include "kit/process.h"
#include "kit/trace.h"
#include "model.h"
#include "ports.h"

namespace tessaw {

struct HardwareIdParts {
    std::string vid;
    std::string pid;
    std::string rev;
};

// The texts four characters after the first "VID", "PID" and "REV" of an upper-cased hardware ID, each
// up to the next "&" or the end; empty when the marker is missing or the ID ends before its value.
HardwareIdParts ParseHardwareId(const std::string& upperHardwareId);

class Identifier {
public:
    Identifier(kit::UsbDevicePort& usb, kit::StillCapturePort& stillCapture, kit::SystemPort& system,
               kit::Trace& trace)
        : usb_(usb), stillCapture_(stillCapture), system_(system), trace_(trace) {}

    // Identifies the attached camera(s) into `identity`, setting the REV of every matched entry.
    // `first` runs the still-capture probe on each Realtek camera (start-up only). Reports nothing:
    // the caller judges the outcome by identity.Matched(). false when the present devices cannot be
    // listed: VID, PID, module text and chip family are emptied all the same, and identification
    // ends there, so the caller must leave the Module ID field as it is.
    bool Identify(Identity& identity, std::vector<FirmwareEntry>& entries, const DevLists& lists,
                  const std::string& systemId, bool first);

private:
    void Record(Identity& identity, FirmwareEntry& entry, const std::string& rev, ChipFamily family,
                const char* modelLine, int& recorded);

    kit::UsbDevicePort& usb_;
    kit::StillCapturePort& stillCapture_;
    kit::SystemPort& system_;
    kit::Trace& trace_;
    HardwareIdParts romIdentity_;

public:
    // The ROM identity of the last refused camera in ROM mode (Identity::romRefusal).
    const HardwareIdParts& RefusedRom() const { return romIdentity_; }
};

// How long the still-capture probe keeps the graph running at start-up.
inline constexpr uint32_t kProbeMs = 100;

struct ComboOutcome {
    bool pass = true;
    bool combo = false;  // both members of a listed pair are present
};

// The combo check over the entries whose REV marks a present camera. Traces its steps; the caller
// reports a failure.
ComboOutcome CheckCombo(const std::vector<FirmwareEntry>& entries, const DevLists& lists, kit::Trace& trace);

}  // namespace tessaw
