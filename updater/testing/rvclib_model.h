// RvcLib.dll's exports, for the updater's binding, answered by the bench's Realtek model.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "emu/vendor/realtek_model.h"
#include "kit/library_loader.h"
#include "vendor/RvcLib.h"

namespace twfakes {

// RvcLib.dll's exports over one model. The hooks let a test act inside EEPROMWrite3.
struct RvcModel {
    static inline emu::vendor::RealtekLibrary* lib = nullptr;
    static inline std::function<void(RvcProgressCallback)> duringWrite;
    static inline std::function<void()> afterWrite;
    static inline int writes = 0;

    static int32_t Initialize(int32_t reserved, int32_t mode) { return lib->Initialize(reserved, mode); }
    static int32_t UnInitialize(int32_t mode) { return lib->UnInitialize(mode); }
    static RvcHandle Open(int32_t index) { return lib->Open(index); }
    static int32_t Close(RvcHandle handle) { return lib->Close(handle); }
    static int32_t VidPid(RvcHandle handle, uint16_t* vid, uint16_t* pid) { return lib->GetVidPid(handle, vid, pid); }
    static int32_t Info2(int32_t index, int32_t* type, int32_t* size) {
        return lib->EepromInfo("EEPROMInfo2", index, type, size);
    }
    static int32_t Write3(int32_t type, int32_t index, int32_t size, const uint8_t* image, RvcProgressCallback cb) {
        ++writes;
        if (duringWrite) duringWrite(cb);
        emu::vendor::RealtekLibrary::Progress progress = [cb](uint32_t done, uint32_t total) { cb(done, total); };
        int32_t result = lib->EepromWrite3(type, index, size, image, progress);
        if (afterWrite) afterWrite();
        return result;
    }

    static std::map<std::string, kit::EntryPoint> Exports() {
        auto e = [](auto fn) { return reinterpret_cast<kit::EntryPoint>(fn); };
        return {{"RvcLib_Initialize", e(&Initialize)}, {"RvcLib_UnInitialize", e(&UnInitialize)},
                {"UVC_Open", e(&Open)},                {"UVC_Close", e(&Close)},
                {"UVC_GetDevVIDPID", e(&VidPid)},      {"EEPROMInfo2", e(&Info2)},
                {"EEPROMWrite3", e(&Write3)}};
    }
};

}  // namespace twfakes
