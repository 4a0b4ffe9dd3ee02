#include "bench_cameras.h"

namespace orlinde::bench {

std::string VideoInterfacePath(const emu::CameraRecord& camera) {
    std::string path = camera.DevicePath();
    const size_t brace = path.find("#{");
    if (brace != std::string::npos) path = path.substr(0, brace);
    return path + "#{6994ad05-93ef-11d0-a3cc-00a0c9223196}\\global";
}

bool ListPluggedCameras(const std::string& folder, std::vector<std::string>& paths) {
    emu::Bench bench;
    std::string error;
    if (!emu::LoadBench(folder, bench, error)) return false;
    paths.clear();
    for (const emu::CameraRecord& camera : bench.cameras)
        if (camera.IsUsb() && camera.chip != "none") paths.push_back(VideoInterfacePath(camera));
    return true;
}

}  // namespace orlinde::bench
