// Win32-only: the sample grabber. Its interfaces ISampleGrabber and ISampleGrabberCB
// {0579154A-2B53-4994-B0D0-E773148EFF85} come from the toolchain's qedit.h; its class ID is not
// declared there.
#pragma once

#include <windows.h>
// After windows.h:
#include <dshow.h>
#include <qedit.h>

namespace stillcap {

// {C1F400A0-3F08-11D3-9F0B-006008039E37}
inline constexpr CLSID kClsidSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

}  // namespace stillcap
