#include "write_tool.h"

#include <algorithm>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "camlib/chips.h"
#include "kit/backup_file.h"
#include "kit/text.h"
#include "texts.h"

namespace orlinde {

namespace {

// The Realtek progress callback gets no context: the tool that is writing is process-wide.
std::atomic<WriteTool*> g_writing{nullptr};

constexpr uint8_t kFlashTypeUnknown = 'x';
constexpr int kFirstDevice = 0;
constexpr uint16_t kSonixVersionPointer = 0x168;
constexpr uint16_t kSonixVersionOffset = 10;
constexpr uint16_t kSectorTableRomOffset = 8;
constexpr size_t kAsicBufferBytes = 24;
constexpr uint16_t kProtectWordUnset = 0xFFFF;
// The Sonix device count when BurnerApLib.dll could not be bound: no device.
constexpr int32_t kSonixUnbound = -1;

// A 16-bit number from up to four hexadecimal characters (strtoul's reading; 0 for none).
uint16_t HexText(const std::string& text) {
    return static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
}

// The characters of a device path in one byte each; what is not ASCII cannot be part of an ID.
std::string Narrow(const char16_t* text, size_t maxChars) {
    std::string out;
    for (size_t i = 0; i < maxChars && text[i]; ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

// The `n` characters that start `skip` places after `at`, as many as there are.
std::string After(const std::string& text, size_t at, size_t skip, size_t n) {
    return at + skip <= text.size() ? text.substr(at + skip, n) : std::string();
}

}  // namespace

WriteTool::WriteTool(const WriteToolPorts& ports) : ports_(ports), rvc_(ports.libraries) {}

WriteTool::~WriteTool() { OnDestroy(); }

uint8_t WriteTool::StatusByte() const {
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(status_)).load();
}

uint8_t WriteTool::ProgressByte() const {
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(progress_)).load();
}

void WriteTool::SetStatus(uint8_t status) { std::atomic_ref<uint8_t>(status_).store(status); }

void WriteTool::SetProgress(uint8_t progress) { std::atomic_ref<uint8_t>(progress_).store(progress); }

// ---------------------------------------------------------------------------------------------
// Log text

void WriteTool::Log(const std::string& text) {
    std::lock_guard<std::mutex> hold(logLock_);
    log_ += text;
}

void WriteTool::LogF(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = kit::FormatV(fmt, args);
    va_end(args);
    Log(text);
}

std::string WriteTool::LogText() const {
    std::lock_guard<std::mutex> hold(logLock_);
    return log_;
}

void WriteTool::RefreshLog() {
    const std::string text = LogText();
    ports_.dialog.ShowLog(text.c_str(), ports_.dialog.IsChecked(kIdcAutoScroll));
}

// ---------------------------------------------------------------------------------------------
// Start-up

bool WriteTool::OnInitDialog() {
    ports_.dialog.SetAppIcon();
    if (!ports_.dialog.RegisterVideoNotifications()) {
        ports_.trace.Write(kTraceNoNotifications);
        return false;
    }
    ports_.com.Initialize();

    char path[kFolderChars] = {};
    const uint32_t n = ports_.system.ModuleFileName(path, kFolderChars);
    // A cut path names another folder, whose settings and firmware files are not the tool's.
    pathTooLong_ = n >= kFolderChars;
    path[pathTooLong_ ? 0 : n] = '\0';
    folder_ = path;
    const size_t slash = folder_.find_last_of('\\');
    folder_.erase(slash == std::string::npos ? 0 : slash);

    {
        std::lock_guard<std::mutex> hold(logLock_);
        log_ = logNotice_;
    }
    const std::string caption = std::string(kCaptionName) + kCaptionTool + kCaptionVersion;
    ports_.dialog.SetCaption(caption.c_str());
    ports_.dialog.SetChecked(kIdcAutoScroll, true);

    // BurnerApLib.dll is bound here, from the tool's folder only. Without it the tool still writes
    // Quelmar and Realtek cameras; Sonix cameras are not looked for, and the log says why.
    std::string missingEntry;
    sonixBound_ = ports_.sonix.Bind(missingEntry);
    if (!sonixBound_) {
        if (missingEntry.empty())
            Log(kNoBurnerApLib);
        else
            LogF(kBurnerApLibEntryMissing, missingEntry.c_str());
    }

    ready_ = false;
    Identify();
    progressBarKnown_ = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Identification

void WriteTool::ForgetChoice() {
    // Nothing of an earlier camera may reach this one: no file, no path, no Module ID. The boxes
    // 1001 and 1007 keep what they show until a choice for this camera succeeds.
    loaded_ = false;
    imageSize_ = 0;
    firmwarePath_.clear();
    for (std::string& p : comboPaths_) p.clear();
    fileVersion_ = {};
    ver_ = kDefaultVer;
    route_ = Route::None;
    moduleId_.clear();
}

void WriteTool::Identify() {
    if (realtekMode_) {
        rvc_.UnInitialize(1);
        rvc_.Unload();
        realtekMode_ = false;
        realtekDevices_.clear();
    }
    ForgetChoice();
    if (pathTooLong_) {
        // Nothing to identify against: no settings, no product-ID map, no firmware file.
        LogF(kPathTooLong, kFolderChars - 1);
        RefreshLog();
        return;
    }
    if (!ports_.quelmar.HasHandle()) ports_.quelmar.CreateHandle();
    StartRecording();
    sonixCount_ = sonixBound_ ? ports_.sonix.InitializeDriverInterface() : kSonixUnbound;
    libraryStatus_ = ports_.quelmar.Init('e', kFirstDevice);
    Log(kLineEnd);

    if (libraryStatus_ == 0) {
        route_ = Route::Quelmar;
        QuelmarPath();
    } else if (sonixCount_ > 0) {
        route_ = Route::Sonix;
        SonixPath();
    } else if (!RealtekPath()) {
        return;
    }

    RefreshLog();
    ports_.com.Uninitialize();
    if (settings_.autoDl && (libraryStatus_ == 0 || realtekMode_)) FlashAction();
}

// setting.ini's Record names a file for the camera's traffic, beside the tool unless it is a full
// path. Asked before the camera is opened, so that the transcript holds the identification too.
void WriteTool::StartRecording() {
    if (!SettingsExist()) return;
    const std::string file = ReadText(ports_.profile, settingsPath_, kSettingSection, kKeyRecord, "");
    if (file.empty()) return;
    const bool full = file[0] == '\\' || file[0] == '/' || (file.size() > 1 && file[1] == ':');
    ports_.quelmar.RecordTo(full ? file : folder_ + "\\" + file);
}

bool WriteTool::SettingsExist() {
    const std::string path = folder_ + "\\" + kSettingName;
    if (!ports_.files.FileExists(path.c_str())) return false;
    settingsPath_ = path;
    return true;
}

void WriteTool::QuelmarPath() {
    bool failed = false;
    CameraIdentity id;
    failed |= ports_.quelmar.UsbIdentity(id) != 0;
    // Plug events wait until a download has ended: the mode switch below re-enumerates the camera.
    busy_ = 1;
    if (!ready_) failed |= ports_.quelmar.SwitchMode(kFirstDevice) != 0;
    Log(kDriverConnected);
    family_ = 0;
    flashType_ = 0;
    failed |= ports_.quelmar.ChipFamily(family_) != 0;
    failed |= ports_.quelmar.ProbeFlashType(flashType_) != 0;
    if (flashType_ == kFlashTypeUnknown) {
        Log(kUnknownFlash);
        return;
    }
    Log(kInitialOk);
    if (failed) {
        Log(kGetInformationFail);
        return;
    }
    identity_ = id;
    LogF(kCameraRevision, identity_.rev);
    LogF(kCameraVidNumber, identity_.vid);
    LogF(kCameraPidNumber, identity_.pid);
    if (!SettingsExist()) {
        Log(kNoSettingIni);
        return;
    }
    RefreshLog();
    SettingsAndChoice();
    LogF(kFileVersion, fileVersion_.value);
    ports_.dialog.EnableControl(kIdcFlash, true);
}

void WriteTool::SonixPath() {
    uint8_t pointer = 0;
    if (ports_.sonix.ReqToDriver(SonixBurnerPort::kRequestRead, kSonixVersionPointer, &pointer, 1)) {
        uint8_t v[2] = {};
        const uint32_t at = pointer * 256u + kSonixVersionOffset;
        if (ports_.sonix.ReqToDriver(SonixBurnerPort::kRequestRead, at, v, 2))
            sonixVersion_ = static_cast<uint16_t>(v[0] << 8 | v[1]);
    }

    // IDs of an earlier camera must not stand in for this one's.
    sonixVidText_.clear();
    sonixPidText_.clear();
    std::vector<char16_t> block(static_cast<size_t>(SonixBurnerPort::kMaxPaths) * SonixBurnerPort::kPathChars,
                                0);
    auto* paths = reinterpret_cast<char16_t(*)[SonixBurnerPort::kPathChars]>(block.data());
    int32_t count = 0;
    if (!ports_.sonix.GetDeviceList(paths, SonixBurnerPort::kMaxPaths, SonixBurnerPort::kPathChars, &count)) {
        Log(kNoDeviceList);
    } else {
        bool found = false;
        for (int32_t i = 0; i < SonixBurnerPort::kMaxPaths && !found; ++i) {
            const std::string entry = kit::Lower(Narrow(paths[i], SonixBurnerPort::kPathChars));
            const size_t vid = entry.find("vid");
            if (vid == std::string::npos) continue;
            sonixVidText_ = After(entry, vid, 4, 4);
            const size_t pid = entry.find("pid");
            if (pid == std::string::npos) continue;
            sonixPidText_ = After(entry, pid, 4, 4);
            found = true;
        }
        if (!found) Log(kNoVidPid);
    }

    Log(kDriverConnected);
    identity_.pid = HexText(sonixPidText_);
    identity_.vid = HexText(sonixVidText_);
    LogF(kCameraRevision, sonixVersion_);
    LogF(kCameraVidText, sonixVidText_.c_str());
    LogF(kCameraPidText, sonixPidText_.c_str());
    if (!SettingsExist()) {
        Log(kNoSettingIni);
        return;
    }
    RefreshLog();
    SettingsAndChoice();
    Log(kSonixFileVersion);
    ports_.dialog.EnableControl(kIdcFlash, true);
}

bool WriteTool::RealtekPath() {
    rvc_.Unload();
    if (!rvc_.Load(kRvcLibName)) return true;
    realtekMode_ = true;
    route_ = Route::Realtek;
    rvc_.Initialize(0, 1);
    Log(kDriverConnected);
    Log(kInitialOk);
    for (int32_t index = 0; realtekDevices_.size() < kRealtekMaxDevices; ++index) {
        const RvcHandle handle = rvc_.Open(index);
        if (!handle) break;
        RealtekDevice d;
        d.index = index;
        rvc_.GetDevVidPidRev(handle, &d.vid, &d.pid, &d.rev);
        realtekDevices_.push_back(d);
        LogF(kCameraRevision, d.rev);
        LogF(kCameraVidNumber, d.vid);
        LogF(kCameraPidNumber, d.pid);
        rvc_.Close(handle);
    }
    if (realtekDevices_.empty()) {
        Log(kNoRealtekCamera);
        RefreshLog();
        return false;
    }
    if (SettingsExist()) {
        RefreshLog();
        SettingsAndChoice();
        LogF(kFileVersion, ParseVer(ver_));
        ports_.dialog.EnableControl(kIdcFlash, true);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Settings and firmware choice

std::string WriteTool::PidFile() const { return folder_ + "\\" + kPidName; }

std::string WriteTool::BinPath(const std::string& name) const {
    return folder_ + "\\" + kBinFolder + "\\" + name;
}

void WriteTool::ShowModuleId(const std::string& text) {
    moduleId_ = text;
    ports_.dialog.SetControlText(kIdcModuleId, moduleId_.c_str());
}

void WriteTool::SettingsAndChoice() {
    settings_ = ReadSettings(ports_.profile, settingsPath_);
    if (settings_.chooseBinUsePid) {
        const bool chosen = route_ == Route::Realtek ? RealtekChoice() : PidChoice();
        if (!chosen) Log(kChoiceFailed);
    } else {
        firmwarePath_ =
            folder_ + "\\" + ReadText(ports_.profile, settingsPath_, kSettingSection, kKeyBin, kDefaultBin);
    }
}

bool WriteTool::PidChoice() {
    if (identity_.pid == 0) return false;
    const std::string pidFile = PidFile();
    const PidSections list = ReadPidSections(ports_.profile, pidFile);
    for (const std::string& name : list.skipped) LogF(kBadPidSection, name.c_str());
    const bool quelmar = route_ != Route::Sonix;
    std::string bin = kDefaultBin;
    std::string module;
    if (const PidSection* section = FindSection(list, identity_.pid)) {
        bin = ReadText(ports_.profile, pidFile, section->name.c_str(), kKeyBin, kDefaultBin);
        module = ReadText(ports_.profile, pidFile, section->name.c_str(), kKeyModuleId,
                          quelmar ? kQuelmarModuleDefault : kSonixModuleDefault);
    } else if (!quelmar || !IsChipDefaultIdentity(identity_.vid, identity_.pid, identity_.rev)) {
        return false;
    }
    // A blank chip with no section of its own gets the bench's default file, bin\SF.bin.
    ShowModuleId(module);
    firmwarePath_ = BinPath(bin);
    loaded_ = ReadFirmwareFile(firmwarePath_);
    if (loaded_ && quelmar) fileVersion_ = ImageRevision(image_.data(), imageSize_, family_);
    return true;
}

bool WriteTool::RealtekChoice() {
    if (realtekDevices_.empty() || realtekDevices_[0].pid == 0) return false;
    const std::string pidFile = PidFile();
    const PidSections list = ReadPidSections(ports_.profile, pidFile);
    for (const std::string& name : list.skipped) LogF(kBadPidSection, name.c_str());
    const PidSection* match = nullptr;
    for (const PidSection& s : list.sections) {
        for (const RealtekDevice& d : realtekDevices_)
            if (s.pid == d.pid) match = &s;
        if (match) break;
    }
    if (!match) return false;
    const char* section = match->name.c_str();
    const std::string file041f = ReadText(ports_.profile, pidFile, section, kKey041f, kDefaultBin);
    const std::string file0604 = ReadText(ports_.profile, pidFile, section, kKey0604, kDefaultBin);
    const std::string bin = ReadText(ports_.profile, pidFile, section, kKeyBin, kDefaultBin);
    ShowModuleId(ReadText(ports_.profile, pidFile, section, kKeyModuleId, kQuelmarModuleDefault));
    ver_ = ReadText(ports_.profile, pidFile, section, kKeyVer, kDefaultVer, kVerChars);

    const uint16_t first = realtekDevices_[0].pid;
    if (first == kComboPid041f || first == kComboPid0604) {
        const bool ir = first == kComboPid041f;
        comboPaths_[0] = BinPath(ir ? file041f : file0604);
        comboPaths_[1] = BinPath(ir ? file0604 : file041f);
        for (const std::string& path : comboPaths_) {
            LogF(kOpenFile, path.c_str());
            RefreshLog();
        }
    } else {
        firmwarePath_ = BinPath(bin);
        LogF(kOpenFile, firmwarePath_.c_str());
        RefreshLog();
    }
    // Combo path 1 in either case: a single device's box shows it empty (it was cleared above).
    ports_.dialog.SetControlText(kIdcFirmwarePath, comboPaths_[0].c_str());
    return true;
}

bool WriteTool::ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, uint32_t& length) {
    std::unique_ptr<kit::ReadableFile> file = ports_.files.OpenRead(path.c_str());
    if (!file) {
        LogF(kFileNotOpened, path.c_str());
        RefreshLog();
        return false;
    }
    const uint64_t size = file->Length();
    if (size == 0) {
        LogF(kFileEmpty, path.c_str());
        RefreshLog();
        return false;
    }
    if (size > out.size()) {
        LogF(kFileTooLarge, path.c_str(), static_cast<unsigned long long>(size),
             static_cast<unsigned>(out.size()));
        RefreshLog();
        return false;
    }
    length = static_cast<uint32_t>(size);
    if (file->Read(out.data(), length) != length) {
        LogF(kFileNotOpened, path.c_str());
        RefreshLog();
        return false;
    }
    return true;
}

bool WriteTool::ReadFirmwareFile(const std::string& path) {
    // A file that is not there is told at the Flash action ("Please load file first.").
    if (!ports_.files.FileExists(path.c_str())) return false;
    // Refilled for every file, so that no byte of an earlier file stays behind the new one.
    image_.assign(kImageBytes, kErasedByte);
    uint32_t length = 0;
    if (!ReadWholeFile(path, image_, length)) return false;
    // The download erases the flash first: a Quelmar file that cannot hold even one sector is no
    // firmware, and the camera would keep nothing but fill (the updater refuses it too).
    if (route_ == Route::Quelmar && length < kQuelmarMinFileBytes) {
        LogF(kFileTooShort, path.c_str(), static_cast<unsigned>(length), static_cast<unsigned>(kQuelmarMinFileBytes));
        RefreshLog();
        return false;
    }
    imageSize_ = length;
    LogF(kFileRead, path.c_str(), static_cast<int>(length), length / 1024.0);
    RefreshLog();
    ports_.dialog.SetControlText(kIdcFirmwarePath, path.c_str());
    return true;
}

// ---------------------------------------------------------------------------------------------
// The Flash action

void WriteTool::OnFlash() { FlashAction(); }

void WriteTool::Refuse(const char* message) {
    if (message) {
        Log(message);
        RefreshLog();
    }
    // No download will end, so nothing else would let plug events through again: do it as the end
    // of a download does, after the same pause.
    busy_ = 0;
    ports_.dialog.SetTimer(kTimerRearm, kRearmMs);
}

bool WriteTool::RomIdentity() const {
    return route_ == Route::Quelmar && IsChipDefaultIdentity(identity_.vid, identity_.pid, identity_.rev);
}

bool WriteTool::ImageFitsCamera() {
    uint16_t vid = 0, pid = 0;
    // Only the bytes the file held count; the rest of the buffer is fill.
    if (!ImageVidPid(image_.data(), std::min<uint32_t>(imageSize_, static_cast<uint32_t>(image_.size())),
                     family_, vid, pid)) {
        LogF(kImageTooShort, static_cast<int>(imageSize_));
    } else if (RomIdentity()) {
        // The ROM's identity names the chip, not the module: the technician's choice of file (its
        // pid.ini section or SF.bin) is all there is to go by. A file without an identity block of
        // this chip family is still refused above.
        LogF(kImageForRom, identity_.vid, identity_.pid, vid, pid);
        RefreshLog();
        return true;
    } else if (vid != identity_.vid || pid != identity_.pid)
        LogF(kImageForOther, vid, pid, identity_.vid, identity_.pid);
    else
        return true;
    SetStatus(kStatusFail);
    ports_.dialog.ShowPicture(kBmpFail);
    RefreshLog();
    return false;
}

void WriteTool::BeginRunning() {
    downloading_ = true;
    Log(kStartDownload);
    RefreshLog();
    ports_.dialog.EnableControl(kIdcFlash, false);
    ports_.dialog.EnableControl(kIdcClose, false);
    SetStatus(kStatusRunning);
    ports_.dialog.ShowPicture(kBmpRunning);
    ports_.system.Sleep(kSettleMs);
}

bool WriteTool::RealtekVersionCurrent() const {
    // Every device found must already carry VER; a module of one device is compared with that one.
    if (realtekDevices_.empty()) return false;
    const uint16_t ver = ParseVer(ver_);
    for (const RealtekDevice& d : realtekDevices_)
        if (d.rev != ver) return false;
    return true;
}

void WriteTool::FlashAction() {
    // One download at a time, also when a click is dispatched from inside a Realtek write.
    if (downloading_) return;
    if (moduleId_ == kModeSwitchModule) ports_.quelmar.SwitchMode(kFirstDevice);

    if (route_ == Route::Realtek) {
        if (settings_.autoDl && RealtekVersionCurrent()) return Refuse(kVersionAccuracy);
        // RvcLib.dll offers the tool no read of the memory it writes: no backup, no download.
        if (settings_.backup) {
            Log(kBackupNotPossible);
            SetStatus(kStatusFail);
            ports_.dialog.ShowPicture(kBmpFail);
            return Refuse(nullptr);
        }
        ready_ = false;
        success_ = false;
        finished_ = false;
        BeginRunning();
        ports_.dialog.SetTimer(kTimerRealtekStart, kRealtekStartMs);
        return;
    }

    if (route_ != Route::Sonix) {
        if (!loaded_) return Refuse(kLoadFileFirst);
        if (settings_.checkImageId && !ImageFitsCamera()) return Refuse(nullptr);
        // An image without a readable revision is never taken for the camera's own. A camera in ROM
        // mode reports the ROM's release, which is no firmware revision: it is always written.
        if (settings_.autoDl && fileVersion_.known && !RomIdentity() && identity_.rev >= fileVersion_.value)
            return Refuse(kVersionAccuracy);
        ready_ = false;
        success_ = false;
        finished_ = false;
        BeginRunning();
        StartWorker(&WriteTool::QuelmarWorker, imageSize_);
        return;
    }

    // Sonix: the whole file is read before the worker lifts protection and erases the flash, so
    // a missing or oversized file leaves the camera as it was.
    ports_.dialog.EnableControl(kIdcFlash, false);
    sonixImage_.assign(kSonixImageBytes, kErasedByte);
    if (!ReadWholeFile(firmwarePath_, sonixImage_, sonixSize_)) {
        ports_.dialog.EnableControl(kIdcFlash, true);
        return Refuse(nullptr);  // the file read said why
    }
    ready_ = false;
    success_ = false;
    finished_ = false;
    BeginRunning();
    StartWorker(&WriteTool::SonixWorker, sonixSize_);
}

void WriteTool::StartWorker(void (WriteTool::*body)(), uint32_t imageSize) {
    if (worker_ && !ports_.workers.Wait(worker_, kWorkerJoinMs)) ports_.trace.Write(kTraceWorkerRunning);
    worker_ = ports_.workers.Start([this, body] { (this->*body)(); });
    if (!worker_) {
        // Nothing reached the camera; the progress timer ends it as a failed download.
        ports_.trace.Write(kTraceNoWorker);
        success_ = false;
        finished_ = true;
        busy_ = 0;
    }
    ports_.dialog.SetProgressPos(0);
    ports_.dialog.SetTimer(kTimerProgress, ProgressInterval(imageSize));
}

// ---------------------------------------------------------------------------------------------
// Workers

bool WriteTool::KeepBackup(const std::vector<uint8_t>& held, uint16_t rev) {
    const kit::BackupOutcome kept =
        kit::SaveBackupFile(ports_.files, folder_, kit::BackupNameWord(identity_.vid), kit::BackupNameWord(identity_.pid),
                            kit::BackupNameWord(rev), ports_.clock.Now(), held);
    if (kept.saved)
        LogF(kBackupSaved, kept.path.c_str(), static_cast<unsigned>(held.size()));
    else
        LogF(kBackupNotSaved, kept.path.c_str());
    RefreshLog();
    return kept.saved;
}

void WriteTool::EndWithoutWriting(const char* message) {
    if (message) Log(message);
    RefreshLog();
    success_ = false;
    finished_ = true;
    busy_ = 0;
}

void WriteTool::QuelmarWorker() {
    Log(kDownloading);
    RefreshLog();
    if (settings_.backup) {
        // A range read there would keep the serial flash, not the firmware about to be erased.
        if (flashType_ == camlib::kFlashInPackage) return EndWithoutWriting(kBackupInPackage);
        std::vector<uint8_t> held(kQuelmarBackupBytes, kErasedByte);
        if (ports_.quelmar.ReadFlash(held.data(), kQuelmarBackupBytes, flashType_) != 0)
            return EndWithoutWriting(kBackupReadFailed);
        if (!KeepBackup(held, identity_.rev)) return EndWithoutWriting(nullptr);
    }
    if (ports_.quelmar.Download(image_.data(), imageSize_, flashType_, &status_, &progress_) == 0)
        success_ = true;
    finished_ = true;
    busy_ = 0;
}

void WriteTool::EndSonix(const char* message) {
    // Ends like any failed download: the progress timer shows "Fail" and gives the buttons back.
    // The success set once the image was written does not survive a later failure: a flash left
    // unprotected is no complete download.
    Log(message);
    success_ = false;
    finished_ = true;
    busy_ = 0;
}

void WriteTool::SonixWorker() {
    SonixBurnerPort& sonix = ports_.sonix;
    Log(kDownloading);
    RefreshLog();
    if (settings_.backup) {
        // The Sonix path has no device release: the version it read stands in the name.
        std::vector<uint8_t> held(kSonixBackupBytes, kErasedByte);
        if (!sonix.ReqToDriver(SonixBurnerPort::kRequestRead, 0, held.data(), kSonixBackupBytes))
            return EndWithoutWriting(kBackupReadFailed);
        if (!KeepBackup(held, sonixVersion_)) return EndWithoutWriting(nullptr);
    }
    char rom[8] = {};
    if (!sonix.GetRomVersion(rom)) return EndSonix(kRomVersionFailed);
    RomAddress rom_address = SonixRomAddress(rom);
    if (rom_address.fromSectorTable) {
        uint16_t table = 0;
        sonix.GetSectorTableAddr(&table);
        uint8_t bytes[kAsicBufferBytes] = {};
        sonix.ProcReadFromAsic(static_cast<uint16_t>(table + kSectorTableRomOffset), bytes);
        rom_address.address = SectorTableRomAddress(bytes[0]);
    }
    uint8_t protectByte = 0;
    sonix.ReqToDriver(SonixBurnerPort::kRequestRead, rom_address.address, &protectByte, 1);
    uint16_t protectWord = kProtectWordUnset;
    if (!sonix.SetWriteProtect(false, protectWord, protectByte)) return EndSonix(kProtectOffFailed);
    if (!sonix.EraseSf()) return EndSonix(kEraseFailed);
    if (!sonix.ReqToDriver(SonixBurnerPort::kRequestWrite, 0, sonixImage_.data(), kSonixImageBytes))
        return EndSonix(kWriteFailed);
    success_ = true;
    if (!sonix.SetWriteProtect(true, protectWord, protectByte)) return EndSonix(kProtectOnFailed);
    // The write request reports only that it was carried out: what landed is read back, so that a
    // flash that does not hold the image is never reported complete. Read after the protection is
    // back, as the library's calling order has it: a mismatch leaves the flash protected.
    std::vector<uint8_t> landed(kSonixImageBytes, 0);
    if (!sonix.ReqToDriver(SonixBurnerPort::kRequestRead, 0, landed.data(), kSonixImageBytes) ||
        !std::equal(landed.begin(), landed.end(), sonixImage_.begin(), sonixImage_.begin() + kSonixImageBytes))
        return EndSonix(kWriteFailed);
    finished_ = true;
    busy_ = 0;
    sonix.ResetDevice();
}

// ---------------------------------------------------------------------------------------------
// The Realtek download, on the dialog's thread

void RVCLIB_CALL WriteTool::RealtekProgress(uint32_t done, uint32_t total) {
    if (WriteTool* tool = g_writing.load()) tool->OnRealtekProgress(done, total);
}

void WriteTool::OnRealtekProgress(uint32_t done, uint32_t total) {
    ports_.console.Write(kStageReturn);
    ports_.console.Write(kit::Format(kDownloadStage, static_cast<int>(done), kRealtekPresetSize).c_str());
    realtekDone_ = done;
    realtekTotal_ = total;
    const uint32_t percent = total ? static_cast<uint32_t>(static_cast<double>(done) / total * 100) : 0;
    if (progressBarKnown_) {
        ports_.dialog.SetProgressPos(percent);
        ports_.dialog.PumpMessages();
    }
}

bool WriteTool::StillAtIndex(const RealtekDevice& d) {
    const RvcHandle handle = rvc_.Open(d.index);
    if (!handle) return false;
    RealtekDevice now;
    rvc_.GetDevVidPidRev(handle, &now.vid, &now.pid, &now.rev);
    rvc_.Close(handle);
    return now.vid == d.vid && now.pid == d.pid;
}

void WriteTool::RealtekDownload() {
    busy_ = -1;  // plug events dispatched from inside the write are ignored
    ports_.dialog.KillTimer(kTimerRealtekStart);
    Log(kDownloading);
    RefreshLog();

    bool ok = !realtekDevices_.empty();
    // One device completely (its memory, its file, its write, its line) before the next: a failure
    // stops only the devices after it.
    for (size_t i = 0; i < realtekDevices_.size() && ok; ++i) {
        const RealtekDevice& d = realtekDevices_[i];
        int32_t type = kRealtekMemoryType;
        int32_t size = kRealtekPresetSize;
        // The library writes by enumeration index: once a camera of the module has left, another
        // one answers under its index and would take a firmware made for a different product. So
        // the device is looked at again right before its own write.
        ok = StillAtIndex(d) && rvc_.EepromInfo(d.index, &type, &size) == 0 && size > 0 && size <= kRealtekMaxSize;
        std::vector<uint8_t> image;
        if (ok) {
            image.assign(static_cast<size_t>(size), kErasedByte);
            const bool combo = d.pid == kComboPid041f || d.pid == kComboPid0604;
            uint32_t length = 0;
            ok = ReadWholeFile(combo ? comboPaths_[i] : firmwarePath_, image, length);
        }
        if (ok) {
            g_writing = this;
            ok = rvc_.EepromWrite3(type, d.index, size, image.data(), &WriteTool::RealtekProgress) == 0;
            g_writing = nullptr;
        }
        LogF(ok ? kPidDownloadComplete : kPidDownloadFail, d.pid);
        RefreshLog();
    }

    // A failed write ends like a successful one, through the progress timer, which shows the
    // result and gives the buttons back.
    success_ = ok;
    if (ok) ready_ = true;
    finished_ = true;
    busy_ = 0;
    ports_.dialog.SetTimer(kTimerProgress, kRealtekProgressMs);
}

// ---------------------------------------------------------------------------------------------
// Timers

void WriteTool::OnTimer(uint32_t id) {
    switch (id) {
        case kTimerRealtekStart:
            RealtekDownload();
            break;
        case kTimerProgress:
            ProgressTick();
            break;
        case kTimerRearm:
            ready_ = true;
            ports_.dialog.KillTimer(kTimerRearm);
            break;
        default:
            break;
    }
}

void WriteTool::ProgressTick() {
    ports_.dialog.SetProgressPos(ProgressByte());
    if (!finished_) {
        if (route_ == Route::Sonix) {
            SetProgress(static_cast<uint8_t>(ports_.sonix.GetProgress()));
            ports_.dialog.SetProgressPos(ProgressByte());
        }
        if (const int picture = CountdownPicture(ProgressByte())) ports_.dialog.ShowPicture(picture);
        busy_ = 1;
        return;
    }
    EndOfDownload();
}

void WriteTool::EndOfDownload() {
    ports_.dialog.SetProgressPos(100);
    const bool success = success_;
    if (success) {
        Log(kDownloadComplete);
        SetStatus(kStatusSuccess);
        ports_.dialog.ShowPicture(kBmpSuccess);
    } else {
        Log(kDownloadFail);
        SetStatus(kStatusFail);
        ports_.dialog.ShowPicture(kBmpFail);
    }
    RefreshLog();
    ports_.dialog.EnableControl(kIdcFlash, true);
    ports_.dialog.EnableControl(kIdcClose, true);
    finished_ = false;
    ports_.dialog.KillTimer(kTimerProgress);
    ports_.quelmar.DestroyHandle();
    ports_.system.Sleep(kSettleMs);
    ready_ = true;
    ports_.dialog.SetTimer(kTimerRearm, kRearmMs);
    downloading_ = false;
    if (settings_.cmdLineMode && settings_.cmdLineMsg) {
        if (success)
            ports_.dialog.ShowMessage(kBoxSuccessText, kBoxSuccessCaption);
        else
            ports_.dialog.ShowMessage(kBoxFailText, kBoxFailCaption);
    }
    if (settings_.cmdLineMode) ports_.dialog.RequestClose();
    busy_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Plug events, activation, closing

bool WriteTool::OnDeviceChange(uint32_t event, uint32_t deviceType, const camlib::Guid* interfaceClass) {
    if (busy_ != 0) return false;
    if ((event != kDeviceArrival && event != kDeviceRemoveComplete) || deviceType != kDeviceTypeInterface)
        return false;
    if (!interfaceClass || *interfaceClass != kKsCategoryVideo) return true;

    ports_.com.Initialize();
    ports_.quelmar.DestroyHandle();
    ports_.quelmar.CreateHandle();
    if (event == kDeviceArrival) {
        if (!ready_) return false;
        Log(kPlugSeparator);
        Log(kPlugIn);
        Identify();
        ports_.system.Sleep(kSettleMs);
    } else {
        if (!ready_) return false;
        ports_.dialog.ShowPicture(kBmpIdle);
        ports_.quelmar.DestroyHandle();
        Log(kPlugOut);
        RefreshLog();
    }
    return true;
}

void WriteTool::OnActivate() {
    if (const int picture = StatusPicture(StatusByte())) ports_.dialog.ShowPicture(picture);
}

bool WriteTool::OnClose() {
    if (downloading_) {
        ports_.trace.Write(kTraceCloseRefused);
        return false;
    }
    return true;
}

void WriteTool::OnDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    if (worker_) {
        if (ports_.workers.Wait(worker_, kWorkerJoinMs))
            worker_ = 0;
        else
            ports_.trace.Write(kTraceWorkerRunning);
    }
    ports_.quelmar.DestroyHandle();
    image_.clear();
    image_.shrink_to_fit();
    sonixImage_.clear();
    if (realtekMode_) rvc_.UnInitialize(1);
    rvc_.Unload();
    realtekMode_ = false;
}

}  // namespace orlinde
