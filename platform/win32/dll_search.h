// Win32-only: where the kit's programs take DLLs from. Nothing the kit loads may come from the
// folder a program was started from or from a folder on PATH: either may be writable by someone
// other than whoever installed the kit, and a DLL planted there would run inside the updater with
// the camera open.
#pragma once

#include <windows.h>

#include <string>

namespace kit {

// Takes the current directory and PATH out of the search for every DLL loaded from here on, by
// any code of the process (system DLLs loading their helpers included): only the program's own
// folder and the system folders remain. Call it first in every entry point.
//
// The DLLs a program imports (BurnerApLib.dll for Tessaw and Orlinde) are resolved by the loader
// before the entry point runs, so this cannot cover them: they are searched in the program's folder
// first, then the system folders, and only then the current directory. A kit folder that holds its
// BurnerApLib.dll is safe; one that lacks it would take a planted copy from the current directory.
//
// SetDefaultDllDirectories is looked up at run time: a Windows 7 without its loader update lacks
// it, and a static import would keep the program from starting there at all. SetDllDirectory("")
// alone still takes the current directory out on such a system.
void UseSafeDllSearch();

// "<folder of the running program>\<name>"; empty when the program's path cannot be read.
std::string ProgramFolderFile(const char* name);

// A DLL by its plain name from the program's folder or the system folders only; where the system
// has no search flags, from the program's folder by full path. nullptr on failure (GetLastError).
HMODULE LoadLibrarySafely(const char* name);

// A DLL by full path; its own imports are searched in its folder first, then the program's and the
// system folders. A relative path is refused (ERROR_INVALID_PARAMETER): it would be resolved
// against the current directory.
HMODULE LoadLibraryFromPath(const char* fullPath);

// A DLL of the system folder (System32), by full path where the search flags are missing.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace kit
