// Win32-only: safe DLL search for the kit's programs (see kit/dll_search.h).
#include "platform/win32/dll_search.h"

#include <shlwapi.h>

#include <vector>

namespace kit {
namespace {

// A system without the LOAD_LIBRARY_SEARCH_* flags refuses them with this error.
bool FlagsUnsupported(HMODULE module) { return !module && GetLastError() == ERROR_INVALID_PARAMETER; }

}  // namespace

void UseSafeDllSearch() {
    SetDllDirectoryW(L"");
    using SetDefaultFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    // Through void(*)(): the one pointer type a function pointer may be cast from without warning.
    if (found)
        reinterpret_cast<SetDefaultFn>(reinterpret_cast<void (*)()>(found))(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

std::string ProgramFolderFile(const char* name) {
    // Long paths: grow the buffer until the whole path fits rather than cut it.
    for (DWORD size = MAX_PATH;; size *= 2) {
        std::vector<char> path(size, '\0');
        DWORD n = GetModuleFileNameA(nullptr, path.data(), size);
        if (n == 0) return {};
        if (n < size) {
            std::string folder(path.data(), n);
            size_t slash = folder.find_last_of("\\/");
            if (slash == std::string::npos) return {};
            return folder.substr(0, slash + 1) + name;
        }
        if (size >= 32768) return {};
    }
}

HMODULE LoadLibrarySafely(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (FlagsUnsupported(module)) {
        std::string path = ProgramFolderFile(name);
        if (path.empty()) return nullptr;
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

HMODULE LoadLibraryFromPath(const char* fullPath) {
    if (!fullPath || PathIsRelativeA(fullPath)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HMODULE module =
        LoadLibraryExA(fullPath, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (FlagsUnsupported(module)) module = LoadLibraryExA(fullPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (FlagsUnsupported(module)) {
        wchar_t folder[MAX_PATH] = {};
        UINT n = GetSystemDirectoryW(folder, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return nullptr;
        std::wstring path = std::wstring(folder, n) + L"\\" + name;
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

}  // namespace kit
