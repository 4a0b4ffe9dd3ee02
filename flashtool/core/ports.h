// Ports of the bench write tool Orlinde that the kit's shared ports (kit/) do not cover: its dialog
// window with timers, pictures and the message pump, COM on the dialog's thread, the download
// worker threads, the imported Sonix burner library and the linked camera-access library.
//
// The tool also uses these shared ports: kit::ProfileReader (setting.ini, pid.ini),
// kit::FileSystemPort (file existence, firmware files), kit::SystemPort (module path, Sleep),
// kit::LibraryPort (RvcLib.dll by name), kit::ConsolePort (the progress line on standard output)
// and kit::Trace.
//
// The Win32 adapters are in flashtool/win32/orlinde_ports_win32.h; on an emulated bench the camera
// library runs on its own emulated adapters (camlib/emulated/) and the dialog takes the bench's plug
// events from emu/adapters/flashtool/. The entry point (flashtool/win32/orlinde_app_win32.cpp)
// chooses hardware or bench.
//
// No call throws. "Dialog thread" is the thread that runs the dialog's message loop and every
// handler of WriteTool except the worker bodies.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "camlib/ports.h"

namespace orlinde {

// Controls of dialog template 102.
inline constexpr int kIdcLogView = 1000;
inline constexpr int kIdcFirmwarePath = 1001;
inline constexpr int kIdcFlash = 1003;
inline constexpr int kIdcStatusPicture = 1006;
inline constexpr int kIdcModuleId = 1007;
inline constexpr int kIdcProgress = 1012;
inline constexpr int kIdcAutoScroll = 1014;
inline constexpr int kIdcClose = 1033;

// Bitmap resources of the status picture.
inline constexpr int kBmpCountdown1 = 132;
inline constexpr int kBmpCountdown2 = 133;
inline constexpr int kBmpCountdown3 = 134;
inline constexpr int kBmpIdle = 135;
inline constexpr int kBmpFail = 136;
inline constexpr int kBmpRunning = 137;
inline constexpr int kBmpSuccess = 138;

// Timers of the dialog window.
inline constexpr uint32_t kTimerRealtekStart = 37001;
inline constexpr uint32_t kTimerProgress = 37008;
inline constexpr uint32_t kTimerRearm = 37009;

// WM_DEVICECHANGE as the shell hands it on: the event, the record's device type and, for a device
// interface record, its class.
inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDeviceTypeInterface = 5;
// KSCATEGORY_VIDEO {6994AD05-93EF-11D0-A3CC-00A0C9223196}, in memory order.
inline constexpr camlib::Guid kKsCategoryVideo =
    camlib::MakeGuid(0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});

// The dialog window (template 102) and its thread. Calls marked "any thread" may come from a
// download worker; the shell carries them out on the dialog's thread (SendMessage does) and returns
// when they are done. The others are made on the dialog thread only. None fails visibly.
class DialogPort {
public:
    virtual ~DialogPort() = default;

    // Big and small icon of the window: the application icon.
    virtual void SetAppIcon() = 0;
    virtual void SetCaption(const char* text) = 0;
    // SetDlgItemText on an edit control (1001, 1007).
    virtual void SetControlText(int id, const char* text) = 0;
    virtual void EnableControl(int id, bool enable) = 0;
    // Check box 1014. Any thread.
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    // Replaces the text of the log view (1000) with `text`; with `scrollToEnd`, then scrolls it down
    // by its number of lines. Any thread.
    virtual void ShowLog(const char* text, bool scrollToEnd) = 0;
    // Paints bitmap `bitmap` over the whole client area of the status picture (1006).
    virtual void ShowPicture(int bitmap) = 0;
    // The progress bar (1012), range 0..100.
    virtual void SetProgressPos(uint32_t percent) = 0;
    // SetTimer / KillTimer on the dialog window. A period below the system's minimum is raised to
    // it by the system; setting a timer that is set already restarts it with the new period.
    virtual void SetTimer(uint32_t id, uint32_t milliseconds) = 0;
    virtual void KillTimer(uint32_t id) = 0;
    // Removes and dispatches (translate, dispatch) every message waiting in the dialog thread's
    // queue, then returns; never waits for new ones. Called from inside a Realtek write, so the
    // handlers it reaches run re-entrantly (WriteTool ignores what would disturb the write).
    virtual void PumpMessages() = 0;
    // A message box owned by the dialog with an OK button; blocks until it is dismissed.
    virtual void ShowMessage(const char* text, const char* caption) = 0;
    // Sends the dialog a close request, which ends the dialog and with it the process. The shell
    // asks WriteTool::OnClose first, as for any other close request, and runs OnDestroy when the
    // window goes.
    virtual void RequestClose() = 0;
    // Registers the window for notifications of device interfaces of KSCATEGORY_VIDEO (filter
    // record of 32 bytes, device type 5, delivery to the window). false when it failed.
    virtual bool RegisterVideoNotifications() = 0;
};

// COM on the dialog's thread. The tool initialises it at start-up and before every plug event and
// uninitialises it after every identification; the camera-access library initialises it again
// whenever it opens devices, so the count never falls to zero while a handle holds COM objects.
class ComPort {
public:
    virtual ~ComPort() = default;
    virtual void Initialize() = 0;
    virtual void Uninitialize() = 0;
};

// Threads for the Sonix and Quelmar downloads, started with default attributes. Dialog thread.
class WorkerThreadPort {
public:
    virtual ~WorkerThreadPort() = default;
    // Starts `body` on a new thread; returns its token, 0 when no thread could be started (the body
    // is then never run).
    virtual uintptr_t Start(std::function<void()> body) = 0;
    // Waits at most `milliseconds` for the thread to end. true when it has ended, and its token is
    // then released (a token of 0 counts as ended); false when it is still running, and the token
    // stays valid.
    virtual bool Wait(uintptr_t thread, uint32_t milliseconds) = 0;
};

// BurnerApLib.dll, imported. The library finds the Sonix camera itself; no handle crosses. Every
// call blocks until the library returns; calls come from the dialog thread (identification, and
// GetProgress while a write runs) and from the download worker (the rest), one at a time except
// GetProgress, which the library allows beside a running write.
class SonixBurnerPort {
public:
    static constexpr int32_t kMaxPaths = 24;
    static constexpr int32_t kPathChars = 260;
    static constexpr uint8_t kRequestWrite = 6;
    static constexpr uint8_t kRequestRead = 7;

    virtual ~SonixBurnerPort() = default;
    // Makes the library callable, once, at start-up before any other call: loads it from the
    // tool's folder or the system folders (never the current directory) and binds every entry
    // point. false: no usable library; `missingEntry` then names the entry point it lacks, or is
    // empty when the library itself is missing. No other call may be made after a false.
    virtual bool Bind(std::string& missingEntry) = 0;
    // Above 0: the number of Sonix devices, and the interface is ready; -1 no device, -2 an
    // unrecognised back end, -3 no control interface.
    virtual int32_t InitializeDriverInterface() = 0;
    // Up to maxPaths zero-terminated paths of at most pathChars characters into the caller's
    // zero-filled block; their number into *count. false: no list.
    virtual bool GetDeviceList(char16_t (*paths)[kPathChars], int32_t maxPaths, int32_t pathChars,
                               int32_t* count) = 0;
    // 8 bytes: the ROM name at 0..4, a small number at 5. false: not read.
    virtual bool GetRomVersion(char* version8) = 0;
    virtual bool GetSectorTableAddr(uint16_t* address) = 0;
    // Chip bytes at address, address + 1, ... into the buffer (8 of them).
    virtual bool ProcReadFromAsic(uint16_t address, uint8_t* buffer) = 0;
    // kRequestRead: length bytes of the flash at address into buffer; kRequestWrite: the reverse.
    virtual bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) = 0;
    // false lifts the flash's write protection, true restores it.
    virtual bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) = 0;
    virtual bool EraseSf() = 0;
    // 0..100 of the running (or last) write. Any thread.
    virtual uint32_t GetProgress() = 0;
    virtual int32_t ResetDevice() = 0;
};

// What the USB identity query of the camera-access library reports.
struct CameraIdentity {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t rev = 0;
};

// The camera-access library, linked: one camera handle that the tool owns. Results follow the
// library (0 success; Init: 0 a Quelmar camera is open, 1 none, 160 bad arguments). Calls block
// until the camera has answered (SwitchMode until the chip is back, at most 20 s). The dialog
// thread makes every call except Download, which the Quelmar worker makes while the dialog thread
// leaves the handle alone.
class QuelmarCameraPort {
public:
    virtual ~QuelmarCameraPort() = default;
    virtual bool HasHandle() const = 0;
    virtual void CreateHandle() = 0;
    // Releases the handle and everything it holds; harmless without one.
    virtual void DestroyHandle() = 0;
    virtual int Init(char family, int device) = 0;
    virtual int UsbIdentity(CameraIdentity& out) = 0;
    virtual int ChipFamily(char& family) = 0;
    virtual int ProbeFlashType(uint8_t& code) = 0;
    // The family 'l' mode switch (nothing for other families).
    virtual int SwitchMode(int device) = 0;
    // Writes `length` bytes of `image` (patched in place) as a download job. The library writes its
    // stage codes into *status and the percentage into *progress while it runs, without locks.
    virtual int Download(uint8_t* image, uint32_t length, uint8_t flashType, uint8_t* status,
                         uint8_t* progress) = 0;
    // Reads the first `length` bytes of the flash (at most 64 KiB, what the library addresses) into
    // `buffer`, with the command table of `flashType` (the probe's code). 0 when every byte arrived.
    virtual int ReadFlash(uint8_t* buffer, uint32_t length, uint8_t flashType) = 0;
    // Records every extension-unit request to `file` from now on (nothing for a camera that cannot
    // be recorded). False when the file cannot be made; the run goes on unrecorded.
    virtual bool RecordTo(const std::string& file) {
        (void)file;
        return false;
    }
};

}  // namespace orlinde
