// Kestrim: finds a video-capture device of the module maker and starts the update program that the
// ID list "Brevant_camera_ID.txt" assigns to its vendor and product ID. The behaviour lives here,
// over the ports of ports.h, so that native tests drive it with scripted devices, lists and processes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "ports.h"

namespace kestrim {

inline constexpr const char* kBanner = "Brevant FW matching tool version 12.11.01";
inline constexpr const char* kBannerFormat = "%s\r\n";
inline constexpr const char* kErrorParameter = "Error parameter\r\n";
inline constexpr const char* kErrorVidFormat = "Error VID format!\r\n";
inline constexpr const char* kNullVid = "Found a NULL VID\r\n";
inline constexpr const char* kNullPid = "Found a NULL PID\r\n";
inline constexpr const char* kFoundSource = "Found source: VID_%s, PID_%s\r\n";
inline constexpr const char* kCantLoadList = "Can't load Brevant ID list!!\r\n";
inline constexpr const char* kCantOpen = "!!! can't open %s !!!\r\n";
inline constexpr const char* kStarted = "Start update process\r\n";
inline constexpr const char* kUnableToStart = "Unable to start update process\r\nPress any key to close\r\n";
// Lines the list format cannot hold are refused rather than cut.
inline constexpr const char* kLineTooLong = "!!! ID list line %u is longer than 127 characters, skipped !!!\r\n";

inline constexpr const char* kVendorId = "3b1d";
inline constexpr const char* kListFile = "Brevant_camera_ID.txt";
inline constexpr size_t kMaxParameter = 7;
inline constexpr size_t kMaxLine = 127;

// Text-mode reading over a file opened in binary mode, the same on every host. The reader owns
// and closes the file.
std::unique_ptr<CharSource> TextModeReader(std::FILE* file);
std::unique_ptr<CharSource> OpenTextFile(const char* name);

class StdioFiles final : public FilePort {
public:
    std::unique_ptr<CharSource> OpenText(const char* name) override { return OpenTextFile(name); }
};

// Runs the matcher; argv[0] is the program name. Returns the exit code (always 0).
int Run(int argc, const char* const* argv, Ports& ports);

// The 4 characters after `marker` in `text` (fewer when the text ends sooner); false when the
// marker is absent. Case-sensitive.
bool TakeAfter(const std::string& text, const char* marker, std::string& out);

}  // namespace kestrim
