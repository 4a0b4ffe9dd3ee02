// Win32-only: SubSystemID.exe. Finds the subsystem ID of the PCI host bridge through SetupAPI (or,
// with CAMKIT_BENCH set, asks the bench) and writes .\ID_Log.ini. A GUI-subsystem program without
// a window, so that nothing flashes on the screen while the updater starts it.
#include <windows.h>
// After windows.h:
#include <setupapi.h>

#include <optional>
#include <string>
#include <vector>

#include "emu/bench.h"
#include "platform/win32/dll_search.h"
#include "kit/trace.h"
#include "bench_subsystem_id.h"
#include "subsystem_id.h"
#include "platform/win32/handles.h"

namespace {

// A REG_MULTI_SZ device property as its strings; empty when the device has none.
std::vector<std::string> MultiString(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD needed = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return {};
    std::vector<char> buffer(needed + 2, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer.data()), needed, nullptr))
        return {};
    std::vector<std::string> out;
    for (const char* p = buffer.data(); *p; p += std::string(p).size() + 1) out.emplace_back(p);
    return out;
}

std::vector<subsysid::PciDevice> PresentPciDevices(std::string& error) {
    std::vector<subsysid::PciDevice> devices;
    kit::DevInfoList set(SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    if (!set) {
        error = "PCI devices cannot be listed (error " + std::to_string(GetLastError()) + ")";
        return devices;
    }
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set.Get(), i, &device)) {
            if (GetLastError() != ERROR_NO_MORE_ITEMS)
                error = "PCI device " + std::to_string(i) + " cannot be read (error " +
                        std::to_string(GetLastError()) + ")";
            break;
        }
        devices.push_back({MultiString(set.Get(), device, SPDRP_HARDWAREID),
                           MultiString(set.Get(), device, SPDRP_COMPATIBLEIDS)});
    }
    return devices;
}

// Writes through a temporary file and a rename: the updater reads the file as soon as it exists.
bool WriteIdLog(const std::string& text, std::string& error) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(subsysid::kIdLogName, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) {
        error = "the current directory's path is too long";
        return false;
    }
    const std::string target = full;
    const std::string temporary = target + ".tmp";
    bool written = false;
    {
        kit::FileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = temporary + " cannot be created (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        DWORD count = 0;
        written = WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &count, nullptr) &&
                  count == text.size();
        if (!written) error = temporary + " cannot be written (error " + std::to_string(GetLastError()) + ")";
    }
    if (!written) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    if (!MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = target + " cannot be replaced (error " + std::to_string(GetLastError()) + ")";
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

int Fail(int code, const std::string& why) {
    kit::TraceF(kit::SystemTrace(), "SubSystemID: %s\n", why.c_str());
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // SetupAPI loads helpers of its own: never from the current folder.
    kit::UseSafeDllSearch();
    std::string id, source, error;
    if (std::optional<std::string> folder = emu::BenchFolderFromEnvironment()) {
        emu::TraceBenchInUse(kit::SystemTrace(), *folder);
        emu::Bench bench;
        if (!emu::LoadBench(*folder, bench, error))
            return Fail(subsysid::kExitNotFound, "emulated bench cannot be used: " + error);
        if (!subsysid::BenchSubsystemId(bench, id, error)) return Fail(subsysid::kExitNotFound, error);
        source = "emulated bench: " + *folder;
    } else {
        std::vector<subsysid::PciDevice> devices = PresentPciDevices(error);
        id = subsysid::FindSubsystemId(devices, source);
        if (id.empty() && !error.empty()) return Fail(subsysid::kExitNotFound, error);
    }
    if (id.empty()) return Fail(subsysid::kExitNotFound, "no PCI host bridge with a subsystem ID");
    if (!WriteIdLog(subsysid::IdLogText(id, source), error)) return Fail(subsysid::kExitNotWritten, error);
    kit::TraceF(kit::SystemTrace(), "SubSystemID: SYSID=%s from %s\n", id.c_str(), source.c_str());
    return subsysid::kExitWritten;
}
