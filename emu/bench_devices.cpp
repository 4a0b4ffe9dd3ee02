#include "emu/bench_devices.h"

#include <chrono>
#include <thread>

#include "emu/image_store.h"
#include "kit/text.h"
#include "emu/vendor/device_memory.h"

namespace emu {
namespace {

bool Number(const std::string& text, uint64_t high, uint32_t& out) {
    uint64_t v = 0;
    if (!kit::ParseNumber(kit::Trim(text), high, v)) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

uint8_t FamilyChipId(char family) {
    switch (family) {
        case 'f': return 0x60;
        case 'g': return 0x90;
        case 'h': return 0x80;
        case 'd': case 'i': return 0xA0;
        case 'j': return 0xB0;
        case 'k': return 0xC0;
        case 'l': return 0xD0;
        default: return 0;
    }
}

}  // namespace

uint32_t IdentityOffset(char family) {
    switch (family) {
        case 'f': case 'g': return 0x8008;
        case 'h': return 0xB70A;
        case 'i': return 0x678A;
        default: return 0xF000;
    }
}

bool ParseChipConfig(const CameraRecord& camera, quelmar::ChipConfig& config, std::vector<quelmar::Fault>& faults,
                     std::string& error) {
    config = quelmar::ChipConfig{};
    faults.clear();
    const std::string who = "camera \"" + camera.name + "\": ";
    std::string family = camera.Get("family", "f");
    if (family.size() != 1 || !FamilyChipId(family[0])) {
        error = who + "family must be one of d, f, g, h, i, j, k, l";
        return false;
    }
    config.chipId = FamilyChipId(family[0]);
    if (family[0] == 'd') config.subVariant = 0x10;

    struct Field {
        const char* key;
        uint64_t high;
        uint32_t* out32;
    };
    uint32_t chipId = config.chipId, sub = config.subVariant, flash = config.flashCode, size = 0,
             status = 0, chunk = 4096, block = 4096, busy = config.busyReads, portBusy = 0, idSlot = 1,
             inPackage = 0, ipBoot = 0, mode = 0;
    const Field fields[] = {
        {"chip_id", 0xFF, &chipId},       {"sub_variant", 0xFF, &sub},   {"flash", 0xFF, &flash},
        {"flash_size", 1u << 24, &size},  {"flash_status", 0xFF, &status}, {"chunk", 4096, &chunk},
        {"data_block", 4096, &block},     {"busy_reads", 1u << 20, &busy}, {"port_busy_reads", 1u << 20, &portBusy},
        {"id_slot", 1, &idSlot},          {"in_package", 1u << 24, &inPackage}, {"in_package_boot", 1, &ipBoot},
        {"mode_register", 0xFF, &mode},
    };
    for (const Field& f : fields) {
        std::string text = camera.Get(f.key);
        if (!text.empty() && !Number(text, f.high, *f.out32)) {
            error = who + f.key + " must be a number up to " + std::to_string(f.high) + ", not \"" + text + "\"";
            return false;
        }
    }
    if (chunk < 64) {
        error = who + "chunk must be 64..4096";
        return false;
    }
    if (block != 4096 && block != 64) {
        error = who + "data_block must be 4096 or 64";
        return false;
    }
    if (!quelmar::FindFlashPart(static_cast<uint8_t>(flash))) {
        error = who + "no flash part has the code " + std::to_string(flash);
        return false;
    }
    config.chipId = static_cast<uint8_t>(chipId);
    config.subVariant = static_cast<uint8_t>(sub);
    config.flashCode = static_cast<uint8_t>(flash);
    config.flashBytes = size;
    config.flashStatus = static_cast<uint8_t>(status);
    config.chunkBytes = static_cast<uint16_t>(chunk);
    config.dataBlockBytes = static_cast<uint16_t>(block);
    config.busyReads = busy;
    config.portBusyReads = portBusy;
    config.idCommandSlot = idSlot != 0;
    config.inPackageBytes = inPackage;
    config.inPackageBoot = ipBoot != 0;
    config.modeRegister = static_cast<uint8_t>(mode);
    std::string set = camera.Get("xu_guid", "first");
    if (set != "first" && set != "second") {
        error = who + "xu_guid must be first or second for a Quelmar chip";
        return false;
    }
    config.propertySet = set == "first" ? quelmar::xu::kFirstSet : quelmar::xu::kSecondSet;
    for (const std::string& item : kit::SplitList(camera.Get("absent"))) {
        uint32_t selector = 0;
        if (!Number(item, 31, selector)) {
            error = who + "absent must list selectors 0..31";
            return false;
        }
        config.absentSelectors |= 1u << selector;
    }
    std::string carrier = camera.Get("carrier", "ks");
    if (carrier != "ks" && carrier != "private" && carrier != "both" && carrier != "private_only" &&
        carrier != "none") {
        error = who + "carrier must be ks, private, both, private_only or none";
        return false;
    }
    // fault, fault1, fault2, ...: every key that starts with "fault", in key order.
    for (const auto& [key, value] : camera.keys) {
        if (key.rfind("fault", 0) != 0) continue;
        quelmar::Fault fault;
        std::string why;
        if (!quelmar::ParseFault(value, fault, why)) {
            error = who + key + ": " + why;
            return false;
        }
        faults.push_back(fault);
    }
    return true;
}

BenchDevices::~BenchDevices() {
    std::string error;
    Persist(error);
    if (bench_) {
        std::string summary = bench_->Get("bench", "summary");
        if (!summary.empty()) WriteSummary(summary, error);
    }
}

bool BenchDevices::Open(const Bench& bench, std::string& error) {
    bench_ = &bench;
    quelmar_.clear();
    if (bench.Get("bench", "real_time") == "1") {
        clock_.onAdvance = [](uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); };
    }
    for (const CameraRecord& cam : bench.cameras) {
        if (cam.chip != "quelmar") continue;
        QuelmarDevice dev{&cam, nullptr, "", "", "", 0};
        quelmar::ChipConfig config;
        std::vector<quelmar::Fault> faults;
        if (!ParseChipConfig(cam, config, faults, error)) return false;
        dev.flashPath = BenchFilePath(bench.folder, cam.Get("flash_image", cam.name + ".flash"));
        dev.statusPath = BenchFilePath(bench.folder, cam.name + ".status");
        std::vector<uint8_t> status;
        std::string why;
        if (!LoadImage(dev.statusPath, status, why, 1, config.flashStatus)) {
            error = why;
            return false;
        }
        if (!status.empty()) config.flashStatus = status[0];
        // A replaying camera keeps time by its transcript: its chip model only follows along.
        dev.chip = std::make_unique<quelmar::QuelmarChip>(config, cam.Get("replay").empty() ? &clock_ : nullptr);
        dev.chip->Faults() = faults;
        std::vector<uint8_t> image;
        if (!LoadImage(dev.flashPath, image, why, dev.chip->Flash().Size())) {
            error = why;
            return false;
        }
        dev.chip->Flash().LoadImage(image.data(), image.size());
        dev.chip->Flash().ClearDirty();
        if (quelmar::InPackageFlash* ip = dev.chip->InPackage()) {
            dev.inPackagePath = BenchFilePath(bench.folder, cam.name + ".ipf");
            if (!LoadImage(dev.inPackagePath, image, why, ip->Size())) {
                error = why;
                return false;
            }
            ip->LoadImage(image.data(), image.size());
            ip->ClearDirty();
        }
        dev.savedStatus = dev.chip->Flash().NonVolatileStatus();
        quelmar_.push_back(std::move(dev));
    }
    return true;
}

quelmar::QuelmarChip* BenchDevices::Quelmar(const CameraRecord& camera) {
    for (QuelmarDevice& d : quelmar_)
        if (d.camera == &camera || d.camera->name == camera.name) return d.chip.get();
    return nullptr;
}

std::string BenchDevices::Carrier(const CameraRecord& camera) const {
    return camera.chip == "quelmar" ? camera.Get("carrier", "ks") : "none";
}

uint16_t BenchDevices::Revision(const CameraRecord& camera) const {
    if ((camera.chip == "realtek" || camera.chip == "sonix") && bench_) {
        // Their memory belongs to the library stand-ins, which write it in this or another process.
        vendor::Identity identity;
        std::string error;
        return vendor::CurrentIdentity(*bench_, camera, identity, error) ? identity.rev : camera.rev;
    }
    for (const QuelmarDevice& d : quelmar_) {
        if (d.camera->name != camera.name) continue;
        const std::vector<uint8_t>& flash = d.chip->Flash().Image();
        uint32_t at = IdentityOffset(d.chip->Family()) + 4;
        if (at + 1 < flash.size()) {
            uint16_t rev = static_cast<uint16_t>(flash[at] | flash[at + 1] << 8);
            if (rev != 0xFFFF) return rev;
        }
    }
    return camera.rev;
}

bool BenchDevices::Persist(std::string& error) {
    bool ok = true;
    for (QuelmarDevice& d : quelmar_) {
        quelmar::SpiFlash& flash = d.chip->Flash();
        if (flash.Dirty()) {
            if (SaveImage(d.flashPath, flash.Image(), error)) flash.ClearDirty();
            else ok = false;
        }
        if (flash.NonVolatileStatus() != d.savedStatus) {
            if (SaveImage(d.statusPath, {flash.NonVolatileStatus()}, error)) d.savedStatus = flash.NonVolatileStatus();
            else ok = false;
        }
        if (quelmar::InPackageFlash* ip = d.chip->InPackage(); ip && ip->Dirty()) {
            if (SaveImage(d.inPackagePath, ip->Image(), error)) ip->ClearDirty();
            else ok = false;
        }
    }
    return ok;
}

bool BenchDevices::WriteSummary(const std::string& name, std::string& error) const {
    std::string text = clock_.Summary();
    return SaveImage(BenchFilePath(bench_ ? bench_->folder : ".", name), std::vector<uint8_t>(text.begin(), text.end()),
                     error);
}

}  // namespace emu
