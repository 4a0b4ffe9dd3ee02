// Win32-only: video-input devices through the DirectShow system device enumerator.
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <string>

#include "platform/win32/video_input_directshow.h"
#include "kit/trace.h"
#include "platform/win32/win32_util.h"

namespace kit {
namespace {

using Microsoft::WRL::ComPtr;

using kit::ScopedVariant;

// Device paths are read in the thread's ANSI code page.
std::string ToAnsi(const wchar_t* text) { return kit::ToAnsi(text, -1, CP_THREAD_ACP); }

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
    if (FAILED(hr)) {
        TraceHresult(SystemTrace(), "CoCreateInstance(SystemDeviceEnum)", hr);
        return hr;
    }
    ComPtr<IEnumMoniker> monikers;
    hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    // S_FALSE: the category is empty and no enumerator was made.
    if (FAILED(hr)) TraceHresult(SystemTrace(), "ICreateDevEnum::CreateClassEnumerator", hr);
    if (hr != S_OK || !monikers) return FAILED(hr) ? hr : kS_FALSE;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        VideoInputDevice dev;
        ComPtr<IPropertyBag> bag;
        hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf()));
        TraceHresult(SystemTrace(), "IMoniker::BindToStorage", hr);
        if (SUCCEEDED(hr)) {
            dev.hasPath = ReadBagString(bag.Get(), L"DevicePath", dev.devicePath);
            ReadBagString(bag.Get(), L"FriendlyName", dev.friendlyName);
        }
        out.push_back(std::move(dev));
    }
    return kS_OK;
}

}  // namespace kit
