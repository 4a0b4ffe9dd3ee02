// Win32-only: CDUDevodAvozDlg.
#include "orlinde_dlg_win32.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "bench_cameras.h"
#include "emu/bench.h"
#include "resource.h"

namespace orw32 {
namespace {

static_assert(IDC_LOG_VIEW == orlinde::kIdcLogView && IDC_FIRMWARE_PATH == orlinde::kIdcFirmwarePath &&
              IDC_FLASH == orlinde::kIdcFlash && IDC_STATUS_PICTURE == orlinde::kIdcStatusPicture &&
              IDC_MODULE_ID == orlinde::kIdcModuleId && IDC_PROGRESS == orlinde::kIdcProgress &&
              IDC_AUTO_SCROLL == orlinde::kIdcAutoScroll && IDC_CLOSE == orlinde::kIdcClose);
static_assert(IDB_COUNTDOWN1 == orlinde::kBmpCountdown1 && IDB_COUNTDOWN2 == orlinde::kBmpCountdown2 &&
              IDB_COUNTDOWN3 == orlinde::kBmpCountdown3 && IDB_IDLE == orlinde::kBmpIdle &&
              IDB_FAIL == orlinde::kBmpFail && IDB_RUNNING == orlinde::kBmpRunning &&
              IDB_SUCCESS == orlinde::kBmpSuccess);

// KSCATEGORY_VIDEO.
const GUID kVideoCategory = {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
static_assert(sizeof(GUID) == sizeof(camlib::Guid));

// The bench poll's timer: far from the tool's own timer IDs.
constexpr UINT_PTR kBenchPlugTimer = 1;
constexpr UINT kBenchPlugPollMs = 500;

constexpr UINT_PTR kPictureSubclass = 0x0D06;

camlib::Guid AsGuid(const GUID& guid) {
    camlib::Guid out{};
    std::memcpy(out.data(), &guid, out.size());
    return out;
}

}  // namespace

CDUDevodAvozDlg::CDUDevodAvozDlg(const ShellPorts& ports, std::string benchFolder)
    : CDialog(IDD_DUDEVODAVOZ_DIALOG), benchFolder_(std::move(benchFolder)) {
    orlinde::WriteToolPorts own{*this,         ports.com,       ports.workers, ports.sonix,
                                ports.quelmar, ports.libraries, ports.profile, ports.files,
                                ports.system,  ports.console,   ports.trace,   ports.clock};
    tool_ = std::make_unique<orlinde::WriteTool>(own);
    // Whoever reads the log view must see that no real camera was written.
    if (!benchFolder_.empty()) tool_->SetLogNotice(emu::BenchNotice(benchFolder_) + "\r\n");
}

CDUDevodAvozDlg::~CDUDevodAvozDlg() { tool_->OnDestroy(); }

// ---------------------------------------------------------------------------------------------
// Messages

BOOL CDUDevodAvozDlg::OnInitDialog() {
    window_ = Handle();
    SetWindowSubclass(Item(IDC_STATUS_PICTURE), PictureProc, kPictureSubclass,
                      reinterpret_cast<DWORD_PTR>(this));
    SendDlgItemMessageW(Handle(), IDC_PROGRESS, PBM_SETRANGE32, 0, 100);
    tool_->OnInitDialog();
    return TRUE;
}

void CDUDevodAvozDlg::CloseIfAllowed(INT_PTR result) {
    if (tool_->OnClose()) EndDialog(result);
}

// "Close" ends the dialog as OK; Enter and Esc (IDOK, IDCANCEL) take the same way, and none of them
// while a camera is being written.
void CDUDevodAvozDlg::OnOK() { CloseIfAllowed(IDOK); }

void CDUDevodAvozDlg::OnCancel() { CloseIfAllowed(IDCANCEL); }

bool CDUDevodAvozDlg::OnCommand(WORD id, WORD code) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_FLASH:
            tool_->OnFlash();
            return true;
        case IDC_CLOSE:
            CloseIfAllowed(IDOK);
            return true;
        default:
            return false;
    }
}

bool CDUDevodAvozDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_TIMER:
            if (wParam == kBenchPlugTimer)
                DeliverBenchPlugEvents();
            else
                tool_->OnTimer(static_cast<uint32_t>(wParam));
            result = 0;
            return true;
        case WM_DEVICECHANGE: {
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
            const uint32_t type = header ? header->dbch_devicetype : 0;
            camlib::Guid category{};
            const camlib::Guid* interfaceClass = nullptr;
            if (header && type == DBT_DEVTYP_DEVICEINTERFACE &&
                header->dbch_size >= offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)) {
                category =
                    AsGuid(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam)->dbcc_classguid);
                interfaceClass = &category;
            }
            result =
                tool_->OnDeviceChange(static_cast<uint32_t>(wParam), type, interfaceClass) ? TRUE : FALSE;
            return true;
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) tool_->OnActivate();
            return false;  // the dialog manager still sets the focus
        case WM_CLOSE:
            CloseIfAllowed(IDCANCEL);
            result = 0;
            return true;
        default:
            return false;
    }
}

void CDUDevodAvozDlg::OnDestroy() {
    if (Handle()) ::KillTimer(Handle(), kBenchPlugTimer);
    tool_->OnDestroy();
    notification_.Reset();
    RemoveWindowSubclass(Item(IDC_STATUS_PICTURE), PictureProc, kPictureSubclass);
    window_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// The status picture

void CDUDevodAvozDlg::PaintPicture(HWND control) {
    if (!picture_ || !control) return;
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(picture_), IMAGE_BITMAP, 0, 0, 0));
    if (!bitmap) return;
    // The bitmap tiles the whole client area from its top-left corner.
    kit::Brush brush(CreatePatternBrush(bitmap));
    if (brush) {
        RECT client;
        GetClientRect(control, &client);
        HDC dc = GetDC(control);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        FillRect(dc, &client, brush.Get());
        ReleaseDC(control, dc);
    }
    DeleteObject(bitmap);
}

LRESULT CALLBACK CDUDevodAvozDlg::PictureProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR data) {
    auto* self = reinterpret_cast<CDUDevodAvozDlg*>(data);
    if (message == WM_NCDESTROY) RemoveWindowSubclass(hwnd, PictureProc, kPictureSubclass);
    const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
    // Whatever the frame control painted, the picture goes over it again.
    if (message == WM_PAINT) self->PaintPicture(hwnd);
    return result;
}

void CDUDevodAvozDlg::ShowPicture(int bitmap) {
    picture_ = bitmap;
    PaintPicture(GetDlgItem(Window(), IDC_STATUS_PICTURE));
}

// ---------------------------------------------------------------------------------------------
// The rest of the dialog port

void CDUDevodAvozDlg::SetAppIcon() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    icon_ =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_SHARED));
    SendMessageW(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
}

void CDUDevodAvozDlg::SetCaption(const char* text) { SetWindowTextA(Window(), text); }

void CDUDevodAvozDlg::SetControlText(int id, const char* text) { SetDlgItemTextA(Window(), id, text); }

void CDUDevodAvozDlg::EnableControl(int id, bool enable) { EnableWindow(GetDlgItem(Window(), id), enable); }

bool CDUDevodAvozDlg::IsChecked(int id) { return IsDlgButtonChecked(Window(), id) == BST_CHECKED; }

void CDUDevodAvozDlg::SetChecked(int id, bool checked) {
    CheckDlgButton(Window(), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CDUDevodAvozDlg::ShowLog(const char* text, bool scrollToEnd) {
    // From a worker these are sent to the dialog's thread, which carries them out.
    HWND view = GetDlgItem(Window(), IDC_LOG_VIEW);
    if (!view) return;
    SetWindowTextA(view, text);
    if (scrollToEnd) {
        const LRESULT lines = SendMessageA(view, EM_GETLINECOUNT, 0, 0);
        SendMessageA(view, EM_LINESCROLL, 0, lines);
    }
}

void CDUDevodAvozDlg::SetProgressPos(uint32_t percent) {
    SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void CDUDevodAvozDlg::SetTimer(uint32_t id, uint32_t milliseconds) {
    ::SetTimer(Window(), id, milliseconds, nullptr);
}

void CDUDevodAvozDlg::KillTimer(uint32_t id) { ::KillTimer(Window(), id); }

void CDUDevodAvozDlg::PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to take: the loop that owns the thread must see it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void CDUDevodAvozDlg::ShowMessage(const char* text, const char* caption) {
    MessageBoxA(Window(), text, caption, MB_OK);
}

void CDUDevodAvozDlg::RequestClose() {
    if (HWND window = Window()) SendMessageW(window, WM_CLOSE, 0, 0);
}

bool CDUDevodAvozDlg::RegisterVideoNotifications() {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    ZeroMemory(&filter, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kVideoCategory;
    notification_.Reset(RegisterDeviceNotificationA(Window(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!notification_) return false;
    if (!benchFolder_.empty()) {
        // The bench's cameras as they are now; from here on every change is an event.
        orlinde::bench::ListPluggedCameras(benchFolder_, benchCameras_);
        ::SetTimer(Window(), kBenchPlugTimer, kBenchPlugPollMs, nullptr);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Plug events of an emulated bench

void CDUDevodAvozDlg::DeliverBenchPlugEvents() {
    std::vector<std::string> now;
    // A bench being rewritten is not an unplugged camera: a failed listing changes nothing.
    if (!orlinde::bench::ListPluggedCameras(benchFolder_, now)) return;
    std::vector<std::string> removed, arrived;
    for (const std::string& path : benchCameras_)
        if (std::find(now.begin(), now.end(), path) == now.end()) removed.push_back(path);
    for (const std::string& path : now)
        if (std::find(benchCameras_.begin(), benchCameras_.end(), path) == benchCameras_.end())
            arrived.push_back(path);
    benchCameras_ = std::move(now);
    auto deliver = [this](UINT event, const std::string& name) {
        std::vector<BYTE> bytes(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + name.size() + 1, 0);
        auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
        broadcast->dbcc_size = static_cast<DWORD>(bytes.size());
        broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        broadcast->dbcc_classguid = kVideoCategory;
        name.copy(broadcast->dbcc_name, name.size());
        // Sent, as the system sends it: the event is handled before the next poll.
        SendMessageW(Window(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast));
    };
    for (const std::string& path : removed) deliver(DBT_DEVICEREMOVECOMPLETE, path);
    for (const std::string& path : arrived) deliver(DBT_DEVICEARRIVAL, path);
}

}  // namespace orw32
