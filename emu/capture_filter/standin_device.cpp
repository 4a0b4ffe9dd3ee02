#include "emu/capture_filter/standin_device.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace emu::capture {
namespace {

namespace q = emu::quelmar;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

Guid GuidOf(const char* text) {
    Guid g{};
    ParseGuid(text, g);
    return g;
}

struct NodeInfo {
    NodeKind kind;
    const char* key;   // in ks_nodes
    const char* name;  // get_NodeName
    const char* type;  // node-type GUID
};

constexpr NodeInfo kNodeInfo[] = {
    {NodeKind::Camera, "camera", "Camera Terminal", "{DFF229E6-F70F-11D0-B917-00A0C9223196}"},
    {NodeKind::Processing, "processing", "Processing Unit", "{DFF229E5-F70F-11D0-B917-00A0C9223196}"},
    {NodeKind::ExtensionUnit, "xu", "Extension Unit", "{941C7AC0-C559-11D0-8A2B-00A0C9255AC1}"},
    {NodeKind::ForeignUnit, "other_xu", "Extension Unit", "{941C7AC0-C559-11D0-8A2B-00A0C9255AC1}"},
    {NodeKind::Selector, "selector", "Selector Unit", "{DFF229E4-F70F-11D0-B917-00A0C9223196}"},
    {NodeKind::Streaming, "streaming", "Output Terminal", "{DFF229E1-F70F-11D0-B917-00A0C9223196}"},
};

const NodeInfo& InfoOf(NodeKind kind) {
    for (const NodeInfo& n : kNodeInfo)
        if (n.kind == kind) return n;
    return kNodeInfo[0];
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

bool DecodeKspNode(const uint8_t* bytes, uint32_t length, KspNode& out) {
    if (!bytes || length < kKsPropertyBytes) return false;
    out = KspNode{};
    std::memcpy(out.set.data(), bytes, 16);
    out.id = Le32(bytes + 16);
    out.flags = Le32(bytes + 20);
    if (length >= kKspNodeBytes) {
        out.node = Le32(bytes + 24);
        out.reserved = Le32(bytes + 28);
    }
    return true;
}

std::array<uint8_t, kKspNodeBytes> EncodeKspNode(const KspNode& node) {
    std::array<uint8_t, kKspNodeBytes> out{};
    std::memcpy(out.data(), node.set.data(), 16);
    PutLe32(out.data() + 16, node.id);
    PutLe32(out.data() + 20, node.flags);
    PutLe32(out.data() + 24, node.node);
    PutLe32(out.data() + 28, node.reserved);
    return out;
}

Guid NodeTypeOf(NodeKind kind) { return GuidOf(InfoOf(kind).type); }

const char* NodeNameOf(NodeKind kind) { return InfoOf(kind).name; }

bool ParseNodes(const std::string& text, std::vector<NodeKind>& out, std::string& error) {
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string key = Lower(Trim(text.substr(start, comma - start)));
        start = comma + 1;
        if (key.empty()) {
            if (comma == text.size() && !out.empty()) break;  // a trailing comma
            error = "ks_nodes: empty node name";
            return false;
        }
        const NodeInfo* info = nullptr;
        for (const NodeInfo& n : kNodeInfo)
            if (key == n.key) info = &n;
        if (!info) {
            error = "ks_nodes: unknown node '" + key +
                    "' (camera, processing, xu, other_xu, selector, streaming)";
            return false;
        }
        if (info->kind == NodeKind::ExtensionUnit &&
            std::count(out.begin(), out.end(), NodeKind::ExtensionUnit) > 0) {
            error = "ks_nodes: the chip has one extension unit";
            return false;
        }
        out.push_back(info->kind);
    }
    return true;
}

Exposure ExposureOf(const std::string& carrier) {
    if (carrier == "ks") return {true, true, false};
    if (carrier == "private") return {true, false, true};
    if (carrier == "private_only") return {false, false, true};
    if (carrier == "both") return {true, true, true};
    return {};
}

bool SharedBench::Open(const std::string& folder, std::string& error) {
    if (!LoadBench(folder, bench_, error) || !devices_.Open(bench_, error)) return false;
    replays_.clear();
    for (const CameraRecord& camera : bench_.cameras) {
        if (camera.chip != "quelmar" || camera.Get("replay").empty()) continue;
        auto replay = std::make_unique<ReplayCamera>();
        if (!replay->Load(bench_, camera, devices_.Clock(), error)) return false;
        replays_[camera.name] = std::move(replay);
    }
    return true;
}

SharedBench::~SharedBench() { FinishReplays(); }

void SharedBench::FinishReplays() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [name, replay] : replays_) replay->Finish();
}

ReplayCamera* SharedBench::Replay(const CameraRecord& camera) {
    auto it = replays_.find(camera.name);
    return it == replays_.end() ? nullptr : it->second.get();
}

const CameraRecord* SharedBench::FindByDevicePath(const std::string& path) const {
    const std::string wanted = Lower(path);
    for (const CameraRecord& camera : bench_.cameras)
        if (!camera.noPath && (Lower(camera.DevicePath()) == wanted ||
                               Lower(devices_.Presented(camera).DevicePath()) == wanted))
            return &camera;  // the path it was registered with, or the ROM identity's
    return nullptr;
}

StandInDevice::StandInDevice() : exposure_{true, true, true} {
    std::string ignored;
    ParseNodes(kDefaultNodes, nodes_, ignored);
}

StandInDevice::StandInDevice(SharedBench& bench, const CameraRecord& camera, std::string& problem)
    : StandInDevice() {
    problem.clear();
    camera_ = &camera;
    std::vector<NodeKind> nodes;
    if (!ParseNodes(camera.Get("ks_nodes", kDefaultNodes), nodes, problem)) return;
    nodes_ = std::move(nodes);
    bench_ = &bench;
    {
        std::lock_guard<std::mutex> hold(bench.Lock());
        chip_ = bench.Devices().Quelmar(camera);
        exposure_ = ExposureOf(bench.Devices().Carrier(camera));
        replay_ = bench.Replay(camera);
    }
    auto xu = std::find(nodes_.begin(), nodes_.end(), NodeKind::ExtensionUnit);
    xuNode_ = xu == nodes_.end() ? -1 : static_cast<int>(xu - nodes_.begin());
}

int32_t StandInDevice::Finish(int32_t result) {
    std::string error;
    if (bench_->Devices().Persist(error)) return result;
    if (trace_)
        kit::TraceF(*trace_, "capture filter stand-in: %s: memory not saved: %s\n", camera_->name.c_str(),
                    error.c_str());
    return result < 0 ? result : kWriteFault;
}

int32_t StandInDevice::ChipRequest(uint8_t set, uint8_t selector, uint32_t flags, uint8_t* data,
                                   uint32_t dataLength, uint32_t* returned) {
    std::lock_guard<std::mutex> hold(bench_->Lock());
    chip_->UsePropertySet(set);
    int32_t result;
    if (flags == (kKsGet | kKsTopology) && dataLength == 0) {
        uint16_t length = 0;
        result = chip_->GetLength(selector, length);
        if (result == q::kOk) {
            *returned = length;
            result = kMoreData;
        }
    } else if (flags == (kKsGet | kKsTopology)) {
        result = chip_->Read(selector, data, dataLength);
        if (result == q::kOk) *returned = dataLength;
    } else {
        result = chip_->Write(selector, data, dataLength);
    }
    return Finish(result);
}

void StandInDevice::SetTrace(kit::Trace* trace) {
    trace_ = trace;
    if (replay_) replay_->SetTrace(trace);
}

int32_t StandInDevice::KsProperty(const uint8_t* property, uint32_t propertyLength, uint8_t* data,
                                  uint32_t dataLength, uint32_t* returned) {
    if (!property || !returned) return kEPointer;
    *returned = 0;
    if (replay_) return ReplayKs(property, propertyLength, data, dataLength, returned);
    return ModelKsProperty(property, propertyLength, data, dataLength, returned);
}

int32_t StandInDevice::ModelKsProperty(const uint8_t* property, uint32_t propertyLength, uint8_t* data,
                                       uint32_t dataLength, uint32_t* returned) {
    if (!chip_) return kDeviceNotConnected;
    KspNode request;
    if (!DecodeKspNode(property, propertyLength, request)) return kInsufficientBuffer;
    if (!(request.flags & kKsTopology)) return kSetNotFound;
    if (propertyLength < kKspNodeBytes) return kInsufficientBuffer;
    if (request.node >= nodes_.size()) return kEInvalidArg;
    if (static_cast<int>(request.node) != xuNode_) return kSetNotFound;
    uint8_t set;
    if (request.set == FirstExtensionSet())
        set = q::xu::kFirstSet;
    else if (request.set == SecondExtensionSet())
        set = q::xu::kSecondSet;
    else
        return kSetNotFound;
    if (request.flags != (kKsGet | kKsTopology) && request.flags != (kKsSet | kKsTopology))
        return kNotSupported;
    if (!data && dataLength > 0) return kEPointer;
    if (request.id > 0xFF) return static_cast<int32_t>(q::kNotFound);  // selectors are one byte
    return ChipRequest(set, static_cast<uint8_t>(request.id), request.flags, data, dataLength, returned);
}

int32_t StandInDevice::SetCustomProperty(uint32_t id, const uint8_t* buffer) {
    if (!buffer) return kEPointer;
    return replay_ ? ReplaySetCustom(id, buffer) : ModelSetCustom(id, buffer);
}

int32_t StandInDevice::ModelSetCustom(uint32_t id, const uint8_t* buffer) {
    if (!chip_) return kDeviceNotConnected;
    if (id != kCustomProperty) return kNotSupported;
    const uint32_t length = static_cast<uint32_t>(buffer[0] | buffer[1] << 8);
    const uint8_t code = buffer[2];
    const uint8_t selector = buffer[3];
    if (code != kCustomWrite && code != kCustomRead && code != kCustomLength) return kNotSupported;
    if (length > kCustomBufferBytes) return kEInvalidArg;

    std::lock_guard<std::mutex> hold(bench_->Lock());
    chip_->UsePropertySet(q::xu::kDirect);
    if (code == kCustomWrite) return Finish(chip_->Write(selector, buffer + 4, length));

    reply_.fill(0);
    if (code == kCustomRead) {
        replyResult_ = chip_->Read(selector, reply_.data(), length);
    } else if (length != 2) {
        replyResult_ = q::kGenFailure;  // GET_LEN carries exactly two bytes; the device stalls
    } else {
        uint16_t controlLength = 0;
        replyResult_ = chip_->GetLength(selector, controlLength);
        if (replyResult_ == q::kOk) {
            reply_[0] = static_cast<uint8_t>(controlLength);
            reply_[1] = static_cast<uint8_t>(controlLength >> 8);
        }
    }
    if (replyResult_ != q::kOk) reply_.fill(0);
    replyResult_ = Finish(replyResult_);
    return replyResult_;
}

int32_t StandInDevice::GetCustomProperty(uint32_t id, uint8_t* buffer) {
    if (!buffer) return kEPointer;
    return replay_ ? ReplayGetCustom(id, buffer) : ModelGetCustom(id, buffer);
}

int32_t StandInDevice::ModelGetCustom(uint32_t id, uint8_t* buffer) {
    if (!chip_) return kDeviceNotConnected;
    if (id != kCustomProperty) return kNotSupported;
    std::lock_guard<std::mutex> hold(bench_->Lock());
    std::memcpy(buffer, reply_.data(), reply_.size());
    return replyResult_;
}

namespace {

// What the recorded device did with a request: a refused request changed nothing on it. A length
// query's success is ERROR_MORE_DATA on the kernel-streaming carrier.
bool ReachedDevice(const transcript::Request& r) { return r.result >= 0 || r.result == kMoreData; }

}  // namespace

int32_t StandInDevice::ReplayKs(const uint8_t* property, uint32_t propertyLength, uint8_t* data,
                                uint32_t dataLength, uint32_t* returned) {
    const transcript::Request asked = transcript::AskedKs(property, propertyLength, data, dataLength);
    ReplayCamera::Answer a;
    {
        std::lock_guard<std::mutex> hold(bench_->Lock());
        a = replay_->Take(asked);
    }
    if (!a.matched) return a.result;
    if (chip_ && ReachedDevice(*a.recorded)) {
        std::vector<uint8_t> scratch;
        if (data) scratch.assign(data, data + dataLength);
        uint32_t ignored = 0;
        ModelKsProperty(property, propertyLength, data ? scratch.data() : nullptr, dataLength, &ignored);
    }
    if (data && a.recorded->hasReceived)
        std::memcpy(data, a.recorded->received.data(), std::min<size_t>(dataLength, a.recorded->received.size()));
    *returned = a.recorded->returned;
    return a.result;
}

int32_t StandInDevice::ReplaySetCustom(uint32_t id, const uint8_t* buffer) {
    const transcript::Request asked = transcript::AskedPrivate(id, buffer);
    if (asked.dir != transcript::Direction::Set) lastAsked_ = asked;
    ReplayCamera::Answer a;
    {
        std::lock_guard<std::mutex> hold(bench_->Lock());
        a = replay_->Take(asked);
    }
    if (a.matched && chip_ && ReachedDevice(*a.recorded)) ModelSetCustom(id, buffer);
    return a.result;
}

int32_t StandInDevice::ReplayGetCustom(uint32_t id, uint8_t* buffer) {
    ReplayCamera::Answer a;
    {
        std::lock_guard<std::mutex> hold(bench_->Lock());
        a = replay_->Take(transcript::AskedReply(id, lastAsked_));
    }
    if (!a.matched) return a.result;
    std::memset(buffer, 0, kCustomBufferBytes);
    if (a.recorded->hasReceived)
        std::memcpy(buffer, a.recorded->received.data(),
                    std::min<size_t>(kCustomBufferBytes, a.recorded->received.size()));
    return a.result;
}

}  // namespace emu::capture
