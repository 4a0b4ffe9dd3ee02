// The serial flash behind the chip: part identification, the chip's command table, the register-level
// bypass port, write protection, reads and writes by address, the soft reset and the mode switch of
// family 'l'.
#include <algorithm>
#include <cstring>

#include "camlib/internals.h"
#include "camlib/recorder.h"

// Ends the enclosing function with the first failing step's result.
#define CAMLIB_TRY(step)                                   \
    do {                                                   \
        if (int32_t r_ = (step); r_ != hr::kOk) return r_; \
    } while (0)

namespace camlib {
namespace {

constexpr uint8_t kOpWriteStatus = 0x01;
constexpr uint8_t kOpPageProgram = 0x02;
constexpr uint8_t kOpRead = 0x03;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpReadStatus = 0x05;
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kIdSlot = 13;
constexpr uint32_t kWindowBytes = 64;
constexpr uint32_t kBypassRecordBytes = 33;
constexpr uint8_t kProtectBits = 0x0C;

// The register-level serial-flash port: the host clocks the part byte by byte through registers
// 0x2020..0x2025.
class Bypass {
public:
    explicit Bypass(CamHandle* h) : h_(h), u_(*h->pExt) {}

    int32_t On() { return WriteReg8(u_, reg::kPortMode, 0x80); }
    int32_t Off() { return WriteReg8(u_, reg::kPortMode, 0x00); }
    int32_t Select() { return WriteReg8(u_, reg::kPortChipSelect, u_.selectLevel); }
    int32_t Release() {
        return WriteReg8(u_, reg::kPortChipSelect, static_cast<uint8_t>(2 - u_.selectLevel));
    }
    int32_t Send(uint8_t byte) { return WriteReg8(u_, reg::kPortSend, byte); }
    int32_t SendWait(uint8_t byte) {
        CAMLIB_TRY(Send(byte));
        return Wait();
    }
    int32_t Wait() {
        for (uint32_t i = 0; i < kPortBusyPolls; ++i) {
            uint8_t busy = 0;
            CAMLIB_TRY(ReadReg8(u_, reg::kPortBusy, &busy));
            if (busy == 0) return hr::kOk;
        }
        Trace(h_, text::kPortBusy, kPortBusyPolls);
        return hr::kTimeout;
    }
    int32_t Receive(uint8_t* byte) {
        uint8_t ignored = 0;
        CAMLIB_TRY(ReadReg8(u_, reg::kPortReceive, &ignored));
        CAMLIB_TRY(Wait());
        return ReadReg8(u_, reg::kPortReceived, byte);
    }
    // A one-byte command in its own chip-select session (write enable, enable-write-status).
    int32_t Command(uint8_t op) {
        CAMLIB_TRY(On());
        CAMLIB_TRY(Select());
        CAMLIB_TRY(SendWait(op));
        return Release();
    }
    // Write disable is sent without a chip-select session of its own: the byte reaches the part
    // only when a session is open, and is lost on the port otherwise. The chip expects exactly
    // these three register accesses here.
    int32_t WriteDisable() {
        CAMLIB_TRY(On());
        return SendWait(kOpWriteDisable);
    }
    int32_t SendAddress(uint32_t address) {
        CAMLIB_TRY(SendWait(0));
        CAMLIB_TRY(SendWait(static_cast<uint8_t>(address >> 8)));
        return SendWait(static_cast<uint8_t>(address));
    }

private:
    CamHandle* h_;
    ExtUnit& u_;
};

bool Usable(const CamHandle* h) { return h && h->pExt; }

// One identification command, through the chip's identification slot when it has one, else
// through the bypass port.
int32_t Identify(CamHandle* h, uint8_t command, uint8_t answer[3]) {
    ExtUnit& u = *h->pExt;
    const uint8_t slot = kIdSlot;
    if (XuWrite(u, XU_SF_CMD_INDEX, &slot, 1) == hr::kOk) {
        CAMLIB_TRY(XuWrite(u, XU_SF_CMD_INDEX, &slot, 1));
        CAMLIB_TRY(XuWrite(u, XU_SF_CMD_VALUE, &command, 1));
        return XuRead(u, XU_SF_ID, answer, 3);
    }
    Bypass port(h);
    CAMLIB_TRY(port.WriteDisable());
    CAMLIB_TRY(port.Select());
    CAMLIB_TRY(port.SendWait(command));
    if (command != kOpJedec) CAMLIB_TRY(port.SendAddress(0));
    for (int i = 0; i < 3; ++i) CAMLIB_TRY(port.Receive(&answer[i]));
    return port.Release();
}

uint8_t Lookup(uint8_t command, const uint8_t answer[3]) {
    const FlashPart* part = IdentifyFlashPart(command, answer);
    return part ? part->code : kFlashUnknown;
}

bool Blank(const uint8_t answer[3]) {
    return std::all_of(answer, answer + 3, [](uint8_t b) { return b == 0xFF; }) ||
           std::all_of(answer, answer + 3, [](uint8_t b) { return b == 0x00; });
}

}  // namespace

int32_t SetFlashAddress(ExtUnit& u, uint32_t address) {
    const uint8_t a[4] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0, 0};
    return XuWrite(u, XU_SF_ADDRESS, a, 4);
}

int32_t EraseFlashSector(ExtUnit& u, uint32_t address) {
    const uint8_t a[4] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0, 0};
    return XuWrite(u, XU_SF_SECTOR_ERASE, a, 4);
}

// A data-block length the range operations can work with: whole 64-byte blocks that tile a sector.
bool UsableBlock(uint32_t length) {
    return length >= kWindowBytes && length <= kSectorBytes && kSectorBytes % length == 0 &&
           length % kWindowBytes == 0;
}

namespace {

int Protect(CamHandle* h, uint32_t code, uint8_t value) {
    if (!Usable(h)) return kResultFail;
    if (!CamFlashTypeValid(code) || !RegisterLevelFamily(h->pExt->family)) return kResultInvalid;
    uint8_t after = 0;
    if (WriteFlashStatus(h, code, value, &after) != hr::kOk) return kResultFail;
    // The part may refuse the new value (a locked status register): report what it holds now.
    return (after & kProtectBits) == (value & kProtectBits) ? kResultOk : kResultFail;
}

}  // namespace

bool CamFlashTypeValid(uint32_t code) { return FlashTableIndex(code) >= 0; }

int32_t WriteCommandTable(ExtUnit& u, uint32_t code) {
    const CommandTable& table = CommandTableOf(code);
    for (uint8_t slot = 1; slot <= 12; ++slot) {
        CAMLIB_TRY(XuWrite(u, XU_SF_CMD_INDEX, &slot, 1));
        CAMLIB_TRY(XuWrite(u, XU_SF_CMD_VALUE, &table.slots[slot - 1], 1));
    }
    return XuWrite(u, XU_SF_PROGRAM_MODE, &table.programMode, 1);
}

TableLoad LoadCommandTable(ExtUnit& u, uint32_t code) {
    TableLoad load;
    load.table = WriteCommandTable(u, code);
    if (load.table != hr::kOk) return load;
    load.length = XuLength(u, XU_SF_DATA, &load.dataLength);
    if (load.length != hr::kOk) load.dataLength = 0;
    return load;
}

namespace {
int ProbeFlashType(CamHandle* h, uint8_t* code) {
    if (!Usable(h) || !code) return kResultFail;
    ExtUnit& u = *h->pExt;
    *code = kFlashUnknown;
    uint8_t boot0 = 0, boot1 = 0;
    auto readBoot = [&] {
        return ReadReg8(u, reg::kBoot0, &boot0) == hr::kOk && ReadReg8(u, reg::kBoot1, &boot1) == hr::kOk;
    };
    if (!readBoot()) return kResultFail;
    // A camera known to be in in-package mode whose boot registers now say otherwise is asked once
    // more: that answer sends its download to the other flash, and one garbled read must not.
    const bool expected = u.inPackageMode || u.switchedToInPackage;
    if (expected && !(boot0 == 0xAA && boot1 == 0x55) && !readBoot()) return kResultFail;
    if (boot0 == 0xAA && boot1 == 0x55) {
        // Once seen, the camera stays one with in-package flash: its download then targets the
        // serial flash or the in-package flash by the code each probe gives.
        u.inPackageMode = true;
        *code = kFlashInPackage;
        return kResultOk;
    }
    uint8_t answer[3] = {};
    if (Identify(h, kOpRems, answer) != hr::kOk) return kResultFail;
    if (!Blank(answer)) {
        *code = Lookup(kOpRems, answer);
        return kResultOk;
    }
    if (Identify(h, kOpRes, answer) != hr::kOk) return kResultFail;
    if (uint8_t c = Lookup(kOpRes, answer); c != kFlashUnknown) {
        *code = c;
        return kResultOk;
    }
    if (Identify(h, kOpJedec, answer) != hr::kOk) return kResultFail;
    *code = Lookup(kOpJedec, answer);
    return kResultOk;
}
}  // namespace

int CamProbeFlashType(CamHandle* h, uint8_t* code) {
    const int r = ProbeFlashType(h, code);
    // A replay check needs the part the camera holds, and only the library knows it.
    if (r == kResultOk) RecordNote("flash", std::to_string(*code));
    return r;
}

int32_t CamSetFlashType(CamHandle* h, uint32_t code) {
    if (!Usable(h)) return kResultFail;
    // A table that did not load is a failure whatever the length query answers afterwards.
    const TableLoad load = LoadCommandTable(*h->pExt, code);
    return load.table != hr::kOk ? load.table : load.length;
}

int32_t ReadFlashStatus(CamHandle* h, uint8_t* status) {
    Bypass port(h);
    CAMLIB_TRY(port.On());
    for (uint32_t i = 0; i < kStatusReads; ++i) {
        uint8_t s = 0;
        CAMLIB_TRY(port.Select());
        CAMLIB_TRY(port.SendWait(kOpReadStatus));
        CAMLIB_TRY(port.Receive(&s));
        CAMLIB_TRY(port.Release());
        if (!(s & 0x01)) {
            *status = s;
            return hr::kOk;
        }
    }
    Trace(h, text::kStatusBusy, kStatusReads);
    return hr::kTimeout;
}

int32_t WriteFlashStatus(CamHandle* h, uint32_t code, uint8_t value, uint8_t* after) {
    uint8_t status = 0;
    CAMLIB_TRY(ReadFlashStatus(h, &status));
    if (status == value) {
        *after = status;
        return hr::kOk;
    }
    // A part whose table names an enable-write-status opcode unlocks its status register with it.
    const uint8_t unlock = CommandTableOf(code).slots[kSlotEnableWriteStatus - 1];
    Bypass port(h);
    CAMLIB_TRY(port.Command(unlock != kNoOpcode ? unlock : kOpWriteEnable));
    CAMLIB_TRY(port.On());
    CAMLIB_TRY(port.Select());
    CAMLIB_TRY(port.SendWait(kOpWriteStatus));
    CAMLIB_TRY(port.SendWait(value));
    CAMLIB_TRY(port.Release());
    return ReadFlashStatus(h, after);
}

int32_t BypassProgram(CamHandle* h, uint32_t address, const uint8_t* data, uint32_t n) {
    if (n > kBypassRecordBytes) return hr::kInvalidArg;
    Bypass port(h);
    CAMLIB_TRY(port.On());
    CAMLIB_TRY(port.Command(kOpWriteEnable));
    CAMLIB_TRY(port.Select());
    CAMLIB_TRY(port.SendWait(kOpPageProgram));
    CAMLIB_TRY(port.SendAddress(address));
    for (uint32_t i = 0; i < n; ++i) CAMLIB_TRY(port.SendWait(data[i]));
    CAMLIB_TRY(port.Release());
    uint8_t status = 0;
    CAMLIB_TRY(ReadFlashStatus(h, &status));
    CAMLIB_TRY(port.WriteDisable());
    return port.Off();
}

namespace {

int32_t BypassRead(CamHandle* h, uint32_t address, uint8_t* data, uint32_t n) {
    if (n > kBypassRecordBytes) return hr::kInvalidArg;
    Bypass port(h);
    CAMLIB_TRY(port.On());
    CAMLIB_TRY(port.WriteDisable());
    CAMLIB_TRY(port.Select());
    CAMLIB_TRY(port.SendWait(kOpRead));
    CAMLIB_TRY(port.SendAddress(address));
    for (uint32_t i = 0; i < n; ++i) {
        CAMLIB_TRY(port.Receive(&data[i]));
        CAMLIB_TRY(port.Wait());
    }
    CAMLIB_TRY(port.Release());
    return port.Off();
}

}  // namespace

int32_t FlashWriteAt(CamHandle* h, uint32_t address, const uint8_t* data, uint32_t n) {
    ExtUnit& u = *h->pExt;
    const FlashAccess access = FamilyRow(u.family).access;
    if (access == FlashAccess::Bypass) return BypassProgram(h, address, data, n);
    const bool counted = access == FlashAccess::CountedWindow;
    const uint32_t at = counted ? 1 : 0;
    if (n + at > kWindowBytes) return hr::kInvalidArg;
    uint8_t window[kWindowBytes];
    std::memset(window, 0xFF, sizeof window);
    if (counted) window[0] = static_cast<uint8_t>(n);
    std::memcpy(window + at, data, n);
    CAMLIB_TRY(SetFlashAddress(u, address));
    return XuWrite(u, XU_SF_WINDOW, window, kWindowBytes);
}

int32_t FlashReadAt(CamHandle* h, uint32_t address, uint8_t* data, uint32_t n) {
    ExtUnit& u = *h->pExt;
    if (RegisterLevelFamily(u.family)) return BypassRead(h, address, data, n);
    if (n > kWindowBytes) return hr::kInvalidArg;
    uint8_t window[kWindowBytes];
    CAMLIB_TRY(SetFlashAddress(u, address));
    CAMLIB_TRY(XuRead(u, XU_SF_WINDOW, window, kWindowBytes));
    std::memcpy(data, window, n);
    return hr::kOk;
}

int CamProtectOff(CamHandle* h, uint32_t code) { return Protect(h, code, 0x00); }
int CamProtectOn(CamHandle* h, uint32_t code) { return Protect(h, code, kProtectBits); }

int CamProtectState(CamHandle* h, uint32_t* state) {
    if (!Usable(h) || !state) return kResultFail;
    if (!RegisterLevelFamily(h->pExt->family)) return kResultInvalid;
    uint8_t s = 0;
    if (ReadFlashStatus(h, &s) != hr::kOk) return kResultFail;
    *state = s == 0 ? 152 : s == kProtectBits ? 151 : 150;
    return kResultOk;
}

int CamFlashStatus(CamHandle* h, uint8_t* status) {
    if (!Usable(h) || !status) return kResultFail;
    if (!RegisterLevelFamily(h->pExt->family)) return kResultInvalid;
    return ReadFlashStatus(h, status) == hr::kOk ? kResultOk : kResultFail;
}

void HalfPageBlocks(const uint8_t* sector, uint32_t half, uint8_t* out) {
    for (uint32_t i = 0; i < kSectorBytes / 64; ++i) {
        std::memset(out + 64 * i, 0xFF, 32);
        std::memcpy(out + 64 * i + 32, sector + 64 * i + half, 32);
    }
}

int32_t WriteHalfPages(CamHandle* h, uint32_t address, const uint8_t* sector, uint32_t length) {
    if (!UsableBlock(length)) return hr::kUnexpected;
    ExtUnit& u = *h->pExt;
    std::vector<uint8_t> blocks(kSectorBytes);
    for (uint32_t half : {0u, 32u}) {
        HalfPageBlocks(sector, half, blocks.data());
        for (uint32_t at = 0; at < kSectorBytes; at += length) {
            CAMLIB_TRY(SetFlashAddress(u, address + half + at));
            CAMLIB_TRY(XuWrite(u, XU_SF_DATA, blocks.data() + at, length));
        }
    }
    return hr::kOk;
}

int32_t ProgramHead(CamHandle* h, const uint8_t* bytes, uint32_t n, bool halfPages, uint32_t length) {
    if (!UsableBlock(length) || n > 64) return hr::kUnexpected;
    ExtUnit& u = *h->pExt;
    std::vector<uint8_t> sector(kSectorBytes, 0xFF), blocks(kSectorBytes);
    std::memcpy(sector.data(), bytes, n);
    // Half pages: the first pass carries bytes 0..31 of every 64; the second has nothing to add.
    if (halfPages) HalfPageBlocks(sector.data(), 0, blocks.data());
    CAMLIB_TRY(SetFlashAddress(u, 0));
    return XuWrite(u, XU_SF_DATA, halfPages ? blocks.data() : sector.data(), length);
}

int32_t WriteSectorHalfPages(CamHandle* h, uint32_t address, const uint8_t* sector) {
    ExtUnit& u = *h->pExt;
    CAMLIB_TRY(EraseFlashSector(u, address));
    // The chip is asked the block length, but these parts are always sent two whole-sector passes;
    // a device that takes other blocks refuses them, and the sector fails rather than half-writes.
    uint32_t length = 0;
    XuLength(u, XU_SF_DATA, &length);
    return WriteHalfPages(h, address, sector, kSectorBytes);
}

int CamReadRange(CamHandle* h, uint8_t* buffer, uint32_t code, uint32_t start, uint32_t end) {
    if (!buffer || !Usable(h)) return 0;
    // Only 16 address bits reach the device: a longer range would read the start again.
    if (start > end || end > kAddressableBytes) return 0;
    ExtUnit& u = *h->pExt;
    // The table's own length query may go unanswered; the second one decides the block size.
    if (LoadCommandTable(u, code).table != hr::kOk) return 0;
    uint32_t length = 0;
    std::vector<uint8_t> block(kSectorBytes);
    if (XuLength(u, XU_SF_DATA, &length) != hr::kOk) {
        for (uint32_t a = start; a < end; a += kWindowBytes) {
            if (SetFlashAddress(u, a) != hr::kOk ||
                XuRead(u, XU_SF_WINDOW, block.data(), kWindowBytes) != hr::kOk)
                return 0;
            std::memcpy(buffer + a, block.data(), std::min(kWindowBytes, end - a));
        }
        return 1;
    }
    if (!UsableBlock(length)) return 0;
    const bool advancing = length == kSectorBytes;  // the device moves its address on by the block
    if (advancing && SetFlashAddress(u, start) != hr::kOk) return 0;
    for (uint32_t a = start; a < end; a += length) {
        if (!advancing && SetFlashAddress(u, a) != hr::kOk) return 0;
        if (XuRead(u, XU_SF_DATA, block.data(), length) != hr::kOk) return 0;
        std::memcpy(buffer + a, block.data(), std::min(length, end - a));
    }
    return 1;
}

int CamReadFlash(CamHandle* h, uint8_t* buffer, uint32_t code) {
    return CamReadRange(h, buffer, code, 0, kAddressableBytes) == 1 ? kResultOk : kResultFail;
}

int32_t CamReadBlock(CamHandle* h, uint8_t* buffer, uint32_t sector, uint32_t code) {
    if (!CamFlashTypeValid(code)) return kResultInvalid;
    if (!buffer || !Usable(h)) return kResultFail;
    if (sector >= kAddressableBytes / kSectorBytes) return hr::kInvalidArg;
    ExtUnit& u = *h->pExt;
    CAMLIB_TRY(LoadCommandTable(u, code).table);
    uint32_t length = 0;
    CAMLIB_TRY(XuLength(u, XU_SF_DATA, &length));
    if (length == 0 || length > kSectorBytes) return hr::kUnexpected;
    CAMLIB_TRY(SetFlashAddress(u, sector * kSectorBytes));
    return XuRead(u, XU_SF_DATA, buffer, length);
}

int CamWriteRange(CamHandle* h, const uint8_t* source, uint32_t code, uint32_t start, uint32_t end) {
    if (!source || !Usable(h)) return 0;
    // Whole sectors are erased: a start inside a sector would lose the bytes before it.
    if (start % kSectorBytes || start > end || end > kAddressableBytes) return 0;
    ExtUnit& u = *h->pExt;
    if (LoadCommandTable(u, code).table != hr::kOk) return 0;
    std::vector<uint8_t> sector(kSectorBytes);
    // The boot mark at flash address 0 is programmed last, once every sector is in place: written
    // with sector 0 it would stand over an image that a cut can leave unfinished.
    const uint32_t held = start == 0 ? std::min<uint32_t>(2, end) : 0;
    auto fill = [&](uint32_t a) {
        std::fill(sector.begin(), sector.end(), 0xFF);
        std::memcpy(sector.data(), source + a, std::min(kSectorBytes, end - a));
        if (a == 0) std::fill_n(sector.begin(), held, 0xFF);
    };
    auto markLast = [&](bool halfPages, uint32_t length) {
        return held == 0 || ProgramHead(h, source, held, halfPages, length) == hr::kOk ? 1 : 0;
    };
    if (SmallPages(code) && FamilyRow(u.family).directSmallPage) {
        for (uint32_t a = start; a < end; a += kSectorBytes) {
            fill(a);
            if (WriteSectorHalfPages(h, a, sector.data()) != hr::kOk) return 0;
        }
        return markLast(true, kSectorBytes);
    }
    for (uint32_t a = start; a < end; a += kSectorBytes)
        if (EraseFlashSector(u, a) != hr::kOk) return 0;
    uint32_t length = 0;
    if (XuLength(u, XU_SF_DATA, &length) != hr::kOk || !UsableBlock(length)) return 0;
    const bool advancing = length == kSectorBytes;
    if (advancing && SetFlashAddress(u, start) != hr::kOk) return 0;
    for (uint32_t a = start; a < end; a += kSectorBytes) {
        fill(a);
        for (uint32_t at = 0; at < kSectorBytes && a + at < end; at += length) {
            if (!advancing && SetFlashAddress(u, a + at) != hr::kOk) return 0;
            if (XuWrite(u, XU_SF_DATA, sector.data() + at, length) != hr::kOk) return 0;
        }
    }
    return markLast(false, length);
}

bool CamSoftReset(CamHandle* h) {
    if (!Usable(h)) return false;
    ExtUnit& u = *h->pExt;
    const std::pair<uint16_t, uint8_t> steps[] = {{reg::kReset4, 0x00}, {reg::kReset0, 0xFF},
                                                  {reg::kReset1, 0x00}, {reg::kReset2, 0x00},
                                                  {reg::kReset3, 0x02}, {reg::kReset4, 0x01}};
    for (const auto& [address, value] : steps)
        if (WriteReg8(u, address, value) != hr::kOk) return false;
    return true;
}

int CamSwitchMode(CamHolder* holder, int device) {
    if (!holder || !Usable(*holder)) return kResultFail;
    CamHandle* h = *holder;
    ExtUnit& u = *h->pExt;
    const char family = u.family;
    if (!FamilyRow(family).inPackageFlash) return kResultOk;
    uint8_t id = 0;
    if (ReadReg8(u, reg::kChipId, &id) != hr::kOk) return kResultFail;
    if (id == 0xD0) SetRegBits(u, reg::kMode20EB, 0x80);
    if (id == 0xD2) {
        const uint8_t cleared[2] = {0x00, 0x00};
        FlashWriteAt(h, 0, cleared, 2);
        SetRegBits(u, reg::kMode20EB, 0x80);
        SetRegBits(u, reg::kMode20E9, 0x20);
        WriteReg8(u, reg::kBoot3, 0x01);
        WriteReg8(u, reg::kBoot0, 0xAA);
        WriteReg8(u, reg::kBoot1, 0x55);
        WriteReg8(u, reg::kBoot2, 0xA0);
    }
    CamSoftReset(h);
    // The chip leaves the bus and comes back; open it again once it is there.
    for (uint32_t tries = 0; tries < kModeSwitchTries; ++tries) {
        SleepMs(h, 500);
        if (CamInit(holder, family, device) == kResultOk) {
            (*holder)->pExt->switchedToInPackage = id == 0xD2;
            return kResultOk;
        }
    }
    Trace(*holder, text::kNotBack, kModeSwitchTries * 500);
    return kResultFail;
}

}  // namespace camlib
