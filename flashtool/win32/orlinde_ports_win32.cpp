// Win32-only: COM, download threads and the imported burner library of the write tool.
#include "orlinde_ports_win32.h"

#include <objbase.h>

#include <memory>
#include <type_traits>

#include "vendor/BurnerApLib.h"
#include "vendor/burnerap_loading.h"

namespace orw32 {

void Win32Com::Initialize() { CoInitialize(nullptr); }

void Win32Com::Uninitialize() { CoUninitialize(); }

namespace {

DWORD WINAPI RunBody(LPVOID parameter) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

}  // namespace

uintptr_t Win32Workers::Start(std::function<void()> body) {
    auto* owned = new std::function<void()>(std::move(body));
    HANDLE thread = CreateThread(nullptr, 0, RunBody, owned, 0, nullptr);
    if (!thread) {
        delete owned;
        return 0;
    }
    return reinterpret_cast<uintptr_t>(thread);
}

bool Win32Workers::Wait(uintptr_t token, uint32_t milliseconds) {
    if (!token) return true;
    HANDLE thread = reinterpret_cast<HANDLE>(token);
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) break;
        if (woke != WAIT_OBJECT_0 + 1) return false;  // time is up (or the wait failed)
        // Delivers the messages other threads sent to this one; posted ones stay queued.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(thread);
    return true;
}

// The library's wide characters are the port's 16-bit ones on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(orlinde::SonixBurnerPort::kPathChars == BURNERAP_PATH_CHARS);

bool ImportedBurner::Bind(std::string& missingEntry) {
    return vendor::BindBurnerApLib(&missingEntry) == vendor::BurnerApBind::Bound;
}

int32_t ImportedBurner::InitializeDriverInterface() { return ::Initialize_DriverInterface(); }

bool ImportedBurner::GetDeviceList(char16_t (*paths)[kPathChars], int32_t maxPaths, int32_t pathChars,
                                   int32_t* count) {
    return ::GetDeviceList(reinterpret_cast<wchar_t(*)[BURNERAP_PATH_CHARS]>(paths), maxPaths, pathChars,
                           count);
}

bool ImportedBurner::GetRomVersion(char* version8) { return ::GetRomVersion(version8); }

bool ImportedBurner::GetSectorTableAddr(uint16_t* address) { return ::GetSectorTableAddr(address); }

bool ImportedBurner::ProcReadFromAsic(uint16_t address, uint8_t* buffer) {
    return ::ProcReadFromASIC(address, buffer);
}

bool ImportedBurner::ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) {
    return ::ReqToDriver(request, address, buffer, length);
}

bool ImportedBurner::SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) {
    return ::SetWriteProtect(enable, word, byte);
}

bool ImportedBurner::EraseSf() { return ::EraseSF(); }

uint32_t ImportedBurner::GetProgress() { return ::GetProgress(); }

int32_t ImportedBurner::ResetDevice() { return ::ResetDevice(); }

}  // namespace orw32
