// RvcLib.dll as the write tool binds it: loaded by its plain name when a Realtek camera is looked
// for, every entry point looked up by name. A missing entry point is never called: its wrapper
// returns the value the tool takes in its place (0, or -1 for EEPROMInfo and EEPROMWrite3).
//
// Dialog thread only (identification, the Realtek download and destruction).
#pragma once

#include <array>
#include <cstdint>

#include "vendor/rvclib_binding.h"

namespace orlinde {

class RvcLibBinding : public vendor::RvcLibBinding {
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

    explicit RvcLibBinding(kit::LibraryPort& libraries)
        : vendor::RvcLibBinding(libraries, {kNames.begin(), kNames.end()}) {}

    // Releases any module held, loads the library by name and looks every name up.
    bool Load(const char* name) { return LoadByName(name); }
};

}  // namespace orlinde
