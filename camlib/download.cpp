// Firmware download: the image is patched for the flash part, its XOR checksum taken, the device put
// into download mode, the image streamed in chunks of the size the device reports, the device's own
// checksum compared, and only then is the image marked valid. Four variants share the skeleton
// (generic, paced, in-package, the direct serial-flash path), chosen by the family's row; a quiet
// form of the generic one serves stored jobs.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <functional>

#include "camlib/internals.h"

namespace camlib {
namespace {

constexpr uint8_t kMcmCycles[27] = {0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0x80,
                                    0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0x10,
                                    0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0xA0};

// One download: the job's report bytes, the retry and failure counts, the last transport result.
class Session {
public:
    Session(CamHandle* h, DownloadJob& job, bool quiet) : h_(h), job_(job), quiet_(quiet) {}

    void Report(uint8_t status, uint8_t progress) {
        Status(status);
        Progress(progress);
    }
    void Status(uint8_t status) {
        if (job_.statusOut) *job_.statusOut = status;
    }
    void Progress(uint8_t progress) {
        if (job_.progressOut) *job_.progressOut = progress;
    }
    // A formatted trace line, and a plain one; the quiet form writes neither.
    void T(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        if (quiet_) return;
        va_list args;
        va_start(args, fmt);
        kit::VTraceF(*PlatformOf(h_).trace, fmt, args);
        va_end(args);
    }
    void Line(const char* text) {
        if (!quiet_) PlatformOf(h_).trace->Write(text);
    }
    void Sleep(uint32_t ms) { SleepMs(h_, ms); }
    // Records a transport result as the last one and tells whether it succeeded.
    bool Ok(int32_t r) {
        last = r;
        return r == hr::kOk;
    }
    int32_t Write1(uint8_t selector, uint8_t value) { return XuWrite(*h_->pExt, selector, &value, 1); }

    CamHandle* h_;
    DownloadJob& job_;
    bool quiet_;
    int retries = 0;
    int failures = 0;
    int32_t last = hr::kOk;
};

// What a variant does around the shared chunk loop.
struct ChunkHooks {
    uint32_t progressScale = 90;
    std::function<void(uint32_t n)> sent;  // after chunk n (from 1) went
    std::function<void()> firstFailure;    // a chunk failed once; it is then sent again
    std::function<void()> recovered;       // the second try went
    std::function<void()> secondFailure;   // the second try failed too
};

// Sends the image in chunks of `chunk` bytes; pad bytes of the last chunk join the checksum.
bool ChunkLoop(Session& s, uint32_t chunk, uint8_t& checksum, const ChunkHooks& hooks) {
    const DownloadJob& job = s.job_;
    std::vector<uint8_t> buffer(chunk);
    uint32_t sent = 0;
    for (uint32_t n = 1;; ++n) {
        s.Report(DL_TRANSFER, static_cast<uint8_t>(uint64_t{sent} * hooks.progressScale / job.length + 5));
        if (sent + chunk <= job.length) {
            std::memcpy(buffer.data(), job.image + sent, chunk);
            sent += chunk;
        } else {
            const uint32_t tail = job.length - sent;
            std::memcpy(buffer.data(), job.image + sent, tail);
            std::fill(buffer.begin() + tail, buffer.end(), 0xFF);
            for (uint32_t i = tail; i < chunk; ++i) checksum ^= 0xFF;
            sent = job.length;
        }
        if (!s.Ok(XuWrite(*s.h_->pExt, XU_DFU_ACCESS_CONTROL, buffer.data(), chunk))) {
            ++s.retries;
            if (hooks.firstFailure) hooks.firstFailure();
            if (!s.Ok(XuWrite(*s.h_->pExt, XU_DFU_ACCESS_CONTROL, buffer.data(), chunk))) {
                if (hooks.secondFailure) hooks.secondFailure();
                return false;
            }
            if (hooks.recovered) hooks.recovered();
        }
        if (hooks.sent) hooks.sent(n);
        if (sent >= job.length) return true;
    }
}

// The chunk size, asked twice (the second answer counts) and once more after a failure. A size the
// loop cannot use (none, or more than the chunk buffer holds) counts as a failed answer.
bool AskChunk(Session& s, uint32_t& chunk, bool& retried) {
    auto ask = [&]() {
        uint32_t length = 0;
        int32_t r = XuLength(*s.h_->pExt, XU_DFU_ACCESS_CONTROL, &length);
        if (r == hr::kOk && (length == 0 || length > kMaxControlBytes)) r = hr::kUnexpected;
        s.last = r;
        if (r == hr::kOk) chunk = length;
        return r == hr::kOk;
    };
    uint32_t first = 0;
    XuLength(*s.h_->pExt, XU_DFU_ACCESS_CONTROL, &first);
    retried = false;
    if (ask()) return true;
    retried = true;
    ++s.retries;
    return ask();
}

// The device's checksum against the one sent, for every variant: a download that needed a retry
// counts as a mismatch too, whatever the checksum says. A mismatch is traced (after `line`, when the
// variant has one) and counted as a failure.
bool Mismatched(Session& s, uint8_t device, uint8_t sent, const char* line) {
    if (device == sent && !s.retries) return false;
    if (line) s.Line(line);
    s.T(text::kChecksumMismatch, device, sent);
    ++s.failures;
    return true;
}

bool ImageHolds(const DownloadJob& job, int64_t offset, uint32_t bytes) {
    return offset >= 0 && uint64_t(offset) + bytes <= job.length;
}

// Writes the flash-type byte of the image. False when the image is too short to hold it.
bool Patch(DownloadJob& job, const ChipFamily& family) {
    const int32_t offset = family.patchOffset;
    if (offset < 0) return true;
    if (!ImageHolds(job, offset, 1)) return false;
    const int index = FlashTableIndex(job.flashType);
    if (index >= 0) job.image[offset] = family.patch[index];
    return true;
}

// The direct serial-flash path of the 32-byte-page parts on the oldest families.
bool DirectPath(Session& s, DownloadJob& job) {
    CamHandle* h = s.h_;
    ExtUnit& u = *h->pExt;
    uint8_t checksum = XorChecksum(job.image, job.length);
    if (job.checksumOut) *job.checksumOut = checksum;
    // The path works on one 64 KiB buffer; a longer image would not fit in it.
    if (job.length > kAddressableBytes) {
        s.T(text::kDirectTooLong, job.length);
        s.Report(DL_ERROR, 100);
        return false;
    }
    LoadCommandTable(u, 0);
    uint8_t status = 0;
    WriteFlashStatus(h, 0, 0x00, &status);
    std::vector<uint8_t> buffer(kAddressableBytes, 0);
    std::memcpy(buffer.data(), job.image, job.length);
    buffer[0] = 0xF5;
    const uint32_t sectors = (job.length + kSectorBytes - 1) / kSectorBytes;
    bool ok = true;
    for (uint32_t a = 0; ok && a < sectors * kSectorBytes; a += kSectorBytes) {
        s.Report(DL_TRANSFER, static_cast<uint8_t>(uint64_t{a} * 90 / (sectors * kSectorBytes) + 5));
        ok = WriteSectorHalfPages(h, a, buffer.data() + a) == hr::kOk;
    }
    s.Report(DL_VERIFY, 95);
    std::vector<uint8_t> back(kAddressableBytes);
    ok = ok && CamReadRange(h, back.data(), 0, 0, kAddressableBytes) == 1 &&
         std::equal(back.begin(), back.begin() + job.length, buffer.begin());
    if (!ok) {
        if (job.deviceChecksumOut) *job.deviceChecksumOut = static_cast<uint8_t>(~checksum);
        s.Report(DL_ERROR, 100);
        return false;
    }
    job.image[0] = 0x55;
    const uint8_t valid = 0x55;
    if (BypassProgram(h, 0, &valid, 1) != hr::kOk) {
        // Without its valid mark the image does not start (the camera stays in ROM mode): a cut or
        // a refusal here is no success.
        s.Line(text::kValidMarkFail);
        if (job.deviceChecksumOut) *job.deviceChecksumOut = static_cast<uint8_t>(~checksum);
        s.Report(DL_ERROR, 100);
        return false;
    }
    WriteFlashStatus(h, 0, 0x0C, &status);
    if (job.deviceChecksumOut) *job.deviceChecksumOut = checksum;
    s.Report(DL_FINISH, 100);
    return true;
}

// The checks before anything reaches the camera. Returns the result to give back when the job is
// refused (after reporting it), or -1 when the download goes on; the image is then patched.
int Refused(Session& s, CamHandle* h, DownloadJob& job, bool quiet) {
    if (!CamFlashTypeValid(job.flashType) || (quiet && job.length == 0)) {
        s.Line(text::kFlashTypeError);
        s.Report(DL_ERROR, 100);
        return kResultInvalid;
    }
    // An empty image would divide the progress by zero and send one chunk of padding.
    if (!job.image || job.length == 0) {
        s.Line(text::kDataNull);
        s.Report(DL_ERROR, 100);
        return kResultFail;
    }
    if (!h || !h->pExt) {
        s.Line(text::kNullExt);
        s.Report(DL_ERROR, 100);
        return kResultFail;
    }
    if (!Patch(job, FamilyRow(h->pExt->family))) {
        s.T(text::kTooShortForPatch, job.length);
        s.Report(DL_ERROR, 100);
        return kResultFail;
    }
    return -1;
}

// The GPIO lines a setting file asks for, and the header the image goes out with. Returns the
// image's checksum.
uint8_t PrepareImage(Session& s, DownloadJob& job, const ChipFamily& family, bool quiet) {
    CamHandle* h = s.h_;
    ExtUnit& u = *h->pExt;
    Platform& p = PlatformOf(h);
    if (!quiet && !p.settingFile.empty() && p.profile &&
        p.profile->GetInt("SETTING", "GPIO", 0, p.settingFile.c_str()) == 1) {
        SetRegBits(u, reg::kGpioEnable0, 0x02);
        s.Sleep(50);
        SetRegBits(u, reg::kGpioEnable1, 0x02);
    }
    if (!quiet && family.pendingAt == PendingAt::Image) {
        job.image[0] = family.pending.bytes[0];
        if (job.length > 1) job.image[1] = family.pending.bytes[1];
    }
    // The pending mark written after the first chunk can only clear bits: over a file whose header
    // already holds the verified mark it changes nothing, and a cut later in the download would leave
    // a verified mark over a half-written image. Such a header goes out as the pending mark; the
    // verified one is still written last.
    if (family.pendingAt == PendingAt::Flash && job.image[0] != 0xFF) job.image[0] = family.pending.bytes[0];
    const uint8_t checksum = XorChecksum(job.image, job.length);
    s.Line(text::kChecksumDone);
    if (job.checksumOut) *job.checksumOut = checksum;
    return checksum;
}

// Reads the device's checksum of what it took: up to three reads. False when none answered.
bool ReadDeviceChecksum(Session& s, uint8_t& device) {
    ExtUnit& u = *s.h_->pExt;
    bool read = s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1));
    if (!read) {
        s.Line(text::kChecksumReadFail);
        read = s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1));
    }
    if (!read) {
        ++s.retries;
        s.Line(text::kChecksumReadFail);
        read = s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1));
    }
    return read;
}

// Marks the verified image valid (by the commit selector or the header mark) and protects the part
// again; a failure counts in the session.
void Commit(Session& s, const ChipFamily& family, uint32_t type, bool quiet) {
    CamHandle* h = s.h_;
    if ((quiet ? family.quietCommit : family.commit) == CommitBy::Selector) {
        if (!s.Ok(s.Write1(XU_ISP_FW_DOWNLOAD_OK, 1))) {
            ++s.failures;
            s.Line(text::kDownloadOkFail);
            return;
        }
    } else if (FlashWriteAt(h, 0, family.verified.bytes, family.verified.count) != hr::kOk) {
        // Without its valid mark the image would not start: not a success.
        ++s.failures;
        s.Line(text::kValidMarkFail);
    }
    CamProtectOn(h, type);
}

// Download mode in, the chunks out, the device's checksum compared, the image committed. Every
// failure counts in the session (retries or failures); the caller leaves download mode.
void Transfer(Session& s, DownloadJob& job, const ChipFamily& family, uint8_t checksum, bool quiet) {
    CamHandle* h = s.h_;
    bool entered = s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, quiet ? 1 : 3));
    if (!entered) {
        s.Line(text::kStartFail);
        ++s.retries;
        entered = s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, quiet ? 1 : 3));
        if (entered) s.Line(text::kStartRecovered);
    }
    if (!entered) return;
    s.Line(text::kStartOk);
    s.Line(text::kGetSize);
    uint32_t chunk = 0;
    bool retried = false;
    const bool sized = AskChunk(s, chunk, retried);
    if (retried) s.Line(text::kGetSizeFail);
    if (!sized) return;
    s.Line(text::kGetSizeOk);
    ChunkHooks hooks;
    hooks.progressScale = quiet ? 85 : 90;
    hooks.sent = [&](uint32_t n) {
        if (n % 20 == 1) s.Line(text::kBurning);
        if (n == 1 && family.pendingAt == PendingAt::Flash) {
            FlashWriteAt(h, 0, family.pending.bytes, family.pending.count);
            const uint32_t at = family.identityOffset;
            if (ImageHolds(job, at, 6)) FlashWriteAt(h, at, job.image + at, 6);
        }
    };
    hooks.firstFailure = [&] {
        s.Line(text::kChunkFail);
        if (!quiet) s.Sleep(1);
    };
    hooks.recovered = [&] { s.Line(text::kChunkRecovered); };
    hooks.secondFailure = [&] { s.Line(text::kChunkFail); };
    if (!ChunkLoop(s, chunk, checksum, hooks)) return;
    s.Report(DL_VERIFY, quiet ? 90 : 95);
    uint8_t device = 0;
    if (!ReadDeviceChecksum(s, device)) return;
    s.Sleep(500);
    if (job.deviceChecksumOut) *job.deviceChecksumOut = device;
    if (Mismatched(s, device, checksum, text::kChecksumIncorrect)) return;
    s.T(text::kChecksumCorrect, checksum);
    Commit(s, family, job.flashType, quiet);
}

int Generic(CamHandle* h, DownloadJob job, bool quiet) {
    Session s(h, job, quiet);
    if (const int refused = Refused(s, h, job, quiet); refused >= 0) return refused;
    ExtUnit& u = *h->pExt;
    const ChipFamily& family = FamilyRow(u.family);
    s.Report(DL_INITIAL, 5);
    s.Line(text::kInitial);

    const uint32_t type = job.flashType;
    if (SmallPages(type) && family.directSmallPage) {
        s.Line(text::kDirectDownload);
        const bool ok = DirectPath(s, job);
        if (!quiet) CamSoftReset(h);
        return ok ? kResultOk : kResultFail;
    }

    const uint8_t checksum = PrepareImage(s, job, family, quiet);
    // The chip programs with whatever table it holds: a table that did not load could program the
    // part with the wrong opcodes.
    // The length query that follows the table may go unanswered; only the table counts.
    if (LoadCommandTable(u, type).table != hr::kOk) {
        s.Line(text::kSetFlashTypeFail);
        s.Report(DL_ERROR, 100);
        return kResultFail;
    }
    s.Line(text::kSetFlashTypeOk);
    if (quiet ? family.quietSelectsSerialFlash : family.selectsSerialFlash) {
        s.Line(s.Write1(XU_ISP_SERIAL_FLASH, 1) == hr::kOk ? text::kSerialFlashOk : text::kSerialFlashFail);
    }
    CamProtectOff(h, type);
    s.Line(text::kProtectOff);
    Transfer(s, job, family, checksum, quiet);

    if (quiet) {
        s.Report(DL_VERIFY, 95);
        return s.failures || s.retries ? kResultFail : kResultOk;
    }
    const bool left = s.Write1(XU_DFU_ENABLE_CONTROL, 0) == hr::kOk;
    if (family.resetAfterDownload) {
        if (left) s.Sleep(500);
        CamSoftReset(h);
    }
    if (!left && s.Write1(XU_DFU_ENABLE_CONTROL, 0) != hr::kOk) {
        s.Report(DL_FINISH, 100);
        return kResultFail;
    }
    s.Report(DL_FINISH, 100);
    return s.failures || s.retries ? kResultFail : kResultOk;
}

int Paced(CamHandle* h, DownloadJob job, const ChipFamily& family) {
    Session s(h, job, false);
    // The patch tables have no value for an unknown part: refuse it rather than guess.
    if (!CamFlashTypeValid(job.flashType)) {
        s.Line(text::kFlashTypeError);
        s.Report(DL_ERROR, 100);
        return kResultInvalid;
    }
    if (job.image && job.length && !Patch(job, family)) {
        s.T(text::kTooShortForPatch, job.length);
        s.Report(DL_ERROR, 100);
        return kResultFail;
    }
    s.Report(DL_INITIAL, 5);
    s.Line(text::kDownloading);
    if (!job.image || job.length == 0) {
        s.Line(text::kDataNullLine);
        return kResultFail;
    }
    if (!h || !h->pExt) {
        s.Line(text::kNullExtLine);
        return kResultFail;
    }
    ExtUnit& u = *h->pExt;
    const uint8_t checksum = XorChecksum(job.image, job.length);
    uint8_t sentChecksum = checksum;
    s.T(text::kImageByte2, job.length > 2 ? job.image[2] : 0);
    s.T(text::kChecksumIs, checksum);
    s.T(text::kFlashTypeIs, job.flashType);

    [&] {
        if (!s.Ok(LoadCommandTable(u, job.flashType).table)) {
            ++s.failures;
            s.Line(text::kSetFlashTypeFail);
            return;
        }
        if (!s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, 1))) {
            s.Line(text::kEnableFail);
            s.Line(text::kResendEnable);
            ++s.retries;
            if (!s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, 1))) {
                s.Line(text::kEnableFailAgain);
                return;
            }
            s.Line(text::kEnableRecovered);
        }
        s.Line(text::kGetPropertySize);
        uint32_t chunk = 0;
        bool retried = false;
        const bool sized = AskChunk(s, chunk, retried);
        if (retried) {
            s.Line(text::kSizeFail);
            s.Line(text::kResendSize);
            s.Line(sized ? text::kSizeRecovered : text::kSizeFail);
        }
        if (!sized) return;
        ChunkHooks hooks;
        hooks.sent = [&](uint32_t n) {
            s.Sleep(10);
            if (n % 10 == 1) s.Line(text::kInTransfer);
        };
        hooks.firstFailure = [&] {
            s.Line(text::kChunkFail);
            s.Line(text::kResend);
        };
        hooks.recovered = [&] { s.Line(text::kChunkRecovered); };
        hooks.secondFailure = [&] { s.Line(text::kChunkFail); };
        if (!ChunkLoop(s, chunk, sentChecksum, hooks)) return;

        s.Report(DL_VERIFY, 95);
        s.Line(text::kGetFwChecksum);
        uint8_t device = 0;
        bool read = s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1));
        if (!read) read = s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1));
        if (!read) {
            ++s.retries;
            s.Line(text::kChecksumReadFailLine);
            s.Line(text::kResendFail);
            read = s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1));
            if (!read) {
                s.Line(text::kChecksumReadFailLine);
                return;
            }
            s.Line(text::kChecksumRecoveredLine);
        }
        s.Sleep(1000);
        s.T(text::kRetryCounter, s.retries);
        if (Mismatched(s, device, sentChecksum, nullptr)) return;
        s.T(text::kChecksumMatch, device, sentChecksum);
        if (!s.Ok(s.Write1(XU_ISP_FW_DOWNLOAD_OK, 1))) {
            ++s.failures;
            s.Line(text::kFinishProcessFail);
            return;
        }
        if (!s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, 0))) {
            ++s.failures;
            s.Line(text::kIspEnableFail);
            return;
        }
        s.Line(text::kEnd);
    }();
    CamSoftReset(h);
    s.Report(DL_FINISH, 100);
    return s.failures || s.retries ? kResultFail : kResultOk;
}

// After the checksum trigger: a second, then the busy flag read once a second until it clears, at
// most kBusyFlagPolls times. False (a failure counted) when it never cleared.
bool WaitChecksumBusy(Session& s) {
    ExtUnit& u = *s.h_->pExt;
    s.Line(text::kWaitSecond);
    s.Sleep(1000);
    s.Status(DL_BUSY_WAIT);
    uint8_t busy = 0;
    s.Ok(XuRead(u, XU_DFU_CHECKSUM_TRIGGER, &busy, 1));
    s.T(text::kBusyFlag, busy);
    for (uint32_t polls = 1; busy == 1; ++polls) {
        if (polls > kBusyFlagPolls) {
            s.T(text::kBusyGaveUp, kBusyFlagPolls);
            ++s.failures;
            return false;
        }
        s.Line(text::kWaitSecond);
        s.Sleep(1000);
        s.Ok(XuRead(u, XU_DFU_CHECKSUM_TRIGGER, &busy, 1));
        s.T(text::kBusyFlag, busy);
    }
    return true;
}

// The in-package path's checksum read: two reads, then a third that counts as a retry. False when
// none answered.
bool ReadInPackageChecksum(Session& s, uint8_t& device) {
    ExtUnit& u = *s.h_->pExt;
    if (s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1)) || s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1))) return true;
    ++s.retries;
    s.Line(text::kChecksumReadFailLine);
    if (!s.Ok(XuRead(u, XU_DFU_CHECKSUM, &device, 1))) {
        s.Line(text::kChecksumReadFailLine);
        return false;
    }
    s.Line(text::kChecksumRecoveredLine);
    return true;
}

int VariantInPackage(CamHandle* h, DownloadJob job) {
    Session s(h, job, false);
    const bool mcm = job.flashType == kFlashInPackage;
    s.T(mcm ? text::kStartMcm : text::kStartSf, job.flashType);
    // No patch byte here: a part the table does not know is programmed with command table 0, and
    // the device checksum still decides.
    s.Report(DL_INITIAL, 5);
    if (!job.image || job.length == 0) {
        s.Line(text::kDataNullLine);
        return kResultFail;
    }
    if (!h || !h->pExt) {
        s.Line(text::kNullExtLine);
        return kResultFail;
    }
    ExtUnit& u = *h->pExt;
    const uint8_t checksum = XorChecksum(job.image, job.length);
    uint8_t sentChecksum = checksum;
    if (job.checksumOut) *job.checksumOut = checksum;

    uint8_t mode = 0, id = 0, device = 0;
    bool deviceRead = false;
    [&] {
        // The erase and program cycles, or the command table, must be in place before the engine
        // starts: with stale ones it would write the image somewhere it cannot be read back.
        if (mcm) {
            if (!s.Ok(XuWrite(u, XU_MCM_FLASH_CMDS, kMcmCycles, sizeof kMcmCycles))) {
                ++s.failures;
                return;
            }
        } else if (!s.Ok(LoadCommandTable(u, job.flashType).table)) {
            ++s.failures;
            return;
        }
        if (!s.Ok(s.Write1(XU_ISP_SERIAL_FLASH, mcm ? 0 : 1))) {
            ++s.failures;
            return;
        }
        const bool entered = s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, 1));
        const int32_t enableResult = s.last;
        if (ReadReg8(u, reg::kModeRegister, &mode) != hr::kOk) mode = 0;
        if (ReadReg8(u, reg::kChipId, &id) != hr::kOk) id = 0;
        s.last = enableResult;
        if (!entered) {
            ++s.retries;
            if (!s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, 1))) {
                s.Line(text::kIspEnableFailLine);
                return;
            }
            s.Line(text::kIspEnableRecoveredLine);
        }
        uint32_t chunk = 0;
        bool retried = false;
        const bool sized = AskChunk(s, chunk, retried);
        if (!sized) {
            s.Line(text::kSizeFailLine);
            return;
        }
        if (retried) s.Line(text::kSizeRecoveredLine);
        s.Line(text::kWhileStart);
        ChunkHooks hooks;
        hooks.recovered = [&] { s.Line(text::kChunkRecoveredLine); };
        hooks.secondFailure = [&] { s.Line(text::kChunkFailLine); };
        if (!ChunkLoop(s, chunk, sentChecksum, hooks)) return;
        s.Line(text::kWhileEnd);

        s.Report(DL_VERIFY, 95);
        const bool triggered = s.Ok(s.Write1(XU_DFU_CHECKSUM_TRIGGER, 1));
        s.T(text::kTriggerResult, static_cast<unsigned>(s.last));
        if (triggered && !WaitChecksumBusy(s)) return;
        if (!ReadInPackageChecksum(s, device)) return;
        deviceRead = true;
        if (id == 0xD2) ClearRegBits(u, reg::kMode20E9, 0x20);
        if (job.deviceChecksumOut) *job.deviceChecksumOut = device;
        if (Mismatched(s, device, sentChecksum, text::kChecksumIncorrectLine)) return;
        if (!s.Ok(s.Write1(XU_ISP_FW_DOWNLOAD_OK, 1))) ++s.failures;
    }();

    if (deviceRead && device == sentChecksum) s.Ok(s.Write1(XU_DFU_ENABLE_CONTROL, 0));
    s.Sleep(1000);
    if (s.last == hr::kGenFailure) {
        s.Line(text::kGenFailure);
        for (uint8_t progress : {96, 97, 98}) {
            s.Progress(progress);
            s.Sleep(1000);
        }
    }
    if (s.last < 0) {
        s.Line(text::kLeaveFailLine);
        s.Report(DL_ERROR, 100);
        return kResultFail;
    }
    if (!(mode & 0x02)) {
        s.Line(text::kApSoftReset);
        CamSoftReset(h);
    }
    s.Report(DL_FINISH, 100);
    if (s.failures || s.retries) {
        s.T(text::kCounts, s.failures, s.retries);
        s.Status(DL_ERROR);
        return kResultFail;
    }
    return kResultOk;
}

}  // namespace

uint8_t XorChecksum(const uint8_t* data, uint32_t n) {
    uint8_t x = 0;
    for (uint32_t i = 0; i < n; ++i) x ^= data[i];
    return x;
}

int CamDownload(CamHandle* h, DownloadJob job) {
    if (!h || !h->pExt) {
        Session s(h, job, false);
        s.Line(text::kNullExt);
        s.Report(DL_ERROR, 100);
        return kResultFail;
    }
    ExtUnit& u = *h->pExt;
    const ChipFamily& family = FamilyRow(u.family);
    if (family.clearsHeadFirst) {
        const uint8_t cleared[2] = {0x00, 0x00};
        FlashWriteAt(h, 0, cleared, 2);
    }
    if (family.clearsMode2501) ClearRegBits(u, reg::kMode2501, 0x02);
    uint8_t code = kFlashUnknown;
    CamProbeFlashType(h, &code);
    job.flashType = code;
    if (family.variant == DownloadVariant::Paced) return Paced(h, job, family);
    if (family.inPackageFlash && u.inPackageMode) return VariantInPackage(h, job);
    return Generic(h, job, false);
}

int CamStoreJob(CamHandle* h, StoredJob* job) {
    if (!h || !job || job->length > kAddressableBytes) return kResultFail;
    h->image.assign(job->image, job->image + job->length);
    h->imageLength = job->length;
    h->imageType = job->flashType;
    h->checksumOut = &job->checksum;
    h->deviceChecksumOut = &job->deviceChecksum;
    h->statusOut = &job->status;
    h->progressOut = &job->progress;
    return kResultOk;
}

namespace {

int RunStored(CamHandle* h, bool quiet) {
    if (!h || h->image.empty()) return kResultFail;
    DownloadJob job{h->image.data(),      h->imageLength, h->imageType,  h->checksumOut,
                    h->deviceChecksumOut, h->statusOut,   h->progressOut};
    return Generic(h, job, quiet);
}

}  // namespace

int CamRunStoredJob(CamHandle* h) { return RunStored(h, false); }
int CamRunStoredJobQuiet(CamHandle* h) { return RunStored(h, true); }

}  // namespace camlib
