// Win32-only: CUpdateApp, the updater Tessaw's application object and entry point. Interactive
// mode shows the dialog and runs until the user closes it; silent mode ("-s") keeps it hidden,
// clicks FLASH itself and runs until the session closes the dialog. Either way the process ends
// with the session's exit code, unless the still-capture graph asked the program to quit (a
// camera without a 640x480 format): then with the code of that request, once no update runs.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <objbase.h>

#include <optional>

#include "platform/win32/adapters_win32.h"
#include "platform/win32/dll_search.h"
#include "kit/process.h"
#include "kit/profile.h"
#include "kit/trace.h"
#include "hardware_win32.h"
#include "ports_win32.h"
#include "resource.h"
#include "still_cap_win32.h"
#include "update_dlg_win32.h"

namespace {

class CUpdateApp {
public:
    // Runs the application and ends the process with its exit code.
    [[noreturn]] void InitInstance(const char* commandLine);

private:
    // Until the dialog is gone, or until a quit request; returns the request's code. A request
    // that comes while an update runs is honoured when the run is over: a camera is never left
    // half-written.
    static std::optional<int> RunMessageLoop(tw32::CUpdateDlg& dialog);

    kit::Module richEdit_;
};

std::optional<int> CUpdateApp::RunMessageLoop(tw32::CUpdateDlg& dialog) {
    // How often a pending quit looks whether the update has ended.
    constexpr DWORD kQuitPollMs = 100;
    std::optional<int> quit;
    MSG message;
    while (dialog.Handle()) {
        if (quit) {
            if (!dialog.Session().Flashing()) break;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, kQuitPollMs, QS_ALLINPUT);
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) || message.message == WM_QUIT) continue;
        } else {
            BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == -1) break;
            if (got == 0) {
                quit = static_cast<int>(message.wParam);
                continue;
            }
        }
        if (dialog.PreTranslateMessage(message)) continue;
        HWND window = dialog.Handle();
        if (window && IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return quit;
}

void CUpdateApp::InitInstance(const char* commandLine) {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The log view is a RichEdit20A control; the class lives in this DLL, kept for the whole run.
    richEdit_.Reset(kit::LoadSystemLibrary(L"riched20.dll"));

    kit::Trace& trace = kit::SystemTrace();
    kit::Win32Files files;
    kit::Win32Clock clock;
    kit::HiddenStart programs;
    stillcap::Win32StillCapHost stillHost(GetCurrentThreadId());
    tw32::HardwarePorts hardware = tw32::ChooseHardware(trace, stillHost);
    kit::Win32Registry registry;
    kit::SafeLibraries libraries;
    tw32::BelowNormalThreads threads;
    tw32::ImportedSonixLibrary sonix;
    tw32::UpdaterPorts ports{trace,
                             kit::SystemProfile(),
                             kit::SystemServices(),
                             files,
                             clock,
                             programs,
                             *hardware.usb,
                             *hardware.stillCapture,
                             registry,
                             libraries,
                             threads,
                             sonix};

    // Heap-held and never deleted: the process ends below with the update worker possibly still
    // returning from its last call into the dialog.
    auto* dialog = new tw32::CUpdateDlg(commandLine, ports, hardware.benchUsb, com);
    tessaw::UpdateSession& session = dialog->Session();
    session.SetLogNotice(hardware.notice);
    session.SetPowerPort(hardware.power.get());
    const bool silent = session.Silent();
    stillHost.SetSilent(silent);

    HWND window = dialog->Create(nullptr, !silent);
    if (!window && !session.Closed()) {
        // Start-up never ran: the template could not be used or no window can be made here.
        kit::TraceF(trace, "Tessaw: the dialog cannot be created (error %lu)\n", GetLastError());
        ExitProcess(tessaw::kExitNoDialog);
    }
    // A quit asked for during start-up (the still-capture probe's) comes before any update.
    if (window && silent && session.Ready() && !stillHost.QuitRequested())
        PostMessageW(GetDlgItem(window, IDC_FLASH), BM_CLICK, 0, 0);
    if (std::optional<int> quit = RunMessageLoop(*dialog)) {
        // The closing steps run as for any other end of the dialog.
        dialog->Destroy();
        ExitProcess(static_cast<UINT>(*quit));
    }
    ExitProcess(static_cast<UINT>(session.ExitCode()));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // Before anything is loaded: QuelmarCamera.dll is loaded by name, and the folder the program
    // was started from must never supply it nor any other DLL (imports: see platform/win32/dll_search.h).
    kit::UseSafeDllSearch();
    static CUpdateApp app;
    app.InitInstance(commandLine ? commandLine : "");
}
