// The nine exports of QuelmarCamera.dll, called the way the updater calls them, against emulated
// cameras: the whole flashing sequence per part and carrier, refusals, a protected part, and the
// speed on the bench's virtual clock.
#include <gtest/gtest.h>

#include "camlib/exports/quelmar_camera.h"
#include "camlib/internals.h"
#include "camlib/testing/bench_rig.h"
#include "emu/bench_devices.h"
#include "emu/quelmar/clock.h"
#include "kit/text.h"

namespace {

using namespace camlib;
using camlib::testing::BenchRig;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;
using Bytes = std::vector<uint8_t>;
namespace cost = emu::quelmar::cost;

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 151 + seed * 3 + (i >> 10)) ^ seed);
    return b;
}

// A bench for the exports; the library's camera is closed before the bench goes.
struct OnBench {
    BenchRig rig;
    explicit OnBench(const std::string& ini) : rig(ini) {}
    ~OnBench() { QuelmarCam_UnInit(); }
};

class Exports : public ::testing::Test {
protected:
    void TearDown() override { QuelmarCam_UnInit(); }
};

using camlib::testing::Flash;
using camlib::testing::TableFor;

TEST_F(Exports, TheUpdatersSequenceOnEveryKindOfPartAndCarrier) {
    struct Case {
        Keys keys;
        uint8_t code;
        uint8_t statusAfter;
    } cases[] = {
        {{{"family", "f"}, {"flash", "121"}, {"flash_status", "0x0C"}}, 121, 0x0C},
        {{{"family", "h"}, {"flash", "129"}, {"carrier", "private"}}, 129, 0x0C},
        {{{"family", "g"}, {"flash", "122"}, {"carrier", "both"}, {"flash_status", "0x0C"}}, 122, 0x0C},
        {{{"family", "i"}, {"flash", "124"}, {"xu_guid", "second"}}, 124, 0x0C},
        {{{"family", "d"}, {"flash", "126"}, {"data_block", "64"}}, 126, 0x0C},
        {{{"family", "f"}, {"flash", "131"}}, 131, 0x00},
        {{{"family", "j"}, {"flash", "137"}}, 137, 0x00},
        {{{"family", "k"}, {"flash", "130"}, {"carrier", "private"}}, 130, 0x00},
    };
    for (const Case& c : cases) {
        OnBench on(QuelmarBench(c.keys));
        BenchRig& rig = on.rig;
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        const Bytes image = Pattern(65536, c.code);
        Bytes back;
        uint8_t code = 0;
        EXPECT_EQ(Flash(image, back, code), 0) << int(c.code);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(back, image) << int(c.code);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Chip().Flash().Image().begin()))
            << int(c.code);
        EXPECT_EQ(rig.Chip().Flash().NonVolatileStatus(), c.statusAfter) << int(c.code);
        EXPECT_EQ(rig.Chip().RestartCount(), 1u) << int(c.code);
    }
}

TEST_F(Exports, TheChipFamilyOfTheOpenedCameraAndNoneBeforeOne) {
    unsigned char family = 0;
    EXPECT_EQ(Get_ChipFamily(&family), 1) << "no camera is open";
    EXPECT_EQ(family, 0);
    for (const char* letter : {"d", "f", "h", "i", "k"}) {
        OnBench on(QuelmarBench({{"family", letter}, {"flash", "121"}}));
        ASSERT_TRUE(on.rig.Ok()) << on.rig.Error();
        ASSERT_EQ(QuelmarCam_Init(0), 0) << letter;
        EXPECT_EQ(Get_ChipFamily(&family), 0) << letter;
        EXPECT_EQ(family, static_cast<unsigned char>(letter[0]));
        EXPECT_EQ(Get_ChipFamily(nullptr), 1);
    }
}

TEST_F(Exports, AProtectedPartFailsTheEraseBeforeAnythingIsWritten) {
    // Code 0x83 makes the updater skip the protection calls; the part stays protected, takes the
    // erase commands and keeps its contents.
    OnBench on(QuelmarBench({{"flash", "131"}, {"flash_status", "0x0C"}}));
    BenchRig& rig = on.rig;
    const Bytes old = Pattern(65536, 99);
    rig.Chip().Flash().LoadImage(old.data(), old.size());
    Bytes back;
    uint8_t code = 0;
    EXPECT_EQ(Flash(Pattern(65536, 1), back, code), 3);
    EXPECT_EQ(rig.Chip().Flash().Image(), old);
    EXPECT_TRUE(rig.Traced(kit::Format(camlib::text::kSectorNotBlank, 0u)));
}

TEST_F(Exports, FamiliesWithoutTheRegisterPortSkipProtection) {
    OnBench on(QuelmarBench({{"family", "l"}}));
    BenchRig& rig = on.rig;
    ASSERT_EQ(QuelmarCam_Init(0), 0);
    const uint64_t before = camlib::testing::Transfers(rig.Clock());
    EXPECT_EQ(SetSF_WProtect_OFF(0), 0);
    EXPECT_EQ(SetSF_WProtect_ON(0), 0);
    EXPECT_EQ(camlib::testing::Transfers(rig.Clock()), before);
}

TEST_F(Exports, RefusalsAndTheSectorOption) {
    OnBench on(QuelmarBench({}));
    Bytes image = Pattern(65536, 4), back(65536);
    uint8_t code = 0;
    // Nothing opened yet.
    EXPECT_EQ(Get_FlashType(&code), 1);
    EXPECT_EQ(EraseSF(0), 1);
    EXPECT_EQ(Download_Sector(image.data(), 0, 0, 0), 1);
    EXPECT_EQ(Upload_Sector(back.data(), 0, 0), 1);
    EXPECT_EQ(SetSF_WProtect_OFF(0), 1);
    EXPECT_EQ(ResetCamera(), 1);
    EXPECT_EQ(QuelmarCam_Init(-1), 1);
    EXPECT_EQ(QuelmarCam_Init(1), 1) << "one camera: position 1 has none";
    ASSERT_EQ(QuelmarCam_Init(0), 0);
    EXPECT_EQ(Get_FlashType(nullptr), 1);
    struct Case {
        const char* name;
        int result;
    } cases[] = {
        {"table 7", Download_Sector(image.data(), 7, 0, 0)},
        {"sector 16", Download_Sector(image.data(), 0, 16, 0)},
        {"option 2", Download_Sector(image.data(), 0, 0, 2)},
        {"option -1", Download_Sector(image.data(), 0, 0, -1)},
        {"no image", Download_Sector(nullptr, 0, 0, 0)},
        {"read sector 16", Upload_Sector(back.data(), 16, 0)},
        {"read table 9", Upload_Sector(back.data(), 0, 9)},
        {"read no buffer", Upload_Sector(nullptr, 0, 0)},
        {"erase table 7", EraseSF(7)},
        {"protect table 7", SetSF_WProtect_ON(7)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, 1) << c.name;
    // Option 1 erases the sector first: a second write over written data then holds.
    const Bytes other = Pattern(65536, 5);
    ASSERT_EQ(Download_Sector(image.data(), 0, 3, 1), 0);
    ASSERT_EQ(Download_Sector(const_cast<uint8_t*>(other.data()), 0, 3, 1), 0);
    ASSERT_EQ(Upload_Sector(back.data(), 3, 0), 0);
    EXPECT_TRUE(std::equal(back.begin() + 3 * 4096, back.begin() + 4 * 4096, other.begin() + 3 * 4096));
}

TEST_F(Exports, AfterResetTheCameraMustBeOpenedAgain) {
    OnBench on(QuelmarBench({}));
    BenchRig& rig = on.rig;
    Bytes back(65536);
    ASSERT_EQ(QuelmarCam_Init(0), 0);
    ASSERT_EQ(ResetCamera(), 0);
    EXPECT_EQ(rig.Chip().RestartCount(), 1u);
    EXPECT_EQ(Upload_Sector(back.data(), 0, 0), 1) << "the device left the bus";
    ASSERT_EQ(QuelmarCam_Init(0), 0);
    EXPECT_EQ(Upload_Sector(back.data(), 0, 0), 0);
}

TEST_F(Exports, ACameraUnpluggedMidWriteFailsTheStepAndStaysGone) {
    OnBench on(QuelmarBench({{"fault1", "unplug=xu_write:15@5"}}));
    const Bytes image = Pattern(65536, 8);
    Bytes back;
    uint8_t code = 0;
    EXPECT_EQ(Flash(image, back, code), 4);
    EXPECT_EQ(QuelmarCam_Init(0), 1) << "no longer listed";
}

// The updater erases, then writes sector 0 first. A cut at any point before the whole image is in
// must leave a header without the verified mark, so that the camera comes back in ROM mode and can
// be flashed again; a verified mark over sectors still erased would leave it dead.
TEST_F(Exports, ACutWhileTheSectorsAreWrittenLeavesTheCameraInRomModeNotDead) {
    struct Part {
        Keys keys;
        char family;
        Bytes mark;
    };
    const Part parts[] = {
        {{{"family", "h"}, {"flash", "129"}, {"carrier", "private"}}, 'h', {0x55}},
        {{{"family", "i"}, {"flash", "124"}}, 'i', {0x89, 0x16}},
        {{{"family", "k"}, {"flash", "121"}}, 'k', {0x89, 0x17}},
    };
    struct Cut {
        const char* name;
        int afterSector;    // the cut falls in the requests after this sector's write
        uint32_t request;   // counted from the first request after it (1: the next one)
        uint32_t offsetUs;  // into that request
    };
    const uint32_t midProgram = static_cast<uint32_t>(cost::XuRequestUs(4096) + 2000);
    const Cut cuts[] = {
        {"before sector 1", 0, 1, 0},
        {"programming sector 1", 0, 2, midProgram},
        {"programming sector 9", 8, 2, midProgram},
        {"before the last sector", 14, 1, 0},
        {"as the writes end, before the mark", 15, 1, 0},
    };
    for (const Part& part : parts) {
        for (const Cut& cut : cuts) {
            SCOPED_TRACE(std::string(1, part.family) + ", cut " + cut.name);
            OnBench on(QuelmarBench(part.keys));
            ASSERT_TRUE(on.rig.Ok()) << on.rig.Error();
            emu::quelmar::QuelmarChip& chip = on.rig.Chip();
            Bytes image = Pattern(65536, 21);
            std::copy(part.mark.begin(), part.mark.end(), image.begin());
            const uint32_t id = emu::IdentityOffset(part.family);
            const uint8_t identity[6] = {0x7C, 0x3A, 0xA4, 0xB5, 0x13, 0x00};
            std::copy(identity, identity + 6, image.begin() + id);
            ASSERT_EQ(emu::BootByMark(part.family, image, true, 0x3A7C, 65536), emu::BootMode::Flash);

            ASSERT_EQ(QuelmarCam_Init(0), 0);
            uint8_t code = 0;
            Get_FlashType(&code);
            const unsigned char table = camlib::testing::TableFor(code);
            ASSERT_EQ(SetSF_WProtect_OFF(table), 0);
            ASSERT_EQ(EraseSF(table), 0);
            bool failed = false;
            for (int s = 0; s < 16 && !failed; ++s) {
                failed = Download_Sector(image.data(), table, static_cast<unsigned>(s), 0) != 0;
                if (s == cut.afterSector) {
                    const std::string line = "cut=" + std::to_string(chip.RequestCount() + cut.request) + ":" +
                                             std::to_string(cut.offsetUs);
                    emu::quelmar::Fault fault;
                    std::string error;
                    ASSERT_TRUE(emu::quelmar::ParseFault(line, fault, error)) << error;
                    chip.Faults().push_back(fault);
                }
            }
            if (!failed) {
                EXPECT_NE(SetSF_WProtect_ON(table), 0);
            }
            ASSERT_TRUE(chip.PowerCut());
            const Bytes& left = chip.Flash().Image();
            EXPECT_EQ(emu::BootByMark(part.family, left, chip.DownloadOk(), 0x3A7C, 65536), emu::BootMode::Rom)
                << "header " << int(left[0]) << " " << int(left[1]);
        }
        // Without a cut the mark is in before the read-back, which compares all of the image.
        OnBench on(QuelmarBench(part.keys));
        Bytes image = Pattern(65536, 21);
        std::copy(part.mark.begin(), part.mark.end(), image.begin());
        Bytes back;
        uint8_t code = 0;
        ASSERT_EQ(Flash(image, back, code), 0);
        EXPECT_EQ(back, image);
    }
}

TEST_F(Exports, SpeedAgainstTheFlashFloorAndTheBypassPort) {
    OnBench on(QuelmarBench({{"family", "f"}, {"flash", "121"}}));
    BenchRig& rig = on.rig;
    const Bytes image = Pattern(65536, 6);
    Bytes back(65536);
    ASSERT_EQ(QuelmarCam_Init(0), 0);
    auto& clock = rig.Clock();
    const uint64_t t0 = clock.NowUs(), x0 = camlib::testing::Transfers(clock);
    ASSERT_EQ(EraseSF(0), 0);
    for (unsigned s = 0; s < 16; ++s)
        ASSERT_EQ(Download_Sector(const_cast<uint8_t*>(image.data()), 0, s, 0), 0);
    for (unsigned s = 0; s < 16; ++s) ASSERT_EQ(Upload_Sector(back.data(), s, 0), 0);
    const uint64_t us = clock.NowUs() - t0, transfers = camlib::testing::Transfers(clock) - x0;
    ASSERT_EQ(back, image);
    const uint64_t floor = 16 * cost::kSectorEraseUs + cost::ProgramUs(65536) + 32 * cost::XuRequestUs(4096);
    EXPECT_LE(double(us), 1.2 * double(floor)) << us << " us against a floor of " << floor << " us";

    // One sector through the bypass port, byte by byte in 32-byte page programs; the image is
    // sixteen of them.
    CamHolder h = nullptr;
    ASSERT_EQ(CamInit(&h, 'e', 0), 0);
    const uint64_t b0 = camlib::testing::Transfers(clock);
    for (uint32_t a = 0; a < 4096; a += 32) ASSERT_EQ(BypassProgram(h, a, image.data() + a, 32), 0);
    const uint64_t bypass = 16 * (camlib::testing::Transfers(clock) - b0);
    CamDestroy(&h);
    EXPECT_GE(bypass, 100 * transfers) << bypass << " against " << transfers;
}

}  // namespace
