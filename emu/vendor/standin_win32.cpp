// Win32-only: bench opening, trace lines and export hiding shared by the vendor-library stand-ins.
#include "emu/vendor/standin_win32.h"

#include <algorithm>
#include <optional>

#include "kit/trace.h"

namespace emu::vendor {

void TraceStandInTrouble(const char* library, const std::string& what) {
    kit::TraceF(kit::SystemTrace(), "%s (emulated): %s: no camera\n", library, what.c_str());
}

bool OpenStandInBench(const char* library, Bench& bench) {
    std::optional<std::string> folder = BenchFolderFromEnvironment();
    if (!folder) {
        TraceStandInTrouble(library, std::string(kBenchEnvVar) + " is not set");
        return false;
    }
    TraceBenchInUse(kit::SystemTrace(), *folder);
    std::string error;
    if (!LoadBench(*folder, bench, error)) {
        TraceStandInTrouble(library, "bench cannot be used: " + error);
        return false;
    }
    return true;
}

namespace {

// Makes [start, start + size) writable for the lifetime of the object.
class Writable {
public:
    Writable(void* start, size_t size) : start_(start), size_(size) {
        ok_ = VirtualProtect(start_, size_, PAGE_READWRITE, &old_) != FALSE;
    }
    ~Writable() {
        DWORD ignored;
        if (ok_) VirtualProtect(start_, size_, old_, &ignored);
    }
    bool ok() const { return ok_; }

private:
    void* start_;
    size_t size_;
    DWORD old_ = 0;
    bool ok_ = false;
};

}  // namespace

bool HideExports(HMODULE module, const std::vector<std::string>& names, std::string& error) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        error = "no DOS header";
        return false;
    }
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) {
        error = "no PE header";
        return false;
    }
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0) {
        error = "no export directory";
        return false;
    }
    auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* nameRvas = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
    const DWORD count = exports->NumberOfNames;
    Writable header(exports, sizeof *exports);
    Writable nameTable(nameRvas, count * sizeof(DWORD));
    Writable ordinalTable(ordinals, count * sizeof(WORD));
    if (!header.ok() || !nameTable.ok() || !ordinalTable.ok()) {
        error = "export table cannot be made writable (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD kept = 0;
    for (DWORD i = 0; i < count; ++i) {
        const char* name = reinterpret_cast<const char*>(base + nameRvas[i]);
        if (std::find(names.begin(), names.end(), name) != names.end()) continue;
        nameRvas[kept] = nameRvas[i];
        ordinals[kept] = ordinals[i];
        ++kept;
    }
    exports->NumberOfNames = kept;
    return true;
}

}  // namespace emu::vendor
