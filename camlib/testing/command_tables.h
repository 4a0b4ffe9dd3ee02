// The command-table index a test updater gives each flash type code: shared by the native bench rig
// and the Windows test flasher, which drive QuelmarCamera.dll's exports the same way.
#pragma once

namespace camlib::testing {

inline unsigned char TableFor(unsigned char code) {
    switch (code) {
        case 0x7A:
            return 1;
        case 0x7B:
        case 0x7D:
            return 2;
        case 0x7E:
            return 5;
        case 0x7F:
            return 3;
        case 0x80:
            return 4;
        case 0x81:
        case 0x82:
            return 6;
        default:
            return 0;
    }
}

}  // namespace camlib::testing
