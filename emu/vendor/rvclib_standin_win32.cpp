// Win32-only: the RvcLib.dll stand-in. Every export hands its call to the Realtek model of the
// bench named by CAMKIT_BENCH; without a usable bench the library has no camera.
#include <windows.h>

#include <memory>

#include "emu/vendor/library_keys.h"
#include "emu/vendor/realtek_model.h"
#include "emu/vendor/standin_win32.h"
#include "vendor/RvcLib.h"

namespace {

using emu::vendor::RealtekLibrary;

constexpr const char* kLibrary = "RvcLib.dll";

std::unique_ptr<RealtekLibrary> g_library;

RealtekLibrary& Library() { return *g_library; }

// Nothing thrown inside may cross the export boundary.
template <class F>
int32_t Guarded(F&& call) {
    try {
        return call();
    } catch (...) {
        return emu::vendor::kRvcFailed;
    }
}

void Attach(HMODULE module) {
    g_library = std::make_unique<RealtekLibrary>();
    emu::Bench bench;
    if (!emu::vendor::OpenStandInBench(kLibrary, bench)) return;
    std::unique_ptr<RealtekLibrary> library;
    std::vector<std::string> missing;
    std::string error;
    if (!emu::vendor::ReadMissingEntries(bench, "rvclib", emu::vendor::RvcLibEntries(), missing, error) ||
        !RealtekLibrary::FromBench(bench, library, error)) {
        emu::vendor::TraceStandInTrouble(kLibrary, "bench cannot be used: " + error);
        return;
    }
    g_library = std::move(library);
    if (!missing.empty() && !emu::vendor::HideExports(module, missing, error))
        emu::vendor::TraceStandInTrouble(kLibrary, "rvclib_missing cannot be applied: " + error);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        try {
            Attach(module);
        } catch (...) {
            return FALSE;
        }
    }
    return TRUE;
}

extern "C" {

int32_t RVCLIB_CALL RvcLib_Initialize(int32_t reserved, int32_t mode) {
    return Guarded([&] { return Library().Initialize(reserved, mode); });
}

int32_t RVCLIB_CALL RvcLib_UnInitialize(int32_t mode) {
    return Guarded([&] { return Library().UnInitialize(mode); });
}

RvcHandle RVCLIB_CALL UVC_Open(int32_t index) {
    try {
        return Library().Open(index);
    } catch (...) {
        return 0;
    }
}

int32_t RVCLIB_CALL UVC_Close(RvcHandle handle) {
    return Guarded([&] { return Library().Close(handle); });
}

int32_t RVCLIB_CALL UVC_GetDevVIDPID(RvcHandle handle, uint16_t* vid, uint16_t* pid) {
    return Guarded([&] { return Library().GetVidPid(handle, vid, pid); });
}

int32_t RVCLIB_CALL UVC_GetDevVIDPIDRev(RvcHandle handle, uint16_t* vid, uint16_t* pid, uint16_t* rev) {
    return Guarded([&] { return Library().GetVidPidRev(handle, vid, pid, rev); });
}

int32_t RVCLIB_CALL EEPROMInfo(int32_t index, int32_t* memoryType, int32_t* size) {
    return Guarded([&] { return Library().EepromInfo("EEPROMInfo", index, memoryType, size); });
}

int32_t RVCLIB_CALL EEPROMInfo2(int32_t index, int32_t* memoryType, int32_t* size) {
    return Guarded([&] { return Library().EepromInfo("EEPROMInfo2", index, memoryType, size); });
}

// With callback_thread=worker the calling thread is parked here, pumping no messages, while the
// callbacks run on the model's own thread: see realtek_model.h for which callers may use that mode.
int32_t RVCLIB_CALL EEPROMWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                                 RvcProgressCallback progress) {
    return Guarded([&] {
        RealtekLibrary::Progress report;
        if (progress) report = [progress](uint32_t done, uint32_t total) { progress(done, total); };
        return Library().EepromWrite3(memoryType, index, size, image, report);
    });
}

int32_t RVCLIB_CALL ReadSensorRegister8(RvcHandle handle, uint32_t address, uint32_t* value) {
    return Guarded([&] { return Library().ReadSensor(8, handle, address, value); });
}

int32_t RVCLIB_CALL WriteSensorRegister8(RvcHandle handle, uint32_t address, uint32_t value) {
    return Guarded([&] { return Library().WriteSensor(8, handle, address, value); });
}

int32_t RVCLIB_CALL ReadSensorRegister16(RvcHandle handle, uint32_t address, uint32_t* value) {
    return Guarded([&] { return Library().ReadSensor(16, handle, address, value); });
}

int32_t RVCLIB_CALL WriteSensorRegister16(RvcHandle handle, uint32_t address, uint32_t value) {
    return Guarded([&] { return Library().WriteSensor(16, handle, address, value); });
}

int32_t RVCLIB_CALL EEPROMWrite(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image) {
    return Guarded([&] { return Library().EepromWrite(memoryType, index, size, image); });
}

int32_t RVCLIB_CALL EEPROMRead(int32_t memoryType, int32_t index, int32_t size, uint8_t* out) {
    return Guarded([&] { return Library().EepromRead(memoryType, index, size, out); });
}

int32_t RVCLIB_CALL EEPROMErase(int32_t memoryType, int32_t index) {
    return Guarded([&] { return Library().EepromErase(memoryType, index); });
}

int32_t RVCLIB_CALL UVC_ResetToRom(RvcHandle handle) {
    return Guarded([&] { return Library().Reset("UVC_ResetToRom", handle); });
}

int32_t RVCLIB_CALL UVC_ResetToDLFW(RvcHandle handle) {
    return Guarded([&] { return Library().Reset("UVC_ResetToDLFW", handle); });
}

}  // extern "C"
