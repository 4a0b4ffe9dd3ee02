// RvcLib.dll as the write tool binds it: loaded by its plain name when a Realtek camera is looked
// for, every entry point looked up by name. A missing entry point is never called: its wrapper
// returns the value the tool takes in its place (0, or -1 for EEPROMInfo and EEPROMWrite3).
//
// Dialog thread only (identification, the Realtek download and destruction).
#pragma once

#include <array>
#include <cstdint>

#include "kit/library_loader.h"
#include "vendor/RvcLib.h"

namespace orlinde {

class RvcLibBinding {
public:
    // Every name the tool looks up, in lookup order; the tool calls only some of them.
    static constexpr std::array<const char*, 17> kNames = {"RvcLib_Initialize",
                                                           "RvcLib_UnInitialize",
                                                           "UVC_Open",
                                                           "UVC_Close",
                                                           "UVC_GetDevVIDPIDRev",
                                                           "EEPROMWrite3",
                                                           "ReadSensorRegister8",
                                                           "WriteSensorRegister8",
                                                           "ReadSensorRegister16",
                                                           "WriteSensorRegister16",
                                                           "EEPROMWrite",
                                                           "EEPROMRead",
                                                           "EEPROMErase",
                                                           "EEPROMInfo",
                                                           "EEPROMInfo2",
                                                           "UVC_ResetToRom",
                                                           "UVC_ResetToDLFW"};
    static constexpr int32_t kMissingFailure = -1;

    explicit RvcLibBinding(kit::LibraryPort& libraries) : libraries_(libraries) {}
    ~RvcLibBinding() { Unload(); }
    RvcLibBinding(const RvcLibBinding&) = delete;
    RvcLibBinding& operator=(const RvcLibBinding&) = delete;

    // Releases any module held, loads the library by name and looks every name up.
    bool Load(const char* name);
    // Releases the module and clears every entry point.
    void Unload();
    bool Loaded() const { return module_ != nullptr; }
    bool Has(const char* name) const { return Find(name) != nullptr; }

    int32_t Initialize(int32_t reserved, int32_t mode) const;
    int32_t UnInitialize(int32_t mode) const;
    RvcHandle Open(int32_t index) const;
    int32_t Close(RvcHandle handle) const;
    int32_t GetDevVidPidRev(RvcHandle handle, uint16_t* vid, uint16_t* pid, uint16_t* rev) const;
    int32_t EepromInfo(int32_t index, int32_t* memoryType, int32_t* size) const;
    int32_t EepromWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                         RvcProgressCallback progress) const;

private:
    kit::EntryPoint Find(const char* name) const;
    template <typename Fn>
    Fn As(const char* name) const {
        return reinterpret_cast<Fn>(Find(name));
    }

    kit::LibraryPort& libraries_;
    void* module_ = nullptr;
    std::array<kit::EntryPoint, kNames.size()> entries_{};
};

}  // namespace orlinde
