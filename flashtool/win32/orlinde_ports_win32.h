// Win32-only: the write tool's own ports over the real calls (COM on the dialog's thread, download
// threads, the imported burner library). The dialog port is the dialog itself (dialog_win32.h).
#pragma once

#include <windows.h>

#include "flashtool/core/ports.h"

namespace orw32 {

// CoInitialize / CoUninitialize on the calling (dialog) thread, as the tool pairs them.
class Win32Com final : public orlinde::ComPort {
public:
    void Initialize() override;
    void Uninitialize() override;
};

// CreateThread with default attributes. Wait keeps answering messages sent to the dialog's thread
// while it waits: a finishing worker may be inside a SendMessage to the dialog (a log refresh),
// and a plain wait would hold both threads until the time ran out.
class Win32Workers final : public orlinde::WorkerThreadPort {
public:
    uintptr_t Start(std::function<void()> body) override;
    bool Wait(uintptr_t thread, uint32_t milliseconds) override;
};

// BurnerApLib.dll through its import library.
class ImportedBurner final : public orlinde::SonixBurnerPort {
public:
    bool Bind(std::string& missingEntry) override;
    int32_t InitializeDriverInterface() override;
    bool GetDeviceList(char16_t (*paths)[kPathChars], int32_t maxPaths, int32_t pathChars,
                       int32_t* count) override;
    bool GetRomVersion(char* version8) override;
    bool GetSectorTableAddr(uint16_t* address) override;
    bool ProcReadFromAsic(uint16_t address, uint8_t* buffer) override;
    bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) override;
    bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) override;
    bool EraseSf() override;
    uint32_t GetProgress() override;
    int32_t ResetDevice() override;
};

}  // namespace orw32
