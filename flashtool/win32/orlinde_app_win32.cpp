// Win32-only: CDUDevodAvozApp, the write tool's application object and entry point. It shows the
// dialog modally and ends when the dialog closes; the tool takes no arguments and its exit code
// means nothing.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <optional>
#include <string>

#include "emu/bench.h"
#include "platform/win32/adapters_win32.h"
#include "platform/win32/dll_search.h"
#include "kit/process.h"
#include "kit/profile.h"
#include "kit/trace.h"
#include "linked_camera.h"
#include "orlinde_dlg_win32.h"
#include "orlinde_ports_win32.h"

namespace {

class CDUDevodAvozApp {
public:
    int InitInstance();
};

int CDUDevodAvozApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{8, 0xFF};
    InitCommonControlsEx(&controls);

    kit::Trace& trace = kit::SystemTrace();
    std::string benchFolder;
    // The camera-access library says once in the trace that it runs on the bench.
    if (std::optional<std::string> folder = emu::BenchFolderFromEnvironment()) benchFolder = *folder;

    orw32::Win32Com com;
    orw32::Win32Workers workers;
    orw32::ImportedBurner sonix;
    orlinde::LinkedQuelmarCamera quelmar;
    kit::SafeLibraries libraries;
    kit::Win32Files files;
    kit::Win32Clock clock;

    // Heap-held and never deleted: a download worker that outlived the closing wait may still be
    // returning from its last library call when the process ends.
    auto* dialog = new orw32::CDUDevodAvozDlg(
        orw32::ShellPorts{com, workers, sonix, quelmar, libraries, kit::SystemProfile(), files,
                          kit::SystemServices(), kit::SystemConsole(), trace, clock},
        benchFolder);
    if (dialog->DoModal(nullptr) == -1)
        kit::TraceF(trace, "Orlinde: the dialog cannot be shown (error %lu)\n", GetLastError());
    // The process ends with ExitProcess: a recording and a bench's replay are closed here.
    camlib::EndSystemRun();
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything is loaded: RvcLib.dll is loaded by its plain name, and the folder the tool was
    // started from must never supply it nor any other DLL (imports: see platform/win32/dll_search.h).
    kit::UseSafeDllSearch();
    static CDUDevodAvozApp app;
    ExitProcess(static_cast<UINT>(app.InitInstance()));
}
