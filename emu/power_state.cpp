#include "emu/power_state.h"

#include <vector>

#include "emu/image_store.h"
#include "kit/text.h"

namespace emu {

std::string PowerFilePath(const Bench& bench, const CameraRecord& camera) {
    return BenchFilePath(bench.folder, camera.name + ".power");
}

bool ReadPowerFile(const std::string& path, PowerFile& out, std::string& error) {
    out = PowerFile{};
    std::vector<uint8_t> bytes;
    if (!LoadImage(path, bytes, error, 1, 0)) return false;
    if (bytes.size() == 1 && bytes[0] == 0) return true;  // no file
    for (const std::string& line : kit::SplitList(std::string(bytes.begin(), bytes.end()), '\n')) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = kit::Trim(line.substr(0, eq)), value = kit::Trim(line.substr(eq + 1));
        if (key == "state") out.state = value;
        if (key == "download_ok") out.downloadOk = value != "0";
        if (key == "boot_flash") out.bootFlash = value;
    }
    if (!out.bootFlash.empty() && out.bootFlash != "serial" && out.bootFlash != "in_package") {
        error = path + ": boot_flash must be serial or in_package";
        return false;
    }
    if (out.state != "on" && out.state != "cut" && out.state != "returned") {
        error = path + ": state must be on, cut or returned";
        return false;
    }
    return true;
}

bool WritePowerFile(const std::string& path, const PowerFile& file, std::string& error) {
    std::string text = "state=" + file.state + "\ndownload_ok=" + (file.downloadOk ? "1" : "0") + "\n";
    if (!file.bootFlash.empty()) text += "boot_flash=" + file.bootFlash + "\n";
    return SaveImage(path, std::vector<uint8_t>(text.begin(), text.end()), error);
}

}  // namespace emu
