// Win32-only: capture_standin, which registers the capture-filter stand-in for a bench so that
// DirectShow lists the bench's cameras as video-input devices (what it writes: registration.h).
//
//   capture_standin register <bench folder>   replaces any earlier registration
//   capture_standin unregister
//
// CaptureStandIn.dll must sit beside the tool. Writing below HKEY_CLASSES_ROOT needs an
// administrator on Windows.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emu/bench.h"
#include "emu/capture_filter/registration.h"
#include "platform/win32/handles.h"

namespace {

using emu::capture::RegistryValue;

std::string ErrorText(LONG code) { return "error " + std::to_string(code); }

// Removes our Instance entries and the class key; entries that are not there are no error.
bool Unregister(std::string& error) {
    const std::string instances = emu::capture::InstancesKey();
    std::vector<std::string> ours;
    {
        HKEY opened = nullptr;
        LONG rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, instances.c_str(), 0, KEY_READ, &opened);
        const kit::RegKey key(rc == ERROR_SUCCESS ? opened : nullptr);
        if (rc == ERROR_SUCCESS) {
            const std::string prefix = emu::capture::kInstancePrefix;
            for (DWORD i = 0;; ++i) {
                char name[256];
                DWORD length = sizeof name;
                rc = RegEnumKeyExA(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
                if (rc == ERROR_NO_MORE_ITEMS) break;
                if (rc != ERROR_SUCCESS) {
                    error = "cannot list " + instances + ": " + ErrorText(rc);
                    return false;
                }
                if (std::string(name, length).rfind(prefix, 0) == 0) ours.emplace_back(name, length);
            }
        } else if (rc != ERROR_FILE_NOT_FOUND) {
            error = "cannot open " + instances + ": " + ErrorText(rc);
            return false;
        }
    }
    for (const std::string& name : ours) {
        const std::string key = instances + "\\" + name;
        LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            error = "cannot delete " + key + ": " + ErrorText(rc);
            return false;
        }
    }
    const std::string cls = emu::capture::ClassKey();
    LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, cls.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        error = "cannot delete " + cls + ": " + ErrorText(rc);
        return false;
    }
    return true;
}

bool Write(const RegistryValue& value, std::string& error) {
    HKEY created = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &created, nullptr);
    const kit::RegKey key(rc == ERROR_SUCCESS ? created : nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueExA(key.Get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.data.c_str()),
                            static_cast<DWORD>(value.data.size() + 1));
    if (rc != ERROR_SUCCESS) {
        error = "cannot write " + value.key + "\\" + value.name + ": " + ErrorText(rc);
        return false;
    }
    return true;
}

std::string FullPath(const std::string& path) {
    DWORD n = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::string out(n, '\0');
    n = GetFullPathNameA(path.c_str(), n, out.data(), nullptr);
    if (n == 0 || n >= out.size()) return path;
    out.resize(n);
    while (out.size() > 3 && (out.back() == '\\' || out.back() == '/')) out.pop_back();
    return out;
}

// The stand-in DLL beside this program.
bool StandInDllPath(std::string& path, std::string& error) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        error = "cannot find this program's folder";
        return false;
    }
    path.assign(self, n);
    path = path.substr(0, path.find_last_of("\\/") + 1) + emu::capture::kStandInDll;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = path + " is missing";
        return false;
    }
    return true;
}

int Register(const std::string& folderArgument) {
    std::string error, dll;
    if (!StandInDllPath(dll, error)) {
        std::fprintf(stderr, "capture_standin: %s\n", error.c_str());
        return 1;
    }
    const std::string folder = FullPath(folderArgument);
    emu::Bench bench;
    if (!emu::LoadBench(folder, bench, error)) {
        std::fprintf(stderr, "capture_standin: %s\n", error.c_str());
        return 1;
    }
    if (!Unregister(error)) {
        std::fprintf(stderr, "capture_standin: %s\n", error.c_str());
        return 1;
    }
    emu::BenchDevices devices;
    devices.WriteSummaryOnClose(false);
    if (!devices.Open(bench, error)) {
        std::fprintf(stderr, "capture_standin: %s\n", error.c_str());
        return 1;
    }
    for (const RegistryValue& value : emu::capture::RegistrationPlan(bench, folder, dll, &devices)) {
        if (!Write(value, error)) {
            std::fprintf(stderr, "capture_standin: %s\n", error.c_str());
            return 1;
        }
    }
    unsigned present = 0;
    for (const emu::CameraRecord& camera : bench.cameras) present += devices.Present(camera) ? 1 : 0;
    std::printf("registered %u camera(s) of the bench %s as video-input devices served by %s\n", present,
                folder.c_str(), dll.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "register" && argc == 3) return Register(argv[2]);
    if (command == "unregister" && argc == 2) {
        std::string error;
        if (!Unregister(error)) {
            std::fprintf(stderr, "capture_standin: %s\n", error.c_str());
            return 1;
        }
        std::printf("unregistered the capture-filter stand-in\n");
        return 0;
    }
    std::fprintf(stderr,
                 "usage: capture_standin register <bench folder>\n"
                 "       capture_standin unregister\n");
    return 2;
}
