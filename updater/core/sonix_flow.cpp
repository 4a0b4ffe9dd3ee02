#include "sonix_flow.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "session.h"
#include "text_util.h"
#include "texts.h"
#include "update_log.h"

namespace tessaw {

uint16_t SonixProtectAddress(const char* romVersion16) {
    struct Rom {
        const char* first4;  // lower case
        uint8_t index;       // the ROM version's byte 5
        uint16_t address;
    };
    static constexpr Rom kRoms[] = {
        {"231r", 2, 0x000F}, {"232r", 1, 0xC034}, {"275r", 1, 0xC034}, {"276r", 1, 0xC034}};
    const std::string first4 = Lower(std::string(romVersion16, strnlen(romVersion16, 4)));
    const uint8_t index = static_cast<uint8_t>(romVersion16[5]);
    for (const Rom& rom : kRoms)
        if (first4 == rom.first4 && index == rom.index) return rom.address;
    return 0x8034;
}

namespace {

// One run over one session. The read-back buffer is a local of Go(), so every way out frees it.
class FlowRun {
public:
    explicit FlowRun(UpdateSession& session)
        : s_(session),
          lib_(session.Sonix()),
          image_(session.Image()),
          // The image vector bounds every request, whatever the length says.
          length_(static_cast<uint32_t>(std::min<size_t>(image_.length, image_.sonix.size()))),
          requests_(SonixRequestCount(length_)) {}

    void Go() {
        if (length_ < kSonixChunkSize) return Fail(Format(kSonixImageTooShort, length_, kSonixChunkSize));

        // Before anything else reaches the camera: a refusal leaves it exactly as it was.
        if (s_.BackupWanted() && !Backup()) return;

        std::vector<uint8_t> readBack(length_, 0);
        s_.SetProgressRange(2 * length_);

        const uint16_t address = SonixProtectAddress(s_.RomVersion());
        uint16_t word = 0;
        uint8_t byte = 0;
        // The library is given whatever the byte holds; a failed read only leaves it at 0.
        if (!lib_.ReqToDriver(kSonixReadRequest, address, &byte, 1))
            kit::TraceF(s_.Trace(), kSonixProtectByteUnread, static_cast<unsigned>(address));
        if (!lib_.SetWriteProtect(false, word, byte)) return Fail(kSonixProtectOffFailed);
        s_.TraceText(kProtectOffDone);

        s_.ReportStep(kUpdateStart);
        s_.Log().Flush();

        s_.ReportStep(kEraseMemory);
        if (!lib_.EraseSF()) return Fail(kEraseFailed);

        s_.Log().Flush();
        s_.ReportStep(kWriteFirmware);
        for (uint32_t i = 0; i < requests_; ++i) {
            const uint32_t at = i * kSonixChunkSize, n = SonixRequestLength(length_, i);
            if (!lib_.ReqToDriver(kSonixWriteRequest, at, image_.sonix.data() + at, n))
                return Fail(kWriteFailed);
            s_.ShowText(Format(kWriteProgress, SonixPercent(length_, i)));
            Advance(n);
            s_.Log().Flush();
        }
        s_.SetProgressPos(position_);
        s_.PlainLog(kWriteComplete);
        s_.Log().Flush();

        if (!lib_.SetWriteProtect(true, word, byte)) return Fail(kSonixProtectOnFailed);
        s_.TraceText(kProtectOnDone);
        s_.Log().Flush();

        s_.ReportStep(kVerifyCode);
        std::fill(readBack.begin(), readBack.end(), 0xFF);
        for (uint32_t i = 0; i < requests_; ++i) {
            const uint32_t at = i * kSonixChunkSize, n = SonixRequestLength(length_, i);
            if (!lib_.ReqToDriver(kSonixReadRequest, at, readBack.data() + at, n)) return Fail(kVerifyFailed);
            s_.ShowText(Format(kVerifyProgress, SonixPercent(length_, i)));
            Advance(n);
            s_.Log().Flush();
        }
        s_.SetProgressPos(position_);
        if (std::memcmp(readBack.data(), image_.sonix.data(), length_) != 0) return Fail(kVerifyFailed);
        s_.PlainLog(kVerifyComplete);
        s_.Log().Flush();
        readBack.clear();
        readBack.shrink_to_fit();

        s_.ReportStep(kResetCamera);
        if (lib_.ResetDevice() == 0) return Fail(kResetFailed);
        s_.SetSuccess(true);
    }

private:
    // The library tells no flash size, and the erase takes the whole flash: the backup covers the
    // 64 KiB every Sonix write of the kit assumes, or the image when it is longer (a flash too small
    // for that fails the read, and with it the update, which could not have been written either).
    bool Backup() {
        s_.ReportStep(kBackupReading);
        const uint32_t total = std::max(kSonixBackupBytes, length_);
        std::vector<uint8_t> held(total, 0xFF);
        for (uint32_t at = 0; at < total; at += kSonixChunkSize) {
            const uint32_t n = std::min(kSonixChunkSize, total - at);
            if (!lib_.ReqToDriver(kSonixReadRequest, at, held.data() + at, n)) {
                s_.BackupReadFailed(at, total);
                return false;
            }
        }
        return s_.KeepBackup(held);
    }
    void Advance(uint32_t bytes) {
        position_ += bytes;
        s_.SetProgressPos(position_);
    }
    void Fail(const std::string& text) {
        s_.ReportStep(text);
        s_.SetSuccess(false);
    }

    UpdateSession& s_;
    SonixLibraryPort& lib_;
    FirmwareImage& image_;
    const uint32_t length_;
    const uint32_t requests_;
    uint32_t position_ = 0;
};

}  // namespace

void SonixFlow::Run(UpdateSession& session) { FlowRun(session).Go(); }

}  // namespace tessaw
