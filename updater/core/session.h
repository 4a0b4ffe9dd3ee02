// The update session of Tessaw: start-up, the FLASH command, the update driver, plug events and the
// closing steps, as portable logic over ports. The Win32 shell (CUpdateApp, CUpdateDlg) creates one
// UpdateSession for its dialog, routes the dialog's messages to it and implements the ports.
//
// Threads: everything here runs on the dialog's (main) thread except RunUpdate, which the FLASH
// command starts on the update worker thread. The worker reaches the dialog only through the dialog
// port: the three update messages (sent), button states, the result field, repaints and a posted
// close request.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "bindings.h"
#include "flash_flow.h"
#include "identify.h"
#include "kit/backup_file.h"
#include "kit/driver_registry.h"
#include "kit/file_system.h"
#include "kit/hidden_start.h"
#include "kit/library_loader.h"
#include "kit/process.h"
#include "kit/profile.h"
#include "kit/trace.h"
#include "kit/wall_clock.h"
#include "model.h"
#include "ports.h"
#include "prechecks.h"
#include "update_log.h"

namespace tessaw {

// Controls of dialog template 102.
inline constexpr int kIdcProgress = 1001;
inline constexpr int kIdcLogView = 1002;
inline constexpr int kIdcStatus = 1003;
inline constexpr int kIdcFlash = 1004;
inline constexpr int kIdcExit = 1005;
inline constexpr int kIdcSystemId = 1006;
inline constexpr int kIdcModuleId = 1007;
inline constexpr int kIdcResult = 1009;
inline constexpr int kIdcAutoScroll = 1010;

// Messages the worker sends to the dialog.
inline constexpr uint32_t kWmUpdateSetPos = kit::kWmUser + 18;
inline constexpr uint32_t kWmUpdateSetRange = kit::kWmUser + 19;
inline constexpr uint32_t kWmUpdateShowText = kit::kWmUser + 20;
// lParam of kWmUpdateShowText.
inline constexpr intptr_t kShowAndStatus = 0;
inline constexpr intptr_t kShowOnly = 1;

// WM_DEVICECHANGE events.
inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;

// Process exit codes.
enum : int {
    kExitSuccess = 0,
    kExitUnsuccessful = 1,
    kExitNoRvcLib = 16,
    kExitNoQuelmarLib = 17,
    kExitNoConfig = 18,
    kExitNoSubSystemId = 19,
    kExitNoMatchedDevice = 20,
    kExitSonixInit = 21,
    kExitQuelmarInit = 22,
    kExitDriverTooOld = 23,
    kExitDriverCheck = 24,
    kExitNoDevVrk = 34,
    kExitReadConfig = 35,
    kExitCombo = 37,
    // SubSystemID.exe left no usable ID_Log.ini within kSystemIdLimitMs.
    kExitNoSystemId = 38,
    // The shell could not create the dialog (no display, damaged resources): nothing was started.
    kExitNoDialog = 39,
    // The checks of config.ini's [Checks] (off unless turned on). 40 to 43 are no Windows error
    // code (winerror.h skips from 39 to 50) and none of the codes above, so a script can tell them
    // apart from every other way Tessac ends.
    kExitUpToDate = 40,     // the camera holds the file's revision already: nothing to do
    kExitNoDowngrade = 41,  // the file's revision is older than the camera's: nothing to do
    kExitPower = 42,        // on battery (below the charge asked for): try again on mains
    kExitWrongImage = 43,   // the file is not for this camera: a person must look
    // BurnerApLib.dll is not beside the program (nor in the system folders), or lacks an entry point.
    kExitNoBurnerApLib = 44,
    // config.ini asked for a backup of the camera's memory and it could not be made (read, or
    // written to disk): nothing was erased. No Windows error code either.
    kExitNoBackup = 45,
    // A camera in ROM mode (dev.vrk's [QUELMAR] ROM) and no single Quelmar entry for this computer
    // to give it: none, or several. 45 is the backup's.
    kExitRomNoFirmware = 46,
};

// The wait for ID_Log.ini and its SYSID: SubSystemID.exe needs well under a second; half a minute
// covers a slow, busy machine without leaving an unattended run hanging for ever.
inline constexpr uint32_t kSystemIdPollMs = 100;
inline constexpr uint32_t kSystemIdLimitMs = 30000;
// How long the camera gets to come back after a flow before it is identified again.
inline constexpr uint32_t kSettleMs = 5000;
// GetModuleFileName and GetTempPath are read into buffers of this many characters.
inline constexpr uint32_t kPathChars = 300;

struct SessionPorts {
    kit::DialogPort& dialog;
    kit::Trace& trace;
    kit::ProfileReader& profile;
    kit::SystemPort& system;  // module path, current directory, Sleep
    kit::FileSystemPort& files;
    kit::ClockPort& clock;
    kit::ProgramStartPort& programs;
    kit::UsbDevicePort& usb;
    kit::StillCapturePort& stillCapture;
    kit::RegistryPort& registry;
    kit::LibraryPort& libraries;
    kit::ThreadPort& threads;
    SonixLibraryPort& sonix;
};

// A null flow is one that is not built in: the update then ends unsuccessful at the dispatch.
struct FlashFlows {
    FlashFlow* realtek = nullptr;
    FlashFlow* sonix = nullptr;
    FlashFlow* quelmar = nullptr;
};

class UpdateSession {
public:
    // `commandLine` is the program's argument text without the program name; "-s" in either case,
    // and nothing else, selects silent mode.
    UpdateSession(const std::string& commandLine, const SessionPorts& ports, FlashFlows flows = {});
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    static bool IsSilentCommandLine(const std::string& commandLine);

    // A line the log file gets once, as a plain line, as soon as config.ini has opened it (an
    // emulated bench says so there). Call before OnInitDialog.
    void SetLogNotice(std::string line) { logNotice_ = std::move(line); }
    // Where the power check reads the power state; without one the state is unknown (passes).
    void SetPowerPort(kit::PowerPort* power) { power_ = power; }

    // --- Dialog events (main thread) ---
    // Start-up. true when the dialog is ready for FLASH; false when a failure closed it.
    bool OnInitDialog();
    // FLASH clicked: the combo check, then the update driver on a worker thread.
    void OnFlash();
    // WM_UPDATE_SETPOS, WM_UPDATE_SETRANGE and WM_UPDATE_SHOWTEXT; returns the message result (0).
    intptr_t OnUpdateMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void OnAutoScroll();
    // WM_DEVICECHANGE; always answers true.
    bool OnDeviceChange(uint32_t event, uintptr_t data);
    // Esc, WM_CLOSE and the Exit button: destroy the dialog, except while an update runs that did
    // not ask for the close itself (the camera must not be abandoned half-written).
    void OnCancel();
    // The closing steps, when the dialog window is destroyed.
    void OnDestroy();
    // Key-down messages are swallowed while an update runs.
    bool SwallowsKeyDown() const { return flashing_; }

    // --- The update driver (update worker thread) ---
    void RunUpdate();

    // --- State, for the shell, the flows and tests ---
    bool Silent() const { return silent_; }
    int ExitCode() const { return exitCode_; }
    void SetExitCode(int code) { exitCode_ = code; }
    bool Ready() const { return ready_; }
    bool Flashing() const { return flashing_; }
    bool Closed() const { return closed_; }
    bool Success() const { return success_; }
    void SetSuccess(bool success) { success_ = success; }
    bool AutoScroll() const { return autoScroll_; }
    const std::string& StatusText() const { return status_; }
    const std::string& Caption() const { return caption_; }
    const std::string& ProgramDir() const { return programDir_; }
    const std::string& LogPath() const { return logPath_; }
    const std::string& SystemId() const { return systemId_; }
    const std::string& MinDriverVersion() const { return minDriverVersion_; }
    const CheckSettings& Checks() const { return checks_; }
    int32_t DriverCheckCode() const { return driverCheckCode_; }
    const char* RomVersion() const { return romVersion_; }
    Identity& Device() { return device_; }
    std::vector<FirmwareEntry>& Entries() { return entries_; }
    const DevLists& Lists() const { return lists_; }
    FirmwareImage& Image() { return image_; }

    // --- Services for the flows (worker thread) ---
    CStdioFileEx& Log() { return log_; }
    kit::Trace& Trace() { return ports_.trace; }
    kit::DialogPort& Dialog() { return ports_.dialog; }
    kit::FileSystemPort& Files() { return ports_.files; }
    kit::StillCapturePort& StillCapture() { return ports_.stillCapture; }
    kit::ClockPort& Clock() { return ports_.clock; }
    RvcLibBinding& Rvc() { return rvc_; }
    QuelmarBinding& Quelmar() { return quelmar_; }
    SonixLibraryPort& Sonix() { return ports_.sonix; }
    // WM_UPDATE_SHOWTEXT, WM_UPDATE_SETRANGE, WM_UPDATE_SETPOS, sent to the dialog.
    void ShowText(const std::string& text, intptr_t lParam = kShowAndStatus);
    void SetProgressRange(uint32_t upper);
    void SetProgressPos(uint32_t position);
    // A text to the debug trace; a plain line to the update log.
    void TraceText(const std::string& text);
    void PlainLog(const std::string& text);
    // A flow's step: debug trace, plain log line, log view and Status field.
    void ReportStep(const std::string& text);
    // A check refused the update before anything reached the camera: date and error lines, trace,
    // message box when interactive, the exit code and the close request. The driver then ends.
    void Refuse(int code, const std::string& message);
    bool Refused() const { return refused_; }
    // The version check of a camera whose file revision cannot be known: said in trace and log.
    void VersionNotChecked();
    // config.ini's [FW_TOOL] Backup: the flows read what the camera holds before the first erase.
    bool BackupWanted() const { return backup_; }
    const std::string& BackupFolder() const { return backupFolder_; }
    // Keeps `bytes` (what the camera held) as the backup file beside the log and says so; when the
    // file cannot be written the update is refused (kExitNoBackup) and false returned.
    bool KeepBackup(const std::vector<uint8_t>& bytes);
    // The backup could not be read: the update is refused with kBackupReadFailed.
    void BackupReadFailed(uint32_t done, uint32_t total);
    // Identifies the attached cameras again and shows the module IDs (the Module ID field keeps its
    // text when the present devices cannot be listed).
    void Identify();

private:
    // A failure of start-up or of the combo check: date and error lines, trace, message box when
    // interactive, the exit code, and the close request handled at once. Returns false.
    bool ReportAndClose(int code, const std::string& message, bool errorIcon);
    bool ReadConfig();
    bool WaitForSystemId();
    void Identify(bool first);
    void RefreshControls();
    // true when the driver has to end at once (silent mode).
    bool DriverFailure(int code, const std::string& message, bool errorForm);
    bool LoadFirmwareFile();
    // The checks of [Checks]; false when one refused the update.
    bool CheckPower();
    bool CheckQuelmarImage();
    // false when the driver has to end at once.
    bool Dispatch();
    void RunFlow(FlashFlow* flow);
    // The outcome lines, the exit code and the clean-up of a run that was not cut short.
    void EndRun();
    void RequestClose();

    SessionPorts ports_;
    FlashFlows flows_;
    Identifier identifier_;
    const bool silent_;

    std::atomic<int> exitCode_{kExitSuccess};
    std::atomic<bool> ready_{false};
    std::atomic<bool> flashing_{false};
    std::atomic<bool> closeRequested_{false};
    std::atomic<bool> closed_{false};
    std::atomic<bool> success_{false};
    std::atomic<bool> refused_{false};

    CStdioFileEx log_;
    RvcLibBinding rvc_;
    QuelmarBinding quelmar_;
    uintptr_t notification_ = 0;
    bool firstIdentification_ = true;
    bool autoScroll_ = true;
    std::string logNotice_;
    std::string status_;
    std::string caption_;
    std::string programDir_;
    std::string logPath_;
    std::string minDriverVersion_;
    CheckSettings checks_;
    bool backup_ = false;
    std::string backupFolder_;
    kit::PowerPort* power_ = nullptr;
    std::string systemId_;
    std::vector<FirmwareEntry> entries_;
    DevLists lists_;
    Identity device_;
    FirmwareImage image_;
    int32_t driverCheckCode_ = 0;
    char romVersion_[16] = {};
};

}  // namespace tessaw
