// Still-capture port: the DirectShow capture graph that keeps a Realtek camera streaming while the
// updater talks to it (the graph itself is CStillCap).
//
// Both calls are synchronous and run on the caller's thread, which has initialised COM: the main
// thread during the first identification, the update worker thread in the Realtek flow. The callers
// always pair them. Never throws.
#pragma once

#include <cstdint>

namespace kit {

class StillCapturePort {
public:
    virtual ~StillCapturePort() = default;
    // Builds and runs the graph on the capture device whose path holds "vid_%04x" and "pid_%04x".
    // Returns 0 (S_OK) or the failing HRESULT; the callers do not act on it. May block for about
    // a second (the pin connection waits). A failed build leaves its pieces for ClearGraphs.
    virtual int32_t InitStillGraph(uint16_t vid, uint16_t pid) = 0;
    // Stops and releases whatever InitStillGraph built; harmless when nothing was built.
    virtual void ClearGraphs() = 0;
};

}  // namespace kit
