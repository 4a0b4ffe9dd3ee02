// Win32-only: the stand-in's video output pin (video_pin_win32.h).
#include "emu/capture_filter/video_pin_win32.h"

#include <chrono>
#include <cstring>
#include <new>

namespace emu::capture {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kPinName[] = L"Capture";

// A grey frame: what the stand-in shows, since it has no sensor.
constexpr BYTE kGrey = 0x80;

class MediaTypeEnum final : public IEnumMediaTypes {
public:
    explicit MediaTypeEnum(std::vector<StreamFormat> formats, size_t at = 0)
        : formats_(std::move(formats)), at_(at) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IEnumMediaTypes) return E_NOINTERFACE;
        *object = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (!types || (count != 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && at_ < formats_.size()) {
            types[n] = NewMediaType(formats_[at_]);
            if (!types[n]) break;
            ++n;
            ++at_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const size_t left = formats_.size() - at_;
        at_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        at_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** copy) override {
        if (!copy) return E_POINTER;
        *copy = new (std::nothrow) MediaTypeEnum(formats_, at_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::atomic<LONG> refs_{1};
    const std::vector<StreamFormat> formats_;
    size_t at_;
};

// A partial type (as Connect may be given) allows a format when every GUID it sets agrees.
bool Allows(const AM_MEDIA_TYPE* partial, const AM_MEDIA_TYPE& full) {
    if (!partial) return true;
    return (partial->majortype == GUID_NULL || partial->majortype == full.majortype) &&
           (partial->subtype == GUID_NULL || partial->subtype == full.subtype) &&
           (partial->formattype == GUID_NULL || partial->formattype == full.formattype);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Media types

AM_MEDIA_TYPE* NewMediaType(const StreamFormat& format) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    auto* video = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!type || !video) {
        CoTaskMemFree(type);
        CoTaskMemFree(video);
        return nullptr;
    }
    const uint32_t frameBytes = Rgb24FrameBytes(format);
    std::memset(video, 0, sizeof *video);
    video->dwBitRate = frameBytes * 8 * kFramesPerSecond;
    video->AvgTimePerFrame = kFrameInterval;
    BITMAPINFOHEADER& header = video->bmiHeader;
    header.biSize = sizeof header;
    header.biWidth = static_cast<LONG>(format.width);
    header.biHeight = static_cast<LONG>(format.height);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = frameBytes;

    std::memset(type, 0, sizeof *type);
    type->majortype = MEDIATYPE_Video;
    type->subtype = MEDIASUBTYPE_RGB24;
    type->bFixedSizeSamples = TRUE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = frameBytes;
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE*>(video);
    return type;
}

bool CopyMediaType(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE& out) {
    out = from;
    out.pbFormat = nullptr;
    out.cbFormat = 0;
    if (from.cbFormat != 0 && from.pbFormat) {
        out.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
        if (!out.pbFormat) {
            out.pUnk = nullptr;
            return false;
        }
        std::memcpy(out.pbFormat, from.pbFormat, from.cbFormat);
        out.cbFormat = from.cbFormat;
    }
    if (out.pUnk) out.pUnk->AddRef();
    return true;
}

// ---------------------------------------------------------------------------------------------
// VideoPin

VideoPin::~VideoPin() { Deactivate(); }

void VideoPin::Configure(const StreamSettings& settings) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    settings_ = settings;
    applied_ = -1;
}

HRESULT VideoPin::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPin)
        *object = static_cast<IPin*>(this);
    else if (riid == IID_IAMStreamConfig)
        *object = static_cast<IAMStreamConfig*>(this);
    else if (riid == IID_IKsPropertySet)
        *object = static_cast<IKsPropertySet*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

int VideoPin::FormatOf(const AM_MEDIA_TYPE& type) const {
    if (type.majortype != MEDIATYPE_Video || type.subtype != MEDIASUBTYPE_RGB24 ||
        type.formattype != FORMAT_VideoInfo || type.cbFormat < sizeof(VIDEOINFOHEADER) || !type.pbFormat)
        return -1;
    const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    for (size_t i = 0; i < settings_.formats.size(); ++i) {
        const StreamFormat& f = settings_.formats[i];
        if (header.biWidth == static_cast<LONG>(f.width) && header.biHeight == static_cast<LONG>(f.height) &&
            header.biBitCount == 24 && header.biCompression == BI_RGB)
            return static_cast<int>(i);
    }
    return -1;
}

HRESULT VideoPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (!receiver) return E_POINTER;
    std::unique_lock<std::recursive_mutex> hold(lock_);
    if (receiver_) return VFW_E_ALREADY_CONNECTED;
    if (active_) return VFW_E_NOT_STOPPED;
    if (settings_.inUse) return kCameraInUse;
    // The format IAMStreamConfig chose is the only one offered; else each in capability order.
    std::vector<int> candidates;
    if (applied_ >= 0)
        candidates.push_back(applied_);
    else
        for (size_t i = 0; i < settings_.formats.size(); ++i) candidates.push_back(static_cast<int>(i));
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int format : candidates) {
        AM_MEDIA_TYPE* offered = NewMediaType(settings_.formats[static_cast<size_t>(format)]);
        if (!offered) return E_OUTOFMEMORY;
        const bool allowed = Allows(type, *offered);
        DeleteMediaType(offered);
        if (!allowed) continue;
        last = TryConnect(receiver, format);
        if (SUCCEEDED(last)) return S_OK;
    }
    return candidates.empty() ? VFW_E_NO_ACCEPTABLE_TYPES : last;
}

// Under lock_.
HRESULT VideoPin::TryConnect(IPin* receiver, int format) {
    const StreamFormat& f = settings_.formats[static_cast<size_t>(format)];
    AM_MEDIA_TYPE* type = NewMediaType(f);
    if (!type) return E_OUTOFMEMORY;
    HRESULT hr = receiver->ReceiveConnection(this, type);
    DeleteMediaType(type);
    if (FAILED(hr)) return hr;
    ComPtr<IMemInputPin> input;
    hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(input.GetAddressOf()));
    if (SUCCEEDED(hr)) hr = DecideAllocator(input.Get(), Rgb24FrameBytes(f));
    if (FAILED(hr)) {
        receiver->Disconnect();
        allocator_.Reset();
        return hr == E_NOINTERFACE ? VFW_E_NO_TRANSPORT : hr;
    }
    receiver_ = receiver;
    input_ = input;
    connected_ = format;
    return S_OK;
}

HRESULT VideoPin::DecideAllocator(IMemInputPin* input, uint32_t frameBytes) {
    ALLOCATOR_PROPERTIES wanted{};
    // Inputs that ask nothing of the allocator answer E_NOTIMPL.
    input->GetAllocatorRequirements(&wanted);
    wanted.cBuffers = wanted.cBuffers > 2 ? wanted.cBuffers : 2;
    wanted.cbBuffer = static_cast<LONG>(frameBytes) > wanted.cbBuffer ? static_cast<LONG>(frameBytes) : wanted.cbBuffer;
    wanted.cbAlign = wanted.cbAlign > 0 ? wanted.cbAlign : 1;

    auto agree = [&](IMemAllocator* allocator) {
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (SUCCEEDED(hr) && actual.cbBuffer < static_cast<LONG>(frameBytes)) hr = E_FAIL;
        if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator, FALSE);
        return hr;
    };
    ComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(input->GetAllocator(allocator.GetAddressOf())) && allocator && SUCCEEDED(agree(allocator.Get()))) {
        allocator_ = allocator;
        return S_OK;
    }
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(allocator.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr)) hr = agree(allocator.Get());
    if (SUCCEEDED(hr)) allocator_ = allocator;
    return hr;
}

HRESULT VideoPin::Disconnect() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!receiver_) return S_FALSE;
    if (active_) return VFW_E_NOT_STOPPED;
    receiver_.Reset();
    input_.Reset();
    allocator_.Reset();
    connected_ = -1;
    return S_OK;
}

HRESULT VideoPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *pin = receiver_.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT VideoPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    std::memset(type, 0, sizeof *type);
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!receiver_) return VFW_E_NOT_CONNECTED;
    AM_MEDIA_TYPE* made = NewMediaType(settings_.formats[static_cast<size_t>(connected_)]);
    if (!made) return E_OUTOFMEMORY;
    // The block moves over; only the outer allocation goes.
    *type = *made;
    CoTaskMemFree(made);
    return S_OK;
}

HRESULT VideoPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    lstrcpynW(info->achName, kPinName, MAX_PIN_NAME);
    return S_OK;
}

HRESULT VideoPin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

HRESULT VideoPin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kPinName));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, kPinName, sizeof kPinName);
    return S_OK;
}

HRESULT VideoPin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return FormatOf(*type) >= 0 ? S_OK : S_FALSE;
}

HRESULT VideoPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *types = new (std::nothrow) MediaTypeEnum(settings_.formats);
    return *types ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------------------------
// IAMStreamConfig

HRESULT VideoPin::SetFormat(AM_MEDIA_TYPE* type) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (receiver_) return VFW_E_ALREADY_CONNECTED;
    if (!type) {
        applied_ = -1;
        return S_OK;
    }
    const int format = FormatOf(*type);
    if (format < 0) return VFW_E_INVALIDMEDIATYPE;
    const REFERENCE_TIME frameTime = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame;
    if (frameTime != 0 && frameTime != kFrameInterval) return VFW_E_INVALIDMEDIATYPE;
    applied_ = format;
    return S_OK;
}

HRESULT VideoPin::GetFormat(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    *type = nullptr;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (settings_.formats.empty()) return VFW_E_NO_TYPES;
    const int format = connected_ >= 0 ? connected_ : applied_ >= 0 ? applied_ : 0;
    *type = NewMediaType(settings_.formats[static_cast<size_t>(format)]);
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT VideoPin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    *count = static_cast<int>(settings_.formats.size());
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT VideoPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    if (!type || !caps) return E_POINTER;
    *type = nullptr;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (index < 0 || static_cast<size_t>(index) >= settings_.formats.size()) return S_FALSE;
    const StreamFormat& f = settings_.formats[static_cast<size_t>(index)];
    *type = NewMediaType(f);
    if (!*type) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS c{};
    c.guid = FORMAT_VideoInfo;
    const SIZE size{static_cast<LONG>(f.width), static_cast<LONG>(f.height)};
    c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = size;
    c.MinOutputSize = c.MaxOutputSize = size;
    c.CropGranularityX = c.CropGranularityY = c.CropAlignX = c.CropAlignY = 1;
    c.OutputGranularityX = c.OutputGranularityY = 1;
    c.MinFrameInterval = c.MaxFrameInterval = kFrameInterval;
    c.MinBitsPerSecond = c.MaxBitsPerSecond = static_cast<LONG>(Rgb24FrameBytes(f) * 8 * kFramesPerSecond);
    std::memcpy(caps, &c, sizeof c);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IKsPropertySet

HRESULT VideoPin::Set(REFGUID set, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
    return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT VideoPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataBytes, DWORD* returned) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data) return E_POINTER;
    if (dataBytes < sizeof(GUID)) return E_UNEXPECTED;
    std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
    if (returned) *returned = sizeof(GUID);
    return S_OK;
}

HRESULT VideoPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Streaming

HRESULT VideoPin::Activate() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (active_) return S_OK;
    active_ = true;
    if (!allocator_) return S_OK;
    HRESULT hr = allocator_->Commit();
    if (FAILED(hr)) return hr;
    stop_ = false;
    running_ = false;
    streamer_ = std::thread([this] { Stream(); });
    return S_OK;
}

void VideoPin::SetRunning(bool running) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    running_ = running;
    wake_.notify_all();
}

void VideoPin::Deactivate() {
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        if (!active_) return;
        active_ = false;
        running_ = false;
        stop_ = true;
        allocator = allocator_;
        wake_.notify_all();
    }
    // A thread waiting for a buffer gets VFW_E_NOT_COMMITTED at once.
    if (allocator) allocator->Decommit();
    // The graph stops the filters downstream first, so the input no longer holds a delivery.
    if (streamer_.joinable()) streamer_.join();
}

void VideoPin::Stream() {
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input;
    uint32_t frameBytes = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        allocator = allocator_;
        input = input_;
        frameBytes = Rgb24FrameBytes(settings_.formats[static_cast<size_t>(connected_)]);
    }
    constexpr auto kFrameTime = std::chrono::microseconds(1000000 / kFramesPerSecond);
    for (;;) {
        {
            std::unique_lock<std::recursive_mutex> hold(lock_);
            // Bounded, so that a lost wake-up costs one frame time at most.
            wake_.wait_for(hold, kFrameTime, [this] { return stop_; });
            if (stop_) return;
            if (!running_) continue;
        }
        ComPtr<IMediaSample> sample;
        if (FAILED(allocator->GetBuffer(sample.GetAddressOf(), nullptr, nullptr, 0))) continue;
        BYTE* bytes = nullptr;
        if (FAILED(sample->GetPointer(&bytes)) || static_cast<uint32_t>(sample->GetSize()) < frameBytes) continue;
        std::memset(bytes, kGrey, frameBytes);
        sample->SetActualDataLength(static_cast<LONG>(frameBytes));
        sample->SetSyncPoint(TRUE);
        if (SUCCEEDED(input->Receive(sample.Get()))) ++delivered_;
    }
}

}  // namespace emu::capture
