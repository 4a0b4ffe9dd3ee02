// Imaging-class instance IDs: the parent-instance key that ties an imaging device to the opened
// camera's device path.
#include "camlib/internals.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string id(reinterpret_cast<const char*>(data), size);
    const std::string key = camlib::InstanceKey(id);
    if (key.size() > id.size()) __builtin_trap();
    // As the library hands it over: cut to 259 characters.
    camlib::InstanceKey(id.substr(0, 259));
    return 0;
}
