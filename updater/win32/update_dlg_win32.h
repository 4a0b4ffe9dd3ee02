// Win32-only: the updater's dialogs. CUpdateDlg is a thin shell: it is the session's dialog port and
// hands the window's messages to the session; CAboutDlg is the about box of the system menu.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/win32/dialog_win32.h"
#include "emulated_usb.h"
#include "updater/core/ports.h"
#include "session.h"
#include "platform/win32/handles.h"

namespace tw32 {

// Every port of the session but its dialog, which is the CUpdateDlg.
struct UpdaterPorts {
    kit::Trace& trace;
    kit::ProfileReader& profile;
    kit::SystemPort& system;
    kit::FileSystemPort& files;
    kit::ClockPort& clock;
    kit::ProgramStartPort& programs;
    kit::UsbDevicePort& usb;
    kit::StillCapturePort& stillCapture;
    kit::RegistryPort& registry;
    kit::LibraryPort& libraries;
    kit::ThreadPort& threads;
    tessaw::SonixLibraryPort& sonix;
};

class CAboutDlg final : public kit::CDialog {
public:
    CAboutDlg();
};

class CUpdateDlg final : public kit::CDialog, public kit::DialogPort {
public:
    // `benchUsb` is the bench's device port when the updater runs on an emulated bench: the dialog
    // then delivers the bench's plug events itself, since nothing else will. `releaseCom`: the
    // closing steps uninitialise COM on this thread.
    CUpdateDlg(const std::string& commandLine, const UpdaterPorts& ports, kit::UsbDevicePort* benchUsb,
               bool releaseCom);

    tessaw::UpdateSession& Session() { return *session_; }
    bool PreTranslateMessage(const MSG& message) override;

    // --- kit::DialogPort ---
    void SetCaption(const char* text) override;
    void SetControlText(int id, const char* text) override;
    void EnableControl(int id, bool enable) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void SetProgressRange(uint32_t upper) override;
    void SetProgressPos(uint32_t position) override;
    void AppendToLogView(const char* text) override;
    void ScrollLogViewOneLine() override;
    void PostScrollLogViewToBottom() override;
    void SetResult(const char* text, uint32_t colour) override;
    void Repaint() override;
    void Hide() override;
    int ShowMessage(const char* text, bool errorIcon) override;
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void Destroy() override;
    uintptr_t RegisterUsbNotifications() override;
    void UnregisterUsbNotifications(uintptr_t handle) override;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(WORD id, WORD code) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroy() override;

private:
    HWND Window() const { return window_.load(); }
    void AddAboutEntry();
    void PaintIconic();
    // One poll of the bench: a WM_DEVICECHANGE for every device that left or came.
    void DeliverBenchPlugEvents();

    std::unique_ptr<tessaw::UpdateSession> session_;
    // The window as the update worker sees it; cleared when it is destroyed.
    std::atomic<HWND> window_{nullptr};
    HICON icon_ = nullptr;  // shared resource icons: never destroyed
    HICON smallIcon_ = nullptr;
    kit::CStaticEx result_;
    kit::DeviceNotification notification_;
    std::unique_ptr<tessaw::bench::PlugWatch> plugWatch_;
    bool releaseCom_;
};

}  // namespace tw32
