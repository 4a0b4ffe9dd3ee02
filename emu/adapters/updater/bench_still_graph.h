// The still-capture graph over an emulated bench, for a program that runs on a bench whose
// cameras DirectShow cannot reach (no capture-filter stand-in registered for it). It walks the
// bench's cameras as the system device enumerator lists them (every record, in the bench's order,
// by its DevicePath) and answers from their stream keys (emu/capture_filter/stream_settings.h),
// so the outcomes of the real graph come from the same bench keys: a camera with no 640x480
// format shows the box and asks for the quit, a camera in use ends the program at the pin
// connection. The bench is read again for every build.
//
// Its steps fail on request, counted from the graph's creation, like the vendor libraries' entry
// points (emu/vendor/vendor_faults.h; the step names are the still graph's rows of
// emu/fault_ops.h):
//   [bench]
//   still_fault1=ConnectPins:1:0x80004005    ; the first connection answers E_FAIL
//   still_fault2=FindCaptureFilter:*:0       ; a step that answers yes or no answers no
//   still_fault3=ConnectedSize:1:corrupt:0x01:0  ; the connected width's low byte XORed with 1
// A step that answers a size or capabilities (ReadCapabilities, ConnectedSize) can be corrupted:
// the offset counts the little-endian bytes of width, height, width, height, ... A bench whose
// still_fault keys cannot be read builds no graph (CreateGraph fails, the trace says why); one that
// cannot be read at all fails at the device search, as without faults.
#pragma once

#include <optional>
#include <string>

#include "emu/bench.h"
#include "emu/capture_filter/stream_settings.h"
#include "emu/vendor/vendor_faults.h"
#include "updater/core/ports.h"
#include "updater/stillcap/still_graph.h"

namespace stillcap {

// What the filter graph's Connect reports when the capture pin refuses every connection (the
// camera is in use elsewhere, or offers no format): VFW_E_CANNOT_CONNECT, once no intermediate
// filter helped either.
inline constexpr int32_t kCannotConnect = static_cast<int32_t>(0x80040217);

// A bench's cameras as video-input devices.
class BenchCameraList final : public CaptureDeviceList {
public:
    BenchCameraList(const std::string& folder, kit::Trace& trace) : folder_(folder), trace_(trace) {}
    bool Open() override;
    void Reset() override { next_ = 0; }
    bool Next() override;
    bool DevicePath(std::string& path) override;
    bool BindFilter() override;
    // After a successful bind: the camera's record.
    const emu::CameraRecord& Bound() const { return bench_.cameras.at(bound_); }

private:
    const std::string& folder_;
    kit::Trace& trace_;
    emu::Bench bench_;
    size_t next_ = 0;     // the device Next takes
    size_t current_ = 0;  // the device taken last
    size_t bound_ = 0;
};

class BenchStillGraph final : public StillGraphOps {
public:
    BenchStillGraph(std::string folder, kit::Trace& trace) : folder_(std::move(folder)), trace_(trace) {}

    // The camera whose filter is in the graph, or nullptr.
    const emu::CameraRecord* Camera() const { return camera_ ? &*camera_ : nullptr; }

    // The step calls the still_fault keys have seen so far.
    const emu::vendor::FaultTable& Faults() const { return faults_; }

    int32_t CreateGraph() override;
    bool FindCaptureFilter(uint16_t vid, uint16_t pid) override;
    int32_t AddCaptureFilter() override { return Result("AddCaptureFilter"); }
    bool ReadCapabilities(std::vector<Capability>& out) override;
    int32_t ApplyCapability(int index, int64_t frameTime) override;
    int32_t CreateGrabber() override { return Result("CreateGrabber"); }
    int32_t SetGrabberToRgb24() override { return Result("SetGrabberToRgb24"); }
    int32_t AddGrabber() override { return Result("AddGrabber"); }
    void TakeCapturePin() override {}
    void TakeGrabberInputPin() override {}
    int32_t ConnectPins() override;
    void ReadConnectedType() override {}
    int32_t RenderGrabberOutput() override { return Result("RenderGrabberOutput"); }
    bool ConnectedSize(int32_t& width, int32_t& height) override;
    void ConfigureGrabber() override {}
    bool HideVideoWindow() override { return !Step("HideVideoWindow").fail; }
    int32_t Run() override { return Result("Run"); }

    bool HasGraph() const override { return graph_; }
    bool HasCaptureFilter() const override { return camera_.has_value(); }
    void ReleaseGraph() override { graph_ = connected_ = false; }
    void ReleaseCaptureFilter() override { camera_.reset(); }

private:
    // What the faults make of a call of the step; the bench's keys are read at the first step.
    emu::vendor::CallVerdict Step(const char* name);
    int32_t Result(const char* name) {
        const emu::vendor::CallVerdict v = Step(name);
        return v.fail ? v.code : kOk;
    }

    const std::string folder_;
    kit::Trace& trace_;
    bool faultsRead_ = false;
    bool faultsBad_ = false;
    emu::vendor::FaultTable faults_;
    bool graph_ = false;
    std::optional<emu::CameraRecord> camera_;
    emu::capture::StreamSettings stream_;
    size_t format_ = 0;  // the pin's format: its first capability until another is applied
    bool connected_ = false;
};

// The still-capture port over a bench.
class BenchStillCapture final : public kit::StillCapturePort {
public:
    BenchStillCapture(std::string folder, StillCapHost& host, kit::Trace& trace)
        : graph_(std::move(folder), trace), host_(host), trace_(trace) {}
    int32_t InitStillGraph(uint16_t vid, uint16_t pid) override {
        return BuildStillGraph(graph_, host_, trace_, vid, pid, grabbed_);
    }
    void ClearGraphs() override { ClearStillGraph(graph_, trace_); }
    const GrabbedSize& Grabbed() const { return grabbed_; }
    const BenchStillGraph& Graph() const { return graph_; }

private:
    BenchStillGraph graph_;
    StillCapHost& host_;
    kit::Trace& trace_;
    GrabbedSize grabbed_;
};

}  // namespace stillcap
