#include "update_log.h"

#include "text_util.h"
#include "texts.h"

namespace tessaw {
namespace {

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

const char* Weekday(int weekday) { return kWeekdays[(weekday % 7 + 7) % 7]; }

}  // namespace

std::string TextModeBytes(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string DateLine(const kit::LocalTime& t) {
    return Format("\r\n%04d/%02d/%02d    %02d:%02d\r\n", t.year, t.month, t.day, t.hour, t.minute);
}

std::string RunStamp(const kit::LocalTime& t) {
    return Format("\r\n%s    %04d-%02d-%02d\r\n%02d:%02d\r\n", Weekday(t.weekday), t.year, t.month, t.day,
                  t.hour, t.minute);
}

std::string PlainLine(const std::string& text) { return Format(kPlainLine, text.c_str()); }

std::string ErrorLine(const std::string& text) { return Format(kErrorLine, text.c_str()); }

std::string SecondsStamp(uint32_t createdMs, uint32_t nowMs) {
    float seconds = static_cast<float>(static_cast<uint32_t>(nowMs - createdMs) / 1000.0);
    return Format(kStamp, static_cast<double>(seconds));
}

std::string LogPathFor(int logSwitch, const std::string& tempFolder) {
    if (logSwitch == 1) return Format(kLogInTemp, tempFolder.c_str());
    if (logSwitch == 2) return kLogInProgramDir;
    return {};
}

CStdioFileEx::CStdioFileEx(kit::FileSystemPort& files, kit::ClockPort& clock)
    : files_(files),
      clock_(clock),
      createdMs_(clock.ProcessMilliseconds()),
      stream_(std::make_shared<Stream>()) {}

bool CStdioFileEx::Open(int logSwitch, const std::string& path) {
    Close();
    if (logSwitch != 1 && logSwitch != 2) return false;
    std::unique_ptr<kit::WritableFile> file = files_.OpenAppend(path.c_str());
    if (!file) return false;
    {
        std::lock_guard<std::mutex> hold(stream_->lock);
        stream_->file = std::move(file);
    }
    logSwitch_ = logSwitch;
    return true;
}

void CStdioFileEx::ShareStreamOf(const CStdioFileEx& other) {
    stream_ = other.stream_;
    logSwitch_ = other.logSwitch_.load();
}

void CStdioFileEx::WriteString(const std::string& text) {
    if (!On()) return;
    const std::string bytes = TextModeBytes(text);
    std::lock_guard<std::mutex> hold(stream_->lock);
    if (stream_->file) stream_->file->Write(bytes.data(), bytes.size());
}

void CStdioFileEx::Flush() {
    if (!On()) return;
    std::lock_guard<std::mutex> hold(stream_->lock);
    if (stream_->file) stream_->file->Flush();
}

void CStdioFileEx::StampedWrite(const std::string& text) {
    if (!On()) return;
    WriteString(SecondsStamp(createdMs_, clock_.ProcessMilliseconds()) + text);
}

void CStdioFileEx::Close() {
    logSwitch_ = 0;
    std::lock_guard<std::mutex> hold(stream_->lock);
    stream_->file.reset();
}

}  // namespace tessaw
