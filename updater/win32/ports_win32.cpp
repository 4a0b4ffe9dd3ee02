// Win32-only: the updater's ports over SetupAPI, the registry, the loader, CreateProcess, the file
// system, the clocks and the thread API.
#include "ports_win32.h"

#include <objbase.h>
#include <process.h>
#include <setupapi.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>

#include "platform/win32/dll_search.h"
#include "kit/trace.h"
#include "vendor/BurnerApLib.h"
#include "vendor/burnerap_loading.h"
#include "platform/win32/handles.h"

namespace tw32 {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE.
const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// The first string of the hardware-ID property; empty when the device has none that can be read.
std::string FirstHardwareId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD needed = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return {};
    // Twice what the system asks for: the property may grow between the two reads.
    std::vector<char> buffer(2 * static_cast<size_t>(needed) + 2, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(buffer.data()), 2 * needed, nullptr))
        return {};
    return std::string(buffer.data());
}

HKEY AsKey(kit::RegistryPort::Key key) { return static_cast<HKEY>(key); }

class FileReader final : public kit::ReadableFile {
public:
    explicit FileReader(kit::FileHandle file) : file_(std::move(file)) {}
    uint64_t Length() override {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_.Get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    uint32_t Read(void* out, uint32_t size) override {
        uint32_t total = 0;
        while (total < size) {
            DWORD got = 0;
            if (!ReadFile(file_.Get(), static_cast<char*>(out) + total, size - total, &got, nullptr) ||
                got == 0)
                break;
            total += got;
        }
        return total;
    }

private:
    kit::FileHandle file_;
};

class FileWriter final : public kit::WritableFile {
public:
    explicit FileWriter(kit::FileHandle file) : file_(std::move(file)) {}
    bool Write(const void* data, size_t size) override {
        const char* at = static_cast<const char*>(data);
        while (size > 0) {
            DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size), done = 0;
            if (!WriteFile(file_.Get(), at, chunk, &done, nullptr) || done == 0) return false;
            at += done;
            size -= done;
        }
        return true;
    }
    bool Flush() override { return FlushFileBuffers(file_.Get()) != FALSE; }

private:
    kit::FileHandle file_;
};

unsigned __stdcall RunBody(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    // The Realtek flow builds a DirectShow graph on this thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (*body)();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

// The result WinExec would give for a CreateProcess error.
uint32_t WinExecCode(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return 2;
        case ERROR_PATH_NOT_FOUND:
            return 3;
        case ERROR_ACCESS_DENIED:
            return 5;
        case ERROR_BAD_FORMAT:
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
            return 11;
        default:
            return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool SetupApiUsbDevices::ListPresent(std::vector<kit::UsbDevice>& out) {
    out.clear();
    kit::DevInfoList set(
        SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) return false;
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set.Get(), i, &device)) break;  // ERROR_NO_MORE_ITEMS ends the list
        out.push_back({FirstHardwareId(set.Get(), device)});
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

bool Win32Registry::OpenLocalMachine(const char* path, Key& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    out = key;
    return true;
}

bool Win32Registry::OpenSubKey(Key parent, const char* name, Key& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(AsKey(parent), name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    out = key;
    return true;
}

bool Win32Registry::SubKeyName(Key key, uint32_t index, uint32_t maxChars, std::string& name) {
    std::vector<char> buffer(maxChars + 1, '\0');
    DWORD length = maxChars;
    if (RegEnumKeyExA(AsKey(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return false;
    name.assign(buffer.data(), length);
    return true;
}

bool Win32Registry::ReadString(Key key, const char* value, uint32_t maxBytes, std::string& out) {
    std::vector<char> buffer(maxBytes + 1, '\0');
    DWORD type = 0, size = maxBytes;
    if (RegQueryValueExA(AsKey(key), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // A value stored without its terminator arrives without one.
    out.assign(buffer.data(), size);
    out.resize(std::string(out.c_str()).size());
    return true;
}

void Win32Registry::Close(Key key) {
    if (key) RegCloseKey(AsKey(key));
}

// ---------------------------------------------------------------------------------------------

void* SafeLibraries::LoadByPath(const char* fullPath) { return kit::LoadLibraryFromPath(fullPath); }

// The program's folder and the system folders only: never a DLL planted in whatever folder the
// program was started from, nor one on PATH.
void* SafeLibraries::LoadByName(const char* name) { return kit::LoadLibrarySafely(name); }

kit::EntryPoint SafeLibraries::Find(void* module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<kit::EntryPoint>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void SafeLibraries::Free(void* module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

// ---------------------------------------------------------------------------------------------

uint32_t HiddenStart::StartHidden(const char* path) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started;
    ZeroMemory(&started, sizeof started);
    std::string quoted = std::string("\"") + path + "\"";
    std::vector<char> commandLine(quoted.begin(), quoted.end());
    commandLine.push_back('\0');
    if (!CreateProcessA(path, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started)) {
        DWORD error = GetLastError();
        kit::TraceF(kit::SystemTrace(), "%s cannot be started (error %lu)\n", path, error);
        return WinExecCode(error);
    }
    kit::KernelHandle process(started.hProcess), thread(started.hThread);
    return kit::kStartedAtLeast + 1;
}

// ---------------------------------------------------------------------------------------------

bool Win32Files::FileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> Win32Files::Matches(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    kit::FindHandle search(FindFirstFileA(pattern, &found));
    if (!search) return names;
    do {
        names.emplace_back(found.cFileName);
    } while (FindNextFileA(search.Get(), &found));
    return names;
}

bool Win32Files::Status(const char* path, uint64_t& size) {
    struct _stat64 status;
    if (_stat64(path, &status) != 0) return false;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}

std::unique_ptr<kit::ReadableFile> Win32Files::OpenRead(const char* path) {
    kit::FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<FileReader>(std::move(file));
}

std::unique_ptr<kit::WritableFile> Win32Files::OpenAppend(const char* path) {
    kit::FileHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(file.Get(), zero, nullptr, FILE_END)) return nullptr;
    return std::make_unique<FileWriter>(std::move(file));
}

std::unique_ptr<kit::WritableFile> Win32Files::Create(const char* path) {
    kit::FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<FileWriter>(std::move(file));
}

bool Win32Files::Delete(const char* path) { return DeleteFileA(path) != FALSE; }

std::string Win32Files::TempFolder(uint32_t maxChars) {
    std::vector<char> buffer(maxChars + 1, '\0');
    DWORD n = GetTempPathA(maxChars, buffer.data());
    if (n == 0 || n >= maxChars) return {};
    return std::string(buffer.data(), n);
}

// ---------------------------------------------------------------------------------------------

uint32_t Win32Clock::ProcessMilliseconds() {
    // The C runtime's clock() counts milliseconds (CLOCKS_PER_SEC is 1000).
    return static_cast<uint32_t>(std::clock() * (1000 / CLOCKS_PER_SEC));
}

kit::LocalTime Win32Clock::Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek};
}

// ---------------------------------------------------------------------------------------------

bool BelowNormalThreads::StartBelowNormal(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    // _beginthreadex rather than CreateThread: the body uses the C runtime.
    kit::KernelHandle thread(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, RunBody, owned.get(), CREATE_SUSPENDED, nullptr)));
    if (!thread) return false;
    // A thread that keeps normal priority still updates correctly; nothing to refuse over.
    SetThreadPriority(thread.Get(), THREAD_PRIORITY_BELOW_NORMAL);
    if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        // It never ran: the body is still ours to free.
        TerminateThread(thread.Get(), 1);
        return false;
    }
    owned.release();
    return true;
}

// ---------------------------------------------------------------------------------------------

bool ImportedSonixLibrary::Bind(std::string& missingEntry) {
    return vendor::BindBurnerApLib(&missingEntry) == vendor::BurnerApBind::Bound;
}

int ImportedSonixLibrary::InitializeDriverInterface() { return Initialize_DriverInterface(); }

bool ImportedSonixLibrary::GetRomVersion(char* version16) { return ::GetRomVersion(version16); }

bool ImportedSonixLibrary::ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) {
    return ::ReqToDriver(request, address, buffer, length);
}

bool ImportedSonixLibrary::SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) {
    return ::SetWriteProtect(enable, word, byte);
}

bool ImportedSonixLibrary::EraseSF() { return ::EraseSF(); }

int ImportedSonixLibrary::ResetDevice() { return ::ResetDevice(); }

kit::PowerStatus Win32Power::Read() {
    // ACLineStatus: 0 offline, 1 online, 255 unknown. BatteryFlag is a mask whose bit 128 means
    // no system battery (255, all bits, is unknown). BatteryLifePercent 255: unknown.
    SYSTEM_POWER_STATUS power{};
    kit::PowerStatus out;
    if (!GetSystemPowerStatus(&power)) return out;
    if (power.ACLineStatus == 1) {
        out.source = kit::PowerSource::Mains;
    } else if (power.ACLineStatus == 0 && !(power.BatteryFlag & 128)) {
        out.source = kit::PowerSource::Battery;
        if (power.BatteryLifePercent <= 100) out.percent = power.BatteryLifePercent;
    }
    return out;
}

}  // namespace tw32
