// Win32-only: releasing DirectShow media types, whose blocks their owners hand over in CoTaskMem.
#pragma once

#include <windows.h>
// After windows.h:
#include <dshow.h>

namespace kit {

// Frees a media type's format block and interface, leaving the type itself.
inline void FreeMediaType(AM_MEDIA_TYPE& type) {
    if (type.cbFormat != 0 && type.pbFormat) CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    if (type.pUnk) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

// Frees a media type that was itself allocated with CoTaskMemAlloc; null is ignored.
inline void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

}  // namespace kit
