// Win32-only: Kestrim's entry point. With CAMKIT_BENCH set the cameras come from that emulated
// bench; otherwise from DirectShow.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <string>

#include "emu/bench.h"
#include "emu/bench_devices.h"
#include "kestrim.h"
#include "platform/win32/dll_search.h"
#include "kit/trace.h"
#include "platform/win32/video_input_directshow.h"

int main(int argc, char** argv) {
    // DirectShow loads its filters and their DLLs: never from the current folder.
    kit::UseSafeDllSearch();
    kit::ConsolePort& console = kit::SystemConsole();
    emu::Bench bench;
    std::unique_ptr<kit::VideoInputPort> devices;
    if (std::optional<std::string> folder = emu::BenchFolderFromEnvironment()) {
        emu::TraceBenchInUse(kit::SystemTrace(), *folder);
        std::string error;
        if (emu::LoadBench(*folder, bench, error)) {
            // As the system lists the cameras now: a cut or dead one not at all, one in ROM mode
            // by its ROM's identity.
            devices = std::make_unique<emu::PresentVideoInput>(bench);
        } else {
            // Standard error, so that the matcher's own output stays as its users parse it.
            std::string line = "Emulated bench cannot be used: " + error + "\n";
            std::fputs(line.c_str(), stderr);
            kit::TraceF(kit::SystemTrace(), "%s", line.c_str());
            devices = std::make_unique<emu::FailedVideoInput>();
        }
    } else {
        devices = std::make_unique<kit::DirectShowVideoInput>();
    }
    HRESULT com = CoInitialize(nullptr);
    kit::TraceHresult(kit::SystemTrace(), "CoInitialize", com);
    kestrim::StdioFiles files;
    kestrim::Ports ports{*devices, kit::SystemProcesses(), console, files};
    int code = kestrim::Run(argc, argv, ports);
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
