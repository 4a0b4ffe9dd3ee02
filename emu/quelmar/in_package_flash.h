// The in-package flash of family 'l' chips: a small parallel NOR array inside the chip package,
// reached only by the chip's download engine through bus write cycles.
//
// It obeys the JEDEC command cycles: AA at 0x555, 55 at 0x2AA, then at 0x555 either 0x80 (erase
// setup, followed by AA/55 and 0x10 for chip erase or 0x30 at a 4 KiB sector for sector erase),
// 0xA0 (the next cycle programs one byte, clearing bits only) or 0xF0 (reset). A cycle out of this
// order drops back to the start, and cycles while an operation runs are ignored, so a wrong command
// sequence simply leaves the array as it was. Unlock addresses are compared on their low 11 bits.
//
// Power loss (CutPowerAt), as the serial flash takes it: from that moment on no cycle reaches the
// array, and an operation under way is torn by the share of its time that had passed. A chip or
// sector erase has erased that share of its range from the start, the rest is as it was; a byte
// program that had not finished leaves its byte as it was (one byte is the smallest share).
#pragma once

#include <cstdint>
#include <vector>

#include "emu/quelmar/clock.h"

namespace emu::quelmar {

class InPackageFlash {
public:
    InPackageFlash(uint32_t sizeBytes, VirtualClock& clock);
    InPackageFlash(const InPackageFlash&) = delete;
    InPackageFlash& operator=(const InPackageFlash&) = delete;

    void BusWrite(uint32_t address, uint8_t data);
    uint8_t BusRead(uint32_t address) const { return image_[address % image_.size()]; }
    bool Busy() const { return clock_.NowUs() < busyUntilUs_; }
    uint64_t BusyRemainingUs() const { return Busy() ? busyUntilUs_ - clock_.NowUs() : 0; }

    uint32_t Size() const { return static_cast<uint32_t>(image_.size()); }
    const std::vector<uint8_t>& Image() const { return image_; }
    bool LoadImage(const uint8_t* data, size_t n);
    bool Dirty() const { return dirty_; }
    void ClearDirty() { dirty_ = false; }

    // Power goes away at virtual time `us` (an earlier cut stays). Powered() tells whether the
    // clock has reached it.
    void CutPowerAt(uint64_t us) { powerOffUs_ = us < powerOffUs_ ? us : powerOffUs_; }
    bool Powered() const { return clock_.NowUs() < powerOffUs_; }

private:
    enum class Step { Idle, Unlocked1, Unlocked2, EraseSetup, EraseUnlocked1, EraseUnlocked2, Program };

    // How many of `units` an operation of `us` starting now completes before the power goes.
    uint64_t DoneBeforeCut(uint64_t units, uint64_t us) const;
    void Erase(uint32_t base, uint32_t bytes, const char* kind, uint64_t us);

    VirtualClock& clock_;
    std::vector<uint8_t> image_;
    bool dirty_ = false;
    Step step_ = Step::Idle;
    uint64_t busyUntilUs_ = 0;
    uint64_t powerOffUs_ = UINT64_MAX;
};

}  // namespace emu::quelmar
