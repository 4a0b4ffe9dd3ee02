#include "camlib/testing/bench_rig.h"

#include "camlib/exports/quelmar_camera.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>

namespace camlib::testing {

std::string CameraSection(const std::string& name, const Keys& keys) {
    std::map<std::string, std::string> values = {{"chip", "quelmar"}, {"friendly", "Integrated Camera"},
                                                 {"vid", "3A7C"},     {"pid", "B5A4"},
                                                 {"rev", "0012"},     {"mi", "00"},
                                                 {"port", "3"},       {"manufacturer", "Korvath"}};
    for (const auto& [k, v] : keys) values[k] = v;
    std::string s = "[" + name + "]\n";
    for (const auto& [k, v] : values) s += k + "=" + v + "\n";
    return s;
}

std::string BenchIni(const std::vector<std::string>& names, const std::vector<std::string>& sections,
                     const std::string& benchKeys) {
    std::string s = "[bench]\ncameras=";
    for (size_t i = 0; i < names.size(); ++i) s += (i ? "," : "") + names[i];
    s += "\n" + benchKeys;
    for (const std::string& section : sections) s += section;
    return s;
}

std::string QuelmarBench(const Keys& keys) { return BenchIni({"cam0"}, {CameraSection("cam0", keys)}); }

BenchRig::BenchRig(const std::string& ini) {
    static std::atomic<int> serial{0};
    folder_ = std::filesystem::temp_directory_path() /
              ("camlib-rig-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / emu::kBenchFile, std::ios::binary) << ini;
    Open();
}

BenchRig::BenchRig(const std::filesystem::path& folder) : folder_(folder), owned_(false) { Open(); }

void BenchRig::Open() {
    if (!shared.Open(folder_.string(), error_)) return;
    platform = std::make_unique<EmulatedPlatform>(shared, trace, profile, (folder_ / "setting.ini").string());
    UsePlatform(&platform->Get());
    ok_ = true;
}

BenchRig::~BenchRig() {
    UsePlatform(nullptr);
    platform.reset();
    if (!owned_) return;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

emu::quelmar::QuelmarChip& BenchRig::Chip(size_t camera) {
    return *shared.Devices().Quelmar(Bench().cameras.at(camera));
}

ExportEntry QuelmarExport(const std::string& name) {
    auto e = [](auto fn) { return reinterpret_cast<ExportEntry>(fn); };
    static const std::map<std::string, ExportEntry> exports = {
        {"QuelmarCam_Init", e(&QuelmarCam_Init)},       {"QuelmarCam_UnInit", e(&QuelmarCam_UnInit)},
        {"Download_Sector", e(&Download_Sector)},       {"Upload_Sector", e(&Upload_Sector)},
        {"Get_FlashType", e(&Get_FlashType)},           {"SetSF_WProtect_ON", e(&SetSF_WProtect_ON)},
        {"SetSF_WProtect_OFF", e(&SetSF_WProtect_OFF)}, {"EraseSF", e(&EraseSF)},
        {"ResetCamera", e(&ResetCamera)},               {"Get_ChipFamily", e(&Get_ChipFamily)}};
    auto it = exports.find(name);
    return it == exports.end() ? nullptr : it->second;
}

size_t BenchRig::Count(const std::string& text) const {
    size_t n = 0;
    for (const std::string& line : trace.lines) n += line == text;
    return n;
}

std::string Traffic(const std::vector<emu::quelmar::WireRequest>& wire) {
    std::string out;
    char token[32];
    for (size_t i = 0; i < wire.size(); ++i) {
        const emu::quelmar::WireRequest& w = wire[i];
        const emu::quelmar::WireRequest* next = i + 1 < wire.size() ? &wire[i + 1] : nullptr;
        if (w.kind == 'W' && w.selector == 2 && w.data.size() == 2 && w.result == 0 && next &&
            next->selector == 3 && next->kind != 'L') {
            const unsigned address = w.data[0] | w.data[1] << 8;
            if (next->kind == 'W' && next->data.size() == 1)
                std::snprintf(token, sizeof token, "w%04X=%02X", address, next->data[0]);
            else
                std::snprintf(token, sizeof token, "r%04X", address);
            ++i;  // the data access decides whether the register access went through
            out += token;
            out += next->result == 0 ? " " : "! ";
            continue;
        }
        if (w.kind == 'L') {
            std::snprintf(token, sizeof token, "L%u", w.selector);
        } else if (w.kind == 'W' && w.data.size() <= 8) {
            int n = std::snprintf(token, sizeof token, "W%u=", w.selector);
            for (uint8_t b : w.data) n += std::snprintf(token + n, sizeof token - n, "%02X", b);
        } else {
            std::snprintf(token, sizeof token, "%c%u/%u", w.kind, w.selector, w.bytes);
        }
        out += token;
        out += w.result == 0 ? " " : "! ";
    }
    if (!out.empty()) out.pop_back();
    return out;
}

uint64_t Transfers(const emu::quelmar::VirtualClock& clock) {
    return clock.Stat("xu.length").count + clock.Stat("xu.read").count + clock.Stat("xu.write").count;
}

uint64_t TransferBytes(const emu::quelmar::VirtualClock& clock) {
    return clock.Stat("xu.length").bytes + clock.Stat("xu.read").bytes + clock.Stat("xu.write").bytes;
}

int Flash(const std::vector<uint8_t>& image, std::vector<uint8_t>& back, uint8_t& code) {
    if (QuelmarCam_Init(0) != 0) return 1;
    Get_FlashType(&code);
    const unsigned char table = TableFor(code);
    const bool protection = LiftsProtection(code);
    if (protection && SetSF_WProtect_OFF(table) != 0) return 2;
    if (EraseSF(table) != 0) return 3;
    for (unsigned s = 0; s < 16; ++s)
        if (Download_Sector(const_cast<uint8_t*>(image.data()), table, s, 0) != 0) return 4;
    if (protection && SetSF_WProtect_ON(table) != 0) return 5;
    back.assign(image.size(), 0xFF);
    for (unsigned s = 0; s < 16; ++s)
        if (Upload_Sector(back.data(), s, table) != 0) return 6;
    if (ResetCamera() != 0) return 7;
    return 0;
}

}  // namespace camlib::testing
