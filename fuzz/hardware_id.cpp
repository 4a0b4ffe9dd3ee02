// Hardware IDs as SetupAPI hands them over: the updater's field reader and the camera library's
// fixed-offset reader, on the same text.
#include "camlib/internals.h"
#include "fuzz_support.h"
#include "identify.h"
#include "text_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string id(reinterpret_cast<const char*>(data), size);
    tessaw::ParseHardwareId(tessaw::Upper(id));
    tessaw::ParseHardwareId(id);
    uint16_t vid = 0, pid = 0, rev = 0;
    camlib::ParseHardwareId(id, vid, pid, rev);
    // ParseHex4 reads four characters of a C string: hand it every shorter tail too.
    const std::string text = id.c_str();
    for (size_t at = text.size() > 8 ? text.size() - 8 : 0; at <= text.size(); ++at)
        camlib::ParseHex4(text.c_str() + at);
    return 0;
}
