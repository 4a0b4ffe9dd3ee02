// Win32-only: host controllers and hubs through the USB hub driver's device requests.
#include <windows.h>
// After windows.h:
#include <usbioctl.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "camlib/win32/adapters_win32.h"
#include "kit/trace.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_util.h"

namespace camlib::win32 {
namespace {

using kit::FileHandle;
using kit::ToAnsi;

HANDLE OpenForRequests(const std::string& device) {
    return CreateFileA(device.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

uint32_t Request(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned = nullptr) {
    DWORD n = 0;
    if (!DeviceIoControl(h, code, in, inSize, out, outSize, &n, nullptr)) {
        const DWORD e = GetLastError();
        char what[48];
        std::snprintf(what, sizeof what, "DeviceIoControl(0x%08lX)", static_cast<unsigned long>(code));
        kit::TraceWin32Error(kit::SystemTrace(), what, e);
        return e;
    }
    if (returned) *returned = n;
    return ERROR_SUCCESS;
}

// The name requests answer with a fixed head and a UTF-16 name whose full size the first, short
// answer tells. `Head` is the request record; its name starts at `nameOffset`.
template <typename Head>
uint32_t NameRequest(HANDLE h, DWORD code, Head head, size_t nameOffset, std::string& name) {
    Head first = head;
    if (uint32_t e = Request(h, code, &first, sizeof first, &first, sizeof first)) return e;
    const DWORD size = first.ActualLength;
    if (size < sizeof(Head) || size > 64 * 1024) return ERROR_INVALID_DATA;
    std::vector<BYTE> buffer(size, 0);
    std::memcpy(buffer.data(), &head, sizeof head);
    if (uint32_t e = Request(h, code, buffer.data(), size, buffer.data(), size)) return e;
    const size_t chars = (size - nameOffset) / sizeof(WCHAR);
    std::vector<wchar_t> text(chars + 1, L'\0');
    std::memcpy(text.data(), buffer.data() + nameOffset, chars * sizeof(WCHAR));
    name = ToAnsi(text.data());
    return ERROR_SUCCESS;
}

class WinHub final : public UsbHub {
public:
    explicit WinHub(HANDLE h) : h_(h) {}
    uint32_t PortCount(uint8_t& ports) override {
        USB_NODE_INFORMATION info{};
        if (uint32_t e =
                Request(h_.Get(), IOCTL_USB_GET_NODE_INFORMATION, &info, sizeof info, &info, sizeof info))
            return e;
        ports = info.u.HubInformation.HubDescriptor.bNumberOfPorts;
        return ERROR_SUCCESS;
    }
    uint32_t Connection(uint32_t port, UsbConnection& out) override {
        // Room for the open pipes the driver lists after the record.
        std::vector<BYTE> buffer(sizeof(USB_NODE_CONNECTION_INFORMATION) + 30 * sizeof(USB_PIPE_INFO), 0);
        auto* info = reinterpret_cast<USB_NODE_CONNECTION_INFORMATION*>(buffer.data());
        info->ConnectionIndex = port;
        const DWORD size = static_cast<DWORD>(buffer.size());
        if (uint32_t e = Request(h_.Get(), IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, info, size, info, size))
            return e;
        out = UsbConnection{};
        out.connected = info->ConnectionStatus == DeviceConnected;
        out.isHub = info->DeviceIsHub != FALSE;
        static_assert(sizeof(info->DeviceDescriptor) == 18, "device descriptor");
        std::memcpy(out.device.data(), &info->DeviceDescriptor, 18);
        return ERROR_SUCCESS;
    }
    uint32_t ConnectionName(uint32_t port, std::string& name) override {
        USB_NODE_CONNECTION_NAME head{};
        head.ConnectionIndex = port;
        return NameRequest(h_.Get(), IOCTL_USB_GET_NODE_CONNECTION_NAME, head,
                           offsetof(USB_NODE_CONNECTION_NAME, NodeName), name);
    }
    uint32_t DescriptorRequest(uint8_t* buffer, uint32_t size, uint32_t& returned) override {
        DWORD n = 0;
        uint32_t e =
            Request(h_.Get(), IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, buffer, size, buffer, size, &n);
        returned = n;
        return e;
    }

private:
    FileHandle h_;
};

class WinController final : public UsbHostController {
public:
    explicit WinController(HANDLE h) : h_(h) {}
    uint32_t DriverKeyName(std::string& name) override {
        return NameRequest(h_.Get(), IOCTL_GET_HCD_DRIVERKEY_NAME, USB_HCD_DRIVERKEY_NAME{},
                           offsetof(USB_HCD_DRIVERKEY_NAME, DriverKeyName), name);
    }
    uint32_t RootHubName(std::string& name) override {
        return NameRequest(h_.Get(), IOCTL_USB_GET_ROOT_HUB_NAME, USB_ROOT_HUB_NAME{},
                           offsetof(USB_ROOT_HUB_NAME, RootHubName), name);
    }

private:
    FileHandle h_;
};

}  // namespace

std::unique_ptr<UsbHostController> HubDriver::OpenHostController(int n) {
    HANDLE h = OpenForRequests("\\\\.\\HCD" + std::to_string(n));
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WinController>(h);
}

uint32_t HubDriver::OpenHub(const std::string& name, std::unique_ptr<UsbHub>& out) {
    HANDLE h = OpenForRequests("\\\\.\\" + name);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        kit::TraceWin32Error(kit::SystemTrace(), ("CreateFile(" + name + ")").c_str(), e);
        return e;
    }
    out = std::make_unique<WinHub>(h);
    return ERROR_SUCCESS;
}

}  // namespace camlib::win32
