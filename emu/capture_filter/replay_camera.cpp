#include "emu/capture_filter/replay_camera.h"

#include "emu/image_store.h"

namespace emu::capture {
namespace {

bool IsFullPath(const std::string& path) {
    return !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
}

}  // namespace

std::string ReplayCamera::StatusPath(const Bench& bench, const CameraRecord& camera) {
    return BenchFilePath(bench.folder, camera.name + ".replay");
}

bool ReplayCamera::Load(const Bench& bench, const CameraRecord& camera, quelmar::VirtualClock& clock,
                        std::string& error) {
    name_ = camera.name;
    file_ = camera.Get("replay");
    const std::string path = IsFullPath(file_) ? file_ : BenchFilePath(bench.folder, file_);
    statusPath_ = StatusPath(bench, camera);
    clock_ = &clock;
    std::vector<uint8_t> bytes;
    std::string why;
    if (!LoadImage(path, bytes, why)) {
        error = "camera \"" + camera.name + "\": replay transcript: " + why;
        return false;
    }
    if (!transcript::ParseTranscript(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                     script_, why)) {
        error = "camera \"" + camera.name + "\": replay transcript " + path + ": " + why;
        return false;
    }
    return true;
}

ReplayCamera::~ReplayCamera() { Finish(); }

ReplayCamera::Answer ReplayCamera::Take(const transcript::Request& asked) {
    Answer a;
    if (diverged_) return a;
    const auto& requests = script_.requests;
    if (next_ >= requests.size()) {
        diverged_ = true;
        divergence_ = "request " + std::to_string(next_ + 1) +
                      " asked after the transcript's last request: recorded (end of transcript); asked " +
                      transcript::DescribeAsked(asked);
    } else if (!transcript::SameAsked(requests[next_], asked)) {
        diverged_ = true;
        divergence_ = "request " + std::to_string(next_ + 1) + " differs: recorded " +
                      transcript::DescribeAsked(requests[next_]) + "; asked " + transcript::DescribeAsked(asked);
    }
    if (diverged_) {
        Report(divergence_ + "; it and every later request fail with 0x8007001F");
        WriteStatus();
        return a;
    }
    const transcript::Request& r = requests[next_];
    if (next_ == 0) base_ = clock_->NowUs();
    const uint64_t before = clock_->NowUs();
    clock_->AdvanceTo(base_ + r.timeUs);
    clock_->Record("replay.request", r.length, clock_->NowUs() - before);
    // The whole transcript replayed: said now, since a program that ends with ExitProcess never
    // closes its bench.
    if (++next_ == requests.size()) WriteStatus();
    a.matched = true;
    a.result = r.result;
    a.recorded = &r;
    return a;
}

void ReplayCamera::Report(const std::string& line) {
    if (trace_) kit::TraceF(*trace_, "replay: %s: %s\n", name_.c_str(), line.c_str());
}

void ReplayCamera::Finish() {
    if (finished_ || (next_ == 0 && !diverged_)) return;
    finished_ = true;
    if (!diverged_ && next_ < script_.requests.size())
        Report("the run ended after request " + std::to_string(next_) + " of the transcript's " +
               std::to_string(script_.requests.size()));
    WriteStatus();
}

void ReplayCamera::WriteStatus() {
    std::string text = "transcript=" + file_ + "\n";
    const std::string total = std::to_string(script_.requests.size());
    text += "replayed=" + std::to_string(next_) + " of " + total + "\n";
    if (diverged_)
        text += "result=diverged: " + divergence_ + "\n";
    else if (next_ < script_.requests.size())
        text += "result=ended early: the run ended after request " + std::to_string(next_) + " of " + total + "\n";
    else
        text += "result=complete\n";
    std::string error;
    if (!SaveImage(statusPath_, std::vector<uint8_t>(text.begin(), text.end()), error))
        Report("status not saved: " + error);
}

}  // namespace emu::capture
