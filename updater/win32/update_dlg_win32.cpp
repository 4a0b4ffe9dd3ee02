// Win32-only: CUpdateDlg and CAboutDlg.
#include "update_dlg_win32.h"

#include <commctrl.h>
#include <dbt.h>
#include <richedit.h>

#include <cstddef>
#include <vector>

#include "platform/win32/adapters_win32.h"
#include "ports_win32.h"
#include "quelmar_flow.h"
#include "realtek_flow.h"
#include "resource.h"
#include "sonix_flow.h"
#include "texts.h"

namespace tw32 {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE.
const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// How often the dialog looks at the bench for plugged and unplugged cameras.
constexpr UINT_PTR kBenchPlugTimer = 1;
constexpr UINT kBenchPlugPollMs = 500;

// What a message box of the updater says in its title bar.
const char* const kMessageCaption = "Tessaw";

COLORREF ResultColour(uint32_t colour) {
    return colour == kit::kButtonTextColour ? GetSysColor(COLOR_BTNTEXT) : static_cast<COLORREF>(colour);
}

// The interface path the system would name in the event: \\?\USB#VID_3A7C&PID_B5A4#...#{a5dcbf10-...}.
std::string InterfaceName(const std::string& hardwareId) {
    std::string device = hardwareId.substr(0, hardwareId.find("&REV"));
    for (char& c : device)
        if (c == '\\') c = '#';
    return "\\\\?\\" + device + "#emulated#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

// Hold no state between runs, so one of each for the process serves every dialog.
tessaw::QuelmarFlow quelmarFlow;
tessaw::SonixFlow sonixFlow;
// Made with the program: the progress callback's log stamps count seconds from the program's start.
kit::Win32Files realtekFiles;
kit::Win32Clock realtekClock;
tessaw::RealtekFlow realtekFlow(realtekFiles, realtekClock);

}  // namespace

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

CUpdateDlg::CUpdateDlg(const std::string& commandLine, const UpdaterPorts& ports,
                       kit::UsbDevicePort* benchUsb, bool releaseCom)
    : CDialog(IDD_UPDATE_DIALOG), releaseCom_(releaseCom) {
    session_ = std::make_unique<tessaw::UpdateSession>(
        commandLine,
        tessaw::SessionPorts{*this, ports.trace, ports.profile, ports.system, ports.files, ports.clock,
                             ports.programs, ports.usb, ports.stillCapture, ports.registry, ports.libraries,
                             ports.threads, ports.sonix},
        tessaw::FlashFlows{&realtekFlow, &sonixFlow, &quelmarFlow});
    if (benchUsb) plugWatch_ = std::make_unique<tessaw::bench::PlugWatch>(*benchUsb);
}

bool CUpdateDlg::PreTranslateMessage(const MSG& message) {
    // No key may interrupt a camera being written.
    return message.message == WM_KEYDOWN && session_->SwallowsKeyDown();
}

// ---------------------------------------------------------------------------------------------
// Messages

BOOL CUpdateDlg::OnInitDialog() {
    window_ = Handle();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    icon_ =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_SHARED));
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    AddAboutEntry();
    SendDlgItemMessageW(Handle(), IDC_LOG_VIEW, EM_SETREADONLY, TRUE, 0);
    result_.Attach(Item(IDC_RESULT));
    // Start-up proper; a failure has closed the dialog by the time it returns.
    session_->OnInitDialog();
    return TRUE;
}

void CUpdateDlg::AddAboutEntry() {
    HMENU menu = GetSystemMenu(Handle(), FALSE);
    if (!menu) return;
    wchar_t text[128] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, 128) <= 0) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
}

void CUpdateDlg::OnOK() {
    // Exit, and Enter: the session decides whether the dialog may close now.
    session_->OnCancel();
}

void CUpdateDlg::OnCancel() { session_->OnCancel(); }

bool CUpdateDlg::OnCommand(WORD id, WORD code) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_FLASH:
            session_->OnFlash();
            return true;
        case IDC_EXIT:
            OnOK();
            return true;
        case IDC_AUTO_SCROLL:
            session_->OnAutoScroll();
            return true;
        default:
            return false;
    }
}

bool CUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_CLOSE:
            session_->OnCancel();
            result = 0;
            return true;
        case tessaw::kWmUpdateSetPos:
        case tessaw::kWmUpdateSetRange:
        case tessaw::kWmUpdateShowText:
            result = session_->OnUpdateMessage(message, wParam, lParam);
            return true;
        case WM_DEVICECHANGE:
            result = session_->OnDeviceChange(static_cast<uint32_t>(wParam), static_cast<uintptr_t>(lParam))
                         ? TRUE
                         : FALSE;
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
            {
                CAboutDlg about;
                about.DoModal(Handle());
            }
            result = 0;
            return true;
        case WM_PAINT:
            if (!IsIconic(Handle())) return false;
            PaintIconic();
            result = 0;
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(icon_);
            return true;
        case WM_TIMER:
            if (wParam != kBenchPlugTimer) return false;
            DeliverBenchPlugEvents();
            result = 0;
            return true;
        default:
            return false;
    }
}

void CUpdateDlg::PaintIconic() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Handle(), &paint);
    SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(Handle(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(Handle(), &paint);
}

void CUpdateDlg::OnDestroy() {
    session_->OnDestroy();
    window_ = nullptr;
    if (releaseCom_) {
        CoUninitialize();
        releaseCom_ = false;
    }
}

void CUpdateDlg::DeliverBenchPlugEvents() {
    if (!plugWatch_ || !notification_) return;
    tessaw::bench::PlugChanges changes = plugWatch_->Poll();
    auto deliver = [this](UINT event, const std::string& hardwareId) {
        const std::string name = InterfaceName(hardwareId);
        std::vector<BYTE> bytes(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + name.size() + 1, 0);
        auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
        broadcast->dbcc_size = static_cast<DWORD>(bytes.size());
        broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        broadcast->dbcc_classguid = kUsbDeviceInterface;
        name.copy(broadcast->dbcc_name, name.size());
        // Sent, as the system sends it: the event is handled before the next poll.
        SendMessageW(Handle(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast));
    };
    for (const std::string& id : changes.removed) deliver(DBT_DEVICEREMOVECOMPLETE, id);
    for (const std::string& id : changes.arrived) deliver(DBT_DEVICEARRIVAL, id);
}

// ---------------------------------------------------------------------------------------------
// The session's dialog port

void CUpdateDlg::SetCaption(const char* text) { SetWindowTextA(Window(), text); }

void CUpdateDlg::SetControlText(int id, const char* text) { SetDlgItemTextA(Window(), id, text); }

void CUpdateDlg::EnableControl(int id, bool enable) { EnableWindow(GetDlgItem(Window(), id), enable); }

bool CUpdateDlg::IsChecked(int id) { return IsDlgButtonChecked(Window(), id) == BST_CHECKED; }

void CUpdateDlg::SetChecked(int id, bool checked) {
    CheckDlgButton(Window(), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CUpdateDlg::SetProgressRange(uint32_t upper) {
    SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETRANGE32, 0,
                        static_cast<LPARAM>(static_cast<int>(upper)));
}

void CUpdateDlg::SetProgressPos(uint32_t position) {
    SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(static_cast<int>(position)),
                        0);
    // Shown now: a flow that reports at full speed leaves no idle moment for WM_PAINT.
    UpdateWindow(GetDlgItem(Window(), IDC_PROGRESS));
}

void CUpdateDlg::AppendToLogView(const char* text) {
    CHARRANGE end{-1, -1};
    SendDlgItemMessageA(Window(), IDC_LOG_VIEW, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendDlgItemMessageA(Window(), IDC_LOG_VIEW, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

void CUpdateDlg::ScrollLogViewOneLine() {
    HWND view = GetDlgItem(Window(), IDC_LOG_VIEW);
    SendMessageA(view, EM_LINESCROLL, 0, 1);
    InvalidateRect(view, nullptr, TRUE);
    UpdateWindow(view);
}

void CUpdateDlg::PostScrollLogViewToBottom() {
    PostMessageA(GetDlgItem(Window(), IDC_LOG_VIEW), WM_VSCROLL, SB_BOTTOM, 0);
}

void CUpdateDlg::SetResult(const char* text, uint32_t colour) {
    result_.SetTextAndColour(text, ResultColour(colour));
}

void CUpdateDlg::Repaint() {
    HWND window = Window();
    if (!window) return;
    // Paints now whatever has changed, the controls included. Invalidating the whole dialog would
    // erase its controls too (it has no WS_CLIPCHILDREN), and they would stay blank until their
    // WM_PAINT, which never comes while a flow reports at full speed: sent messages go first.
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CUpdateDlg::Hide() { ShowWindow(Window(), SW_HIDE); }

int CUpdateDlg::ShowMessage(const char* text, bool errorIcon) {
    return MessageBoxA(Window(), text, kMessageCaption, MB_OK | (errorIcon ? MB_ICONERROR : 0));
}

intptr_t CUpdateDlg::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    HWND window = Window();
    return window ? SendMessageA(window, message, wParam, lParam) : 0;
}

bool CUpdateDlg::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    HWND window = Window();
    return window && PostMessageA(window, message, wParam, lParam);
}

void CUpdateDlg::Destroy() {
    if (Handle()) DestroyWindow(Handle());
}

uintptr_t CUpdateDlg::RegisterUsbNotifications() {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    ZeroMemory(&filter, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kUsbDeviceInterface;
    notification_.Reset(RegisterDeviceNotificationA(Handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!notification_) return 0;
    if (plugWatch_) {
        // The bench's devices as they are now; from here on every change is an event.
        plugWatch_->Start();
        SetTimer(Handle(), kBenchPlugTimer, kBenchPlugPollMs, nullptr);
    }
    return reinterpret_cast<uintptr_t>(notification_.Get());
}

void CUpdateDlg::UnregisterUsbNotifications(uintptr_t handle) {
    if (!handle || handle != reinterpret_cast<uintptr_t>(notification_.Get())) return;
    if (plugWatch_ && Handle()) KillTimer(Handle(), kBenchPlugTimer);
    notification_.Reset();
}

}  // namespace tw32
