#include "emulated_usb.h"

#include <algorithm>
#include <cstdio>

#include "emu/bench.h"
#include "emu/bench_devices.h"

namespace tessaw::bench {

std::string UsbHardwareId(uint16_t vid, uint16_t pid, uint16_t rev) {
    char id[40];
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X&REV_%04X", vid, pid, rev);
    return id;
}

bool PresentHardwareIds(const std::string& folder, std::vector<std::string>& out, std::string& error) {
    out.clear();
    emu::Bench bench;
    if (!emu::LoadBench(folder, bench, error)) return false;
    // The counters summary belongs to the process that drives the cameras; a listing has none.
    auto settings = bench.sections.find("bench");
    if (settings != bench.sections.end()) settings->second.erase("summary");
    emu::BenchDevices devices;
    if (!devices.Open(bench, error)) return false;
    for (const emu::CameraRecord& camera : bench.cameras) {
        if (!camera.IsUsb() || !devices.Present(camera)) continue;
        const emu::CameraRecord now = devices.Presented(camera);
        out.push_back(UsbHardwareId(now.vid, now.pid, now.rev));
    }
    return true;
}

bool EmulatedUsbDevices::ListPresent(std::vector<kit::UsbDevice>& out) {
    std::lock_guard<std::mutex> hold(lock_);
    out.clear();
    std::vector<std::string> ids;
    std::string error;
    if (!PresentHardwareIds(folder_, ids, error)) {
        if (error != lastError_) {
            const std::string line = "Emulated bench cannot be used: " + error + "\n";
            std::fputs(line.c_str(), stderr);
            kit::TraceF(trace_, "%s", line.c_str());
            lastError_ = error;
        }
        return false;
    }
    lastError_.clear();
    for (std::string& id : ids) out.push_back({std::move(id)});
    return true;
}

PlugChanges ComparePresent(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    PlugChanges changes;
    // Multiset differences that keep each side's order.
    std::vector<std::string> unmatched = after;
    for (const std::string& id : before) {
        auto it = std::find(unmatched.begin(), unmatched.end(), id);
        if (it == unmatched.end())
            changes.removed.push_back(id);
        else
            unmatched.erase(it);
    }
    changes.arrived = std::move(unmatched);
    return changes;
}

bool PlugWatch::List(std::vector<std::string>& ids) {
    std::vector<kit::UsbDevice> devices;
    if (!usb_.ListPresent(devices)) return false;
    ids.clear();
    for (const kit::UsbDevice& d : devices) ids.push_back(d.hardwareId);
    return true;
}

void PlugWatch::Start() {
    std::vector<std::string> ids;
    last_.clear();
    if (List(ids)) last_ = std::move(ids);
}

PlugChanges PlugWatch::Poll() {
    std::vector<std::string> ids;
    if (!List(ids)) return {};
    PlugChanges changes = ComparePresent(last_, ids);
    last_ = std::move(ids);
    return changes;
}

}  // namespace tessaw::bench
