#include "session.h"

#include <cstring>

#include "config.h"
#include "driver_check.h"
#include "firmware_file.h"
#include "text_util.h"
#include "texts.h"

namespace tessaw {

UpdateSession::UpdateSession(const std::string& commandLine, const SessionPorts& ports, FlashFlows flows)
    : ports_(ports),
      flows_(flows),
      identifier_(ports.usb, ports.stillCapture, ports.system, ports.trace),
      silent_(IsSilentCommandLine(commandLine)),
      log_(ports.files, ports.clock),
      rvc_(ports.libraries),
      quelmar_(ports.libraries) {}

bool UpdateSession::IsSilentCommandLine(const std::string& commandLine) { return Lower(commandLine) == "-s"; }

void UpdateSession::TraceText(const std::string& text) { kit::TraceF(ports_.trace, "%s", text.c_str()); }

void UpdateSession::PlainLog(const std::string& text) { log_.WriteString(PlainLine(text)); }

void UpdateSession::ReportStep(const std::string& text) {
    TraceText(text);
    PlainLog(text);
    ShowText(text);
}

void UpdateSession::RefreshControls() {
    ports_.dialog.SetControlText(kIdcStatus, status_.c_str());
    ports_.dialog.SetChecked(kIdcAutoScroll, autoScroll_);
}

void UpdateSession::RequestClose() {
    closeRequested_ = true;
    ports_.dialog.Post(kit::kWmClose, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// Start-up

bool UpdateSession::ReportAndClose(int code, const std::string& message, bool errorIcon) {
    log_.WriteString(DateLine(ports_.clock.Now()));
    log_.WriteString(ErrorLine(message));
    TraceText(message);
    if (!silent_) ports_.dialog.ShowMessage(message.c_str(), errorIcon);
    // Set before the close: the shell ends the process with it as soon as the window is gone.
    exitCode_ = code;
    closeRequested_ = true;
    ports_.dialog.Send(kit::kWmClose, 0, 0);
    return false;
}

bool UpdateSession::ReadConfig() {
    kit::ProfileReader& profile = ports_.profile;
    caption_ = ReadProfileString(profile, kConfigFile, "FW_TOOL", "Version", "");
    ports_.dialog.SetCaption(caption_.c_str());

    const std::string switchText = ReadProfileString(profile, kConfigFile, "FW_TOOL", "LogSwitch", "0");
    int logSwitch = ParseLogSwitch(switchText);
    const std::string temp = ports_.files.TempFolder(kPathChars);
    if (logSwitch < 0 || logSwitch > 2) {
        kit::TraceF(ports_.trace, kBadLogSwitch, switchText.c_str());
        logSwitch = 0;
    }
    logPath_ = LogPathFor(logSwitch, temp);
    if (logSwitch != 0 && !log_.Open(logSwitch, logPath_)) {
        kit::TraceF(ports_.trace, kLogNotOpened, logPath_.c_str());
        logPath_.clear();
    }
    if (log_.On() && !logNotice_.empty()) PlainLog(logNotice_);

    // The backup lies beside the log: the temporary folder for LogSwitch 1, else (also without a
    // log) the program folder.
    backup_ = LeadingNumber(ReadProfileString(profile, kConfigFile, "FW_TOOL", kKeyBackup, "0")) != 0;
    backupFolder_ = logSwitch == 1 && !logPath_.empty() ? logPath_.substr(0, logPath_.find_last_of('\\'))
                                                        : programDir_;

    minDriverVersion_ = ReadProfileString(profile, kConfigFile, "DriverCompatible", "Quelmar", "");
    checks_ = ReadCheckSettings(profile, kConfigFile);
    return ReadConfigSection(profile, ports_.trace, kConfigFile, entries_);
}

bool UpdateSession::WaitForSystemId() {
    const std::string idLog = programDir_ + "\\" + kIdLogName;
    for (uint32_t waited = 0;; waited += kSystemIdPollMs) {
        if (ports_.files.FileExists(idLog.c_str())) {
            std::string id = ReadSystemId(ports_.profile, kIdLogFile);
            if (!id.empty()) {
                systemId_ = Upper(id);
                ports_.dialog.SetControlText(kIdcSystemId, systemId_.c_str());
                ports_.files.Delete(idLog.c_str());
                return true;
            }
        }
        if (waited >= kSystemIdLimitMs) return false;
        ports_.system.Sleep(kSystemIdPollMs);
    }
}

bool UpdateSession::OnInitDialog() {
    if (silent_) ports_.dialog.Hide();
    autoScroll_ = true;
    RefreshControls();

    notification_ = ports_.dialog.RegisterUsbNotifications();
    kit::TraceF(ports_.trace, kRegistered, static_cast<unsigned>(notification_));
    if (!notification_) ports_.trace.Write(kRegisterFailed);

    char modulePath[kPathChars] = {};
    uint32_t n = ports_.system.ModuleFileName(modulePath, kPathChars);
    if (n >= kPathChars) {
        // A cut path names another folder (a parent, or a sibling sharing the prefix), whose
        // RvcLib.dll and config.ini are not the kit's: nothing is loaded from it.
        // Said as it is: "Can not find RvcLib.dll" would send the packager looking for a file that is there.
        return ReportAndClose(kExitNoRvcLib, Format(kProgramPathTooLong, kPathChars - 1), true);
    }
    modulePath[n] = '\0';
    // The Sonix library first, where the system loader would have refused to start the program
    // without it: it is bound here, from the program's folder, never from the current directory.
    std::string missingEntry;
    if (!ports_.sonix.Bind(missingEntry)) {
        return ReportAndClose(kExitNoBurnerApLib,
                              missingEntry.empty() ? std::string(kNoBurnerApLib)
                                                   : Format(kBurnerApLibEntryMissing, missingEntry.c_str()),
                              true);
    }
    // RvcLib.dll is loaded by full path from the executable's own folder, trailing backslash kept.
    std::string folder = modulePath;
    const size_t slash = folder.find_last_of('\\');
    folder.erase(slash == std::string::npos ? 0 : slash + 1);

    if (!rvc_.Load(folder + kRvcLibName)) return ReportAndClose(kExitNoRvcLib, kNoRvcLib, true);
    if (!quelmar_.Load(ports_.trace)) return ReportAndClose(kExitNoQuelmarLib, kNoQuelmarLib, true);

    ports_.system.RemoveFileSpec(modulePath);
    programDir_ = modulePath;
    ports_.system.ChangeDirectory(programDir_.c_str());

    if (!ports_.files.FileExists((programDir_ + "\\" + kConfigName).c_str()))
        return ReportAndClose(kExitNoConfig, kNoConfig, false);
    ports_.trace.Write(kGetConfigPass);
    if (!ReadConfig()) return ReportAndClose(kExitReadConfig, kReadConfigFailed, false);

    if (!ports_.files.FileExists((programDir_ + "\\" + kDevName).c_str()))
        return ReportAndClose(kExitNoDevVrk, kNoDevVrk, false);
    ports_.trace.Write(kGetDevVrkPass);
    lists_ = ReadDevVrk(ports_.profile, ports_.trace, kDevFile);

    const std::string subSystemId = programDir_ + "\\" + kSubSystemIdName;
    if (!ports_.files.FileExists(subSystemId.c_str()))
        return ReportAndClose(kExitNoSubSystemId, kNoSubSystemId, false);
    if (ports_.programs.StartHidden(subSystemId.c_str()) < kit::kStartedAtLeast)
        ports_.trace.Write(kGetSystemIdFailed);
    else
        ports_.trace.Write(kGetSystemIdOk);
    if (!WaitForSystemId()) return ReportAndClose(kExitNoSystemId, kNoSystemId, false);

    Identify(firstIdentification_);
    firstIdentification_ = false;
    if (!device_.Matched() && device_.romRefusal != RomRefusal::None) {
        const HardwareIdParts& rom = identifier_.RefusedRom();
        return ReportAndClose(kExitRomNoFirmware,
                              device_.romRefusal == RomRefusal::NoEntry
                                  ? Format(kRomNoEntry, rom.vid.c_str(), rom.pid.c_str(), systemId_.c_str())
                                  : Format(kRomSeveralEntries, rom.vid.c_str(), rom.pid.c_str(), device_.romEntries,
                                           systemId_.c_str()),
                              false);
    }
    if (!device_.Matched()) return ReportAndClose(kExitNoMatchedDevice, kNoMatchedDevice, false);

    ports_.dialog.EnableControl(kIdcFlash, true);
    ports_.dialog.EnableControl(kIdcExit, true);
    ready_ = true;
    return true;
}

void UpdateSession::Identify(bool first) {
    if (identifier_.Identify(device_, entries_, lists_, systemId_, first))
        ports_.dialog.SetControlText(kIdcModuleId, device_.moduleText.c_str());
}

void UpdateSession::Identify() { Identify(false); }

// ---------------------------------------------------------------------------------------------
// FLASH

void UpdateSession::OnFlash() {
    if (!ready_ || flashing_ || closed_) return;
    autoScroll_ = ports_.dialog.IsChecked(kIdcAutoScroll);
    ports_.dialog.EnableControl(kIdcExit, false);
    ports_.dialog.EnableControl(kIdcFlash, false);

    bool comboFailed = false;
    if (device_.family == ChipFamily::Realtek && !lists_.combo.empty()) {
        ComboOutcome combo = CheckCombo(entries_, lists_, ports_.trace);
        device_.combo = combo.combo;
        if (!combo.pass) {
            ReportAndClose(kExitCombo, kComboError, false);
            comboFailed = true;
        }
    }
    log_.Flush();
    if (comboFailed) return;

    flashing_ = true;
    if (!ports_.threads.StartBelowNormal([this] { RunUpdate(); })) {
        // Nothing reached the camera; the run ends as one that did not succeed.
        ports_.trace.Write(kThreadFailed);
        success_ = false;
        EndRun();
    }
}

// ---------------------------------------------------------------------------------------------
// The update driver

void UpdateSession::ShowText(const std::string& text, intptr_t lParam) {
    ports_.dialog.Send(kWmUpdateShowText, reinterpret_cast<uintptr_t>(text.c_str()), lParam);
}

void UpdateSession::SetProgressRange(uint32_t upper) { ports_.dialog.Send(kWmUpdateSetRange, upper, 0); }

void UpdateSession::SetProgressPos(uint32_t position) { ports_.dialog.Send(kWmUpdateSetPos, position, 0); }

bool UpdateSession::DriverFailure(int code, const std::string& message, bool errorForm) {
    if (errorForm) {
        log_.WriteString(DateLine(ports_.clock.Now()));
        log_.WriteString(ErrorLine(message));
    } else {
        PlainLog(message);
    }
    TraceText(message);
    if (silent_) {
        exitCode_ = code;
        RequestClose();
        return true;
    }
    ports_.dialog.ShowMessage(message.c_str(), false);
    return false;
}

bool UpdateSession::LoadFirmwareFile() {
    FirmwareLoad load = SelectAndLoadFirmware(ports_.files, ports_.trace, programDir_, device_.binName,
                                              device_.family, image_);
    if (load.ok) return true;
    log_.WriteString(ErrorLine(load.message));
    TraceText(load.message);
    if (!silent_) ports_.dialog.ShowMessage(load.message.c_str(), false);
    exitCode_ = load.exitCode;
    RequestClose();
    return false;
}

void UpdateSession::Refuse(int code, const std::string& message) {
    log_.WriteString(DateLine(ports_.clock.Now()));
    log_.WriteString(ErrorLine(message));
    log_.Flush();
    TraceText(message);
    if (!silent_) ports_.dialog.ShowMessage(message.c_str(), false);
    exitCode_ = code;
    refused_ = true;
    RequestClose();
}

bool UpdateSession::KeepBackup(const std::vector<uint8_t>& bytes) {
    const kit::BackupOutcome kept = kit::SaveBackupFile(ports_.files, backupFolder_, device_.vid, device_.pid,
                                                        device_.rev, ports_.clock.Now(), bytes);
    if (!kept.saved) {
        Refuse(kExitNoBackup, Format(kBackupNotSaved, kept.path.c_str()));
        return false;
    }
    ReportStep(Format(kBackupSaved, kept.path.c_str(), static_cast<unsigned>(bytes.size())));
    log_.Flush();
    return true;
}

void UpdateSession::BackupReadFailed(uint32_t done, uint32_t total) {
    Refuse(kExitNoBackup, Format(kBackupReadFailed, done, total));
}

void UpdateSession::VersionNotChecked() {
    TraceText(kVersionNotChecked);
    PlainLog(kVersionNotChecked);
}

bool UpdateSession::CheckPower() {
    if (checks_.minBatteryPercent == 0 && !checks_.refuseOnBattery) return true;
    const kit::PowerStatus status = power_ ? power_->Read() : kit::PowerStatus{};
    kit::TraceF(ports_.trace, kPowerTrace, static_cast<int>(status.source), status.percent);
    switch (DecidePower(checks_, status)) {
        case PowerVerdict::Pass:
            return true;
        case PowerVerdict::OnBattery:
            Refuse(kExitPower, kRefuseOnBattery);
            return false;
        case PowerVerdict::LowBattery:
            Refuse(kExitPower, Format(kRefuseLowBattery, status.percent, checks_.minBatteryPercent));
            return false;
    }
    return true;
}

bool UpdateSession::CheckQuelmarImage() {
    if (!checks_.imageIdentity && !checks_.VersionCheck()) return true;
    unsigned char family = 0;
    if (quelmar_.ChipFamily(&family) != 0) {
        if (checks_.imageIdentity) {
            Refuse(kExitWrongImage, kRefuseNoFamily);
            return false;
        }
        VersionNotChecked();
        return true;
    }
    const std::optional<ImageIdentity> id =
        QuelmarImageIdentity(image_.quelmar, image_.quelmarBytesRead, static_cast<char>(family));
    if (!id) {
        if (checks_.imageIdentity) {
            Refuse(kExitWrongImage, Format(kRefuseImageShort, image_.quelmarBytesRead));
            return false;
        }
        VersionNotChecked();
        return true;
    }
    kit::TraceF(ports_.trace, kIdentityTrace, static_cast<char>(family), id->vid, id->pid, id->rev);
    // In ROM mode the camera shows its chip's identity: the file must be for the product of the
    // entry it was given, and the ROM's release is no firmware revision to compare with.
    const std::string vid = device_.romMode ? std::string(kVendorId) : device_.vid;
    const std::string pid = device_.romMode ? device_.firmwarePid : device_.pid;
    if (checks_.imageIdentity && (HexWord(vid) != id->vid || HexWord(pid) != id->pid)) {
        Refuse(kExitWrongImage, Format(kRefuseImageOther, id->vid, id->pid, vid.c_str(), pid.c_str()));
        return false;
    }
    if (!checks_.VersionCheck()) return true;
    const std::optional<uint16_t> cameraRev = device_.romMode ? std::nullopt : HexWord(device_.rev);
    if (!cameraRev) {
        VersionNotChecked();
        return true;
    }
    switch (DecideVersion(checks_, id->rev, *cameraRev)) {
        case VersionVerdict::Update:
            return true;
        case VersionVerdict::Current:
            Refuse(kExitUpToDate, Format(kRefuseUpToDate, id->rev));
            return false;
        case VersionVerdict::Downgrade:
            Refuse(kExitNoDowngrade, Format(kRefuseDowngrade, id->rev, device_.rev.c_str()));
            return false;
    }
    return true;
}

void UpdateSession::RunFlow(FlashFlow* flow) {
    if (flow)
        flow->Run(*this);
    else
        kit::TraceF(ports_.trace, kNoFlow, static_cast<int>(device_.family));
}

bool UpdateSession::Dispatch() {
    switch (device_.family) {
        case ChipFamily::Realtek:
            ports_.trace.Write(kRealtekUpdate);
            RunFlow(flows_.realtek);
            return !refused_;
        case ChipFamily::Sonix:
            // The kit does not know where a Sonix file keeps its revision.
            if (checks_.VersionCheck()) VersionNotChecked();
            if (ports_.sonix.InitializeDriverInterface() > 0) {
                std::memset(romVersion_, 0, sizeof romVersion_);
                ports_.sonix.GetRomVersion(romVersion_);
                ports_.trace.Write(kSonixUpdate);
                RunFlow(flows_.sonix);
                log_.Flush();
                return !refused_;
            }
            return !DriverFailure(kExitSonixInit, kCameraInitFailed, false);
        case ChipFamily::Quelmar: {
            DriverCheck check =
                CheckDriver(ports_.registry, device_.vid, device_.pid, minDriverVersion_, device_.family);
            driverCheckCode_ = check.code;
            if (check.result == kDriverAccepted) {
                log_.Flush();
                // A library that lacks an entry point is refused before anything reaches the camera.
                int init = quelmar_.Complete() ? quelmar_.Init(0) : QuelmarBinding::kMissing;
                if (init != 0) return !DriverFailure(kExitQuelmarInit, kCameraInitFailed, false);
                // The camera is open (its chip was identified) and nothing has been written yet.
                if (!CheckQuelmarImage()) return false;
                ports_.trace.Write(kQuelmarUpdate);
                RunFlow(flows_.quelmar);
                ports_.trace.Write(kQuelmarDownloaded);
                log_.Flush();
                ports_.trace.Write(kQuelmarUnInit);
                ports_.trace.Write(kQuelmarUnInitDone);
                return !refused_;
            }
            if (check.result == kDriverOutdated)
                return !DriverFailure(kExitDriverTooOld, kDriverTooOld, true);
            return !DriverFailure(kExitDriverCheck, Format(kCheckDriverFailed, check.code), true);
        }
        case ChipFamily::None:
            break;
    }
    RunFlow(nullptr);
    return true;
}

void UpdateSession::RunUpdate() {
    ShowText(log_.On() ? Format(kLogSaveAs, logPath_.c_str()) : std::string(kNoLogFile));
    ShowText(kRunSeparator);
    log_.WriteString(RunStamp(ports_.clock.Now()));
    if (device_.family != ChipFamily::Realtek) {
        std::string line = Format(kVidPid, device_.vid.c_str(), device_.pid.c_str());
        PlainLog(line);
        ShowText(line);
        line = Format(kCurrentRev, device_.rev.c_str());
        PlainLog(line);
        ShowText(line);
    }
    ports_.dialog.SetResult(kNowUpdating, kit::kButtonTextColour);
    ports_.dialog.Repaint();

    log_.Flush();
    if (!CheckPower()) return;
    if (!LoadFirmwareFile()) return;
    log_.Flush();

    success_ = false;
    if (!Dispatch()) return;

    log_.Flush();
    ports_.system.Sleep(kSettleMs);
    EndRun();
}

void UpdateSession::EndRun() {
    if (success_) {
        if (device_.family != ChipFamily::Realtek) {
            ports_.trace.Write(kBeforeCheckDevice);
            Identify(false);
            ports_.trace.Write(kAfterCheckDevice);
            log_.Flush();
            const std::string line = Format(kCurrentRev, device_.rev.c_str());
            PlainLog(line);
            ShowText(line);
        }
        for (const char* line : {kUpdateFinished, kUpdatedSuccessfully}) {
            ports_.trace.Write(line);
            ShowText(line);
            PlainLog(line);
        }
        ports_.dialog.SetResult(kResultSuccess, kit::Rgb(0, 128, 0));
        ShowText(kPleaseReboot, kShowOnly);
        exitCode_ = kExitSuccess;
    } else {
        ports_.trace.Write(kUpdateUnsuccessful);
        ShowText(kUpdateUnsuccessful);
        PlainLog(kUpdateUnsuccessful);
        ports_.dialog.SetResult(kResultFailure, kit::Rgb(255, 0, 0));
        ShowText(kPleaseRebootRetry, kShowOnly);
        exitCode_ = kExitUnsuccessful;
    }
    ports_.trace.Write(kAllCleaningUp);
    SetProgressPos(0);
    ports_.dialog.EnableControl(kIdcExit, true);
    ports_.dialog.Repaint();
    flashing_ = false;
    if (silent_) RequestClose();
}

// ---------------------------------------------------------------------------------------------
// Dialog messages

intptr_t UpdateSession::OnUpdateMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case kWmUpdateSetPos:
            ports_.dialog.SetProgressPos(static_cast<uint32_t>(wParam));
            break;
        case kWmUpdateSetRange:
            ports_.dialog.SetProgressRange(static_cast<uint32_t>(wParam));
            break;
        case kWmUpdateShowText: {
            std::string text = wParam ? reinterpret_cast<const char*>(wParam) : "";
            if (lParam == kShowAndStatus) status_ = text;
            ports_.dialog.AppendToLogView((kViewPrefix + text).c_str());
            if (autoScroll_) ports_.dialog.ScrollLogViewOneLine();
            RefreshControls();
            ports_.dialog.Repaint();
            break;
        }
        default:
            break;
    }
    return 0;
}

void UpdateSession::OnAutoScroll() {
    autoScroll_ = ports_.dialog.IsChecked(kIdcAutoScroll);
    if (autoScroll_) ports_.dialog.PostScrollLogViewToBottom();
}

bool UpdateSession::OnDeviceChange(uint32_t event, uintptr_t data) {
    if (flashing_) {
        kit::TraceF(ports_.trace, kChangeWhileFlashing, event, static_cast<unsigned>(data));
        return true;
    }
    if (!ready_ || closed_) return true;
    if (event == kDeviceArrival) {
        ports_.trace.Write(kArrival);
        Identify(false);
        // The product ID alone decides: a camera in no chip-family list still enables FLASH, and
        // its update then runs no flow and ends unsuccessful.
        ports_.dialog.EnableControl(kIdcFlash, !device_.pid.empty());
    } else if (event == kDeviceRemoveComplete) {
        ports_.trace.Write(kRemoval);
        for (FirmwareEntry& e : entries_) e.rev.clear();
        ports_.dialog.SetControlText(kIdcModuleId, "");
        status_.clear();
        ports_.dialog.SetControlText(kIdcStatus, "");
        ports_.dialog.SetControlText(kIdcResult, "");
        ports_.dialog.EnableControl(kIdcFlash, false);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Closing

void UpdateSession::OnCancel() {
    if (closed_) return;
    if (flashing_ && !closeRequested_) {
        ports_.trace.Write(kCloseRefused);
        return;
    }
    ports_.dialog.Destroy();
}

void UpdateSession::OnDestroy() {
    if (closed_.exchange(true)) return;
    log_.WriteString(kClosingLine);
    log_.Close();
    entries_.clear();
    lists_ = DevLists{};
    image_ = FirmwareImage{};
    rvc_.Unload();
    ports_.dialog.UnregisterUsbNotifications(notification_);
    notification_ = 0;
}

}  // namespace tessaw
