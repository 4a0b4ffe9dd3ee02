// What a bench camera streams, as the capture-filter stand-in's video pin and the updater's
// emulated still-capture graph both read it from the camera's record:
//
//   formats=640x480     the capabilities its video output pin offers through IAMStreamConfig, in
//                       index order, each RGB24 at 30 frames per second (default: 640x480 alone).
//                       "1280x720" makes a camera without a 640x480 format; "1280x720,640x480"
//                       offers 640x480 second. Decimal sides 16..4096, at most 32 formats.
//   in_use=0            1: another program holds the camera: its pin refuses every connection
//                       (what a graph sees from a real camera that is streaming elsewhere).
//
// A record whose formats cannot be read streams nothing: its pin offers no format, and whoever
// reads the record says why in the debugger trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emu/bench.h"

namespace emu::capture {

struct StreamFormat {
    uint32_t width = 0;
    uint32_t height = 0;
    bool operator==(const StreamFormat&) const = default;
};

struct StreamSettings {
    std::vector<StreamFormat> formats;
    bool inUse = false;
};

inline constexpr const char* kDefaultFormats = "640x480";
inline constexpr uint32_t kMinFrameSide = 16;
inline constexpr uint32_t kMaxFrameSide = 4096;
inline constexpr size_t kMaxFormats = 32;
inline constexpr uint32_t kFramesPerSecond = 30;
// RGB24 rows are padded to four bytes, as a DIB's are.
uint32_t Rgb24FrameBytes(const StreamFormat& format);

// "1280x720,640x480" -> the two formats. False, with the reason, for an empty list, a malformed
// item, a side out of range or too many items.
bool ParseFormats(const std::string& text, std::vector<StreamFormat>& out, std::string& error);

// The camera's stream keys. On failure `out` offers no format and is not in use, and `error`
// says why, naming the key.
bool ReadStreamSettings(const CameraRecord& camera, StreamSettings& out, std::string& error);

}  // namespace emu::capture
