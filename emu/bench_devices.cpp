#include "emu/bench_devices.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "emu/image_store.h"
#include "emu/power_state.h"
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

bool Hex16(const std::string& text, uint16_t& out) {
    const std::string t = kit::Trim(text);
    if (t.size() != 4) return false;
    uint64_t v = 0;
    if (!kit::ParseNumber("0x" + t, 0xFFFF, v)) return false;
    out = static_cast<uint16_t>(v);
    return true;
}

}  // namespace

const char* BootModeName(BootMode mode) {
    switch (mode) {
        case BootMode::Flash: return "flash firmware";
        case BootMode::Rom: return "ROM mode";
        case BootMode::Dead: return "dead";
    }
    return "";
}

bool VerifiedMark(char family, const std::vector<uint8_t>& flash, bool downloadOk) {
    if (flash.size() < 2) return false;
    switch (family) {
        case 'i': return flash[0] == 0x89 && flash[1] == 0x16;
        case 'k': return flash[0] == 0x89 && flash[1] == 0x17;
        case 'j': case 'l': return downloadOk;
        default: return flash[0] == 0x55;
    }
}

bool WholeImage(char family, const std::vector<uint8_t>& flash, uint16_t vid, uint32_t imageBytes) {
    constexpr uint32_t kPage = 256;
    const size_t end = std::min<size_t>(imageBytes, flash.size());
    for (size_t page = 0; page < end; page += kPage) {
        const auto first = flash.begin() + static_cast<std::ptrdiff_t>(page);
        const auto last = flash.begin() + static_cast<std::ptrdiff_t>(std::min(end, page + kPage));
        if (std::all_of(first, last, [](uint8_t b) { return b == 0xFF; })) return false;
    }
    const uint32_t id = IdentityOffset(family);
    if (id + 6 > end) return true;
    auto word = [&](uint32_t at) { return static_cast<uint16_t>(flash[at] | flash[at + 1] << 8); };
    return word(id) == vid && word(id + 2) != 0xFFFF && word(id + 4) != 0xFFFF;
}

BootMode BootByMark(char family, const std::vector<uint8_t>& flash, bool downloadOk, uint16_t vid,
                    uint32_t imageBytes) {
    if (!VerifiedMark(family, flash, downloadOk)) return BootMode::Rom;
    return WholeImage(family, flash, vid, imageBytes) ? BootMode::Flash : BootMode::Dead;
}

bool ReplugCamera(const Bench& bench, const std::string& name, std::string& error) {
    for (const CameraRecord& cam : bench.cameras) {
        if (kit::Lower(cam.name) != kit::Lower(name)) continue;
        if (cam.chip != "quelmar" && cam.chip != "realtek" && cam.chip != "sonix") {
            error = "camera \"" + name + "\" has no power to cut (chip=" + cam.chip + ")";
            return false;
        }
        const std::string path = BenchFilePath(bench.folder, cam.name + ".power");
        PowerFile file;
        if (!ReadPowerFile(path, file, error)) return false;
        file.state = "returned";
        return WritePowerFile(path, file, error);
    }
    error = "the bench lists no camera \"" + name + "\"";
    return false;
}

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
    if (bench_ && writeSummary_) {
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
        QuelmarDevice dev;
        dev.camera = &cam;
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
        if (!OpenPower(bench, cam, dev, error)) return false;
        quelmar_.push_back(std::move(dev));
    }
    return true;
}

bool BenchDevices::OpenPower(const Bench& bench, const CameraRecord& cam, QuelmarDevice& dev, std::string& error) {
    const std::string who = "camera \"" + cam.name + "\": ";
    const std::string boot = kit::Lower(kit::Trim(cam.Get("boot", "flash")));
    if (boot != "flash" && boot != "mark") {
        error = who + "boot must be flash or mark";
        return false;
    }
    struct Field {
        const char* key;
        const char* def;
        uint16_t* out;
    };
    for (const Field& f : {Field{"rom_vid", "04FC", &dev.romVid}, Field{"rom_pid", "2080", &dev.romPid},
                           Field{"rom_rev", "0100", &dev.romRev}}) {
        if (!Hex16(cam.Get(f.key, f.def), *f.out)) {
            error = who + f.key + " must be 4 hexadecimal digits";
            return false;
        }
    }
    uint32_t imageBytes = 65536;
    const std::string text = cam.Get("image_bytes");
    if (!text.empty() && (!Number(text, 1u << 24, imageBytes) || imageBytes == 0)) {
        error = who + "image_bytes must be a number from 1 up to " + std::to_string(1u << 24);
        return false;
    }
    dev.imageBytes = imageBytes;
    dev.powerPath = BenchFilePath(bench.folder, cam.name + ".power");
    PowerFile power;
    if (!ReadPowerFile(dev.powerPath, power, error)) return false;
    dev.powerState = power.state;
    if (power.state == "cut" || power.state == "returned") {
        // A cut happens once: the camera's state file says it has. ("on" is only the download-OK
        // flag of a camera that boots by its mark, kept by a program that merely looked at it.)
        auto& faults = dev.chip->Faults();
        faults.erase(std::remove_if(faults.begin(), faults.end(),
                                    [](const quelmar::Fault& f) { return f.kind == quelmar::FaultKind::Cut; }),
                     faults.end());
    }
    if (power.state == "cut") dev.chip->SetOffBus();
    dev.byMark = boot == "mark" || power.state == "returned";
    dev.chip->SetDownloadOk(power.downloadOk);
    dev.savedDownloadOk = power.downloadOk;
    if (!power.bootFlash.empty()) dev.chip->SetBootsInPackage(power.bootFlash == "in_package");
    dev.savedBootsInPackage = dev.chip->BootsInPackage();
    DecideBoot(dev);
    return true;
}

const BenchDevices::QuelmarDevice* BenchDevices::Find(const CameraRecord& camera) const {
    for (const QuelmarDevice& d : quelmar_)
        if (d.camera == &camera || d.camera->name == camera.name) return &d;
    return nullptr;
}

void BenchDevices::DecideBoot(const QuelmarDevice& d) const {
    d.bootRestarts = d.chip->RestartCount();
    d.boot = d.byMark ? BootByMark(d.chip->Family(), d.chip->BootImage(), d.chip->DownloadOk(), d.camera->vid,
                                   d.imageBytes)
                      : BootMode::Flash;
}

BootMode BenchDevices::Boot(const CameraRecord& camera) const {
    const QuelmarDevice* d = Find(camera);
    if (!d) return BootMode::Flash;
    if (d->chip->RestartCount() != d->bootRestarts) DecideBoot(*d);
    return d->boot;
}

bool BenchDevices::OffBus(const CameraRecord& camera) const {
    if (camera.chip == "realtek" || camera.chip == "sonix") {
        // Their power belongs to the library stand-ins, which cut it in this or another process.
        PowerFile power;
        std::string error;
        return bench_ && ReadPowerFile(PowerFilePath(*bench_, camera), power, error) && power.state == "cut";
    }
    const QuelmarDevice* d = Find(camera);
    return d && d->chip->PowerCut();
}

bool BenchDevices::Present(const CameraRecord& camera) const {
    if (camera.chip == "realtek" || camera.chip == "sonix") return !OffBus(camera);
    const QuelmarDevice* d = Find(camera);
    return !d || (!d->chip->Unplugged() && Boot(camera) != BootMode::Dead);
}

CameraRecord BenchDevices::Presented(const CameraRecord& camera) const {
    CameraRecord now = camera;
    const QuelmarDevice* d = Find(camera);
    if (d && Boot(camera) == BootMode::Rom) {
        now.vid = d->romVid;
        now.pid = d->romPid;
        now.rev = d->romRev;
    } else {
        now.rev = Revision(camera);
    }
    return now;
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
        const std::vector<uint8_t>& flash = d.chip->BootImage();
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
        // The power state is written only for cameras that were cut or boot by their mark, so a
        // bench without either keeps the files it always had.
        PowerFile power{d.powerState, d.chip->DownloadOk(), {}};
        const bool inPackage = d.chip->BootsInPackage();
        if (d.chip->InPackage()) power.bootFlash = inPackage ? "in_package" : "serial";
        if (d.chip->PowerCut()) power.state = "cut";
        else if (power.state.empty() && d.byMark) power.state = "on";
        if (!power.state.empty() && (power.state != d.powerState || power.downloadOk != d.savedDownloadOk ||
                                     inPackage != d.savedBootsInPackage)) {
            if (WritePowerFile(d.powerPath, power, error)) {
                d.powerState = power.state;
                d.savedDownloadOk = power.downloadOk;
                d.savedBootsInPackage = inPackage;
            } else {
                ok = false;
            }
        }
    }
    return ok;
}

bool BenchDevices::WriteSummary(const std::string& name, std::string& error) const {
    std::string text = clock_.Summary();
    return SaveImage(BenchFilePath(bench_ ? bench_->folder : ".", name), std::vector<uint8_t>(text.begin(), text.end()),
                     error);
}

int32_t PresentVideoInput::Enumerate(std::vector<kit::VideoInputDevice>& out) {
    out.clear();
    BenchDevices devices;
    devices.WriteSummaryOnClose(false);
    std::string error;
    if (!devices.Open(bench_, error)) return static_cast<int32_t>(0x80004005u);  // E_FAIL
    for (const CameraRecord& cam : bench_.cameras) {
        if (!devices.Present(cam)) continue;
        const CameraRecord now = devices.Presented(cam);
        kit::VideoInputDevice dev;
        dev.friendlyName = now.friendly;
        dev.hasPath = !now.noPath;
        if (dev.hasPath) dev.devicePath = now.DevicePath();
        out.push_back(dev);
    }
    return out.empty() ? kit::kS_FALSE : kit::kS_OK;
}

}  // namespace emu
