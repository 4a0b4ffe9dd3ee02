// The updater's hardware ports on an emulated bench (chosen by updater/win32/hardware_win32.cpp when
// CAMKIT_BENCH names one).
//
// Present USB devices: one per USB camera record of bench.ini, in the bench's order, with the first
// hardware ID the system would report for the device itself ("USB\VID_3A7C&PID_B5A4&REV_0012"; the
// interface's "&MI_xx" belongs to its child, not to the device), where the revision is the one the
// camera's memory holds now (emu::BenchDevices), so a flashed camera comes back with its new
// revision. Records with bus=root are not USB devices and are not listed. The bench is read again
// for every listing: a listing only reads, it never writes an image or the bench's summary file.
//
// Plug events: wine never sends WM_DEVICECHANGE, so on a bench the shell compares each listing
// with the previous one and delivers a removal for every device that left and an arrival for
// every device that came, as the system would. A camera is unplugged by taking its record out of
// `cameras=` in bench.ini and plugged back by putting it in again; every other view of the bench
// (DirectShow, the camera library) then agrees.
//
// bench.ini keys read by the updater's programs:
//   [bench] subsystem_id=17A3   the subsystem ID SubSystemID.exe finds on this machine: four
//                               hexadecimal digits; `none` for a machine where it finds nothing;
//                               absent: 0000, a machine without an ID of its own (entries for
//                               SysID XXXX match it)
// The driver check reads the real registry on a bench too: see the README for the keys.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kit/trace.h"
#include "updater/core/ports.h"

namespace tessaw::bench {

// "USB\VID_3A7C&PID_B5A4&REV_0012".
std::string UsbHardwareId(uint16_t vid, uint16_t pid, uint16_t rev);

// The hardware IDs of the bench's present USB devices, in order. false, with the reason, when the
// bench or a camera's memory cannot be read.
bool PresentHardwareIds(const std::string& folder, std::vector<std::string>& out, std::string& error);

// The present-USB-devices port over a bench. Safe to call from the main thread and the update
// worker thread at once (the plug watch lists on a timer while a run identifies).
class EmulatedUsbDevices final : public kit::UsbDevicePort {
public:
    // Each new reason for a failed listing goes to `trace` and to standard error once.
    EmulatedUsbDevices(std::string folder, kit::Trace& trace) : folder_(std::move(folder)), trace_(trace) {}
    bool ListPresent(std::vector<kit::UsbDevice>& out) override;

private:
    std::mutex lock_;
    const std::string folder_;
    kit::Trace& trace_;
    std::string lastError_;
};

// What changed between two listings: devices that left and devices that came, each in the order of
// the listing it is found in. Devices are told apart by hardware ID; two identical ones count twice.
struct PlugChanges {
    std::vector<std::string> removed;
    std::vector<std::string> arrived;
    bool Empty() const { return removed.empty() && arrived.empty(); }
};
PlugChanges ComparePresent(const std::vector<std::string>& before, const std::vector<std::string>& after);

// Remembers the last listing of a port; Poll lists again and tells what changed. A listing that
// fails changes nothing (a bench being rewritten is not an unplugged machine).
class PlugWatch {
public:
    explicit PlugWatch(kit::UsbDevicePort& usb) : usb_(usb) {}
    // Takes the listing that later polls compare with.
    void Start();
    PlugChanges Poll();

private:
    bool List(std::vector<std::string>& ids);
    kit::UsbDevicePort& usb_;
    std::vector<std::string> last_;
};

}  // namespace tessaw::bench
