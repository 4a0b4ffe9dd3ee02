#include "emu/capture_filter/stream_settings.h"

#include "kit/text.h"

namespace emu::capture {

uint32_t Rgb24FrameBytes(const StreamFormat& format) { return ((format.width * 3 + 3) & ~3u) * format.height; }

bool ParseFormats(const std::string& text, std::vector<StreamFormat>& out, std::string& error) {
    out.clear();
    const std::vector<std::string> items = kit::SplitList(text);
    if (items.empty()) {
        error = "no format listed";
        return false;
    }
    if (items.size() > kMaxFormats) {
        error = "more than 32 formats";
        static_assert(kMaxFormats == 32);
        return false;
    }
    for (const std::string& item : items) {
        const size_t x = kit::Lower(item).find('x');
        uint64_t width = 0, height = 0;
        if (x == std::string::npos || !kit::ParseNumber(kit::Trim(item.substr(0, x)), kMaxFrameSide, width) ||
            !kit::ParseNumber(kit::Trim(item.substr(x + 1)), kMaxFrameSide, height) || width < kMinFrameSide ||
            height < kMinFrameSide) {
            error = "\"" + item + "\" is not <width>x<height> with sides " + std::to_string(kMinFrameSide) +
                    ".." + std::to_string(kMaxFrameSide);
            out.clear();
            return false;
        }
        out.push_back({static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
    }
    return true;
}

bool ReadStreamSettings(const CameraRecord& camera, StreamSettings& out, std::string& error) {
    out = StreamSettings{};
    const std::string inUse = kit::Trim(camera.Get("in_use", "0"));
    if (inUse != "0" && inUse != "1") {
        error = "in_use must be 0 or 1, not \"" + inUse + "\"";
        return false;
    }
    if (!ParseFormats(camera.Get("formats", kDefaultFormats), out.formats, error)) {
        error = "formats: " + error;
        return false;
    }
    out.inUse = inUse == "1";
    return true;
}

}  // namespace emu::capture
