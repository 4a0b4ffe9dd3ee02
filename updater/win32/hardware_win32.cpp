// Win32-only: Tessaw's choice of hardware or bench.
#include "hardware_win32.h"

#include <optional>

#include "bench_still_graph.h"
#include "emu/bench.h"
#include "emu/capture_filter/registration.h"
#include "emulated_power.h"
#include "emulated_usb.h"
#include "kit/text.h"
#include "ports_win32.h"

namespace tw32 {
namespace {

// True when the capture-filter stand-in is registered for this bench: its cameras are then
// DirectShow devices, and the real still-capture graph can stream from them.
bool StandInServesBench(const std::string& folder) {
    const std::string key = emu::capture::ClassKey();
    char registered[MAX_PATH] = {};
    DWORD bytes = sizeof registered - 1;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), emu::capture::kBenchValue, RRF_RT_REG_SZ, nullptr,
                     registered, &bytes) != ERROR_SUCCESS)
        return false;
    auto full = [](const char* path) {
        char out[MAX_PATH] = {};
        DWORD n = GetFullPathNameA(path, MAX_PATH, out, nullptr);
        std::string text = n > 0 && n < MAX_PATH ? std::string(out, n) : std::string(path);
        while (text.size() > 3 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
        return kit::Lower(text);
    };
    return full(registered) == full(folder.c_str());
}

}  // namespace

HardwarePorts ChooseHardware(kit::Trace& trace, stillcap::Win32StillCapHost& stillHost) {
    HardwarePorts ports;
    std::optional<std::string> folder = emu::BenchFolderFromEnvironment();
    if (!folder) {
        ports.usb = std::make_unique<SetupApiUsbDevices>();
        ports.power = std::make_unique<Win32Power>();
        ports.stillCapture = std::make_unique<stillcap::CStillCap>(stillHost, trace);
        return ports;
    }
    // A bench that sets the power state says so in its notice; one that does not reads as before.
    emu::Bench bench;
    std::string error, powerNotice;
    if (emu::LoadBench(*folder, bench, error)) powerNotice = tessaw::bench::PowerNotice(bench);
    if (powerNotice.empty()) {
        emu::TraceBenchInUse(trace, *folder);
    } else {
        trace.Write((emu::BenchNotice(*folder) + powerNotice + "\n").c_str());
    }
    ports.power = std::make_unique<tessaw::bench::BenchPower>(*folder, trace);
    auto emulated = std::make_unique<tessaw::bench::EmulatedUsbDevices>(*folder, trace);
    ports.benchUsb = emulated.get();
    ports.usb = std::move(emulated);
    ports.notice = emu::BenchNotice(*folder) + powerNotice + "\r\n";
    if (!StandInServesBench(*folder)) {
        trace.Write("still capture: emulated from the bench (no capture-filter stand-in is registered for it)\n");
        ports.stillCapture = std::make_unique<stillcap::BenchStillCapture>(*folder, stillHost, trace);
    } else {
        ports.stillCapture = std::make_unique<stillcap::CStillCap>(stillHost, trace);
    }
    return ports;
}

}  // namespace tw32
