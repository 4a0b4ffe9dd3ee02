// Present USB devices port: the devices of the USB device interface class
// {A5DCBF10-6530-11D2-901F-00C04FB951ED} that are attached now, in the order the system lists
// them, each with the first string of its hardware-ID property (USB\VID_3A7C&PID_B5A4&REV_0012).
//
// Synchronous and blocking for the length of one enumeration; called on the main thread (start-up,
// plug events) and on the update worker thread (identification after a run), never on both at once.
// Never throws.
#pragma once

#include <string>
#include <vector>

namespace kit {

struct UsbDevice {
    // First hardware ID exactly as the system reports it (not case-folded). Empty when the
    // property could not be read; such a device is listed all the same.
    std::string hardwareId;
};

class UsbDevicePort {
public:
    virtual ~UsbDevicePort() = default;
    // Replaces `out` with the present devices and returns true. Returns false with `out` empty when
    // the device list cannot be opened (SetupDiGetClassDevs failed, or the bench cannot be read).
    virtual bool ListPresent(std::vector<UsbDevice>& out) = 0;
};

}  // namespace kit
