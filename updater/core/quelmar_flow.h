// The Quelmar flashing flow: rewrites the camera's 64 KiB serial flash through QuelmarCamera.dll in
// 4 KiB sectors and proves the result by reading every sector back.
#pragma once

#include <cstdint>
#include <optional>

#include "flash_flow.h"

namespace tessaw {

inline constexpr uint32_t kQuelmarSectorSize = 4096;

// The library's command table for a flash type code the library's probe reports for an identified
// part; nothing for any other code, since guessing a table could drive the part with wrong opcodes.
std::optional<unsigned char> QuelmarCommandTable(unsigned char flashType);
// Code 0x83 names a part whose protection must be left alone.
bool QuelmarKeepsProtection(unsigned char flashType);

// Runs on the update worker thread after the session has initialised the library (QuelmarCam_Init).
// Sets the session's success flag only after the camera accepted the reset.
class QuelmarFlow final : public FlashFlow {
public:
    void Run(UpdateSession& session) override;
};

}  // namespace tessaw
