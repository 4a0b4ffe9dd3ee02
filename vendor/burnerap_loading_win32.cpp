// Win32-only: the delay-loaded BurnerApLib.dll, bound through the kit's safe DLL search.
#include "vendor/burnerap_loading.h"

#include <windows.h>
// After windows.h:
#include <delayimp.h>

#include <cstdint>
#include <mutex>

#include "platform/win32/dll_search.h"

// The program's delay-import descriptor of BurnerApLib.dll, made by dlltool from the .def and named
// after the delay-import library's file name (vendor/CMakeLists.txt). GNU ld does not enter it in
// the image's data directory, so the helper's own "load all imports" cannot find it: it is bound
// entry by entry through it instead.
extern "C" const ImgDelayDescr g_burnerApDescriptor __asm__("__DELAY_IMPORT_DESCRIPTOR_libBurnerApLib_delay_a");
extern "C" IMAGE_DOS_HEADER __ImageBase;
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* iatEntry);

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
    // Every entry point the program imports from it, now: a missing one is found here, at start-up,
    // not at its first call.
    const ImgDelayDescr& descriptor = g_burnerApDescriptor;
    if (!(descriptor.grAttrs & dlattrRva)) return BurnerApBind::Missing;
    auto* base = reinterpret_cast<uint8_t*>(&__ImageBase);
    auto* iat = reinterpret_cast<FARPROC*>(base + descriptor.rvaIAT);
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor.rvaINT);
    for (size_t i = 0; names[i].u1.AddressOfData != 0; ++i) __delayLoadHelper2(&descriptor, &iat[i]);
    return g_missingEntry.empty() ? BurnerApBind::Bound : BurnerApBind::EntryMissing;
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
