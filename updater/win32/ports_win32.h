// Win32-only: the updater's ports over the real Windows calls. Each adapter translates, calls and
// maps errors; the behaviour lives in the portable session.
#pragma once

#include <windows.h>

#include "flash_flow.h"
#include "kit/driver_registry.h"
#include "kit/file_system.h"
#include "kit/hidden_start.h"
#include "kit/library_loader.h"
#include "kit/power.h"
#include "kit/usb_devices.h"
#include "kit/wall_clock.h"
#include "kit/worker_thread.h"

namespace tw32 {

// Present devices of the USB device interface class, with their first hardware ID (SetupAPI).
class SetupApiUsbDevices final : public kit::UsbDevicePort {
public:
    bool ListPresent(std::vector<kit::UsbDevice>& out) override;
};

// HKEY_LOCAL_MACHINE, read only.
class Win32Registry final : public kit::RegistryPort {
public:
    bool OpenLocalMachine(const char* path, Key& out) override;
    bool OpenSubKey(Key parent, const char* name, Key& out) override;
    bool SubKeyName(Key key, uint32_t index, uint32_t maxChars, std::string& name) override;
    bool ReadString(Key key, const char* value, uint32_t maxBytes, std::string& out) override;
    void Close(Key key) override;
};

// DLLs from the program's folder, the system folders or a full path only (platform/win32/dll_search.h).
class SafeLibraries final : public kit::LibraryPort {
public:
    void* LoadByPath(const char* fullPath) override;
    void* LoadByName(const char* name) override;
    kit::EntryPoint Find(void* module, const char* name) override;
    void Free(void* module) override;
};

// CreateProcess with the window hidden; the handles are closed at once (nobody waits).
class HiddenStart final : public kit::ProgramStartPort {
public:
    uint32_t StartHidden(const char* path) override;
};

class Win32Files final : public kit::FileSystemPort {
public:
    bool FileExists(const char* path) override;
    std::vector<std::string> Matches(const char* pattern) override;
    bool Status(const char* path, uint64_t& size) override;
    std::unique_ptr<kit::ReadableFile> OpenRead(const char* path) override;
    std::unique_ptr<kit::WritableFile> OpenAppend(const char* path) override;
    std::unique_ptr<kit::WritableFile> Create(const char* path) override;
    bool Delete(const char* path) override;
    std::string TempFolder(uint32_t maxChars) override;
};

class Win32Clock final : public kit::ClockPort {
public:
    uint32_t ProcessMilliseconds() override;
    kit::LocalTime Now() override;
};

// GetSystemPowerStatus: mains, battery (with its charge when the system knows it), or unknown
// when the system has no battery or cannot tell.
class Win32Power final : public kit::PowerPort {
public:
    kit::PowerStatus Read() override;
};

// A detached thread at below-normal priority with COM (multithreaded) for its whole body.
class BelowNormalThreads final : public kit::ThreadPort {
public:
    bool StartBelowNormal(std::function<void()> body) override;
};

// The imported (delay-loaded) BurnerApLib.dll, as the update driver and the Sonix flow call it.
class ImportedSonixLibrary final : public tessaw::SonixLibraryPort {
public:
    bool Bind(std::string& missingEntry) override;
    int InitializeDriverInterface() override;
    bool GetRomVersion(char* version16) override;
    bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) override;
    bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) override;
    bool EraseSF() override;
    int ResetDevice() override;
};

}  // namespace tw32
