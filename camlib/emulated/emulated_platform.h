// The library's ports over an emulated bench: the bench's cameras as capture devices, the same
// cameras as imaging-class devices, and the bench's USB tree behind the hub requests. Sleeps move
// the bench's virtual clock.
//
// A camera's filter answers exactly as the capture-filter stand-in does under wine (the same
// emu::capture::StandInDevice): the interfaces its carrier key names, its ks_nodes topology, the
// same answers to every kernel-streaming and private request, its memory written back after each
// request. One thing is added: a chip that restarts (a soft reset) or is unplugged leaves the bus,
// so the interfaces bound before then answer HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) until
// the camera is opened again through a new enumeration; an unplugged camera is no longer listed.
#pragma once

#include <memory>
#include <string>

#include "camlib/ports.h"
#include "emu/capture_filter/standin_device.h"

namespace camlib {

// The extension unit's node in the default topology.
inline constexpr uint32_t kEmulatedExtensionNode = 2;

class EmulatedPlatform {
public:
    // `bench` (opened) must outlive this object.
    EmulatedPlatform(emu::capture::SharedBench& bench, kit::Trace& trace, kit::ProfileReader& profile,
                     std::string settingFile);
    ~EmulatedPlatform();
    EmulatedPlatform(const EmulatedPlatform&) = delete;
    EmulatedPlatform& operator=(const EmulatedPlatform&) = delete;

    Platform& Get() { return platform_; }

    struct State;
    struct Adapters;

private:
    std::unique_ptr<State> state_;
    std::unique_ptr<Adapters> adapters_;
    Platform platform_;
};

// Ports that fail every request: what a program uses when the bench it was asked for cannot be
// read, so that nothing real is reached by mistake.
Platform& FailedPlatform(kit::Trace& trace, kit::ProfileReader& profile);

}  // namespace camlib
