#include "firmware_file.h"

#include <new>

#include "text_util.h"
#include "texts.h"

namespace tessaw {
namespace {

FirmwareLoad Failure(int code, std::string message) { return FirmwareLoad{false, code, std::move(message)}; }

}  // namespace

std::string SelectFirmwarePath(kit::FileSystemPort& files, const std::string& programDir,
                               const std::string& binName, ChipFamily family) {
    if (!binName.empty()) return programDir + "\\" + binName;
    const std::string pattern = programDir + (family == ChipFamily::Realtek ? "\\*.rfw" : "\\*.bin");
    for (const std::string& name : files.Matches(pattern.c_str())) {
        if (name == "." || name == "..") continue;
        return programDir + "\\" + name;
    }
    return {};
}

FirmwareLoad LoadFirmware(kit::FileSystemPort& files, kit::Trace& trace, ChipFamily family,
                          FirmwareImage& image) {
    const std::string& path = image.path;
    uint64_t size = 0;
    if (!files.Status(path.c_str(), size)) return Failure(kExitFwMissing, Format(kFwMissing, path.c_str()));
    std::unique_ptr<kit::ReadableFile> file = files.OpenRead(path.c_str());
    if (!file) return Failure(kExitFwOpenFailed, Format(kFwOpenFailed, path.c_str()));
    kit::TraceF(trace, kFwOpened, path.c_str());

    if (family == ChipFamily::Sonix) {
        const uint32_t length = static_cast<uint32_t>(file->Length());
        // The buffer follows the file: an update after a re-plug may bring a longer one. A file that
        // cannot be held or read whole is refused rather than flashed in part.
        try {
            image.sonix.assign(length, 0);
        } catch (const std::bad_alloc&) {
            image.sonix.clear();
            return Failure(kExitFwOpenFailed, Format(kFwOpenFailed, path.c_str()));
        }
        if (file->Read(image.sonix.data(), length) != length)
            return Failure(kExitFwOpenFailed, Format(kFwOpenFailed, path.c_str()));
        image.length = length;
    } else if (family == ChipFamily::Quelmar) {
        image.quelmar.assign(kQuelmarImageSize, kQuelmarFill);
        image.length = kQuelmarImageSize;
        image.quelmarBytesRead = file->Read(image.quelmar.data(), kQuelmarImageSize);
        // The flow erases the whole flash before it writes: a file that cannot hold even one
        // sector of firmware would leave the camera with nothing but fill, header and identity
        // block included, and the comparison of its few bytes would still pass.
        if (image.quelmarBytesRead < kQuelmarMinFileBytes)
            return Failure(kExitFwOpenFailed, Format(kFwTooShort, path.c_str(), image.quelmarBytesRead,
                                                     kQuelmarMinFileBytes));
    }
    return FirmwareLoad{true, 0, {}};
}

FirmwareLoad SelectAndLoadFirmware(kit::FileSystemPort& files, kit::Trace& trace,
                                   const std::string& programDir, const std::string& binName,
                                   ChipFamily family, FirmwareImage& image) {
    image.path = SelectFirmwarePath(files, programDir, binName, family);
    if (image.path.empty()) return Failure(kExitNoFwFile, kNoFwFile);
    return LoadFirmware(files, trace, family, image);
}

}  // namespace tessaw
