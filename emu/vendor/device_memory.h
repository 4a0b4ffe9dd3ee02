// Firmware memory of the bench's Realtek and Sonix cameras, and the identity it gives them.
//
// Each camera's memory is a plain image file in the bench folder, loaded when a library stand-in
// starts and saved after every change. A missing file is an erased memory (all 0xFF); a file of
// another length is padded with 0xFF or cut to the configured size.
//
// Identity block: 6 bytes at offset 0xF000 of the memory, the vendor ID, product ID and device
// release as little-endian 16-bit words. The device release that identification sees is the
// block's while its release word is not 0xFFFF (erased), else the camera record's `rev`; so a
// firmware image that carries a new block shows its new revision as soon as it is written. VID and
// PID always come from the record, since every other view of the camera (device paths, hardware
// IDs) is derived from it; the block's VID and PID only document which product the image is for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emu/bench.h"

namespace emu::vendor {

inline constexpr uint32_t kIdentityOffset = 0xF000;
inline constexpr uint32_t kIdentityBytes = 6;

struct Identity {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t rev = 0;
    bool revFromMemory = false;
};

Identity IdentityOf(const CameraRecord& record, const std::vector<uint8_t>& memory);

// Stores the block into an image; false when the image is too short to hold it.
bool PutIdentityBlock(std::vector<uint8_t>& image, uint16_t vid, uint16_t pid, uint16_t rev);

// Where a camera's memory lives and how large it is. Keys of the camera's section:
//   realtek: eeprom_image=<file> (default <camera>.eeprom), eeprom_size=<bytes> (default 65536)
//   sonix:   flash_image=<file>  (default <camera>.flash),  flash_size=<bytes>  (default 65536)
// Sizes are decimal or 0x-hexadecimal, 1 byte to 16 MiB.
struct MemoryFile {
    std::string path;
    uint32_t size = 0;
};
bool MemoryFileOf(const Bench& bench, const CameraRecord& record, MemoryFile& out, std::string& error);

bool LoadMemory(const MemoryFile& file, std::vector<uint8_t>& out, std::string& error);

// The identity of a Realtek or Sonix camera as its memory file says now (for the bench's other
// views of the camera, which must show the revision a library stand-in has just written).
bool CurrentIdentity(const Bench& bench, const CameraRecord& record, Identity& out, std::string& error);

// A decimal or 0x-hexadecimal number from a bench value (blanks around it allowed).
bool ParseBenchNumber(const std::string& text, uint32_t& out);

// The value of a numeric key of a camera record, `fallback` when unset; says why when malformed
// or above `limit`.
bool NumberKey(const CameraRecord& record, const char* key, uint32_t fallback, uint32_t limit, uint32_t& out,
               std::string& error);

}  // namespace emu::vendor
