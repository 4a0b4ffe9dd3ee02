// The updater's own ports: its dialog window, its update worker thread and the Sonix burner library.
// The ports it shares with the other programs (files, clocks, registry, libraries, program start,
// USB devices, power, still capture, trace, profile) are the platform's (platform/include/kit/); the
// still-capture graph's own are beside it (updater/stillcap/ports.h). The Win32 adapters are in
// updater/win32/ports_win32.h, the bench's in updater/emu/. The dialog and thread ports keep
// the kit namespace that the session and its tests name them by.
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
#include <string>

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

namespace tessaw {

// The Sonix burner library (BurnerApLib.dll), which finds the camera itself: the two calls the update
// driver makes before the Sonix flow, and the flow's own. Synchronous, update worker thread; a call
// on a camera that is gone fails like any other failure.
class SonixLibraryPort {
public:
    virtual ~SonixLibraryPort() = default;
    // Makes the library callable, once, at start-up before any other call: loads it from the
    // program's folder or the system folders (never the current directory) and binds every entry
    // point. false: no usable library; `missingEntry` then names the entry point it lacks, or is
    // empty when the library itself is missing. No other call may be made after a false.
    virtual bool Bind(std::string& missingEntry) = 0;
    // Initialize_DriverInterface(): above 0 the interface is ready.
    virtual int InitializeDriverInterface() = 0;
    // GetRomVersion into a 16-byte buffer; true when it was written.
    virtual bool GetRomVersion(char* version16) = 0;
    // ReqToDriver: request 7 reads `length` bytes of the flash at `address` into `buffer`, request 6
    // writes them from it. true when done.
    virtual bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) = 0;
    // SetWriteProtect: false lifts the flash's write protection, true restores it; the word and the
    // byte are the library's own record of it. true when done.
    virtual bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) = 0;
    // EraseSF: true when the whole flash was erased.
    virtual bool EraseSF() = 0;
    // ResetDevice: non-zero when the camera was reset.
    virtual int ResetDevice() = 0;
};

}  // namespace tessaw
