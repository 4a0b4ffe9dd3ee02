// The chips the library knows, as data: one row per chip family (by its letter) and one per
// serial-flash part (by its flash type code), with the command tables the parts are driven by.
// The library's discovery, flash operations and download variants read these rows; a new family or
// part is a new row. Header-only and free of the rest of the library, so that the updater, the write
// tool, the tests and the bench rig use the very same mapping.
#pragma once

#include <cstdint>

namespace camlib {

// How the library reaches a family's serial flash at an address.
enum class FlashAccess : uint8_t {
    Bypass,         // the register-level bypass port (page-program and read records)
    Window,         // the 64-byte XU_SF_WINDOW, all 64 bytes programmed
    CountedWindow,  // the window with the data count first (63 data bytes at most)
};

// How a verified download is marked valid.
enum class CommitBy : uint8_t {
    FlashMark,  // the family's verified mark, written at flash address 0
    Selector,   // XU_ISP_FW_DOWNLOAD_OK := 1 (the chip keeps the flag)
};

// Where the family's mark of a download in progress goes.
enum class PendingAt : uint8_t {
    None,
    Flash,  // written at flash address 0 after the first chunk (with the identity block)
    Image,  // set in the image head before the checksum
};

enum class DownloadVariant : uint8_t {
    Generic,
    Paced,  // 10 ms after every chunk, committed in download mode, the chip reset on every path
};

struct HeaderMark {
    uint8_t count;
    uint8_t bytes[2];
};

inline constexpr int16_t kAnySubVariant = -1;

struct ChipFamily {
    char letter;
    uint8_t nibble;       // high nibble of identification register 0x20FF
    uint8_t otherNibble;  // a second nibble that identifies the family (0: none); never requested
    int16_t subVariant;   // what 0x20D0 must read on a nibble two families share
    bool requestable;     // a request may name it ('d' is reached through 'i' only)
    uint8_t selectLevel;  // chip-select level of the bypass port
    FlashAccess access;
    int32_t patchOffset;      // image offset of the flash-type byte; -1: none
    uint8_t patch[7];         // its value by command-table index
    uint32_t identityOffset;  // image offset of the identity block (vendor, product, release)
    PendingAt pendingAt;
    HeaderMark pending;   // the mark during a download
    HeaderMark verified;  // the flash mark after a verified download (CommitBy::FlashMark)
    CommitBy commit;
    CommitBy quietCommit;     // the commit of the quiet variant that stored jobs run
    bool selectsSerialFlash;  // XU_ISP_SERIAL_FLASH := 1 before download mode
    bool quietSelectsSerialFlash;
    bool resetAfterDownload;  // soft reset after leaving download mode
    bool clearsHeadFirst;     // flash bytes 0 and 1 cleared before the flash-type probe of a download
    bool clearsMode2501;      // bit 1 of register 0x2501 cleared before that probe
    bool directSmallPage;     // 32-byte-page parts take the direct serial-flash path
    bool inPackageFlash;      // may carry in-package flash: the mode switch and the in-package variant
    DownloadVariant variant;
};

namespace chips_detail {
inline constexpr uint8_t kPatchFgh[7] = {0, 1, 4, 5, 6, 3, 7};
inline constexpr uint8_t kPatchI[7] = {1, 2, 5, 6, 7, 4, 8};
inline constexpr uint8_t kPatchJkl[7] = {4, 1, 2, 9, 10, 8, 5};
constexpr ChipFamily Row(char letter, uint8_t nibble, uint8_t selectLevel, FlashAccess access,
                         int32_t patchOffset, const uint8_t (&patch)[7], uint32_t identityOffset) {
    ChipFamily f{};
    f.letter = letter;
    f.nibble = nibble;
    f.subVariant = kAnySubVariant;
    f.requestable = true;
    f.selectLevel = selectLevel;
    f.access = access;
    f.patchOffset = patchOffset;
    for (int i = 0; i < 7; ++i) f.patch[i] = patch[i];
    f.identityOffset = identityOffset;
    f.pendingAt = PendingAt::Flash;
    f.pending = {1, {0xF5, 0}};
    f.verified = {1, {0x55, 0}};
    f.commit = f.quietCommit = CommitBy::FlashMark;
    f.variant = DownloadVariant::Generic;
    return f;
}
constexpr ChipFamily D() {
    ChipFamily f = Row('d', 0xA, 0, FlashAccess::Bypass, -1, kPatchFgh, 0xF000);
    f.subVariant = 0x10;
    f.requestable = false;
    return f;
}
constexpr ChipFamily Fgh(char letter, uint8_t nibble, uint8_t level, int32_t patchAt, uint32_t identityAt) {
    ChipFamily f = Row(letter, nibble, level, FlashAccess::Bypass, patchAt, kPatchFgh, identityAt);
    f.directSmallPage = true;
    return f;
}
constexpr ChipFamily I() {
    ChipFamily f = Row('i', 0xA, 0, FlashAccess::Bypass, 0x6010, kPatchI, 0x678A);
    f.pending = {1, {0xF9, 0}};
    f.verified = {2, {0x89, 0x16}};
    f.selectsSerialFlash = f.quietSelectsSerialFlash = true;
    return f;
}
constexpr ChipFamily J() {
    ChipFamily f = Row('j', 0xB, 0, FlashAccess::CountedWindow, 0x0002, kPatchJkl, 0xF000);
    f.pendingAt = PendingAt::None;
    f.pending = f.verified = {0, {0, 0}};
    f.commit = f.quietCommit = CommitBy::Selector;
    f.resetAfterDownload = true;
    f.variant = DownloadVariant::Paced;
    return f;
}
constexpr ChipFamily K() {
    ChipFamily f = Row('k', 0xC, 0, FlashAccess::Window, 0x0002, kPatchJkl, 0xF000);
    f.otherNibble = 0xE;
    f.pendingAt = PendingAt::Image;
    f.pending = {2, {0xF9, 0xFF}};
    f.verified = {2, {0x89, 0x17}};
    f.quietCommit = CommitBy::Selector;
    f.resetAfterDownload = true;
    f.clearsHeadFirst = f.clearsMode2501 = true;
    return f;
}
constexpr ChipFamily L() {
    ChipFamily f = Row('l', 0xD, 0, FlashAccess::Window, 0x0002, kPatchJkl, 0xF000);
    f.pendingAt = PendingAt::Image;
    f.pending = {2, {0xF9, 0xFF}};
    f.verified = {0, {0, 0}};
    f.commit = f.quietCommit = CommitBy::Selector;
    // The quiet variant leaves the flash choice of an in-package chip as it is.
    f.selectsSerialFlash = true;
    f.resetAfterDownload = true;
    f.clearsMode2501 = true;
    f.inPackageFlash = true;
    return f;
}
}  // namespace chips_detail

// In identification order: 'd' before 'i', which share nibble 0xA.
inline constexpr ChipFamily kChipFamilies[] = {
    chips_detail::D(),
    chips_detail::Fgh('f', 0x6, 2, 0xC006, 0x8008),
    chips_detail::Fgh('g', 0x9, 2, 0xC006, 0x8008),
    chips_detail::Fgh('h', 0x8, 0, 0x501F, 0xB70A),
    chips_detail::I(),
    chips_detail::J(),
    chips_detail::K(),
    chips_detail::L(),
};

// The request letter that accepts any supported family.
inline constexpr char kAnyFamily = 'e';

// The row of a family letter, or nullptr.
constexpr const ChipFamily* FindFamily(char letter) {
    for (const ChipFamily& f : kChipFamilies)
        if (f.letter == letter) return &f;
    return nullptr;
}

// The row the library works by for a family letter: a letter without a row (the record's initial
// one included) is handled as family 'd'.
constexpr const ChipFamily& FamilyRow(char letter) {
    const ChipFamily* f = FindFamily(letter);
    return f ? *f : kChipFamilies[0];
}

// Family letter of an identification byte, 0 for an unsupported nibble. The sub-variant register
// 0x20D0 decides between families that share a nibble.
constexpr char FamilyOf(uint8_t id, uint8_t subVariant) {
    const uint8_t nibble = id >> 4;
    for (const ChipFamily& f : kChipFamilies) {
        if (f.nibble != nibble && !(f.otherNibble != 0 && f.otherNibble == nibble)) continue;
        if (f.subVariant == kAnySubVariant || f.subVariant == subVariant) return f.letter;
    }
    return 0;
}

// Whether the family of an identification byte needs the sub-variant register.
constexpr bool NeedsSubVariant(uint8_t id) {
    for (const ChipFamily& f : kChipFamilies)
        if (f.nibble == id >> 4 && f.subVariant != kAnySubVariant) return true;
    return false;
}

// Whether a request ('e': any family) can be made at all.
constexpr bool RequestValid(char request) {
    const ChipFamily* f = FindFamily(request);
    return request == kAnyFamily || (f && f->requestable);
}

// Whether a request accepts an identification nibble (id & 0xF0).
constexpr bool FamilyAccepts(char request, uint8_t nibble) {
    if (request == kAnyFamily) return FamilyOf(nibble, 0) != 0;
    const ChipFamily* f = FindFamily(request);
    return f && f->requestable && nibble == f->nibble << 4;
}

constexpr uint8_t SelectLevelOf(char family) { return FamilyRow(family).selectLevel; }

// Where a family's image carries its identity block.
constexpr uint32_t IdentityOffset(char family) { return FamilyRow(family).identityOffset; }

// Image offset of the flash-type patch byte, or -1 for a family without one.
constexpr int32_t PatchOffset(char family) { return FamilyRow(family).patchOffset; }
constexpr uint8_t PatchValue(char family, int index) {
    return index < 0 || index > 6 ? 0 : FamilyRow(family).patch[index];
}

// The flash type the probe answers for a family l chip in in-package mode.
inline constexpr uint8_t kFlashInPackage = 255;

// Serial-flash parts.

inline constexpr uint8_t kOpRems = 0x90;   // manufacturer and device ID
inline constexpr uint8_t kOpRes = 0xAB;    // signature
inline constexpr uint8_t kOpJedec = 0x9F;  // JEDEC ID

// A command table: slots 1..12 (read, fast read, read status, write enable, write disable, sector
// erase, block erase, chip erase, page program, auto-increment program, enable-write-status, write
// status; 0xFF: none) and the program mode, as the chip takes them.
struct CommandTable {
    uint8_t slots[12];
    uint8_t programMode;
    uint16_t pageBytes;  // program mode 2 is the chip's mode for 32-byte pages
};

inline constexpr int kSlotSectorErase = 6;
inline constexpr int kSlotBlockErase = 7;
inline constexpr int kSlotEnableWriteStatus = 11;
inline constexpr uint8_t kNoOpcode = 0xFF;

inline constexpr CommandTable kCommandTables[] = {
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0x00, 256},
    {{0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52, 0x60, 0x02, 0xAF, 0x50, 0x01}, 0x01, 256},
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0xD7, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0x00, 256},
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0x00, 256},
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0x00, 256},
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0x00, 256},
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0x02, 32},
};
inline constexpr int kCommandTableCount = static_cast<int>(sizeof kCommandTables / sizeof kCommandTables[0]);

struct FlashPart {
    uint8_t code;          // flash type code
    uint8_t command;       // the identification command it is known by
    uint8_t answer[3];     // its answer to that command
    uint8_t table;         // command-table index
    bool keepsProtection;  // updaters leave its write protection as it is
};

// In identification order. A part answers the first command; parts that answer it with all 0xFF
// or all 0x00 are asked the signature, then the JEDEC ID.
inline constexpr FlashPart kFlashParts[] = {
    {121, kOpRems, {0xC2, 0x05, 0xC2}, 0, false},  {122, kOpRems, {0xBF, 0x48, 0xBF}, 1, false},
    {123, kOpRems, {0x9D, 0x05, 0x7F}, 2, false},  {124, kOpRems, {0x9D, 0x02, 0x7F}, 2, false},
    {125, kOpRes, {0x9D, 0x7B, 0x7F}, 2, false},   {126, kOpJedec, {0x1F, 0x65, 0x00}, 5, false},
    {127, kOpRems, {0x1C, 0x05, 0x1C}, 3, false},  {128, kOpRems, {0x42, 0x05, 0xC2}, 4, false},
    {129, kOpJedec, {0xC2, 0x22, 0x10}, 6, false}, {130, kOpJedec, {0xC2, 0x22, 0x11}, 6, false},
    {131, kOpRems, {0xC8, 0x05, 0xC8}, 0, true},   {132, kOpRems, {0xA1, 0x05, 0xA1}, 0, false},
    {133, kOpRems, {0x51, 0x05, 0x51}, 0, false},  {134, kOpRems, {0x51, 0x10, 0x51}, 0, false},
    {135, kOpRems, {0xC2, 0x10, 0xC2}, 0, false},  {136, kOpRems, {0x9D, 0x05, 0xC4}, 0, false},
    {137, kOpRems, {0x1C, 0x12, 0x1C}, 3, false},
};

// The part of a flash type code, or nullptr.
constexpr const FlashPart* FindFlashPart(uint32_t code) {
    for (const FlashPart& p : kFlashParts)
        if (p.code == code) return &p;
    return nullptr;
}

// The part that answers `answer` to identification command `command`, or nullptr.
constexpr const FlashPart* IdentifyFlashPart(uint8_t command, const uint8_t answer[3]) {
    for (const FlashPart& p : kFlashParts)
        if (p.command == command && p.answer[0] == answer[0] && p.answer[1] == answer[1] &&
            p.answer[2] == answer[2])
            return &p;
    return nullptr;
}

// The command-table index of a flash type code: a part's table, and the indices 0..6 stand for
// themselves; -1 for any other code.
constexpr int FlashTableIndex(uint32_t code) {
    if (code < static_cast<uint32_t>(kCommandTableCount)) return static_cast<int>(code);
    const FlashPart* p = FindFlashPart(code);
    return p ? p->table : -1;
}

// The table a code is driven by: table 0 for a code without one.
constexpr const CommandTable& CommandTableOf(uint32_t code) {
    const int index = FlashTableIndex(code);
    return kCommandTables[index < 0 ? 0 : index];
}

// Whether a code's table programs 32-byte pages (only a code with a table of its own counts).
constexpr bool SmallPages(uint32_t code) {
    return FlashTableIndex(code) >= 0 && CommandTableOf(code).pageBytes == 32;
}

}  // namespace camlib
