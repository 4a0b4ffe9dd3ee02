// Model of a Quelmar camera chip as its vendor extension unit (XU) shows it: the register file,
// the serial-flash bypass port, the chip's own serial-flash controller with its command table,
// the firmware download engine and, on family 'l', the in-package flash.
//
// The host reaches the model through three primitives that mirror the transport: the length of a
// control, a write and a read, each returning an HRESULT-style code. Which property set (GUID) a
// request carries is set with UsePropertySet() before it, as a kernel-streaming carrier would.
// A chip is driven by one caller at a time (no locks), like the device it stands for.
//
// How the device side behaves where the protocol leaves it open:
//  - Every request costs 1 ms plus 1 µs per payload byte on the virtual clock (a length query
//    carries 2 bytes). A request is checked in this order: null data with a length (E_POINTER),
//    scripted faults, not-ready answers, the property set (0x80070492 on a set the unit does not
//    carry), the selector (0x80070490 for one the unit lacks), then a length other than the
//    control's or a direction the control lacks (0x8007001F: the device stalls the request, as a
//    UVC device stalls a malformed SET_CUR/GET_CUR). A refused request changes nothing.
//  - Registers: a 64 KiB register space of plain storage, except the identification registers
//    0x20FF and 0x20D0, the port busy 0x2021 and the received byte 0x2024 (read-only; writes are
//    dropped), the bypass port and the soft-reset strobe. A 16-bit access is two 8-bit registers,
//    low byte at the address. The address registers do not advance after a data access.
//  - Bypass port: on while bit 7 of 0x2020 is set. Bit 1 of 0x2025 drives the flash chip select,
//    active high on families 'f' and 'g' (select level 2) and active low on the others (level 0).
//    A byte written to 0x2022 is shifted out only while the port is on and the part selected
//    (otherwise it is lost); reading 0x2023 while the port is on shifts 0x00 out. Either latches
//    the byte shifted in at 0x2024, and 0x2021 then reads 1 for the configured number of reads.
//    When the chip's own controller needs the flash it ends an open bypass session (the part sees
//    chip select rise); a new session needs a new write of the select level.
//  - Soft reset: writing 0x2034 from 0 to 1 while 0x2030 = 0xFF and 0x2033 = 2 restarts the chip.
//    The restart leaves download mode, ends a bypass session and restores every register, the
//    command table and the addresses, except 0x20F5..0x20F8, which live in the always-on domain.
//    A family 'l' chip with in-package flash restarts in in-package mode when 0x20F5/0x20F6 hold
//    0xAA/0x55. Every restart counts and leaves a re-enumeration pending for the bench, because
//    the device drops off the bus and comes back.
//  - The chip's own flash accesses (sector erase, data block, window, download, identification)
//    use the opcodes of its command table (slots 1..12; power-on: 03 0B 05 06 04 20 D8 C7 02 FF
//    FF 01, program mode 0), so a wrong table does to the part what it would do to a real one.
//    It waits for write-in-progress with the slot-3 opcode; a part that never reports ready fails
//    the request with 0x8007001F after 3 s of virtual time. It does not check protection: a
//    refused program or erase answers success and leaves the flash unchanged.
//  - Identification slot 13: writing its opcode runs it at once (opcode, three 0x00 address bytes
//    unless the opcode is 0x9F, three bytes in) and latches the answer for XU_SF_ID. A chip
//    configured without the slot refuses index 13, which sends the host to the bypass port.
//  - XU_SF_DATA and XU_SF_WINDOW writes go through the controller's 64-byte FIFO: one page
//    program per 64 bytes at consecutive addresses (program modes 0 and 2), or an auto-increment
//    stream in mode 1 (byte programs with slot 9 when slot 10 is 0xFF). On a 32-byte-page part a
//    64-byte burst wraps within its page, which is why data for those parts is sent as 32 bytes
//    0xFF followed by 32 data bytes. XU_SF_DATA moves the address on by the block after a read or
//    a write; the window does not. On family 'j' a window write is the count N (at most 63)
//    followed by N data bytes; on the others all 64 bytes are programmed. A window read is the
//    64 bytes at the address on every family.
//  - Download: XU_DFU_ENABLE_CONTROL 1 and 3 both enter download mode (the value reads back);
//    entering again restarts the reception; 0 leaves; other values are refused. In download mode
//    every received byte, padding included, is XORed into the device checksum. To the serial
//    flash, each 4 KiB sector is erased when reception first enters it, and data is programmed in
//    pieces that never cross a page (256 bytes, 32 in program mode 2, a stream in mode 1); bytes
//    beyond the end of the flash count in the checksum and are dropped. To the in-package flash,
//    the first six cycles of XU_MCM_FLASH_CMDS are played once on entry (the erase) and the last
//    three before every byte (the program prefix). Chunks outside download mode are refused.
//  - XU_DFU_CHECKSUM_TRIGGER := 1 starts the calculation: the trigger then reads 1 for the
//    configured number of reads, and XU_DFU_CHECKSUM answers 0x80070015 while it would read 1.
//  - XU_ISP_FW_DOWNLOAD_OK := 1 is accepted in download mode only. It marks the download verified
//    and, when serial-flash bytes 0 and 1 hold the pending mark F9 FF, programs the valid mark
//    89 17 over them; any other header is left as the image wrote it. Leaving download mode after
//    such a commit restarts the chip by itself when bit 1 of 0x2C00 is set.
//  - Power cut (fault cut=<n>[:<us>], faults.h): the chip counts every extension-unit request from
//    power-on; the power goes <us> of virtual time after request n arrived, or when it ends if that
//    is sooner. The flash controller stops at that moment (the part tears what it was doing,
//    spi_flash.h), request n and every later one answer 0x8007048F, and the chip is off the bus
//    for the rest of the process, as after an unplug.
//  - The download-OK flag of families 'j' and 'l', whose verified mark is no flash byte: set by
//    XU_ISP_FW_DOWNLOAD_OK := 1, cleared when download mode is entered, for either flash. It
//    belongs to the flash that download went to, which is the one the chip then runs its firmware
//    from (boot flash): a family 'l' chip with in-package flash starts its firmware from the
//    in-package flash once a download went there, and from the serial flash again after a download
//    to the serial flash; before any download, from the in-package flash when it powers on in
//    in-package mode. Flag and boot flash are non-volatile (the bench keeps them when it boots the
//    camera by its mark, bench_devices.h).
//  - A cut tears the in-package flash's erase or byte program as it tears the serial flash's
//    (in_package_flash.h); the cycles the engine plays after it reach nothing.
//  - XU_ISP_SERIAL_FLASH: 1 targets the serial flash, 0 the in-package flash (refused on chips
//    without one). XU_MCM_FLASH_CMDS exists only on chips with in-package flash.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "emu/quelmar/clock.h"
#include "emu/quelmar/faults.h"
#include "emu/quelmar/in_package_flash.h"
#include "emu/quelmar/spi_flash.h"

namespace emu::quelmar {

// Results, as the host's carrier reports them.
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003);
inline constexpr int32_t kNotReady = static_cast<int32_t>(0x80070015);
inline constexpr int32_t kGenFailure = static_cast<int32_t>(0x8007001F);
inline constexpr int32_t kNotFound = static_cast<int32_t>(0x80070490);
inline constexpr int32_t kSetNotFound = static_cast<int32_t>(0x80070492);
inline constexpr int32_t kDeviceGone = static_cast<int32_t>(0x8007048F);  // device not connected

namespace xu {
inline constexpr uint8_t kRegAddr = 2;
inline constexpr uint8_t kRegData = 3;
inline constexpr uint8_t kReg16Addr = 4;
inline constexpr uint8_t kReg16Data = 5;
inline constexpr uint8_t kSfCmdIndex = 7;
inline constexpr uint8_t kSfCmdValue = 8;
inline constexpr uint8_t kDfuEnableControl = 9;
inline constexpr uint8_t kDfuAccessControl = 10;
inline constexpr uint8_t kDfuChecksum = 11;
inline constexpr uint8_t kIspFwDownloadOk = 12;
inline constexpr uint8_t kSfSectorErase = 13;
inline constexpr uint8_t kSfAddress = 14;
inline constexpr uint8_t kSfData = 15;
inline constexpr uint8_t kSfProgramMode = 16;
inline constexpr uint8_t kIspSerialFlash = 20;
inline constexpr uint8_t kSfWindow = 22;
inline constexpr uint8_t kSfId = 23;
inline constexpr uint8_t kMcmFlashCmds = 24;
inline constexpr uint8_t kDfuChecksumTrigger = 26;

// Property sets: the unit's first and second GUID, and the private carrier, which reaches the
// unit without naming a set.
inline constexpr uint8_t kFirstSet = 0;
inline constexpr uint8_t kSecondSet = 1;
inline constexpr uint8_t kDirect = 0xFF;
}  // namespace xu

namespace reg {
inline constexpr uint16_t kPortMode = 0x2020;
inline constexpr uint16_t kPortBusy = 0x2021;
inline constexpr uint16_t kPortSend = 0x2022;
inline constexpr uint16_t kPortReceive = 0x2023;
inline constexpr uint16_t kPortReceived = 0x2024;
inline constexpr uint16_t kPortChipSelect = 0x2025;
inline constexpr uint16_t kResetMask = 0x2030;
inline constexpr uint16_t kResetKind = 0x2033;
inline constexpr uint16_t kResetStrobe = 0x2034;
inline constexpr uint16_t kSubVariant = 0x20D0;
inline constexpr uint16_t kBootMode0 = 0x20F5;  // ..0x20F8, kept across restarts
inline constexpr uint16_t kBootMode1 = 0x20F6;
inline constexpr uint16_t kChipId = 0x20FF;
inline constexpr uint16_t kModeRegister = 0x2C00;
}  // namespace reg

// One chip, as a bench describes it.
struct ChipConfig {
    uint8_t chipId = 0x60;                // 0x20FF; the high nibble is the family
    uint8_t subVariant = 0x00;            // 0x20D0
    uint8_t flashCode = 121;              // flash part by its code (FlashParts())
    uint32_t flashBytes = 0;              // 0: the part's own size
    uint8_t flashStatus = 0;              // non-volatile status bits at power-on (0x0C: protected)
    uint8_t busIdle = 0xFF;               // what the data line reads when no part drives it
    uint16_t chunkBytes = 4096;           // XU_DFU_ACCESS_CONTROL length (64..4096)
    uint16_t dataBlockBytes = 4096;       // XU_SF_DATA length (4096, or 64)
    uint32_t busyReads = 2;               // checksum-trigger reads that answer busy
    uint32_t portBusyReads = 0;           // 0x2021 reads that answer busy after each shifted byte
    uint8_t propertySet = xu::kFirstSet;  // the set (GUID) the unit's descriptor carries
    uint32_t absentSelectors = 0;         // bit s: selector s answers 0x80070490
    bool idCommandSlot = true;            // index 13 of XU_SF_CMD_INDEX exists
    uint32_t inPackageBytes = 0;          // in-package flash of family 'l'; 0: none
    bool inPackageBoot = false;           // power on in in-package mode (0x20F5/0x20F6 = AA/55)
    uint8_t modeRegister = 0;             // 0x2C00 at power-on
    std::vector<std::pair<uint16_t, uint8_t>> registers;  // further power-on register values
};

// One extension-unit request as the chip received it, for tests that check the exact traffic.
struct WireRequest {
    char kind = 'W';            // 'L' length query, 'W' write, 'R' read
    uint8_t selector = 0;
    uint32_t bytes = 0;         // data length of a write or read
    std::vector<uint8_t> data;  // what a write carried
    int32_t result = 0;         // the chip's answer
    uint64_t us = 0;            // virtual time from its arrival to its answer
};

// The family letter of an identification byte ('d', 'f'..'l'), or 0 for an unsupported nibble.
char FamilyOf(uint8_t chipId, uint8_t subVariant);
// The chip-select level of the bypass port: 2 for families 'f' and 'g', else 0.
uint8_t SelectLevelOf(char family);

class QuelmarChip {
public:
    // The chip keeps time on `clock` when one is given (several cameras of a bench may share
    // one), else on a clock of its own.
    explicit QuelmarChip(ChipConfig config, VirtualClock* clock = nullptr);
    QuelmarChip(const QuelmarChip&) = delete;
    QuelmarChip& operator=(const QuelmarChip&) = delete;

    // The extension unit.
    void UsePropertySet(uint8_t set) { propertySet_ = set; }
    int32_t GetLength(uint8_t selector, uint16_t& length);
    int32_t Write(uint8_t selector, const uint8_t* data, uint32_t n);
    int32_t Read(uint8_t selector, uint8_t* data, uint32_t n);

    // The bench side.
    const ChipConfig& Config() const { return config_; }
    char Family() const { return family_; }
    VirtualClock& Clock() { return *clock_; }
    SpiFlash& Flash() { return *flash_; }
    InPackageFlash* InPackage() { return inPackage_.get(); }
    std::vector<Fault>& Faults() { return faults_; }
    // Every request a fault could have hit, counted as the fault lines count them: per
    // extension-unit op and selector, and per register op and address (a 16-bit access counts
    // for both of its addresses). Requests after an unplug are not counted.
    using CallKey = std::pair<FaultOp, int32_t>;
    const std::map<CallKey, uint32_t>& CallCounts() const { return callCounts_; }
    uint8_t PeekRegister(uint16_t address) const { return regs_[address]; }
    // Appends every later request to `log` (nullptr stops). The log must outlive the recording.
    void RecordWire(std::vector<WireRequest>* log) { wire_ = log; }

    bool InDownloadMode() const { return downloading_; }
    uint8_t DeviceChecksum() const { return checksum_; }
    uint32_t BytesReceived() const { return received_; }
    bool Committed() const { return committed_; }      // since the last entry into download mode
    uint32_t CommitCount() const { return commits_; }  // since power-on; survives restarts
    bool InPackageMode() const { return inPackageMode_; }
    uint32_t RestartCount() const { return restarts_; }
    bool ReenumerationPending() const { return reenumerationPending_; }
    // Gone from the bus after an unplug fault: enumeration no longer lists it, and it stays gone
    // for the rest of the process.
    bool Unplugged() const { return unplugged_; }
    // The power went during a request (a cut fault); the chip is also Unplugged().
    bool PowerCut() const { return powerCut_; }
    // Extension-unit requests since the chip was built, refused ones included.
    uint32_t RequestCount() const { return requests_; }
    // Off the bus from the start, as a camera that lost its power in an earlier process.
    void SetOffBus() { unplugged_ = powerCut_ = true; }
    bool DownloadOk() const { return downloadOk_; }
    void SetDownloadOk(bool ok) { downloadOk_ = ok; }
    // The flash the chip runs its firmware from (above): the in-package flash or the serial one.
    bool BootsInPackage() const { return bootsInPackage_; }
    void SetBootsInPackage(bool inPackage) { bootsInPackage_ = inPackage && inPackage_; }
    // The array of that flash.
    const std::vector<uint8_t>& BootImage() const {
        return bootsInPackage_ ? inPackage_->Image() : flash_->Image();
    }
    void AcknowledgeReenumeration() { reenumerationPending_ = false; }

    // Power removed and applied again: every register to its power-on value, the in-package mode
    // as configured; the flash keeps its contents and protection bits.
    void PowerCycle();

private:
    struct Verdict {
        int32_t code = kOk;
        std::vector<const Fault*> corrupt;
    };
    void Account(const char* kind, uint8_t selector, uint32_t payload);
    void ArmCut();
    void CutPowerAt(uint64_t us);
    bool EndCut();
    Verdict Screen(FaultOp xuOp, uint8_t selector);
    int32_t Gate(FaultOp xuOp, uint8_t selector, Verdict& verdict);
    bool HoldBusy() const;
    bool ChecksumBusy() const;
    uint16_t ChunkBytes() const;
    bool Exists(uint8_t selector) const;
    void Corrupt(const Verdict& v, uint8_t* data, uint32_t n) const;
    uint16_t LengthOf(uint8_t selector) const;
    bool Readable(uint8_t selector) const;
    bool Writable(uint8_t selector) const;
    int32_t DoWrite(uint8_t selector, const uint8_t* d, uint32_t n);
    int32_t DoRead(uint8_t selector, uint8_t* d, uint32_t n);

    uint8_t ReadRegister(uint16_t address);
    void WriteRegister(uint16_t address, uint8_t value);
    void UpdateBypassSelect();
    void ShiftBypass(uint8_t mosi);
    void Restart();
    void ResetRegisters(bool keepBootMode);

    // The chip's flash controller.
    uint8_t Op(int slot) const { return table_[slot - 1]; }
    void TakeBus();
    void SendAddress(uint32_t address);
    bool WaitReady();
    bool EraseSector(uint32_t address);
    bool ProgramBurst(uint32_t address, const uint8_t* data, uint32_t n);
    bool ProgramFifo(uint32_t address, const uint8_t* data, uint32_t n);
    bool ProgramPaged(uint32_t address, const uint8_t* data, uint32_t n, uint32_t page);
    bool ProgramStream(uint32_t address, const uint8_t* data, uint32_t n);
    bool ReadFlash(uint32_t address, uint8_t* out, uint32_t n);
    void RunIdCommand();

    // The download engine.
    void EnterDownload(uint8_t value);
    bool Receive(const uint8_t* data, uint32_t n);
    void PlayCycles(int first, int count, uint32_t address, uint8_t data, bool withData);
    void WaitInPackage();
    bool Commit();
    void LeaveDownload();

    ChipConfig config_;
    std::unique_ptr<VirtualClock> ownClock_;
    VirtualClock* clock_;
    std::unique_ptr<SpiFlash> flash_;
    std::unique_ptr<InPackageFlash> inPackage_;
    std::vector<Fault> faults_;
    std::map<CallKey, uint32_t> callCounts_;
    char family_;
    uint8_t selectLevel_;
    uint8_t propertySet_ = xu::kDirect;
    std::vector<WireRequest>* wire_ = nullptr;

    std::vector<uint8_t> regs_;
    uint16_t regAddr_ = 0;
    uint16_t reg16Addr_ = 0;
    uint32_t portBusyLeft_ = 0;
    bool bypassSelected_ = false;

    std::array<uint8_t, 12> table_{};
    uint8_t programMode_ = 0;
    uint8_t cmdIndex_ = 0;
    uint8_t idOpcode_ = 0xFF;
    std::array<uint8_t, 3> idAnswer_{0xFF, 0xFF, 0xFF};
    uint32_t sfAddress_ = 0;
    std::array<uint8_t, 27> mcmCycles_{};

    bool downloading_ = false;
    uint8_t enableValue_ = 0;
    bool serialTarget_ = true;
    uint8_t checksum_ = 0;
    uint32_t received_ = 0;
    uint32_t nextErase_ = 0;  // first serial-flash address whose sector reception has not erased
    bool committed_ = false;
    uint32_t commits_ = 0;
    bool calculating_ = false;
    uint32_t busyLeft_ = 0;

    bool inPackageMode_ = false;
    uint32_t restarts_ = 0;
    bool reenumerationPending_ = false;
    bool unplugged_ = false;
    uint32_t requests_ = 0;
    uint64_t requestStartUs_ = 0;  // when the request being answered arrived
    bool cutArmed_ = false;
    bool powerCut_ = false;
    bool downloadOk_ = true;
    bool bootsInPackage_ = false;
};

}  // namespace emu::quelmar
