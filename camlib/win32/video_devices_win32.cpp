// Win32-only: capture devices through the DirectShow system device enumerator, and the
// kernel-streaming and private interfaces of their filters.
#include <windows.h>
// After windows.h:
#include <dshow.h>
#include <wrl/client.h>

#include <cstring>

#include "camlib/transport.h"
#include "camlib/win32/adapters_win32.h"
#include "kit/trace.h"
#include "platform/win32/ks_interfaces.h"
#include "platform/win32/win32_util.h"
#include "platform/win32/custom_camera_prop.h"

namespace camlib::win32 {
namespace {

using Microsoft::WRL::ComPtr;
using kit::IKsControl;
using kit::IKsTopologyInfo;
using kit::kIidKsControl;
using kit::kIidKsTopologyInfo;
using kit::ScopedVariant;
using kit::ToAnsi;

// Every failing COM call is traced as text where it happens; the library above sees the code only.
HRESULT Traced(const char* what, HRESULT hr) {
    kit::TraceHresult(kit::SystemTrace(), what, hr);
    return hr;
}

class WinKsControl final : public KsControl {
public:
    explicit WinKsControl(ComPtr<IKsControl> control) : control_(std::move(control)) {}
    int32_t KsProperty(const uint8_t* property, uint32_t propertyLength, void* data, uint32_t dataLength,
                       uint32_t* bytesReturned) override {
        ULONG returned = 0;
        const HRESULT hr =
            control_->KsProperty(const_cast<uint8_t*>(property), propertyLength, data, dataLength, &returned);
        if (bytesReturned) *bytesReturned = returned;
        // "More data" is the answer to a length query, not a failure.
        return hr == HRESULT_FROM_WIN32(ERROR_MORE_DATA) ? hr : Traced("IKsControl::KsProperty", hr);
    }

private:
    ComPtr<IKsControl> control_;
};

class WinTopology final : public KsTopology {
public:
    explicit WinTopology(ComPtr<IKsTopologyInfo> topology) : topology_(std::move(topology)) {}
    int32_t NumNodes(uint32_t* count) override {
        if (!count) return E_POINTER;
        DWORD n = 0;
        const HRESULT hr = topology_->get_NumNodes(&n);
        if (SUCCEEDED(hr)) *count = n;
        return Traced("IKsTopologyInfo::get_NumNodes", hr);
    }
    int32_t NodeType(uint32_t node, Guid* type) override {
        if (!type) return E_POINTER;
        GUID g{};
        const HRESULT hr = topology_->get_NodeType(node, &g);
        if (SUCCEEDED(hr)) std::memcpy(type->data(), &g, sizeof g);
        return Traced("IKsTopologyInfo::get_NodeType", hr);
    }

private:
    ComPtr<IKsTopologyInfo> topology_;
};

class WinCustomProp final : public CustomProp {
public:
    explicit WinCustomProp(ComPtr<kit::ICustomCameraProp> prop) : prop_(std::move(prop)) {}
    int32_t GetProperty(uint32_t id, uint8_t* buffer) override {
        return Traced("ICustomCameraProp::GetProperty", prop_->GetProperty(id, buffer));
    }
    int32_t SetProperty(uint32_t id, uint8_t* buffer) override {
        return Traced("ICustomCameraProp::SetProperty", prop_->SetProperty(id, buffer));
    }

private:
    ComPtr<kit::ICustomCameraProp> prop_;
};

class WinFilter final : public CaptureFilter {
public:
    explicit WinFilter(ComPtr<IBaseFilter> filter) : filter_(std::move(filter)) {}
    int32_t QueryKsControl(std::unique_ptr<KsControl>& out) override {
        ComPtr<IKsControl> control;
        const HRESULT hr =
            filter_->QueryInterface(kIidKsControl, reinterpret_cast<void**>(control.GetAddressOf()));
        if (FAILED(hr) || !control) return Traced("QueryInterface(IKsControl)", FAILED(hr) ? hr : E_NOINTERFACE);
        out = std::make_unique<WinKsControl>(std::move(control));
        return S_OK;
    }
    int32_t QueryTopology(std::unique_ptr<KsTopology>& out) override {
        ComPtr<IKsTopologyInfo> topology;
        const HRESULT hr =
            filter_->QueryInterface(kIidKsTopologyInfo, reinterpret_cast<void**>(topology.GetAddressOf()));
        if (FAILED(hr) || !topology) {
            return Traced("QueryInterface(IKsTopologyInfo)", FAILED(hr) ? hr : E_NOINTERFACE);
        }
        out = std::make_unique<WinTopology>(std::move(topology));
        return S_OK;
    }
    int32_t QueryCustomProp(std::unique_ptr<CustomProp>& out) override {
        ComPtr<kit::ICustomCameraProp> prop;
        const HRESULT hr = filter_->QueryInterface(kit::IID_ICustomCameraProp,
                                                   reinterpret_cast<void**>(prop.GetAddressOf()));
        if (FAILED(hr) || !prop) return Traced("QueryInterface(ICustomCameraProp)", FAILED(hr) ? hr : E_NOINTERFACE);
        out = std::make_unique<WinCustomProp>(std::move(prop));
        return S_OK;
    }

private:
    ComPtr<IBaseFilter> filter_;
};

class WinVideoDevice final : public VideoDevice {
public:
    explicit WinVideoDevice(ComPtr<IMoniker> moniker) : moniker_(std::move(moniker)) {}
    int32_t ReadDevicePath(std::string& path) override {
        path.clear();
        ComPtr<IPropertyBag> bag;
        HRESULT hr = moniker_->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(bag.GetAddressOf()));
        if (FAILED(hr)) return Traced("IMoniker::BindToStorage", hr);
        ScopedVariant value;
        value.v.vt = VT_BSTR;
        hr = bag->Read(L"DevicePath", &value.v, nullptr);
        if (FAILED(hr)) return Traced("IPropertyBag::Read(DevicePath)", hr);
        if (value.v.vt != VT_BSTR) return E_UNEXPECTED;
        path = ToAnsi(value.v.bstrVal);
        return S_OK;
    }
    int32_t BindFilter(std::unique_ptr<CaptureFilter>& out) override {
        ComPtr<IBaseFilter> filter;
        const HRESULT hr = moniker_->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                  reinterpret_cast<void**>(filter.GetAddressOf()));
        if (FAILED(hr) || !filter) return Traced("IMoniker::BindToObject", FAILED(hr) ? hr : E_NOINTERFACE);
        out = std::make_unique<WinFilter>(std::move(filter));
        return S_OK;
    }

private:
    ComPtr<IMoniker> moniker_;
};

class WinVideoList final : public VideoDeviceList {
public:
    explicit WinVideoList(ComPtr<IEnumMoniker> monikers) : monikers_(std::move(monikers)) {}
    int32_t Next(std::unique_ptr<VideoDevice>& out) override {
        ComPtr<IMoniker> moniker;
        const HRESULT hr = monikers_->Next(1, moniker.GetAddressOf(), nullptr);
        // S_FALSE: no more monikers.
        if (hr != S_OK || !moniker) return FAILED(hr) ? Traced("IEnumMoniker::Next", hr) : S_FALSE;
        out = std::make_unique<WinVideoDevice>(std::move(moniker));
        return S_OK;
    }

private:
    ComPtr<IEnumMoniker> monikers_;
};

}  // namespace

int32_t DirectShowDevices::Open(std::unique_ptr<VideoDeviceList>& out) {
    // Kept initialised for the rest of the thread's life: the interfaces handed out live on.
    CoInitialize(nullptr);
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(devices.GetAddressOf()));
    if (FAILED(hr)) return Traced("CoCreateInstance(SystemDeviceEnum)", hr);
    ComPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    // S_FALSE: the category is empty and no enumerator was made.
    if (hr != S_OK || !monikers) return FAILED(hr) ? Traced("ICreateDevEnum::CreateClassEnumerator", hr) : S_FALSE;
    if (FAILED(hr = monikers->Reset())) return Traced("IEnumMoniker::Reset", hr);
    out = std::make_unique<WinVideoList>(std::move(monikers));
    return S_OK;
}

}  // namespace camlib::win32
