// Win32-only: the library's ports on Windows without a bench.
#include <windows.h>
// After windows.h:
#include <shlwapi.h>

#include "camlib/host_platform.h"
#include "platform/win32/win32_util.h"
#include "camlib/win32/adapters_win32.h"

namespace camlib {
namespace {

class WinSleep final : public SleepPort {
public:
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

class WinAnsiCodePage final : public CodePagePort {
public:
    std::string FromUtf16(const std::u16string& text) override {
        static_assert(sizeof(wchar_t) == sizeof(char16_t));
        return kit::ToAnsi(reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()));
    }
};

// The running program's file name without its folder.
std::string ProgramName() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "?";
    return PathFindFileNameA(path);
}

// setting.ini beside the program that loaded the library. None when the program's path does not
// fit: a bare "setting.ini" would be read from whatever folder the program was started from.
std::string SettingFile() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    PathRemoveFileSpecA(path);
    return std::string(path) + "\\setting.ini";
}

}  // namespace

Platform& HostPlatform() {
    static win32::DirectShowDevices video;
    static win32::SetupApiImaging imaging;
    static win32::HubDriver hubs;
    static WinSleep sleep;
    static WinAnsiCodePage ansi;
    static Platform p{&video,         &imaging, &hubs, &sleep, &kit::SystemTrace(), &kit::SystemProfile(),
                      SettingFile(), &ansi, nullptr, ProgramName()};
    return p;
}

}  // namespace camlib
