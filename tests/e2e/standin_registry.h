// The capture-filter stand-in in the test prefix: registered for a bench, the bench's cameras are
// DirectShow video-input devices whose filters answer from the bench's chip models, so that a
// program run with no bench variable goes through the real DirectShow and kernel-streaming calls.
// (It runs emu/capture_standin.exe, the tool a user runs for the same purpose.)
#pragma once

#include <string>

#include "wine.h"

namespace e2e {

// build/win64/emu/capture_standin.exe
fs::path CaptureStandInTool();

// Registers the stand-in for the bench in `bench` (a Linux path), replacing any earlier
// registration of it; other registered video-input devices stay. Returns the tool's run.
RunResult RegisterCaptureStandIn(const fs::path& bench);
// Removes the stand-in's class and every video-input device registered for it.
RunResult UnregisterCaptureStandIn();

// Registered for the lifetime of the object; the registration is checked on creation.
class ScopedCaptureStandIn {
public:
    explicit ScopedCaptureStandIn(const fs::path& bench);
    ~ScopedCaptureStandIn();
    ScopedCaptureStandIn(const ScopedCaptureStandIn&) = delete;
    ScopedCaptureStandIn& operator=(const ScopedCaptureStandIn&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace e2e
