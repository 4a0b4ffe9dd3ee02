#include "realtek_flow.h"

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "session.h"
#include "text_util.h"
#include "texts.h"

namespace tessaw {
namespace {

// Published for the length of one EEPROMWrite3. The context it points at belongs to a flow that
// lives as long as the program, so a callback that read the pointer just before it was withdrawn
// still finds valid ports.
std::atomic<const ProgressContext*> g_progress{nullptr};

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

class FlowRun {
public:
    FlowRun(UpdateSession& session, CStdioFileEx& progressLog, ProgressContext& context)
        : s_(session), lib_(session.Rvc()), progressLog_(progressLog), context_(context) {}

    void Go() {
        std::vector<FoundDevice> found;
        lib_.Initialize(0, 1);
        Enumerate(found);
        const int count = static_cast<int>(found.size());
        Report(Format(kFindDevices, count));
        s_.Log().Flush();

        if (count > 0 && !Precheck(found)) {
            // Refused before any camera was written; the session has reported it.
        } else if (s_.Device().combo && count < 2) {
            Report(kComboMismatch);
            s_.Log().Flush();
        } else if (count > 0) {
            int32_t result = -1;
            for (const FoundDevice& device : found) {
                std::optional<int32_t> written = Write(device);
                if (!written) {
                    // Already reported; nothing reached this camera or the ones after it.
                    result = -1;
                    break;
                }
                result = *written;
                if (result != 0) {
                    Report(Format(kFwUpdateError, result));
                    s_.Log().Flush();
                    s_.SetSuccess(false);
                    break;
                }
                Reidentify(device);
            }
            if (result == 0) s_.SetSuccess(true);
        }
        found.clear();
        lib_.UnInitialize(1);
    }

private:
    void Trace(const std::string& text) { kit::TraceF(s_.Trace(), "%s", text.c_str()); }
    // Debug trace, stamped log line, log view and Status field.
    void Report(const std::string& text) {
        Trace(text);
        s_.Log().StampedWrite(PlainLine(text));
        s_.ShowText(text);
    }
    void Stop(const std::string& text) {
        Report(text);
        s_.Log().Flush();
    }

    void Enumerate(std::vector<FoundDevice>& found) {
        std::vector<FirmwareEntry>& entries = s_.Entries();
        const std::string& system = s_.SystemId();
        uint16_t vid = 0, pid = 0;
        for (int32_t index = 0;; ++index) {
            if (index == kMaxRvcCameras) {
                kit::TraceF(s_.Trace(), kRtkTooManyDevices, kMaxRvcCameras);
                break;
            }
            const RvcHandle handle = lib_.Open(index);
            kit::TraceF(s_.Trace(), kUvcOpen, index, static_cast<unsigned>(handle));
            if (handle == 0) break;
            // Cleared for every camera: a camera whose query fails must not pass for the one before.
            vid = pid = 0;
            lib_.GetDevVidPid(handle, &vid, &pid);
            kit::TraceF(s_.Trace(), kUvcVidPid, static_cast<unsigned>(handle), vid, pid);
            const std::string pidText = Upper(Format("%04x", pid));
            for (size_t i = 0; i < entries.size(); ++i) {
                FirmwareEntry& entry = entries[i];
                entry.sysId = Upper(entry.sysId);
                if (entry.sysId != system && entry.sysId != kAnySystem) continue;
                if (entry.pid != pidText || entry.rev.empty()) continue;
                found.push_back(FoundDevice{vid, pid, index, static_cast<int32_t>(i)});
                kit::TraceF(s_.Trace(), kFoundDevice, index, vid, pid);
                break;
            }
            lib_.Close(handle);
        }
    }

    // The checks of [Checks] over every camera before the first is written. The kit does not know
    // the Realtek file format: neither the file's identity nor its revision can be read, but a file
    // larger than a camera's memory would be cut, so the identity check refuses it.
    bool Precheck(const std::vector<FoundDevice>& found) {
        const CheckSettings& checks = s_.Checks();
        if (checks.VersionCheck()) s_.VersionNotChecked();
        // RvcLib.dll's interface as the kit knows it has no read of the memory it writes: a packager
        // who asked for a backup gets no update rather than one without the backup.
        if (s_.BackupWanted()) {
            s_.Refuse(kExitNoBackup, kBackupNotPossible);
            return false;
        }
        if (!checks.imageIdentity) return true;
        for (const FoundDevice& device : found) {
            const FirmwareEntry& entry = s_.Entries()[static_cast<size_t>(device.entry)];
            // What cannot be asked here, Write() reports as it always has.
            if (entry.binName.empty()) continue;
            int32_t eepromId = kEepromIdPreset, size = kEepromSizePreset;
            if (lib_.EepromInfo2(device.index, &eepromId, &size) != 0 || size <= 0) continue;
            uint64_t length = 0;
            const std::string path = s_.ProgramDir() + "\\" + entry.binName;
            if (!s_.Files().Status(path.c_str(), length)) continue;
            if (length > static_cast<uint64_t>(size)) {
                s_.Refuse(kExitWrongImage, Format(kRefuseImageLarge, static_cast<unsigned>(length), size));
                return false;
            }
        }
        return true;
    }

    // The library's result for the camera, or nothing when the flow stopped before writing.
    std::optional<int32_t> Write(const FoundDevice& device) {
        const FirmwareEntry& entry = s_.Entries()[static_cast<size_t>(device.entry)];
        Report(kDeviceRule);
        Report(Format(kDeviceHeading, device.index, device.vid, device.pid));
        Report(Format(kCurrentRev, entry.rev.c_str()));
        s_.Log().Flush();

        int32_t eepromId = kEepromIdPreset, size = kEepromSizePreset;
        int32_t result = lib_.EepromInfo2(device.index, &eepromId, &size);
        kit::TraceF(s_.Trace(), kEepromInfo, device.index, result, eepromId, size);
        if (result != 0) {
            kit::TraceF(s_.Trace(), kEepromInfoFailed, result);
            return result;
        }
        if (size <= 0 || size > kMaxEepromSize) {
            Stop(Format(kRtkBadSize, size, device.index));
            return std::nullopt;
        }
        if (entry.binName.empty()) {
            Stop(Format(kRtkNoBinName, entry.pid.c_str()));
            return std::nullopt;
        }

        // A shorter file leaves the rest as an erased EEPROM reads; a longer one is cut at its size.
        std::vector<uint8_t> image(static_cast<size_t>(size), 0xFF);
        std::string& path = s_.Image().path;
        path = s_.ProgramDir() + "\\" + entry.binName;
        {
            // The texts of the firmware-file step: one text per fault, whichever step finds it.
            uint64_t length = 0;
            if (!s_.Files().Status(path.c_str(), length)) {
                Stop(Format(kFwMissing, path.c_str()));
                return std::nullopt;
            }
            std::unique_ptr<kit::ReadableFile> file = s_.Files().OpenRead(path.c_str());
            if (!file) {
                Stop(Format(kFwOpenFailed, path.c_str()));
                return std::nullopt;
            }
            // An empty file would leave nothing but erased bytes to write.
            if (file->Read(image.data(), static_cast<uint32_t>(size)) == 0) {
                Stop(Format(kRtkFileEmpty, path.c_str()));
                return std::nullopt;
            }
        }

        s_.SetProgressRange(2 * static_cast<uint32_t>(size));
        Report(kDownloadMode);
        s_.Log().Flush();

        s_.StillCapture().InitStillGraph(device.vid, device.pid);
        progressLog_.ShareStreamOf(s_.Log());
        context_ = ProgressContext{&s_.Dialog(), &s_.Trace(), &progressLog_};
        g_progress.store(&context_, std::memory_order_release);

        kit::TraceF(s_.Trace(), kBeforeWrite, eepromId, device.index, size, Address(image.data()));
        result = lib_.EepromWrite3(eepromId, device.index, size, image.data(), &pfnProgressCallBack);
        g_progress.store(nullptr, std::memory_order_release);
        kit::TraceF(s_.Trace(), kAfterWrite, eepromId, device.index, size, Address(image.data()), result);

        s_.StillCapture().ClearGraphs();
        return result;
    }

    void Reidentify(const FoundDevice& device) {
        s_.Trace().Write(kBeforeCheckDevice);
        s_.Identify();
        s_.Trace().Write(kAfterCheckDevice);
        const std::string line = Format(kCurrentRev, s_.Entries()[static_cast<size_t>(device.entry)].rev.c_str());
        s_.Log().StampedWrite(PlainLine(line));
        s_.ShowText(line);
        s_.Log().Flush();
        s_.SetProgressPos(0);
    }

    UpdateSession& s_;
    const RvcLibBinding& lib_;
    CStdioFileEx& progressLog_;
    ProgressContext& context_;
};

}  // namespace

std::string ProgressStageText(uint32_t done, uint32_t total) {
    const uint32_t half = total / 2;
    if (done <= half) return Format(kDownloadStage, static_cast<int>(done), static_cast<int>(half));
    return Format(kVerifyStage, static_cast<int>(done - half), static_cast<int>(half));
}

void RVCLIB_CALL pfnProgressCallBack(uint32_t done, uint32_t total) {
    const ProgressContext* c = g_progress.load(std::memory_order_acquire);
    if (!c) return;
    // Called from the library's code: nothing may be thrown back into it.
    try {
        kit::TraceF(*c->trace, kProgressTrace, static_cast<int>(done), static_cast<int>(total));
        const std::string text = ProgressStageText(done, total);
        c->log->StampedWrite(PlainLine(text));
        c->dialog->Send(kWmUpdateShowText, reinterpret_cast<uintptr_t>(text.c_str()), kShowAndStatus);
        c->log->Flush();
        c->dialog->Send(kWmUpdateSetPos, done, 0);
    } catch (...) {
    }
}

RealtekFlow::RealtekFlow(kit::FileSystemPort& files, kit::ClockPort& clock) : progressLog_(files, clock) {}

RealtekFlow::~RealtekFlow() {
    const ProgressContext* mine = &context_;
    g_progress.compare_exchange_strong(mine, nullptr);
}

void RealtekFlow::Run(UpdateSession& session) { FlowRun(session, progressLog_, context_).Go(); }

}  // namespace tessaw
