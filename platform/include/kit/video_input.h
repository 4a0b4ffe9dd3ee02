// DirectShow video-input devices port: the devices of the video-input category, in enumeration
// order, with the "DevicePath" of each.
//
// Synchronous, caller's thread; on Windows the caller has initialised COM. Never throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

struct VideoInputDevice {
    // False when the moniker could not be bound to a property bag or "DevicePath" could not be
    // read; devicePath is then empty.
    bool hasPath = false;
    // The path converted to the thread's ANSI code page.
    std::string devicePath;
    std::string friendlyName;
};

inline constexpr int32_t kS_OK = 0;
inline constexpr int32_t kS_FALSE = 1;

class VideoInputPort {
public:
    virtual ~VideoInputPort() = default;
    // Fills `out` and returns S_OK; returns S_FALSE with no devices when the category is empty;
    // returns the failing HRESULT (negative) when the device enumerator cannot be created.
    virtual int32_t Enumerate(std::vector<VideoInputDevice>& out) = 0;
};

}  // namespace kit
