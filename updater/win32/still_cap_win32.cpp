// Win32-only: CStillCap over a DirectShow filter graph, and CSampleGrabberCB.
#include "still_cap_win32.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include <dvdmedia.h>

#include "kit/trace.h"
#include "platform/win32/media_type.h"
#include "platform/win32/win32_util.h"
#include "still_texts.h"

namespace stillcap {
namespace {

using Microsoft::WRL::ComPtr;
using kit::DeleteMediaType;
using kit::FreeMediaType;

// A media type filled by a call such as ISampleGrabber::GetConnectedMediaType.
struct ScopedMediaType {
    AM_MEDIA_TYPE type{};
    ScopedMediaType() = default;
    ~ScopedMediaType() { FreeMediaType(type); }
    ScopedMediaType(const ScopedMediaType&) = delete;
    ScopedMediaType& operator=(const ScopedMediaType&) = delete;
};

// The video frame header of a format block, or nullptr when the block holds none.
const BITMAPINFOHEADER* VideoHeader(const AM_MEDIA_TYPE& type) {
    if (!type.pbFormat) return nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    return nullptr;
}

// The first pin of the filter that points the given way, or nothing.
ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.GetAddressOf())) || !pins) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) return pin;
    }
    return nullptr;
}

// The video-input devices of the system device enumerator.
class MonikerList final : public CaptureDeviceList {
public:
    explicit MonikerList(ComPtr<IBaseFilter>& filter) : filter_(filter) {}

    bool Open() override {
        ComPtr<ICreateDevEnum> devices;
        if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                    reinterpret_cast<void**>(devices.GetAddressOf()))))
            return false;
        // S_FALSE: the category is empty and there is no enumerator.
        return devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers_.GetAddressOf(), 0) ==
                   S_OK &&
               monikers_;
    }
    void Reset() override {
        if (monikers_) monikers_->Reset();
    }
    bool Next() override {
        return monikers_ && monikers_->Next(1, moniker_.ReleaseAndGetAddressOf(), nullptr) == S_OK && moniker_;
    }
    bool DevicePath(std::string& path) override {
        ComPtr<IPropertyBag> bag;
        if (!moniker_ || FAILED(moniker_->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                         reinterpret_cast<void**>(bag.GetAddressOf()))))
            return false;
        kit::ScopedVariant value;
        value.v.vt = VT_BSTR;
        if (FAILED(bag->Read(L"DevicePath", &value.v, nullptr)) || value.v.vt != VT_BSTR) return false;
        path = kit::ToAnsi(value.v.bstrVal);
        return true;
    }
    bool BindFilter() override {
        return moniker_ &&
               SUCCEEDED(moniker_->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                reinterpret_cast<void**>(filter_.ReleaseAndGetAddressOf()))) &&
               filter_;
    }

private:
    ComPtr<IBaseFilter>& filter_;
    ComPtr<IEnumMoniker> monikers_;
    ComPtr<IMoniker> moniker_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// CSampleGrabberCB

CSampleGrabberCB::CSampleGrabberCB()
    : frames_([this] {
          if (HWND owner = owner_.load()) PostMessageW(owner, kWmFrameReady, 0, 0);
      }) {}

HRESULT CSampleGrabberCB::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT CSampleGrabberCB::SampleCB(double, IMediaSample*) { return S_OK; }

HRESULT CSampleGrabberCB::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
    if (length < 0) return E_INVALIDARG;
    return frames_.Keep(sampleTime, buffer, static_cast<uint32_t>(length));
}

// ---------------------------------------------------------------------------------------------
// CStillCap

CStillCap::CStillCap(StillCapHost& host, kit::Trace& trace) : host_(host), trace_(trace) {}

CStillCap::~CStillCap() {
    // The callers pair their calls; this only matters to a graph left built by mistake.
    if (HasGraph() || HasCaptureFilter()) ClearGraphs();
}

int32_t CStillCap::InitStillGraph(uint16_t vid, uint16_t pid) {
    return BuildStillGraph(*this, host_, trace_, vid, pid, grabbed_);
}

void CStillCap::ClearGraphs() { ClearStillGraph(*this, trace_); }

std::vector<std::string> CStillCap::FilterNames() const {
    std::vector<std::string> names;
    ComPtr<IEnumFilters> filters;
    if (!graph_ || FAILED(graph_->EnumFilters(filters.GetAddressOf())) || !filters) return names;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        FILTER_INFO info{};
        if (FAILED(filter->QueryFilterInfo(&info))) continue;
        if (info.pGraph) info.pGraph->Release();
        names.push_back(kit::ToAnsi(info.achName));
    }
    return names;
}

void CStillCap::Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) kit::TraceHresult(trace_, (std::string("CStillCap: ") + what).c_str(), hr);
}

int32_t CStillCap::CreateGraph() {
    return CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder,
                            reinterpret_cast<void**>(graph_.ReleaseAndGetAddressOf()));
}

bool CStillCap::FindCaptureFilter(uint16_t vid, uint16_t pid) {
    MonikerList devices(capture_);
    if (WalkCaptureDevices(devices, vid, pid)) return true;
    // A bind that failed may have left nothing, or a filter that is not the result.
    capture_.Reset();
    return false;
}

int32_t CStillCap::AddCaptureFilter() { return graph_->AddFilter(capture_.Get(), L"Cap"); }

bool CStillCap::ReadCapabilities(std::vector<Capability>& out) {
    out.clear();
    for (AM_MEDIA_TYPE* type : capabilityTypes_) DeleteMediaType(type);
    capabilityTypes_.clear();
    streamConfig_.Reset();

    ComPtr<IPin> pin = FirstPin(capture_.Get(), PINDIR_OUTPUT);
    if (!pin || FAILED(pin.As(&streamConfig_))) return false;
    int count = 0, size = 0;
    HRESULT hr = streamConfig_->GetNumberOfCapabilities(&count, &size);
    if (FAILED(hr)) {
        Check(hr, "GetNumberOfCapabilities");
        return false;
    }
    // The capabilities block is the pin's to size; never smaller than the video one we know.
    std::vector<BYTE> caps(std::max<size_t>(static_cast<size_t>(std::max(size, 0)), sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        hr = streamConfig_->GetStreamCaps(i, &type, caps.data());
        Capability c;
        if (SUCCEEDED(hr) && type && type->majortype == MEDIATYPE_Video) {
            if (const BITMAPINFOHEADER* header = VideoHeader(*type)) {
                c.video = true;
                c.width = header->biWidth;
                c.height = header->biHeight;
            }
        } else {
            Check(hr, "GetStreamCaps");
        }
        capabilityTypes_.push_back(SUCCEEDED(hr) ? type : nullptr);
        if (FAILED(hr)) DeleteMediaType(type);
        out.push_back(c);
    }
    return true;
}

int32_t CStillCap::ApplyCapability(int index, int64_t frameTime) {
    if (index < 0 || static_cast<size_t>(index) >= capabilityTypes_.size() || !capabilityTypes_[index] ||
        !streamConfig_)
        return E_INVALIDARG;
    AM_MEDIA_TYPE* type = capabilityTypes_[index];
    if (type->formattype == FORMAT_VideoInfo)
        reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame = frameTime;
    else
        reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat)->AvgTimePerFrame = frameTime;
    HRESULT hr = streamConfig_->SetFormat(type);
    Check(hr, "IAMStreamConfig::SetFormat");
    return hr;
}

int32_t CStillCap::CreateGrabber() {
    HRESULT hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(grabberFilter_.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return hr;
    return grabberFilter_.As(&grabber_);
}

int32_t CStillCap::SetGrabberToRgb24() {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    return grabber_->SetMediaType(&type);
}

int32_t CStillCap::AddGrabber() { return graph_->AddFilter(grabberFilter_.Get(), L"Grabber"); }

void CStillCap::TakeCapturePin() { capturePin_ = FirstPin(capture_.Get(), PINDIR_OUTPUT); }

void CStillCap::TakeGrabberInputPin() { grabberInput_ = FirstPin(grabberFilter_.Get(), PINDIR_INPUT); }

int32_t CStillCap::ConnectPins() {
    if (!capturePin_ || !grabberInput_) return VFW_E_NOT_FOUND;
    HRESULT hr = graph_->Connect(capturePin_.Get(), grabberInput_.Get());
    Check(hr, "IGraphBuilder::Connect");
    return hr;
}

void CStillCap::ReadConnectedType() {
    ScopedMediaType type;
    Check(grabber_->GetConnectedMediaType(&type.type), "GetConnectedMediaType");
}

int32_t CStillCap::RenderGrabberOutput() {
    ComPtr<IPin> output = FirstPin(grabberFilter_.Get(), PINDIR_OUTPUT);
    if (!output) return VFW_E_NOT_FOUND;
    HRESULT hr = graph_->Render(output.Get());
    Check(hr, "IGraphBuilder::Render");
    return hr;
}

bool CStillCap::ConnectedSize(int32_t& width, int32_t& height) {
    ScopedMediaType type;
    if (FAILED(grabber_->GetConnectedMediaType(&type.type))) return false;
    const BITMAPINFOHEADER* header = VideoHeader(type.type);
    if (!header) return false;
    width = header->biWidth;
    height = header->biHeight;
    return true;
}

void CStillCap::ConfigureGrabber() {
    Check(grabber_->SetBufferSamples(FALSE), "SetBufferSamples");
    Check(grabber_->SetOneShot(FALSE), "SetOneShot");
    Check(grabber_->SetCallback(&callback_, 1), "SetCallback");
}

bool CStillCap::HideVideoWindow() {
    ComPtr<IVideoWindow> window;
    if (FAILED(graph_->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(window.GetAddressOf())))) return false;
    Check(window->put_Visible(OAFALSE), "IVideoWindow::put_Visible");
    Check(window->put_AutoShow(OAFALSE), "IVideoWindow::put_AutoShow");
    return true;
}

int32_t CStillCap::Run() {
    ComPtr<IMediaControl> control;
    HRESULT hr = graph_.As(&control);
    if (FAILED(hr)) return hr;
    return control->Run();
}

void CStillCap::ReleaseGraph() {
    ComPtr<IMediaControl> control;
    if (SUCCEEDED(graph_.As(&control))) Check(control->Stop(), "IMediaControl::Stop");
    ComPtr<IVideoWindow> window;
    if (SUCCEEDED(graph_->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(window.GetAddressOf())))) {
        // A graph without a renderer answers E_NOINTERFACE here: nothing to hide.
        window->put_Visible(OAFALSE);
        window->put_Owner(0);
    }
    // The grabber keeps no pointer to the callback once the graph is gone.
    if (grabber_) grabber_->SetCallback(nullptr, 1);
    capturePin_.Reset();
    grabberInput_.Reset();
    grabber_.Reset();
    grabberFilter_.Reset();
    graph_.Reset();
}

void CStillCap::ReleaseCaptureFilter() {
    for (AM_MEDIA_TYPE* type : capabilityTypes_) DeleteMediaType(type);
    capabilityTypes_.clear();
    streamConfig_.Reset();
    capturePin_.Reset();
    capture_.Reset();
}

// ---------------------------------------------------------------------------------------------
// Win32StillCapHost

UtcTime Win32StillCapHost::NowUtc() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    return {t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void Win32StillCapHost::ShowExclamation(const char* text) {
    if (silent_) {
        kit::TraceF(kit::SystemTrace(), "still capture: %s (silent run: no message box)\n", text);
        return;
    }
    MessageBoxA(nullptr, text, kBoxCaption, MB_OK | MB_ICONEXCLAMATION);
}

void Win32StillCapHost::RequestQuit(int code) {
    quitRequested_ = true;
    if (GetCurrentThreadId() == mainThread_)
        PostQuitMessage(code);
    else if (!PostThreadMessageW(mainThread_, WM_QUIT, static_cast<WPARAM>(code), 0))
        kit::TraceF(kit::SystemTrace(), "still capture: the quit request cannot be posted (error %lu)\n",
                    GetLastError());
}

}  // namespace stillcap
