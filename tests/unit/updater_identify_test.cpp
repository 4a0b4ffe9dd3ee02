// Identification of the attached camera and the combo check.
#include <gtest/gtest.h>

#include "config.h"
#include "identify.h"
#include "updater_fakes.h"

namespace {

using tessaw::ChipFamily;
using tessaw::FirmwareEntry;

struct IdCase {
    const char* id;
    const char* vid;
    const char* pid;
    const char* rev;
};

TEST(HardwareId, FieldsFourCharactersAfterTheirMarkerUpToTheNextAmpersand) {
    for (IdCase c : {IdCase{"USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00", "3A7C", "B5A4", "0012"},
                     IdCase{"USB\\VID_3A7C&PID_B5A4&REV_0012", "3A7C", "B5A4", "0012"},
                     IdCase{"USB\\VID_3A7C&PID_B5A4", "3A7C", "B5A4", ""},
                     IdCase{"USB\\VID_3A7C&PID_0A1B&REV_0100&MI_02", "3A7C", "0A1B", "0100"},
                     IdCase{"USB\\VID_3A", "3A", "", ""}, IdCase{"USB\\VID", "", "", ""},
                     IdCase{"USB\\VID_", "", "", ""}, IdCase{"", "", "", ""},
                     // No separator after the marker: the field starts one character late.
                     IdCase{"USB\\ROOT_HUB30&VID8086&PID1E31&REV0004", "086", "E31", "004"}}) {
        tessaw::HardwareIdParts p = tessaw::ParseHardwareId(c.id);
        EXPECT_EQ(p.vid, c.vid) << c.id;
        EXPECT_EQ(p.pid, c.pid) << c.id;
        EXPECT_EQ(p.rev, c.rev) << c.id;
    }
}

struct Scene {
    twfakes::Machine machine;
    twfakes::Usb usb;
    twfakes::StillCapture still{machine};
    kit::RecordingTrace trace;
    tessaw::Identifier identifier{usb, still, machine, trace};
    std::vector<FirmwareEntry> entries;
    tessaw::DevLists lists;
    tessaw::Identity identity;
    std::string systemId = "17A3";

    Scene() {
        lists.realtek = {"5602", "5603"};
        lists.sonix = {"6300"};
        lists.quelmar = {"B5A4"};
    }
    void Entry(const std::string& sysId, const std::string& pid, const std::string& modId,
               const std::string& bin) {
        entries.push_back(FirmwareEntry{sysId, pid, "", modId, bin});
    }
    void Camera(const std::string& pid, const std::string& rev = "0012", const std::string& vid = "3A7C") {
        usb.Add("USB\\VID_" + vid + "&PID_" + pid + "&REV_" + rev + "&MI_00");
    }
    bool Identify(bool first = false) {
        return identifier.Identify(identity, entries, lists, systemId, first);
    }
};

TEST(Identify, AQuelmarCameraTakesItsEntrysBinNameAndModuleId) {
    Scene s;
    s.Entry("XXXX", "B5A4", "01", "FW_B5A4_01.bin");
    s.usb.Add("USB\\ROOT_HUB30&VID8086&PID1E31&REV0004");
    s.Camera("B5A4", "0012");
    s.Identify();
    EXPECT_EQ(s.identity.vid, "3A7C");
    EXPECT_EQ(s.identity.pid, "B5A4");
    EXPECT_EQ(s.identity.rev, "0012");
    EXPECT_EQ(s.identity.binName, "FW_B5A4_01.bin");
    EXPECT_EQ(s.identity.family, ChipFamily::Quelmar);
    EXPECT_EQ(s.identity.moduleText, "01");
    EXPECT_EQ(s.entries[0].rev, "0012");
    EXPECT_EQ(s.trace.lines, (std::vector<std::string>{"Result:[USB\\ROOT_HUB30&VID8086&PID1E31&REV0004]\r\n",
                                                       "Result:[USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00]\r\n",
                                                       "#1: PID:B5A4 ModID:01 REV:0012\r\n",
                                                       "Model: Quelmar series ...\r\n"}));
}

constexpr const char* kCam = "USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00";

struct MatchCase {
    const char* name;
    const char* entrySysId;
    const char* entryPid;
    const char* cameraId;
    std::vector<std::string> quelmarList;
    bool matched;    // VID, PID and a chip family
    bool vidPidSet;  // the entry test passed
};

class Matching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Matching, EntryTestAndListLookup) {
    const MatchCase& c = GetParam();
    Scene s;
    s.lists.quelmar = c.quelmarList;
    s.Entry(c.entrySysId, c.entryPid, "01", "a.bin");
    s.usb.Add(c.cameraId);
    s.Identify();
    EXPECT_EQ(s.identity.Matched(), c.matched);
    EXPECT_EQ(!s.identity.pid.empty(), c.vidPidSet);
    EXPECT_EQ(s.entries[0].rev, c.matched ? "0012" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Matching,
    ::testing::Values(
        MatchCase{"AnyComputer", "XXXX", "B5A4", kCam, {"B5A4"}, true, true},
        MatchCase{"AnyComputerLowerCase", "xxxx", "B5A4", kCam, {"B5A4"}, true, true},
        MatchCase{"ThisComputer", "17a3", "B5A4", kCam, {"B5A4"}, true, true},
        MatchCase{"OtherComputer", "17A4", "B5A4", kCam, {"B5A4"}, false, false},
        MatchCase{"EntryPidLowerCase", "XXXX", "b5a4", kCam, {"B5A4"}, true, true},
        MatchCase{
            "HardwareIdLowerCase", "XXXX", "B5A4", "usb\\vid_3a7c&pid_b5a4&rev_0012", {"B5A4"}, true, true},
        MatchCase{"OtherVendor", "XXXX", "B5A4", "USB\\VID_3B1D&PID_B5A4&REV_0012", {"B5A4"}, false, false},
        MatchCase{"InNoList", "XXXX", "B5A4", kCam, {}, false, true},
        MatchCase{"ListEntryLowerCase", "XXXX", "B5A4", kCam, {"b5a4"}, false, true},
        MatchCase{"ListEntryWithBlank", "XXXX", "B5A4", kCam, {"B5A4 "}, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Identify, TheFirstEntryThatPassesDecidesEvenWhenItsProductIsInNoList) {
    Scene s;
    s.lists.quelmar = {"B5A4"};
    s.Entry("XXXX", "B5A4", "01", "first.bin");
    s.Entry("XXXX", "B5A4", "02", "second.bin");
    s.Camera("B5A4");
    s.Identify();
    EXPECT_EQ(s.identity.binName, "first.bin");
    EXPECT_EQ(s.identity.moduleText, "01");
    EXPECT_EQ(s.entries[1].rev, "");
}

TEST(Identify, TwoRealtekCamerasJoinTheirModuleIds) {
    Scene s;
    s.Entry("XXXX", "5602", "11", "a.rfw");
    s.Entry("XXXX", "5603", "12", "b.rfw");
    s.Camera("5602", "0101");
    s.Camera("5603", "0202");
    s.Identify();
    EXPECT_EQ(s.identity.family, ChipFamily::Realtek);
    EXPECT_EQ(s.identity.moduleText, "11 + 12");
    EXPECT_EQ(s.entries[0].rev, "0101");
    EXPECT_EQ(s.entries[1].rev, "0202");
    EXPECT_EQ(s.identity.pid, "5603");
    EXPECT_EQ(s.identity.binName, "b.rfw");
}

TEST(Identify, TheFirstFamilyFoundFixesItButTheLastCameraKeepsItsIdentity) {
    Scene s;
    s.Entry("XXXX", "5602", "11", "a.rfw");
    s.Entry("XXXX", "6300", "21", "s.bin");
    s.Camera("5602", "0101");
    s.Camera("6300", "0303");
    s.Identify();
    EXPECT_EQ(s.identity.family, ChipFamily::Realtek);
    EXPECT_EQ(s.identity.moduleText, "11");
    EXPECT_EQ(s.entries[1].rev, "") << "the Sonix camera is not recorded";
    EXPECT_EQ(s.identity.pid, "6300");
    EXPECT_EQ(s.identity.rev, "0303");
    EXPECT_EQ(s.identity.binName, "s.bin");
}

TEST(Identify, NothingMatchingKeepsRevAndBinNameOfTheEarlierMatch) {
    Scene s;
    s.Entry("XXXX", "B5A4", "01", "FW.bin");
    s.Camera("B5A4");
    s.Identify();
    s.usb.devices.clear();
    s.Identify();
    EXPECT_EQ(s.identity.vid, "");
    EXPECT_EQ(s.identity.pid, "");
    EXPECT_EQ(s.identity.moduleText, "");
    EXPECT_EQ(s.identity.family, ChipFamily::None);
    EXPECT_EQ(s.identity.rev, "0012");
    EXPECT_EQ(s.identity.binName, "FW.bin");

    s.Camera("B5A4");
    s.usb.opens = false;
    EXPECT_FALSE(s.Identify()) << "the caller must leave the Module ID field alone";
    EXPECT_EQ(s.identity.family, ChipFamily::None) << "an enumeration that cannot be opened matches nothing";
    s.usb.opens = true;
    EXPECT_TRUE(s.Identify());
}

TEST(Identify, TheStillCaptureProbeRunsForRealtekCamerasOnTheFirstIdentificationOnly) {
    Scene s;
    s.Entry("XXXX", "5602", "11", "a.rfw");
    s.Entry("XXXX", "B5A4", "01", "FW.bin");
    s.Camera("5602");
    s.Identify(true);
    EXPECT_EQ(s.still.calls, (std::vector<std::string>{"init 3a7c:5602 @0", "clear @100"}));
    s.Identify(false);
    EXPECT_EQ(s.still.calls.size(), 2u);

    Scene q;
    q.Entry("XXXX", "B5A4", "01", "FW.bin");
    q.Camera("B5A4");
    q.Identify(true);
    EXPECT_TRUE(q.still.calls.empty());
}

// ---------------------------------------------------------------------------------------------

struct ComboCase {
    const char* name;
    std::vector<std::string> present;  // PIDs of entries with a REV, in table order
    std::vector<std::string> combo;    // dev.vrk [COMBO] texts
    bool pass;
    bool combined;
    const char* lastTrace;
};

class Combo : public ::testing::TestWithParam<ComboCase> {};

TEST_P(Combo, Outcome) {
    const ComboCase& c = GetParam();
    std::vector<FirmwareEntry> entries;
    entries.push_back(FirmwareEntry{"XXXX", "9999", "", "00", "absent.rfw"});
    for (const std::string& pid : c.present)
        entries.push_back(FirmwareEntry{"XXXX", pid, "0100", "01", "x.rfw"});
    tessaw::DevLists lists;
    lists.combo = c.combo;
    for (const std::string& text : c.combo) lists.pairs.push_back(tessaw::ParseComboPair(text));
    kit::RecordingTrace trace;
    tessaw::ComboOutcome outcome = tessaw::CheckCombo(entries, lists, trace);
    EXPECT_EQ(outcome.pass, c.pass);
    EXPECT_EQ(outcome.combo, c.combined);
    if (c.lastTrace) {
        ASSERT_FALSE(trace.lines.empty());
        EXPECT_EQ(trace.lines.back(), c.lastTrace);
    } else {
        EXPECT_TRUE(trace.lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Combo,
    ::testing::Values(
        ComboCase{"BothMembers",
                  {"B5A4", "B5A5"},
                  {"B5A4+B5A5"},
                  true,
                  true,
                  "RTK combo device: 0xB5A4 + 0xB5A5\r\n"},
        ComboCase{"BothMembersReversed",
                  {"5603", "5602"},
                  {"5602+5603"},
                  true,
                  true,
                  "RTK combo device: 0x5602 + 0x5603\r\n"},
        ComboCase{"LowerCasePairText",
                  {"B5A4", "B5A5"},
                  {"b5a4+b5a5"},
                  true,
                  true,
                  "RTK combo device: 0xB5A4 + 0xB5A5\r\n"},
        ComboCase{"OnlyOneMember", {"B5A4"}, {"B5A4+B5A5"}, false, false, "B5A4+B5A5\r\n"},
        ComboCase{"OnlySecondMember", {"B5A5"}, {"B5A4+B5A5"}, false, false, "B5A4+B5A5\r\n"},
        ComboCase{"TwoCamerasInNoPair", {"5604", "5605"}, {"5602+5603"}, false, false, "5602+5603\r\n"},
        ComboCase{"OneCameraInNoPair", {"5604"}, {"5602+5603"}, true, false, "RTK single device: 0x5604\r\n"},
        ComboCase{"ThreeCamerasInNoPair",
                  {"5604", "5605", "5606"},
                  {"5602+5603"},
                  true,
                  false,
                  "RTK single device: 0x5606\r\n"},
        ComboCase{"SecondPairMatches",
                  {"B5A4", "B5A5"},
                  {"5602+5603", "B5A4+B5A5"},
                  true,
                  true,
                  "RTK combo device: 0xB5A4 + 0xB5A5\r\n"},
        ComboCase{"OneMarkStopsAtTheFirstPair",
                  {"5602"},
                  {"5602+5603", "B5A4+B5A5"},
                  false,
                  false,
                  "5602+5603\r\n"},
        // One camera never counts for both members of a pair.
        ComboCase{"SamePidTwiceOneCamera", {"5602"}, {"5602+5602"}, false, false, "5602+5602\r\n"},
        ComboCase{"SamePidTwiceTwoCameras",
                  {"5602", "5602"},
                  {"5602+5602"},
                  true,
                  true,
                  "RTK combo device: 0x5602 + 0x5602\r\n"},
        ComboCase{"APairWithAZeroPasses", {"5602"}, {"5602", "5602+5603"}, true, false, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
