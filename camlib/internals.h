// Pieces of the library shared between its files and reached directly by the unit tests.
#pragma once

#include <cstdint>
#include <string>

#include "camlib/camlib.h"
#include "camlib/chips.h"
#include "camlib/texts.h"

namespace camlib {

// Bounds of the library's waits. Each one ends with a trace line that names the wait.
inline constexpr uint32_t kNotReadyTries = 100;   // 20 ms apart: 2 s for a unit to become ready
inline constexpr uint32_t kPortBusyPolls = 1000;  // reads of the bypass port's busy register
inline constexpr uint32_t kStatusReads = 1000;    // read-status commands while write-in-progress
inline constexpr uint32_t kBusyFlagPolls = 30;    // 1 s apart: the device's checksum calculation
inline constexpr uint32_t kModeSwitchTries = 40;  // 500 ms apart: re-opening after the mode switch

// Trace and sleep on a handle's platform (or the current one when the handle has none).
Platform& PlatformOf(const CamHandle* handle);
void Trace(const CamHandle* handle, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void SleepMs(const CamHandle* handle, uint32_t milliseconds);

// Discovery.
// Four characters, most significant first: 0-9, A-F/a-f and ':'..'?' (10..15); NUL and blank
// count 0; anything else makes the result 0xFFFF.
uint16_t ParseHex4(const char* text);
// The parent-instance key of an imaging-class instance ID ("...\6&1a2b3c4d&0&0000" -> "1a2b3c4d").
std::string InstanceKey(const std::string& instanceId);
// Vendor, product and release from a hardware ID (USB\VID_1234&PID_5678&REV_0100...).
void ParseHardwareId(const std::string& id, uint16_t& vid, uint16_t& pid, uint16_t& rev);
int32_t FindExtensionNode(ExtUnit& unit, KsTopology& topology, Platform& platform);
// The property set discovery chose last, for the descriptor lookup.
Guid LastChosenPropertySet();

// Flash.
// Families whose flash the library reaches through the bypass port.
inline bool RegisterLevelFamily(char family) { return FamilyRow(family).access == FlashAccess::Bypass; }
// Writes the 13 table entries of a code (index 0 for a code without one); the first failing write.
int32_t WriteCommandTable(ExtUnit& unit, uint32_t code);
// Loading a command table: the 13 entries (index 0 for a code without one), then the XU_SF_DATA
// length query that goes with them. Only `table` says whether the table is in place; a device may
// leave the query unanswered.
struct TableLoad {
    int32_t table = 0;       // the first failing entry write, else 0
    int32_t length = 0;      // the length query's result (not asked when the table failed)
    uint32_t dataLength = 0;  // the length it reported, 0 when it did not answer
};
TableLoad LoadCommandTable(ExtUnit& unit, uint32_t code);
// Writes or reads n bytes at a flash address the way the family allows: the 64-byte window on
// 'j', 'k', 'l' (n <= 63 on 'j', 64 otherwise), the bypass port on the others (n <= 33).
int32_t FlashWriteAt(CamHandle* handle, uint32_t address, const uint8_t* data, uint32_t n);
int32_t FlashReadAt(CamHandle* handle, uint32_t address, uint8_t* data, uint32_t n);
// The status register of the serial flash through the bypass port (waits while write-in-progress).
int32_t ReadFlashStatus(CamHandle* handle, uint8_t* status);
// Writes the status register unless it already holds `value`; `code` 1 or 122 unlocks it with 0x50.
int32_t WriteFlashStatus(CamHandle* handle, uint32_t code, uint8_t value, uint8_t* after);
int32_t SetFlashAddress(ExtUnit& unit, uint32_t address);  // {low, high, 0, 0}
int32_t EraseFlashSector(ExtUnit& unit, uint32_t address);
// Whether XU_SF_DATA blocks of this length tile a sector in whole 64-byte pieces.
bool UsableBlock(uint32_t length);
// The half-page passes of the 32-byte-page parts into an erased sector, in blocks of `length`.
int32_t WriteHalfPages(CamHandle* handle, uint32_t address, const uint8_t* sector, uint32_t length);
// The sector path of the 32-byte-page parts: erase, the block-length query, then two 4096-byte
// half-page passes through XU_SF_DATA at the sector and 32 bytes on.
int32_t WriteSectorHalfPages(CamHandle* handle, uint32_t address, const uint8_t* sector);
// A 64-byte block for the half-page passes: 32 bytes 0xFF, then 32 data bytes.
void HalfPageBlocks(const uint8_t* sector, uint32_t half, uint8_t* out4096);
// Programs the first `n` (at most 64) bytes of the flash through XU_SF_DATA with one block of
// `length` bytes, the rest of it 0xFF (which programs nothing): as half pages when `halfPages`.
// Used to put the boot mark in last, over a sector 0 written without it.
int32_t ProgramHead(CamHandle* handle, const uint8_t* bytes, uint32_t n, bool halfPages, uint32_t length);
// Page-programs up to 33 bytes through the bypass port.
int32_t BypassProgram(CamHandle* handle, uint32_t address, const uint8_t* data, uint32_t n);

// Download.
uint8_t XorChecksum(const uint8_t* data, uint32_t n);

}  // namespace camlib
