// Win32-only: CUpdateApp, the updater Tessaw's application object and entry point. Interactive
// mode shows the dialog and runs until the user closes it; silent mode ("-s") keeps it hidden,
// clicks FLASH itself and runs until the session closes the dialog. Either way the process ends
// with the session's exit code.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <optional>
#include <string>

#include "emu/bench.h"
#include "emulated_usb.h"
#include "kit/process.h"
#include "kit/profile.h"
#include "kit/trace.h"
#include "ports_win32.h"
#include "resource.h"
#include "update_dlg_win32.h"

namespace {

class CUpdateApp {
public:
    // Runs the application and ends the process with its exit code.
    [[noreturn]] void InitInstance(const char* commandLine);

private:
    static void RunMessageLoop(tw32::CUpdateDlg& dialog);

    tw32::Module richEdit_;
};

void CUpdateApp::RunMessageLoop(tw32::CUpdateDlg& dialog) {
    MSG message;
    while (dialog.Handle()) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (dialog.PreTranslateMessage(message)) continue;
        HWND window = dialog.Handle();
        if (window && IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void CUpdateApp::InitInstance(const char* commandLine) {
    // QuelmarCamera.dll is loaded by name: the folder the program was started from must never
    // supply it (nor any other DLL loaded by name).
    SetDllDirectoryA("");

    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The log view is a RichEdit20A control; the class lives in this DLL, kept for the whole run.
    richEdit_.Reset(LoadLibraryExW(L"riched20.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!richEdit_) richEdit_.Reset(LoadLibraryW(L"riched20.dll"));

    kit::Trace& trace = kit::SystemTrace();
    std::unique_ptr<kit::UsbDevicePort> usb;
    kit::UsbDevicePort* benchUsb = nullptr;
    std::string notice;
    if (std::optional<std::string> folder = emu::BenchFolderFromEnvironment()) {
        emu::TraceBenchInUse(trace, *folder);
        auto emulated = std::make_unique<tessaw::bench::EmulatedUsbDevices>(*folder, trace);
        benchUsb = emulated.get();
        usb = std::move(emulated);
        notice = "emulated bench: " + *folder + "\r\n";
    } else {
        usb = std::make_unique<tw32::SetupApiUsbDevices>();
    }

    tw32::Win32Files files;
    tw32::Win32Clock clock;
    tw32::HiddenStart programs;
    tw32::StillCaptureNotBuilt stillCapture;
    tw32::Win32Registry registry;
    tw32::SafeLibraries libraries;
    tw32::BelowNormalThreads threads;
    tw32::ImportedSonixLibrary sonix;
    tw32::UpdaterPorts ports{trace,
                             kit::SystemProfile(),
                             kit::SystemServices(),
                             files,
                             clock,
                             programs,
                             *usb,
                             stillCapture,
                             registry,
                             libraries,
                             threads,
                             sonix};

    // Heap-held and never deleted: the process ends below with the update worker possibly still
    // returning from its last call into the dialog.
    auto* dialog = new tw32::CUpdateDlg(commandLine, ports, benchUsb, com);
    tessaw::UpdateSession& session = dialog->Session();
    session.SetLogNotice(notice);
    const bool silent = session.Silent();

    HWND window = dialog->Create(nullptr, !silent);
    if (!window && !session.Closed()) {
        // Start-up never ran: the template could not be used or no window can be made here.
        kit::TraceF(trace, "Tessaw: the dialog cannot be created (error %lu)\n", GetLastError());
        ExitProcess(tessaw::kExitNoDialog);
    }
    if (window && silent && session.Ready()) PostMessageW(GetDlgItem(window, IDC_FLASH), BM_CLICK, 0, 0);
    RunMessageLoop(*dialog);
    ExitProcess(static_cast<UINT>(session.ExitCode()));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    static CUpdateApp app;
    app.InitInstance(commandLine ? commandLine : "");
}
