// Win32-only: CDUDevodAvozDlg, the write tool's dialog (template 102). A thin shell: it is the core's
// dialog port and hands the window's messages to the WriteTool it owns.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/dialog_win32.h"
#include "flashtool/core/ports.h"
#include "platform/win32/handles.h"
#include "write_tool.h"

namespace orw32 {

// Every port of the write tool but its dialog, which is the CDUDevodAvozDlg.
struct ShellPorts {
    orlinde::ComPort& com;
    orlinde::WorkerThreadPort& workers;
    orlinde::SonixBurnerPort& sonix;
    orlinde::QuelmarCameraPort& quelmar;
    kit::LibraryPort& libraries;
    kit::ProfileReader& profile;
    kit::FileSystemPort& files;
    kit::SystemPort& system;
    kit::ConsolePort& console;
    kit::Trace& trace;
    kit::ClockPort& clock;
};

class CDUDevodAvozDlg final : public kit::CDialog, public orlinde::DialogPort {
public:
    // `benchFolder`, when the tool runs on an emulated bench: the dialog then delivers the bench's
    // plug events itself, since the system sends none for emulated cameras.
    CDUDevodAvozDlg(const ShellPorts& ports, std::string benchFolder);
    ~CDUDevodAvozDlg() override;

    orlinde::WriteTool& Tool() { return *tool_; }

    // --- orlinde::DialogPort ---
    void SetAppIcon() override;
    void SetCaption(const char* text) override;
    void SetControlText(int id, const char* text) override;
    void EnableControl(int id, bool enable) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void ShowLog(const char* text, bool scrollToEnd) override;
    void ShowPicture(int bitmap) override;
    void SetProgressPos(uint32_t percent) override;
    void SetTimer(uint32_t id, uint32_t milliseconds) override;
    void KillTimer(uint32_t id) override;
    void PumpMessages() override;
    void ShowMessage(const char* text, const char* caption) override;
    void RequestClose() override;
    bool RegisterVideoNotifications() override;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(WORD id, WORD code) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroy() override;

private:
    HWND Window() const { return window_.load(); }
    // Ends the dialog when the tool allows it (never while a camera is being written).
    void CloseIfAllowed(INT_PTR result);
    void PaintPicture(HWND control);
    static LRESULT CALLBACK PictureProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR self);
    // One look at the bench: a WM_DEVICECHANGE for every camera that left or came.
    void DeliverBenchPlugEvents();

    std::unique_ptr<orlinde::WriteTool> tool_;
    // The window as a download worker sees it; cleared when it is destroyed.
    std::atomic<HWND> window_{nullptr};
    HICON icon_ = nullptr;  // shared resource icons: never destroyed
    HICON smallIcon_ = nullptr;
    // The picture last shown, painted again whenever the frame control repaints itself.
    int picture_ = 0;
    kit::DeviceNotification notification_;
    const std::string benchFolder_;
    std::vector<std::string> benchCameras_;
};

}  // namespace orw32
