// A string descriptor as the hub driver hands it over, into the lookup's 64-byte slot.
#include <cstring>

#include "camlib/usb_lookup.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> reply(data, data + size);
    char slot[camlib::kLookupStringBytes + 8];
    std::memset(slot, 0x5A, sizeof slot);
    camlib::StringToAnsi(reply.data(), static_cast<uint32_t>(reply.size()), slot);
    for (size_t i = camlib::kLookupStringBytes; i < sizeof slot; ++i)
        if (slot[i] != 0x5A) __builtin_trap();  // written past the slot
    if (slot[camlib::kLookupStringBytes - 1] != '\0') __builtin_trap();  // slot left unterminated
    return 0;
}
