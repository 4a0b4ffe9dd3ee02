// Win32-only: the kit's one process starter, under the launchers' process port and the updater's
// hidden start.
#pragma once

#include <windows.h>

namespace kit {

enum class StartWindow { Default, Hidden };

// CreateProcessA with no handle inheritance, the parent's environment and current directory.
// `application` may be null (the program is then taken from `commandLine`, which CreateProcessA may
// write to). Hidden: the window is hidden (SW_HIDE) and no console is made (CREATE_NO_WINDOW).
// The caller owns both handles of `started`. false on failure, with GetLastError's value in `error`.
bool StartProcess(const char* application, char* commandLine, StartWindow window, PROCESS_INFORMATION& started,
                  DWORD& error);

}  // namespace kit
