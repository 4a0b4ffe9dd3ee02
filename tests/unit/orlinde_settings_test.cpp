// The write tool's tables and readings: setting.ini flags, pid.ini sections and product IDs, the
// chip-default identities, the Sonix ROM addresses, the image revision, the progress timer and the
// pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orlinde_fakes.h"
#include "settings.h"

namespace {

using orfakes::kPid;
using orfakes::kSetting;

TEST(OrlindeFlags, OnlyTheFirstCharacterCountsAsANumber) {
    struct Case {
        const char* line;
        bool on;
    };
    const Case cases[] = {
        {"AutoDL=12", true},   {"AutoDL=0x1", false}, {"AutoDL=1", true},  {"AutoDL=9", true},
        {"AutoDL=10", true},   {"AutoDL=0", false},   {"AutoDL=a", false}, {"AutoDL=", false},
        {"AutoDL = 7 ", true}, {"AutoDL=-1", false},  {"Other=1", false},
    };
    for (const Case& c : cases) {
        twfakes::Machine machine;
        twfakes::Files files{machine};
        twfakes::Profile profile{files};
        files.Put(kSetting, std::string("[SETTING]\r\n") + c.line + "\r\n");
        EXPECT_EQ(orlinde::ReadFlag(profile, kSetting, "AutoDL"), c.on) << c.line;
    }
}

TEST(OrlindeFlags, FiveFlagsOfSectionSetting) {
    twfakes::Machine machine;
    twfakes::Files files{machine};
    twfakes::Profile profile{files};
    files.Put(kSetting,
              "[SETTING]\r\nCmdLineMode=1\r\nCmdLineMsg=0\r\nWriteLog=1\r\nAutoDL=0\r\n"
              "ChooseBinUsePid=1\r\n[OTHER]\r\nCmdLineMsg=1\r\n");
    const orlinde::Settings s = orlinde::ReadSettings(profile, kSetting);
    EXPECT_TRUE(s.cmdLineMode);
    EXPECT_FALSE(s.cmdLineMsg);
    EXPECT_TRUE(s.writeLog);
    EXPECT_FALSE(s.autoDl);
    EXPECT_TRUE(s.chooseBinUsePid);
    files.Remove(kSetting);
    const orlinde::Settings none = orlinde::ReadSettings(profile, kSetting);
    EXPECT_FALSE(none.cmdLineMode || none.cmdLineMsg || none.writeLog || none.autoDl || none.chooseBinUsePid);
}

TEST(OrlindeProductId, DigitsOddCharactersAndPlaceKeepers) {
    struct Case {
        const char* text;
        uint16_t pid;
    };
    const Case cases[] = {
        {"0B10", 0x0B10}, {"0b10", 0x0B10}, {"FfFf", 0xFFFF}, {":;<=", 0xABCD},
        {">?09", 0xEF09}, {"1 2 ", 0x1020}, {"12", 0x1200},   {"", 0x0000},
        {"0G10", 0xFFFF}, {"-001", 0xFFFF}, {"_0B1", 0xFFFF}, {"041f", 0x041F},
    };
    for (const Case& c : cases) EXPECT_EQ(orlinde::ParseProductId(c.text), c.pid) << '"' << c.text << '"';
}

struct SectionsCase {
    const char* name;
    std::string ini;
    std::vector<std::pair<uint16_t, std::string>> sections;
    std::vector<std::string> skipped;
};

void PrintTo(const SectionsCase& c, std::ostream* os) { *os << c.name; }

class OrlindeSections : public ::testing::TestWithParam<SectionsCase> {};

TEST_P(OrlindeSections, ListedInFileOrder) {
    const SectionsCase& c = GetParam();
    twfakes::Machine machine;
    twfakes::Files files{machine};
    twfakes::Profile profile{files};
    files.Put(kPid, c.ini);
    const orlinde::PidSections list = orlinde::ReadPidSections(profile, kPid);
    std::vector<std::pair<uint16_t, std::string>> got;
    for (const orlinde::PidSection& s : list.sections) got.emplace_back(s.pid, s.name);
    EXPECT_EQ(got, c.sections);
    EXPECT_EQ(list.skipped, c.skipped);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrlindeSections,
    ::testing::Values(
        SectionsCase{"WellFormed",
                     "[PID_0B10]\r\nBIN=a.bin\r\n[PID_b5a4]\r\n[PID_:;<=]\r\n",
                     {{0x0B10, "PID_0B10"}, {0xB5A4, "PID_b5a4"}, {0xABCD, "PID_:;<="}},
                     {}},
        // A name of nine characters no longer hides the names after it.
        SectionsCase{"MisSizedNameIsSkippedAlone",
                     "[PID_12345]\r\n[PID_0B10]\r\n[PID_B5A]\r\n[PID_0604]\r\n",
                     {{0x0B10, "PID_0B10"}, {0x0604, "PID_0604"}},
                     {"PID_12345", "PID_B5A"}},
        // Any eight characters count as four after a prefix, and the section is addressed as PID_.
        SectionsCase{"OtherPrefixAddressedAsPid",
                     "[ABC_041F]\r\n[SETTINGS]\r\n",
                     {{0x041F, "PID_041F"}, {0xFFFF, "PID_INGS"}},
                     {}},
        SectionsCase{"NoFile", "", {}, {}}),
    [](const ::testing::TestParamInfo<SectionsCase>& info) { return std::string(info.param.name); });

TEST(OrlindeSections, OnlyTheFirstThousandCharactersAreRead) {
    twfakes::Machine machine;
    twfakes::Files files{machine};
    twfakes::Profile profile{files};
    std::string ini;
    for (int i = 0; i < 120; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "[PID_%04X]\r\n", i);
        ini += name;
    }
    files.Put(kPid, ini);
    const orlinde::PidSections list = orlinde::ReadPidSections(profile, kPid);
    ASSERT_EQ(list.sections.size(), 110u);  // 110 whole names of 9 characters in 998
    EXPECT_EQ(list.sections.back().pid, 109);
    EXPECT_EQ(orlinde::FindSection(list, 109), &list.sections.back());
    EXPECT_EQ(orlinde::FindSection(list, 110), nullptr);
}

TEST(OrlindeChipDefaults, OnlyTheFiveFactoryIdentities) {
    const uint16_t rows[][3] = {{0x04FC, 0x2080, 0x0100},
                                {0x1BCF, 0x2082, 0x0100},
                                {0x1BCF, 0x0B09, 0x0100},
                                {0x1BCF, 0x0B01, 0x0100},
                                {0x1BCF, 0x0B10, 0x0200}};
    for (const auto& r : rows) {
        EXPECT_TRUE(orlinde::IsChipDefaultIdentity(r[0], r[1], r[2])) << std::hex << r[1];
        EXPECT_FALSE(orlinde::IsChipDefaultIdentity(r[0], r[1], r[2] + 1)) << std::hex << r[1];
        EXPECT_FALSE(orlinde::IsChipDefaultIdentity(r[0] ^ 0x1000, r[1], r[2])) << std::hex << r[1];
    }
    EXPECT_FALSE(orlinde::IsChipDefaultIdentity(0x1BCF, 0x0B10, 0x0100));
    EXPECT_FALSE(orlinde::IsChipDefaultIdentity(0x04FC, 0x2082, 0x0100));
}

TEST(OrlindeSonixRom, AddressTable) {
    struct Case {
        const char* name;
        uint8_t number;
        bool table;
        uint16_t address;
    };
    const Case cases[] = {
        {"231RO", 2, false, 0x000F}, {"231r", 2, false, 0x000F},  {"231RO", 1, false, 0x8034},
        {"232RO", 1, false, 0xC034}, {"275ro", 1, false, 0xC034}, {"276RO", 1, false, 0xC034},
        {"290RO", 1, false, 0xC034}, {"232RO", 2, true, 0},       {"232R", 3, false, 0x8034},
        {"286RO", 1, true, 0},       {"288RO", 1, true, 0},       {"289RO", 1, true, 0},
        {"270RO", 1, true, 0},       {"271RO", 1, true, 0},       {"280RO", 1, true, 0},
        {"281Rx", 1, true, 0},       {"286RO", 2, false, 0x8034}, {"275RO", 2, false, 0x8034},
        {"233RO", 1, false, 0x8034}, {"", 0, false, 0x8034},
    };
    for (const Case& c : cases) {
        char rom[8] = {};
        std::strncpy(rom, c.name, 5);
        rom[5] = static_cast<char>(c.number);
        const orlinde::RomAddress a = orlinde::SonixRomAddress(rom);
        EXPECT_EQ(a.fromSectorTable, c.table) << c.name << " " << int(c.number);
        if (!c.table) {
            EXPECT_EQ(a.address, c.address) << c.name << " " << int(c.number);
        }
    }
    EXPECT_EQ(orlinde::SectorTableRomAddress(0xC0), 0xC034);
    EXPECT_EQ(orlinde::SectorTableRomAddress(0), 0x0034);
}

TEST(OrlindeImageRevision, IdentityBlockAtTheFamilysOffset) {
    struct Case {
        char family;
        uint32_t at;
    };
    for (const Case c : {Case{'f', 0x8008}, Case{'g', 0x8008}, Case{'h', 0xB70A}, Case{'i', 0x678A},
                         Case{'j', 0xF000}, Case{'d', 0xF000}, Case{'l', 0xF000}}) {
        std::string image = orfakes::WithRevision(std::string(0x10000, '\xFF'), c.at, 0x0123);
        const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
        const orlinde::FileVersion v = orlinde::ImageRevision(bytes, 0x10000, c.family);
        EXPECT_TRUE(v.known) << c.family;
        EXPECT_EQ(v.value, 0x0123) << c.family;
        // A file that ends inside the block has no revision, whatever the buffer holds after it.
        EXPECT_FALSE(orlinde::ImageRevision(bytes, c.at + 5, c.family).known) << c.family;
        EXPECT_TRUE(orlinde::ImageRevision(bytes, c.at + 6, c.family).known) << c.family;
    }
    const std::string erased(0x10000, '\xFF');
    const orlinde::FileVersion v =
        orlinde::ImageRevision(reinterpret_cast<const uint8_t*>(erased.data()), 0x10000, 'i');
    EXPECT_FALSE(v.known);
    EXPECT_EQ(v.value, 0xFFFF);
}

TEST(OrlindeTimers, ProgressPeriodAndPictures) {
    EXPECT_EQ(orlinde::ProgressInterval(65536), 595u);
    EXPECT_EQ(orlinde::ProgressInterval(196608), 1787u);
    EXPECT_EQ(orlinde::ProgressInterval(109), 0u);

    for (int p = 0; p <= 255; ++p) {
        int expected = 0;
        if (p >= 71 && p <= 79) expected = orlinde::kBmpCountdown3;
        if (p >= 81 && p <= 89) expected = orlinde::kBmpCountdown2;
        if (p >= 91 && p <= 99) expected = orlinde::kBmpCountdown1;
        EXPECT_EQ(orlinde::CountdownPicture(static_cast<uint8_t>(p)), expected) << p;
    }
    EXPECT_EQ(orlinde::StatusPicture(0), 135);
    EXPECT_EQ(orlinde::StatusPicture(1), 138);
    EXPECT_EQ(orlinde::StatusPicture(2), 136);
    EXPECT_EQ(orlinde::StatusPicture(3), 137);
    for (uint8_t stage = 20; stage <= 25; ++stage) EXPECT_EQ(orlinde::StatusPicture(stage), 0);
}

}  // namespace
