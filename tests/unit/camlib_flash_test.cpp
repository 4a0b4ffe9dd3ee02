// The serial flash behind the chip: identification of every part, the command tables, protection
// through the bypass port, range reads and writes, the soft reset and the mode switch.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "camlib/internals.h"
#include "camlib/testing/bench_rig.h"
#include "emu/bench_devices.h"
#include "emu/quelmar/spi_flash.h"
#include "kit/text.h"

namespace {

using namespace camlib;
using camlib::testing::BenchRig;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 167 + seed * 13 + (i >> 9)) ^ seed);
    return b;
}

struct Camera {
    BenchRig rig;
    CamHolder h = nullptr;
    Camera(std::initializer_list<std::pair<std::string, std::string>> keys) : Camera(Keys(keys)) {}
    explicit Camera(const Keys& keys) : rig(QuelmarBench(keys)) {
        EXPECT_TRUE(rig.Ok()) << rig.Error();
        EXPECT_EQ(CamInit(&h, 'e', 0), 0);
    }
    ~Camera() { CamDestroy(&h); }
    emu::quelmar::QuelmarChip& Chip() { return rig.Chip(); }
    uint64_t Count(const char* kind) { return rig.Clock().Stat(kind).count; }
};

class EveryPart : public ::testing::TestWithParam<std::tuple<uint8_t, bool>> {};

TEST_P(EveryPart, IsIdentifiedByItsCode) {
    const auto [code, idSlot] = GetParam();
    Camera cam({{"family", "f"}, {"flash", std::to_string(code)}, {"id_slot", idSlot ? "1" : "0"}});
    uint8_t found = 0;
    EXPECT_EQ(CamProbeFlashType(cam.h, &found), 0);
    EXPECT_EQ(found, code);
    EXPECT_FALSE(cam.h->pExt->inPackageMode);
}

std::vector<uint8_t> PartCodes() {
    std::vector<uint8_t> codes;
    for (const emu::quelmar::FlashPart& p : emu::quelmar::FlashParts()) codes.push_back(p.code);
    return codes;
}

INSTANTIATE_TEST_SUITE_P(Parts, EveryPart,
                         ::testing::Combine(::testing::ValuesIn(PartCodes()), ::testing::Bool()),
                         [](const auto& info) {
                             return "code" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_IdSlot" : "_BypassPort");
                         });

TEST(FlashProbe, BlankAnswersFallBackToSignatureThenJedec) {
    // Identification commands the chip is given: 0x90 alone when it identifies; 0xAB after a blank
    // 0x90; 0x9F after both were blank.
    struct Case {
        uint8_t code;
        uint64_t commands;
    } cases[] = {{121, 1}, {120, 1}, {125, 2}, {126, 3}, {129, 3}, {130, 3}};
    for (const Case& c : cases) {
        Camera cam({{"flash", std::to_string(c.code)}});
        const uint64_t before = cam.Count("xu.write.s8");
        uint8_t found = 0;
        ASSERT_EQ(CamProbeFlashType(cam.h, &found), 0);
        EXPECT_EQ(found, c.code);
        EXPECT_EQ(cam.Count("xu.write.s8") - before, c.commands) << int(c.code);
    }
}

TEST(FlashProbe, InPackageModeNeedsNoFlashCommand) {
    Camera cam({{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}, {"in_package_boot", "1"}});
    uint8_t code = 0;
    ASSERT_EQ(CamProbeFlashType(cam.h, &code), 0);
    EXPECT_EQ(code, 255);
    EXPECT_TRUE(cam.h->pExt->inPackageMode);
    EXPECT_EQ(cam.Count("xu.write.s7") + cam.Count("xu.write.s8"), 0u);
}

TEST(FlashProbe, AnUnreachableCameraIsAFailureNotAnUnknownPart) {
    Camera cam({{"fault1", "fail=reg_read:0x20F5"}});
    uint8_t code = 0;
    EXPECT_EQ(CamProbeFlashType(cam.h, &code), 1);
    EXPECT_EQ(code, 120);
}

TEST(CommandTable, EveryIndexLandsInTheChip) {
    const Bytes expected[7] = {
        {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0x00},
        {0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52, 0x60, 0x02, 0xAF, 0x50, 0x01, 0x01},
        {0x03, 0x0B, 0x05, 0x06, 0x04, 0xD7, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0x00},
        {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0x00},
        {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0x00},
        {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0x00},
        {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01, 0x02},
    };
    Camera cam({{"data_block", "64"}});
    ExtUnit& u = *cam.h->pExt;
    for (int index = 6; index >= 0; --index) {
        ASSERT_EQ(CamSetFlashType(cam.h, index), 0) << index;
        Bytes held;
        for (uint8_t slot = 1; slot <= 12; ++slot) {
            uint8_t v = 0;
            ASSERT_EQ(XuWrite(u, XU_SF_CMD_INDEX, &slot, 1), 0);
            ASSERT_EQ(XuRead(u, XU_SF_CMD_VALUE, &v, 1), 0);
            held.push_back(v);
        }
        uint8_t mode = 0;
        ASSERT_EQ(XuRead(u, XU_SF_PROGRAM_MODE, &mode, 1), 0);
        held.push_back(mode);
        EXPECT_EQ(held, expected[index]) << "index " << index;
        const TableLoad load = LoadCommandTable(u, index);
        EXPECT_EQ(load.table, 0);
        EXPECT_EQ(load.length, 0);
        EXPECT_EQ(load.dataLength, 64u) << "the XU_SF_DATA length comes back";
    }
    // A code outside the table loads index 0 (index 2 is the one whose sector erase differs).
    ASSERT_EQ(CamSetFlashType(cam.h, 2), 0);
    ASSERT_EQ(CamSetFlashType(cam.h, 120), 0);
    uint8_t slot = 6, v = 0;
    XuWrite(u, XU_SF_CMD_INDEX, &slot, 1);
    XuRead(u, XU_SF_CMD_VALUE, &v, 1);
    EXPECT_EQ(v, 0x20);
}

TEST(Protection, StatusWritesOnlyWhenTheValueChanges) {
    Camera cam({{"flash", "121"}, {"flash_status", "0x0C"}});
    uint32_t state = 0;
    ASSERT_EQ(CamProtectState(cam.h, &state), 0);
    EXPECT_EQ(state, 151u);
    EXPECT_EQ(CamProtectOn(cam.h, 121), 0);
    EXPECT_EQ(cam.Count("flash.status_write"), 0u) << "already protected: no write command";
    EXPECT_EQ(CamProtectOff(cam.h, 121), 0);
    EXPECT_EQ(cam.Count("flash.status_write"), 1u);
    EXPECT_EQ(cam.Chip().Flash().NonVolatileStatus(), 0x00);
    ASSERT_EQ(CamProtectState(cam.h, &state), 0);
    EXPECT_EQ(state, 152u);
    EXPECT_EQ(CamProtectOn(cam.h, 0), 0);
    EXPECT_EQ(cam.Chip().Flash().NonVolatileStatus(), 0x0C);
}

TEST(Protection, PartsThatNeedEnableWriteStatusGetIt) {
    // The part takes a status write only right after 0x50; write enable does not unlock it. Code
    // 122 (and its table index 1) send 0x50; other codes send 0x06, which this part refuses, and
    // the refusal is reported.
    struct Case {
        uint32_t code;
        int result;
        uint8_t status;
    } cases[] = {{122, 0, 0x00}, {1, 0, 0x00}, {121, 1, 0x0C}, {0, 1, 0x0C}};
    for (const Case& c : cases) {
        Camera cam({{"flash", "122"}, {"flash_status", "0x0C"}});
        EXPECT_EQ(CamProtectOff(cam.h, c.code), c.result) << c.code;
        EXPECT_EQ(cam.Chip().Flash().NonVolatileStatus(), c.status) << c.code;
    }
}

TEST(Protection, StateValuesAndRefusals) {
    struct Case {
        const char* status;
        uint32_t state;
    } states[] = {{"0", 152}, {"0x0C", 151}, {"0x04", 150}, {"0x8C", 150}};
    for (const auto& c : states) {
        Camera cam({{"flash_status", c.status}});
        uint32_t state = 0;
        EXPECT_EQ(CamProtectState(cam.h, &state), 0);
        EXPECT_EQ(state, c.state) << c.status;
    }
    for (const char* family : {"j", "k", "l"}) {
        Camera cam({{"family", family}});
        uint32_t state = 0;
        uint8_t status = 0;
        EXPECT_EQ(CamProtectOff(cam.h, 121), 160) << family;
        EXPECT_EQ(CamProtectOn(cam.h, 121), 160) << family;
        EXPECT_EQ(CamProtectState(cam.h, &state), 160) << family;
        EXPECT_EQ(CamFlashStatus(cam.h, &status), 160) << family;
    }
    Camera cam({});
    const uint64_t before = camlib::testing::Transfers(cam.rig.Clock());
    for (uint32_t code : {7u, 120u, 138u, 255u}) {
        EXPECT_EQ(CamProtectOff(cam.h, code), 160) << code;
        EXPECT_EQ(CamProtectOn(cam.h, code), 160) << code;
    }
    EXPECT_EQ(camlib::testing::Transfers(cam.rig.Clock()), before) << "refused before any device access";
}

TEST(Protection, APortThatStaysBusyEndsTheWait) {
    // The port's busy register answers busy for every read: the bounded wait gives up.
    Camera cam({{"port_busy_reads", "1000000"}});
    uint8_t status = 0;
    EXPECT_EQ(CamFlashStatus(cam.h, &status), 1);
    EXPECT_TRUE(cam.rig.Traced(kit::Format(text::kPortBusy, 1000u)));
}

// A unit whose registers answer as scripted: the port is never busy and the part always reports
// write in progress.
struct BusyPart final : KsControl {
    uint16_t address = 0;
    int32_t KsProperty(const uint8_t* p, uint32_t, void* d, uint32_t n, uint32_t*) override {
        auto* bytes = static_cast<uint8_t*>(d);
        const bool write = p[20] == 0x02;
        if (p[16] == XU_REG_ADDR && write) address = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
        if (p[16] == XU_REG_DATA && !write && n == 1) bytes[0] = address == 0x2024 ? 0x03 : 0x00;
        return hr::kOk;
    }
};

TEST(Protection, AStatusThatStaysWriteInProgressEndsTheWait) {
    BenchRig rig(QuelmarBench({}));
    CamHolder h = nullptr;
    CamCreate(&h);
    h->pExt = std::make_unique<ExtUnit>();
    h->pExt->dt = kDtUvc;
    h->pExt->family = 'h';
    h->pExt->control = std::make_unique<BusyPart>();
    uint8_t status = 0;
    EXPECT_EQ(CamFlashStatus(h, &status), 1);
    EXPECT_TRUE(rig.Traced(kit::Format(text::kStatusBusy, 1000u)));
    EXPECT_EQ(CamProtectOff(h, 121), 1);
    CamDestroy(&h);
}

TEST(Ranges, WriteThenReadBackAcrossBlockSizesAndPageKinds) {
    struct Case {
        Keys keys;
        uint32_t code;
        uint32_t start, end;
    } cases[] = {
        {{{"family", "f"}, {"flash", "121"}}, 121, 0, 0x10000},
        {{{"family", "f"}, {"flash", "121"}, {"data_block", "64"}}, 121, 0x3000, 0x5000},
        {{{"family", "h"}, {"flash", "129"}}, 129, 0, 0x2000},
        {{{"family", "g"}, {"flash", "122"}}, 122, 0x8000, 0x9000},
        {{{"family", "i"}, {"flash", "123"}}, 123, 0x4000, 0x4A10},
        {{{"family", "j"}, {"flash", "121"}}, 121, 0, 0x1000},
    };
    for (const Case& c : cases) {
        Camera cam(c.keys);
        const Bytes source = Pattern(0x10000, c.code);
        ASSERT_EQ(CamWriteRange(cam.h, source.data(), c.code, c.start, c.end), 1) << c.code;
        Bytes back(c.end, 0x11);
        ASSERT_EQ(CamReadRange(cam.h, back.data(), c.code, c.start, c.end), 1) << c.code;
        EXPECT_TRUE(std::equal(back.begin() + c.start, back.end(), source.begin() + c.start)) << c.code;
        const std::vector<uint8_t>& flash = cam.Chip().Flash().Image();
        EXPECT_TRUE(std::equal(flash.begin() + c.start, flash.begin() + c.end, source.begin() + c.start))
            << c.code;
        // The rest of the last sector stays erased.
        const uint32_t sectorEnd = (c.end + 0xFFF) & ~0xFFFu;
        EXPECT_TRUE(std::all_of(flash.begin() + c.end, flash.begin() + sectorEnd,
                                [](uint8_t b) { return b == 0xFF; }));
    }
}

// A range write from address 0 puts the header bytes in last: cut halfway, the camera is left with
// no verified mark (ROM mode), never with one over sectors still erased (dead).
TEST(Ranges, AWholeImageWriteCutHalfwayLeavesNoVerifiedMark) {
    struct Case {
        Keys keys;
        uint32_t code;
        char family;
        Bytes mark;
    };
    const Case cases[] = {
        {{{"family", "h"}, {"flash", "129"}}, 129, 'h', {0x55}},
        {{{"family", "i"}, {"flash", "124"}}, 124, 'i', {0x89, 0x16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.family));
        Bytes source = Pattern(0x10000, 9);
        std::copy(c.mark.begin(), c.mark.end(), source.begin());
        const uint8_t identity[6] = {0x7C, 0x3A, 0xA4, 0xB5, 0x13, 0x00};
        std::copy(identity, identity + 6, source.begin() + emu::IdentityOffset(c.family));
        uint32_t requests = 0;
        {
            Camera whole(c.keys);
            ASSERT_EQ(CamWriteRange(whole.h, source.data(), c.code, 0, 0x10000), 1);
            EXPECT_TRUE(std::equal(source.begin(), source.end(), whole.Chip().Flash().Image().begin()));
            EXPECT_EQ(emu::BootByMark(c.family, whole.Chip().Flash().Image(), true, 0x3A7C, 0x10000),
                      emu::BootMode::Flash);
            requests = whole.Chip().RequestCount();
        }
        Keys keys = c.keys;
        keys.push_back({"fault1", "cut=" + std::to_string(requests / 2) + ":3000"});
        Camera cut(keys);
        EXPECT_EQ(CamWriteRange(cut.h, source.data(), c.code, 0, 0x10000), 0);
        ASSERT_TRUE(cut.Chip().PowerCut());
        EXPECT_EQ(emu::BootByMark(c.family, cut.Chip().Flash().Image(), true, 0x3A7C, 0x10000), emu::BootMode::Rom);
    }
}

TEST(Ranges, ThirtyTwoBytePagePartsAreSentTwoWholeSectorPasses) {
    // Erase, the block-length query, then the two half-page passes of 4096 bytes at the sector and
    // 32 bytes on, whatever block length the camera reports.
    Camera cam({{"family", "h"}, {"flash", "129"}});
    const Bytes source = Pattern(0x10000, 3);
    std::vector<emu::quelmar::WireRequest> wire;
    cam.Chip().RecordWire(&wire);
    ASSERT_EQ(CamWriteRange(cam.h, source.data(), 129, 0x1000, 0x2000), 1);
    const std::string traffic = camlib::testing::Traffic(wire);
    EXPECT_NE(traffic.find("W13=00100000 L15 W14=00100000 W15/4096 W14=20100000 W15/4096"), std::string::npos)
        << traffic;

    // A camera that takes only 64-byte blocks refuses the passes: the range fails, it is not
    // written in other blocks.
    Camera small({{"family", "h"}, {"flash", "129"}, {"data_block", "64"}});
    EXPECT_EQ(CamWriteRange(small.h, source.data(), 129, 0x1000, 0x2000), 0);
    const std::vector<uint8_t>& flash = small.Chip().Flash().Image();
    EXPECT_TRUE(std::all_of(flash.begin() + 0x1000, flash.begin() + 0x2000, [](uint8_t b) { return b == 0xFF; }));
}

TEST(Ranges, TheTableQueryIsFollowedByASecondLengthQuery) {
    // Loading the command table asks the XU_SF_DATA length; the operation asks it again, and only the
    // second answer counts.
    struct Case {
        const char* name;
        std::function<bool(CamHandle*, uint8_t*)> run;
    } cases[] = {
        {"read range", [](CamHandle* h, uint8_t* b) { return CamReadRange(h, b, 121, 0, 0x2000) == 1; }},
        {"write range", [](CamHandle* h, uint8_t* b) { return CamWriteRange(h, b, 121, 0, 0x2000) == 1; }},
        {"read block", [](CamHandle* h, uint8_t* b) { return CamReadBlock(h, b, 1, 121) == 0; }},
    };
    for (const Case& c : cases) {
        Camera cam({});
        Bytes buffer = Pattern(0x10000, 4);
        std::vector<emu::quelmar::WireRequest> wire;
        cam.Chip().RecordWire(&wire);
        ASSERT_TRUE(c.run(cam.h, buffer.data())) << c.name;
        const std::string traffic = camlib::testing::Traffic(wire);
        EXPECT_EQ(std::count_if(wire.begin(), wire.end(),
                                [](const auto& w) { return w.kind == 'L' && w.selector == XU_SF_DATA; }),
                  2)
            << c.name << ": " << traffic;
        EXPECT_NE(traffic.find("W16=00 L15"), std::string::npos) << c.name << ": " << traffic;
    }
}

TEST(Ranges, ACameraThatDoesNotAnswerTheLengthQueryIsReadByWindows) {
    Camera cam({{"fault1", "fail=xu_length:15"}});
    const Bytes image = Pattern(0x10000, 6);
    cam.Chip().Flash().LoadImage(image.data(), image.size());
    Bytes back(0x1000);
    ASSERT_EQ(CamReadRange(cam.h, back.data(), 121, 0, 0x1000), 1);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), image.begin()));
    EXPECT_EQ(cam.Count("xu.read.s22"), 64u);
    EXPECT_EQ(cam.Count("xu.read.s15"), 0u);
}

TEST(CommandTable, SetFlashTypeTellsATableThatDidNotLoadFromAnUnansweredQuery) {
    Camera unanswered({{"fault1", "fail=xu_length:15"}});
    EXPECT_EQ(CamSetFlashType(unanswered.h, 121), static_cast<int32_t>(0x8007001F));
    const TableLoad load = LoadCommandTable(*unanswered.h->pExt, 121);
    EXPECT_EQ(load.table, 0) << "the table is in place";
    EXPECT_EQ(load.length, static_cast<int32_t>(0x8007001F));

    Camera refused({{"fault1", "fail=xu_write:8@4"}});
    EXPECT_EQ(CamSetFlashType(refused.h, 121), static_cast<int32_t>(0x8007001F));
    EXPECT_EQ(refused.Count("xu.length.s15"), 0u) << "no query after a table that did not load";
}

TEST(Ranges, SixtyFourByteBlocksSetTheAddressEveryTime) {
    struct Case {
        const char* block;
        uint64_t addresses, reads;
    } cases[] = {{"64", 64, 64}, {"4096", 1, 1}};
    for (const Case& c : cases) {
        Camera cam({{"data_block", c.block}});
        Bytes back(0x2000);
        const uint64_t a0 = cam.Count("xu.write.s14"), r0 = cam.Count("xu.read.s15");
        ASSERT_EQ(CamReadRange(cam.h, back.data(), 121, 0x1000, 0x2000), 1);
        EXPECT_EQ(cam.Count("xu.write.s14") - a0, c.addresses) << c.block;
        EXPECT_EQ(cam.Count("xu.read.s15") - r0, c.reads) << c.block;
    }
}

TEST(Ranges, WithoutDataBlocksTheWindowIsUsed) {
    Camera cam({{"absent", "15"}});
    Bytes image = Pattern(0x10000, 9);
    cam.Chip().Flash().LoadImage(image.data(), image.size());
    Bytes back(200);
    ASSERT_EQ(CamReadRange(cam.h, back.data(), 121, 0, 200), 1);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), image.begin()));
    EXPECT_EQ(cam.Count("xu.read.s22"), 4u);
}

TEST(Ranges, RefusalsAndFailures) {
    Camera cam({});
    Bytes buffer(0x10000);
    EXPECT_EQ(CamReadRange(cam.h, nullptr, 121, 0, 16), 0);
    EXPECT_EQ(CamReadRange(nullptr, buffer.data(), 121, 0, 16), 0);
    EXPECT_EQ(CamReadRange(cam.h, buffer.data(), 121, 0, 0x10001), 0) << "beyond 16 address bits";
    EXPECT_EQ(CamReadRange(cam.h, buffer.data(), 121, 0x200, 0x100), 0);
    EXPECT_EQ(CamWriteRange(cam.h, buffer.data(), 121, 0x800, 0x1000), 0) << "a start inside a sector";
    EXPECT_EQ(CamWriteRange(cam.h, nullptr, 121, 0, 0x1000), 0);
    EXPECT_EQ(CamReadBlock(cam.h, buffer.data(), 0, 120), 160);
    EXPECT_EQ(CamReadBlock(cam.h, nullptr, 0, 121), 1);
    EXPECT_EQ(CamReadBlock(cam.h, buffer.data(), 16, 121), hr::kInvalidArg);
    Camera failing({{"fault1", "fail=xu_write:13@2"}});
    EXPECT_EQ(CamWriteRange(failing.h, buffer.data(), 121, 0, 0x3000), 0) << "a failed erase";
    Camera unreadable({{"fault1", "fail=xu_read:15@3"}});
    EXPECT_EQ(CamReadRange(unreadable.h, buffer.data(), 121, 0, 0x10000), 0) << "a failed block read";
}

TEST(Ranges, OneBlockAndTheWholeFlash) {
    Camera cam({});
    const Bytes image = Pattern(0x10000, 4);
    cam.Chip().Flash().LoadImage(image.data(), image.size());
    Bytes block(4096);
    ASSERT_EQ(CamReadBlock(cam.h, block.data(), 5, 121), 0);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), image.begin() + 5 * 4096));
    Bytes all(0x10000);
    ASSERT_EQ(CamReadFlash(cam.h, all.data(), 121), 0);
    EXPECT_EQ(all, image);
}

TEST(FlashAddress, SmallWritesGoThroughThePortOrTheWindow) {
    // 'f' reaches address 0x1234 through the bypass port; 'k' through the window (all 64 bytes
    // programmed); 'j' through the window with the count first.
    for (const char* family : {"f", "k", "j"}) {
        Camera cam({{"family", family}});
        const uint8_t data[5] = {0x12, 0x34, 0x56, 0x78, 0x9A};
        ASSERT_EQ(FlashWriteAt(cam.h, 0x1234, data, 5), 0) << family;
        uint8_t back[5] = {};
        ASSERT_EQ(FlashReadAt(cam.h, 0x1234, back, 5), 0) << family;
        EXPECT_EQ(Bytes(back, back + 5), Bytes(data, data + 5)) << family;
        const auto& flash = cam.Chip().Flash().Image();
        EXPECT_EQ(flash[0x1239], 0xFF) << family;
        EXPECT_EQ(cam.Count("xu.write.s22") > 0, std::string(family) != "f") << family;
    }
    Camera cam({});
    Bytes big(34, 0);
    EXPECT_EQ(FlashWriteAt(cam.h, 0, big.data(), 34), hr::kInvalidArg) << "a port record holds 33 bytes";
}

TEST(BypassPort, WriteDisableOpensNoChipSelectSessionOfItsOwn) {
    // Write disable is "port on; send 0x04; wait": no select before it, no release after it.
    struct Case {
        const char* family;
        const char* select;
        const char* release;
    } cases[] = {{"h", "00", "02"}, {"f", "02", "00"}};
    for (const Case& c : cases) {
        const std::string sel = std::string("w2025=") + c.select, rel = std::string("w2025=") + c.release;
        const std::string writeDisable = "w2020=80 w2022=04 r2021";
        Camera cam({{"family", c.family}, {"flash", "121"}, {"id_slot", "0"}});
        std::vector<emu::quelmar::WireRequest> wire;
        cam.Chip().RecordWire(&wire);
        uint8_t code = 0;
        ASSERT_EQ(CamProbeFlashType(cam.h, &code), 0);
        EXPECT_EQ(code, 121) << c.family;
        std::string traffic = camlib::testing::Traffic(wire);
        EXPECT_NE(traffic.find(writeDisable + " " + sel + " w2022=90 r2021 w2022=00 r2021"), std::string::npos)
            << c.family << ": " << traffic;

        wire.clear();
        const uint8_t byte = 0x5A;
        ASSERT_EQ(FlashWriteAt(cam.h, 0x100, &byte, 1), 0);
        traffic = camlib::testing::Traffic(wire);
        const std::string ending = rel + " " + writeDisable + " w2020=00";
        EXPECT_TRUE(traffic.size() >= ending.size() && traffic.ends_with(ending)) << c.family << ": " << traffic;
        EXPECT_EQ(cam.Chip().Flash().Image()[0x100], 0x5A) << c.family;

        wire.clear();
        uint8_t back = 0;
        ASSERT_EQ(FlashReadAt(cam.h, 0x100, &back, 1), 0);
        traffic = camlib::testing::Traffic(wire);
        EXPECT_EQ(traffic.find("w2020=80 " + writeDisable + " " + sel + " w2022=03"), 0u)
            << c.family << ": " << traffic;
        EXPECT_EQ(back, 0x5A) << c.family;
    }
}

TEST(SoftReset, SixWritesRestartTheChip) {
    Camera cam({});
    EXPECT_TRUE(CamSoftReset(cam.h));
    EXPECT_EQ(cam.Chip().RestartCount(), 1u);
    Camera failing({{"fault1", "fail=reg_write:0x2033"}});
    EXPECT_FALSE(CamSoftReset(failing.h));
    EXPECT_EQ(failing.Chip().RestartCount(), 0u);
}

TEST(ModeSwitch, FamilyLEntersInPackageModeAndIsOpenedAgain) {
    Camera cam({{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}});
    Bytes image = Pattern(0x10000, 1);
    cam.Chip().Flash().LoadImage(image.data(), image.size());
    ASSERT_EQ(CamSwitchMode(&cam.h, 0), 0);
    EXPECT_TRUE(cam.Chip().InPackageMode());
    EXPECT_EQ(cam.Chip().RestartCount(), 1u);
    EXPECT_EQ(cam.h->connected, 'y');
    EXPECT_EQ(cam.Chip().Flash().Image()[0], 0x00);
    EXPECT_EQ(cam.Chip().Flash().Image()[1], 0x00);
    uint8_t code = 0;
    ASSERT_EQ(CamProbeFlashType(cam.h, &code), 0) << "the new binding reaches the restarted chip";
    EXPECT_EQ(code, 255);
    Camera other({{"family", "f"}});
    EXPECT_EQ(CamSwitchMode(&other.h, 0), 0);
    EXPECT_EQ(other.Chip().RestartCount(), 0u);
}

TEST(ModeSwitch, ACameraThatDoesNotComeBackEndsTheWait) {
    // Every probe read after the first fails, so no Init after the restart succeeds.
    Camera cam({{"family", "l"}, {"chip_id", "0xD0"}, {"fault1", "fail=xu_read:11@2+"}});
    EXPECT_EQ(CamSwitchMode(&cam.h, 0), 1);
    EXPECT_TRUE(cam.rig.Traced(kit::Format(text::kNotBack, 20000u)));
    EXPECT_EQ(cam.rig.Clock().Stat("host.sleep").micros, uint64_t{kModeSwitchTries} * 500000);
}

}  // namespace
