// Win32-only: the delay-loaded BurnerApLib.dll, bound through the kit's safe DLL search.
#include "vendor/burnerap_loading.h"

#include <windows.h>
// After windows.h:
#include <delayimp.h>

#include <mutex>

#include "kit/dll_search.h"

namespace vendor {
namespace {

constexpr const char* kDllName = "BurnerApLib.dll";

HMODULE g_module = nullptr;
std::string g_missingEntry;

// What a failed entry-point lookup is bound to, so that the binding below can report it instead
// of the helper raising its exception. Never called: a program that is told EntryMissing makes no
// call. cdecl, the caller clears the stack, so any argument list would return safely.
int MissingEntry() { return 0; }

// The delay-load helper asks before it loads a DLL: BurnerApLib.dll is the module loaded above,
// any other delay-loaded DLL goes through the same safe search. Never the helper's own plain
// LoadLibrary.
FARPROC WINAPI NotifyHook(unsigned notify, PDelayLoadInfo info) {
    if (notify != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    HMODULE module = lstrcmpiA(info->szDll, kDllName) == 0 ? g_module : kit::LoadLibrarySafely(info->szDll);
    return reinterpret_cast<FARPROC>(module);
}

FARPROC WINAPI FailureHook(unsigned notify, PDelayLoadInfo info) {
    if (notify != dliFailGetProc || !info) return nullptr;
    if (g_missingEntry.empty())
        g_missingEntry = info->dlp.fImportByName && info->dlp.szProcName ? info->dlp.szProcName : "(ordinal)";
    // Through void(*)(): the one pointer type a function pointer may be cast from without warning.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&MissingEntry));
}

BurnerApBind Bind() {
    g_module = kit::LoadLibrarySafely(kDllName);
    if (!g_module) return BurnerApBind::Missing;
    __pfnDliNotifyHook2 = &NotifyHook;
    __pfnDliFailureHook2 = &FailureHook;
    // Every entry point the program imports from it, now: a missing one is found here, at start-up.
    const HRESULT all = __HrLoadAllImportsForDll(kDllName);
    if (!g_missingEntry.empty()) return BurnerApBind::EntryMissing;
    return SUCCEEDED(all) ? BurnerApBind::Bound : BurnerApBind::Missing;
}

}  // namespace

BurnerApBind BindBurnerApLib(std::string* missing) {
    static std::once_flag once;
    static BurnerApBind outcome = BurnerApBind::Missing;
    std::call_once(once, [] { outcome = Bind(); });
    if (missing) *missing = g_missingEntry;
    return outcome;
}

}  // namespace vendor
