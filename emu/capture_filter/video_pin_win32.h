// Win32-only: the capture-filter stand-in's video output pin, what a graph streams from. It offers
// the bench camera's formats (stream_settings.h) as RGB24 video at 30 frames per second:
//
//  - IPin: connects to any input pin that takes one of its formats (the format applied through
//    IAMStreamConfig first, else each in capability order), agreeing on the input's allocator or
//    a memory allocator of frame-sized buffers; refuses with HRESULT_FROM_WIN32(
//    ERROR_NO_SYSTEM_RESOURCES) while its camera is in use elsewhere (in_use=1), and with
//    VFW_E_NO_ACCEPTABLE_TYPES when it has no format. Connecting or disconnecting needs the
//    filter stopped.
//  - IEnumMediaTypes over its formats.
//  - IAMStreamConfig: one capability per format (VIDEO_STREAM_CONFIG_CAPS, frame interval fixed at
//    333333 units); SetFormat takes one of them (frame time 0 or that interval) while the pin is
//    unconnected, and NULL for the default (the first).
//  - IKsPropertySet: the pin category, PIN_CATEGORY_CAPTURE, read only.
//  - While the filter runs, a streaming thread delivers a grey frame every 1/30 s through the
//    input's IMemInputPin; Pause from stopped commits the allocator, Stop decommits it and ends the
//    thread.
//
// The pin lives inside its filter and counts its references there.
#pragma once

#include <windows.h>
// After windows.h:
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "emu/capture_filter/stream_settings.h"
#include "platform/win32/media_type.h"

namespace emu::capture {

// HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES): what the pin of a camera in use answers.
inline constexpr HRESULT kCameraInUse = static_cast<HRESULT>(0x800705AA);
inline constexpr REFERENCE_TIME kFrameInterval = 10000000 / kFramesPerSecond;

class VideoPin final : public IPin, public IAMStreamConfig, public IKsPropertySet {
public:
    explicit VideoPin(IBaseFilter* filter) : filter_(filter) {}
    ~VideoPin();
    VideoPin(const VideoPin&) = delete;
    VideoPin& operator=(const VideoPin&) = delete;

    // What the camera streams; called once, before the pin is used.
    void Configure(const StreamSettings& settings);

    // Filter state changes: stopped -> paused or running, running -> paused, any -> stopped.
    HRESULT Activate();
    void SetRunning(bool running);
    void Deactivate();
    // The frames delivered since the filter was made.
    uint64_t FramesDelivered() const { return delivered_; }

    // IUnknown: the filter's.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return filter_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return filter_->Release(); }

    // IPin.
    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IAMStreamConfig.
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

    // IKsPropertySet.
    HRESULT STDMETHODCALLTYPE Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                                  DWORD dataBytes, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

private:
    // The format a media type asks for, or -1.
    int FormatOf(const AM_MEDIA_TYPE& type) const;
    // Connects with one format; the receiver has not been asked yet.
    HRESULT TryConnect(IPin* receiver, int format);
    HRESULT DecideAllocator(IMemInputPin* input, uint32_t frameBytes);
    void Stream();

    IBaseFilter* const filter_;
    // Recursive: an input pin may call back into this pin while it takes the connection.
    mutable std::recursive_mutex lock_;
    StreamSettings settings_;
    int applied_ = -1;  // the format SetFormat chose, or -1
    bool active_ = false;
    Microsoft::WRL::ComPtr<IPin> receiver_;
    Microsoft::WRL::ComPtr<IMemInputPin> input_;
    Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
    int connected_ = -1;  // the format of the connection

    // The streaming thread delivers while running_; stop_ ends it.
    std::thread streamer_;
    std::condition_variable_any wake_;
    bool running_ = false;
    bool stop_ = false;
    std::atomic<uint64_t> delivered_{0};
};

// A format as the media type the pin offers for it (CoTaskMem blocks: DeleteMediaType frees it).
AM_MEDIA_TYPE* NewMediaType(const StreamFormat& format);
using kit::DeleteMediaType;
using kit::FreeMediaType;
// A deep copy into `out`; false when memory runs out.
bool CopyMediaType(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE& out);

}  // namespace emu::capture
