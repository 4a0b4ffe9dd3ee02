// Win32-only: the entry point of QuelmarCamera.dll. The exports live in quelmar_camera.cpp.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    // No per-thread state: spare the loader the thread notifications.
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
