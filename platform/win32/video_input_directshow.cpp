// Win32-only: video-input devices through the DirectShow system device enumerator.
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <string>

#include "kit/video_input_directshow.h"

namespace kit {
namespace {

using Microsoft::WRL::ComPtr;

// VARIANT that is always cleared, whatever path leaves the scope.
struct ScopedVariant {
    VARIANT v;
    ScopedVariant() { VariantInit(&v); }
    ~ScopedVariant() { VariantClear(&v); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
};

std::string ToAnsi(const wchar_t* text) {
    if (!text) return {};
    int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
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

}  // namespace

int32_t DirectShowVideoInput::Enumerate(std::vector<VideoInputDevice>& out) {
    out.clear();
    ComPtr<ICreateDevEnum> devEnum;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICreateDevEnum, reinterpret_cast<void**>(devEnum.GetAddressOf()));
    if (FAILED(hr)) return hr;
    ComPtr<IEnumMoniker> monikers;
    hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    // S_FALSE: the category is empty and no enumerator was made.
    if (hr != S_OK || !monikers) return FAILED(hr) ? hr : kS_FALSE;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        VideoInputDevice dev;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(bag.GetAddressOf())))) {
            dev.hasPath = ReadBagString(bag.Get(), L"DevicePath", dev.devicePath);
            ReadBagString(bag.Get(), L"FriendlyName", dev.friendlyName);
        }
        out.push_back(std::move(dev));
    }
    return kS_OK;
}

}  // namespace kit
