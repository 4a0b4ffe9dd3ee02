// The still-capture graph's behaviour, apart from DirectShow: the order of the building steps,
// their messages and outcomes, the search for the camera's capture device, the format choice,
// the time stamps and the frame copy of the grabber callback, over the ports of ports.h. CStillCap
// (updater/win32/still_cap_win32.cpp) runs it over a real filter graph, BenchStillGraph
// (emu/adapters/updater/bench_still_graph.h) over a bench's cameras.
//
// Building (BuildStillGraph) is synchronous on the caller's thread and waits about a second. Two
// outcomes reach beyond the graph: a camera without a 640x480 format shows a box and asks the
// program to quit with code 1 (building goes on), and a capture pin that cannot be connected
// ends the program with code -1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kit/trace.h"
#include "ports.h"

namespace stillcap {

// HRESULTs of the graph.
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005);         // E_FAIL
inline constexpr int32_t kPointer = static_cast<int32_t>(0x80004003);      // E_POINTER
inline constexpr int32_t kOutOfMemory = static_cast<int32_t>(0x8007000E);  // E_OUTOFMEMORY
inline bool Failed(int32_t hr) { return hr < 0; }

// The format the graph asks the camera for.
inline constexpr int32_t kWidth = 640;
inline constexpr int32_t kHeight = 480;
inline constexpr int32_t kRate = 30;
// Frame time in 100-nanosecond units.
inline constexpr int64_t kFrameTime = 10000000 / kRate;
// The pauses around taking the two pins, before they are connected.
inline constexpr uint32_t kPinPauseMs = 500;
// Exit codes: the quit request after a size mismatch, and the end at an unconnectable pin.
inline constexpr int kQuitOnMismatch = 1;
inline constexpr int kExitNotConnected = -1;
// How many devices the search looks at, wrapping around to the first when the list ends.
inline constexpr int kSearchSteps = 17;

// ---------------------------------------------------------------------------------------------
// Pure parts

// The camera's device path holds "vid_%04x" and "pid_%04x" in lower case; the comparison is
// case-sensitive, so a path that spells them in upper case never matches.
bool PathNamesCamera(const std::string& devicePath, uint16_t vid, uint16_t pid);

// The index of the first capability of width x height, or -1.
int ChooseCapability(const std::vector<Capability>& capabilities, int32_t width, int32_t height);

// The clock the trace lines show: UTC advanced by 8 hours (modulo a day), the rest as it is.
UtcTime Utc8(const UtcTime& utc);

// ---------------------------------------------------------------------------------------------
// The search for the capture device

// Opens and resets the list, then at most kSearchSteps steps: take the next device (at the end of
// the list, reset and take the first again; a list that is still empty ends the search); skip it
// when its path cannot be read or does not name the camera; else bind it, which ends the search
// when it gives a filter. So one device may be looked at more than once. True when a filter was
// bound.
bool WalkCaptureDevices(CaptureDeviceList& devices, uint16_t vid, uint16_t pid);

// ---------------------------------------------------------------------------------------------
// The graph

struct GrabbedSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Builds and runs the graph for the camera; 0 or the failing HRESULT. `grabbed` receives the
// connected frame size.
int32_t BuildStillGraph(StillGraphOps& graph, StillCapHost& host, kit::Trace& trace, uint16_t vid, uint16_t pid,
                        GrabbedSize& grabbed);
// Lets go of whatever BuildStillGraph made; harmless when it made nothing.
void ClearStillGraph(StillGraphOps& graph, kit::Trace& trace);

// ---------------------------------------------------------------------------------------------
// The grabber callback's frame copy

// State values of the callback.
inline constexpr int32_t kArmed = 1;
inline constexpr int32_t kCopied = 2;

// Keeps a copy of one frame when armed, and announces it. Runs on the streaming thread; nothing
// else touches it while the graph runs.
class FrameKeeper {
public:
    // `announce` is called after each copy (the program posts 0x8001 to the owner window).
    explicit FrameKeeper(std::function<void()> announce = {}) : announce_(std::move(announce)) {}

    void Arm() { state_ = kArmed; }
    int32_t State() const { return state_; }
    double SampleTime() const { return sampleTime_; }
    const uint8_t* Buffer() const { return buffer_.get(); }
    uint32_t BufferSize() const { return size_; }

    // Copies the frame when armed: E_POINTER when not armed (the frame is ignored) or when bytes
    // are announced without a frame, E_OUTOFMEMORY when no buffer can be had (the size becomes
    // 0), else 0. A buffer at least as large as the frame is kept and keeps its size; a smaller
    // one is replaced. `allocate` makes the buffer (nullptr: out of memory); tests replace it.
    int32_t Keep(double sampleTime, const uint8_t* frame, uint32_t bytes);
    std::function<uint8_t*(uint32_t)> allocate = [](uint32_t bytes) { return new (std::nothrow) uint8_t[bytes]; };

private:
    std::function<void()> announce_;
    int32_t state_ = 0;
    double sampleTime_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t size_ = 0;
};

}  // namespace stillcap
