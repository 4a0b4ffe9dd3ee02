// The host platform of builds without Windows: no camera is reachable except through a bench.
#include <chrono>
#include <thread>

#include "camlib/host_platform.h"
#include "camlib/transport.h"

namespace camlib {
namespace {

class NoVideo final : public VideoDevicePort {
public:
    int32_t Open(std::unique_ptr<VideoDeviceList>&) override { return hr::kFalse; }
};

class NoImagingDevices final : public ImagingDeviceList {
public:
    uint32_t InstanceId(uint32_t, std::string&) override { return kErrorNoMoreItems; }
    uint32_t Address(uint32_t, uint32_t&) override { return kErrorNoMoreItems; }
    uint32_t HardwareIds(uint32_t, std::vector<std::string>&) override { return kErrorNoMoreItems; }
    uint32_t GrandparentInstanceId(uint32_t, std::string&) override { return kErrorNoMoreItems; }
};

class NoImaging final : public ImagingDevicePort {
public:
    uint32_t OpenPresent(std::unique_ptr<ImagingDeviceList>& out) override {
        out = std::make_unique<NoImagingDevices>();
        return kErrorSuccess;
    }
};

class NoHubs final : public UsbHubPort {
public:
    std::unique_ptr<UsbHostController> OpenHostController(int) override { return nullptr; }
    uint32_t OpenHub(const std::string&, std::unique_ptr<UsbHub>&) override { return 2; }
};

class ThreadSleep final : public SleepPort {
public:
    void Sleep(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

}  // namespace

Platform& HostPlatform() {
    static NoVideo video;
    static NoImaging imaging;
    static NoHubs hubs;
    static ThreadSleep sleep;
    static Platform p{&video,       &imaging, &hubs, &sleep, &kit::SystemTrace(), &kit::SystemProfile(),
                      "setting.ini", nullptr, nullptr, "native"};
    return p;
}

}  // namespace camlib
