#include "bench_still_graph.h"

namespace stillcap {

bool BenchCameraList::Open() {
    std::string error;
    if (!emu::LoadBench(folder_, bench_, error)) {
        kit::TraceF(trace_, "emulated still capture: the bench cannot be read: %s\n", error.c_str());
        return false;
    }
    next_ = 0;
    return true;
}

bool BenchCameraList::Next() {
    if (next_ >= bench_.cameras.size()) return false;
    current_ = next_++;
    return true;
}

bool BenchCameraList::DevicePath(std::string& path) {
    const emu::CameraRecord& camera = bench_.cameras.at(current_);
    if (camera.noPath) return false;
    path = camera.DevicePath();
    return true;
}

bool BenchCameraList::BindFilter() {
    bound_ = current_;
    return true;
}

int32_t BenchStillGraph::CreateGraph() {
    graph_ = true;
    return kOk;
}

bool BenchStillGraph::FindCaptureFilter(uint16_t vid, uint16_t pid) {
    BenchCameraList cameras(folder_, trace_);
    if (!WalkCaptureDevices(cameras, vid, pid)) return false;
    camera_ = cameras.Bound();
    format_ = 0;
    connected_ = false;
    std::string error;
    if (!emu::capture::ReadStreamSettings(*camera_, stream_, error))
        kit::TraceF(trace_, "emulated still capture: camera %s streams nothing: %s\n", camera_->name.c_str(),
                    error.c_str());
    return true;
}

bool BenchStillGraph::ReadCapabilities(std::vector<Capability>& out) {
    out.clear();
    if (!camera_) return false;
    for (const emu::capture::StreamFormat& f : stream_.formats)
        out.push_back({true, static_cast<int32_t>(f.width), static_cast<int32_t>(f.height)});
    return true;
}

int32_t BenchStillGraph::ApplyCapability(int index, int64_t) {
    if (!camera_ || index < 0 || static_cast<size_t>(index) >= stream_.formats.size()) return kFail;
    format_ = static_cast<size_t>(index);
    return kOk;
}

int32_t BenchStillGraph::ConnectPins() {
    if (!graph_ || !camera_) return kFail;
    if (stream_.inUse || stream_.formats.empty()) return kCannotConnect;
    connected_ = true;
    return kOk;
}

bool BenchStillGraph::ConnectedSize(int32_t& width, int32_t& height) {
    if (!connected_) return false;
    const emu::capture::StreamFormat& f = stream_.formats.at(format_);
    width = static_cast<int32_t>(f.width);
    height = static_cast<int32_t>(f.height);
    return true;
}

}  // namespace stillcap
