#include "camlib/emulated/emulated_platform.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "camlib/transport.h"

namespace camlib {
namespace {

namespace q = emu::quelmar;
namespace cap = emu::capture;

constexpr uint32_t kErrorFileNotFound = 2;

uint32_t Le32(const uint8_t* d) {
    return static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
           static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24;
}
uint16_t Le16(const uint8_t* d) { return static_cast<uint16_t>(d[0] | d[1] << 8); }

}  // namespace

struct EmulatedPlatform::State {
    cap::SharedBench& shared;
    kit::Trace& trace;
    emu::UsbTopology topology;
    bool topologyOk = false;

    State(cap::SharedBench& s, kit::Trace& t) : shared(s), trace(t) {}

    const emu::Bench& Bench() const { return shared.Description(); }
    emu::BenchDevices& Devices() { return shared.Devices(); }
    // A camera off the bus (unplugged, its power cut) or dead is not listed.
    bool Present(const emu::CameraRecord& cam) { return Devices().Present(cam); }
    void BuildTopology() {
        std::string error;
        topologyOk = topology.Build(
            Bench(), [this](const emu::CameraRecord& cam) { return Devices().Revision(cam); }, error,
            [this](const emu::CameraRecord& cam, emu::CameraRecord& now) {
                now = Devices().Presented(cam);
                return Devices().Present(cam);
            });
        if (!topologyOk) kit::TraceF(trace, "emulated bench: USB tree unusable: %s\n", error.c_str());
    }
};

namespace {

using State = EmulatedPlatform::State;

// A camera's filter as it was bound: the stand-in's answers for it, until its chip restarts; then,
// like a device that left the bus, the binding is gone.
struct Binding {
    State& state;
    std::shared_ptr<cap::StandInDevice> device;
    q::QuelmarChip* chip;
    uint32_t restarts;

    bool Gone() const { return chip && (chip->RestartCount() != restarts || chip->Unplugged()); }
};

class EmuKsControl final : public KsControl {
public:
    explicit EmuKsControl(Binding b) : b_(std::move(b)) {}
    int32_t KsProperty(const uint8_t* property, uint32_t propertyLength, void* data, uint32_t dataLength,
                       uint32_t* bytesReturned) override {
        if (b_.Gone()) return hr::kDeviceNotConnected;
        uint32_t returned = 0;
        const int32_t r = b_.device->KsProperty(property, propertyLength, static_cast<uint8_t*>(data),
                                                dataLength, &returned);
        if (bytesReturned) *bytesReturned = returned;
        return r;
    }

private:
    Binding b_;
};

class EmuTopology final : public KsTopology {
public:
    explicit EmuTopology(Binding b) : b_(std::move(b)) {}
    int32_t NumNodes(uint32_t* count) override {
        if (!count) return hr::kPointer;
        *count = static_cast<uint32_t>(b_.device->Nodes().size());
        return hr::kOk;
    }
    int32_t NodeType(uint32_t node, Guid* type) override {
        if (!type) return hr::kPointer;
        if (node >= b_.device->Nodes().size()) return hr::kInvalidArg;
        *type = cap::NodeTypeOf(b_.device->Nodes()[node]);
        return hr::kOk;
    }

private:
    Binding b_;
};

class EmuCustomProp final : public CustomProp {
public:
    explicit EmuCustomProp(Binding b) : b_(std::move(b)) {}
    int32_t SetProperty(uint32_t id, uint8_t* buffer) override {
        if (b_.Gone()) return hr::kDeviceNotConnected;
        return b_.device->SetCustomProperty(id, buffer);
    }
    int32_t GetProperty(uint32_t id, uint8_t* buffer) override {
        if (b_.Gone()) return hr::kDeviceNotConnected;
        return b_.device->GetCustomProperty(id, buffer);
    }

private:
    Binding b_;
};

// The interfaces a filter offers follow the driver its record names (the stand-in's exposure).
class EmuFilter final : public CaptureFilter {
public:
    explicit EmuFilter(Binding b) : b_(std::move(b)) {}
    int32_t QueryKsControl(std::unique_ptr<KsControl>& out) override {
        if (!b_.device->Exposes().ksControl) return hr::kNoInterface;
        out = std::make_unique<EmuKsControl>(b_);
        return hr::kOk;
    }
    int32_t QueryTopology(std::unique_ptr<KsTopology>& out) override {
        if (!b_.device->Exposes().topology) return hr::kNoInterface;
        out = std::make_unique<EmuTopology>(b_);
        return hr::kOk;
    }
    int32_t QueryCustomProp(std::unique_ptr<CustomProp>& out) override {
        if (!b_.device->Exposes().custom) return hr::kNoInterface;
        out = std::make_unique<EmuCustomProp>(b_);
        return hr::kOk;
    }

private:
    Binding b_;
};

class EmuVideoDevice final : public VideoDevice {
public:
    EmuVideoDevice(State& s, const emu::CameraRecord& cam) : s_(s), cam_(cam) {}
    int32_t ReadDevicePath(std::string& path) override {
        path.clear();
        if (cam_.noPath) return hr::kFail;
        path = s_.Devices().Presented(cam_).DevicePath();
        return hr::kOk;
    }
    int32_t BindFilter(std::unique_ptr<CaptureFilter>& out) override {
        std::string problem;
        auto device = std::make_shared<cap::StandInDevice>(s_.shared, cam_, problem);
        device->SetTrace(&s_.trace);
        if (!problem.empty())
            kit::TraceF(s_.trace, "emulated bench: %s: %s\n", cam_.name.c_str(), problem.c_str());
        // A replaying camera's transcript already holds what a restart did to the requests after it.
        q::QuelmarChip* chip = s_.shared.Replay(cam_) ? nullptr : s_.Devices().Quelmar(cam_);
        out = std::make_unique<EmuFilter>(
            Binding{s_, std::move(device), chip, chip ? chip->RestartCount() : 0});
        return hr::kOk;
    }

private:
    State& s_;
    const emu::CameraRecord& cam_;
};

class EmuVideoList final : public VideoDeviceList {
public:
    explicit EmuVideoList(State& s) : s_(s) {}
    int32_t Next(std::unique_ptr<VideoDevice>& out) override {
        const auto& cameras = s_.Bench().cameras;
        while (next_ < cameras.size() && !s_.Present(cameras[next_])) ++next_;
        if (next_ >= cameras.size()) return hr::kFalse;
        out = std::make_unique<EmuVideoDevice>(s_, cameras[next_++]);
        return hr::kOk;
    }

private:
    State& s_;
    size_t next_ = 0;
};

class EmuVideoPort final : public VideoDevicePort {
public:
    explicit EmuVideoPort(State& s) : s_(s) {}
    int32_t Open(std::unique_ptr<VideoDeviceList>& out) override {
        // A camera that restarted has come back by the time anyone enumerates again.
        {
            std::lock_guard<std::mutex> hold(s_.shared.Lock());
            for (const emu::CameraRecord& cam : s_.Bench().cameras)
                if (q::QuelmarChip* chip = s_.Devices().Quelmar(cam)) chip->AcknowledgeReenumeration();
        }
        const auto& cameras = s_.Bench().cameras;
        if (std::none_of(cameras.begin(), cameras.end(), [this](const auto& cam) { return s_.Present(cam); }))
            return hr::kFalse;
        out = std::make_unique<EmuVideoList>(s_);
        return hr::kOk;
    }

private:
    State& s_;
};

class EmuImagingList final : public ImagingDeviceList {
public:
    explicit EmuImagingList(State& s) : s_(s) {
        for (const emu::CameraRecord& cam : s.Bench().cameras)
            if (cam.IsUsb() && s.Present(cam)) cameras_.push_back(&cam);
    }
    uint32_t InstanceId(uint32_t index, std::string& out) override {
        if (index >= cameras_.size()) return kErrorNoMoreItems;
        out = s_.Devices().Presented(*cameras_[index]).InstanceId();
        return kErrorSuccess;
    }
    uint32_t Address(uint32_t index, uint32_t& address) override {
        if (index >= cameras_.size()) return kErrorNoMoreItems;
        address = cameras_[index]->port;
        return kErrorSuccess;
    }
    uint32_t HardwareIds(uint32_t index, std::vector<std::string>& ids) override {
        if (index >= cameras_.size()) return kErrorNoMoreItems;
        ids = {s_.Devices().Presented(*cameras_[index]).HardwareId()};
        return kErrorSuccess;
    }
    uint32_t GrandparentInstanceId(uint32_t index, std::string& out) override {
        if (index >= cameras_.size()) return kErrorNoMoreItems;
        if (!s_.topologyOk) return kErrorGenFailure;
        out = s_.topology.HubInstanceOf(*cameras_[index]);
        return out.empty() ? kErrorGenFailure : kErrorSuccess;
    }

private:
    State& s_;
    std::vector<const emu::CameraRecord*> cameras_;
};

class EmuImagingPort final : public ImagingDevicePort {
public:
    explicit EmuImagingPort(State& s) : s_(s) {}
    uint32_t OpenPresent(std::unique_ptr<ImagingDeviceList>& out) override {
        s_.BuildTopology();
        out = std::make_unique<EmuImagingList>(s_);
        return kErrorSuccess;
    }

private:
    State& s_;
};

class EmuHub final : public UsbHub {
public:
    EmuHub(State& s, std::string name) : s_(s), name_(std::move(name)) {}
    uint32_t PortCount(uint8_t& ports) override {
        const emu::UsbHubNode* hub = s_.topology.Hub(name_);
        if (!hub) return kErrorGenFailure;
        ports = hub->ports;
        return kErrorSuccess;
    }
    uint32_t Connection(uint32_t port, UsbConnection& out) override {
        emu::UsbPortAnswer a = s_.topology.Port(name_, static_cast<uint8_t>(port));
        out = UsbConnection{};
        out.connected = a.connected;
        out.isHub = a.isHub;
        std::copy_n(a.device.begin(), std::min<size_t>(a.device.size(), out.device.size()),
                    out.device.begin());
        return kErrorSuccess;
    }
    uint32_t ConnectionName(uint32_t port, std::string& name) override {
        emu::UsbPortAnswer a = s_.topology.Port(name_, static_cast<uint8_t>(port));
        if (!a.isHub) return kErrorGenFailure;
        name = a.hubName;
        return kErrorSuccess;
    }
    uint32_t DescriptorRequest(uint8_t* buffer, uint32_t size, uint32_t& returned) override {
        returned = 0;
        if (!buffer || size < 12 || buffer[4] != 0x80 || buffer[5] != 6) return kErrorGenFailure;
        const std::vector<uint8_t> reply = s_.topology.Descriptor(
            name_, static_cast<uint8_t>(Le32(buffer)), Le16(buffer + 6), Le16(buffer + 8), Le16(buffer + 10));
        if (reply.empty()) return kErrorGenFailure;
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(reply.size()), size - 12);
        std::copy_n(reply.begin(), n, buffer + 12);
        returned = 12 + n;
        return kErrorSuccess;
    }

private:
    State& s_;
    std::string name_;
};

class EmuController final : public UsbHostController {
public:
    EmuController(State& s, int n) : s_(s), n_(n) {}
    uint32_t DriverKeyName(std::string& name) override {
        name = s_.topology.ControllerDriverKey(n_);
        return kErrorSuccess;
    }
    uint32_t RootHubName(std::string& name) override {
        name = s_.topology.RootHubName(n_);
        return name.empty() ? kErrorGenFailure : kErrorSuccess;
    }

private:
    State& s_;
    int n_;
};

class EmuHubPort final : public UsbHubPort {
public:
    explicit EmuHubPort(State& s) : s_(s) {}
    std::unique_ptr<UsbHostController> OpenHostController(int n) override {
        // Each walk starts at controller 0: build the tree then, with the revisions the cameras
        // have now.
        if (n == 0) s_.BuildTopology();
        if (!s_.topologyOk || n < 0 || n >= s_.topology.ControllerCount()) return nullptr;
        return std::make_unique<EmuController>(s_, n);
    }
    uint32_t OpenHub(const std::string& name, std::unique_ptr<UsbHub>& out) override {
        if (!s_.topology.Hub(name)) return kErrorFileNotFound;
        out = std::make_unique<EmuHub>(s_, name);
        return kErrorSuccess;
    }

private:
    State& s_;
};

class EmuSleep final : public SleepPort {
public:
    explicit EmuSleep(State& s) : s_(s) {}
    void Sleep(uint32_t milliseconds) override {
        s_.Devices().Clock().Charge("host.sleep", 0, uint64_t{milliseconds} * 1000);
    }

private:
    State& s_;
};

class EmuTime final : public TimePort {
public:
    explicit EmuTime(State& s) : s_(s) {}
    uint64_t NowUs() override { return s_.Devices().Clock().NowUs(); }

private:
    State& s_;
};

}  // namespace

struct EmulatedPlatform::Adapters {
    EmuVideoPort video;
    EmuImagingPort imaging;
    EmuHubPort hubs;
    EmuSleep sleep;
    EmuTime time;
    explicit Adapters(State& s) : video(s), imaging(s), hubs(s), sleep(s), time(s) {}
};

EmulatedPlatform::EmulatedPlatform(cap::SharedBench& bench, kit::Trace& trace, kit::ProfileReader& profile,
                                   std::string settingFile)
    : state_(std::make_unique<State>(bench, trace)) {
    adapters_ = std::make_unique<Adapters>(*state_);
    platform_.video = &adapters_->video;
    platform_.imaging = &adapters_->imaging;
    platform_.hubs = &adapters_->hubs;
    platform_.sleep = &adapters_->sleep;
    platform_.time = &adapters_->time;
    platform_.trace = &trace;
    platform_.profile = &profile;
    platform_.settingFile = std::move(settingFile);
    state_->BuildTopology();
}

EmulatedPlatform::~EmulatedPlatform() = default;

namespace {

class FailedVideo final : public VideoDevicePort {
public:
    int32_t Open(std::unique_ptr<VideoDeviceList>&) override { return hr::kFail; }
};
class FailedImaging final : public ImagingDevicePort {
public:
    uint32_t OpenPresent(std::unique_ptr<ImagingDeviceList>&) override { return kErrorGenFailure; }
};
class NoHubs final : public UsbHubPort {
public:
    std::unique_ptr<UsbHostController> OpenHostController(int) override { return nullptr; }
    uint32_t OpenHub(const std::string&, std::unique_ptr<UsbHub>&) override { return kErrorFileNotFound; }
};
class NoSleep final : public SleepPort {
public:
    void Sleep(uint32_t) override {}
};

}  // namespace

Platform& FailedPlatform(kit::Trace& trace, kit::ProfileReader& profile) {
    static FailedVideo video;
    static FailedImaging imaging;
    static NoHubs hubs;
    static NoSleep sleep;
    static Platform p;
    p.video = &video;
    p.imaging = &imaging;
    p.hubs = &hubs;
    p.sleep = &sleep;
    p.trace = &trace;
    p.profile = &profile;
    return p;
}

}  // namespace camlib
