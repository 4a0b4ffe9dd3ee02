// Win32-only: CStillCap, the still-capture graph over DirectShow, and its grabber callback
// CSampleGrabberCB; and the program services the graph uses (StillCapHost over Win32).
//
// One CStillCap serves the whole process. Its calls run on the caller's thread, which has
// initialised COM; the callback runs on the grabber's streaming thread.
#pragma once

#include <windows.h>
// After windows.h:
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <vector>

#include "kit/trace.h"
#include "sample_grabber.h"
#include "still_graph.h"
#include "updater/core/ports.h"

namespace stillcap {

// The grabber callback. Embedded in CStillCap: its reference counts are fixed (2 after AddRef,
// 1 after Release) and it is never freed through them.
class CSampleGrabberCB final : public ISampleGrabberCB {
public:
    CSampleGrabberCB();

    // Where the frame-ready message goes; none until set.
    void SetOwner(HWND owner) { owner_ = owner; }
    FrameKeeper& Frames() { return frames_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

private:
    std::atomic<HWND> owner_{nullptr};
    FrameKeeper frames_;
};

// The first application-defined message: a frame was copied.
inline constexpr UINT kWmFrameReady = 0x8001;

class CStillCap final : public kit::StillCapturePort, private StillGraphOps {
public:
    CStillCap(StillCapHost& host, kit::Trace& trace);
    ~CStillCap() override;
    CStillCap(const CStillCap&) = delete;
    CStillCap& operator=(const CStillCap&) = delete;

    int32_t InitStillGraph(uint16_t vid, uint16_t pid) override;
    void ClearGraphs() override;

    // The frame size of the grabber's connected type after the last build.
    const GrabbedSize& Grabbed() const { return grabbed_; }
    CSampleGrabberCB& Callback() { return callback_; }
    // The names of the filters in the graph, in the graph's order (none without a graph).
    std::vector<std::string> FilterNames() const;

private:
    // StillGraphOps over DirectShow.
    int32_t CreateGraph() override;
    bool FindCaptureFilter(uint16_t vid, uint16_t pid) override;
    int32_t AddCaptureFilter() override;
    bool ReadCapabilities(std::vector<Capability>& out) override;
    int32_t ApplyCapability(int index, int64_t frameTime) override;
    int32_t CreateGrabber() override;
    int32_t SetGrabberToRgb24() override;
    int32_t AddGrabber() override;
    void TakeCapturePin() override;
    void TakeGrabberInputPin() override;
    int32_t ConnectPins() override;
    void ReadConnectedType() override;
    int32_t RenderGrabberOutput() override;
    bool ConnectedSize(int32_t& width, int32_t& height) override;
    void ConfigureGrabber() override;
    bool HideVideoWindow() override;
    int32_t Run() override;
    bool HasGraph() const override { return graph_ != nullptr; }
    bool HasCaptureFilter() const override { return capture_ != nullptr; }
    void ReleaseGraph() override;
    void ReleaseCaptureFilter() override;

    // Writes "CStillCap: <what> failed (0x...)" for a step whose failure changes nothing.
    void Check(HRESULT hr, const char* what);

    StillCapHost& host_;
    kit::Trace& trace_;
    Microsoft::WRL::ComPtr<IGraphBuilder> graph_;
    Microsoft::WRL::ComPtr<IBaseFilter> grabberFilter_;
    Microsoft::WRL::ComPtr<ISampleGrabber> grabber_;
    Microsoft::WRL::ComPtr<IBaseFilter> capture_;
    Microsoft::WRL::ComPtr<IAMStreamConfig> streamConfig_;
    // The capabilities' media types, in index order, while the capture filter is held.
    std::vector<AM_MEDIA_TYPE*> capabilityTypes_;
    Microsoft::WRL::ComPtr<IPin> capturePin_;
    Microsoft::WRL::ComPtr<IPin> grabberInput_;
    CSampleGrabberCB callback_;
    GrabbedSize grabbed_;
};

// The program around the graph: the system clock (UTC), Sleep, a message box without an owner,
// the quit request to the program's main thread, and ExitProcess.
class Win32StillCapHost final : public StillCapHost {
public:
    // `mainThread` runs the program's message loop.
    explicit Win32StillCapHost(DWORD mainThread) : mainThread_(mainThread) {}
    UtcTime NowUtc() override;
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
    void ShowExclamation(const char* text) override;
    // PostQuitMessage on the main thread; from another thread the request is posted to it.
    void RequestQuit(int code) override;
    [[noreturn]] void EndProcess(int code) override { ExitProcess(static_cast<UINT>(code)); }

    bool QuitRequested() const { return quitRequested_; }
    // An unattended run has nobody to dismiss a box: its text goes to the debug trace instead.
    void SetSilent(bool silent) { silent_ = silent; }

private:
    const DWORD mainThread_;
    std::atomic<bool> silent_{false};
    std::atomic<bool> quitRequested_{false};
};

}  // namespace stillcap
