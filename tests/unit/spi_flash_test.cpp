#include "emu/quelmar/spi_flash.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using emu::quelmar::FindFlashPart;
using emu::quelmar::FlashParts;
using emu::quelmar::SpiFlash;
using emu::quelmar::VirtualClock;
using Bytes = std::vector<uint8_t>;

// Drives a part the way a host on its pins would.
struct Bus {
    VirtualClock clock;
    SpiFlash flash;

    explicit Bus(uint8_t code, uint8_t idle = 0xFF) : flash(*FindFlashPart(code), 0, clock, idle) {}

    Bytes Cmd(const Bytes& out, size_t in = 0) {
        flash.Select();
        for (uint8_t b : out) flash.Transfer(b);
        Bytes got;
        for (size_t i = 0; i < in; ++i) got.push_back(flash.Transfer(0));
        flash.Deselect();
        return got;
    }
    uint8_t Status() { return Cmd({0x05}, 1)[0]; }
    void Settle() { clock.Advance(flash.BusyRemainingUs()); }
    Bytes Read(uint32_t a, size_t n) { return Cmd({0x03, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)}, n); }
    void Program(uint32_t a, const Bytes& data, bool enable = true) {
        if (enable) Cmd({0x06});
        Bytes cmd = {0x02, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
        cmd.insert(cmd.end(), data.begin(), data.end());
        Cmd(cmd);
        Settle();
    }
    void Erase(uint8_t op, uint32_t a) {
        Cmd({0x06});
        Cmd({op, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)});
        Settle();
    }
    void WriteStatus(uint8_t unlock, uint8_t v) {
        Cmd({unlock});
        Cmd({0x01, v});
        Settle();
    }
    void Fill(uint8_t v) {
        Bytes image(flash.Size(), v);
        flash.LoadImage(image.data(), image.size());
    }
};

// The identification table the kit classifies parts by: command, answer, code.
struct IdRow {
    uint8_t command;
    Bytes answer;
    uint8_t code;
};
const std::vector<IdRow> kIdTable = {
    {0x90, {0xC2, 0x05, 0xC2}, 121}, {0x90, {0xBF, 0x48, 0xBF}, 122}, {0x90, {0x9D, 0x05, 0x7F}, 123},
    {0x90, {0x9D, 0x02, 0x7F}, 124}, {0xAB, {0x9D, 0x7B, 0x7F}, 125}, {0x9F, {0x1F, 0x65, 0x00}, 126},
    {0x90, {0x1C, 0x05, 0x1C}, 127}, {0x90, {0x42, 0x05, 0xC2}, 128}, {0x9F, {0xC2, 0x22, 0x10}, 129},
    {0x9F, {0xC2, 0x22, 0x11}, 130}, {0x90, {0xC8, 0x05, 0xC8}, 131}, {0x90, {0xA1, 0x05, 0xA1}, 132},
    {0x90, {0x51, 0x05, 0x51}, 133}, {0x90, {0x51, 0x10, 0x51}, 134}, {0x90, {0xC2, 0x10, 0xC2}, 135},
    {0x90, {0x9D, 0x05, 0xC4}, 136}, {0x90, {0x1C, 0x12, 0x1C}, 137},
};

uint8_t Classify(uint8_t command, const Bytes& answer) {
    for (const IdRow& row : kIdTable)
        if (row.command == command && row.answer == answer) return row.code;
    return 120;
}

// The kit's probe order: 0x90; when that is blank, 0xAB, then 0x9F.
uint8_t Probe(Bus& bus) {
    Bytes rems = bus.Cmd({0x90, 0, 0, 0}, 3);
    if (rems != Bytes(3, 0xFF) && rems != Bytes(3, 0x00)) return Classify(0x90, rems);
    if (uint8_t code = Classify(0xAB, bus.Cmd({0xAB, 0, 0, 0}, 3)); code != 120) return code;
    return Classify(0x9F, bus.Cmd({0x9F}, 3));
}

TEST(SpiFlashParts, EveryTableRowAnswersItsCommandExactly) {
    for (const IdRow& row : kIdTable) {
        Bus bus(row.code);
        Bytes cmd = {row.command};
        if (row.command != 0x9F) cmd.insert(cmd.end(), 3, 0x00);
        EXPECT_EQ(bus.Cmd(cmd, 3), row.answer) << int(row.code);
    }
    EXPECT_EQ(FlashParts().size(), kIdTable.size() + 1);  // plus the unknown part
}

class SpiFlashProbe : public ::testing::TestWithParam<uint8_t> {};

TEST_P(SpiFlashProbe, EveryPartIsIdentifiedAsItsOwnCodeWhateverTheBusIdles) {
    for (const auto& part : FlashParts()) {
        Bus bus(part.code, GetParam());
        EXPECT_EQ(Probe(bus), part.code) << part.label;
    }
}
INSTANTIATE_TEST_SUITE_P(IdleLevels, SpiFlashProbe, ::testing::Values(0xFF, 0x00));

TEST(SpiFlashParts, OddAddressStartsTheManufacturerAnswerAtTheDeviceByte) {
    Bus bus(121);
    EXPECT_EQ(bus.Cmd({0x90, 0, 0, 1}, 3), (Bytes{0x05, 0xC2, 0x05}));
}

TEST(SpiFlash, ProgramOnlyClearsBits) {
    struct Case {
        uint8_t before, written, after;
    } cases[] = {{0xFF, 0xA5, 0xA5}, {0xA5, 0x5A, 0x00}, {0x0F, 0xFF, 0x0F}, {0xF0, 0x3C, 0x30}};
    for (const Case& c : cases) {
        Bus bus(121);
        bus.Fill(c.before);
        bus.Program(0x100, {c.written});
        EXPECT_EQ(bus.Read(0x100, 1)[0], c.after);
        EXPECT_EQ(bus.Read(0x101, 1)[0], c.before);
    }
}

TEST(SpiFlash, PageBufferWrapsWithinThePageAndLaterBytesWin) {
    Bytes data(40);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    Bus big(121);  // 256-byte pages: 6 bytes to the page end, 4 wrap to its start
    big.Program(0x1FA, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(big.Read(0x1FA, 6), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(big.Read(0x100, 5), (Bytes{7, 8, 9, 10, 0xFF}));
    EXPECT_EQ(big.Read(0x200, 1)[0], 0xFF);

    Bus small(129);  // 32-byte pages: 40 bytes overrun, the last 8 replace the first 8
    small.Program(0x20, data);
    Bytes expect(32);
    for (int i = 0; i < 32; ++i) expect[i] = uint8_t(i < 8 ? 32 + i : i);
    EXPECT_EQ(small.Read(0x20, 32), expect);
    EXPECT_EQ(small.Read(0x40, 1)[0], 0xFF);
}

TEST(SpiFlash, WriteEnableIsNeededAndDropsWhenTheOperationCompletes) {
    Bus bus(121);
    bus.Program(0, {0x00}, /*enable=*/false);
    EXPECT_EQ(bus.Read(0, 1)[0], 0xFF);

    bus.Cmd({0x06});
    EXPECT_EQ(bus.Status(), 0x02);
    bus.Cmd({0x02, 0, 0, 0, 0x00});
    EXPECT_EQ(bus.Status(), 0x03);  // WIP with WEL until done
    bus.Settle();
    EXPECT_EQ(bus.Status(), 0x00);
    EXPECT_EQ(bus.Read(0, 1)[0], 0x00);

    bus.Program(1, {0x00}, /*enable=*/false);
    EXPECT_EQ(bus.Read(1, 1)[0], 0xFF);

    bus.Cmd({0x06});
    bus.Cmd({0x04});
    bus.Program(1, {0x00}, /*enable=*/false);
    EXPECT_EQ(bus.Read(1, 1)[0], 0xFF);
}

TEST(SpiFlash, WhileBusyOnlyReadStatusIsAnswered) {
    Bus bus(121);
    bus.Fill(0x00);
    bus.Cmd({0x06});
    bus.Cmd({0x20, 0, 0x10, 0});
    bus.Cmd({0x06});
    bus.Cmd({0x02, 0, 0x10, 0, 0x12});
    EXPECT_EQ(bus.Read(0x0000, 1)[0], 0xFF);  // ignored read: the bus idles
    bus.clock.Advance(59999);
    EXPECT_EQ(bus.Status() & 0x01, 0x01);
    bus.clock.Advance(1);
    EXPECT_EQ(bus.Status(), 0x00);  // the second write enable was ignored too
    EXPECT_EQ(bus.Read(0x0000, 1)[0], 0x00);
    EXPECT_EQ(bus.Read(0x1000, 1)[0], 0xFF);
}

TEST(SpiFlash, EraseOpcodesGranularityAndCost) {
    struct Case {
        uint8_t code, op;
        uint32_t address, first, bytes;
        const char* kind;
        uint64_t us;
    } cases[] = {
        {121, 0x20, 0x1234, 0x1000, 0x1000, "flash.sector_erase", 60000},
        {135, 0xD8, 0x1ABCD, 0x10000, 0x10000, "flash.block_erase", 1000000},
        {122, 0x52, 0x9000, 0x8000, 0x8000, "flash.block_erase", 500000},
        {123, 0xD7, 0x2345, 0x2000, 0x1000, "flash.sector_erase", 60000},
        {123, 0x20, 0x2345, 0, 0, nullptr, 0},  // not this part's sector opcode
        {122, 0xC7, 0, 0, 0, nullptr, 0},       // this part knows only 0x60
        {122, 0x60, 0, 0, 0x10000, "flash.chip_erase", 1000000},
        {121, 0xC7, 0, 0, 0x10000, "flash.chip_erase", 1000000},
    };
    for (const Case& c : cases) {
        Bus bus(c.code);
        bus.Fill(0x00);
        bus.Cmd({0x06});
        if (c.op == 0xC7 || c.op == 0x60)
            bus.Cmd({c.op});
        else
            bus.Cmd({c.op, uint8_t(c.address >> 16), uint8_t(c.address >> 8), uint8_t(c.address)});
        bus.Settle();
        const Bytes& image = bus.flash.Image();
        for (uint32_t a = 0; a < image.size(); a += 0x800) {
            const bool erased = a >= c.first && a < c.first + c.bytes;
            ASSERT_EQ(image[a], erased ? 0xFF : 0x00) << std::hex << int(c.op) << " at " << a;
        }
        if (c.kind) {
            EXPECT_EQ(bus.clock.Stat(c.kind).micros, c.us);
        }
    }
}

TEST(SpiFlash, CommandsNeedTheirExactByteCount) {
    Bus bus(121);
    bus.Fill(0x00);
    bus.Cmd({0x06, 0x00});  // nine or more clocks: no latch
    EXPECT_EQ(bus.Status(), 0x00);
    bus.Cmd({0x06});
    bus.Cmd({0x20, 0, 0, 0, 0});  // one byte too many
    bus.Cmd({0x01, 0x0C, 0x00});
    bus.Settle();
    EXPECT_EQ(bus.Read(0, 1)[0], 0x00);
    EXPECT_EQ(bus.Status(), 0x02);  // both ignored, latch still set
}

TEST(SpiFlash, BlockProtectRefusesProgramAndEraseInItsRegion) {
    struct Case {
        uint8_t bp;
        uint32_t lastFree;  // highest writable address, or 0xFFFFFFFF for none
    } cases[] = {{0x04, 0xBFFF}, {0x08, 0x7FFF}, {0x0C, 0xFFFFFFFF}, {0x00, 0xFFFF}};
    for (const Case& c : cases) {
        Bus bus(121);
        bus.flash.SetNonVolatileStatus(c.bp);
        const uint32_t firstProtected = c.lastFree == 0xFFFFFFFF ? 0 : c.lastFree + 1;
        if (c.lastFree != 0xFFFFFFFF) {
            bus.Program(c.lastFree, {0x00});
            EXPECT_EQ(bus.Read(c.lastFree, 1)[0], 0x00);
        }
        if (firstProtected < 0x10000) {
            bus.Program(firstProtected, {0x00});
            EXPECT_EQ(bus.Read(firstProtected, 1)[0], 0xFF) << int(c.bp);
            EXPECT_EQ(bus.Status() & 0x02, 0x02);  // a refused command keeps WEL
            bus.Fill(0x00);
            bus.Erase(0x20, firstProtected);
            EXPECT_EQ(bus.Read(firstProtected, 1)[0], 0x00);
        }
        bus.Fill(0x00);
        bus.Cmd({0x06});
        bus.Cmd({0xC7});
        bus.Settle();
        EXPECT_EQ(bus.Read(0, 1)[0], c.bp ? 0x00 : 0xFF) << "chip erase with bp " << int(c.bp);
    }
}

TEST(SpiFlash, StatusWriteUnlockDependsOnThePart) {
    struct Case {
        uint8_t code;
        Bytes unlock;  // commands sent before 0x01
        uint8_t after;
    } cases[] = {
        {121, {}, 0x00},           {121, {0x06}, 0x8C},       {122, {0x06}, 0x00},
        {122, {0x50}, 0x8C},       {122, {0x50, 0x05}, 0x00},  // 0x50 must come right before
        {121, {0x50, 0x06}, 0x8C},                             // parts without 0x50 ignore it
    };
    for (const Case& c : cases) {
        Bus bus(c.code);
        for (uint8_t op : c.unlock) op == 0x05 ? (void)bus.Status() : (void)bus.Cmd({op});
        bus.Cmd({0x01, 0xFF});  // WIP and WEL are not writable
        EXPECT_EQ(bus.Status() & 0x01, c.after ? 0x01 : 0x00);
        bus.Settle();
        EXPECT_EQ(bus.flash.NonVolatileStatus(), c.after) << int(c.code) << " after " << c.unlock.size();
        if (c.after) {
            EXPECT_EQ(bus.Status(), c.after);  // WEL dropped with the write
        }
    }
}

TEST(SpiFlash, BytePartProgramsOneByteAndStreamsWithAutoIncrement) {
    Bus bus(122);
    bus.Program(0x10, {0x11, 0x22, 0x33});
    EXPECT_EQ(bus.Read(0x10, 2), (Bytes{0x11, 0xFF}));

    bus.Cmd({0x06});
    bus.Cmd({0xAF, 0, 0, 0x20, 0xA1});
    bus.Settle();
    EXPECT_EQ(bus.Read(0x20, 1)[0], 0xFF);  // reads are refused while streaming
    bus.Cmd({0xAF, 0xA2});
    bus.Settle();
    bus.Cmd({0xAF, 0xA3});
    bus.Settle();
    EXPECT_EQ(bus.Status(), 0x02);
    bus.Cmd({0x04});
    EXPECT_EQ(bus.Status(), 0x00);
    EXPECT_EQ(bus.Read(0x20, 4), (Bytes{0xA1, 0xA2, 0xA3, 0xFF}));
}

TEST(SpiFlash, ReadsWrapAtTheEndAndFastReadSkipsADummyByte) {
    Bus bus(121);
    bus.Program(0xFFFF, {0x12});
    bus.Program(0x0000, {0x34});
    EXPECT_EQ(bus.Read(0xFFFF, 2), (Bytes{0x12, 0x34}));
    EXPECT_EQ(bus.Cmd({0x0B, 0, 0, 0, 0xAA}, 1)[0], 0x34);
    Bus noFast(122, 0x00);
    EXPECT_EQ(noFast.Cmd({0x0B, 0, 0, 0, 0}, 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(bus.clock.Stat("flash.read").bytes, 3u);

    const Bytes shortImage = {1, 2, 3};  // a short image file: the rest reads erased
    EXPECT_FALSE(bus.flash.LoadImage(shortImage.data(), shortImage.size()));
    EXPECT_EQ(bus.Read(0, 4), (Bytes{1, 2, 3, 0xFF}));
}

TEST(VirtualClock, ProgramCostIsProportionalAndTheSummaryReadsBack) {
    Bus bus(121);
    bus.Program(0x000, Bytes(256, 0));
    bus.Program(0x100, Bytes(10, 0));
    const auto stat = bus.clock.Stat("flash.program");
    EXPECT_EQ(stat.count, 2u);
    EXPECT_EQ(stat.bytes, 266u);
    EXPECT_EQ(stat.micros, 1400u + 55u);  // 10 bytes: 54.7 µs rounded up
    EXPECT_EQ(bus.clock.NowUs(), 1455u);

    std::map<std::string, uint64_t> values;
    ASSERT_TRUE(emu::quelmar::ParseSummary(bus.clock.Summary(), values));
    EXPECT_EQ(values["time_us"], 1455u);
    EXPECT_EQ(values["flash.program.count"], 2u);
    EXPECT_EQ(values["flash.program.us"], 1455u);
    EXPECT_FALSE(emu::quelmar::ParseSummary("a=1\nb=x\n", values));
    EXPECT_FALSE(emu::quelmar::ParseSummary("=3\n", values));
}

}  // namespace

namespace {

// A cut in the middle of an operation leaves the share of it that had happened: erases from the
// start of their range, programs in the order the bytes were sent, status writes not at all.
TEST(SpiFlashPowerCut, TornOperationsLeaveTheDocumentedMix) {
    struct Case {
        const char* name;
        uint64_t cutAfterUs;  // after the operation started
        size_t erased;        // bytes of the sector erased (erase) or programmed (program)
    };
    for (const Case& c : {Case{"erase at its middle", 30000, 2048}, Case{"erase at a quarter", 15000, 1024},
                          Case{"erase just before its end", 59999, 4095}, Case{"erase cut as it starts", 0, 0},
                          Case{"erase finished", 60000, 4096}}) {
        SCOPED_TRACE(c.name);
        Bus bus(121);
        bus.Fill(0x00);
        bus.Cmd({0x06});
        bus.flash.CutPowerAt(bus.clock.NowUs() + c.cutAfterUs);
        bus.Cmd({0x20, 0x00, 0x10, 0x00});  // the sector at 0x1000
        bus.clock.Advance(60000);
        const Bytes& image = bus.flash.Image();
        for (size_t i = 0; i < 4096; ++i)
            ASSERT_EQ(image[0x1000 + i], i < c.erased ? 0xFF : 0x00) << "byte " << i;
        EXPECT_EQ(image[0x0FFF], 0x00);
        EXPECT_EQ(image[0x2000], 0x00);
        EXPECT_TRUE(bus.flash.Dirty() || c.erased == 0);
    }
    for (const Case& c : {Case{"program at its middle", 700, 128}, Case{"program cut as it starts", 0, 0},
                          Case{"program finished", 1400, 256}}) {
        SCOPED_TRACE(c.name);
        Bus bus(121);
        bus.Fill(0xFF);
        bus.Cmd({0x06});
        bus.flash.CutPowerAt(bus.clock.NowUs() + c.cutAfterUs);
        // A page program that starts in the middle of its page and wraps: the prefix is in sending
        // order, from 0x380 to the end of the page and on from its start.
        Bytes data(256);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
        Bytes cmd = {0x02, 0x00, 0x03, 0x80};
        cmd.insert(cmd.end(), data.begin(), data.end());
        bus.Cmd(cmd);
        bus.clock.Advance(2000);
        const Bytes& image = bus.flash.Image();
        for (size_t k = 0; k < 256; ++k) {
            const size_t at = 0x300 + (0x80 + k) % 256;
            ASSERT_EQ(image[at], k < c.erased ? data[k] : 0xFF) << "byte sent " << k;
        }
    }
}

TEST(SpiFlashPowerCut, NothingReachesAPartWithoutPowerAndAStatusWriteIsAllOrNothing) {
    Bus bus(121);
    bus.Fill(0x00);
    bus.Cmd({0x06});
    bus.flash.CutPowerAt(bus.clock.NowUs() + 4999);
    bus.Cmd({0x01, 0x0C});  // needs 5 ms
    bus.clock.Advance(5000);
    EXPECT_EQ(bus.flash.NonVolatileStatus(), 0x00);
    EXPECT_FALSE(bus.flash.Powered());
    bus.Erase(0x20, 0);
    EXPECT_EQ(bus.flash.Image()[0], 0x00) << "no command after the cut";
    EXPECT_EQ(bus.Read(0, 2), Bytes({0xFF, 0xFF})) << "an unpowered part drives nothing";
    EXPECT_EQ(bus.flash.Image()[1], 0x00);
    // A second, later cut does not bring the power back.
    bus.flash.CutPowerAt(bus.clock.NowUs() + 100000);
    EXPECT_FALSE(bus.flash.Powered());
}

}  // namespace
