// Win32-only: CUpdateApp, the updater Tessaw's application object and entry point. Interactive
// mode shows the dialog and runs until the user closes it; silent mode ("-s") keeps it hidden,
// clicks FLASH itself and runs until the session closes the dialog. Either way the process ends
// with the session's exit code, unless the still-capture graph asked the program to quit (a
// camera without a 640x480 format): then with the code of that request, once no update runs.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <optional>
#include <string>

#include "bench_still_graph.h"
#include "emu/bench.h"
#include "emu/capture_filter/registration.h"
#include "emulated_power.h"
#include "emulated_usb.h"
#include "platform/win32/adapters_win32.h"
#include "platform/win32/dll_search.h"
#include "kit/process.h"
#include "kit/profile.h"
#include "kit/text.h"
#include "kit/trace.h"
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

// True when the capture-filter stand-in is registered for this bench: its cameras are then
// DirectShow devices, and the real still-capture graph can stream from them.
bool StandInServesBench(const std::string& folder) {
    const std::string key = emu::capture::ClassKey();
    char registered[MAX_PATH] = {};
    DWORD bytes = sizeof registered - 1;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), emu::capture::kBenchValue, RRF_RT_REG_SZ, nullptr,
                     registered, &bytes) != ERROR_SUCCESS)
        return false;
    auto full = [](const char* path) {
        char out[MAX_PATH] = {};
        DWORD n = GetFullPathNameA(path, MAX_PATH, out, nullptr);
        std::string text = n > 0 && n < MAX_PATH ? std::string(out, n) : std::string(path);
        while (text.size() > 3 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
        return kit::Lower(text);
    };
    return full(registered) == full(folder.c_str());
}

void CUpdateApp::InitInstance(const char* commandLine) {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The log view is a RichEdit20A control; the class lives in this DLL, kept for the whole run.
    richEdit_.Reset(kit::LoadSystemLibrary(L"riched20.dll"));

    kit::Trace& trace = kit::SystemTrace();
    std::unique_ptr<kit::UsbDevicePort> usb;
    kit::UsbDevicePort* benchUsb = nullptr;
    std::string notice, benchFolder;
    std::unique_ptr<kit::PowerPort> power;
    if (std::optional<std::string> folder = emu::BenchFolderFromEnvironment()) {
        benchFolder = *folder;
        // A bench that sets the power state says so in its notice; one that does not reads as before.
        emu::Bench bench;
        std::string error, powerNotice;
        if (emu::LoadBench(*folder, bench, error)) powerNotice = tessaw::bench::PowerNotice(bench);
        if (powerNotice.empty()) {
            emu::TraceBenchInUse(trace, *folder);
        } else {
            trace.Write((emu::BenchNotice(*folder) + powerNotice + "\n").c_str());
        }
        power = std::make_unique<tessaw::bench::BenchPower>(*folder, trace);
        auto emulated = std::make_unique<tessaw::bench::EmulatedUsbDevices>(*folder, trace);
        benchUsb = emulated.get();
        usb = std::move(emulated);
        notice = emu::BenchNotice(*folder) + powerNotice + "\r\n";
    } else {
        usb = std::make_unique<tw32::SetupApiUsbDevices>();
        power = std::make_unique<tw32::Win32Power>();
    }

    kit::Win32Files files;
    kit::Win32Clock clock;
    kit::HiddenStart programs;
    stillcap::Win32StillCapHost stillHost(GetCurrentThreadId());
    std::unique_ptr<kit::StillCapturePort> stillCapture;
    if (benchUsb && !StandInServesBench(benchFolder)) {
        trace.Write("still capture: emulated from the bench (no capture-filter stand-in is registered for it)\n");
        stillCapture = std::make_unique<stillcap::BenchStillCapture>(benchFolder, stillHost, trace);
    } else {
        stillCapture = std::make_unique<stillcap::CStillCap>(stillHost, trace);
    }
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
                             *usb,
                             *stillCapture,
                             registry,
                             libraries,
                             threads,
                             sonix};

    // Heap-held and never deleted: the process ends below with the update worker possibly still
    // returning from its last call into the dialog.
    auto* dialog = new tw32::CUpdateDlg(commandLine, ports, benchUsb, com);
    tessaw::UpdateSession& session = dialog->Session();
    session.SetLogNotice(notice);
    session.SetPowerPort(power.get());
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
