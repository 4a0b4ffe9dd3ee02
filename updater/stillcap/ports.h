// The still-capture graph's own ports: the program around the graph (clock, sleep, message box,
// quit), the list of video-input devices the search walks, and the graph's DirectShow operations as
// an ops table. The graph is a subsystem of the updater with a library of its own; the session
// reaches it only through the shared kit::StillCapturePort, so these stay beside the graph rather than
// in the session's updater/core/ports.h. CStillCap (updater/win32/still_cap_win32.h) implements them
// over DirectShow, BenchStillGraph (emu/adapters/updater/bench_still_graph.h) over a bench.
//
// Every call is synchronous on the caller's thread and never throws; HRESULT results are 0 or the
// failing value (negative), as DirectShow gave it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stillcap {

// One capability of the capture pin: its video frame size, when it has a video format at all.
struct Capability {
    bool video = false;  // the format block describes a video frame
    int32_t width = 0;
    int32_t height = 0;
};

// A time of day as the host's clock gives it in UTC.
struct UtcTime {
    unsigned hour = 0, minute = 0, second = 0, millisecond = 0;
};

// What the graph needs from the program around it.
class StillCapHost {
public:
    virtual ~StillCapHost() = default;
    virtual UtcTime NowUtc() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // A message box with an exclamation mark; returns when it is dismissed.
    virtual void ShowExclamation(const char* text) = 0;
    // Asks the program to end with `code` once its message loop sees the request.
    virtual void RequestQuit(int code) = 0;
    // Ends the program at once with `code`. Returns only in tests.
    virtual void EndProcess(int code) = 0;
};

// The video-input devices in enumeration order, one at a time.
class CaptureDeviceList {
public:
    virtual ~CaptureDeviceList() = default;
    // Starts the list (system device enumerator, video-input category) and puts it at its first
    // device. False when there is no list at all.
    virtual bool Open() = 0;
    virtual void Reset() = 0;
    // Takes the next device; false at the end of the list.
    virtual bool Next() = 0;
    // The "DevicePath" of the device taken last; false when it cannot be read.
    virtual bool DevicePath(std::string& path) = 0;
    // Makes the capture filter of the device taken last; false when binding fails.
    virtual bool BindFilter() = 0;
};

// The graph's operations, in the order BuildStillGraph calls them. Results are HRESULTs. A
// failed step leaves what it made for Clear*.
class StillGraphOps {
public:
    virtual ~StillGraphOps() = default;
    virtual int32_t CreateGraph() = 0;
    // The camera's capture filter, by WalkCaptureDevices over the video-input devices; false when
    // none was bound.
    virtual bool FindCaptureFilter(uint16_t vid, uint16_t pid) = 0;
    virtual int32_t AddCaptureFilter() = 0;  // named "Cap"
    // The capabilities of the capture filter's first output pin through its stream-configuration
    // interface; false when there is no such pin or interface.
    virtual bool ReadCapabilities(std::vector<Capability>& out) = 0;
    // Sets the frame time of capability `index` and applies it as the pin's format.
    virtual int32_t ApplyCapability(int index, int64_t frameTime) = 0;
    virtual int32_t CreateGrabber() = 0;
    virtual int32_t SetGrabberToRgb24() = 0;  // major type video, subtype RGB24
    virtual int32_t AddGrabber() = 0;         // named "Grabber"
    // The two pins that are connected; a missing one fails the connection.
    virtual void TakeCapturePin() = 0;
    virtual void TakeGrabberInputPin() = 0;
    virtual int32_t ConnectPins() = 0;
    // The grabber's connected media type, read and let go.
    virtual void ReadConnectedType() = 0;
    virtual int32_t RenderGrabberOutput() = 0;
    // The frame size of the grabber's connected type; false when there is none.
    virtual bool ConnectedSize(int32_t& width, int32_t& height) = 0;
    // No buffering, no one-shot, the frame callback registered for buffer callbacks.
    virtual void ConfigureGrabber() = 0;
    // Makes the video window invisible and stops it showing itself; false without a window
    // interface.
    virtual bool HideVideoWindow() = 0;
    virtual int32_t Run() = 0;

    virtual bool HasGraph() const = 0;
    virtual bool HasCaptureFilter() const = 0;
    // Stops the graph, hides its window and clears the window's owner, where the interfaces exist;
    // then lets the graph and the grabber go.
    virtual void ReleaseGraph() = 0;
    virtual void ReleaseCaptureFilter() = 0;
};

}  // namespace stillcap
