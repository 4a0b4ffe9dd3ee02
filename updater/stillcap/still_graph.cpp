#include "still_graph.h"

#include <cstdio>
#include <cstring>

#include "still_texts.h"

namespace stillcap {

bool PathNamesCamera(const std::string& devicePath, uint16_t vid, uint16_t pid) {
    char vidText[16], pidText[16];
    std::snprintf(vidText, sizeof vidText, "vid_%04x", static_cast<unsigned>(vid));
    std::snprintf(pidText, sizeof pidText, "pid_%04x", static_cast<unsigned>(pid));
    return devicePath.find(vidText) != std::string::npos && devicePath.find(pidText) != std::string::npos;
}

int ChooseCapability(const std::vector<Capability>& capabilities, int32_t width, int32_t height) {
    for (size_t i = 0; i < capabilities.size(); ++i) {
        const Capability& c = capabilities[i];
        if (c.video && c.width == width && c.height == height) return static_cast<int>(i);
    }
    return -1;
}

UtcTime Utc8(const UtcTime& utc) {
    UtcTime t = utc;
    t.hour = (utc.hour + 8) % 24;
    return t;
}

bool WalkCaptureDevices(CaptureDeviceList& devices, uint16_t vid, uint16_t pid) {
    if (!devices.Open()) return false;
    devices.Reset();
    for (int step = 0; step < kSearchSteps; ++step) {
        if (!devices.Next()) {
            devices.Reset();
            if (!devices.Next()) return false;
        }
        std::string path;
        if (!devices.DevicePath(path)) continue;
        if (PathNamesCamera(path, vid, pid) && devices.BindFilter()) return true;
    }
    return false;
}

namespace {

void TraceStamp(kit::Trace& trace, StillCapHost& host, const char* format, bool withSize) {
    const UtcTime t = Utc8(host.NowUtc());
    if (withSize)
        kit::TraceF(trace, format, kWidth, kHeight, kRate, t.hour, t.minute, t.second, t.millisecond);
    else
        kit::TraceF(trace, format, t.hour, t.minute, t.second, t.millisecond);
}

}  // namespace

int32_t BuildStillGraph(StillGraphOps& graph, StillCapHost& host, kit::Trace& trace, uint16_t vid, uint16_t pid,
                        GrabbedSize& grabbed) {
    kit::TraceF(trace, kInitTrace, static_cast<unsigned>(vid), static_cast<unsigned>(pid));
    if (Failed(graph.CreateGraph())) {
        trace.Write(kNoFilterGraph);
        return kFail;
    }
    if (!graph.FindCaptureFilter(vid, pid)) {
        trace.Write(kNoCaptureDevice);
        return kFail;
    }
    if (Failed(graph.AddCaptureFilter())) {
        trace.Write(kCaptureNotAdded);
        return kFail;
    }

    int chosen = -1;
    std::vector<Capability> capabilities;
    if (graph.ReadCapabilities(capabilities)) {
        chosen = ChooseCapability(capabilities, kWidth, kHeight);
        // A format the pin refuses to apply is not told apart from one it takes: the connection
        // below shows what the camera gives.
        if (chosen >= 0) graph.ApplyCapability(chosen, kFrameTime);
    }
    if (chosen < 0) {
        host.ShowExclamation(kSizeMismatch);
        host.RequestQuit(kQuitOnMismatch);
    }

    int32_t hr = graph.CreateGrabber();
    if (Failed(hr)) {
        trace.Write(kNoSampleGrabber);
        return hr;
    }
    hr = graph.SetGrabberToRgb24();
    if (Failed(hr)) {
        trace.Write(kNoMediaType);
        return hr;
    }
    TraceStamp(trace, host, kBuildTrace, true);
    hr = graph.AddGrabber();
    if (Failed(hr)) {
        trace.Write(kGrabberNotAdded);
        return hr;
    }

    graph.TakeCapturePin();
    host.Sleep(kPinPauseMs);
    graph.TakeGrabberInputPin();
    host.Sleep(kPinPauseMs);
    hr = graph.ConnectPins();
    if (Failed(hr)) {
        trace.Write(kNotConnected);
        host.EndProcess(kExitNotConnected);
        return hr;
    }
    graph.ReadConnectedType();
    hr = graph.RenderGrabberOutput();
    if (Failed(hr)) {
        trace.Write(kNotRendered);
        return hr;
    }
    if (!graph.ConnectedSize(grabbed.width, grabbed.height)) grabbed = GrabbedSize{};
    graph.ConfigureGrabber();
    if (!graph.HideVideoWindow()) {
        trace.Write(kNoVideoWindow);
        return kFail;
    }
    hr = graph.Run();
    if (Failed(hr)) {
        trace.Write(kNotRun);
        return hr;
    }
    TraceStamp(trace, host, kRunTrace, false);
    return kOk;
}

void ClearStillGraph(StillGraphOps& graph, kit::Trace& trace) {
    if (graph.HasGraph()) {
        graph.ReleaseGraph();
        trace.Write(kGraphReleased);
    }
    if (graph.HasCaptureFilter()) {
        graph.ReleaseCaptureFilter();
        trace.Write(kCaptureReleased);
    }
}

int32_t FrameKeeper::Keep(double sampleTime, const uint8_t* frame, uint32_t bytes) {
    if (state_ != kArmed) return kPointer;
    if (!frame && bytes > 0) return kPointer;
    if (buffer_ && size_ < bytes) {
        buffer_.reset();
        size_ = 0;
    }
    sampleTime_ = sampleTime;
    if (!buffer_) {
        buffer_.reset(allocate(bytes));
        if (!buffer_) {
            size_ = 0;
            return kOutOfMemory;
        }
        size_ = bytes;
    }
    if (bytes > 0) std::memcpy(buffer_.get(), frame, bytes);
    state_ = kCopied;
    if (announce_) announce_();
    return kOk;
}

}  // namespace stillcap
