#include "emu/vendor/realtek_model.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "emu/image_store.h"
#include "emu/power_state.h"
#include "emu/vendor/library_keys.h"
#include "kit/text.h"

namespace emu::vendor {
namespace {

constexpr uint32_t kMaxBlock = 16u << 20;
constexpr uint32_t kMaxDelayUs = 10'000'000;

using kit::Lower;

void PutLe(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe(const uint8_t* in, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | in[i];
    return v;
}

}  // namespace

const std::vector<EntryName>& RvcLibEntries() {
    static const std::vector<EntryName> entries = EntriesOf(faultops::Device::RvcLib);
    return entries;
}

bool RealtekConfigOf(const Bench& bench, const CameraRecord& record, RealtekConfig& out, std::string& error) {
    out = RealtekConfig{};
    out.record = record;
    uint32_t type = 0;
    if (!MemoryFileOf(bench, record, out.memory, error) ||
        !NumberKey(record, "memtype", 3, INT32_MAX, type, error) ||
        !NumberKey(record, "progress_block", 4096, kMaxBlock, out.progressBlock, error) ||
        !NumberKey(record, "step_delay_us", 0, kMaxDelayUs, out.stepDelayUs, error))
        return false;
    out.memoryType = static_cast<int32_t>(type);
    out.powerPath = PowerFilePath(bench, record);
    if (out.progressBlock == 0) {
        error = "camera \"" + record.name + "\": progress_block must not be 0";
        return false;
    }
    std::string thread = Lower(record.Get("callback_thread", "caller"));
    if (thread == "caller") {
        out.callbackThread = CallbackThread::Caller;
    } else if (thread == "worker") {
        out.callbackThread = CallbackThread::Worker;
    } else {
        error = "camera \"" + record.name + "\": callback_thread must be caller or worker, not \"" + thread +
                "\"";
        return false;
    }
    return true;
}

bool RealtekLibrary::FromBench(const Bench& bench, std::unique_ptr<RealtekLibrary>& out, std::string& error) {
    std::vector<RealtekConfig> cameras;
    for (const CameraRecord& record : bench.cameras) {
        if (record.chip != "realtek") continue;
        RealtekConfig config;
        if (!RealtekConfigOf(bench, record, config, error)) return false;
        cameras.push_back(std::move(config));
    }
    FaultTable faults;
    if (!ReadLibraryFaults(bench, "rvclib", RvcLibEntries(), faults, error)) return false;
    return Create(std::move(cameras), std::move(faults), out, error);
}

bool RealtekLibrary::Create(std::vector<RealtekConfig> cameras, FaultTable faults,
                            std::unique_ptr<RealtekLibrary>& out, std::string& error) {
    auto lib = std::make_unique<RealtekLibrary>();
    for (RealtekConfig& config : cameras) {
        Camera cam;
        if (!LoadMemory(config.memory, cam.memory, error)) return false;
        PowerFile power;
        if (!config.powerPath.empty() && !ReadPowerFile(config.powerPath, power, error)) return false;
        if (!power.state.empty()) faults.SpendCuts();  // a cut happens once
        cam.present = power.state != "cut";
        cam.config = std::move(config);
        lib->cameras_.push_back(std::move(cam));
    }
    lib->faults_ = std::move(faults);
    out = std::move(lib);
    return true;
}

RealtekLibrary::Camera* RealtekLibrary::ByIndex(int32_t index) {
    if (index < 0) return nullptr;
    for (Camera& cam : cameras_)
        if (cam.present && index-- == 0) return &cam;
    return nullptr;
}

RealtekLibrary::Camera* RealtekLibrary::ByHandle(int32_t handle) {
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &cameras_[it->second];
}

RealtekLibrary::Camera* RealtekLibrary::ByName(const std::string& name) {
    for (Camera& cam : cameras_)
        if (cam.config.record.name == name) return &cam;
    return nullptr;
}

const RealtekLibrary::Camera* RealtekLibrary::ByName(const std::string& name) const {
    for (const Camera& cam : cameras_)
        if (cam.config.record.name == name) return &cam;
    return nullptr;
}

RealtekLibrary::Call RealtekLibrary::Begin(std::initializer_list<std::string_view> entries, Camera* directed,
                                           bool directedEntry, uint32_t work) {
    Call call;
    call.verdict = faults_.OnCall(entries, directed ? std::string_view(directed->config.record.name) : "",
                                  directedEntry);
    faults_.SetWork(work);
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

RealtekLibrary::Call::~Call() {
    if (unplugLater) unplugLater->present = false;
    if (cutLater) cutLater->CutPower();  // a call with less work than the cut's bytes
}

bool RealtekLibrary::Call::PowerAfter(uint32_t done) {
    if (!cutLater || done < verdict.cutBytes) return true;
    std::exchange(cutLater, nullptr)->CutPower();
    return false;
}

void RealtekLibrary::CutPower() {
    std::string error;
    for (Camera& cam : cameras_) {
        if (!cam.present) continue;
        cam.present = false;
        SaveImage(cam.config.memory.path, cam.memory, error);
        if (!cam.config.powerPath.empty()) WritePowerFile(cam.config.powerPath, PowerFile{"cut", true, {}}, error);
    }
}

int32_t RealtekLibrary::Initialize(int32_t, int32_t) {
    Call call = Begin({"RvcLib_Initialize"}, nullptr, false);
    if (call.verdict.fail) return call.verdict.code;
    return kRvcOk;
}

int32_t RealtekLibrary::UnInitialize(int32_t) {
    Call call = Begin({"RvcLib_UnInitialize"}, nullptr, false);
    if (call.verdict.fail) return call.verdict.code;
    handles_.clear();
    return kRvcOk;
}

int32_t RealtekLibrary::Open(int32_t index) {
    Camera* cam = ByIndex(index);
    Call call = Begin({"UVC_Open"}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return 0;
    int32_t handle = nextHandle_++;
    handles_[handle] = static_cast<size_t>(cam - cameras_.data());
    uint8_t bytes[4];
    PutLe(bytes, static_cast<uint32_t>(handle), 4);
    call.verdict.Corrupt(bytes, 4);
    return static_cast<int32_t>(GetLe(bytes, 4));
}

int32_t RealtekLibrary::Close(int32_t handle) {
    Camera* cam = ByHandle(handle);
    Call call = Begin({"UVC_Close"}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam) return kRvcNoDevice;
    handles_.erase(handle);
    return kRvcOk;
}

int32_t RealtekLibrary::GetVidPid(int32_t handle, uint16_t* vid, uint16_t* pid) {
    Camera* cam = ByHandle(handle);
    Call call = Begin({"UVC_GetDevVIDPID"}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (!vid || !pid) return kRvcBadArgument;
    Identity id = vendor::IdentityOf(cam->config.record, cam->memory);
    uint8_t bytes[4];
    PutLe(bytes, id.vid, 2), PutLe(bytes + 2, id.pid, 2);
    call.verdict.Corrupt(bytes, 4);
    *vid = static_cast<uint16_t>(GetLe(bytes, 2));
    *pid = static_cast<uint16_t>(GetLe(bytes + 2, 2));
    return kRvcOk;
}

int32_t RealtekLibrary::GetVidPidRev(int32_t handle, uint16_t* vid, uint16_t* pid, uint16_t* rev) {
    Camera* cam = ByHandle(handle);
    Call call = Begin({"UVC_GetDevVIDPIDRev"}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (!vid || !pid || !rev) return kRvcBadArgument;
    Identity id = vendor::IdentityOf(cam->config.record, cam->memory);
    uint8_t bytes[6];
    PutLe(bytes, id.vid, 2), PutLe(bytes + 2, id.pid, 2), PutLe(bytes + 4, id.rev, 2);
    call.verdict.Corrupt(bytes, 6);
    *vid = static_cast<uint16_t>(GetLe(bytes, 2));
    *pid = static_cast<uint16_t>(GetLe(bytes + 2, 2));
    *rev = static_cast<uint16_t>(GetLe(bytes + 4, 2));
    return kRvcOk;
}

int32_t RealtekLibrary::EepromInfo(const char* entry, int32_t index, int32_t* memoryType, int32_t* size) {
    Camera* cam = ByIndex(index);
    Call call = Begin({entry}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (!memoryType || !size) return kRvcBadArgument;
    uint8_t bytes[8];
    PutLe(bytes, static_cast<uint32_t>(cam->config.memoryType), 4);
    PutLe(bytes + 4, static_cast<uint32_t>(cam->memory.size()), 4);
    call.verdict.Corrupt(bytes, 8);
    *memoryType = static_cast<int32_t>(GetLe(bytes, 4));
    *size = static_cast<int32_t>(GetLe(bytes + 4, 4));
    return kRvcOk;
}

int32_t RealtekLibrary::EepromWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                                     const Progress& progress) {
    return Write("EEPROMWrite3", memoryType, index, size, image, &progress);
}

int32_t RealtekLibrary::EepromWrite(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image) {
    return Write("EEPROMWrite", memoryType, index, size, image, nullptr);
}

int32_t RealtekLibrary::Write(const char* entry, int32_t memoryType, int32_t index, int32_t size,
                              const uint8_t* image, const Progress* progress) {
    Camera* cam = ByIndex(index);
    const bool verify = progress != nullptr;
    const uint32_t length = size > 0 ? static_cast<uint32_t>(size) : 0;
    Call call = Begin({entry}, cam, true, verify ? 2 * length : length);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (memoryType != cam->config.memoryType) return kRvcMemoryType;
    if (size <= 0 || static_cast<size_t>(size) > cam->memory.size() || !image) return kRvcBadArgument;

    const uint32_t total = 2 * length;
    const uint32_t block = cam->config.progressBlock;
    uint32_t steps = 0;
    // One progress step; false when the camera the write goes to has just left.
    auto step = [&](uint32_t done) {
        if (progress && *progress) (*progress)(done, total);
        ++steps;
        if (cam->config.stepDelayUs)
            std::this_thread::sleep_for(std::chrono::microseconds(cam->config.stepDelayUs));
        if (call.unplugLater && steps == call.verdict.unplugSteps) {
            Camera* gone = call.unplugLater;
            return gone != cam;
        }
        return true;
    };
    auto run = [&]() -> int32_t {
        std::string error;
        uint8_t* memory = cam->memory.data();
        for (uint32_t at = 0; at < length; at += block) {
            uint32_t n = std::min(block, length - at);
            // A cut inside this piece: the bytes before it are written, in order, and no more.
            const bool cut = call.cutLater && call.verdict.cutBytes < at + n;
            if (cut) n = call.verdict.cutBytes - at;
            std::memcpy(memory + at, image + at, n);
            call.verdict.Corrupt(memory + at, n, at);
            if (cut) {
                call.PowerAfter(at + n);
                return kRvcNoDevice;
            }
            if (!step(at + n)) {
                SaveImage(cam->config.memory.path, cam->memory, error);
                return kRvcNoDevice;
            }
        }
        if (!SaveImage(cam->config.memory.path, cam->memory, error)) return kRvcStorage;
        if (verify) {
            for (uint32_t at = 0; at < length; at += block) {
                uint32_t n = std::min(block, length - at);
                // A cut inside this piece's read-back: it is never reported.
                if (call.cutLater && call.verdict.cutBytes < length + at + n) {
                    call.PowerAfter(UINT32_MAX);
                    return kRvcNoDevice;
                }
                if (std::memcmp(memory + at, image + at, n) != 0) return kRvcVerify;
                if (!step(length + at + n)) return kRvcNoDevice;
            }
        }
        // The power goes as the call ends.
        if (!call.PowerAfter(UINT32_MAX)) return kRvcNoDevice;
        return kRvcOk;
    };
    if (progress && cam->config.callbackThread == CallbackThread::Worker) {
        int32_t result = kRvcFailed;
        std::thread worker([&] {
            try {
                result = run();
            } catch (...) {
                result = kRvcFailed;
            }
        });
        worker.join();
        return result;
    }
    return run();
}

int32_t RealtekLibrary::EepromRead(int32_t memoryType, int32_t index, int32_t size, uint8_t* out) {
    Camera* cam = ByIndex(index);
    Call call = Begin({"EEPROMRead"}, cam, true, size > 0 ? static_cast<uint32_t>(size) : 0);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (memoryType != cam->config.memoryType) return kRvcMemoryType;
    if (size <= 0 || static_cast<size_t>(size) > cam->memory.size() || !out) return kRvcBadArgument;
    // A read the power stops hands nothing back.
    if (!call.PowerAfter(UINT32_MAX)) return kRvcNoDevice;
    std::memcpy(out, cam->memory.data(), static_cast<size_t>(size));
    call.verdict.Corrupt(out, static_cast<size_t>(size));
    return kRvcOk;
}

int32_t RealtekLibrary::EepromErase(int32_t memoryType, int32_t index) {
    Camera* cam = ByIndex(index);
    Call call = Begin({"EEPROMErase"}, cam, true, cam ? static_cast<uint32_t>(cam->memory.size()) : 0);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (memoryType != cam->config.memoryType) return kRvcMemoryType;
    if (call.Cut() && call.verdict.cutBytes < cam->memory.size()) {
        // Erased from address 0 up to where the power went.
        std::fill_n(cam->memory.begin(), call.verdict.cutBytes, 0xFF);
        call.PowerAfter(call.verdict.cutBytes);
        return kRvcNoDevice;
    }
    std::fill(cam->memory.begin(), cam->memory.end(), 0xFF);
    std::string error;
    if (!SaveImage(cam->config.memory.path, cam->memory, error)) return kRvcStorage;
    if (!call.PowerAfter(UINT32_MAX)) return kRvcNoDevice;
    return kRvcOk;
}

int32_t RealtekLibrary::ReadSensor(int bits, int32_t handle, uint32_t address, uint32_t* value) {
    Camera* cam = ByHandle(handle);
    Call call = Begin({bits == 8 ? "ReadSensorRegister8" : "ReadSensorRegister16"}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (address > 0xFFFF || !value) return kRvcBadArgument;
    auto it = cam->sensor.find(address);
    uint32_t mask = bits == 8 ? 0xFFu : 0xFFFFu;
    uint8_t bytes[4];
    PutLe(bytes, it == cam->sensor.end() ? 0 : it->second & mask, 4);
    call.verdict.Corrupt(bytes, 4);
    *value = GetLe(bytes, 4);
    return kRvcOk;
}

int32_t RealtekLibrary::WriteSensor(int bits, int32_t handle, uint32_t address, uint32_t value) {
    Camera* cam = ByHandle(handle);
    Call call = Begin({bits == 8 ? "WriteSensorRegister8" : "WriteSensorRegister16"}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    if (address > 0xFFFF) return kRvcBadArgument;
    cam->sensor[address] = value & (bits == 8 ? 0xFFu : 0xFFFFu);
    return kRvcOk;
}

int32_t RealtekLibrary::Reset(const char* entry, int32_t handle) {
    Camera* cam = ByHandle(handle);
    Call call = Begin({entry}, cam);
    if (call.verdict.fail) return call.verdict.code;
    if (!cam || !cam->present) return kRvcNoDevice;
    cam->sensor.clear();
    ++cam->resets;
    return kRvcOk;
}

bool RealtekLibrary::Present(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam && cam->present;
}

const std::vector<uint8_t>* RealtekLibrary::Memory(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam ? &cam->memory : nullptr;
}

Identity RealtekLibrary::IdentityOf(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam ? vendor::IdentityOf(cam->config.record, cam->memory) : Identity{};
}

uint32_t RealtekLibrary::Resets(const std::string& camera) const {
    const Camera* cam = ByName(camera);
    return cam ? cam->resets : 0;
}

}  // namespace emu::vendor
