// Win32-only: what both vendor-library stand-in DLLs do as they load.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "emu/bench.h"

namespace emu::vendor {

// Reads the bench named by CAMKIT_BENCH and says once on the debugger trace that the library runs
// on it. Without the variable, or when the bench cannot be read, says that instead and returns
// false: the library then has no camera, so nothing is mistaken for real hardware.
bool OpenStandInBench(const char* library, Bench& bench);

// One line on the debugger trace: why the library runs without a camera.
void TraceStandInTrouble(const char* library, const std::string& what);

// Takes names out of the module's export name table, so that GetProcAddress really answers NULL
// for them (error 127), as it would for a library built without them. The remaining names stay
// sorted, so the loader's binary search finds every one of them as before. Only lookups made
// after this call are affected; run it while the DLL attaches, before anyone can look.
bool HideExports(HMODULE module, const std::vector<std::string>& names, std::string& error);

}  // namespace emu::vendor
