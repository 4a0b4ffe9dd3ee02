// Win32-only: the Win32 adapters of the library's device ports.
#pragma once

#include "camlib/ports.h"

namespace camlib::win32 {

class DirectShowDevices final : public VideoDevicePort {
public:
    int32_t Open(std::unique_ptr<VideoDeviceList>& out) override;
};

class SetupApiImaging final : public ImagingDevicePort {
public:
    uint32_t OpenPresent(std::unique_ptr<ImagingDeviceList>& out) override;
};

class HubDriver final : public UsbHubPort {
public:
    std::unique_ptr<UsbHostController> OpenHostController(int n) override;
    uint32_t OpenHub(const std::string& name, std::unique_ptr<UsbHub>& out) override;
};

}  // namespace camlib::win32
