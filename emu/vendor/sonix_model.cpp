#include "emu/vendor/sonix_model.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

#include "emu/image_store.h"
#include "emu/power_state.h"
#include "emu/vendor/library_keys.h"

namespace emu::vendor {
namespace {

constexpr uint32_t kMaxDelayUs = 10'000'000;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// asic=<address>:<hex byte pairs>[,...] into the chip's 64 KiB space.
bool ParseAsic(const std::string& text, std::vector<uint8_t>& asic, std::string& error) {
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        start = comma + 1;
        size_t colon = item.find(':');
        uint32_t address = 0;
        if (colon == std::string::npos || !ParseBenchNumber(item.substr(0, colon), address) ||
            address > 0xFFFF) {
            error = "asic: \"" + item + "\" is not <address>:<hex bytes>";
            return false;
        }
        std::string digits;
        for (char c : item.substr(colon + 1))
            if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
        if (digits.empty() || digits.size() % 2 != 0) {
            error = "asic: \"" + item + "\" needs pairs of hexadecimal digits";
            return false;
        }
        for (size_t i = 0; i < digits.size(); i += 2) {
            int hi = HexDigit(digits[i]), lo = HexDigit(digits[i + 1]);
            if (hi < 0 || lo < 0) {
                error = "asic: \"" + item + "\" needs pairs of hexadecimal digits";
                return false;
            }
            asic[(address + i / 2) & 0xFFFF] = static_cast<uint8_t>(hi * 16 + lo);
        }
    }
    return true;
}

}  // namespace

const std::vector<EntryName>& BurnerApEntries() {
    static const std::vector<EntryName> entries = EntriesOf(faultops::Device::BurnerAp);
    return entries;
}

bool SonixConfigOf(const Bench& bench, const CameraRecord& record, SonixConfig& out, std::string& error) {
    out = SonixConfig{};
    out.record = record;
    uint32_t index = 0, table = 0, protect = 0, status = 0;
    if (!MemoryFileOf(bench, record, out.memory, error) ||
        !NumberKey(record, "rom_index", 1, 0xFF, index, error) ||
        !NumberKey(record, "sector_table", 0, 0xFFFF, table, error) ||
        !NumberKey(record, "protect", 1, 1, protect, error) ||
        !NumberKey(record, "protect_status", 0x1C, 0xFFFF, status, error) ||
        !NumberKey(record, "step_delay_us", 0, kMaxDelayUs, out.stepDelayUs, error))
        return false;
    std::string rom = record.Get("rom_version", "232RO");
    if (rom.size() > 5) {
        error = "camera \"" + record.name + "\": rom_version has at most 5 characters, not \"" + rom + "\"";
        return false;
    }
    std::memcpy(out.romVersion.data(), rom.data(), rom.size());
    out.romVersion[5] = static_cast<uint8_t>(index);
    out.sectorTable = static_cast<uint16_t>(table);
    out.protectAtPowerOn = protect != 0;
    out.protectStatus = static_cast<uint16_t>(status);
    out.powerPath = PowerFilePath(bench, record);
    if (!ParseAsic(record.Get("asic"), out.asic, error)) {
        error = "camera \"" + record.name + "\": " + error;
        return false;
    }
    return true;
}

bool SonixLibrary::FromBench(const Bench& bench, std::unique_ptr<SonixLibrary>& out, std::string& error) {
    std::vector<SonixConfig> cameras;
    for (const CameraRecord& record : bench.cameras) {
        if (record.chip != "sonix") continue;
        SonixConfig config;
        if (!SonixConfigOf(bench, record, config, error)) return false;
        cameras.push_back(std::move(config));
    }
    FaultTable faults;
    if (!ReadLibraryFaults(bench, "burnerap", BurnerApEntries(), faults, error)) return false;
    return Create(std::move(cameras), std::move(faults), out, error);
}

bool SonixLibrary::Create(std::vector<SonixConfig> cameras, FaultTable faults,
                          std::unique_ptr<SonixLibrary>& out, std::string& error) {
    auto lib = std::make_unique<SonixLibrary>();
    lib->cameras_.reserve(cameras.size());  // Picked() keeps a pointer into it
    for (SonixConfig& config : cameras) {
        Camera cam;
        if (!LoadMemory(config.memory, cam.memory, error)) return false;
        PowerFile power;
        if (!config.powerPath.empty() && !ReadPowerFile(config.powerPath, power, error)) return false;
        if (!power.state.empty()) faults.SpendCuts();  // a cut happens once
        cam.present = power.state != "cut";
        cam.protect = config.protectAtPowerOn;
        cam.config = std::move(config);
        lib->cameras_.push_back(std::move(cam));
    }
    lib->faults_ = std::move(faults);
    out = std::move(lib);
    return true;
}

SonixLibrary::Call::~Call() {
    if (unplugLater) unplugLater->present = false;
    if (cutLater) cutLater->CutPower();  // a call with less work than the cut's bytes
}

bool SonixLibrary::Call::PowerAfter(uint32_t done) {
    if (!cutLater || done < verdict.cutBytes) return true;
    std::exchange(cutLater, nullptr)->CutPower();
    return false;
}

void SonixLibrary::CutPower() {
    std::string error;
    for (Camera& cam : cameras_) {
        if (!cam.present) continue;
        cam.present = false;
        Save(cam);
        if (!cam.config.powerPath.empty()) WritePowerFile(cam.config.powerPath, PowerFile{"cut", true, {}}, error);
    }
}

SonixLibrary::Camera* SonixLibrary::Picked() { return picked_ && picked_->present ? picked_ : nullptr; }

SonixLibrary::Camera* SonixLibrary::ByName(const std::string& name) {
    for (Camera& cam : cameras_)
        if (cam.config.record.name == name) return &cam;
    return nullptr;
}

const SonixLibrary::Camera* SonixLibrary::ByName(const std::string& name) const {
    for (const Camera& cam : cameras_)
        if (cam.config.record.name == name) return &cam;
    return nullptr;
}

SonixLibrary::Call SonixLibrary::Begin(std::initializer_list<std::string_view> entries, Camera* directed,
                                       bool directedEntry, uint32_t work) {
    Call call;
    {
        std::lock_guard<std::mutex> lock(faultsLock_);
        call.verdict = faults_.OnCall(entries, directed ? std::string_view(directed->config.record.name) : "",
                                      directedEntry);
        faults_.SetWork(work);
    }
    if (call.verdict.cut) {
        if (work == 0 || call.verdict.cutBytes == 0)
            CutPower();
        else
            call.cutLater = this;
        return call;
    }
    if (call.verdict.unplug) {
        Camera* target = call.verdict.unplugCamera.empty() ? directed : ByName(call.verdict.unplugCamera);
        if (target) {
            if (call.verdict.unplugSteps == 0)
                target->present = false;
            else
                call.unplugLater = target;
        }
    }
    return call;
}

bool SonixLibrary::Save(Camera& cam) {
    std::string error;
    return SaveImage(cam.config.memory.path, cam.memory, error);
}

int32_t SonixLibrary::InitializeDriverInterface() {
    Call call = Begin({"Initialize_DriverInterface"}, nullptr, false);
    if (call.verdict.fail) return call.verdict.code;
    picked_ = nullptr;
    int32_t count = 0;
    for (Camera& cam : cameras_) {
        if (!cam.present) continue;
        if (!picked_) picked_ = &cam;
        ++count;
    }
    return count > 0 ? count : -1;
}

bool SonixLibrary::GetDeviceList(std::vector<std::string>& paths) {
    paths.clear();
    Call call = Begin({"GetDeviceList"}, nullptr, false);
    if (call.verdict.fail) return call.verdict.code != 0;
    if (!Picked()) return false;
    for (const Camera& cam : cameras_)
        if (cam.present) paths.push_back(cam.config.record.DevicePath());
    // Corruption counts through the paths as the list block holds them, each with its terminator.
    size_t base = 0;
    for (std::string& path : paths) {
        std::vector<uint8_t> bytes(path.begin(), path.end());
        bytes.push_back(0);
        call.verdict.Corrupt(bytes.data(), bytes.size(), base);
        base += bytes.size();
        path.assign(bytes.begin(), bytes.end() - 1);
    }
    return true;
}

bool SonixLibrary::GetRomVersion(char* version) {
    Camera* cam = Picked();
    Call call = Begin({"GetRomVersion"}, cam);
    if (call.verdict.fail) return call.verdict.code != 0;
    if (!Picked() || !version) return false;
    std::array<uint8_t, kRomVersionBytes> bytes = cam->config.romVersion;
    call.verdict.Corrupt(bytes.data(), bytes.size());
    std::memcpy(version, bytes.data(), bytes.size());
    return true;
}

bool SonixLibrary::GetSectorTableAddr(uint16_t* address) {
    Camera* cam = Picked();
    Call call = Begin({"GetSectorTableAddr"}, cam);
    if (call.verdict.fail) return call.verdict.code != 0;
    if (!Picked() || !address) return false;
    uint8_t bytes[2] = {static_cast<uint8_t>(cam->config.sectorTable),
                        static_cast<uint8_t>(cam->config.sectorTable >> 8)};
    call.verdict.Corrupt(bytes, 2);
    *address = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    return true;
}

bool SonixLibrary::ProcReadFromAsic(uint16_t address, uint8_t* buffer) {
    Camera* cam = Picked();
    Call call = Begin({"ProcReadFromASIC"}, cam);
    if (call.verdict.fail) return call.verdict.code != 0;
    if (!Picked() || !buffer) return false;
    for (size_t i = 0; i < kAsicReadBytes; ++i) buffer[i] = cam->config.asic[(address + i) & 0xFFFF];
    call.verdict.Corrupt(buffer, kAsicReadBytes);
    return true;
}

bool SonixLibrary::ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) {
    Camera* cam = Picked();
    std::string_view narrow = request == 7 ? "ReqToDriver.read" : request == 6 ? "ReqToDriver.write" : "";
    Call call = Begin({"ReqToDriver", narrow}, cam, true, request == 6 || request == 7 ? length : 0);
    if (call.verdict.fail) return call.verdict.code != 0;
    if (!Picked() || (request != 6 && request != 7)) return false;
    if (length == 0) return true;
    if (!buffer || address > cam->memory.size() || length > cam->memory.size() - address) return false;
    uint8_t* flash = cam->memory.data() + address;
    if (request == 7) {
        if (!call.PowerAfter(UINT32_MAX)) return false;  // a read the power stops hands nothing back
        std::memcpy(buffer, flash, length);
        call.verdict.Corrupt(buffer, length);
        return true;
    }
    if (cam->protect) return false;
    progress_ = 0;
    uint32_t steps = 0;
    for (uint32_t at = 0; at < length; at += kSonixPage) {
        uint32_t n = std::min(kSonixPage, length - at);
        // A cut inside this page: its bytes before the cut are programmed, in order, and no more.
        const bool cut = call.cutLater && call.verdict.cutBytes < at + n;
        if (cut) n = call.verdict.cutBytes - at;
        for (uint32_t i = 0; i < n; ++i) flash[at + i] &= buffer[at + i];
        call.verdict.Corrupt(flash + at, n, at);
        if (cut) {
            call.PowerAfter(at + n);
            return false;
        }
        progress_ = static_cast<uint32_t>(uint64_t{at + n} * 100 / length);
        ++steps;
        if (cam->config.stepDelayUs)
            std::this_thread::sleep_for(std::chrono::microseconds(cam->config.stepDelayUs));
        if (call.unplugLater && steps == call.verdict.unplugSteps) {
            Camera* gone = std::exchange(call.unplugLater, nullptr);
            gone->present = false;
            if (gone == cam) {
                Save(*cam);
                return false;
            }
        }
    }
    const bool saved = Save(*cam);
    return call.PowerAfter(UINT32_MAX) && saved;
}

bool SonixLibrary::SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) {
    Camera* cam = Picked();
    Call call = Begin({"SetWriteProtect"}, cam);
    if (call.verdict.fail) return call.verdict.code != 0;
    if (!Picked()) return false;
    lastProtectByte_ = byte;
    if (!enable) word = cam->protect ? cam->config.protectStatus : 0;
    cam->protect = enable;
    return true;
}

bool SonixLibrary::EraseSf() {
    Camera* cam = Picked();
    Call call = Begin({"EraseSF"}, cam, true, cam ? static_cast<uint32_t>(cam->memory.size()) : 0);
    if (call.verdict.fail) return call.verdict.code != 0;
    if (!Picked() || cam->protect) return false;
    if (call.cutLater && call.verdict.cutBytes < cam->memory.size()) {
        // Erased from address 0 up to where the power went.
        std::fill_n(cam->memory.begin(), call.verdict.cutBytes, 0xFF);
        call.PowerAfter(call.verdict.cutBytes);
        return false;
    }
    std::fill(cam->memory.begin(), cam->memory.end(), 0xFF);
    const bool saved = Save(*cam);
    return call.PowerAfter(UINT32_MAX) && saved;
}

uint32_t SonixLibrary::GetProgress() {
    CallVerdict verdict;
    {
        std::lock_guard<std::mutex> lock(faultsLock_);
        verdict = faults_.OnCall({"GetProgress"}, picked_ ? std::string_view(picked_->config.record.name) : "",
                                 true, false);
    }
    if (verdict.fail) return static_cast<uint32_t>(verdict.code);
    uint32_t value = progress_;
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    verdict.Corrupt(bytes, 4);
    return static_cast<uint32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16)) | (uint32_t{bytes[3]} << 24);
}

int32_t SonixLibrary::ResetDevice() {
    Camera* cam = Picked();
    Call call = Begin({"ResetDevice"}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!Picked()) return 0;
    cam->protect = cam->config.protectAtPowerOn;
    ++cam->resets;
    progress_ = 0;
    return 1;
}

bool SonixLibrary::Present(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam && cam->present;
}

bool SonixLibrary::Protected(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam && cam->protect;
}

const std::vector<uint8_t>* SonixLibrary::Memory(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam ? &cam->memory : nullptr;
}

Identity SonixLibrary::IdentityOf(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam ? vendor::IdentityOf(cam->config.record, cam->memory) : Identity{};
}

uint32_t SonixLibrary::Resets(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam ? cam->resets : 0;
}

}  // namespace emu::vendor
