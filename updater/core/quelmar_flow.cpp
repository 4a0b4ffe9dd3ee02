#include "quelmar_flow.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camlib/chips.h"
#include "session.h"
#include "text_util.h"
#include "texts.h"
#include "update_log.h"

namespace tessaw {

std::optional<unsigned char> QuelmarCommandTable(unsigned char flashType) {
    // Only a part the library's probe identifies: 0x78 (a part nobody identified), 0xFF (in-package
    // flash) and the bare table indices name no part, and a table guessed for them could drive the
    // part with foreign opcodes.
    const camlib::FlashPart* part = camlib::FindFlashPart(flashType);
    if (!part) return std::nullopt;
    return part->table;
}

bool QuelmarKeepsProtection(unsigned char flashType) {
    const camlib::FlashPart* part = camlib::FindFlashPart(flashType);
    return part && part->keepsProtection;
}

namespace {

// One run over one session. The read-back buffer is a local of Go(), so every way out frees it.
class FlowRun {
public:
    explicit FlowRun(UpdateSession& session)
        : s_(session),
          lib_(session.Quelmar()),
          image_(session.Image()),
          // The image vector bounds every sector the library touches, whatever the length says.
          length_(static_cast<uint32_t>(std::min<size_t>(image_.length, image_.quelmar.size()))),
          compared_(std::min(image_.quelmarBytesRead, length_)),
          sectors_(length_ / kQuelmarSectorSize) {}

    void Go() {
        std::vector<unsigned char> readBack(length_, 0);
        s_.SetProgressRange(2 * length_);

        // A call that cannot ask the camera leaves the code at 0, which no table answers.
        unsigned char code = 0;
        lib_.GetFlashType(&code);
        std::optional<unsigned char> table = QuelmarCommandTable(code);
        if (!table) return Fail(Format(kUnknownFlashType, static_cast<unsigned>(code)));
        const bool keep = QuelmarKeepsProtection(code);
        // Before the protection is touched: a refusal leaves the camera exactly as it was.
        if (s_.BackupWanted() && !Backup(*table)) return;

        if (!keep) {
            if (lib_.WriteProtectOff(*table) != 0) return Fail(kProtectOffFailed);
            s_.TraceText(kProtectOffDone);
        }

        s_.ReportStep(kEraseMemory);
        s_.Log().Flush();
        if (lib_.Erase(*table) != 0) return Fail(kEraseFailed);
        s_.ReportStep(kEraseDone);

        s_.Log().Flush();
        s_.ReportStep(kWriteFirmware);
        for (uint32_t i = 0; i < sectors_; ++i) {
            if (lib_.DownloadSector(image_.quelmar.data(), *table, i, 0) != 0) return Fail(kWriteFailed);
            s_.ShowText(Format(kWriteProgress, Percent(i)));
            Advance();
            s_.Log().Flush();
        }
        s_.SetProgressPos(position_);
        s_.PlainLog(kWriteComplete);

        if (!keep) {
            if (lib_.WriteProtectOn(*table) != 0) return Fail(kProtectOnFailed);
            s_.TraceText(kProtectOnDone);
        }

        s_.Log().Flush();
        s_.ReportStep(kVerifyCode);
        std::fill(readBack.begin(), readBack.end(), 0xFF);
        for (uint32_t i = 0; i < sectors_; ++i) {
            if (lib_.UploadSector(readBack.data(), i, *table) != 0) return Fail(kVerifyFailed);
            s_.ShowText(Format(kVerifyProgress, Percent(i)));
            Advance();
        }
        s_.SetProgressPos(position_);
        s_.Log().Flush();

        // Bytes beyond what the file filled are padding: written, never compared.
        if (std::memcmp(readBack.data(), image_.quelmar.data(), compared_) != 0) {
            SaveReadBack(readBack);
            return Fail(kVerifyFailed);
        }
        s_.PlainLog(kVerifyComplete);
        readBack.clear();
        readBack.shrink_to_fit();

        s_.ReportStep(kResetCamera);
        int reset = lib_.ResetCamera();
        kit::TraceF(s_.Trace(), kResetResult, static_cast<unsigned>(reset));
        if (reset != 0) return Fail(kResetFailed);
        s_.SetSuccess(true);
    }

private:
    int Percent(uint32_t sector) const {
        return static_cast<int>((sector + 1) * kQuelmarSectorSize * 100 / length_);
    }
    // Reads every sector the flow will write, through the read path the verification uses, and has
    // the session keep it. false when the update must not go on (the session has refused it).
    bool Backup(unsigned char table) {
        s_.ReportStep(kBackupReading);
        std::vector<unsigned char> held(sectors_ * kQuelmarSectorSize, 0xFF);
        for (uint32_t i = 0; i < sectors_; ++i) {
            if (lib_.UploadSector(held.data(), i, table) != 0) {
                s_.BackupReadFailed(i * kQuelmarSectorSize, static_cast<uint32_t>(held.size()));
                return false;
            }
        }
        return s_.KeepBackup(held);
    }
    void Advance() {
        position_ += kQuelmarSectorSize;
        s_.SetProgressPos(position_);
    }
    void Fail(const std::string& text) {
        s_.ReportStep(text);
        s_.SetSuccess(false);
    }
    // What the camera gave back, for whoever has to find out why the comparison failed. A file that
    // cannot be written changes nothing about the outcome; the trace says so.
    void SaveReadBack(const std::vector<unsigned char>& readBack) {
        std::unique_ptr<kit::WritableFile> file = s_.Files().Create(kReadBackFile);
        if (!file || !file->Write(readBack.data(), compared_) || !file->Flush())
            kit::TraceF(s_.Trace(), kReadBackNotSaved, kReadBackFile);
    }

    UpdateSession& s_;
    QuelmarBinding& lib_;
    FirmwareImage& image_;
    const uint32_t length_;
    const uint32_t compared_;
    const uint32_t sectors_;
    uint32_t position_ = 0;
};

}  // namespace

void QuelmarFlow::Run(UpdateSession& session) { FlowRun(session).Go(); }

}  // namespace tessaw
