// A configuration descriptor set as the hub driver hands it over: the scan for the extension unit.
#include "camlib/usb_lookup.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the reply's bytes, so that a read past them is caught.
    std::vector<uint8_t> reply(data, data + size);
    camlib::HasExtensionUnit(reply.data(), static_cast<uint32_t>(reply.size()), camlib::kFirstPropertySet);
    camlib::HasExtensionUnit(reply.data(), static_cast<uint32_t>(reply.size()), camlib::kSecondPropertySet);
    return 0;
}
