// Where a Quelmar image carries its identity block (vendor ID, product ID, device release), by chip
// family letter. Header-only and free of the rest of the library, so that the updater's checks read
// the same table as the library's own download.
#pragma once

#include <cstdint>

namespace camlib {

inline constexpr uint32_t IdentityOffset(char family) {
    switch (family) {
        case 'f':
        case 'g':
            return 0x8008;
        case 'h':
            return 0xB70A;
        case 'i':
            return 0x678A;
        default:
            return 0xF000;
    }
}

}  // namespace camlib
