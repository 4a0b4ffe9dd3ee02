// SPI NOR flash model: the serial-flash part on a camera module, driven opcode by opcode.
//
// The part is driven the way its pins are: Select() drives chip select active, Transfer() shifts
// one byte in each direction, Deselect() releases chip select. Commands that change the array or
// the status register take effect on that release, as NOR parts latch them. Time comes from the
// shared VirtualClock: an erase, a program or a status write sets write-in-progress (WIP) until the
// clock has moved past its duration, and meanwhile the part answers nothing but read-status.
//
// Behaviour chosen where real parts differ:
//  - Program, erase and write-status need the write-enable latch (WEL); without it they are
//    ignored. WEL reads set while the operation runs and drops when it completes.
//  - A command is executed only when chip select is released after exactly its byte count
//    (1 for 06/04/50/chip erase, 2 for write status, 4 for erases, 5 or more for page program);
//    any other count ignores it, as parts that check the clock count do.
//  - Block protection uses BP1..BP0 (status bits 3..2): 1 protects the top quarter of the array,
//    2 the top half, 3 all of it. Program and erase touching a protected byte are refused as a
//    whole; chip erase is refused while any block is protected. A refused command leaves WEL set.
//    The WP# pin is not modelled (held inactive), so the SRWD bit is plain storage.
//  - Parts that need the enable-write-status opcode (0x50) accept write status only as the very
//    next command after it; WEL alone does not unlock their status register.
//  - Byte-program parts program only the first data byte of 0x02 and stream longer data with the
//    auto-address-increment opcode 0xAF (opcode, address, byte; then opcode, byte; ended by 0x04).
//  - Page program loads a page buffer that wraps within the page (256 bytes; 32 bytes on the two
//    small-page parts); when more than a page is sent, the last bytes win.
//  - Reads run on past the end of the array from address 0. Addresses wrap at the array size.
//  - An opcode the part does not know, and any byte while the part is not selected, leaves the
//    data line undriven: the host reads the bus idle level (0xFF unless the board pulls it low).
//  - Power loss (CutPowerAt): from that moment on the part takes no chip select. An erase or page
//    program under way is torn, not atomic: the share of its time that had passed decides how much
//    of it happened. An erase has erased that share of its range from the start (the rest is as it
//    was); a program has programmed that share of its bytes, in the order they were sent. A status
//    write that had not finished leaves the status as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "emu/quelmar/clock.h"

namespace emu::quelmar {

// The bytes a part shifts out after an identification opcode, repeated cyclically.
// Length 0: the part does not know the opcode.
struct IdAnswer {
    uint8_t bytes[3];
    uint8_t length;
};

struct FlashPart {
    uint8_t code;  // flash type code the kit's probe gives this part (120: unknown part)
    const char* label;
    IdAnswer rems;   // 0x90 after three address bytes (an odd address starts one byte later)
    IdAnswer res;    // 0xAB after three dummy bytes
    IdAnswer jedec;  // 0x9F
    uint32_t sizeBytes;
    uint16_t pageBytes;
    uint8_t sectorEraseOp;  // 4 KiB
    uint8_t blockEraseOp;
    uint32_t blockBytes;
    uint8_t chipEraseOps[2];
    bool fastRead;           // knows 0x0B
    bool needsEwsr;          // status register unlocked only by 0x50
    bool byteProgram;        // 0x02 programs one byte; 0xAF streams
    uint8_t statusWritable;  // status bits that write-status can change
};

namespace spi {
inline constexpr uint8_t kWriteStatus = 0x01;
inline constexpr uint8_t kPageProgram = 0x02;
inline constexpr uint8_t kRead = 0x03;
inline constexpr uint8_t kWriteDisable = 0x04;
inline constexpr uint8_t kReadStatus = 0x05;
inline constexpr uint8_t kWriteEnable = 0x06;
inline constexpr uint8_t kFastRead = 0x0B;
inline constexpr uint8_t kEnableWriteStatus = 0x50;
inline constexpr uint8_t kRems = 0x90;
inline constexpr uint8_t kRes = 0xAB;
inline constexpr uint8_t kAutoIncrement = 0xAF;
inline constexpr uint8_t kJedecId = 0x9F;

inline constexpr uint8_t kStatusWip = 0x01;
inline constexpr uint8_t kStatusWel = 0x02;
inline constexpr uint8_t kStatusBp = 0x0C;
}  // namespace spi

inline constexpr uint8_t kUnknownPartCode = 120;

// Every part the kit identifies, and one it does not (code 120), in identification-table order.
std::span<const FlashPart> FlashParts();
// The part of a code, or nullptr.
const FlashPart* FindFlashPart(uint8_t code);

class SpiFlash {
public:
    // sizeBytes 0 (or not a power of two of at least 4 KiB) uses the part's own size.
    SpiFlash(const FlashPart& part, uint32_t sizeBytes, VirtualClock& clock, uint8_t busIdle = 0xFF);
    SpiFlash(const SpiFlash&) = delete;
    SpiFlash& operator=(const SpiFlash&) = delete;

    // Chip select. Selecting a selected part, or releasing a released one, is no edge and does
    // nothing.
    void Select();
    void Deselect();
    bool Selected() const { return selected_; }
    // One byte out on MOSI, the byte on MISO back.
    uint8_t Transfer(uint8_t mosi);

    uint8_t Status() const;  // as read-status would read it now
    bool Busy() const { return clock_.NowUs() < busyUntilUs_; }
    uint64_t BusyRemainingUs() const { return Busy() ? busyUntilUs_ - clock_.NowUs() : 0; }
    bool IsProtected(uint32_t address) const;

    // The non-volatile status bits (BP, SRWD): the bench persists them beside the image.
    uint8_t NonVolatileStatus() const { return status_; }
    void SetNonVolatileStatus(uint8_t value) { status_ = value & part_.statusWritable; }

    const FlashPart& Part() const { return part_; }
    uint32_t Size() const { return static_cast<uint32_t>(image_.size()); }
    uint8_t BusIdle() const { return busIdle_; }

    // Persistence: the caller loads and saves the array; Dirty() tells that it changed since.
    const std::vector<uint8_t>& Image() const { return image_; }
    // Copies min(n, Size()) bytes and fills the rest with 0xFF; true when n == Size().
    bool LoadImage(const uint8_t* data, size_t n);
    bool Dirty() const { return dirty_; }
    void ClearDirty() { dirty_ = false; }

    // Power goes away at virtual time `us` (an earlier cut stays). Powered() tells whether the
    // clock has reached it.
    void CutPowerAt(uint64_t us);
    bool Powered() const { return clock_.NowUs() < powerOffUs_; }

private:
    bool Knows(uint8_t op) const;
    bool TakesAddress() const;
    uint8_t Answer(const IdAnswer& a, uint32_t index) const;
    void Execute();
    void Program(uint32_t address, const uint8_t* data, size_t n);
    void Erase(uint32_t address, uint32_t bytes, const char* kind, uint64_t us);
    bool RangeProtected(uint32_t base, uint32_t bytes) const;
    void StartBusy(const char* kind, uint64_t bytes, uint64_t us);
    // How many of `units` an operation of `us` starting now completes before the power goes.
    uint64_t DoneBeforeCut(uint64_t units, uint64_t us) const;

    const FlashPart& part_;
    VirtualClock& clock_;
    uint8_t busIdle_;
    std::vector<uint8_t> image_;
    bool dirty_ = false;

    uint8_t status_ = 0;  // non-volatile bits only
    bool wel_ = false;
    bool welUntilDone_ = false;
    uint64_t busyUntilUs_ = 0;
    uint64_t powerOffUs_ = UINT64_MAX;
    bool ewsrArmed_ = false;
    bool aaiActive_ = false;
    uint32_t aaiAddress_ = 0;

    // The command of the current chip-select session.
    bool selected_ = false;
    bool ignored_ = false;
    uint8_t opcode_ = 0;
    uint32_t clocked_ = 0;  // bytes clocked, opcode included
    uint32_t address_ = 0;
    uint32_t readPointer_ = 0;
    uint64_t bytesRead_ = 0;
    std::vector<uint8_t> data_;
};

}  // namespace emu::quelmar
