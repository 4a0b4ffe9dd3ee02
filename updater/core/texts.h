// Every text of the updater Tessaw that leaves the program: messages, log lines, debug trace lines,
// captions and file names, byte for byte. Tests and the Win32 shell share them from here.
#pragma once

namespace tessaw {

// Files, relative to the program directory (which start-up makes the current directory).
inline constexpr const char* kConfigFile = ".\\config.ini";
inline constexpr const char* kDevFile = ".\\dev.vrk";
inline constexpr const char* kIdLogFile = ".\\ID_Log.ini";
inline constexpr const char* kConfigName = "config.ini";
inline constexpr const char* kDevName = "dev.vrk";
inline constexpr const char* kIdLogName = "ID_Log.ini";
inline constexpr const char* kSubSystemIdName = "SubSystemID.exe";
inline constexpr const char* kRvcLibName = "RvcLib.dll";
inline constexpr const char* kQuelmarLibName = "QuelmarCamera.dll";

// Identity.
inline constexpr const char* kVendorId = "3A7C";
inline constexpr const char* kAnySystem = "XXXX";

// Start-up failures (exit codes in session.h).
inline constexpr const char* kNoRvcLib = "Can not find RvcLib.dll file!\r\n";
inline constexpr const char* kNoQuelmarLib = "Can not find QuelmarCamera.dll file!\r\n";
inline constexpr const char* kNoBurnerApLib = "Can not find BurnerApLib.dll file!\r\n";
inline constexpr const char* kBurnerApLibEntryMissing =
    "BurnerApLib.dll has no entry point %s: ship the vendor's BurnerApLib.dll!\r\n";
inline constexpr const char* kNoConfig = "Can not find config.ini file!\r\n";
inline constexpr const char* kReadConfigFailed = "Read config.ini failed!\r\n";
inline constexpr const char* kNoDevVrk = "Can not find dev.vrk file!\r\n";
inline constexpr const char* kNoSubSystemId = "Can not find SubSystemID.exe file!\r\n";
inline constexpr const char* kNoMatchedDevice = "No matched device!\r\n";
// A camera in ROM mode (dev.vrk's ROM key) with no single Quelmar entry for this computer.
inline constexpr const char* kRomNoEntry =
    "Camera in ROM mode (VID_%s&PID_%s): no Quelmar firmware entry of config.ini fits this computer (SysID %s)!\r\n";
inline constexpr const char* kRomSeveralEntries =
    "Camera in ROM mode (VID_%s&PID_%s): %d Quelmar firmware entries of config.ini fit this computer (SysID %s), "
    "so its firmware is not known!\r\n";
// The wait for the subsystem ID is bounded; this is what a run that ran out of time reports.
inline constexpr const char* kNoSystemId = "Can not get system ID from ID_Log.ini!\r\n";
inline constexpr const char* kComboError = "Combo device error!\r\n";

// The program's own path does not fit its buffer (exit code 16, like a missing RvcLib.dll: nothing
// can be loaded from the program's folder).
inline constexpr const char* kProgramPathTooLong =
    "The folder path of the program is too long: Tessaw.exe's full path has more than %u characters; "
    "move the kit to a shorter folder!\r\n";

// Start-up trace.
inline constexpr const char* kRegisterFailed = "Register device notification failed!\r\n";
inline constexpr const char* kRegistered = "RegisterDeviceNotification %x\r\t";
inline constexpr const char* kGetConfigPass = "get config.ini pass\r\n";
inline constexpr const char* kGetDevVrkPass = "get dev.vrk pass\r\n";
inline constexpr const char* kGetSystemIdFailed = "get system id failed!\r\n";
inline constexpr const char* kGetSystemIdOk = "get system id successful\r\n";
inline constexpr const char* kMissingEntryPoint = "%s has no entry point %s\r\n";
inline constexpr const char* kBadLogSwitch = "LogSwitch \"%s\" is not 0, 1 or 2: no log file\r\n";
inline constexpr const char* kLogNotOpened = "Log file %s cannot be opened: no log file\r\n";
inline constexpr const char* kCloseRefused = "Close refused while flashing\r\n";
inline constexpr const char* kThreadFailed = "Update thread cannot be started\r\n";
inline constexpr const char* kNoFlow = "No flashing flow for chip family %d\r\n";

// Update driver.
inline constexpr const char* kLogSaveAs = "Log file save as %s\r\n";
inline constexpr const char* kNoLogFile = "No log file!\r\n";
inline constexpr const char* kRunSeparator = "===========================\r\n";
inline constexpr const char* kVidPid = "VID=%s, PID=%s\r\n";
inline constexpr const char* kCurrentRev = "Current FW version = REV_%s\r\n";
inline constexpr const char* kNowUpdating = "Now updating ...";
inline constexpr const char* kRealtekUpdate = "Realtek fw update ...\r\n";
inline constexpr const char* kSonixUpdate = "Sonix fw update ...\r\n";
inline constexpr const char* kQuelmarUpdate = "Quelmar fw update ...\r\n";
inline constexpr const char* kQuelmarDownloaded = "Quelmar downloaded...\r\n";
inline constexpr const char* kQuelmarUnInit = "Quelmar CamUnInit...\r\n";
inline constexpr const char* kQuelmarUnInitDone = "Quelmar CamUnInit'd...\r\n";
inline constexpr const char* kCameraInitFailed = "Camera init failed!\r\n";
inline constexpr const char* kDriverTooOld = "Device driver is too old, please upgrade it!\r\n";
inline constexpr const char* kCheckDriverFailed = "Check device driver failed! ::%d\r\n";
inline constexpr const char* kBeforeCheckDevice = "Before CheckDevice()...\n";
inline constexpr const char* kAfterCheckDevice = "After CheckDevice()...\n";
inline constexpr const char* kUpdateFinished = "Update finished\r\n";
inline constexpr const char* kUpdatedSuccessfully = "Updated successfully\r\n";
inline constexpr const char* kResultSuccess = "Update successfully";
// Refusals of the checks a packager turns on in config.ini's [Checks] (exit codes in session.h).
inline constexpr const char* kRefuseLowBattery =
    "Battery charge is %d%%, below the %d%% needed: please connect the AC adapter!\r\n";
inline constexpr const char* kRefuseOnBattery = "Computer runs on battery: please connect the AC adapter!\r\n";
inline constexpr const char* kRefuseImageOther =
    "FW file is for VID_%04X&PID_%04X, not for this camera (VID_%s&PID_%s)!\r\n";
inline constexpr const char* kRefuseImageShort = "FW file is too short to hold its identity block (%u bytes)!\r\n";
inline constexpr const char* kRefuseImageLarge =
    "FW file of %u bytes does not fit the camera's memory of %d bytes!\r\n";
inline constexpr const char* kRefuseNoFamily = "Can not tell the camera's chip family to check the FW file!\r\n";
inline constexpr const char* kRefuseUpToDate = "FW is already up to date (REV_%04X)\r\n";
inline constexpr const char* kRefuseDowngrade = "FW file REV_%04X is older than the camera's REV_%s: not downgraded\r\n";
// The backup that config.ini's [FW_TOOL] Backup=1 asks for (exit code in session.h). A backup that
// cannot be made stops the update before anything is erased.
inline constexpr const char* kBackupReading = "Backup camera firmware ...\r\n";
inline constexpr const char* kBackupSaved = "Backup of the camera firmware saved as %s (%u bytes)\r\n";
inline constexpr const char* kBackupReadFailed =
    "Backup failed: the camera's memory could not be read (%u of %u bytes), nothing was written!\r\n";
inline constexpr const char* kBackupNotSaved =
    "Backup failed: %s could not be written, nothing was written to the camera!\r\n";
inline constexpr const char* kBackupNotPossible =
    "Backup failed: the memory of a Realtek camera cannot be read through RvcLib.dll, nothing was written!\r\n";
// A version check that cannot be made goes on with the update, and says so in the log.
inline constexpr const char* kVersionNotChecked = "FW file revision cannot be read for this camera: version not checked\r\n";
// Trace lines of the checks.
inline constexpr const char* kPowerTrace = "Power check: source %d, charge %d%%\r\n";
inline constexpr const char* kIdentityTrace = "Identity check: family %c, file VID_%04X&PID_%04X&REV_%04X\r\n";
inline constexpr const char* kPleaseReboot = "Please reboot computer\r\n";
inline constexpr const char* kUpdateUnsuccessful = "Update unsuccessful\r\n";
inline constexpr const char* kResultFailure = "Update unsuccessful";
inline constexpr const char* kPleaseRebootRetry = "Please reboot computer and try it again\r\n";
inline constexpr const char* kAllCleaningUp = "All cleaning up...\n";

// Realtek flashing flow.
inline constexpr const char* kUvcOpen = "UVC_Open(%d)=0x%x\n";
inline constexpr const char* kUvcVidPid = "UVC_GetDevVIDPID(0x%x) => VID=%04x\tPID=%04x\r\n";
inline constexpr const char* kFoundDevice = "Device #%d ID:\tVID=%04x\tPID=%04x\r\n";
inline constexpr const char* kFindDevices = "Find %d camera device\r\n";
inline constexpr const char* kComboMismatch = "UVCOpen() miss-match, abort!\r\n";
inline constexpr const char* kDeviceRule = "----------------------------------------\r\n";
inline constexpr const char* kDeviceHeading = "Device #%d, VID=%04x, PID=%04x\r\n";
inline constexpr const char* kEepromInfo = "EEPROMInfo2(%d)=%d => eepromID=%d, size=%d\r\n";
inline constexpr const char* kEepromInfoFailed = "GetEEPROMInfo return %d.\n";
inline constexpr const char* kDownloadMode = "Change to download mode ...\r\n";
inline constexpr const char* kBeforeWrite = "Before EEPROMWrite3(%d, %d, %d, 0x%x, pfnProgressCallBack) ...\r\n";
inline constexpr const char* kAfterWrite = "After EEPROMWrite3(%d, %d, %d, 0x%x, pfnProgressCallBack)=%d\r\n";
inline constexpr const char* kFwUpdateError = "FW update error (%d)\r\n";
inline constexpr const char* kProgressTrace = "pfnProgressCallBack(%d, %d)\n";
inline constexpr const char* kDownloadStage = "Download Stage is: %d / %d\r\n";
inline constexpr const char* kVerifyStage = "Verify Stage is: %d / %d\r\n";
// A camera whose firmware cannot be prepared is left alone, and so are the ones after it.
inline constexpr const char* kRtkNoBinName =
    "No FW file is named for PID %s in config.ini, please name one and try again!\r\n";
inline constexpr const char* kRtkFileEmpty = "File %s is empty, please check the file and try again!\r\n";
inline constexpr const char* kRtkBadSize =
    "EEPROM size %d of device #%d is not usable, please reconnect the camera and try again!\r\n";
inline constexpr const char* kRtkTooManyDevices = "UVC_Open answers beyond %d cameras, enumeration stopped\r\n";

// Quelmar flashing flow.
inline constexpr const char* kReadBackFile = "C:\\Read.bin";
inline constexpr const char* kReadBackNotSaved = "%s cannot be written\r\n";
inline constexpr const char* kUnknownFlashType = "Unknown flash type 0x%02X!\r\n";
inline constexpr const char* kProtectOffFailed = "SetWriteProtect disable failed!\r\n";
inline constexpr const char* kProtectOffDone = "SetWriteProtect disable successful\r\n";
inline constexpr const char* kProtectOnFailed = "SetWriteProtect enable failed!\r\n";
inline constexpr const char* kProtectOnDone = "SetWriteProtect enable successful\r\n";
inline constexpr const char* kEraseMemory = "Erase memory ...\r\n";
inline constexpr const char* kEraseFailed = "Erase memory failed!\r\n";
inline constexpr const char* kEraseDone = "Erase memory ok\r\n";
inline constexpr const char* kWriteFirmware = "Write firmware ...\r\n";
inline constexpr const char* kWriteFailed = "Write firmware failed!\r\n";
inline constexpr const char* kWriteProgress = "Write firmware ...%02d%%\r\n";
// Written as a plain text, not a format: the log shows one percent sign.
inline constexpr const char* kWriteComplete = "Write firmware ...100%\r\n";
inline constexpr const char* kVerifyCode = "Verify code ...\r\n";
inline constexpr const char* kVerifyFailed = "Verify code failed!\r\n";
inline constexpr const char* kVerifyProgress = "Verify code ...%02d%%\r\n";
inline constexpr const char* kVerifyComplete = "Verify code ...100%\r\n";
inline constexpr const char* kResetCamera = "Reset camera device ...\r\n";
inline constexpr const char* kResetResult = "Reset = %x\n";
inline constexpr const char* kResetFailed = "Reset camera device failed!\r\n";

// Sonix flashing flow (besides the texts it shares with the Quelmar flow).
inline constexpr const char* kSonixProtectOffFailed = "SetWriteProtect to disable failed!\r\n";
inline constexpr const char* kSonixProtectOnFailed = "SetWriteProtect to enable failed!\r\n";
inline constexpr const char* kUpdateStart = "Update start\r\n";
inline constexpr const char* kSonixImageTooShort =
    "Firmware file has %u bytes, less than one %u-byte chunk: the camera was not touched; "
    "check the firmware file!\r\n";
inline constexpr const char* kSonixProtectByteUnread = "Protection byte at 0x%04X cannot be read\r\n";

// Plug events.
inline constexpr const char* kChangeWhileFlashing = "DeviceChange(%x,%x) during flashing\n";
inline constexpr const char* kArrival = "DeviceChange - device arrival\r\n";
inline constexpr const char* kRemoval = "DeviceChange - device remove complete\r\n";

// Update log line forms.
inline constexpr const char* kPlainLine = "----------------: %s";
inline constexpr const char* kErrorLine = "----------------: Error: %s";
inline constexpr const char* kViewPrefix = "----------------: ";
inline constexpr const char* kClosingLine = "----------------: \n";
inline constexpr const char* kDateLine = "\r\n%Y/%m/%d    %H:%M\r\n";
inline constexpr const char* kRunStamp = "\r\n%a    %Y-%m-%d\r\n%H:%M\r\n";
inline constexpr const char* kStamp = "%10.3f\t";
inline constexpr const char* kLogInTemp = "%sFW Update Log.log";
inline constexpr const char* kLogInProgramDir = ".\\FW Update Log.log";

// Configuration trace.
inline constexpr const char* kConfigSectionCut =
    "[Config] of config.ini does not fit in %u characters: \"%s\" and what follows are not used\r\n";
inline constexpr const char* kEntryTrace = "SysID= %s, PID= %s, ModID= %s, BinName= %s\r\n";
inline constexpr const char* kRealtekHeading = "[REALTEK_PID]\r\n";
inline constexpr const char* kSonixHeading = "[SONIX_PID]\r\n";
inline constexpr const char* kQuelmarHeading = "[QUELMAR_PID]\r\n";
inline constexpr const char* kQuelmarRomHeading = "[QUELMAR_ROM]\r\n";
inline constexpr const char* kRomItem = "%s:%s\r\n";
inline constexpr const char* kRomItemSkipped = "dev.vrk [QUELMAR] ROM item \"%s\" skipped: not VID:PID in hexadecimal\r\n";
inline constexpr const char* kModelQuelmarRom = "Model: Quelmar series in ROM mode (VID_%s PID_%s) ...\r\n";
inline constexpr const char* kComboHeading = "[COMBO_PID]\r\n";
inline constexpr const char* kListItem = "%s\r\n";
inline constexpr const char* kPairItem = "%04x + %04x\r\n";

// Identification trace.
inline constexpr const char* kHardwareIdTrace = "Result:[%s]\r\n";
inline constexpr const char* kRecorded = "#%d: PID:%s ModID:%s REV:%s\r\n";
inline constexpr const char* kModelRealtek = "Model: Realtek series ...\r\n";
inline constexpr const char* kModelSonix = "Model: Sonix series ...\r\n";
inline constexpr const char* kModelQuelmar = "Model: Quelmar series ...\r\n";
inline constexpr const char* kComboFound = "Camera device found => PID:0x%s REV:%s\r\n";
inline constexpr const char* kComboFirst = "Combo device matched => PID_0:0x%s REV:%s\r\n";
inline constexpr const char* kComboSecond = "Combo device matched => PID_1:0x%s REV:0x%s\r\n";
inline constexpr const char* kComboDevice = "RTK combo device: 0x%s + 0x%s\r\n";
inline constexpr const char* kSingleDevice = "RTK single device: 0x%s\r\n";

// Firmware file.
inline constexpr const char* kNoFwFile = "Can not find FW file!\r\n";
inline constexpr const char* kFwMissing = "%s does not exist!\r\n";
inline constexpr const char* kFwOpenFailed = "Fail to open file %s.\r\n";
inline constexpr const char* kFwOpened = "Success to open file %s\r\n";
inline constexpr const char* kFwTooShort =
    "File %s has %u bytes, less than one %u-byte sector: the camera was not touched; "
    "check the firmware file!\r\n";

// Driver check.
inline constexpr const char* kDeviceKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_%s&Pid_%s&MI_00";
inline constexpr const char* kClassKey = "SYSTEM\\ControlSet001\\Control\\Class\\";

}  // namespace tessaw
