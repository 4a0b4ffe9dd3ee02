#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "emu/quelmar/quelmar_chip.h"

namespace {

using namespace emu::quelmar;
using Bytes = std::vector<uint8_t>;

const Bytes kTable0 = {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01};
const Bytes kTable1 = {0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52, 0x60, 0x02, 0xAF, 0x50, 0x01};
const Bytes kMcmCycles = {0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0x80, 0x05, 0x55, 0xAA, 0x02, 0xAA,
                          0x55, 0x05, 0x55, 0x10, 0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0xA0};

ChipConfig Config(uint8_t chipId, uint8_t flashCode = 121) {
    ChipConfig c;
    c.chipId = chipId;
    c.flashCode = flashCode;
    return c;
}

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t((i * 131 + seed * 7 + (i >> 8)) ^ seed);
    return b;
}

uint8_t Xor(const Bytes& b) {
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    return x;
}

Fault Parsed(const char* line) {
    Fault f;
    std::string error;
    EXPECT_TRUE(ParseFault(line, f, error)) << error;
    return f;
}

// The host side, driving the chip only through its extension-unit primitives, as the kit does.
struct Host {
    QuelmarChip chip;
    uint8_t level;

    explicit Host(ChipConfig config) : chip(std::move(config)), level(SelectLevelOf(chip.Family())) {}

    int32_t Put(uint8_t sel, const Bytes& d) { return chip.Write(sel, d.data(), uint32_t(d.size())); }
    Bytes Get(uint8_t sel, size_t n, int32_t expect = kOk) {
        Bytes b(n);
        EXPECT_EQ(chip.Read(sel, b.data(), uint32_t(n)), expect) << "selector " << int(sel);
        return b;
    }
    uint16_t Len(uint8_t sel) {
        uint16_t l = 0;
        EXPECT_EQ(chip.GetLength(sel, l), kOk);
        return l;
    }
    void SetReg(uint16_t a, uint8_t v) {
        ASSERT_EQ(Put(xu::kRegAddr, {uint8_t(a), uint8_t(a >> 8)}), kOk);
        ASSERT_EQ(Put(xu::kRegData, {v}), kOk);
    }
    uint8_t Reg(uint16_t a) {
        EXPECT_EQ(Put(xu::kRegAddr, {uint8_t(a), uint8_t(a >> 8)}), kOk);
        return Get(xu::kRegData, 1)[0];
    }
    void Address(uint32_t a) { ASSERT_EQ(Put(xu::kSfAddress, {uint8_t(a), uint8_t(a >> 8), 0, 0}), kOk); }
    void LoadTable(const Bytes& slots, uint8_t mode) {
        for (uint8_t i = 0; i < 12; ++i) {
            ASSERT_EQ(Put(xu::kSfCmdIndex, {uint8_t(i + 1)}), kOk);
            ASSERT_EQ(Put(xu::kSfCmdValue, {slots[i]}), kOk);
        }
        ASSERT_EQ(Put(xu::kSfProgramMode, {mode}), kOk);
    }

    // Bypass-port sequences.
    // Polls are bounded so that a model that never clears a flag fails instead of hanging.
    void Wait() {
        for (int i = 0; Reg(reg::kPortBusy); ++i) ASSERT_LT(i, 100) << "port stays busy";
    }
    void Select() {
        SetReg(reg::kPortMode, 0x80);
        SetReg(reg::kPortChipSelect, level);
    }
    void Release() { SetReg(reg::kPortChipSelect, uint8_t(2 - level)); }
    void Send(uint8_t v) {
        SetReg(reg::kPortSend, v);
        Wait();
    }
    uint8_t Receive() {
        Reg(reg::kPortReceive);
        Wait();
        return Reg(reg::kPortReceived);
    }
    void Simple(uint8_t op) {
        Select();
        Send(op);
        Release();
    }
    uint8_t ReadStatus() {
        uint8_t s = 0xFF;
        for (int i = 0; i < 2000 && (s & 1); ++i) {
            Select();
            Send(0x05);
            s = Receive();
            Release();
        }
        EXPECT_EQ(s & 1, 0) << "write in progress never ends";
        return s;
    }
    void WriteStatus(uint8_t v, uint8_t unlock) {
        Simple(unlock);
        Select();
        Send(0x01);
        Send(v);
        Release();
        ReadStatus();
    }
    void PortProgram(uint32_t a, const Bytes& data) {
        Simple(0x06);
        Select();
        for (uint8_t b : {uint8_t(0x02), uint8_t(0), uint8_t(a >> 8), uint8_t(a)}) Send(b);
        for (uint8_t b : data) Send(b);
        Release();
        ReadStatus();
        SetReg(reg::kPortMode, 0);
    }
    Bytes PortRead(uint32_t a, size_t n) {
        Select();
        for (uint8_t b : {uint8_t(0x03), uint8_t(0), uint8_t(a >> 8), uint8_t(a)}) Send(b);
        Bytes out;
        for (size_t i = 0; i < n; ++i) out.push_back(Receive());
        Release();
        return out;
    }

    // Streams an image in the chunk length the device reports, padding the last chunk with 0xFF.
    // Returns the host's checksum over what was sent.
    uint8_t Stream(const Bytes& image, const std::function<void(size_t)>& afterChunk = {}) {
        const uint16_t c = Len(xu::kDfuAccessControl);
        uint8_t sum = 0;
        for (size_t p = 0, n = 1; p < image.size(); p += c, ++n) {
            Bytes chunk(c, 0xFF);
            std::copy(image.begin() + p, image.begin() + std::min(image.size(), p + c), chunk.begin());
            sum ^= Xor(chunk);
            EXPECT_EQ(Put(xu::kDfuAccessControl, chunk), kOk);
            if (afterChunk) afterChunk(n);
        }
        return sum;
    }
    void SoftReset() {
        for (auto [a, v] : std::vector<std::pair<uint16_t, uint8_t>>{
                 {0x2034, 0}, {0x2030, 0xFF}, {0x2031, 0}, {0x2032, 0}, {0x2033, 2}, {0x2034, 1}})
            SetReg(a, v);
    }
    Bytes FlashAt(uint32_t a, size_t n) {
        const Bytes& img = chip.Flash().Image();
        return Bytes(img.begin() + a, img.begin() + a + n);
    }
};

TEST(QuelmarRegisters, FamilyIdentificationAndEightAndSixteenBitAccess) {
    EXPECT_EQ(FamilyOf(0xA5, 0x11), 'i');  // nibble 0xA splits on 0x20D0
    EXPECT_EQ(FamilyOf(0xE3, 0x00), 'k');
    EXPECT_EQ(FamilyOf(0x50, 0x00), 0);
    EXPECT_EQ(SelectLevelOf('g'), 2);
    EXPECT_EQ(SelectLevelOf('h'), 0);

    ChipConfig config = Config(0xA5);
    config.subVariant = 0x10;
    Host h(config);
    EXPECT_EQ(h.chip.Family(), 'd');
    EXPECT_EQ(h.Reg(0x20FF), 0xA5);
    EXPECT_EQ(h.Reg(0x20D0), 0x10);
    h.SetReg(0x20FF, 0x00);  // read-only
    EXPECT_EQ(h.Reg(0x20FF), 0xA5);
    h.SetReg(0x2501, 0x02);
    EXPECT_EQ(h.Reg(0x2501), 0x02);
    EXPECT_EQ(h.Get(xu::kRegAddr, 2), (Bytes{0x01, 0x25}));

    ASSERT_EQ(h.Put(xu::kReg16Addr, {0x41, 0x20}), kOk);
    ASSERT_EQ(h.Put(xu::kReg16Data, {0x34, 0x12}), kOk);
    EXPECT_EQ(h.Reg(0x2041), 0x34);
    EXPECT_EQ(h.Reg(0x2042), 0x12);
    ASSERT_EQ(h.Put(xu::kReg16Addr, {0xFE, 0x20}), kOk);
    EXPECT_EQ(h.Get(xu::kReg16Data, 2), (Bytes{0x00, 0xA5}));
}

TEST(QuelmarExtensionUnit, LengthsAndHowRequestsAreRefused) {
    ChipConfig config = Config(0xD0);
    config.inPackageBytes = 0x10000;
    config.chunkBytes = 512;
    config.dataBlockBytes = 64;
    Host h(config);
    const std::map<uint8_t, uint16_t> lengths = {
        {2, 2},  {3, 1},  {4, 2},   {5, 2},  {7, 1},  {8, 1},   {9, 1},  {10, 512}, {11, 1}, {12, 1},
        {13, 4}, {14, 4}, {15, 64}, {16, 1}, {20, 1}, {22, 64}, {23, 3}, {24, 27},  {26, 1}};
    for (unsigned s = 0; s < 32; ++s) {
        uint16_t len = 0xBEEF;
        const auto it = lengths.find(uint8_t(s));
        ASSERT_EQ(h.chip.GetLength(uint8_t(s), len), it == lengths.end() ? kNotFound : kOk) << s;
        EXPECT_EQ(len, it == lengths.end() ? 0xBEEF : it->second) << s;
    }
    uint8_t byte = 0;
    EXPECT_EQ(h.chip.Read(6, &byte, 1), kNotFound);
    EXPECT_EQ(h.chip.Write(25, &byte, 1), kNotFound);

    h.SetReg(0x2501, 0x5A);
    EXPECT_EQ(h.Put(xu::kRegAddr, {0x41, 0x20, 0x00}), kGenFailure);  // address unchanged
    EXPECT_EQ(h.Get(xu::kRegData, 1)[0], 0x5A);
    h.Get(xu::kRegData, 2, kGenFailure);
    h.Get(xu::kDfuAccessControl, 512, kGenFailure);  // set-only
    h.Get(xu::kSfSectorErase, 4, kGenFailure);
    EXPECT_EQ(h.Put(xu::kDfuChecksum, {0}), kGenFailure);  // get-only
    EXPECT_EQ(h.Put(xu::kSfId, {0, 0, 0}), kGenFailure);
    EXPECT_EQ(h.chip.Write(xu::kRegData, nullptr, 1), kEPointer);
    const std::pair<uint8_t, uint8_t> badValues[] = {
        {xu::kSfCmdIndex, 0},    {xu::kSfCmdIndex, 14},    {xu::kDfuEnableControl, 2},
        {xu::kSfProgramMode, 3}, {xu::kIspSerialFlash, 2}, {xu::kDfuChecksumTrigger, 0}};
    for (auto [sel, value] : badValues)
        EXPECT_EQ(h.Put(sel, {value}), kGenFailure) << int(sel) << "=" << int(value);

    ChipConfig plain = Config(0x60);
    plain.absentSelectors = 1u << xu::kDfuChecksum;
    Host p(plain);
    EXPECT_EQ(p.chip.Read(xu::kDfuChecksum, &byte, 1), kNotFound);
    uint16_t len = 0;
    EXPECT_EQ(p.chip.GetLength(xu::kMcmFlashCmds, len), kNotFound);
    EXPECT_EQ(p.Put(xu::kIspSerialFlash, {0}), kGenFailure);  // no in-package flash to target
}

TEST(QuelmarBypassPort, IdentifiesThePartOnlyAtTheFamilysSelectLevel) {
    struct Case {
        uint8_t chipId, level, idle;
        Bytes answer;
    } cases[] = {{0x60, 2, 0xFF, {0xC2, 0x05, 0xC2}},
                 {0x80, 0, 0xFF, {0xC2, 0x05, 0xC2}},
                 {0x60, 0, 0xFF, {0xFF, 0xFF, 0xFF}},  // active-high select driven low: nobody answers
                 {0x80, 2, 0x00, {0x00, 0x00, 0x00}}};
    for (const Case& c : cases) {
        ChipConfig config = Config(c.chipId);
        config.busIdle = c.idle;
        config.portBusyReads = 2;
        Host h(config);
        h.level = c.level;
        h.Select();
        for (uint8_t b : {0x90, 0, 0, 0}) h.Send(uint8_t(b));
        Bytes got;
        for (int i = 0; i < 3; ++i) got.push_back(h.Receive());
        h.Release();
        EXPECT_EQ(got, c.answer) << std::hex << int(c.chipId) << " level " << int(c.level);
    }

    Host h(Config(0x80));
    ChipConfig busy = Config(0x80);
    busy.portBusyReads = 2;
    Host b(busy);
    b.SetReg(reg::kPortMode, 0x80);
    b.SetReg(reg::kPortSend, 0x04);
    EXPECT_EQ((Bytes{b.Reg(reg::kPortBusy), b.Reg(reg::kPortBusy), b.Reg(reg::kPortBusy)}), (Bytes{1, 1, 0}));

    // A byte sent while the port is off never reaches the part.
    h.SetReg(reg::kPortChipSelect, 0);
    h.SetReg(reg::kPortSend, 0x06);
    EXPECT_EQ(h.ReadStatus() & 0x02, 0);
}

TEST(QuelmarBypassPort, StatusWritesProtectionAndPageProgram) {
    ChipConfig config = Config(0x60);
    config.flashStatus = 0x0C;
    Host h(config);
    const Bytes block = {0x3A, 0x7C, 0xB5, 0xA4, 0x12, 0x00};
    h.PortProgram(0x8008, block);
    EXPECT_EQ(h.FlashAt(0x8008, 6), Bytes(6, 0xFF));  // protected
    h.WriteStatus(0x00, 0x06);
    EXPECT_EQ(h.ReadStatus(), 0x00);
    h.PortProgram(0x8008, block);
    EXPECT_EQ(h.PortRead(0x8008, 6), block);
    h.WriteStatus(0x0C, 0x06);
    EXPECT_EQ(h.chip.Flash().NonVolatileStatus(), 0x0C);

    ChipConfig ewsr = Config(0x80, 122);
    ewsr.flashStatus = 0x0C;
    Host e(ewsr);
    e.WriteStatus(0x00, 0x06);
    EXPECT_EQ(e.ReadStatus(), 0x0E);  // write enable does not unlock this part; the latch stays
    e.WriteStatus(0x00, 0x50);
    EXPECT_EQ(e.ReadStatus(), 0x00);
}

TEST(QuelmarFlashCommands, IdentificationSlotLatchesThePartsAnswer) {
    struct Case {
        uint8_t code, command;
        Bytes answer;
    } cases[] = {{121, 0x90, {0xC2, 0x05, 0xC2}},
                 {125, 0xAB, {0x9D, 0x7B, 0x7F}},
                 {126, 0x9F, {0x1F, 0x65, 0x00}},
                 {123, 0x9F, {0x9D, 0x7B, 0x9D}},  // no address bytes before the JEDEC answer
                 {126, 0x90, {0xFF, 0xFF, 0xFF}}};
    for (const Case& c : cases) {
        Host h(Config(0xC0, c.code));
        EXPECT_EQ(h.Get(xu::kSfId, 3), Bytes(3, 0xFF));
        ASSERT_EQ(h.Put(xu::kSfCmdIndex, {13}), kOk);
        ASSERT_EQ(h.Put(xu::kSfCmdValue, {c.command}), kOk);
        EXPECT_EQ(h.Get(xu::kSfId, 3), c.answer) << int(c.code);
    }
    ChipConfig noSlot = Config(0x60);
    noSlot.idCommandSlot = false;
    Host h(noSlot);
    EXPECT_EQ(h.Put(xu::kSfCmdIndex, {13}), kGenFailure);
    EXPECT_EQ(h.Put(xu::kSfCmdIndex, {12}), kOk);
}

TEST(QuelmarFlashCommands, TheChipsOwnAccessesUseTheLoadedTable) {
    Host h(Config(0x60, 123));  // erases 4 KiB sectors with 0xD7 only
    const Bytes zeros(h.chip.Flash().Size(), 0x00);
    h.chip.Flash().LoadImage(zeros.data(), zeros.size());
    ASSERT_EQ(h.Put(xu::kSfSectorErase, {0x00, 0x20, 0, 0}), kOk);
    EXPECT_EQ(h.FlashAt(0x2000, 1)[0], 0x00);  // power-on table: 0x20

    Bytes table = kTable0;
    table[5] = 0xD7;
    h.LoadTable(table, 0);
    const uint64_t before = h.chip.Clock().NowUs();
    ASSERT_EQ(h.Put(xu::kSfSectorErase, {0x34, 0x21, 0, 0}), kOk);
    EXPECT_EQ(h.chip.Clock().NowUs() - before, 1004u + 60000u);
    EXPECT_EQ(h.FlashAt(0x1FFF, 3), (Bytes{0x00, 0xFF, 0xFF}));
    EXPECT_EQ(h.FlashAt(0x2FFF, 2), (Bytes{0xFF, 0x00}));

    table[0] = 0x77;  // a read opcode the part does not know
    h.LoadTable(table, 0);
    h.Address(0);
    EXPECT_EQ(h.Get(xu::kSfData, 4096), Bytes(4096, 0xFF));
}

TEST(QuelmarFlashCommands, DataBlocksAdvanceTheAddressAndFollowTheProgramMode) {
    Host h(Config(0x60));
    const Bytes a = Pattern(4096, 1), b = Pattern(4096, 2);
    h.Address(0x1000);
    ASSERT_EQ(h.Put(xu::kSfData, a), kOk);
    ASSERT_EQ(h.Put(xu::kSfData, b), kOk);
    EXPECT_EQ(h.Get(xu::kSfAddress, 4), (Bytes{0x00, 0x30, 0x00, 0x00}));
    h.Address(0x1000);
    EXPECT_EQ(h.Get(xu::kSfData, 4096), a);
    EXPECT_EQ(h.Get(xu::kSfData, 4096), b);
    EXPECT_TRUE(h.chip.Flash().Dirty());

    // A byte-program part takes a 64-byte block only as a stream (program mode 1).
    for (uint8_t mode : {0, 1}) {
        ChipConfig config = Config(0x80, 122);
        config.dataBlockBytes = 64;
        Host s(config);
        EXPECT_EQ(s.Len(xu::kSfData), 64);
        s.LoadTable(kTable1, mode);
        const Bytes data = Pattern(64, 3 + mode);
        s.Address(0x40);
        ASSERT_EQ(s.Put(xu::kSfData, data), kOk);
        s.Address(0x40);
        const Bytes back = s.Get(xu::kSfData, 64);
        EXPECT_EQ(back[0], data[0]);
        EXPECT_EQ(back == data, mode == 1);
    }
}

TEST(QuelmarFlashCommands, HalfBlockTransfersLandWholeOnlyOnSmallPageParts) {
    for (uint8_t code : {129, 121}) {
        Host h(Config(0x80, code));
        Bytes table = kTable0;
        h.LoadTable(table, 2);
        const Bytes sector = Pattern(4096, 9);
        ASSERT_EQ(h.Put(xu::kSfSectorErase, {0x00, 0x30, 0, 0}), kOk);
        for (uint32_t half : {0u, 32u}) {
            Bytes block(4096, 0xFF);
            for (size_t i = 0; i < 64; ++i)
                std::copy_n(sector.begin() + 64 * i + half, 32, block.begin() + 64 * i + 32);
            h.Address(0x3000 + half);
            ASSERT_EQ(h.Put(xu::kSfData, block), kOk);
        }
        EXPECT_EQ(h.FlashAt(0x3000, 4096) == sector, code == 129) << int(code);
    }
}

TEST(QuelmarFlashCommands, WindowWritesPerFamily) {
    Host j(Config(0xB0));
    j.Address(0x10);
    Bytes w(64, 0x00);
    w[0] = 2, w[1] = 0x89, w[2] = 0x17;
    ASSERT_EQ(j.Put(xu::kSfWindow, w), kOk);
    EXPECT_EQ(j.FlashAt(0x10, 4), (Bytes{0x89, 0x17, 0xFF, 0xFF}));
    const Bytes back = j.Get(xu::kSfWindow, 64);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 3), (Bytes{0x89, 0x17, 0xFF}));
    w[0] = 64;
    EXPECT_EQ(j.Put(xu::kSfWindow, w), kGenFailure);

    Host k(Config(0xC0));
    Bytes win(64, 0xFF);
    win[0] = win[1] = 0x00;
    k.Address(0);
    ASSERT_EQ(k.Put(xu::kSfWindow, win), kOk);
    EXPECT_EQ(k.FlashAt(0, 3), (Bytes{0x00, 0x00, 0xFF}));
}

TEST(QuelmarDownload, GenericSequenceLeavesTheImageAndMarksInFlash) {
    ChipConfig config = Config(0x60);
    config.flashStatus = 0x0C;
    Host h(config);
    const Bytes old = Pattern(0x10000, 99);
    h.chip.Flash().LoadImage(old.data(), old.size());
    Bytes image = Pattern(0x10000, 5);
    image[0] = 0xFF;
    h.LoadTable(kTable0, 0);
    h.WriteStatus(0x00, 0x06);
    ASSERT_EQ(h.Put(xu::kDfuEnableControl, {3}), kOk);
    EXPECT_EQ(h.Get(xu::kDfuEnableControl, 1)[0], 3);
    EXPECT_EQ(h.Len(xu::kDfuAccessControl), 4096);
    const uint8_t sum = h.Stream(image, [&](size_t n) {
        if (n != 1) return;
        h.PortProgram(0, {0xF5});
        h.PortProgram(0x8008, Bytes(image.begin() + 0x8008, image.begin() + 0x800E));
        EXPECT_EQ(h.FlashAt(0, 1)[0], 0xF5);
    });
    EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], sum);
    h.PortProgram(0, {0x55});
    h.WriteStatus(0x0C, 0x06);
    ASSERT_EQ(h.Put(xu::kDfuEnableControl, {0}), kOk);

    Bytes expect = image;
    expect[0] = 0x55;
    EXPECT_EQ(h.chip.Flash().Image(), expect);
    EXPECT_EQ(h.chip.Flash().NonVolatileStatus(), 0x0C);
    EXPECT_FALSE(h.chip.InDownloadMode());
    EXPECT_EQ(h.chip.BytesReceived(), 0x10000u);
    EXPECT_EQ(h.chip.Clock().Stat("flash.sector_erase").count, 16u);
}

TEST(QuelmarDownload, DeviceChecksumCoversThePadding) {
    struct Case {
        size_t length;
        bool inverted;
        uint8_t flashCode = 121;
        uint8_t programMode = 0;
    } cases[] = {{10, false}, {11, true}, {128, false}, {129, true}, {200, false, 129, 2}};
    for (const Case& c : cases) {
        ChipConfig config = Config(0x80, c.flashCode);
        config.chunkBytes = 64;
        Host h(config);
        h.LoadTable(kTable0, c.programMode);  // mode 2: the reception programs 32-byte pages
        const Bytes image = Pattern(c.length, 7);
        ASSERT_EQ(h.Put(xu::kDfuEnableControl, {3}), kOk);
        const uint8_t sent = h.Stream(image);
        EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], sent);
        EXPECT_EQ(h.chip.DeviceChecksum(), uint8_t(c.inverted ? ~Xor(image) : Xor(image))) << c.length;
        EXPECT_EQ(h.FlashAt(0, c.length), image);
        EXPECT_EQ(h.FlashAt(c.length, 1)[0], 0xFF);
    }
}

TEST(QuelmarDownload, CommitTurnsOnlyThePendingMarkValid) {
    for (bool pending : {true, false}) {
        ChipConfig config = Config(0xD0);
        config.chunkBytes = 256;
        config.modeRegister = 0x02;  // restarts itself after a committed download
        Host h(config);
        Bytes image = Pattern(1000, 11);
        image[0] = pending ? 0xF9 : 0x12, image[1] = pending ? 0xFF : 0x34;
        EXPECT_EQ(h.Put(xu::kIspFwDownloadOk, {1}), kGenFailure);  // not in download mode
        EXPECT_EQ(h.Put(xu::kDfuAccessControl, Bytes(256, 0)), kGenFailure);
        ASSERT_EQ(h.Put(xu::kDfuEnableControl, {1}), kOk);
        EXPECT_EQ(h.Put(xu::kDfuAccessControl, Bytes(255, 0)), kGenFailure);
        const uint8_t sum = h.Stream(image);
        EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], sum);
        EXPECT_EQ(h.FlashAt(0, 2), (Bytes{image[0], image[1]}));
        ASSERT_EQ(h.Put(xu::kIspFwDownloadOk, {1}), kOk);
        EXPECT_EQ(h.FlashAt(0, 2), pending ? (Bytes{0x89, 0x17}) : (Bytes{0x12, 0x34}));
        EXPECT_EQ(h.FlashAt(2, 998), Bytes(image.begin() + 2, image.end()));
        EXPECT_EQ(h.chip.RestartCount(), 0u);
        ASSERT_EQ(h.Put(xu::kDfuEnableControl, {0}), kOk);
        EXPECT_EQ(h.chip.RestartCount(), 1u);
        EXPECT_EQ(h.chip.CommitCount(), 1u);
    }
}

TEST(QuelmarDownload, ChecksumTriggerBusyFlag) {
    ChipConfig config = Config(0xD0);
    config.busyReads = 3;
    Host h(config);
    ASSERT_EQ(h.Put(xu::kDfuEnableControl, {1}), kOk);
    h.Stream(Bytes(11, 0x42));
    ASSERT_EQ(h.Put(xu::kDfuChecksumTrigger, {1}), kOk);
    h.Get(xu::kDfuChecksum, 1, kNotReady);
    Bytes flags;
    for (int i = 0; i < 4; ++i) flags.push_back(h.Get(xu::kDfuChecksumTrigger, 1)[0]);
    EXPECT_EQ(flags, (Bytes{1, 1, 1, 0}));
    EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], 0x42 ^ 0xFF);  // 11 data bytes, 4085 pads

    h.chip.Faults().push_back(Parsed("busy=hold"));
    ASSERT_EQ(h.Put(xu::kDfuChecksumTrigger, {1}), kOk);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(h.Get(xu::kDfuChecksumTrigger, 1)[0], 1);
}

TEST(QuelmarInPackage, ModeSwitchRestartAndDownload) {
    for (bool rightCycles : {true, false}) {
        ChipConfig config = Config(0xD2);
        config.inPackageBytes = 0x10000;
        Host h(config);
        const Bytes old(0x10000, 0x00);
        h.chip.InPackage()->LoadImage(old.data(), old.size());
        EXPECT_FALSE(h.chip.InPackageMode());

        // The mode switch as the kit performs it.
        ASSERT_EQ(h.Reg(0x20FF), 0xD2);
        h.Address(0);
        Bytes win(64, 0xFF);
        win[0] = win[1] = 0;
        ASSERT_EQ(h.Put(xu::kSfWindow, win), kOk);
        h.SetReg(0x20EB, h.Reg(0x20EB) | 0x80);
        h.SetReg(0x20E9, h.Reg(0x20E9) | 0x20);
        for (auto [a, v] : std::vector<std::pair<uint16_t, uint8_t>>{
                 {0x20F8, 1}, {0x20F5, 0xAA}, {0x20F6, 0x55}, {0x20F7, 0xA0}})
            h.SetReg(a, v);
        EXPECT_EQ(h.chip.RestartCount(), 0u);
        h.SoftReset();
        EXPECT_EQ(h.chip.RestartCount(), 1u);
        EXPECT_TRUE(h.chip.ReenumerationPending());
        EXPECT_TRUE(h.chip.InPackageMode());
        EXPECT_EQ((Bytes{h.Reg(0x20F5), h.Reg(0x20F6), h.Reg(0x20EB), h.Reg(0x20E9)}),
                  (Bytes{0xAA, 0x55, 0, 0}));
        EXPECT_EQ(h.FlashAt(0, 2), (Bytes{0x00, 0x00}));

        const Bytes image = Pattern(3000, 13);
        ASSERT_EQ(h.Put(xu::kMcmFlashCmds, rightCycles ? kMcmCycles : Bytes(27, 0)), kOk);
        ASSERT_EQ(h.Put(xu::kIspSerialFlash, {0}), kOk);
        ASSERT_EQ(h.Put(xu::kDfuEnableControl, {1}), kOk);
        const uint8_t sum = h.Stream(image);
        ASSERT_EQ(h.Put(xu::kDfuChecksumTrigger, {1}), kOk);
        for (int i = 0; h.Get(xu::kDfuChecksumTrigger, 1)[0]; ++i) ASSERT_LT(i, 100);
        EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], sum);  // the checksum is over what arrived, either way
        ASSERT_EQ(h.Put(xu::kIspFwDownloadOk, {1}), kOk);
        ASSERT_EQ(h.Put(xu::kDfuEnableControl, {0}), kOk);
        const Bytes& ipf = h.chip.InPackage()->Image();
        EXPECT_EQ(Bytes(ipf.begin(), ipf.begin() + 3000) == image, rightCycles);
        EXPECT_EQ(ipf[3000], rightCycles ? 0xFF : 0x00);
        EXPECT_EQ(h.FlashAt(2, 1)[0], 0xFF);  // the serial flash is not the target
    }
}

TEST(QuelmarRestart, OnlyTheWholeResetSequenceRestartsAndRestoresState) {
    Host h(Config(0x90));
    h.SetReg(0x2501, 0x02);
    h.SetReg(0x20F7, 0xA0);
    h.LoadTable(kTable1, 1);
    ASSERT_EQ(h.Put(xu::kDfuEnableControl, {3}), kOk);
    for (auto [a, v] :
         std::vector<std::pair<uint16_t, uint8_t>>{{0x2034, 0}, {0x2030, 0xFF}, {0x2033, 1}, {0x2034, 1}})
        h.SetReg(a, v);
    EXPECT_EQ(h.chip.RestartCount(), 0u);
    h.SoftReset();
    EXPECT_EQ(h.chip.RestartCount(), 1u);
    EXPECT_FALSE(h.chip.InDownloadMode());
    EXPECT_FALSE(h.chip.InPackageMode());  // no in-package flash on this chip
    EXPECT_EQ(h.Reg(0x2501), 0x00);
    EXPECT_EQ(h.Reg(0x20F7), 0xA0);  // always-on domain
    EXPECT_EQ(h.Reg(0x2025), 0x00);  // released, active-high select
    ASSERT_EQ(h.Put(xu::kSfCmdIndex, {7}), kOk);
    EXPECT_EQ(h.Get(xu::kSfCmdValue, 1)[0], 0xD8);
    EXPECT_EQ(h.Get(xu::kSfProgramMode, 1)[0], 0);
    h.chip.AcknowledgeReenumeration();
    EXPECT_FALSE(h.chip.ReenumerationPending());
}

TEST(QuelmarFaults, LinesParseAndFormatBack) {
    Fault f;
    std::string error;
    ASSERT_TRUE(ParseFault("fail=xu_write:10@3:0x8007001F", f, error)) << error;
    EXPECT_EQ(f.kind, FaultKind::Fail);
    EXPECT_EQ(f.op, FaultOp::XuWrite);
    EXPECT_EQ(f.target, 10);
    EXPECT_EQ(f.firstCall, 3u);
    EXPECT_EQ(f.lastCall, 3u);
    EXPECT_EQ(f.code, kGenFailure);
    // The formatted line spells out every field, defaults included.
    const std::pair<const char*, const char*> good[] = {
        {" fail = xu_length ", "fail=xu_length@*:0x8007001F"},
        {"fail=reg_read:0x20FF@2+:0x80070015", "fail=reg_read:0x20FF@2+:0x80070015"},
        {"fail=xu_read:11@4-6", "fail=xu_read:11@4-6:0x8007001F"},
        {"corrupt=xu_read:15@*:0x01:100", "corrupt=xu_read:15@*:0x01:100"},
        {"corrupt=reg_read@2", "corrupt=reg_read@2:0xFF:0"},
        {"chunk=0x200", "chunk=512"},
        {"notready=3", "notready=3"},
        {"refuse=first_set", "refuse=first_set"},
        {"busy=hold", "busy=hold"},
        {"unplug=xu_write:10@3", "unplug=xu_write:10@3"},
    };
    for (const auto& [line, formatted] : good) {
        ASSERT_TRUE(ParseFault(line, f, error)) << line << ": " << error;
        EXPECT_EQ(FormatFault(f), formatted);
    }
    for (const char* bad :
         {"fail", "fail=xu_poke:10", "fail=xu_write:300", "fail=xu_write:10@0", "fail=xu_write@5-2",
          "fail=xu_write@3:0x1:9", "corrupt=xu_write@1", "corrupt=xu_read@1:0x100", "busy=soon", "chunk=lots",
          "refuse=second_set", "explode=1", "fail=reg_read:0x10000", "unplug=xu_write@2:0x1"}) {
        error.clear();
        EXPECT_FALSE(ParseFault(bad, f, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(QuelmarFaults, InjectedFaultsActOnTheNamedCalls) {
    ChipConfig config = Config(0x80);
    config.chunkBytes = 64;
    Host h(config);
    h.chip.Faults() = {Parsed("fail=xu_write:10@3:0x80070015"), Parsed("fail=reg_read:0x20FF"),
                       Parsed("corrupt=xu_read:11@2:0x81")};
    ASSERT_EQ(h.Put(xu::kDfuEnableControl, {3}), kOk);
    const Bytes image = Pattern(256, 17);
    std::vector<int32_t> results;
    for (size_t p = 0; p < image.size(); p += 64) {
        const Bytes chunk(image.begin() + p, image.begin() + p + 64);
        results.push_back(h.Put(xu::kDfuAccessControl, chunk));
        if (results.back() != kOk) results.push_back(h.Put(xu::kDfuAccessControl, chunk));
    }
    EXPECT_EQ(results, (std::vector<int32_t>{kOk, kOk, kNotReady, kOk, kOk}));
    EXPECT_EQ(h.chip.BytesReceived(), 256u);  // the refused chunk did not arrive
    EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], Xor(image));
    EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], Xor(image) ^ 0x81);
    EXPECT_EQ(h.Get(xu::kDfuChecksum, 1)[0], Xor(image));

    ASSERT_EQ(h.Put(xu::kRegAddr, {0xFF, 0x20}), kOk);
    h.Get(xu::kRegData, 1, kGenFailure);
    ASSERT_EQ(h.Put(xu::kReg16Addr, {0xFE, 0x20}), kOk);
    h.Get(xu::kReg16Data, 2, kGenFailure);
    EXPECT_EQ(h.Reg(0x20D0), 0x00);

    h.chip.Faults() = {Parsed("chunk=512"), Parsed("notready=2")};
    uint16_t len = 0;
    EXPECT_EQ(h.chip.GetLength(xu::kDfuAccessControl, len), kNotReady);
    EXPECT_EQ(h.chip.GetLength(xu::kDfuAccessControl, len), kNotReady);
    EXPECT_EQ(h.Len(xu::kDfuAccessControl), 512);
    EXPECT_EQ(h.Put(xu::kDfuAccessControl, Bytes(64, 0)), kGenFailure);
    EXPECT_EQ(h.Put(xu::kDfuAccessControl, Bytes(512, 0)), kOk);
}

TEST(QuelmarFaults, UnplugEndsEveryLaterRequest) {
    ChipConfig config = Config(0xB0);
    Host h(config);
    h.chip.Faults().push_back(Parsed("unplug=xu_write:10@2"));
    ASSERT_EQ(h.Put(xu::kDfuEnableControl, {1}), kOk);
    const Bytes chunk(4096, 0x5A);
    EXPECT_EQ(h.Put(xu::kDfuAccessControl, chunk), kOk);
    EXPECT_FALSE(h.chip.Unplugged());
    EXPECT_EQ(h.Put(xu::kDfuAccessControl, chunk), kDeviceGone) << "the second chunk never arrives";
    EXPECT_TRUE(h.chip.Unplugged());
    uint16_t length = 0;
    EXPECT_EQ(h.chip.GetLength(xu::kDfuAccessControl, length), kDeviceGone);
    EXPECT_EQ(h.Put(xu::kRegAddr, {0xFF, 0x20}), kDeviceGone);
    h.Get(xu::kDfuChecksum, 1, kDeviceGone);
    EXPECT_EQ(h.chip.BytesReceived(), 4096u);
}

// A cut counts every request from power-on, tears the flash operation under way and leaves the
// chip off the bus. Times are from the request's arrival: its transfer costs 1 ms plus 1 µs a byte.
TEST(QuelmarFaults, CutAtTheNthRequestTearsWhatTheFlashWasDoing) {
    struct Case {
        const char* name;
        std::string line;   // the cut; request 1 sets the flash address, request 2 the flash request
        bool dataBlock;     // request 2: a 4096-byte XU_SF_DATA write at 0x1000 (else a sector erase)
        size_t changed;     // bytes of the sector erased or programmed by the cut request
        bool firstAnswered;  // request 1 was answered
    };
    for (const char* line : {"cut=7", "cut=7:1500"}) EXPECT_EQ(FormatFault(Parsed(line)), line);
    for (const char* bad : {"cut=0", "cut=", "cut=x", "cut=3:", "cut=3:soon"}) {
        Fault f;
        std::string error;
        EXPECT_FALSE(ParseFault(bad, f, error)) << bad;
    }
    const uint64_t eraseStarts = cost::XuRequestUs(4), dataStarts = cost::XuRequestUs(4096);
    const uint64_t burst = cost::ProgramUs(64);
    const std::string half = std::to_string(eraseStarts + cost::kSectorEraseUs / 2);
    const std::string prefix = std::to_string(dataStarts + 3 * burst + burst / 2);
    const std::string late = std::to_string(10 * cost::kSectorEraseUs);
    const std::vector<Case> cases = {
        {"before the address write acts", "cut=1", false, 0, false},
        {"before the erase acts", "cut=2", false, 0, true},
        {"in the transfer, before the erase", "cut=2:500", false, 0, true},
        {"erase at its middle", "cut=2:" + half, false, 2048, true},
        {"after the erase, as the request ends", "cut=2:" + late, false, 4096, true},
        {"in the fourth 64-byte burst", "cut=2:" + prefix, true, 224, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host h(Config(0x80));
        h.chip.Flash().LoadImage(Bytes(65536, c.dataBlock ? 0xFF : 0x00).data(), 65536);
        h.chip.Faults() = {Parsed(c.line.c_str())};
        EXPECT_EQ(h.Put(xu::kSfAddress, {0, 0x10, 0, 0}), c.firstAnswered ? kOk : kDeviceGone);
        const Bytes data = Pattern(4096, 3);
        const int32_t second = c.dataBlock ? h.Put(xu::kSfData, data) : h.Put(xu::kSfSectorErase, {0, 0x10, 0, 0});
        EXPECT_EQ(second, kDeviceGone) << "the host never hears back";
        EXPECT_TRUE(h.chip.PowerCut());
        EXPECT_TRUE(h.chip.Unplugged());
        EXPECT_EQ(h.chip.RequestCount(), c.firstAnswered ? 2u : 1u);
        uint16_t length = 0;
        EXPECT_EQ(h.chip.GetLength(xu::kSfData, length), kDeviceGone) << "and stays gone";
        const Bytes& image = h.chip.Flash().Image();
        for (size_t i = 0; i < 4096; ++i) {
            const uint8_t was = c.dataBlock ? 0xFF : 0x00;
            const uint8_t now = c.dataBlock ? data[i] : 0xFF;
            ASSERT_EQ(image[0x1000 + i], i < c.changed ? now : was) << "byte " << i;
        }
        EXPECT_EQ(image[0x0FFF], c.dataBlock ? 0xFF : 0x00);
    }
}

// The in-package flash takes a cut as the serial flash does: its chip erase (played as download
// mode is entered) and its byte programs (one per received byte) are torn by the share of their
// time that had passed, and nothing reaches it afterwards. Entering download mode clears the
// download-OK flag and makes the in-package flash the one the chip starts from; the cut requests
// are 1 the command cycles, 2 the target, 3 the entry (the erase), 4 the first chunk.
TEST(QuelmarFaults, ACutTearsTheInPackageEraseAndProgram) {
    struct Case {
        const char* name;
        std::string line;
        size_t erased;      // bytes from address 0 the erase left 0xFF (the rest keep the old 0x00)
        size_t programmed;  // bytes of the chunk programmed, in order
        bool entered;       // download mode was entered before the power went
    };
    const uint64_t eraseStarts = cost::XuRequestUs(1), chunkStarts = cost::XuRequestUs(4096);
    const uint64_t byteUs = cost::ProgramUs(1);
    const std::vector<Case> cases = {
        {"before the entry acts", "cut=3", 0, 0, false},
        {"erase at its middle", "cut=3:" + std::to_string(eraseStarts + cost::kChipEraseUs / 2), 32768, 0, true},
        {"erase just before its end", "cut=3:" + std::to_string(eraseStarts + cost::kChipEraseUs - 1), 65535, 0,
         true},
        {"after the erase", "cut=3:" + std::to_string(eraseStarts + cost::kChipEraseUs), 65536, 0, true},
        {"in the chunk's transfer", "cut=4:2000", 65536, 0, true},
        {"in the 1001st byte program", "cut=4:" + std::to_string(chunkStarts + 1000 * byteUs + byteUs / 2), 65536,
         1000, true},
        {"as the chunk ends", "cut=4:" + std::to_string(chunkStarts + 4096 * byteUs), 65536, 4096, true},
    };
    const Bytes chunk = Pattern(4096, 5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChipConfig config = Config(0xD0);
        config.inPackageBytes = 0x10000;
        config.inPackageBoot = true;
        Host h(config);
        h.chip.InPackage()->LoadImage(Bytes(0x10000, 0x00).data(), 0x10000);
        h.chip.Faults() = {Parsed(c.line.c_str())};
        ASSERT_TRUE(h.chip.BootsInPackage());
        h.chip.SetBootsInPackage(false);  // it last ran a serial-flash download
        ASSERT_EQ(h.Put(xu::kMcmFlashCmds, kMcmCycles), kOk);
        ASSERT_EQ(h.Put(xu::kIspSerialFlash, {0}), kOk);
        const int32_t entry = h.Put(xu::kDfuEnableControl, {1});
        if (entry == kOk) EXPECT_EQ(h.Put(xu::kDfuAccessControl, chunk), kDeviceGone);
        else EXPECT_EQ(entry, kDeviceGone);
        EXPECT_TRUE(h.chip.PowerCut());
        EXPECT_EQ(h.chip.DownloadOk(), !c.entered);
        EXPECT_EQ(h.chip.BootsInPackage(), c.entered);
        const Bytes& ipf = h.chip.InPackage()->Image();
        for (size_t i = 0; i < ipf.size(); ++i) {
            const uint8_t expected = i < c.programmed ? chunk[i] : i < c.erased ? 0xFF : 0x00;
            ASSERT_EQ(ipf[i], expected) << "byte " << i;
        }
    }
}

// The commit selector marks an in-package download verified as it marks a serial one.
TEST(QuelmarInPackage, TheCommitSetsTheFlagOfTheFlashTheDownloadWentTo) {
    for (const bool inPackage : {true, false}) {
        SCOPED_TRACE(inPackage ? "in-package" : "serial");
        ChipConfig config = Config(0xD0);
        config.inPackageBytes = 0x10000;
        Host h(config);
        EXPECT_FALSE(h.chip.BootsInPackage()) << "powered on in serial mode";
        ASSERT_EQ(h.Put(xu::kMcmFlashCmds, kMcmCycles), kOk);
        ASSERT_EQ(h.Put(xu::kIspSerialFlash, {uint8_t(inPackage ? 0 : 1)}), kOk);
        ASSERT_EQ(h.Put(xu::kDfuEnableControl, {1}), kOk);
        EXPECT_FALSE(h.chip.DownloadOk());
        const Bytes image = Pattern(4096, 9);
        h.Stream(image);
        ASSERT_EQ(h.Put(xu::kIspFwDownloadOk, {1}), kOk);
        ASSERT_EQ(h.Put(xu::kDfuEnableControl, {0}), kOk);
        EXPECT_TRUE(h.chip.DownloadOk());
        EXPECT_EQ(h.chip.BootsInPackage(), inPackage);
        EXPECT_EQ(Bytes(h.chip.BootImage().begin(), h.chip.BootImage().begin() + 4096), image);
    }
}

TEST(QuelmarFaults, PropertySetRefusal) {
    struct Case {
        uint8_t configured;
        bool refuseFault;
        int32_t first, second;
    } cases[] = {{xu::kFirstSet, false, kOk, kSetNotFound},
                 {xu::kSecondSet, false, kSetNotFound, kOk},
                 {xu::kFirstSet, true, kSetNotFound, kOk}};
    for (const Case& c : cases) {
        ChipConfig config = Config(0x60);
        config.propertySet = c.configured;
        Host h(config);
        if (c.refuseFault) h.chip.Faults().push_back(Parsed("refuse=first_set"));
        uint8_t byte = 0;
        h.chip.UsePropertySet(xu::kFirstSet);
        EXPECT_EQ(h.chip.Read(xu::kDfuChecksum, &byte, 1), c.first);
        h.chip.UsePropertySet(xu::kSecondSet);
        EXPECT_EQ(h.chip.Read(xu::kDfuChecksum, &byte, 1), c.second);
        h.chip.UsePropertySet(xu::kDirect);
        EXPECT_EQ(h.chip.Read(xu::kDfuChecksum, &byte, 1), kOk);
    }
}

TEST(QuelmarClock, AKnownSequenceCostsWhatTheModelSays) {
    Host h(Config(0x60));
    auto& clock = h.chip.Clock();
    struct Step {
        std::function<void()> run;
        uint64_t us;
    } steps[] = {
        {[&] { h.SetReg(0x2501, 1); }, 2 * 1000 + 2 + 1},
        {[&] { h.Len(xu::kSfData); }, 1000 + 2},
        {[&] {
             ASSERT_EQ(h.Put(xu::kSfSectorErase, {0, 0x10, 0, 0}), kOk);
         },
         1000 + 4 + 60000},
        {[&] { ASSERT_EQ(h.Put(xu::kSfData, Pattern(4096, 1)), kOk); }, 1000 + 4096 + 64 * 350},
        {[&] { h.Get(xu::kSfData, 4096); }, 1000 + 4096},
    };
    for (const Step& s : steps) {
        const uint64_t before = clock.NowUs();
        s.run();
        EXPECT_EQ(clock.NowUs() - before, s.us);
    }
    std::map<std::string, uint64_t> v;
    ASSERT_TRUE(ParseSummary(clock.Summary(), v));
    EXPECT_EQ(v["time_us"], clock.NowUs());
    EXPECT_EQ(v["xu.write.count"], 4u);
    EXPECT_EQ(v["xu.write.s15.bytes"], 4096u);
    EXPECT_EQ(v["xu.read.s15.count"], 1u);
    EXPECT_EQ(v["flash.program.count"], 64u);
    EXPECT_EQ(v["flash.program.us"], 22400u);
    EXPECT_EQ(v["flash.sector_erase.count"], 1u);
    EXPECT_EQ(v["flash.read.bytes"], 4096u);
}

}  // namespace
