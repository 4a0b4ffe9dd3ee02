// Every text of the bench write tool Orlinde that leaves the program (log lines, captions, message
// boxes, file and section names, library names), byte for byte. Tests and the Win32 shell share
// them from here. Several log texts have no line end on purpose: the next one continues the line.
#pragma once

namespace orlinde {

// Window.
inline constexpr const char* kCaptionName = "Brevant Serial Flash Write";
inline constexpr const char* kCaptionTool = " Tool for ALL IC ";
inline constexpr const char* kCaptionVersion = "v1.0.2.3_ZR";

// Files, libraries, sections and keys.
inline constexpr const char* kSettingName = "setting.ini";
inline constexpr const char* kPidName = "pid.ini";
inline constexpr const char* kBinFolder = "bin";
inline constexpr const char* kRvcLibName = "RvcLib.dll";
inline constexpr const char* kSettingSection = "SETTING";
inline constexpr const char* kKeyCmdLineMode = "CmdLineMode";
inline constexpr const char* kKeyCmdLineMsg = "CmdLineMsg";
inline constexpr const char* kKeyWriteLog = "WriteLog";
inline constexpr const char* kKeyAutoDl = "AutoDL";
inline constexpr const char* kKeyChooseBinUsePid = "ChooseBinUsePid";
// Off unless set: a Quelmar image whose identity block names another camera is not written.
inline constexpr const char* kKeyCheckImageId = "CheckImageId";
// Off unless set: what the camera holds is kept in a file in the tool's folder before the first
// erase, and a camera whose memory cannot be kept is not written.
inline constexpr const char* kKeyBackup = "Backup";
inline constexpr const char* kKeyBin = "BIN";
inline constexpr const char* kKeyModuleId = "ModuleID";
inline constexpr const char* kKey041f = "041f";
inline constexpr const char* kKey0604 = "0604";
inline constexpr const char* kKeyVer = "VER";
// The file to record the camera's extension-unit traffic to (docs/recording.md); empty: none.
inline constexpr const char* kKeyRecord = "Record";
inline constexpr const char* kFlagDefault = "0";
inline constexpr const char* kDefaultBin = "SF.bin";
inline constexpr const char* kDefaultVer = "0000";
inline constexpr const char* kSonixModuleDefault = "Sonix Camera";
inline constexpr const char* kQuelmarModuleDefault = "Quelmar Camera";
inline constexpr const char* kPidSectionFormat = "PID_%c%c%c%c";
// The Module ID that needs the family 'l' mode switch before every download.
inline constexpr const char* kModeSwitchModule = "KM27QX-310B";

// Identification.
inline constexpr const char* kLineEnd = "\r\n";
inline constexpr const char* kDriverConnected = " Driver Connected, ";
inline constexpr const char* kUnknownFlash = "unknown flash.\r\n";
inline constexpr const char* kInitialOk = "initial ok.\r\n";
inline constexpr const char* kGetInformationFail = "Get_information_OS fail";
inline constexpr const char* kCameraRevision = "(Camera) Current bcdDevice version = %04X\r\n";
inline constexpr const char* kCameraVidNumber = "(Camera) Current VID number = %04X\r\n";
inline constexpr const char* kCameraPidNumber = "(Camera) Current PID number = %04X\r\n";
inline constexpr const char* kCameraVidText = "(Camera) Current VID number = %s\r\n";
inline constexpr const char* kCameraPidText = "(Camera) Current PID number = %s\r\n";
inline constexpr const char* kFileVersion = "(File) New bcdDevice version = %04X\r\n";
inline constexpr const char* kSonixFileVersion = "(File) New bcdDevice version = 0101\r\n";
inline constexpr const char* kNoSettingIni = "Cannot find setting.ini \r\n";
inline constexpr const char* kNoDeviceList = "Fail to get device list!";
inline constexpr const char* kNoVidPid = "Can't find vid/pid!";
inline constexpr const char* kNoRealtekCamera = "Can't find Brevant Camera!\r\n";
inline constexpr const char* kChoiceFailed = "auto choose bin fail, device not match.\r\n";
inline constexpr const char* kOpenFile = "Open File %s\r\n";
inline constexpr const char* kFileRead = "Open File %s\r\n%d bytes (%.1f KB) has been read\r\n";

// Firmware files the tool refuses before anything reaches the camera.
inline constexpr const char* kFileNotOpened = "Cannot open file %s\r\n";
inline constexpr const char* kFileEmpty = "File %s is empty, not used.\r\n";
inline constexpr const char* kFileTooShort = "File %s has %u bytes, less than one %u-byte sector, not used.\r\n";
inline constexpr const char* kPathTooLong =
    "The tool's path is longer than %u characters: move the tool to a shorter folder.\r\n";
inline constexpr const char* kFileTooLarge =
    "File %s has %llu bytes, more than the %u bytes it may have, not used.\r\n";
// BurnerApLib.dll cannot be used: the tool goes on without Sonix cameras.
inline constexpr const char* kNoBurnerApLib =
    "BurnerApLib.dll is not in the tool's folder: Sonix cameras are not looked for.\r\n";
inline constexpr const char* kBurnerApLibEntryMissing =
    "BurnerApLib.dll has no entry point %s: Sonix cameras are not looked for.\r\n";
// A pid.ini section whose name is not "PID_" and four characters.
inline constexpr const char* kBadPidSection = "pid.ini section [%s] skipped: not PID_ and four digits.\r\n";

// The backup of setting.ini's Backup=1.
inline constexpr const char* kBackupSaved = "Backup saved as %s (%u bytes)\r\n";
inline constexpr const char* kBackupReadFailed =
    "Backup failed: the camera's memory could not be read, nothing was written.\r\n";
inline constexpr const char* kBackupNotSaved =
    "Backup failed: %s could not be written, nothing was written to the camera.\r\n";
inline constexpr const char* kBackupNotPossible =
    "Backup failed: the memory of a Realtek camera cannot be read through RvcLib.dll, nothing was written.\r\n";
inline constexpr const char* kBackupInPackage =
    "Backup failed: the in-package flash of this camera cannot be read, nothing was written.\r\n";

// Checks before a download.
inline constexpr const char* kLoadFileFirst = "Please load file first.\r\n";
inline constexpr const char* kVersionAccuracy = " Version Accuracy \r\n";
inline constexpr const char* kImageForOther =
    "Image is for VID=%04X PID=%04X, not for this camera (VID=%04X PID=%04X): nothing written.\r\n";
inline constexpr const char* kImageTooShort =
    "Image of %d bytes is too short to hold its identity block: nothing written.\r\n";
// CheckImageId on a camera that shows its chip's ROM identity: there is no product to compare with.
inline constexpr const char* kImageForRom =
    "Camera in ROM mode (VID=%04X PID=%04X): image for VID=%04X PID=%04X written as chosen.\r\n";

// Downloads.
inline constexpr const char* kStartDownload = " Start Download\r\n";
inline constexpr const char* kDownloading = " Downloading...\r\n";
inline constexpr const char* kRomVersionFailed = "Get Rom Version Failed!";
inline constexpr const char* kProtectOffFailed = "SetWriteProtect to disable Failed!";
inline constexpr const char* kEraseFailed = "Flash Erase Failed!";
inline constexpr const char* kWriteFailed = "REQ to Driver Failed!";
inline constexpr const char* kProtectOnFailed = "SetWriteProtect to enable Failed!";
inline constexpr const char* kPidDownloadFail = "PID = %04X Download Fail\r\n";
inline constexpr const char* kPidDownloadComplete = "PID = %04X Download complete\r\n";
inline constexpr const char* kDownloadComplete = "Download complete.\r\n";
inline constexpr const char* kDownloadFail = "Download fail.\r\n";
inline constexpr const char* kBoxSuccessText = "Download complete!";
inline constexpr const char* kBoxSuccessCaption = "Success";
inline constexpr const char* kBoxFailText = "Download Fail!";
inline constexpr const char* kBoxFailCaption = "Fail";
// Standard output of the Realtek progress callback.
inline constexpr const char* kStageReturn = "\r";
inline constexpr const char* kDownloadStage = "Download Stage is: %d / %d";

// Plug events.
inline constexpr const char* kPlugSeparator = "====================================\r\n";
inline constexpr const char* kPlugIn = "Camera Plug in\r\n";
inline constexpr const char* kPlugOut = "Camera Plug out\r\n";

// Debug trace.
inline constexpr const char* kTraceNoNotifications = "Orlinde: device notifications not registered\n";
inline constexpr const char* kTraceNoWorker = "Orlinde: download thread not started\n";
inline constexpr const char* kTraceWorkerRunning = "Orlinde: download thread still running at close\n";
inline constexpr const char* kTraceCloseRefused = "Orlinde: close refused while downloading\n";

}  // namespace orlinde
