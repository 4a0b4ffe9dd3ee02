// Win32-only: the chip maker's private driver interface, as its camera filter exposes it.
//
// Only its identity and two calls are known: after IUnknown and one further method, the fifth
// method reads a property into a buffer and the sixth writes one from a buffer. The kit uses
// property 35, whose buffers hold the extension-unit request and reply records (4096 bytes).
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace kit {

// {755742BA-C3AD-450A-BF7B-8E4F9D20A830}
inline constexpr GUID IID_ICustomCameraProp = {
    0x755742BA, 0xC3AD, 0x450A, {0xBF, 0x7B, 0x8E, 0x4F, 0x9D, 0x20, 0xA8, 0x30}};

inline constexpr ULONG kCustomPropertyXu = 35;
inline constexpr size_t kCustomPropertyBufferBytes = 4096;

struct ICustomCameraProp : public IUnknown {
    // Not used by the kit; its meaning belongs to the driver.
    virtual HRESULT STDMETHODCALLTYPE GetDriverInfo(ULONG* info) = 0;
    // Copies property `id` into `buffer` (a reply record for property 35).
    virtual HRESULT STDMETHODCALLTYPE GetProperty(ULONG id, BYTE* buffer) = 0;
    // Hands the record in `buffer` to property `id` (a request record for property 35).
    virtual HRESULT STDMETHODCALLTYPE SetProperty(ULONG id, BYTE* buffer) = 0;
};

}  // namespace kit
