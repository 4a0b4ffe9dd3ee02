#include "emu/quelmar/spi_flash.h"

#include <algorithm>
#include <cstring>

namespace emu::quelmar {
namespace {

constexpr uint32_t K = 1024;
constexpr IdAnswer kNone = {{0, 0, 0}, 0};
constexpr uint8_t kStatusBits = 0x8C;  // SRWD, BP1, BP0

constexpr IdAnswer Id(uint8_t a, uint8_t b) { return {{a, b, 0}, 2}; }
constexpr IdAnswer Id(uint8_t a, uint8_t b, uint8_t c) { return {{a, b, c}, 3}; }
constexpr IdAnswer Id(uint8_t a) { return {{a, 0, 0}, 1}; }

// A part with 4 KiB sectors (0x20), 64 KiB blocks (0xD8), 256-byte pages and the usual opcodes.
constexpr FlashPart Usual(uint8_t code, const char* label, IdAnswer rems, IdAnswer res, IdAnswer jedec,
                          uint32_t size) {
    FlashPart p{};
    p.code = code;
    p.label = label;
    p.rems = rems;
    p.res = res;
    p.jedec = jedec;
    p.sizeBytes = size;
    p.pageBytes = 256;
    p.sectorEraseOp = 0x20;
    p.blockEraseOp = 0xD8;
    p.blockBytes = 64 * K;
    p.chipEraseOps[0] = 0xC7;
    p.chipEraseOps[1] = 0x60;
    p.fastRead = true;
    p.statusWritable = kStatusBits;
    return p;
}
// Parts that erase 4 KiB sectors with 0xD7 only.
constexpr FlashPart D7Sectors(FlashPart p) {
    p.sectorEraseOp = 0xD7;
    return p;
}
// Parts with a 32-byte page buffer.
constexpr FlashPart SmallPage(FlashPart p) {
    p.pageBytes = 32;
    return p;
}
// Byte-program parts: no fast read, 32 KiB blocks with 0x52, chip erase with 0x60 only, status
// register unlocked by 0x50.
constexpr FlashPart BytePart(FlashPart p) {
    p.blockEraseOp = 0x52;
    p.blockBytes = 32 * K;
    p.chipEraseOps[0] = p.chipEraseOps[1] = 0x60;
    p.fastRead = false;
    p.needsEwsr = true;
    p.byteProgram = true;
    return p;
}

const FlashPart kParts[] = {
    Usual(121, "C2-05 512 Kbit", Id(0xC2, 0x05), Id(0x05), Id(0xC2, 0x20, 0x10), 64 * K),
    BytePart(Usual(122, "BF-48 512 Kbit, byte program", Id(0xBF, 0x48), Id(0xBF, 0x48), kNone, 64 * K)),
    D7Sectors(
        Usual(123, "9D-05 512 Kbit", Id(0x9D, 0x05, 0x7F), Id(0x9D, 0x7B, 0x7F), Id(0x9D, 0x7B), 64 * K)),
    D7Sectors(
        Usual(124, "9D-02 1 Mbit", Id(0x9D, 0x02, 0x7F), Id(0x9D, 0x7C, 0x7F), Id(0x9D, 0x7C), 128 * K)),
    // Answers only the signature command.
    D7Sectors(Usual(125, "9D-7B 512 Kbit, signature only", kNone, Id(0x9D, 0x7B, 0x7F), kNone, 64 * K)),
    // Answers only the JEDEC command.
    Usual(126, "1F-65 512 Kbit, JEDEC only", kNone, kNone, Id(0x1F, 0x65, 0x00), 64 * K),
    Usual(127, "1C-05 512 Kbit", Id(0x1C, 0x05), Id(0x05), Id(0x1C, 0x30, 0x10), 64 * K),
    Usual(128, "42-05 512 Kbit", Id(0x42, 0x05, 0xC2), Id(0x05), Id(0x42, 0x20, 0x10), 64 * K),
    SmallPage(Usual(129, "C2-22-10 512 Kbit, 32-byte pages", kNone, kNone, Id(0xC2, 0x22, 0x10), 64 * K)),
    SmallPage(Usual(130, "C2-22-11 1 Mbit, 32-byte pages", kNone, kNone, Id(0xC2, 0x22, 0x11), 128 * K)),
    Usual(131, "C8-05 512 Kbit", Id(0xC8, 0x05), Id(0x05), Id(0xC8, 0x40, 0x10), 64 * K),
    Usual(132, "A1-05 512 Kbit", Id(0xA1, 0x05), Id(0x05), Id(0xA1, 0x31, 0x10), 64 * K),
    Usual(133, "51-05 512 Kbit", Id(0x51, 0x05), Id(0x05), Id(0x51, 0x40, 0x10), 64 * K),
    Usual(134, "51-10 1 Mbit", Id(0x51, 0x10), Id(0x10), Id(0x51, 0x40, 0x11), 128 * K),
    Usual(135, "C2-10 1 Mbit", Id(0xC2, 0x10), Id(0x10), Id(0xC2, 0x20, 0x11), 128 * K),
    Usual(136, "9D-05-C4 512 Kbit", Id(0x9D, 0x05, 0xC4), Id(0x05), Id(0x9D, 0x40, 0x10), 64 * K),
    Usual(137, "1C-12 2 Mbit", Id(0x1C, 0x12), Id(0x12), Id(0x1C, 0x30, 0x12), 256 * K),
    Usual(kUnknownPartCode, "5A-11 512 Kbit, not in the kit's table", Id(0x5A, 0x11), Id(0x11),
          Id(0x5A, 0x30, 0x10), 64 * K),
};

bool PowerOfTwo(uint32_t v) { return v && (v & (v - 1)) == 0; }

}  // namespace

std::span<const FlashPart> FlashParts() { return kParts; }

const FlashPart* FindFlashPart(uint8_t code) {
    for (const FlashPart& p : kParts)
        if (p.code == code) return &p;
    return nullptr;
}

SpiFlash::SpiFlash(const FlashPart& part, uint32_t sizeBytes, VirtualClock& clock, uint8_t busIdle)
    : part_(part), clock_(clock), busIdle_(busIdle) {
    if (!PowerOfTwo(sizeBytes) || sizeBytes < 4 * K) sizeBytes = part.sizeBytes;
    image_.assign(sizeBytes, 0xFF);
}

bool SpiFlash::LoadImage(const uint8_t* data, size_t n) {
    size_t copy = std::min(n, image_.size());
    if (copy) std::memcpy(image_.data(), data, copy);
    std::fill(image_.begin() + static_cast<std::ptrdiff_t>(copy), image_.end(), 0xFF);
    return n == image_.size();
}

uint8_t SpiFlash::Status() const {
    uint8_t s = status_;
    if (Busy()) s |= spi::kStatusWip;
    if (wel_ || (Busy() && welUntilDone_)) s |= spi::kStatusWel;
    return s;
}

bool SpiFlash::IsProtected(uint32_t address) const {
    const uint32_t bp = (status_ & spi::kStatusBp) >> 2;
    if (bp == 0) return false;
    const uint32_t region = Size() >> (3 - bp);  // quarter, half, all
    return (address & (Size() - 1)) >= Size() - region;
}

bool SpiFlash::RangeProtected(uint32_t base, uint32_t bytes) const {
    return IsProtected(base) || IsProtected(base + bytes - 1);  // the protected region is the top
}

bool SpiFlash::Knows(uint8_t op) const {
    switch (op) {
        case spi::kWriteStatus:
        case spi::kPageProgram:
        case spi::kRead:
        case spi::kWriteDisable:
        case spi::kReadStatus:
        case spi::kWriteEnable:
        case spi::kRems:
        case spi::kRes:
        case spi::kJedecId:
            return true;
        case spi::kFastRead:
            return part_.fastRead;
        case spi::kEnableWriteStatus:
            return part_.needsEwsr;
        case spi::kAutoIncrement:
            return part_.byteProgram;
        default:
            return op == part_.sectorEraseOp || op == part_.blockEraseOp || op == part_.chipEraseOps[0] ||
                   op == part_.chipEraseOps[1];
    }
}

bool SpiFlash::TakesAddress() const {
    switch (opcode_) {
        case spi::kRead:
        case spi::kFastRead:
        case spi::kRems:
        case spi::kRes:  // three dummy bytes
        case spi::kPageProgram:
            return true;
        case spi::kAutoIncrement:
            return !aaiActive_;  // only the first byte of a stream carries the address
        default:
            return opcode_ == part_.sectorEraseOp || opcode_ == part_.blockEraseOp;
    }
}

uint8_t SpiFlash::Answer(const IdAnswer& a, uint32_t index) const {
    return a.length ? a.bytes[index % a.length] : busIdle_;
}

void SpiFlash::CutPowerAt(uint64_t us) { powerOffUs_ = std::min(powerOffUs_, us); }

uint64_t SpiFlash::DoneBeforeCut(uint64_t units, uint64_t us) const {
    const uint64_t now = clock_.NowUs();
    if (powerOffUs_ >= now + us) return units;
    if (powerOffUs_ <= now || us == 0) return 0;
    return units * (powerOffUs_ - now) / us;
}

void SpiFlash::Select() {
    if (selected_ || !Powered()) return;
    selected_ = true;
    ignored_ = false;
    clocked_ = 0;
    address_ = 0;
    data_.clear();
}

uint8_t SpiFlash::Transfer(uint8_t mosi) {
    if (!selected_) return busIdle_;
    const uint32_t i = clocked_++;
    if (i == 0) {
        opcode_ = mosi;
        if (mosi != spi::kWriteStatus && mosi != spi::kEnableWriteStatus) ewsrArmed_ = false;
        const bool aaiAllows =
            mosi == spi::kReadStatus || mosi == spi::kWriteDisable || mosi == spi::kAutoIncrement;
        ignored_ = !Knows(mosi) || (Busy() && mosi != spi::kReadStatus) || (aaiActive_ && !aaiAllows);
        return busIdle_;
    }
    if (ignored_) return busIdle_;
    if (opcode_ == spi::kReadStatus) return Status();
    if (opcode_ == spi::kJedecId) return Answer(part_.jedec, i - 1);
    if (TakesAddress() && i <= 3) {
        address_ = (address_ << 8) | mosi;
        readPointer_ = address_;
        return busIdle_;
    }
    switch (opcode_) {
        case spi::kFastRead:
            if (i == 4) return busIdle_;  // dummy byte
            [[fallthrough]];
        case spi::kRead: {
            ++bytesRead_;
            return image_[readPointer_++ & (Size() - 1)];
        }
        case spi::kRems:
            return Answer(part_.rems, i - 4 + (address_ & 1));
        case spi::kRes:
            return Answer(part_.res, i - 4);
        default:
            data_.push_back(mosi);
            return busIdle_;
    }
}

void SpiFlash::Deselect() {
    if (!selected_) return;
    selected_ = false;
    if (bytesRead_) {
        clock_.Record("flash.read", bytesRead_, 0);
        bytesRead_ = 0;
    }
    if (clocked_ == 0 || ignored_) return;
    Execute();
}

void SpiFlash::Execute() {
    const uint32_t n = clocked_;
    const uint8_t op = opcode_;
    if (op == spi::kWriteEnable) {
        if (n == 1) wel_ = true;
    } else if (op == spi::kWriteDisable) {
        if (n == 1) wel_ = aaiActive_ = false;
    } else if (op == spi::kEnableWriteStatus) {
        if (n == 1) ewsrArmed_ = true;
    } else if (op == spi::kWriteStatus) {
        const bool unlocked = part_.needsEwsr ? ewsrArmed_ : wel_;
        ewsrArmed_ = false;
        if (n != 2 || !unlocked) return;
        if (DoneBeforeCut(1, cost::kStatusWriteUs) == 1)
            status_ = static_cast<uint8_t>((status_ & ~part_.statusWritable) | (data_[0] & part_.statusWritable));
        StartBusy("flash.status_write", 1, cost::kStatusWriteUs);
    } else if (op == spi::kPageProgram) {
        if (n < 5 || !wel_) return;
        Program(address_, data_.data(), part_.byteProgram ? 1 : data_.size());
    } else if (op == spi::kAutoIncrement) {
        if (!wel_) return;
        const uint32_t at = aaiActive_ ? aaiAddress_ : address_;
        if (n != (aaiActive_ ? 2u : 5u)) return;
        if (IsProtected(at)) {
            aaiActive_ = false;
            return;
        }
        Program(at, data_.data(), 1);
        wel_ = true;  // the stream keeps the latch until write disable
        aaiActive_ = true;
        aaiAddress_ = (at + 1) & (Size() - 1);
    } else if (op == part_.sectorEraseOp) {
        if (n == 4 && wel_) Erase(address_, 4 * K, "flash.sector_erase", cost::kSectorEraseUs);
    } else if (op == part_.blockEraseOp) {
        const uint64_t us = part_.blockBytes == 64 * K ? cost::kBlockEraseUs : cost::kBlock32EraseUs;
        if (n == 4 && wel_) Erase(address_, part_.blockBytes, "flash.block_erase", us);
    } else if (op == part_.chipEraseOps[0] || op == part_.chipEraseOps[1]) {
        if (n != 1 || !wel_ || (status_ & spi::kStatusBp)) return;
        std::fill_n(image_.begin(), DoneBeforeCut(Size(), cost::kChipEraseUs), 0xFF);
        dirty_ = true;
        StartBusy("flash.chip_erase", Size(), cost::kChipEraseUs);
    }
}

void SpiFlash::Program(uint32_t address, const uint8_t* data, size_t n) {
    const uint32_t page = part_.pageBytes;
    const uint32_t base = address & (Size() - 1) & ~(page - 1);
    const uint32_t offset = address & (page - 1);
    std::vector<int> buffer(page, -1);  // the page buffer; later bytes overwrite earlier ones
    for (size_t k = 0; k < n; ++k) buffer[(offset + k) % page] = data[k];
    uint32_t programmed = 0;
    for (uint32_t p = 0; p < page; ++p) {
        if (buffer[p] < 0) continue;
        if (IsProtected(base + p)) return;
        ++programmed;
    }
    // Bytes reach the array in the order they were sent: a cut leaves a prefix programmed.
    uint64_t left = DoneBeforeCut(programmed, cost::ProgramUs(programmed));
    for (uint32_t k = 0; k < page && left; ++k) {
        const uint32_t p = (offset + k) % page;
        if (buffer[p] < 0) continue;
        image_[base + p] &= static_cast<uint8_t>(buffer[p]);
        --left;
    }
    dirty_ = true;
    StartBusy("flash.program", programmed, cost::ProgramUs(programmed));
}

void SpiFlash::Erase(uint32_t address, uint32_t bytes, const char* kind, uint64_t us) {
    bytes = std::min(bytes, Size());
    const uint32_t base = address & (Size() - 1) & ~(bytes - 1);
    if (RangeProtected(base, bytes)) return;
    std::fill_n(image_.begin() + base, DoneBeforeCut(bytes, us), 0xFF);
    dirty_ = true;
    StartBusy(kind, bytes, us);
}

void SpiFlash::StartBusy(const char* kind, uint64_t bytes, uint64_t us) {
    welUntilDone_ = wel_;
    wel_ = false;
    busyUntilUs_ = clock_.NowUs() + us;
    clock_.Record(kind, bytes, us);
}

}  // namespace emu::quelmar
