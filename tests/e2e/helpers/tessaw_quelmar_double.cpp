// Win32-only: a test double of QuelmarCamera.dll, for the updater's end-to-end tests of start-up and
// of the checks made before a flow, which must not depend on the camera library. It exports the
// nine names (all but ResetCamera when built with TESSAW_DOUBLE_PARTIAL, for the test of a library
// that lacks one), opens no camera and says so on the debugger trace: every call answers 1.
#include <windows.h>

#define DOUBLE_EXPORT extern "C" __declspec(dllexport)

namespace {

int Refuse(const char* what) {
    char line[96];
    wsprintfA(line, "QuelmarCamera test double: %s refused\n", what);
    OutputDebugStringA(line);
    return 1;
}

}  // namespace

DOUBLE_EXPORT int __cdecl QuelmarCam_Init(int) { return Refuse("QuelmarCam_Init"); }
DOUBLE_EXPORT int __cdecl QuelmarCam_UnInit() { return Refuse("QuelmarCam_UnInit"); }
DOUBLE_EXPORT int __cdecl Get_FlashType(unsigned char*) { return Refuse("Get_FlashType"); }
DOUBLE_EXPORT int __cdecl SetSF_WProtect_OFF(unsigned char) { return Refuse("SetSF_WProtect_OFF"); }
DOUBLE_EXPORT int __cdecl SetSF_WProtect_ON(unsigned char) { return Refuse("SetSF_WProtect_ON"); }
DOUBLE_EXPORT int __cdecl EraseSF(unsigned char) { return Refuse("EraseSF"); }
DOUBLE_EXPORT int __cdecl Download_Sector(unsigned char*, unsigned char, unsigned int, int) {
    return Refuse("Download_Sector");
}
DOUBLE_EXPORT int __cdecl Upload_Sector(unsigned char*, unsigned int, unsigned char) {
    return Refuse("Upload_Sector");
}
#if !defined(TESSAW_DOUBLE_PARTIAL)
DOUBLE_EXPORT int __cdecl ResetCamera() { return Refuse("ResetCamera"); }
#endif
