// The updater's own ports: its dialog window, its update worker thread, the present USB devices, the
// power state, the still-capture graph and the Sonix burner library. The ports it shares with the
// other programs or whose adapters are the platform's generic ones (files, clock, registry,
// libraries, program start, processes, trace, profile) are the platform's (platform/include/kit/);
// the still-capture graph's own are beside it (updater/stillcap/ports.h). The Win32 adapters are in
// updater/win32/ports_win32.h, the bench's in emu/adapters/updater/. The ports in namespace kit keep
// the name that the session, its adapters and its tests know them by.
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
#include <vector>

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

// Present USB devices port: the devices of the USB device interface class
// {A5DCBF10-6530-11D2-901F-00C04FB951ED} that are attached now, in the order the system lists
// them, each with the first string of its hardware-ID property (USB\VID_3A7C&PID_B5A4&REV_0012).
//
// Synchronous and blocking for the length of one enumeration; called on the main thread (start-up,
// plug events) and on the update worker thread (identification after a run), never on both at once.
// Never throws.
struct UsbDevice {
    // First hardware ID exactly as the system reports it (not case-folded). Empty when the
    // property could not be read; such a device is listed all the same.
    std::string hardwareId;
};

class UsbDevicePort {
public:
    virtual ~UsbDevicePort() = default;
    // Replaces `out` with the present devices and returns true. Returns false with `out` empty when
    // the device list cannot be opened (SetupDiGetClassDevs failed, or the bench cannot be read).
    virtual bool ListPresent(std::vector<UsbDevice>& out) = 0;
};

// Power port: whether the computer runs on mains or on its battery, and the battery's charge.
//
// Read is cheap, never blocks, is safe on any thread and never throws. A state the system cannot
// tell (no battery, as on a desktop, or a failed query) is Unknown, never a guess.
enum class PowerSource { Mains, Battery, Unknown };

struct PowerStatus {
    PowerSource source = PowerSource::Unknown;
    int percent = -1;  // the battery's charge 0..100; -1 when the system does not know it
};

class PowerPort {
public:
    virtual ~PowerPort() = default;
    virtual PowerStatus Read() = 0;
};

// Still-capture port: the DirectShow capture graph that keeps a Realtek camera streaming while the
// updater talks to it (the graph itself is CStillCap).
//
// Both calls are synchronous and run on the caller's thread, which has initialised COM: the main
// thread during the first identification, the update worker thread in the Realtek flow. The callers
// always pair them. Never throws.
class StillCapturePort {
public:
    virtual ~StillCapturePort() = default;
    // Builds and runs the graph on the capture device whose path holds "vid_%04x" and "pid_%04x".
    // Returns 0 (S_OK) or the failing HRESULT; the callers do not act on it. May block for about
    // a second (the pin connection waits). A failed build leaves its pieces for ClearGraphs.
    virtual int32_t InitStillGraph(uint16_t vid, uint16_t pid) = 0;
    // Stops and releases whatever InitStillGraph built; harmless when nothing was built.
    virtual void ClearGraphs() = 0;
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
