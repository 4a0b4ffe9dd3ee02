// Win32-only: the updater's own ports over the real Windows calls (the generic ones are in
// platform/win32/adapters_win32.h). Each adapter translates, calls and maps errors; the behaviour
// lives in the portable session.
#pragma once

#include <windows.h>

#include "updater/core/ports.h"

namespace tw32 {

// Present devices of the USB device interface class, with their first hardware ID (SetupAPI).
class SetupApiUsbDevices final : public kit::UsbDevicePort {
public:
    bool ListPresent(std::vector<kit::UsbDevice>& out) override;
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
