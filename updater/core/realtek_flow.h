// The Realtek flashing flow: RvcLib.dll enumerates the cameras, the firmware entry table picks the
// ones to write, and each one gets its own image written into its EEPROM with staged progress.
#pragma once

#include <cstdint>
#include <string>

#include "flash_flow.h"
#include "ports.h"
#include "kit/file_system.h"
#include "kit/trace.h"
#include "kit/wall_clock.h"
#include "update_log.h"
#include "vendor/RvcLib.h"

namespace tessaw {

// A camera that UVC_Open listed and the firmware entry table selected for writing.
struct FoundDevice {
    uint16_t vid = 0;
    uint16_t pid = 0;
    int32_t index = 0;  // the index UVC_Open listed it under
    int32_t entry = 0;  // position of its firmware entry in the table
};

// What EEPROMInfo2 is asked first, before the library says better.
inline constexpr int32_t kEepromIdPreset = 3;
inline constexpr int32_t kEepromSizePreset = 65536;
// The largest EEPROM size taken from the library: twice it must fit the progress bar's signed
// 32-bit range, and an answer beyond it is a damaged one, not a memory to allocate.
inline constexpr int32_t kMaxEepromSize = 16 << 20;
// UVC_Open is asked about this many indexes at most, so that a library that never answers 0
// cannot keep the enumeration going for ever.
inline constexpr int32_t kMaxRvcCameras = 64;

// The text of one progress report: the download stage up to half the total, the verify stage after.
std::string ProgressStageText(uint32_t done, uint32_t total);

// What pfnProgressCallBack reports to while a write runs.
struct ProgressContext {
    kit::DialogPort* dialog = nullptr;
    kit::Trace* trace = nullptr;
    CStdioFileEx* log = nullptr;  // shares the update log's stream
};

// The progress callback handed to EEPROMWrite3. The library passes no context and may call it on
// a thread of its own, so it works from the process-wide context that the flow publishes for the
// length of each write; outside a write it does nothing.
void RVCLIB_CALL pfnProgressCallBack(uint32_t done, uint32_t total);

// Runs on the update worker thread. Sets the session's success flag only when every selected
// camera was written and verified by the library.
class RealtekFlow final : public FlashFlow {
public:
    // The progress callback's log writer is made here, and its stamps count seconds from here:
    // make the flow when the program starts. The ports must outlive the flow.
    RealtekFlow(kit::FileSystemPort& files, kit::ClockPort& clock);
    ~RealtekFlow() override;
    RealtekFlow(const RealtekFlow&) = delete;
    RealtekFlow& operator=(const RealtekFlow&) = delete;

    void Run(UpdateSession& session) override;

private:
    CStdioFileEx progressLog_;
    ProgressContext context_;
};

}  // namespace tessaw
