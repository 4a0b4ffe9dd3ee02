// The in-package flash of family 'l' chips: a small parallel NOR array inside the chip package,
// reached only by the chip's download engine through bus write cycles.
//
// It obeys the JEDEC command cycles: AA at 0x555, 55 at 0x2AA, then at 0x555 either 0x80 (erase
// setup, followed by AA/55 and 0x10 for chip erase or 0x30 at a 4 KiB sector for sector erase),
// 0xA0 (the next cycle programs one byte, clearing bits only) or 0xF0 (reset). A cycle out of this
// order drops back to the start, and cycles while an operation runs are ignored, so a wrong command
// sequence simply leaves the array as it was. Unlock addresses are compared on their low 11 bits.
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

private:
    enum class Step { Idle, Unlocked1, Unlocked2, EraseSetup, EraseUnlocked1, EraseUnlocked2, Program };

    VirtualClock& clock_;
    std::vector<uint8_t> image_;
    bool dirty_ = false;
    Step step_ = Step::Idle;
    uint64_t busyUntilUs_ = 0;
};

}  // namespace emu::quelmar
