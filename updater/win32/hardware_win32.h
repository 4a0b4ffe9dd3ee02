// Win32-only: the one place where Tessaw chooses between the hardware and an emulated bench. With
// CAMKIT_BENCH naming a bench, its devices come from the bench's adapters (emu/adapters/updater/);
// otherwise from the Win32 adapters. Everything else the program uses is the same either way.
#pragma once

#include <memory>
#include <string>

#include "kit/trace.h"
#include "still_cap_win32.h"
#include "updater/core/ports.h"

namespace tw32 {

struct HardwarePorts {
    std::unique_ptr<kit::UsbDevicePort> usb;
    std::unique_ptr<kit::PowerPort> power;
    std::unique_ptr<kit::StillCapturePort> stillCapture;
    // The bench's device port, for the plug events the dialog must deliver itself; null on hardware.
    kit::UsbDevicePort* benchUsb = nullptr;
    // What the log's header says about the bench ("emulated bench: <folder>..." and "\r\n"); empty
    // on hardware.
    std::string notice;
};

// Chooses once, at start-up on the main thread, and says in the trace which it chose when it is a
// bench. `stillHost` must outlive the ports.
HardwarePorts ChooseHardware(kit::Trace& trace, stillcap::Win32StillCapHost& stillHost);

}  // namespace tw32
