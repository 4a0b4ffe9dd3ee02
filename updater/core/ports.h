// The updater's own ports: its dialog window and its update worker thread. The ports it shares with
// the other programs (files, clocks, registry, libraries, program start, USB devices, power) are the
// platform's (platform/include/kit/); the Sonix library's is beside the flows (flash_flow.h). They
// keep the kit namespace that the session and its tests name them by.
//
// Dialog-window port: what the updater's session does to its own dialog window.
//
// The session's logic is portable; the Win32 shell implements this port over the dialog built from
// template 102 and routes the window's messages back to the session. Control IDs are those of the
// template. Unless a call says otherwise it is synchronous, never fails visibly and never throws;
// calls that touch controls may be made from the update worker thread too (the shell's Win32 calls
// marshal them to the window's thread).
//
// Worker-thread port: the updater runs each update on a thread of its own, at below-normal
// priority, so that the dialog stays responsive.
//
// Start returns at once (main thread); the body runs on the new thread, which has COM initialised
// in the multithreaded model for the whole body (the Realtek flow builds a DirectShow graph there).
// The thread is detached: nothing waits for it. Never throws.
#pragma once

#include <cstdint>
#include <functional>

namespace kit {

// Window messages the session sends or posts to itself.
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmUser = 0x0400;

// The result field's colour when it has none of its own: GetSysColor(COLOR_BTNTEXT).
inline constexpr uint32_t kButtonTextColour = 0xFFFFFFFFu;
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) | (static_cast<uint32_t>(b) << 16);
}

class DialogPort {
public:
    virtual ~DialogPort() = default;

    virtual void SetCaption(const char* text) = 0;
    // SetDlgItemText on an edit or static control.
    virtual void SetControlText(int id, const char* text) = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    // Check box state.
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    // Progress bar: range 0..upper (32-bit), position.
    virtual void SetProgressRange(uint32_t upper) = 0;
    virtual void SetProgressPos(uint32_t position) = 0;
    // Log view (rich edit): moves the selection to the end of the text and replaces it with `text`,
    // without an undo record. Main thread only.
    virtual void AppendToLogView(const char* text) = 0;
    // Scrolls the log view down by one line and repaints it. Main thread only.
    virtual void ScrollLogViewOneLine() = 0;
    // Posts WM_VSCROLL/SB_BOTTOM to the log view. Main thread only.
    virtual void PostScrollLogViewToBottom() = 0;
    // Result field (CStaticEx): text and text colour together (kButtonTextColour or an RGB value),
    // then repaints it.
    virtual void SetResult(const char* text, uint32_t colour) = 0;
    // Invalidates and repaints the whole dialog.
    virtual void Repaint() = 0;
    virtual void Hide() = 0;
    // A message box owned by the dialog with an OK button and either the error icon or none.
    // Blocks the calling thread until it is dismissed; returns the MessageBox result.
    virtual int ShowMessage(const char* text, bool errorIcon) = 0;
    // SendMessage to the dialog window: blocks until the window's thread has handled it and returns
    // its result. The shell hands the three update messages to the session and WM_CLOSE to the
    // dialog's cancel action.
    virtual intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // PostMessage to the dialog window; returns at once. false when the queue refused it.
    virtual bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // Destroys the dialog window (ends it, modal or not). The shell then runs the session's
    // closing steps (OnDestroy) on the main thread before this returns. Main thread only.
    virtual void Destroy() = 0;
    // Registers the window for USB device-interface arrival and removal notifications; returns the
    // registration handle, 0 when it failed.
    virtual uintptr_t RegisterUsbNotifications() = 0;
    // Removes a registration made above; 0 is ignored.
    virtual void UnregisterUsbNotifications(uintptr_t handle) = 0;
};

class ThreadPort {
public:
    virtual ~ThreadPort() = default;
    // Starts `body` on a new below-normal-priority thread. false when the thread could not be
    // created; the body is then never run.
    virtual bool StartBelowNormal(std::function<void()> body) = 0;
};

}  // namespace kit
