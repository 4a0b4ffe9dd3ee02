#include "emu/quelmar/quelmar_chip.h"

#include <algorithm>
#include <string>

namespace emu::quelmar {
namespace {

constexpr std::array<uint8_t, 12> kPowerOnTable = {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20,
                                                   0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01};
constexpr uint64_t kReadyTimeoutUs = 3000000;
constexpr uint64_t kPollStepUs = 100;
constexpr uint32_t kFifoBytes = 64;
constexpr uint32_t kSectorBytes = 4096;

uint32_t Le32(const uint8_t* d) {
    return static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
           static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24;
}

}  // namespace

char FamilyOf(uint8_t chipId, uint8_t subVariant) {
    switch (chipId >> 4) {
        case 0x6:
            return 'f';
        case 0x9:
            return 'g';
        case 0x8:
            return 'h';
        case 0xA:
            return subVariant == 0x10 ? 'd' : 'i';
        case 0xB:
            return 'j';
        case 0xC:
            return 'k';
        case 0xD:
            return 'l';
        case 0xE:
            return 'k';
        default:
            return 0;
    }
}

uint8_t SelectLevelOf(char family) { return family == 'f' || family == 'g' ? 2 : 0; }

QuelmarChip::QuelmarChip(ChipConfig config, VirtualClock* clock)
    : config_(std::move(config)),
      ownClock_(clock ? nullptr : std::make_unique<VirtualClock>()),
      clock_(clock ? clock : ownClock_.get()),
      family_(FamilyOf(config_.chipId, config_.subVariant)),
      selectLevel_(SelectLevelOf(family_)),
      regs_(0x10000, 0) {
    const FlashPart* part = FindFlashPart(config_.flashCode);
    flash_ = std::make_unique<SpiFlash>(part ? *part : *FindFlashPart(kUnknownPartCode), config_.flashBytes,
                                        *clock_, config_.busIdle);
    flash_->SetNonVolatileStatus(config_.flashStatus);
    if (config_.inPackageBytes)
        inPackage_ = std::make_unique<InPackageFlash>(config_.inPackageBytes, *clock_);
    bootsInPackage_ = inPackage_ && config_.inPackageBoot;
    PowerCycle();
}

// ---------------------------------------------------------------------------------------------
// Requests

void QuelmarChip::Account(const char* kind, uint8_t selector, uint32_t payload) {
    const uint64_t us = cost::XuRequestUs(payload);
    clock_->Record(kind, payload, us);
    clock_->Record(std::string(kind) + ".s" + std::to_string(selector), payload, us);
    clock_->Advance(us);
}

QuelmarChip::Verdict QuelmarChip::Screen(FaultOp xuOp, uint8_t selector) {
    Verdict v;
    FaultOp regOp = FaultOp::None;
    uint16_t regLo = 0, regHi = 0;
    if (xuOp != FaultOp::XuLength && (selector == xu::kRegData || selector == xu::kReg16Data)) {
        regOp = xuOp == FaultOp::XuRead ? FaultOp::RegRead : FaultOp::RegWrite;
        regLo = selector == xu::kRegData ? regAddr_ : reg16Addr_;
        regHi = selector == xu::kRegData ? regLo : static_cast<uint16_t>(regLo + 1);
    }
    ++callCounts_[{xuOp, selector}];
    if (regOp != FaultOp::None) {
        ++callCounts_[{regOp, regLo}];
        if (regHi != regLo) ++callCounts_[{regOp, regHi}];
    }
    for (Fault& f : faults_) {
        if (f.kind != FaultKind::Fail && f.kind != FaultKind::Corrupt && f.kind != FaultKind::Unplug) continue;
        bool match = false;
        if (f.op == xuOp)
            match = f.target < 0 || f.target == selector;
        else if (regOp != FaultOp::None && f.op == regOp)
            match = f.target < 0 || f.target == regLo || f.target == regHi;
        if (!match || !f.Covers(++f.calls)) continue;
        if (f.kind == FaultKind::Unplug)
            unplugged_ = true;
        else if (f.kind == FaultKind::Corrupt)
            v.corrupt.push_back(&f);
        else if (v.code == kOk)
            v.code = f.code;
    }
    return v;
}

// As a request arrives, before it costs any time: a cut that falls in this request is armed.
void QuelmarChip::ArmCut() {
    requestStartUs_ = clock_->NowUs();
    if (unplugged_) return;
    ++requests_;
    for (const Fault& f : faults_) {
        if (f.kind != FaultKind::Cut || f.value != requests_) continue;
        cutArmed_ = true;
        CutPowerAt(clock_->NowUs() + f.offset);
    }
}

// Both flashes lose their power at the same moment.
void QuelmarChip::CutPowerAt(uint64_t us) {
    flash_->CutPowerAt(us);
    if (inPackage_) inPackage_->CutPowerAt(us);
}

// When the request is over: true when the power went during it. At the latest it goes now.
bool QuelmarChip::EndCut() {
    if (!cutArmed_) return false;
    cutArmed_ = false;
    CutPowerAt(clock_->NowUs());
    unplugged_ = powerCut_ = true;
    return true;
}

// Everything a request passes before the control itself sees it.
int32_t QuelmarChip::Gate(FaultOp xuOp, uint8_t selector, Verdict& verdict) {
    verdict = Verdict{};
    if (unplugged_ || (cutArmed_ && !flash_->Powered())) return kDeviceGone;
    verdict = Screen(xuOp, selector);
    if (unplugged_) return kDeviceGone;
    if (verdict.code != kOk) return verdict.code;
    bool refuseFirst = false;
    for (Fault& f : faults_) {
        if (f.kind == FaultKind::NotReady && f.calls < f.value) {
            ++f.calls;
            return kNotReady;
        }
        refuseFirst |= f.kind == FaultKind::RefuseFirstSet;
    }
    const uint8_t unitSet = refuseFirst ? xu::kSecondSet : config_.propertySet;
    if (propertySet_ != xu::kDirect && propertySet_ != unitSet) return kSetNotFound;
    if (!Exists(selector)) return kNotFound;
    return kOk;
}

bool QuelmarChip::HoldBusy() const {
    return std::any_of(faults_.begin(), faults_.end(),
                       [](const Fault& f) { return f.kind == FaultKind::HoldBusy; });
}

bool QuelmarChip::ChecksumBusy() const { return calculating_ && (busyLeft_ > 0 || HoldBusy()); }

uint16_t QuelmarChip::ChunkBytes() const {
    uint16_t bytes = config_.chunkBytes;
    for (const Fault& f : faults_)
        if (f.kind == FaultKind::ChunkSize) bytes = static_cast<uint16_t>(f.value);
    return bytes;
}

bool QuelmarChip::Exists(uint8_t selector) const {
    if (selector < 32 && (config_.absentSelectors >> selector & 1u)) return false;
    switch (selector) {
        case xu::kRegAddr:
        case xu::kRegData:
        case xu::kReg16Addr:
        case xu::kReg16Data:
        case xu::kSfCmdIndex:
        case xu::kSfCmdValue:
        case xu::kDfuEnableControl:
        case xu::kDfuAccessControl:
        case xu::kDfuChecksum:
        case xu::kIspFwDownloadOk:
        case xu::kSfSectorErase:
        case xu::kSfAddress:
        case xu::kSfData:
        case xu::kSfProgramMode:
        case xu::kIspSerialFlash:
        case xu::kSfWindow:
        case xu::kSfId:
        case xu::kDfuChecksumTrigger:
            return true;
        case xu::kMcmFlashCmds:
            return inPackage_ != nullptr;
        default:
            return false;
    }
}

uint16_t QuelmarChip::LengthOf(uint8_t selector) const {
    switch (selector) {
        case xu::kRegAddr:
        case xu::kReg16Addr:
        case xu::kReg16Data:
            return 2;
        case xu::kDfuAccessControl:
            return ChunkBytes();
        case xu::kSfSectorErase:
        case xu::kSfAddress:
            return 4;
        case xu::kSfData:
            return config_.dataBlockBytes;
        case xu::kSfWindow:
            return 64;
        case xu::kSfId:
            return 3;
        case xu::kMcmFlashCmds:
            return 27;
        default:
            return 1;
    }
}

bool QuelmarChip::Readable(uint8_t selector) const {
    return selector != xu::kDfuAccessControl && selector != xu::kSfSectorErase;
}

bool QuelmarChip::Writable(uint8_t selector) const {
    return selector != xu::kDfuChecksum && selector != xu::kSfId;
}

int32_t QuelmarChip::GetLength(uint8_t selector, uint16_t& length) {
    ArmCut();
    Account("xu.length", selector, cost::kLengthReplyBytes);
    int32_t hr = [&] {
        Verdict v;
        if (int32_t hr = Gate(FaultOp::XuLength, selector, v); hr != kOk) return hr;
        length = LengthOf(selector);
        return kOk;
    }();
    if (EndCut()) hr = kDeviceGone;
    if (wire_) wire_->push_back({'L', selector, 0, {}, hr, clock_->NowUs() - requestStartUs_});
    return hr;
}

int32_t QuelmarChip::Write(uint8_t selector, const uint8_t* data, uint32_t n) {
    ArmCut();
    Account("xu.write", selector, n);
    if (n && !data) return EndCut() ? kDeviceGone : kEPointer;
    // Logged before it acts: a write that restarts the chip is still seen in order.
    std::vector<WireRequest>* log = wire_;
    if (log) log->push_back({'W', selector, n, std::vector<uint8_t>(data, data + n), kOk});
    const size_t entry = log ? log->size() - 1 : 0;
    int32_t hr = [&] {
        Verdict v;
        if (int32_t hr = Gate(FaultOp::XuWrite, selector, v); hr != kOk) return hr;
        if (!Writable(selector) || n != LengthOf(selector)) return kGenFailure;
        return DoWrite(selector, data, n);
    }();
    if (EndCut()) hr = kDeviceGone;
    if (log) {
        (*log)[entry].result = hr;
        (*log)[entry].us = clock_->NowUs() - requestStartUs_;
    }
    return hr;
}

int32_t QuelmarChip::Read(uint8_t selector, uint8_t* data, uint32_t n) {
    ArmCut();
    Account("xu.read", selector, n);
    if (n && !data) return EndCut() ? kDeviceGone : kEPointer;
    int32_t hr = [&] {
        Verdict v;
        if (int32_t hr = Gate(FaultOp::XuRead, selector, v); hr != kOk) return hr;
        if (!Readable(selector) || n != LengthOf(selector)) return kGenFailure;
        const int32_t hr = DoRead(selector, data, n);
        if (hr == kOk) Corrupt(v, data, n);
        return hr;
    }();
    if (EndCut()) hr = kDeviceGone;
    if (wire_) wire_->push_back({'R', selector, n, {}, hr, clock_->NowUs() - requestStartUs_});
    return hr;
}

void QuelmarChip::Corrupt(const Verdict& v, uint8_t* data, uint32_t n) const {
    for (const Fault* f : v.corrupt)
        if (f->offset < n) data[f->offset] ^= f->mask;
}

int32_t QuelmarChip::DoWrite(uint8_t selector, const uint8_t* d, uint32_t n) {
    switch (selector) {
        case xu::kRegAddr:
            regAddr_ = static_cast<uint16_t>(d[0] | d[1] << 8);
            return kOk;
        case xu::kRegData:
            WriteRegister(regAddr_, d[0]);
            return kOk;
        case xu::kReg16Addr:
            reg16Addr_ = static_cast<uint16_t>(d[0] | d[1] << 8);
            return kOk;
        case xu::kReg16Data:
            WriteRegister(reg16Addr_, d[0]);
            WriteRegister(static_cast<uint16_t>(reg16Addr_ + 1), d[1]);
            return kOk;
        case xu::kSfCmdIndex:
            if (d[0] < 1 || d[0] > 13 || (d[0] == 13 && !config_.idCommandSlot)) return kGenFailure;
            cmdIndex_ = d[0];
            return kOk;
        case xu::kSfCmdValue:
            if (cmdIndex_ == 0) return kGenFailure;
            if (cmdIndex_ == 13) {
                idOpcode_ = d[0];
                RunIdCommand();
            } else {
                table_[cmdIndex_ - 1] = d[0];
            }
            return kOk;
        case xu::kDfuEnableControl:
            if (d[0] == 0)
                LeaveDownload();
            else if (d[0] == 1 || d[0] == 3)
                EnterDownload(d[0]);
            else
                return kGenFailure;
            return kOk;
        case xu::kDfuAccessControl:
            if (!downloading_) return kGenFailure;
            return Receive(d, n) ? kOk : kGenFailure;
        case xu::kIspFwDownloadOk:
            if (!downloading_ || d[0] != 1) return kGenFailure;
            return Commit() ? kOk : kGenFailure;
        case xu::kSfSectorErase:
            return EraseSector(Le32(d)) ? kOk : kGenFailure;
        case xu::kSfAddress:
            sfAddress_ = Le32(d);
            return kOk;
        case xu::kSfData: {
            const bool ok = ProgramFifo(sfAddress_, d, n);
            sfAddress_ += n;
            return ok ? kOk : kGenFailure;
        }
        case xu::kSfProgramMode:
            if (d[0] > 2) return kGenFailure;
            programMode_ = d[0];
            return kOk;
        case xu::kIspSerialFlash:
            if (d[0] == 1)
                serialTarget_ = true;
            else if (d[0] == 0 && inPackage_)
                serialTarget_ = false;
            else
                return kGenFailure;
            return kOk;
        case xu::kSfWindow:
            if (family_ == 'j') {
                if (d[0] > n - 1) return kGenFailure;
                return ProgramFifo(sfAddress_, d + 1, d[0]) ? kOk : kGenFailure;
            }
            return ProgramFifo(sfAddress_, d, n) ? kOk : kGenFailure;
        case xu::kMcmFlashCmds:
            std::copy_n(d, mcmCycles_.size(), mcmCycles_.begin());
            return kOk;
        case xu::kDfuChecksumTrigger:
            if (d[0] != 1) return kGenFailure;
            calculating_ = true;
            busyLeft_ = config_.busyReads;
            return kOk;
        default:
            return kGenFailure;
    }
}

int32_t QuelmarChip::DoRead(uint8_t selector, uint8_t* d, uint32_t n) {
    switch (selector) {
        case xu::kRegAddr:
            d[0] = static_cast<uint8_t>(regAddr_);
            d[1] = static_cast<uint8_t>(regAddr_ >> 8);
            return kOk;
        case xu::kRegData:
            d[0] = ReadRegister(regAddr_);
            return kOk;
        case xu::kReg16Addr:
            d[0] = static_cast<uint8_t>(reg16Addr_);
            d[1] = static_cast<uint8_t>(reg16Addr_ >> 8);
            return kOk;
        case xu::kReg16Data:
            d[0] = ReadRegister(reg16Addr_);
            d[1] = ReadRegister(static_cast<uint16_t>(reg16Addr_ + 1));
            return kOk;
        case xu::kSfCmdIndex:
            d[0] = cmdIndex_;
            return kOk;
        case xu::kSfCmdValue:
            d[0] = cmdIndex_ == 13 ? idOpcode_ : cmdIndex_ ? table_[cmdIndex_ - 1] : 0;
            return kOk;
        case xu::kDfuEnableControl:
            d[0] = downloading_ ? enableValue_ : 0;
            return kOk;
        case xu::kDfuChecksum:
            if (ChecksumBusy()) return kNotReady;
            d[0] = checksum_;
            return kOk;
        case xu::kIspFwDownloadOk:
            d[0] = committed_ ? 1 : 0;
            return kOk;
        case xu::kSfAddress:
            for (int i = 0; i < 4; ++i) d[i] = static_cast<uint8_t>(sfAddress_ >> (8 * i));
            return kOk;
        case xu::kSfData: {
            const bool ok = ReadFlash(sfAddress_, d, n);
            sfAddress_ += n;
            return ok ? kOk : kGenFailure;
        }
        case xu::kSfProgramMode:
            d[0] = programMode_;
            return kOk;
        case xu::kIspSerialFlash:
            d[0] = serialTarget_ ? 1 : 0;
            return kOk;
        case xu::kSfWindow:
            return ReadFlash(sfAddress_, d, n) ? kOk : kGenFailure;
        case xu::kSfId:
            std::copy(idAnswer_.begin(), idAnswer_.end(), d);
            return kOk;
        case xu::kMcmFlashCmds:
            std::copy(mcmCycles_.begin(), mcmCycles_.end(), d);
            return kOk;
        case xu::kDfuChecksumTrigger:
            if (ChecksumBusy()) {
                if (busyLeft_) --busyLeft_;
                d[0] = 1;
            } else {
                calculating_ = false;
                d[0] = 0;
            }
            return kOk;
        default:
            return kGenFailure;
    }
}

// ---------------------------------------------------------------------------------------------
// Registers and the bypass port

uint8_t QuelmarChip::ReadRegister(uint16_t address) {
    switch (address) {
        case reg::kPortBusy:
            if (portBusyLeft_) {
                --portBusyLeft_;
                return 1;
            }
            return 0;
        case reg::kPortReceive:
            if (regs_[reg::kPortMode] & 0x80) ShiftBypass(0x00);
            return regs_[address];
        default:
            return regs_[address];
    }
}

void QuelmarChip::WriteRegister(uint16_t address, uint8_t value) {
    switch (address) {
        case reg::kChipId:
        case reg::kSubVariant:
        case reg::kPortBusy:
        case reg::kPortReceived:
            return;
        case reg::kPortMode:
        case reg::kPortChipSelect:
            regs_[address] = value;
            UpdateBypassSelect();
            return;
        case reg::kPortSend:
            regs_[address] = value;
            if (regs_[reg::kPortMode] & 0x80) ShiftBypass(value);
            return;
        case reg::kResetStrobe: {
            const uint8_t before = regs_[address];
            regs_[address] = value;
            if (before == 0 && value == 1 && regs_[reg::kResetMask] == 0xFF && regs_[reg::kResetKind] == 2)
                Restart();
            return;
        }
        default:
            regs_[address] = value;
    }
}

void QuelmarChip::UpdateBypassSelect() {
    const bool portOn = regs_[reg::kPortMode] & 0x80;
    const bool pinHigh = regs_[reg::kPortChipSelect] & 0x02;
    const bool active = portOn && (selectLevel_ == 2 ? pinHigh : !pinHigh);
    if (active && !bypassSelected_) {
        flash_->Select();
        bypassSelected_ = true;
    } else if (!active && bypassSelected_) {
        flash_->Deselect();
        bypassSelected_ = false;
    }
}

void QuelmarChip::ShiftBypass(uint8_t mosi) {
    regs_[reg::kPortReceived] = bypassSelected_ ? flash_->Transfer(mosi) : flash_->BusIdle();
    portBusyLeft_ = config_.portBusyReads;
}

// ---------------------------------------------------------------------------------------------
// Power and restarts

void QuelmarChip::ResetRegisters(bool keepBootMode) {
    uint8_t boot[4];
    std::copy_n(regs_.begin() + reg::kBootMode0, 4, boot);
    std::fill(regs_.begin(), regs_.end(), 0);
    if (keepBootMode) std::copy_n(boot, 4, regs_.begin() + reg::kBootMode0);
    for (const auto& [address, value] : config_.registers) regs_[address] = value;
    regs_[reg::kChipId] = config_.chipId;
    regs_[reg::kSubVariant] = config_.subVariant;
    regs_[reg::kModeRegister] = config_.modeRegister;
    regs_[reg::kPortChipSelect] = static_cast<uint8_t>(2 - selectLevel_);
    regAddr_ = reg16Addr_ = 0;
    portBusyLeft_ = 0;
    table_ = kPowerOnTable;
    programMode_ = cmdIndex_ = 0;
    idOpcode_ = 0xFF;
    idAnswer_ = {0xFF, 0xFF, 0xFF};
    sfAddress_ = 0;
    mcmCycles_ = {};
    downloading_ = committed_ = calculating_ = false;
    enableValue_ = checksum_ = 0;
    serialTarget_ = true;
    received_ = nextErase_ = busyLeft_ = 0;
}

void QuelmarChip::PowerCycle() {
    TakeBus();
    ResetRegisters(false);
    if (config_.inPackageBoot) {
        regs_[reg::kBootMode0] = 0xAA;
        regs_[reg::kBootMode1] = 0x55;
    }
    inPackageMode_ = inPackage_ && regs_[reg::kBootMode0] == 0xAA && regs_[reg::kBootMode1] == 0x55;
    commits_ = 0;
}

void QuelmarChip::Restart() {
    TakeBus();
    ResetRegisters(true);
    inPackageMode_ = inPackage_ && regs_[reg::kBootMode0] == 0xAA && regs_[reg::kBootMode1] == 0x55;
    ++restarts_;
    reenumerationPending_ = true;
}

// ---------------------------------------------------------------------------------------------
// The chip's flash controller

void QuelmarChip::TakeBus() {
    if (!bypassSelected_) return;
    flash_->Deselect();
    bypassSelected_ = false;
}

void QuelmarChip::SendAddress(uint32_t address) {
    flash_->Transfer(static_cast<uint8_t>(address >> 16));
    flash_->Transfer(static_cast<uint8_t>(address >> 8));
    flash_->Transfer(static_cast<uint8_t>(address));
}

bool QuelmarChip::WaitReady() {
    TakeBus();
    const uint64_t deadline = clock_->NowUs() + kReadyTimeoutUs;
    for (;;) {
        if (!flash_->Powered()) return false;
        flash_->Select();
        flash_->Transfer(Op(3));
        const uint8_t status = flash_->Transfer(0);
        flash_->Deselect();
        if (!(status & spi::kStatusWip)) return true;
        const uint64_t now = clock_->NowUs();
        if (now >= deadline) return false;
        const uint64_t remaining = flash_->BusyRemainingUs();
        clock_->Advance(std::min(remaining ? remaining : kPollStepUs, deadline - now));
    }
}

bool QuelmarChip::EraseSector(uint32_t address) {
    if (!WaitReady()) return false;
    flash_->Select();
    flash_->Transfer(Op(4));
    flash_->Deselect();
    flash_->Select();
    flash_->Transfer(Op(6));
    SendAddress(address);
    flash_->Deselect();
    return WaitReady();
}

bool QuelmarChip::ProgramBurst(uint32_t address, const uint8_t* data, uint32_t n) {
    if (!WaitReady()) return false;
    flash_->Select();
    flash_->Transfer(Op(4));
    flash_->Deselect();
    flash_->Select();
    flash_->Transfer(Op(9));
    SendAddress(address);
    for (uint32_t i = 0; i < n; ++i) flash_->Transfer(data[i]);
    flash_->Deselect();
    return WaitReady();
}

bool QuelmarChip::ProgramStream(uint32_t address, const uint8_t* data, uint32_t n) {
    if (n == 0) return true;
    if (Op(10) == 0xFF) {  // no stream opcode: one byte program per byte
        for (uint32_t i = 0; i < n; ++i)
            if (!ProgramBurst(address + i, data + i, 1)) return false;
        return true;
    }
    if (!WaitReady()) return false;
    flash_->Select();
    flash_->Transfer(Op(4));
    flash_->Deselect();
    for (uint32_t i = 0; i < n; ++i) {
        flash_->Select();
        flash_->Transfer(Op(10));
        if (i == 0) SendAddress(address);
        flash_->Transfer(data[i]);
        flash_->Deselect();
        if (!WaitReady()) return false;
    }
    flash_->Select();
    flash_->Transfer(Op(5));
    flash_->Deselect();
    return true;
}

bool QuelmarChip::ProgramFifo(uint32_t address, const uint8_t* data, uint32_t n) {
    if (programMode_ == 1) return ProgramStream(address, data, n);
    for (uint32_t done = 0; done < n; done += kFifoBytes)
        if (!ProgramBurst(address + done, data + done, std::min(kFifoBytes, n - done))) return false;
    return true;
}

bool QuelmarChip::ProgramPaged(uint32_t address, const uint8_t* data, uint32_t n, uint32_t page) {
    if (programMode_ == 1) return ProgramStream(address, data, n);
    for (uint32_t done = 0; done < n;) {
        const uint32_t at = address + done;
        const uint32_t piece = std::min(page - at % page, n - done);
        if (!ProgramBurst(at, data + done, piece)) return false;
        done += piece;
    }
    return true;
}

bool QuelmarChip::ReadFlash(uint32_t address, uint8_t* out, uint32_t n) {
    if (!WaitReady()) return false;
    flash_->Select();
    flash_->Transfer(Op(1));
    SendAddress(address);
    for (uint32_t i = 0; i < n; ++i) out[i] = flash_->Transfer(0);
    flash_->Deselect();
    return true;
}

void QuelmarChip::RunIdCommand() {
    TakeBus();
    flash_->Select();
    flash_->Transfer(idOpcode_);
    if (idOpcode_ != spi::kJedecId) SendAddress(0);
    for (uint8_t& b : idAnswer_) b = flash_->Transfer(0);
    flash_->Deselect();
}

// ---------------------------------------------------------------------------------------------
// The download engine

void QuelmarChip::EnterDownload(uint8_t value) {
    downloading_ = true;
    enableValue_ = value;
    checksum_ = 0;
    received_ = nextErase_ = 0;
    committed_ = calculating_ = false;
    busyLeft_ = 0;
    // Before anything is erased: a cut from here on leaves a camera that does not start the flash
    // being written.
    downloadOk_ = false;
    bootsInPackage_ = !serialTarget_ && inPackage_;
    if (!serialTarget_ && inPackage_) {
        PlayCycles(0, 6, 0, 0, false);
        WaitInPackage();
    }
}

void QuelmarChip::PlayCycles(int first, int count, uint32_t address, uint8_t data, bool withData) {
    for (int c = first; c < first + count; ++c) {
        const uint8_t* cycle = &mcmCycles_[3 * static_cast<size_t>(c)];
        inPackage_->BusWrite(static_cast<uint32_t>(cycle[0] << 8 | cycle[1]), cycle[2]);
    }
    if (withData) inPackage_->BusWrite(address, data);
}

void QuelmarChip::WaitInPackage() { clock_->Advance(inPackage_->BusyRemainingUs()); }

bool QuelmarChip::Receive(const uint8_t* data, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) checksum_ ^= data[i];
    const uint32_t start = received_;
    received_ += n;
    if (!serialTarget_) {
        const uint32_t size = inPackage_ ? inPackage_->Size() : 0;
        for (uint32_t i = 0; i < n && start + i < size; ++i) {
            PlayCycles(6, 3, start + i, data[i], true);
            WaitInPackage();
        }
        return true;
    }
    const uint32_t size = flash_->Size();
    if (start >= size) return true;
    const uint32_t m = std::min(n, size - start);
    for (; nextErase_ < start + m; nextErase_ += kSectorBytes)
        if (!EraseSector(nextErase_)) return false;
    return ProgramPaged(start, data, m, programMode_ == 2 ? 32 : 256);
}

bool QuelmarChip::Commit() {
    committed_ = true;
    ++commits_;
    downloadOk_ = true;
    if (!serialTarget_) return true;
    uint8_t head[2];
    if (!ReadFlash(0, head, 2)) return false;
    if (head[0] != 0xF9 || head[1] != 0xFF) return true;
    static constexpr uint8_t kValid[2] = {0x89, 0x17};
    return ProgramPaged(0, kValid, 2, 256);
}

void QuelmarChip::LeaveDownload() {
    if (!downloading_) return;
    downloading_ = false;
    enableValue_ = 0;
    if (committed_ && (regs_[reg::kModeRegister] & 0x02)) Restart();
}

}  // namespace emu::quelmar
