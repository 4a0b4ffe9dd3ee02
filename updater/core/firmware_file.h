// Firmware file selection and loading: which file in the program directory belongs to the camera,
// and its bytes in the form the camera's chip family needs.
#pragma once

#include <string>

#include "kit/file_system.h"
#include "kit/trace.h"
#include "model.h"

namespace tessaw {

struct FirmwareLoad {
    bool ok = false;
    int exitCode = 0;     // 25, 32 or 33 when !ok
    std::string message;  // the failure message, formatted
};

// The firmware path: the bin name in the program directory, or, without one, the first "*.rfw"
// (Realtek) or "*.bin" (every other family) that the directory enumeration returns. Empty when
// nothing was found.
std::string SelectFirmwarePath(kit::FileSystemPort& files, const std::string& programDir,
                               const std::string& binName, ChipFamily family);

// Loads the file at image.path for `family`. Sonix: the whole file; Quelmar: the first 65,536 bytes
// into an image of exactly that size, the rest filled with kQuelmarFill, refusing a file shorter than
// kQuelmarMinFileBytes (exit code 33); Realtek and None: opened and closed only.
FirmwareLoad LoadFirmware(kit::FileSystemPort& files, kit::Trace& trace, ChipFamily family,
                          FirmwareImage& image);

// Both steps; on failure `image.path` holds what was tried.
FirmwareLoad SelectAndLoadFirmware(kit::FileSystemPort& files, kit::Trace& trace,
                                   const std::string& programDir, const std::string& binName,
                                   ChipFamily family, FirmwareImage& image);

inline constexpr int kExitNoFwFile = 25;
inline constexpr int kExitFwMissing = 32;
// Also a Quelmar file too short to be written (the file is there and opens, but cannot be used).
inline constexpr int kExitFwOpenFailed = 33;

}  // namespace tessaw
