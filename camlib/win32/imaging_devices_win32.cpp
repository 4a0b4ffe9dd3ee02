// Win32-only: the present devices of the imaging class through SetupAPI and the configuration manager.
#include <windows.h>
// After windows.h:
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "camlib/win32/adapters_win32.h"
#include "kit/trace.h"

namespace camlib::win32 {
namespace {

// {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}
constexpr GUID kImagingClass = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
// A property never needs more; a driver that keeps asking for more is not believed.
constexpr DWORD kMaxPropertyBytes = 64 * 1024;

class WinImagingList final : public ImagingDeviceList {
public:
    explicit WinImagingList(HDEVINFO set) : set_(set) {}
    ~WinImagingList() override { SetupDiDestroyDeviceInfoList(set_); }
    WinImagingList(const WinImagingList&) = delete;
    WinImagingList& operator=(const WinImagingList&) = delete;

    uint32_t InstanceId(uint32_t index, std::string& out) override {
        SP_DEVINFO_DATA d;
        if (uint32_t e = Device(index, d)) return e;
        char id[260] = {};
        if (!SetupDiGetDeviceInstanceIdA(set_, &d, id, sizeof id, nullptr)) return GetLastError();
        out = id;
        return ERROR_SUCCESS;
    }
    uint32_t Address(uint32_t index, uint32_t& address) override {
        std::vector<BYTE> value;
        if (uint32_t e = Property(index, SPDRP_ADDRESS, value)) return e;
        if (value.empty()) return ERROR_INVALID_DATA;
        address = value[0];
        return ERROR_SUCCESS;
    }
    uint32_t HardwareIds(uint32_t index, std::vector<std::string>& ids) override {
        std::vector<BYTE> value;
        if (uint32_t e = Property(index, SPDRP_HARDWAREID, value)) return e;
        value.push_back(0);
        value.push_back(0);
        ids.clear();
        for (const char* s = reinterpret_cast<const char*>(value.data()); *s; s += std::strlen(s) + 1)
            ids.emplace_back(s);
        return ERROR_SUCCESS;
    }
    uint32_t GrandparentInstanceId(uint32_t index, std::string& out) override {
        SP_DEVINFO_DATA d;
        if (uint32_t e = Device(index, d)) return e;
        DEVINST parent = 0, grandparent = 0;
        if (CM_Get_Parent(&parent, d.DevInst, 0) != CR_SUCCESS ||
            CM_Get_Parent(&grandparent, parent, 0) != CR_SUCCESS)
            return ERROR_NOT_FOUND;
        char id[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_IDA(grandparent, id, sizeof id, 0) != CR_SUCCESS) return ERROR_NOT_FOUND;
        out = id;
        return ERROR_SUCCESS;
    }

private:
    uint32_t Device(uint32_t index, SP_DEVINFO_DATA& d) {
        d = SP_DEVINFO_DATA{};
        d.cbSize = sizeof d;
        return SetupDiEnumDeviceInfo(set_, index, &d) ? ERROR_SUCCESS : GetLastError();
    }
    // A registry property, asked first for its size and then read, growing the buffer only while
    // the system says it is too small.
    uint32_t Property(uint32_t index, DWORD property, std::vector<BYTE>& value) {
        SP_DEVINFO_DATA d;
        if (uint32_t e = Device(index, d)) return e;
        DWORD need = 0;
        value.clear();
        for (;;) {
            if (SetupDiGetDeviceRegistryPropertyA(set_, &d, property, nullptr,
                                                  value.empty() ? nullptr : value.data(),
                                                  static_cast<DWORD>(value.size()), &need)) {
                value.resize(std::min<DWORD>(need, static_cast<DWORD>(value.size())));
                return ERROR_SUCCESS;
            }
            const DWORD e = GetLastError();
            if (e != ERROR_INSUFFICIENT_BUFFER || need <= value.size() || need > kMaxPropertyBytes) return e;
            value.assign(need, 0);
        }
    }

    HDEVINFO set_;
};

}  // namespace

uint32_t SetupApiImaging::OpenPresent(std::unique_ptr<ImagingDeviceList>& out) {
    HDEVINFO set = SetupDiGetClassDevsA(&kImagingClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        kit::TraceWin32Error(kit::SystemTrace(), "SetupDiGetClassDevs(Image)", e);
        return e;
    }
    out = std::make_unique<WinImagingList>(set);
    return ERROR_SUCCESS;
}

}  // namespace camlib::win32
