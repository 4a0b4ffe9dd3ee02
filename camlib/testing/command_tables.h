// The command-table index a test updater gives each flash type code: shared by the native bench rig
// and the Windows test flasher, which drive QuelmarCamera.dll's exports the same way. The mapping is
// the library's own (chips.h); where the real updater refuses a code that names no part, a test
// updater goes on with table 0.
#pragma once

#include "camlib/chips.h"

namespace camlib::testing {

inline unsigned char TableFor(unsigned char code) {
    const FlashPart* part = FindFlashPart(code);
    return part ? part->table : 0;
}

// Whether a test updater lifts and restores the part's write protection.
inline bool LiftsProtection(unsigned char code) {
    const FlashPart* part = FindFlashPart(code);
    return !(part && part->keepsProtection);
}

}  // namespace camlib::testing
