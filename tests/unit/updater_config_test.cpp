// config.ini, dev.vrk and ID_Log.ini as the updater reads them, through the real INI reader.
#include <gtest/gtest.h>

#include "config.h"
#include "texts.h"
#include "updater_fakes.h"

namespace {

using tessaw::FirmwareEntry;

struct LineCase {
    const char* line;  // as GetPrivateProfileSection hands it over
    FirmwareEntry expected;
};

class ConfigLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ConfigLine, SplitsIntoSysIdPidModIdAndBinName) {
    FirmwareEntry e = tessaw::SplitConfigLine(GetParam().line);
    const FirmwareEntry& x = GetParam().expected;
    EXPECT_EQ(e.sysId, x.sysId);
    EXPECT_EQ(e.pid, x.pid);
    EXPECT_EQ(e.modId, x.modId);
    EXPECT_EQ(e.binName, x.binName);
    EXPECT_EQ(e.rev, "") << "REV is only ever filled by identification";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigLine,
    ::testing::Values(
        LineCase{"SysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin", {"XXXX", "B5A4", "", "01", "FW_B5A4_01.bin"}},
        LineCase{"SysID_17A3_PID_B5A4_ModID_02=FW_B5A4_02.bin", {"17A3", "B5A4", "", "02", "FW_B5A4_02.bin"}},
        // A file name ends at its first blank.
        LineCase{"SysID_XXXX_PID_B5A4_ModID_01=FW 01.bin", {"XXXX", "B5A4", "", "01", "FW"}},
        // Doubled delimiters are skipped as a tokenizer skips them.
        LineCase{"SysID__17A3__PID__B5A4__ModID_02=x.bin", {"17A3", "B5A4", "", "02", "x.bin"}},
        LineCase{"SysID_XXXX_PID_B5A4_ModID_==x.bin", {"XXXX", "B5A4", "", "x.bin", "=x.bin"}},
        // Lines without their markers still make an entry, with the parts missing.
        LineCase{"just a line", {"", "", "", "", ""}}, LineCase{"=FW.bin", {"", "", "", "", "FW.bin"}},
        LineCase{"SysID_", {"", "", "", "", ""}}, LineCase{"PID_B5A4_ModID_03=", {"", "B5A4", "", "03", ""}},
        // Quotes are kept by the section read and so by the split.
        LineCase{"SysID_XXXX_PID_B5A4_ModID_01=\"FW 01.bin\"", {"XXXX", "B5A4", "", "01", "\"FW"}}));

struct ConfigRig {
    twfakes::Machine machine;
    twfakes::Files files{machine};
    twfakes::Profile profile{files};
    kit::RecordingTrace trace;
    ConfigRig() { machine.currentDirectory = "C:\\Kit"; }
};

TEST(ConfigSection, EveryLineIsOneEntryInFileOrderAndIsTraced) {
    ConfigRig rig;
    rig.files.Put(".\\config.ini",
                  "[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin\r\n; a comment\r\n"
                  "no markers at all\r\nSysID_17A3_PID_5602_ModID_02 = FW 02.rfw\r\n");
    std::vector<FirmwareEntry> entries;
    ASSERT_TRUE(tessaw::ReadConfigSection(rig.profile, rig.trace, tessaw::kConfigFile, entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].binName, "FW_B5A4_01.bin");
    EXPECT_EQ(entries[1].sysId, "");
    EXPECT_EQ(entries[1].binName, "");
    EXPECT_EQ(entries[2].pid, "5602");
    EXPECT_EQ(entries[2].binName, "FW");
    EXPECT_EQ(rig.trace.lines,
              (std::vector<std::string>{"SysID= XXXX, PID= B5A4, ModID= 01, BinName= FW_B5A4_01.bin\r\n",
                                        "SysID= , PID= , ModID= , BinName= \r\n",
                                        "SysID= 17A3, PID= 5602, ModID= 02, BinName= FW\r\n"}));
}

TEST(ConfigSection, MissingOrEmptySectionFailsAndKeepsTheTable) {
    for (const char* text : {"[FW_TOOL]\r\nLogSwitch=2\r\n", "[Config]\r\n[Other]\r\nx=1\r\n",
                             "[Config]\r\n; only a comment\r\n\r\n", ""}) {
        ConfigRig rig;
        rig.files.Put(".\\config.ini", text);
        std::vector<FirmwareEntry> entries{FirmwareEntry{"A", "B", "C", "D", "E"}};
        EXPECT_FALSE(tessaw::ReadConfigSection(rig.profile, rig.trace, tessaw::kConfigFile, entries)) << text;
        EXPECT_EQ(entries.size(), 1u);
    }
    ConfigRig missing;
    std::vector<FirmwareEntry> entries;
    EXPECT_FALSE(tessaw::ReadConfigSection(missing.profile, missing.trace, tessaw::kConfigFile, entries));
}

TEST(ConfigSection, ALongSectionIsReadThroughTheWholeBuffer) {
    ConfigRig rig;
    std::string text = "[Config]\r\n";
    for (int i = 0; i < 1500; ++i)
        text += "SysID_XXXX_PID_" + std::to_string(1000 + i) + "_ModID_01=F.bin\r\n";
    rig.files.Put(".\\config.ini", text);
    std::vector<FirmwareEntry> entries;
    ASSERT_TRUE(tessaw::ReadConfigSection(rig.profile, rig.trace, tessaw::kConfigFile, entries));
    EXPECT_EQ(entries.size(), 1500u);
    EXPECT_EQ(entries.back().pid, "2499");
}

struct SwitchCase {
    const char* value;
    int expected;
};

TEST(LogSwitch, LeadingDecimalDigitsOnly) {
    for (SwitchCase c : {SwitchCase{"0", 0},
                         {"1", 1},
                         {"2", 2},
                         {"2 ; program dir", 2},
                         {"", 0},
                         {"abc", 0},
                         {"3", 3},
                         {"-1", -1},
                         {"12", 12},
                         {"0x2", 0},
                         {"99999999999", 2147483647}})
        EXPECT_EQ(tessaw::ParseLogSwitch(c.value), c.expected) << c.value;
}

struct ListCase {
    const char* value;
    std::vector<std::string> expected;
};

class PidList : public ::testing::TestWithParam<ListCase> {};

TEST_P(PidList, FirstTokenAsWrittenLaterOnesWithoutBlanks) {
    EXPECT_EQ(tessaw::SplitPidList(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PidList,
    ::testing::Values(ListCase{"5602, 5603;5604", {"5602", "5603", "5604"}},
                      ListCase{"5602, 5603", {"5602", "5603"}},
                      // The first token keeps its trailing blank and so matches no camera.
                      ListCase{"5602 ,5603", {"5602 ", "5603"}},
                      // ";" does not end the first token.
                      ListCase{"5602;5603,5604", {"5602;5603", "5604"}},
                      ListCase{"6300,6301", {"6300", "6301"}}, ListCase{"B5A4", {"B5A4"}},
                      ListCase{",,5602,,;5603", {"5602", "5603"}},
                      ListCase{"5602,\t56 03 ", {"5602", "5603"}},
                      // A later token of blanks only is kept as an empty entry, the list goes on.
                      ListCase{"5602, ,5603", {"5602", "", "5603"}},
                      ListCase{"5602,\t;5603", {"5602", "", "5603"}}, ListCase{",", {}}));

struct PairCase {
    const char* text;
    uint32_t first, second;
};

TEST(ComboPair, HexadecimalPartsOfAtMostFourDigits) {
    for (PairCase c : {PairCase{"5602+5603", 0x5602, 0x5603},
                       {"b5a4+B5A5", 0xB5A4, 0xB5A5},
                       {"5602", 0x5602, 0},
                       {"+5603", 0x5603, 0},
                       {"zz+5603", 0, 0x5603},
                       {"123456+1", 0x1234, 1},
                       {"", 0, 0},
                       {" 5602 + 5603", 0x5602, 0x5603},
                       {"5602+5603+5604", 0x5602, 0x5603}}) {
        tessaw::ComboPair p = tessaw::ParseComboPair(c.text);
        EXPECT_EQ(p.first, c.first) << c.text;
        EXPECT_EQ(p.second, c.second) << c.text;
    }
}

TEST(DevVrk, ReadsTheFourListsAndTheirPairs) {
    ConfigRig rig;
    rig.files.Put(".\\dev.vrk",
                  "[REALTEK]\r\nPID=5602, 5603;5604\r\n[SONIX]\r\nPID=6300,6301\r\n[QUELMAR]\r\nPID=B5A4\r\n"
                  "[COMBO]\r\nPID=5602+5603,b5a4+b5a5\r\n");
    tessaw::DevLists lists = tessaw::ReadDevVrk(rig.profile, rig.trace, tessaw::kDevFile);
    EXPECT_EQ(lists.realtek, (std::vector<std::string>{"5602", "5603", "5604"}));
    EXPECT_EQ(lists.sonix, (std::vector<std::string>{"6300", "6301"}));
    EXPECT_EQ(lists.quelmar, (std::vector<std::string>{"B5A4"}));
    EXPECT_EQ(lists.combo, (std::vector<std::string>{"5602+5603", "b5a4+b5a5"}));
    ASSERT_EQ(lists.pairs.size(), 2u);
    EXPECT_EQ(lists.pairs[1].first, 0xB5A4u);
    EXPECT_EQ(lists.pairs[1].second, 0xB5A5u);
    EXPECT_EQ(rig.trace.lines, (std::vector<std::string>{
                                   "[REALTEK_PID]\r\n", "5602\r\n", "5603\r\n", "5604\r\n", "[SONIX_PID]\r\n",
                                   "6300\r\n", "6301\r\n", "[QUELMAR_PID]\r\n", "B5A4\r\n", "[COMBO_PID]\r\n",
                                   "5602 + 5603\r\n", "b5a4 + b5a5\r\n"}));
}

// The file author's way of ending the combo check: a blank entry makes the pair 0 + 0.
TEST(DevVrk, ABlankComboEntryMakesTheTerminatingPairZeroPlusZero) {
    ConfigRig rig;
    rig.files.Put(".\\dev.vrk",
                  "[REALTEK]\r\nPID=5602\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\n"
                  "[COMBO]\r\nPID=5602+5603, ,5604+5605\r\n");
    tessaw::DevLists lists = tessaw::ReadDevVrk(rig.profile, rig.trace, tessaw::kDevFile);
    EXPECT_EQ(lists.combo, (std::vector<std::string>{"5602+5603", "", "5604+5605"}));
    ASSERT_EQ(lists.pairs.size(), 3u);
    EXPECT_EQ(lists.pairs[1].first, 0u);
    EXPECT_EQ(lists.pairs[1].second, 0u);
    EXPECT_EQ(lists.pairs[2].first, 0x5604u);
    const std::vector<std::string> tail(rig.trace.lines.end() - 4, rig.trace.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"[COMBO_PID]\r\n", "5602 + 5603\r\n", "0000 + 0000\r\n",
                                              "5604 + 5605\r\n"}));
}

TEST(DevVrk, AnEmptyListLeavesItAndEveryLaterListEmpty) {
    struct Case {
        const char* text;
        size_t realtek, sonix, quelmar, combo;
    };
    for (Case c : {
             Case{"[REALTEK]\r\nPID=\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\n", 0, 0, 0, 0},
             Case{"[REALTEK]\r\nPID=5602\r\n[QUELMAR]\r\nPID=B5A4\r\n[COMBO]\r\nPID=5602+5603\r\n", 1, 0, 0,
                  0},
         }) {
        ConfigRig rig;
        rig.files.Put(".\\dev.vrk", c.text);
        tessaw::DevLists lists = tessaw::ReadDevVrk(rig.profile, rig.trace, tessaw::kDevFile);
        EXPECT_EQ(lists.realtek.size(), c.realtek) << c.text;
        EXPECT_EQ(lists.sonix.size(), c.sonix) << c.text;
        EXPECT_EQ(lists.quelmar.size(), c.quelmar) << c.text;
        EXPECT_EQ(lists.combo.size(), c.combo) << c.text;
        EXPECT_EQ(lists.pairs.size(), c.combo) << c.text;
    }
}

}  // namespace

namespace {

// [QUELMAR] ROM: VID:PID items in hexadecimal (either case), separated like the PID lists; an item
// that is not two groups of four hexadecimal digits is skipped and traced. Absent: no ROM identity.
TEST(DevVrk, QuelmarRomIdentitiesAreVidPidPairs) {
    struct Case {
        const char* value;
        std::vector<std::pair<std::string, std::string>> rom;
        size_t skipped;
    } cases[] = {
        {nullptr, {}, 0},
        {"04FC:2080", {{"04FC", "2080"}}, 0},
        {"04fc:2080, 1BCF:0B10;1bcf:0b09", {{"04FC", "2080"}, {"1BCF", "0B10"}, {"1BCF", "0B09"}}, 0},
        {"04FC2080,04FC:208,04FC:2080:1,XYZW:2080,1BCF:2082", {{"1BCF", "2082"}}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(absent)");
        ConfigRig rig;
        rig.files.Put(".\\dev.vrk", std::string("[REALTEK]\r\nPID=5602\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\n") +
                                        (c.value ? std::string("ROM=") + c.value + "\r\n" : ""));
        const tessaw::DevLists lists = tessaw::ReadDevVrk(rig.profile, rig.trace, tessaw::kDevFile);
        EXPECT_EQ(lists.quelmarRom, c.rom);
        EXPECT_EQ(lists.quelmar, (std::vector<std::string>{"B5A4"}));
        size_t skipped = 0;
        for (const std::string& line : rig.trace.lines) skipped += line.find("skipped") != std::string::npos;
        EXPECT_EQ(skipped, c.skipped);
    }
}

}  // namespace
