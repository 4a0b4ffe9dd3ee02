// Win32-only: Tessac's entry point, wiring the core to the real ports.
#include "platform/win32/dll_search.h"
#include "kit/process.h"
#include "tessac.h"

int main(int argc, char** argv) {
    // Loads nothing itself; the system DLLs it uses must not find helpers in the current folder.
    kit::UseSafeDllSearch();
    tessac::Ports ports{kit::SystemServices(), kit::SystemProcesses(), kit::SystemConsole()};
    return tessac::Run(argc, argv, ports);
}
