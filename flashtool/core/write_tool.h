// The bench write tool Orlinde as portable logic over ports: start-up, identification of the
// camera's chip family, settings and firmware choice, the checks before a download, the three
// download routes and the ready/busy/finished state machine that the dialog's timers drive.
//
// The Win32 shell (CDUDevodAvozDlg) owns one WriteTool, implements the ports and routes the dialog's
// messages to the handlers below, all on the dialog's thread: WM_INITDIALOG, the "Flash" button,
// WM_TIMER, WM_DEVICECHANGE, WM_ACTIVATE, the close requests and WM_DESTROY. Sonix and Quelmar
// downloads run on a worker thread (WorkerThreadPort); the Realtek download runs inside the timer
// handler on the dialog's thread and keeps the window alive through DialogPort::PumpMessages.
//
// Threads share the flags and the two bytes below without locks (a timer polls what a worker
// wrote); the log text is the one thing both change, and a mutex serialises it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kit/file_system.h"
#include "kit/library_loader.h"
#include "kit/process.h"
#include "kit/profile.h"
#include "kit/trace.h"
#include "kit/wall_clock.h"
#include "ports.h"
#include "rvclib_binding.h"
#include "settings.h"

namespace orlinde {

// The Quelmar image buffer, filled with 0xFF before each file is read into it.
inline constexpr uint32_t kImageBytes = 0x30000;
inline constexpr uint8_t kErasedByte = 0xFF;
// A Quelmar file shorter than one 4 KiB flash sector is refused: an empty or truncated file.
inline constexpr uint32_t kQuelmarMinFileBytes = 4096;
// The Sonix write is one request of the whole buffer; the flash beyond the file gets 0xFF.
inline constexpr uint32_t kSonixImageBytes = 65536;
// What a backup reads: the flash the camera-access library addresses, and the Sonix write's extent.
inline constexpr uint32_t kQuelmarBackupBytes = 0x10000;
inline constexpr uint32_t kSonixBackupBytes = kSonixImageBytes;
// What the tool presets before asking a Realtek camera's firmware memory.
inline constexpr int32_t kRealtekMemoryType = 3;
inline constexpr int32_t kRealtekPresetSize = 65536;
// A memory size a Realtek library may report and still be trusted with an allocation.
inline constexpr int32_t kRealtekMaxSize = 16 * 1024 * 1024;
inline constexpr size_t kRealtekMaxDevices = 2;
inline constexpr uint16_t kComboPid041f = 0x041F;
inline constexpr uint16_t kComboPid0604 = 0x0604;
// Timer periods and pauses.
inline constexpr uint32_t kRealtekStartMs = 200;
inline constexpr uint32_t kRealtekProgressMs = 200;
inline constexpr uint32_t kRearmMs = 2000;
inline constexpr uint32_t kSettleMs = 100;
// How long closing waits for a download thread that is finishing its last library call.
inline constexpr uint32_t kWorkerJoinMs = 10000;
// The tool's own path is read into this many characters.
inline constexpr uint32_t kFolderChars = 260;

struct WriteToolPorts {
    DialogPort& dialog;
    ComPort& com;
    WorkerThreadPort& workers;
    SonixBurnerPort& sonix;
    QuelmarCameraPort& quelmar;
    kit::LibraryPort& libraries;  // RvcLib.dll, by name
    kit::ProfileReader& profile;
    kit::FileSystemPort& files;
    kit::SystemPort& system;  // module path, Sleep
    kit::ConsolePort& console;
    kit::Trace& trace;
    kit::ClockPort& clock;  // the time in a backup's name
};

// Which camera the last identification found, and so which choice and which download route apply.
enum class Route { None, Quelmar, Sonix, Realtek };

struct RealtekDevice {
    int32_t index = 0;
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t rev = 0;
};

class WriteTool {
public:
    explicit WriteTool(const WriteToolPorts& ports);
    ~WriteTool();
    WriteTool(const WriteTool&) = delete;
    WriteTool& operator=(const WriteTool&) = delete;

    // A line the log view shows first, above everything the start-up logs (an emulated bench says
    // so there). Call before OnInitDialog.
    void SetLogNotice(std::string line) { logNotice_ = std::move(line); }

    // --- Dialog events (dialog thread) ---
    // Start-up. false when device notifications could not be registered: the dialog then stays
    // open with an empty log and "Flash" disabled.
    bool OnInitDialog();
    // The "Flash" button (1003).
    void OnFlash();
    void OnTimer(uint32_t id);
    // WM_DEVICECHANGE: `interfaceClass` is the class of a device-interface record (device type 5),
    // nullptr for other records. Returns whether the message was handled.
    bool OnDeviceChange(uint32_t event, uint32_t deviceType, const camlib::Guid* interfaceClass);
    // WM_ACTIVATE: paints the picture of the status byte again.
    void OnActivate();
    // The "Close" button (1033) or any other close request: true when the dialog may end now,
    // false while a download runs (the camera would be left half-written).
    bool OnClose();
    // The dialog window is going: waits for the last download thread, releases the camera handle,
    // the image buffer and RvcLib.dll. Safe to call more than once.
    void OnDestroy();

    // --- State, for the shell and tests ---
    std::string LogText() const;
    const std::string& Folder() const { return folder_; }
    const Settings& CurrentSettings() const { return settings_; }
    Route CurrentRoute() const { return route_; }
    bool Ready() const { return ready_; }
    int32_t Busy() const { return busy_; }
    bool Finished() const { return finished_; }
    bool Success() const { return success_; }
    bool Downloading() const { return downloading_; }
    uint8_t StatusByte() const;
    uint8_t ProgressByte() const;
    bool Loaded() const { return loaded_; }
    uint32_t ImageSize() const { return imageSize_; }
    const std::vector<uint8_t>& Image() const { return image_; }
    const std::string& FirmwarePath() const { return firmwarePath_; }
    const std::string& ComboPath(size_t i) const { return comboPaths_[i]; }
    const std::string& ModuleId() const { return moduleId_; }
    const CameraIdentity& Identity() const { return identity_; }
    FileVersion QuelmarFileVersion() const { return fileVersion_; }
    const std::vector<RealtekDevice>& RealtekDevices() const { return realtekDevices_; }
    bool RealtekMode() const { return realtekMode_; }
    const RvcLibBinding& Rvc() const { return rvc_; }
    uint16_t SonixVersion() const { return sonixVersion_; }
    // The bytes done and total of the last Realtek progress callback.
    uint32_t RealtekDone() const { return realtekDone_; }
    uint32_t RealtekTotal() const { return realtekTotal_; }

private:
    // Log text.
    void Log(const std::string& text);
    void LogF(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void RefreshLog();

    // Identification, settings and firmware choice.
    void Identify();
    void ForgetChoice();
    void QuelmarPath();
    void SonixPath();
    // The camera the library answers for `d`'s index is still `d` (same VID and PID).
    bool StillAtIndex(const RealtekDevice& d);
    bool RealtekPath();  // false: the identification ends here
    bool SettingsExist();
    void StartRecording();
    void SettingsAndChoice();
    bool PidChoice();
    bool RealtekChoice();
    std::string PidFile() const;
    std::string BinPath(const std::string& name) const;
    void ShowModuleId(const std::string& text);
    bool ReadFirmwareFile(const std::string& path);
    // Opens `path` and reads all of it into `out` (which keeps its size), refusing a missing or
    // empty file and one longer than out.size() with a log line.
    bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, uint32_t& length);

    // Downloads.
    void FlashAction();
    void Refuse(const char* message);
    // CheckImageId: false, with the reason logged and the Fail picture shown, when the loaded
    // Quelmar image is not for the identified camera.
    bool ImageFitsCamera();
    // The Quelmar camera shows one of its chip's ROM identities (no firmware booted: blank, or a
    // download that did not end), so its release is the ROM's and its IDs name no module.
    bool RomIdentity() const;
    void BeginRunning();
    void StartWorker(void (WriteTool::*body)(), uint32_t imageSize);
    bool RealtekVersionCurrent() const;
    // Keeps `held` (what the camera holds) in the tool's folder and logs it; false, logged, when the
    // file could not be written.
    bool KeepBackup(const std::vector<uint8_t>& held, uint16_t rev);
    // A worker's end before anything was written: the progress timer shows "Fail".
    void EndWithoutWriting(const char* message);
    void QuelmarWorker();
    void SonixWorker();
    void EndSonix(const char* message);
    void RealtekDownload();
    void ProgressTick();
    void EndOfDownload();
    void SetStatus(uint8_t status);
    void SetProgress(uint8_t progress);
    static void RVCLIB_CALL RealtekProgress(uint32_t done, uint32_t total);
    void OnRealtekProgress(uint32_t done, uint32_t total);

    WriteToolPorts ports_;
    RvcLibBinding rvc_;

    mutable std::mutex logLock_;
    std::string log_;
    std::string logNotice_;

    std::string folder_;
    std::string settingsPath_;
    Settings settings_;
    Route route_ = Route::None;
    int libraryStatus_ = 1;
    int32_t sonixCount_ = 0;
    CameraIdentity identity_;
    FileVersion fileVersion_;
    uint16_t sonixVersion_ = 0;
    std::string sonixVidText_, sonixPidText_;
    char family_ = 0;
    uint8_t flashType_ = 0;

    bool sonixBound_ = false;  // BurnerApLib.dll bound at start-up
    bool realtekMode_ = false;
    bool pathTooLong_ = false;  // the tool's own path did not fit in kFolderChars
    std::vector<RealtekDevice> realtekDevices_;
    std::string ver_ = "0000";

    std::string moduleId_;
    std::string firmwarePath_;
    std::string comboPaths_[kRealtekMaxDevices];
    std::vector<uint8_t> image_;
    uint32_t imageSize_ = 0;
    bool loaded_ = false;
    std::vector<uint8_t> sonixImage_;
    uint32_t sonixSize_ = 0;

    std::atomic<bool> ready_{false};
    std::atomic<int32_t> busy_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> success_{false};
    bool downloading_ = false;
    // Written by the camera-access library during a Quelmar download (plain stores).
    uint8_t status_ = kStatusIdle;
    uint8_t progress_ = 0;
    bool progressBarKnown_ = false;
    uintptr_t worker_ = 0;
    uint32_t realtekDone_ = 0, realtekTotal_ = 0;
    bool destroyed_ = false;
};

}  // namespace orlinde
