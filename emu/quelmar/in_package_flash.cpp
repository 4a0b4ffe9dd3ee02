#include "emu/quelmar/in_package_flash.h"

#include <algorithm>
#include <cstring>

namespace emu::quelmar {
namespace {

bool At(uint32_t address, uint32_t unlock) { return (address & 0x7FF) == unlock; }

}  // namespace

InPackageFlash::InPackageFlash(uint32_t sizeBytes, VirtualClock& clock)
    : clock_(clock), image_(sizeBytes ? sizeBytes : 1, 0xFF) {}

bool InPackageFlash::LoadImage(const uint8_t* data, size_t n) {
    size_t copy = std::min(n, image_.size());
    if (copy) std::memcpy(image_.data(), data, copy);
    std::fill(image_.begin() + static_cast<std::ptrdiff_t>(copy), image_.end(), 0xFF);
    return n == image_.size();
}

uint64_t InPackageFlash::DoneBeforeCut(uint64_t units, uint64_t us) const {
    const uint64_t now = clock_.NowUs();
    if (powerOffUs_ >= now + us) return units;
    if (powerOffUs_ <= now || us == 0) return 0;
    return units * (powerOffUs_ - now) / us;
}

void InPackageFlash::Erase(uint32_t base, uint32_t bytes, const char* kind, uint64_t us) {
    std::fill_n(image_.begin() + base, DoneBeforeCut(bytes, us), 0xFF);
    busyUntilUs_ = clock_.NowUs() + us;
    clock_.Record(kind, bytes, us);
}

void InPackageFlash::BusWrite(uint32_t address, uint8_t data) {
    if (Busy() || !Powered()) return;
    if (data == 0xF0 && step_ != Step::Program) {
        step_ = Step::Idle;
        return;
    }
    switch (step_) {
        case Step::Idle:
            step_ = At(address, 0x555) && data == 0xAA ? Step::Unlocked1 : Step::Idle;
            return;
        case Step::Unlocked1:
            step_ = At(address, 0x2AA) && data == 0x55 ? Step::Unlocked2 : Step::Idle;
            return;
        case Step::Unlocked2:
            if (!At(address, 0x555))
                step_ = Step::Idle;
            else if (data == 0x80)
                step_ = Step::EraseSetup;
            else if (data == 0xA0)
                step_ = Step::Program;
            else
                step_ = Step::Idle;
            return;
        case Step::EraseSetup:
            step_ = At(address, 0x555) && data == 0xAA ? Step::EraseUnlocked1 : Step::Idle;
            return;
        case Step::EraseUnlocked1:
            step_ = At(address, 0x2AA) && data == 0x55 ? Step::EraseUnlocked2 : Step::Idle;
            return;
        case Step::EraseUnlocked2:
            step_ = Step::Idle;
            if (At(address, 0x555) && data == 0x10) {
                Erase(0, Size(), "inpkg.chip_erase", cost::kChipEraseUs);
            } else if (data == 0x30) {
                const uint32_t sector = std::min<uint32_t>(4096, Size());
                Erase(address % Size() / sector * sector, sector, "inpkg.sector_erase", cost::kSectorEraseUs);
            } else {
                return;
            }
            dirty_ = true;
            return;
        case Step::Program:
            step_ = Step::Idle;
            if (DoneBeforeCut(1, cost::ProgramUs(1))) image_[address % Size()] &= data;
            dirty_ = true;
            busyUntilUs_ = clock_.NowUs() + cost::ProgramUs(1);
            clock_.Record("inpkg.program", 1, cost::ProgramUs(1));
            return;
    }
}

}  // namespace emu::quelmar
