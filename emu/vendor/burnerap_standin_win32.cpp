// Win32-only: the BurnerApLib.dll stand-in. Every export hands its call to the Sonix model of the
// bench named by CAMKIT_BENCH; without a usable bench the library has no camera.
#include <windows.h>

#include <algorithm>
#include <memory>

#include "emu/vendor/sonix_model.h"
#include "emu/vendor/standin_win32.h"
#include "vendor/BurnerApLib.h"

namespace {

using emu::vendor::SonixLibrary;

constexpr const char* kLibrary = "BurnerApLib.dll";

std::unique_ptr<SonixLibrary> g_library;

SonixLibrary& Library() { return *g_library; }

// Nothing thrown inside may cross the export boundary.
template <class R, class F>
R Guarded(R failure, F&& call) {
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

void Attach() {
    g_library = std::make_unique<SonixLibrary>();
    emu::Bench bench;
    if (!emu::vendor::OpenStandInBench(kLibrary, bench)) return;
    std::unique_ptr<SonixLibrary> library;
    std::string error;
    if (!SonixLibrary::FromBench(bench, library, error)) {
        emu::vendor::TraceStandInTrouble(kLibrary, "bench cannot be used: " + error);
        return;
    }
    g_library = std::move(library);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        try {
            Attach();
        } catch (...) {
            return FALSE;
        }
    }
    return TRUE;
}

extern "C" {

int32_t BURNERAP_CALL Initialize_DriverInterface(void) {
    return Guarded<int32_t>(BURNERAP_NO_DEVICE, [] { return Library().InitializeDriverInterface(); });
}

bool BURNERAP_CALL GetDeviceList(wchar_t (*paths)[BURNERAP_PATH_CHARS], int32_t maxPaths, int32_t pathChars,
                                 int32_t* count) {
    return Guarded(false, [&] {
        if (!paths || !count || maxPaths <= 0 || pathChars <= 0 || pathChars > BURNERAP_PATH_CHARS)
            return false;
        std::vector<std::string> list;
        if (!Library().GetDeviceList(list)) return false;
        int32_t written = 0;
        for (const std::string& path : list) {
            if (written == maxPaths) break;
            size_t n = std::min(path.size(), static_cast<size_t>(pathChars - 1));
            for (size_t i = 0; i < n; ++i)
                paths[written][i] = static_cast<wchar_t>(static_cast<unsigned char>(path[i]));
            paths[written][n] = L'\0';
            ++written;
        }
        *count = written;
        return true;
    });
}

bool BURNERAP_CALL GetRomVersion(char* version) {
    return Guarded(false, [&] { return Library().GetRomVersion(version); });
}

bool BURNERAP_CALL GetSectorTableAddr(uint16_t* address) {
    return Guarded(false, [&] { return Library().GetSectorTableAddr(address); });
}

bool BURNERAP_CALL ProcReadFromASIC(uint16_t address, uint8_t* buffer) {
    return Guarded(false, [&] { return Library().ProcReadFromAsic(address, buffer); });
}

bool BURNERAP_CALL ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) {
    return Guarded(false, [&] { return Library().ReqToDriver(request, address, buffer, length); });
}

bool BURNERAP_CALL SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) {
    return Guarded(false, [&] { return Library().SetWriteProtect(enable, word, byte); });
}

bool BURNERAP_CALL EraseSF(void) {
    return Guarded(false, [] { return Library().EraseSf(); });
}

uint32_t BURNERAP_CALL GetProgress(void) {
    return Guarded<uint32_t>(0, [] { return Library().GetProgress(); });
}

int32_t BURNERAP_CALL ResetDevice(void) {
    return Guarded<int32_t>(0, [] { return Library().ResetDevice(); });
}

}  // extern "C"
