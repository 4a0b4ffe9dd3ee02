#include "bench_still_graph.h"

#include "emu/vendor/library_keys.h"

namespace stillcap {
namespace {

// Sizes as the little-endian bytes a corrupting fault alters, and back.
std::vector<uint8_t> SizeBytes(const std::vector<std::pair<int32_t, int32_t>>& sizes) {
    std::vector<uint8_t> bytes;
    for (const auto& [w, h] : sizes)
        for (int32_t v : {w, h})
            for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return bytes;
}
int32_t SizeAt(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes[at + static_cast<size_t>(i)];
    return static_cast<int32_t>(v);
}

}  // namespace

emu::vendor::CallVerdict BenchStillGraph::Step(const char* name) {
    if (!faultsRead_) {
        faultsRead_ = true;
        // A bench that cannot be read at all has no faults either: the device search says why.
        emu::Bench bench;
        std::string error;
        if (emu::LoadBench(folder_, bench, error) &&
            !emu::vendor::ReadLibraryFaults(bench, "still", emu::vendor::EntriesOf(emu::faultops::Device::StillGraph),
                                            faults_, error)) {
            kit::TraceF(trace_, "emulated still capture: the bench's still-capture faults cannot be read: %s\n",
                        error.c_str());
            faultsBad_ = true;
        }
    }
    return faults_.OnCall({name}, "", false);
}

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
    const emu::vendor::CallVerdict v = Step("CreateGraph");
    if (faultsBad_) return kFail;
    if (v.fail) return v.code;
    graph_ = true;
    return kOk;
}

bool BenchStillGraph::FindCaptureFilter(uint16_t vid, uint16_t pid) {
    if (Step("FindCaptureFilter").fail) return false;
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
    const emu::vendor::CallVerdict v = Step("ReadCapabilities");
    if (!camera_ || v.fail) return false;
    std::vector<std::pair<int32_t, int32_t>> sizes;
    for (const emu::capture::StreamFormat& f : stream_.formats)
        sizes.emplace_back(static_cast<int32_t>(f.width), static_cast<int32_t>(f.height));
    std::vector<uint8_t> bytes = SizeBytes(sizes);
    v.Corrupt(bytes.data(), bytes.size());
    for (size_t i = 0; i < sizes.size(); ++i) out.push_back({true, SizeAt(bytes, 8 * i), SizeAt(bytes, 8 * i + 4)});
    return true;
}

int32_t BenchStillGraph::ApplyCapability(int index, int64_t) {
    if (const emu::vendor::CallVerdict v = Step("ApplyCapability"); v.fail) return v.code;
    if (!camera_ || index < 0 || static_cast<size_t>(index) >= stream_.formats.size()) return kFail;
    format_ = static_cast<size_t>(index);
    return kOk;
}

int32_t BenchStillGraph::ConnectPins() {
    if (const emu::vendor::CallVerdict v = Step("ConnectPins"); v.fail) return v.code;
    if (!graph_ || !camera_) return kFail;
    if (stream_.inUse || stream_.formats.empty()) return kCannotConnect;
    connected_ = true;
    return kOk;
}

bool BenchStillGraph::ConnectedSize(int32_t& width, int32_t& height) {
    const emu::vendor::CallVerdict v = Step("ConnectedSize");
    if (!connected_ || v.fail) return false;
    const emu::capture::StreamFormat& f = stream_.formats.at(format_);
    std::vector<uint8_t> bytes = SizeBytes({{static_cast<int32_t>(f.width), static_cast<int32_t>(f.height)}});
    v.Corrupt(bytes.data(), bytes.size());
    width = SizeAt(bytes, 0);
    height = SizeAt(bytes, 4);
    return true;
}

}  // namespace stillcap
