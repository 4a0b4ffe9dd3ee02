// The Sonix flashing flow: rewrites the camera's serial flash through the imported BurnerApLib.dll in
// 8 KiB chunks and proves the result by reading every byte of the image back.
#pragma once

#include <algorithm>
#include <cstdint>

#include "flash_flow.h"
#include "ports.h"

namespace tessaw {

inline constexpr uint32_t kSonixChunkSize = 8192;
inline constexpr uint8_t kSonixWriteRequest = 6;
inline constexpr uint8_t kSonixReadRequest = 7;
// What a backup of a Sonix camera reads at least (config.ini [FW_TOOL] Backup=1).
inline constexpr uint32_t kSonixBackupBytes = 65536;

// Where the flash keeps the byte the library needs to lift and restore write protection, by the ROM
// the camera runs: the first four characters of its ROM version text, in any case, and the text's
// sixth byte, which is a number rather than a character.
uint16_t SonixProtectAddress(const char* romVersion16);

// Requests of one stage: whole chunks, then what is left of the image as one shorter request.
// A tail left out would stay erased, and the comparison over the whole image would then fail on
// any image whose tail is not 0xFF; so it is written and read back like the rest.
inline uint32_t SonixRequestCount(uint32_t length) {
    return (length + kSonixChunkSize - 1) / kSonixChunkSize;
}
inline uint32_t SonixRequestLength(uint32_t length, uint32_t index) {
    const uint64_t start = uint64_t{index} * kSonixChunkSize;
    return start >= length ? 0 : static_cast<uint32_t>(std::min<uint64_t>(kSonixChunkSize, length - start));
}
// The percentage shown after request `index` of a stage: the share of the image done by then, in
// 64 bits so that no image size can wrap it.
inline int SonixPercent(uint32_t length, uint32_t index) {
    const uint64_t done = std::min<uint64_t>(uint64_t{index + 1} * kSonixChunkSize, length);
    return length == 0 ? 100 : static_cast<int>(done * 100 / length);
}

// Runs on the update worker thread after the session has initialised the library and read the ROM
// version. An image shorter than one chunk cannot be a camera's firmware: it is refused before the
// camera is touched. Sets the session's success flag only after the camera accepted the reset.
class SonixFlow final : public FlashFlow {
public:
    void Run(UpdateSession& session) override;
};

}  // namespace tessaw
