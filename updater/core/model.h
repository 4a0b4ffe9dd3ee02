// The data that the updater's session keeps between its steps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaw {

enum class ChipFamily : int { None = 0, Realtek = 1, Sonix = 2, Quelmar = 3 };

// One line of config.ini's [Config] section.
struct FirmwareEntry {
    std::string sysId;    // the computer's subsystem ID, or "XXXX" for any computer
    std::string pid;      // camera product ID, four upper-case hexadecimal digits to match
    std::string rev;      // set by identification when a present camera matched the entry
    std::string modId;    // module ID
    std::string binName;  // firmware file name in the program directory
};

struct ComboPair {
    uint32_t first = 0;
    uint32_t second = 0;
};

// dev.vrk: product IDs per chip family, and the combo devices.
struct DevLists {
    std::vector<std::string> realtek;
    std::vector<std::string> sonix;
    std::vector<std::string> quelmar;
    std::vector<std::string> combo;  // list texts such as "5602+5603"
    std::vector<ComboPair> pairs;    // one per combo text, same order
    // [QUELMAR] ROM: the USB identities ("04FC", "2080") Quelmar chips show in ROM mode, when the
    // packager lists them; empty: a camera in ROM mode is not looked for.
    std::vector<std::pair<std::string, std::string>> quelmarRom;
};

// A camera found in ROM mode (dev.vrk's ROM key) whose firmware entry could not be chosen.
enum class RomRefusal { None, NoEntry, SeveralEntries };

// What identification leaves behind.
struct Identity {
    std::string vid;
    std::string pid;
    std::string rev;
    std::string binName;
    std::string moduleText;  // ModIDs of all recorded cameras joined by " + "
    ChipFamily family = ChipFamily::None;
    bool combo = false;  // set by the combo check
    // The camera showed a ROM identity of dev.vrk and was given the computer's one Quelmar entry:
    // VID, PID and REV are the ROM's, firmwarePid the entry's product ID.
    bool romMode = false;
    std::string firmwarePid;
    RomRefusal romRefusal = RomRefusal::None;
    int romEntries = 0;  // Quelmar entries that fit the computer, when refused

    bool Matched() const { return !vid.empty() && !pid.empty() && family != ChipFamily::None; }
};

// The firmware image state of one update (filled by the firmware-file step).
struct FirmwareImage {
    std::string path;
    uint32_t length = 0;
    std::vector<uint8_t> sonix;    // the whole file
    std::vector<uint8_t> quelmar;  // always kQuelmarImageSize bytes once loaded
    uint32_t quelmarBytesRead = 0;
};

inline constexpr uint32_t kQuelmarImageSize = 65536;
// A Quelmar file shorter than the image leaves the rest of the image as erased flash reads.
inline constexpr uint8_t kQuelmarFill = 0xFF;
// A Quelmar file shorter than one 4 KiB sector, the unit the flow writes, is no firmware image
// (an empty or truncated file): it is refused before anything reaches the camera. The write tool
// Orlinde applies the same bound.
inline constexpr uint32_t kQuelmarMinFileBytes = 4096;

}  // namespace tessaw
