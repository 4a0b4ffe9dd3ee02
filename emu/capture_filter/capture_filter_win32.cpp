// Win32-only: the capture-filter stand-in, a COM in-process server that DirectShow binds a
// registered video-input device to (registration.h). It answers as a camera's capture filter does
// towards the kit: IBaseFilter, IPersistPropertyBag (the device enumerator hands it the moniker's
// property bag, whose DevicePath names the bench camera), and, as the camera's carrier key says,
// IKsControl + IKsTopologyInfo and/or the chip maker's ICustomCameraProp; the answers come from
// the bench's chip model (standin_device.h). Its one pin, "Capture", is a video output pin with the
// camera's stream formats (video_pin_win32.h), so that a capture graph can be built and run on it.
//
// Choices:
//  - A live source: Pause, and GetState while paused, answer VFW_S_CANT_CUE; the pin delivers
//    frames only while the filter runs. Stop ends the pin's streaming before it returns.
//  - Like the system's kernel-streaming proxy, which carrier interfaces it answers to is known
//    only once Load has named the device: before Load it exposes IBaseFilter and
//    IPersistPropertyBag alone, and Load may run once. The device enumerator's BindToObject
//    calls Load with the moniker's own bag (wine's does too; the end-to-end tests rely on it).
//  - No camera for the path (no Bench value, an unreadable bench, a path the bench lacks): the
//    object is still made and exposes all three carrier interfaces, each request failing with
//    ERROR_DEVICE_NOT_CONNECTED, and the debugger trace says why once per Load.
//  - No aggregation. DllCanUnloadNow answers S_OK when no object, enumerator, class-factory
//    reference or server lock is left; the bench then goes with the DLL, as a camera that is
//    unplugged and plugged in again.
#include <windows.h>
// After windows.h:
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "emu/capture_filter/registration.h"
#include "emu/capture_filter/standin_device.h"
#include "emu/capture_filter/stream_settings.h"
#include "emu/capture_filter/video_pin_win32.h"
#include "platform/win32/custom_camera_prop.h"
#include "platform/win32/ks_interfaces.h"
#include "platform/win32/win32_util.h"
#include "kit/trace.h"

namespace emu::capture {
namespace {

using Microsoft::WRL::ComPtr;
using kit::IKsControl;
using kit::IKsTopologyInfo;
using kit::ScopedVariant;
using kit::ToAnsi;

// {2A51A045-7D26-44D2-8407-7637C5FDD517}, kStandInClsid.
constexpr GUID CLSID_CaptureStandIn = {
    0x2A51A045, 0x7D26, 0x44D2, {0x84, 0x07, 0x76, 0x37, 0xC5, 0xFD, 0xD5, 0x17}};
// KSCATEGORY_CAPTURE and KSCATEGORY_VIDEO, what a camera's filter reports as its categories.
constexpr GUID kCategories[] = {
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
};
constexpr ULONG kNodePinOut = 0, kNodePinIn = 1;
// What Pause and GetState in the paused state answer: a live source has nothing to cue.
constexpr HRESULT kPausedResult = VFW_S_CANT_CUE;

// Objects, enumerators, class-factory references and server locks alive in the process.
std::atomic<LONG> g_moduleRefs{0};


std::wstring ToWide(const char* text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n) != n) return {};
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

bool ReadBagString(IPropertyBag* bag, const wchar_t* name, std::string& out) {
    ScopedVariant value;
    value.v.vt = VT_BSTR;
    if (FAILED(bag->Read(name, &value.v, nullptr)) || value.v.vt != VT_BSTR) return false;
    out = ToAnsi(value.v.bstrVal);
    return true;
}

// The Bench value under the class key, or false when there is none.
bool RegisteredBenchFolder(std::string& folder) {
    const std::string key = ClassKey();
    DWORD bytes = 0;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), kBenchValue, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes == 0)
        return false;
    std::string text(bytes, '\0');
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), kBenchValue, RRF_RT_REG_SZ, nullptr, text.data(),
                     &bytes) != ERROR_SUCCESS)
        return false;
    text.resize(std::strlen(text.c_str()));
    folder = text;
    return !folder.empty();
}

// The bench of the process, opened by the first Load that needs it. `problem` says why there is
// none.
SharedBench* ProcessBench(std::string& problem) {
    static std::mutex lock;
    static bool tried = false;
    static std::unique_ptr<SharedBench> bench;
    static std::string why;
    std::lock_guard<std::mutex> hold(lock);
    if (!tried) {
        tried = true;
        std::string folder;
        if (!RegisteredBenchFolder(folder)) {
            why = "no bench registered (HKCR\\" + ClassKey() + "\\" + kBenchValue + ")";
        } else {
            TraceBenchInUse(kit::SystemTrace(), folder);
            auto opened = std::make_unique<SharedBench>();
            std::string error;
            if (opened->Open(folder, error))
                bench = std::move(opened);
            else
                why = "bench cannot be used: " + error;
        }
    }
    problem = why;
    return bench.get();
}

// The filter's pins: its video pin, or none.
class PinEnum final : public IEnumPins {
public:
    explicit PinEnum(IPin* pin, bool done = false) : pin_(pin), done_(done || !pin) { ++g_moduleRefs; }
    ~PinEnum() { --g_moduleRefs; }
    PinEnum(const PinEnum&) = delete;
    PinEnum& operator=(const PinEnum&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IEnumPins) return E_NOINTERFACE;
        *object = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins || (count != 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        if (count > 0 && !done_) {
            pins[0] = pin_.Get();
            pins[0]->AddRef();
            done_ = true;
            n = 1;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (count == 0) return S_OK;
        const bool had = !done_;
        done_ = true;
        return had && count == 1 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        done_ = !pin_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override {
        if (!copy) return E_POINTER;
        *copy = new (std::nothrow) PinEnum(pin_.Get(), done_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::atomic<LONG> refs_{1};
    ComPtr<IPin> pin_;
    bool done_;
};

class StandInFilter final : public IBaseFilter,
                            public IPersistPropertyBag,
                            public IKsControl,
                            public IKsTopologyInfo,
                            public kit::ICustomCameraProp {
public:
    StandInFilter() { ++g_moduleRefs; }
    ~StandInFilter() { --g_moduleRefs; }
    StandInFilter(const StandInFilter&) = delete;
    StandInFilter& operator=(const StandInFilter&) = delete;

    // IUnknown: one identity, the IBaseFilter base.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        Exposure exposure;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (loaded_) exposure = device_.Exposes();
        }
        if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter ||
            riid == IID_IBaseFilter)
            *object = static_cast<IBaseFilter*>(this);
        else if (riid == IID_IPersistPropertyBag)
            *object = static_cast<IPersistPropertyBag*>(this);
        else if (exposure.ksControl && riid == kit::kIidKsControl)
            *object = static_cast<IKsControl*>(this);
        else if (exposure.topology && riid == kit::kIidKsTopologyInfo)
            *object = static_cast<IKsTopologyInfo*>(this);
        else if (exposure.custom && riid == kit::IID_ICustomCameraProp)
            *object = static_cast<kit::ICustomCameraProp*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IPersist (through both IMediaFilter and IPersistPropertyBag).
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_CaptureStandIn;
        return S_OK;
    }

    // IMediaFilter.
    HRESULT STDMETHODCALLTYPE Stop() override {
        pin_.Deactivate();
        return SetState(State_Stopped);
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        HRESULT hr = pin_.Activate();
        if (FAILED(hr)) return hr;
        pin_.SetRunning(false);
        SetState(State_Paused);
        return kPausedResult;
    }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
        HRESULT hr = pin_.Activate();
        if (FAILED(hr)) return hr;
        pin_.SetRunning(true);
        return SetState(State_Running);
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
        if (!state) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        *state = state_;
        return state_ == State_Paused ? kPausedResult : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
        std::lock_guard<std::mutex> hold(lock_);
        clock_ = clock;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
        if (!clock) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        *clock = clock_.Get();
        if (*clock) (*clock)->AddRef();
        return S_OK;
    }

    // IBaseFilter.
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
        if (!pins) return E_POINTER;
        *pins = new (std::nothrow) PinEnum(static_cast<IPin*>(&pin_));
        return *pins ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override {
        if (!pin) return E_POINTER;
        *pin = nullptr;
        if (!id || lstrcmpW(id, L"Capture") != 0) return VFW_E_NOT_FOUND;
        *pin = static_cast<IPin*>(&pin_);
        (*pin)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
        if (!info) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
        info->pGraph = graph_;
        if (graph_) graph_->AddRef();
        return S_OK;
    }
    // The graph owns its filters: keeping a reference back would make a cycle, so none is kept.
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        std::lock_guard<std::mutex> hold(lock_);
        graph_ = graph;
        name_ = graph && name ? name : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        return E_NOTIMPL;
    }

    // IPersistPropertyBag.
    HRESULT STDMETHODCALLTYPE InitNew() override {
        std::lock_guard<std::mutex> hold(lock_);
        if (loaded_) return E_UNEXPECTED;
        kit::TraceF(kit::SystemTrace(),
                    "capture filter stand-in: created without a device: every request fails\n");
        loaded_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog*) override {
        if (!bag) return E_POINTER;
        std::lock_guard<std::mutex> hold(lock_);
        if (loaded_) return E_UNEXPECTED;
        loaded_ = true;
        std::string path;
        if (!ReadBagString(bag, L"DevicePath", path)) {
            kit::TraceF(kit::SystemTrace(),
                        "capture filter stand-in: the device has no DevicePath: every request fails\n");
            return S_OK;
        }
        std::string problem;
        SharedBench* bench = ProcessBench(problem);
        const CameraRecord* camera = bench ? bench->FindByDevicePath(path) : nullptr;
        if (bench && !camera)
            problem = "no camera of the bench " + bench->Description().folder + " has this path";
        if (camera) {
            device_ = StandInDevice(*bench, *camera, problem);
            device_.SetTrace(&kit::SystemTrace());
            StreamSettings stream;
            std::string streamProblem;
            if (!ReadStreamSettings(*camera, stream, streamProblem))
                kit::TraceF(kit::SystemTrace(), "capture filter stand-in: %s: %s: its pin offers no format\n",
                            path.c_str(), streamProblem.c_str());
            pin_.Configure(stream);
        }
        if (!problem.empty())
            kit::TraceF(kit::SystemTrace(), "capture filter stand-in: %s: %s: every request fails\n",
                        path.c_str(), problem.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

    // IKsControl.
    HRESULT STDMETHODCALLTYPE KsProperty(void* property, ULONG propertyLength, void* data,
                                         ULONG dataLength, ULONG* bytesReturned) override {
        uint32_t returned = 0;
        HRESULT hr =
            device_.KsProperty(reinterpret_cast<const uint8_t*>(property), propertyLength,
                               static_cast<uint8_t*>(data), dataLength, bytesReturned ? &returned : nullptr);
        if (bytesReturned) *bytesReturned = returned;
        return hr;
    }
    // The extension unit has properties only.
    HRESULT STDMETHODCALLTYPE KsMethod(void*, ULONG, void*, ULONG, ULONG* bytesReturned) override {
        if (bytesReturned) *bytesReturned = 0;
        return kSetNotFound;
    }
    HRESULT STDMETHODCALLTYPE KsEvent(void*, ULONG, void*, ULONG, ULONG* bytesReturned) override {
        if (bytesReturned) *bytesReturned = 0;
        return kSetNotFound;
    }

    // IKsTopologyInfo: the nodes of the camera's ks_nodes, each connected to the next.
    HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = ARRAYSIZE(kCategories);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Category(DWORD index, GUID* category) override {
        if (!category) return E_POINTER;
        if (index >= ARRAYSIZE(kCategories)) return E_INVALIDARG;
        *category = kCategories[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* count) override {
        if (!count) return E_POINTER;
        const size_t nodes = device_.Nodes().size();
        *count = nodes > 1 ? static_cast<DWORD>(nodes - 1) : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD index, kit::KsTopologyConnection* connection) override {
        if (!connection) return E_POINTER;
        if (static_cast<size_t>(index) + 1 >= device_.Nodes().size()) return E_INVALIDARG;
        *connection = kit::KsTopologyConnection{index, kNodePinOut, index + 1, kNodePinIn};
        return S_OK;
    }
    // Sizes in bytes, terminator included; a missing or short buffer answers ERROR_MORE_DATA with
    // the size needed.
    HRESULT STDMETHODCALLTYPE get_NodeName(DWORD node, WCHAR* name, DWORD bufferBytes,
                                           DWORD* nameBytes) override {
        if (!nameBytes) return E_POINTER;
        *nameBytes = 0;
        if (node >= device_.Nodes().size()) return E_INVALIDARG;
        const std::wstring text = ToWide(NodeNameOf(device_.Nodes()[node]));
        const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
        *nameBytes = needed;
        if (!name || bufferBytes < needed) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
        std::memcpy(name, text.c_str(), needed);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<DWORD>(device_.Nodes().size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) override {
        if (!type) return E_POINTER;
        if (node >= device_.Nodes().size()) return E_INVALIDARG;
        const Guid bytes = NodeTypeOf(device_.Nodes()[node]);
        static_assert(sizeof(GUID) == sizeof(bytes));
        std::memcpy(type, bytes.data(), sizeof(GUID));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD, REFIID, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return E_NOTIMPL;
    }

    // ICustomCameraProp.
    HRESULT STDMETHODCALLTYPE GetDriverInfo(ULONG* info) override {
        if (!info) return E_POINTER;
        *info = kDriverInfo;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperty(ULONG id, BYTE* buffer) override {
        return device_.GetCustomProperty(id, buffer);
    }
    HRESULT STDMETHODCALLTYPE SetProperty(ULONG id, BYTE* buffer) override {
        return device_.SetCustomProperty(id, buffer);
    }

private:
    HRESULT SetState(FILTER_STATE state) {
        std::lock_guard<std::mutex> hold(lock_);
        state_ = state;
        return S_OK;
    }

    std::atomic<LONG> refs_{1};
    std::mutex lock_;  // guards what follows except device_, which Load sets before anyone can call it
    bool loaded_ = false;
    FILTER_STATE state_ = State_Stopped;
    ComPtr<IReferenceClock> clock_;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    StandInDevice device_;
    VideoPin pin_{static_cast<IBaseFilter*>(this)};
};

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // One factory for the process, never freed: its references only keep the DLL loaded.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_moduleRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--g_moduleRefs); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        StandInFilter* filter = new (std::nothrow) StandInFilter();
        if (!filter) return E_OUTOFMEMORY;
        HRESULT hr = filter->QueryInterface(riid, object);
        filter->Release();  // the caller's reference, or none
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ++g_moduleRefs;
        else
            --g_moduleRefs;
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace
}  // namespace emu::capture

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != emu::capture::CLSID_CaptureStandIn) return CLASS_E_CLASSNOTAVAILABLE;
    return emu::capture::g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return emu::capture::g_moduleRefs.load() == 0 ? S_OK : S_FALSE; }
