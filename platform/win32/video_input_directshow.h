// The real video-input port of the Windows build (DirectShow system device enumerator).
#pragma once

#include "kit/video_input.h"

namespace kit {

// The caller has initialised COM on this thread.
class DirectShowVideoInput final : public VideoInputPort {
public:
    int32_t Enumerate(std::vector<VideoInputDevice>& out) override;
};

}  // namespace kit
