// A decoy of a DLL the kit loads, for the end-to-end tests of safe loading: put under the real
// DLL's name in a folder the kit must never take DLLs from. When loaded it leaves a mark file
// beside itself, "<its own path>.loaded", naming the program that loaded it, and says so in the
// debugger trace; every export (the real DLL's names, all bound to one function) fails loudly.
#include <windows.h>

#include <cstring>
#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char own[4096] = {}, program[4096] = {};
    DWORD n = GetModuleFileNameA(self, own, sizeof own);
    if (n == 0 || n >= sizeof own) return TRUE;
    GetModuleFileNameA(nullptr, program, sizeof program - 1);
    std::string mark = std::string(own) + ".loaded";
    HANDLE file = CreateFileA(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, program, static_cast<DWORD>(strlen(program)), &written, nullptr);
        CloseHandle(file);
    }
    OutputDebugStringA((std::string("decoy loaded: ") + own + "\n").c_str());
    return TRUE;
}

// cdecl, the caller clears the stack: any argument list of the real exports lands here safely.
extern "C" __declspec(noinline) int DecoyEntry() {
    OutputDebugStringA("decoy entry point called\n");
    return -1;
}
