#include "camlib/recorder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "camlib/internals.h"
#include "transcript/transcript.h"

namespace camlib {
namespace {

namespace ts = transcript;

// Lines are handed to the file in pieces of about this size: a write per request would cost more
// than the request on a fast carrier.
constexpr size_t kWriteChunk = 64 * 1024;

uint64_t SteadyUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

uint64_t NowUs(Platform& p) { return p.time ? p.time->NowUs() : SteadyUs(); }

// "vid=3A7C pid=B5A4" from a device path's "vid_3a7c&pid_b5a4".
std::string IdentityOf(const std::string& path) {
    std::string lower = path;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const size_t vid = lower.find("vid_"), pid = lower.find("pid_");
    if (vid == std::string::npos || pid == std::string::npos || vid + 8 > lower.size() || pid + 8 > lower.size())
        return "unknown";
    char text[32];
    std::snprintf(text, sizeof text, "vid=%04X pid=%04X", ParseHex4(lower.c_str() + vid + 4),
                  ParseHex4(lower.c_str() + pid + 4));
    return text;
}

class Recorder {
public:
    ~Recorder() { Stop(); }

    bool Start(Platform& p, const std::string& name) {
        std::lock_guard<std::mutex> hold(lock_);
        if (file_) return true;
        if (refused_.count(name)) return false;
        file_ = std::fopen(name.c_str(), "wb");
        if (!file_) {
            refused_.insert(name);
            kit::TraceF(*p.trace, text::kRecordingCannotCreate, name.c_str(), std::strerror(errno));
            return false;
        }
        program_ = p.program.empty() ? "?" : p.program;
        headerDone_ = started_ = false;
        pending_.clear();
        buffer_.clear();
        seq_ = firstUs_ = 0;
        reg8_ = reg16_ = -1;
        kit::TraceF(*p.trace, text::kRecordingTo, name.c_str());
        active_ = true;
        return true;
    }

    bool Active() const { return active_; }

    void Add(ts::Request& r, uint64_t startUs) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!file_) return;
        if (!started_) {
            started_ = true;
            firstUs_ = startUs;
        }
        r.seq = ++seq_;
        r.timeUs = startUs >= firstUs_ ? startUs - firstUs_ : 0;
        Annotate(r);
        std::string& out = headerDone_ ? buffer_ : pending_;
        ts::AppendRequest(out, r);
        out += '\n';
        // A failure is worth having on disk at once: it may be the last thing a failing run does.
        if (headerDone_ && (buffer_.size() >= kWriteChunk || r.result < 0)) WriteBuffer();
    }

    void Note(const std::string& key, const std::string& value) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!file_) return;
        (headerDone_ ? buffer_ : pending_) += ts::FormatNote(key, value) + "\n";
    }

    void Camera(const std::string& path, char family) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!file_ || headerDone_) return;
        WriteHeader(path, std::string(1, family));
        WriteBuffer();
    }

    void Flush() {
        std::lock_guard<std::mutex> hold(lock_);
        if (!file_) return;
        if (!headerDone_) WriteHeader("", "?");
        WriteBuffer();
    }

    void Stop() {
        std::lock_guard<std::mutex> hold(lock_);
        if (!file_) return;
        if (!headerDone_) WriteHeader("", "?");
        buffer_ += ts::FormatEnd(seq_) + "\n";
        WriteBuffer();
        std::fclose(file_);
        file_ = nullptr;
        active_ = false;
    }

private:
    // The register a data request reaches: the last address written before it.
    void Annotate(ts::Request& r) {
        const bool addressWrite = r.dir == ts::Direction::Set && r.sent.size() == 2 && r.result >= 0;
        if (addressWrite && r.selector == XU_REG_ADDR) reg8_ = r.sent[0] | r.sent[1] << 8;
        if (addressWrite && r.selector == XU_REG16_ADDR) reg16_ = r.sent[0] | r.sent[1] << 8;
        if (r.selector == XU_REG_DATA) r.reg = reg8_;
        if (r.selector == XU_REG16_DATA) r.reg = reg16_;
    }

    void WriteHeader(const std::string& path, const std::string& family) {
        std::string h = std::string(ts::kMagic) + "\n";
        h += ts::FormatNote("program", program_) + "\n";
        h += ts::FormatNote("camera", path.empty() ? "none identified" : path) + "\n";
        h += ts::FormatNote("identity", path.empty() ? "unknown" : IdentityOf(path)) + "\n";
        h += ts::FormatNote("family", family) + "\n";
        h += std::string(ts::kFieldsLine) + "\n";
        buffer_ = h + pending_ + buffer_;
        pending_.clear();
        pending_.shrink_to_fit();
        headerDone_ = true;
    }

    void WriteBuffer() {
        if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
        std::fflush(file_);
        buffer_.clear();
    }

    std::mutex lock_;
    std::atomic<bool> active_{false};
    std::FILE* file_ = nullptr;
    std::set<std::string> refused_;
    std::string program_;
    bool headerDone_ = false;
    std::string pending_;  // before the header: the lines of the discovery that identifies the camera
    std::string buffer_;
    bool started_ = false;
    uint64_t firstUs_ = 0;
    uint64_t seq_ = 0;
    int32_t reg8_ = -1;
    int32_t reg16_ = -1;
};

Recorder& TheRecorder() {
    static Recorder recorder;
    return recorder;
}

class RecordingKsControl final : public KsControl {
public:
    RecordingKsControl(Platform& p, std::unique_ptr<KsControl> inner) : p_(p), inner_(std::move(inner)) {}
    int32_t KsProperty(const uint8_t* property, uint32_t propertyLength, void* data, uint32_t dataLength,
                       uint32_t* bytesReturned) override {
        auto* bytes = static_cast<uint8_t*>(data);
        thread_local ts::Request r;
        ts::AskedKs(r, property, propertyLength, bytes, dataLength);
        const uint64_t start = NowUs(p_);
        const int32_t result = inner_->KsProperty(property, propertyLength, data, dataLength, bytesReturned);
        ts::Answered(r, result, bytes, bytesReturned ? *bytesReturned : 0);
        TheRecorder().Add(r, start);
        return result;
    }

private:
    Platform& p_;
    std::unique_ptr<KsControl> inner_;
};

// A read or length request on the private carrier is two calls: the request record, then the fetch
// of its reply. The reply line names the request it belongs to and holds the bytes the request asked
// for; the rest of the 4096-byte reply buffer carries nothing.
class RecordingCustomProp final : public CustomProp {
public:
    RecordingCustomProp(Platform& p, std::unique_ptr<CustomProp> inner) : p_(p), inner_(std::move(inner)) {}
    int32_t SetProperty(uint32_t id, uint8_t* buffer) override {
        thread_local ts::Request r;
        ts::AskedPrivate(r, id, buffer);
        if (r.dir != ts::Direction::Set) last_ = r;
        const uint64_t start = NowUs(p_);
        const int32_t result = inner_->SetProperty(id, buffer);
        ts::Answered(r, result, nullptr, 0);
        TheRecorder().Add(r, start);
        return result;
    }
    int32_t GetProperty(uint32_t id, uint8_t* buffer) override {
        ts::Request r = ts::AskedReply(id, last_);
        const uint64_t start = NowUs(p_);
        const int32_t result = inner_->GetProperty(id, buffer);
        ts::Answered(r, result, buffer, 0);
        TheRecorder().Add(r, start);
        return result;
    }

private:
    Platform& p_;
    std::unique_ptr<CustomProp> inner_;
    ts::Request last_;
};

class RecordingFilter final : public CaptureFilter {
public:
    RecordingFilter(Platform& p, std::unique_ptr<CaptureFilter> inner) : p_(p), inner_(std::move(inner)) {}
    int32_t QueryKsControl(std::unique_ptr<KsControl>& out) override {
        std::unique_ptr<KsControl> inner;
        const int32_t r = inner_->QueryKsControl(inner);
        out = inner ? std::make_unique<RecordingKsControl>(p_, std::move(inner)) : nullptr;
        return r;
    }
    int32_t QueryTopology(std::unique_ptr<KsTopology>& out) override { return inner_->QueryTopology(out); }
    int32_t QueryCustomProp(std::unique_ptr<CustomProp>& out) override {
        std::unique_ptr<CustomProp> inner;
        const int32_t r = inner_->QueryCustomProp(inner);
        out = inner ? std::make_unique<RecordingCustomProp>(p_, std::move(inner)) : nullptr;
        return r;
    }

private:
    Platform& p_;
    std::unique_ptr<CaptureFilter> inner_;
};

}  // namespace

bool StartRecording(Platform& platform, const std::string& file) { return TheRecorder().Start(platform, file); }

void StartRecordingFromEnvironment(Platform& platform) {
    static std::once_flag once;
    std::call_once(once, [&platform] {
        const char* file = std::getenv(kRecordEnvVar);
        if (file && *file) StartRecording(platform, file);
    });
}

bool Recording() { return TheRecorder().Active(); }

std::unique_ptr<CaptureFilter> RecordedFilter(Platform& platform, std::unique_ptr<CaptureFilter> filter,
                                              const char* devicePath) {
    if (!filter || !Recording()) return filter;
    TheRecorder().Note("bind", devicePath && *devicePath ? devicePath : "-");
    return std::make_unique<RecordingFilter>(platform, std::move(filter));
}

void RecordCamera(const CamHandle& handle) {
    if (Recording() && handle.pExt) TheRecorder().Camera(handle.path, handle.pExt->family);
}

void RecordNote(const char* key, const std::string& value) {
    if (Recording()) TheRecorder().Note(key, value);
}

void FlushRecording() {
    if (Recording()) TheRecorder().Flush();
}

void StopRecording() { TheRecorder().Stop(); }

}  // namespace camlib
