// The write tool's settings and tables as pure functions: setting.ini flags, the pid.ini section
// list and product IDs, the chip-default identities, the Sonix ROM addresses, the firmware file's
// revision, the progress timer's period and the status pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kit/profile.h"

namespace orlinde {

// setting.ini, section SETTING. A flag is read into 2 characters, so only its first one counts.
struct Settings {
    bool cmdLineMode = false;
    bool cmdLineMsg = false;
    bool writeLog = false;
    bool autoDl = false;
    bool chooseBinUsePid = false;
    bool checkImageId = false;  // CheckImageId: the Quelmar image must name the camera
    bool backup = false;        // Backup: keep what the camera holds in a file before writing
};
inline constexpr uint32_t kFlagChars = 2;
// Text values (BIN, ModuleID, the combo keys) are read into this many characters.
inline constexpr uint32_t kTextChars = 256;
// VER: four hexadecimal digits and the terminator.
inline constexpr uint32_t kVerChars = 5;

bool ReadFlag(kit::ProfileReader& profile, const std::string& file, const char* key);
Settings ReadSettings(kit::ProfileReader& profile, const std::string& file);
// A value of at most `chars` - 1 characters, `def` when missing.
std::string ReadText(kit::ProfileReader& profile, const std::string& file, const char* section,
                     const char* key, const char* def, uint32_t chars = kTextChars);

// pid.ini's section list is read with this size into a buffer of twice that.
inline constexpr uint32_t kSectionListChars = 1000;
inline constexpr uint32_t kSectionBufferBytes = 2000;
// A section name the tool can use: "PID_" and four characters.
inline constexpr size_t kPidSectionChars = 8;

// Four characters, most significant first: "0"-"9" 0..9; "A"-"F", "a"-"f" and ":" ";" "<" "=" ">"
// "?" 10..15; a blank or a terminator count 0 and keep their place; anything else gives 0xFFFF,
// which matches no camera.
uint16_t ParseProductId(const char* four);

struct PidSection {
    uint16_t pid = 0;
    std::string name;  // "PID_" and the four characters as written in the file
};
struct PidSections {
    std::vector<PidSection> sections;  // in file order
    std::vector<std::string> skipped;  // names of another length, left out
};
// The sections of pid.ini in file order. Each name of 8 characters gives the product ID of its
// characters 4 to 7; a name of another length is skipped on its own instead of shifting every
// later name out of place.
PidSections ReadPidSections(kit::ProfileReader& profile, const std::string& file);
// The first section for `pid`, nullptr when none.
const PidSection* FindSection(const PidSections& list, uint16_t pid);

// The factory identities of blank Quelmar chips, which the Quelmar choice accepts without a section.
bool IsChipDefaultIdentity(uint16_t vid, uint16_t pid, uint16_t rev);

// The Sonix ROM address, from the 8-byte ROM version (name at 0..4, a number at 5): either a fixed
// address, or one to be read from the chip's sector table (see SectorTableRomAddress).
struct RomAddress {
    bool fromSectorTable = false;
    uint16_t address = 0;
};
RomAddress SonixRomAddress(const char* romVersion8);
// The ROM address from the first byte read at the sector table's address + 8.
constexpr uint16_t SectorTableRomAddress(uint8_t firstByte) {
    return static_cast<uint16_t>(firstByte * 256 + 0x34);
}

// The device release of a Quelmar image's identity block at its family's offset (0x8008 'f', 'g';
// 0xB70A 'h'; 0x678A 'i'; 0xF000 the others). Unknown when the image is too short to hold the block
// or the word is erased (0xFFFF); `value` is then what is shown (0 and 0xFFFF respectively).
struct FileVersion {
    bool known = false;
    uint16_t value = 0;
};
FileVersion ImageRevision(const uint8_t* image, uint32_t size, char family);

// The vendor and product ID of a Quelmar image's identity block at its family's offset; false when
// the image is too short to hold the block.
bool ImageVidPid(const uint8_t* image, uint32_t size, char family, uint16_t& vid, uint16_t& pid);

// "VER" of pid.ini read as hexadecimal (what strtol reads; 0 for no digits).
uint16_t ParseVer(const std::string& text);

// Period of the progress timer: the image size / 110 in milliseconds, so that a large image is
// polled less often.
constexpr uint32_t ProgressInterval(uint32_t imageSize) { return imageSize / 110; }
// Status byte values with a picture of their own.
enum : uint8_t { kStatusIdle = 0, kStatusSuccess = 1, kStatusFail = 2, kStatusRunning = 3 };
// The picture of a status byte, 0 for a value without one (the library's stage codes).
int StatusPicture(uint8_t status);
// The countdown picture of a progress value ("3", "2", "1" near the end), 0 for none.
int CountdownPicture(uint8_t progress);

}  // namespace orlinde
