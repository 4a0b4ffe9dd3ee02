// Orlinde on an emulated bench: the cameras the bench has plugged in, named as the system names
// their video-category interfaces, so that the dialog can turn each change into the plug event the
// system never sends for an emulated camera. The bench is read again for every listing.
#pragma once

#include <string>
#include <vector>

#include "emu/bench.h"

namespace orlinde::bench {

// The interface path of a bench camera in the video category ("...#{6994ad05-...}\global").
std::string VideoInterfacePath(const emu::CameraRecord& camera);

// The bench's USB cameras now, in the bench's order; a device without a chip model (a mouse) is no
// camera. false, with `paths` untouched, when the bench cannot be read.
bool ListPluggedCameras(const std::string& folder, std::vector<std::string>& paths);

}  // namespace orlinde::bench
