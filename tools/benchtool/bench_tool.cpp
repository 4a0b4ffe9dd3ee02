#include "bench_tool.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "emu/bench_devices.h"
#include "emu/image_store.h"
#include "emu/vendor/device_memory.h"
#include "templates.h"

namespace benchtool {
namespace {

namespace fs = std::filesystem;

const char* kUsage =
    "usage: benchtool list\n"
    "       benchtool create <template> <folder>\n"
    "       benchtool show <folder>\n";

std::string Format(const char* fmt, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

int List(std::string& out) {
    for (const Template& t : Templates()) {
        std::string text = t.text;
        size_t at = text.find("description=");
        std::string description = at == std::string::npos ? "" : text.substr(at + 12, text.find('\n', at) - at - 12);
        out += Format("%-16s %s\n", t.name, description.c_str());
    }
    return 0;
}

int Create(const std::string& name, const std::string& folder, std::string& out, std::string& err) {
    const Template* chosen = nullptr;
    for (const Template& t : Templates())
        if (name == t.name) chosen = &t;
    if (!chosen) {
        err = "benchtool: no template \"" + name + "\"; `benchtool list` shows them\n";
        return 2;
    }
    std::error_code ec;
    if (fs::exists(fs::path(folder) / emu::kBenchFile, ec)) {
        err = "benchtool: " + folder + " already holds a bench; choose an empty folder\n";
        return 2;
    }
    fs::create_directories(folder, ec);
    if (ec) {
        err = "benchtool: cannot create " + folder + ": " + ec.message() + "\n";
        return 1;
    }
    {
        std::ofstream file(fs::path(folder) / emu::kBenchFile, std::ios::binary);
        file << chosen->text;
        if (!file) {
            err = "benchtool: cannot write " + (fs::path(folder) / emu::kBenchFile).string() + "\n";
            return 1;
        }
    }
    emu::Bench bench;
    std::string error;
    if (!emu::LoadBench(folder, bench, error)) {
        err = "benchtool: template " + name + " is broken: " + error + "\n";
        return 1;
    }
    // Cameras start with the firmware they left the factory with.
    for (const emu::CameraRecord& cam : bench.cameras) {
        if (cam.chip == "realtek" || cam.chip == "sonix") {
            emu::vendor::MemoryFile memory;
            if (!emu::vendor::MemoryFileOf(bench, cam, memory, error)) {
                err = "benchtool: " + error + "\n";
                return 1;
            }
            std::vector<uint8_t> image = FactoryImage(cam, 0, memory.size);
            if (!emu::SaveImage(memory.path, image, error)) {
                err = "benchtool: " + error + "\n";
                return 1;
            }
            continue;
        }
        if (cam.chip != "quelmar") continue;
        emu::quelmar::ChipConfig config;
        std::vector<emu::quelmar::Fault> faults;
        if (!emu::ParseChipConfig(cam, config, faults, error)) {
            err = "benchtool: " + error + "\n";
            return 1;
        }
        emu::quelmar::QuelmarChip chip(config);
        std::vector<uint8_t> image = FactoryImage(cam, chip.Family(), chip.Flash().Size());
        std::string path = emu::BenchFilePath(folder, cam.Get("flash_image", cam.name + ".flash"));
        if (!emu::SaveImage(path, image, error)) {
            err = "benchtool: " + error + "\n";
            return 1;
        }
    }
    out += "created bench " + folder + " from template " + name + " (" + bench.description + ")\n";
    return 0;
}

std::string Hex(const std::vector<uint8_t>& data, size_t at, size_t n) {
    std::string s;
    for (size_t i = at; i < at + n && i < data.size(); ++i) s += Format("%s%02X", i == at ? "" : " ", data[i]);
    return s;
}

int Show(const std::string& folder, std::string& out, std::string& err) {
    emu::Bench bench;
    std::string error;
    if (!emu::LoadBench(folder, bench, error)) {
        err = "benchtool: " + error + "\n";
        return 1;
    }
    emu::BenchDevices devices;
    if (!devices.Open(bench, error)) {
        err = "benchtool: " + error + "\n";
        return 1;
    }
    out += "bench:       " + folder + "\n";
    out += "description: " + bench.description + "\n";
    out += Format("cameras:     %zu\n", bench.cameras.size());
    for (const emu::CameraRecord& cam : bench.cameras) {
        uint16_t revision = devices.Revision(cam);
        out += "\n[" + cam.name + "] " + cam.friendly + ", chip " + cam.chip + "\n";
        if (!cam.IsUsb()) out += "  virtual capture device (not USB)\n";
        out += Format("  identity:  VID %04X  PID %04X  REV %04X\n", cam.vid, cam.pid, revision);
        emu::CameraRecord now = cam;  // the hardware ID carries the revision the device reports now
        now.rev = revision;
        out += "  hardware:  " + now.HardwareId() + "\n";
        out += "  path:      " + cam.DevicePath() + "\n";
        if (cam.chip == "realtek" || cam.chip == "sonix") {
            emu::vendor::MemoryFile memory;
            std::vector<uint8_t> image;
            if (emu::vendor::MemoryFileOf(bench, cam, memory, error) && emu::vendor::LoadMemory(memory, image, error)) {
                size_t programmed = 0;
                for (uint8_t b : image) programmed += b != 0xFF;
                out += Format("  memory:    %s, %zu bytes, %zu not erased, crc32 %08X\n", memory.path.c_str(),
                              image.size(), programmed, Crc32(image));
                out += "  identity block at 0xF000: " + Hex(image, emu::vendor::kIdentityOffset, 6) + "\n";
            } else {
                out += "  memory:    unreadable: " + error + "\n";
            }
        }
        emu::quelmar::QuelmarChip* chip = devices.Quelmar(cam);
        if (!chip) continue;
        const std::vector<uint8_t>& image = chip->Flash().Image();
        size_t programmed = 0;
        for (uint8_t b : image) programmed += b != 0xFF;
        out += Format("  chip:      family '%c', id 0x%02X, carrier %s\n", chip->Family(), chip->Config().chipId,
                      devices.Carrier(cam).c_str());
        out += Format("  flash:     code %u (%s), %u bytes, %zu not erased, crc32 %08X, status 0x%02X%s\n",
                      chip->Flash().Part().code, chip->Flash().Part().label, chip->Flash().Size(), programmed,
                      Crc32(image), chip->Flash().NonVolatileStatus(),
                      (chip->Flash().NonVolatileStatus() & 0x0C) ? " (write-protected)" : "");
        uint32_t id = emu::IdentityOffset(chip->Family());
        out += "  header:    " + Hex(image, 0, 4) + "   identity block at " + Format("0x%04X: ", id) +
               Hex(image, id, 6) + "\n";
        if (chip->InPackage()) {
            const std::vector<uint8_t>& ip = chip->InPackage()->Image();
            out += Format("  in-package flash: %zu bytes, crc32 %08X\n", ip.size(), Crc32(ip));
        }
    }
    std::string summary = bench.Get("bench", "summary");
    if (!summary.empty()) {
        std::ifstream in(emu::BenchFilePath(folder, summary));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        out += "\nlast counters (" + summary + "):\n" + (text.empty() ? std::string("  none yet\n") : text);
    }
    return 0;
}

}  // namespace

std::vector<uint8_t> FactoryImage(const emu::CameraRecord& camera, char family, uint32_t size) {
    std::vector<uint8_t> image(size);
    uint32_t x = 0x9E3779B9u ^ (static_cast<uint32_t>(camera.vid) << 16 | camera.pid);
    for (uint8_t& b : image) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    // The header mark a verified download leaves (Quelmar families; 0 for the other chips).
    switch (family) {
        case 0: break;
        case 'i': image[0] = 0x89, image[1] = 0x16; break;
        case 'k': image[0] = 0x89, image[1] = 0x17; break;
        case 'j': case 'l': break;
        default: image[0] = 0x55;
    }
    uint32_t id = family ? emu::IdentityOffset(family) : emu::vendor::kIdentityOffset;
    const uint16_t fields[3] = {camera.vid, camera.pid, camera.rev};
    for (int i = 0; i < 3 && id + 2 * i + 1 < size; ++i) {
        image[id + 2 * i] = static_cast<uint8_t>(fields[i]);
        image[id + 2 * i + 1] = static_cast<uint8_t>(fields[i] >> 8);
    }
    return image;
}

uint32_t Crc32(const std::vector<uint8_t>& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

int Main(const std::vector<std::string>& args, std::string& out, std::string& err) {
    if (args.size() == 1 && args[0] == "list") return List(out);
    if (args.size() == 3 && args[0] == "create") return Create(args[1], args[2], out, err);
    if (args.size() == 2 && args[0] == "show") return Show(args[1], out, err);
    err = kUsage;
    return 2;
}

}  // namespace benchtool
