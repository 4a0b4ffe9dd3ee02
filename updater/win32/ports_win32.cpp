// Win32-only: the updater's own ports over SetupAPI, the power status, the thread API and the
// imported BurnerApLib.dll (the generic adapters are platform/win32/adapters_win32.h).
#include "ports_win32.h"

#include <objbase.h>
#include <process.h>
#include <setupapi.h>

#include <memory>
#include <vector>

#include "kit/trace.h"
#include "platform/win32/handles.h"
#include "vendor/BurnerApLib.h"
#include "vendor/burnerap_loading.h"

namespace tw32 {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE.
const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// The first string of the hardware-ID property; empty when the device has none that can be read.
std::string FirstHardwareId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD needed = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return {};
    // Twice what the system asks for: the property may grow between the two reads.
    std::vector<char> buffer(2 * static_cast<size_t>(needed) + 2, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(buffer.data()), 2 * needed, nullptr))
        return {};
    return std::string(buffer.data());
}

unsigned __stdcall RunBody(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    // The Realtek flow builds a DirectShow graph on this thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    kit::TraceHresult(kit::SystemTrace(), "CoInitializeEx", com);
    (*body)();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool SetupApiUsbDevices::ListPresent(std::vector<kit::UsbDevice>& out) {
    out.clear();
    kit::DevInfoList set(
        SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) return false;
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set.Get(), i, &device)) break;  // ERROR_NO_MORE_ITEMS ends the list
        out.push_back({FirstHardwareId(set.Get(), device)});
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

bool BelowNormalThreads::StartBelowNormal(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    // _beginthreadex rather than CreateThread: the body uses the C runtime.
    kit::KernelHandle thread(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, RunBody, owned.get(), CREATE_SUSPENDED, nullptr)));
    if (!thread) return false;
    // A thread that keeps normal priority still updates correctly; nothing to refuse over.
    SetThreadPriority(thread.Get(), THREAD_PRIORITY_BELOW_NORMAL);
    if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        // It never ran: the body is still ours to free.
        TerminateThread(thread.Get(), 1);
        return false;
    }
    owned.release();
    return true;
}

// ---------------------------------------------------------------------------------------------

bool ImportedSonixLibrary::Bind(std::string& missingEntry) {
    return vendor::BindBurnerApLib(&missingEntry) == vendor::BurnerApBind::Bound;
}

int ImportedSonixLibrary::InitializeDriverInterface() { return Initialize_DriverInterface(); }

bool ImportedSonixLibrary::GetRomVersion(char* version16) { return ::GetRomVersion(version16); }

bool ImportedSonixLibrary::ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) {
    return ::ReqToDriver(request, address, buffer, length);
}

bool ImportedSonixLibrary::SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) {
    return ::SetWriteProtect(enable, word, byte);
}

bool ImportedSonixLibrary::EraseSF() { return ::EraseSF(); }

int ImportedSonixLibrary::ResetDevice() { return ::ResetDevice(); }

kit::PowerStatus Win32Power::Read() {
    // ACLineStatus: 0 offline, 1 online, 255 unknown. BatteryFlag is a mask whose bit 128 means
    // no system battery (255, all bits, is unknown). BatteryLifePercent 255: unknown.
    SYSTEM_POWER_STATUS power{};
    kit::PowerStatus out;
    if (!GetSystemPowerStatus(&power)) return out;
    if (power.ACLineStatus == 1) {
        out.source = kit::PowerSource::Mains;
    } else if (power.ACLineStatus == 0 && !(power.BatteryFlag & 128)) {
        out.source = kit::PowerSource::Battery;
        if (power.BatteryLifePercent <= 100) out.percent = power.BatteryLifePercent;
    }
    return out;
}

}  // namespace tw32
