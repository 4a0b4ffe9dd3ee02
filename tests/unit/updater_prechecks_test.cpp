// The checks a packager turns on in config.ini's [Checks]: the decisions, and how a run refuses
// before anything reaches the camera (and runs as before with every key absent).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camlib/internals.h"
#include "emulated_power.h"
#include "prechecks.h"
#include "session.h"
#include "sonix_flow.h"
#include "texts.h"
#include "updater_fakes.h"

namespace {

using kit::PowerSource;
using tessaw::CheckSettings;
using tessaw::PowerVerdict;
using tessaw::VersionVerdict;
using twfakes::kDir;
using twfakes::Rig;

CheckSettings Power(int minPercent, bool onBattery) {
    CheckSettings s;
    s.minBatteryPercent = minPercent;
    s.refuseOnBattery = onBattery;
    return s;
}

TEST(PowerDecision, ChargeAtTheThresholdPassesOneBelowIsRefused) {
    struct Case {
        CheckSettings settings;
        kit::PowerStatus status;
        PowerVerdict verdict;
    } cases[] = {
        {Power(20, false), {PowerSource::Battery, 20}, PowerVerdict::Pass},
        {Power(20, false), {PowerSource::Battery, 19}, PowerVerdict::LowBattery},
        {Power(20, false), {PowerSource::Battery, 4}, PowerVerdict::LowBattery},
        {Power(20, false), {PowerSource::Battery, 100}, PowerVerdict::Pass},
        {Power(100, false), {PowerSource::Battery, 99}, PowerVerdict::LowBattery},
        // No battery (a desktop) or a system that cannot tell: nothing to guard against.
        {Power(20, false), {PowerSource::Unknown, -1}, PowerVerdict::Pass},
        {Power(20, true), {PowerSource::Unknown, 3}, PowerVerdict::Pass},
        // On battery with a charge the system does not know: only the second key refuses it.
        {Power(20, false), {PowerSource::Battery, -1}, PowerVerdict::Pass},
        {Power(0, true), {PowerSource::Battery, -1}, PowerVerdict::OnBattery},
        {Power(0, true), {PowerSource::Battery, 100}, PowerVerdict::OnBattery},
        {Power(20, true), {PowerSource::Mains, 4}, PowerVerdict::Pass},
        {Power(0, false), {PowerSource::Battery, 0}, PowerVerdict::Pass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "min " << c.settings.minBatteryPercent << " mains-only "
                                        << c.settings.refuseOnBattery << " source "
                                        << static_cast<int>(c.status.source) << " at " << c.status.percent);
        EXPECT_EQ(tessaw::DecidePower(c.settings, c.status), c.verdict);
    }
}

TEST(VersionDecision, EqualLowerAndHigherRevisionsUnderEachKey) {
    struct Case {
        bool skipCurrent, noDowngrade;
        uint16_t image, camera;
        VersionVerdict verdict;
    } cases[] = {
        {true, false, 0x0012, 0x0012, VersionVerdict::Current},
        {true, false, 0x0011, 0x0012, VersionVerdict::Update},
        {true, false, 0x0013, 0x0012, VersionVerdict::Update},
        {false, true, 0x0012, 0x0012, VersionVerdict::Update},
        {false, true, 0x0011, 0x0012, VersionVerdict::Downgrade},
        {false, true, 0x0013, 0x0012, VersionVerdict::Update},
        {true, true, 0x0012, 0x0012, VersionVerdict::Current},
        {true, true, 0x00FF, 0x0100, VersionVerdict::Downgrade},  // compared as numbers, not bytes
        {true, true, 0x0100, 0x00FF, VersionVerdict::Update},
        {false, false, 0x0011, 0x0012, VersionVerdict::Update},
    };
    for (const Case& c : cases) {
        CheckSettings s;
        s.skipCurrent = c.skipCurrent;
        s.refuseDowngrade = c.noDowngrade;
        SCOPED_TRACE(testing::Message() << std::hex << c.image << " vs " << c.camera);
        EXPECT_EQ(tessaw::DecideVersion(s, c.image, c.camera), c.verdict);
    }
}

// A 64 KiB image with the identity block at `offset` and a pattern elsewhere.
std::vector<uint8_t> ImageWithBlock(uint32_t offset, uint16_t vid, uint16_t pid, uint16_t rev) {
    std::vector<uint8_t> image(tessaw::kQuelmarImageSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint16_t words[] = {vid, pid, rev};
    for (int w = 0; w < 3; ++w) {
        image[offset + 2 * w] = static_cast<uint8_t>(words[w]);
        image[offset + 2 * w + 1] = static_cast<uint8_t>(words[w] >> 8);
    }
    return image;
}

TEST(ImageIdentity, TheBlockIsReadAtEachFamilysOffset) {
    struct Case {
        char family;
        uint32_t offset;
    } cases[] = {{'d', 0xF000}, {'f', 0x8008}, {'g', 0x8008}, {'h', 0xB70A}, {'i', 0x678A},
                 {'j', 0xF000}, {'k', 0xF000}, {'l', 0xF000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("family ") + c.family);
        EXPECT_EQ(tessaw::QuelmarIdentityOffset(c.family), c.offset);
        // The download protocol of the camera library writes the block to the same place.
        EXPECT_EQ(tessaw::QuelmarIdentityOffset(c.family), camlib::IdentityOffset(c.family));
        const auto image = ImageWithBlock(c.offset, 0x3A7C, 0xB5A4, 0x0013);
        auto id = tessaw::QuelmarImageIdentity(image, tessaw::kQuelmarImageSize, c.family);
        ASSERT_TRUE(id);
        EXPECT_EQ(id->vid, 0x3A7C);
        EXPECT_EQ(id->pid, 0xB5A4);
        EXPECT_EQ(id->rev, 0x0013);
        // Just long enough, and one byte short: the fill beyond the file does not count.
        EXPECT_TRUE(tessaw::QuelmarImageIdentity(image, c.offset + 6, c.family));
        EXPECT_FALSE(tessaw::QuelmarImageIdentity(image, c.offset + 5, c.family));
    }
    // Another family's offset reads other bytes.
    const auto image = ImageWithBlock(0x678A, 0x3A7C, 0xB5A4, 0x0013);
    EXPECT_NE(tessaw::QuelmarImageIdentity(image, tessaw::kQuelmarImageSize, 'f')->pid, 0xB5A4);
}

TEST(CheckSettings, EveryKeyIsOffWhenAbsentAndReadLikeTheOtherNumbers) {
    Rig rig;
    auto read = [&](const std::string& section) {
        rig.files.Put(kDir + "\\config.ini", "[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=FW.bin\r\n" + section);
        return tessaw::ReadCheckSettings(rig.profile, (kDir + "\\config.ini").c_str());
    };
    CheckSettings none = read("");
    EXPECT_EQ(none.minBatteryPercent, 0);
    EXPECT_FALSE(none.refuseOnBattery || none.imageIdentity || none.skipCurrent || none.refuseDowngrade);

    CheckSettings all = read(
        "[Checks]\r\nMinBatteryPercent=25\r\nRefuseOnBattery=1\r\nImageIdentity=1\r\n"
        "SkipCurrentVersion=1\r\nRefuseDowngrade=1\r\n");
    EXPECT_EQ(all.minBatteryPercent, 25);
    EXPECT_TRUE(all.refuseOnBattery && all.imageIdentity && all.skipCurrent && all.refuseDowngrade);

    CheckSettings odd = read("[Checks]\r\nMinBatteryPercent=250\r\nRefuseOnBattery=0\r\nImageIdentity=yes\r\n");
    EXPECT_EQ(odd.minBatteryPercent, 100);
    EXPECT_FALSE(odd.refuseOnBattery);
    EXPECT_FALSE(odd.imageIdentity) << "a word is not a number";
    EXPECT_EQ(read("[Checks]\r\nMinBatteryPercent=-5\r\n").minBatteryPercent, 0);
}

// --- Whole runs over the rig: a Quelmar camera B5A4 at REV_0012, family 'i' -------------------

struct CheckRun {
    Rig rig;
    twfakes::Power& power = rig.power;

    explicit CheckRun(const std::string& checks, uint16_t pid = 0xB5A4, uint16_t rev = 0x0013) {
        rig.files.Put(kDir + "\\config.ini",
                      "[FW_TOOL]\r\nLogSwitch=2\r\n[DriverCompatible]\r\nQuelmar=6.1.7600.16\r\n"
                      "[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin\r\n" +
                          checks);
        power.status = {PowerSource::Battery, 4};
        const auto image = ImageWithBlock(0x678A, 0x3A7C, pid, rev);
        rig.files.Put(kDir + "\\FW_B5A4_01.bin", std::string(image.begin(), image.end()));
    }
    int Run(const std::string& commandLine = "-s") {
        rig.Make(commandLine);
        if (rig.session->OnInitDialog()) rig.Flash();
        rig.dialog.Pump();
        return rig.session->ExitCode();
    }
    // The refusal's lines: a time-stamped error line in the log, the message in the trace.
    void ExpectRefused(int code, const std::string& message, bool initialised) {
        EXPECT_EQ(rig.session->ExitCode(), code);
        EXPECT_NE(rig.Log().find("\r\r\n2024/05/06    14:03\r\r\n----------------: Error: " +
                                 tessaw::TextModeBytes(message)),
                  std::string::npos)
            << rig.Log();
        EXPECT_TRUE(rig.Traced(message)) << message;
        EXPECT_EQ(rig.quelmarFlow.runs, 0) << "nothing may reach the flash";
        EXPECT_EQ(twfakes::QuelmarStub::initArgs.size(), initialised ? 1u : 0u);
        EXPECT_TRUE(rig.dialog.destroyed);
        EXPECT_EQ(rig.Log().find("Update unsuccessful"), std::string::npos);
    }
};

TEST(PowerCheck, OnBatteryBelowTheChargeIsRefusedBeforeTheCameraIsOpened) {
    CheckRun run("[Checks]\r\nMinBatteryPercent=20\r\n");
    run.Run();
    run.ExpectRefused(tessaw::kExitPower,
                      "Battery charge is 4%, below the 20% needed: please connect the AC adapter!\r\n", false);
    EXPECT_TRUE(run.rig.dialog.boxes.empty()) << "no box in a silent run";
}

TEST(PowerCheck, TheSecondKeyRefusesAnyBatteryAndAnInteractiveRunShowsWhy) {
    CheckRun run("[Checks]\r\nRefuseOnBattery=1\r\n");
    run.power.status = {PowerSource::Battery, 96};
    run.Run("");
    run.ExpectRefused(tessaw::kExitPower, tessaw::kRefuseOnBattery, false);
    ASSERT_EQ(run.rig.dialog.boxes.size(), 1u);
    EXPECT_EQ(run.rig.dialog.boxes[0].text, tessaw::kRefuseOnBattery);
}

TEST(PowerCheck, MainsUnknownOrKeysAbsentRunAsBefore) {
    for (auto [checks, status] : {std::pair{std::string("[Checks]\r\nMinBatteryPercent=20\r\nRefuseOnBattery=1\r\n"),
                                            kit::PowerStatus{PowerSource::Mains, 4}},
                                  std::pair{std::string("[Checks]\r\nMinBatteryPercent=20\r\n"),
                                            kit::PowerStatus{PowerSource::Unknown, -1}},
                                  std::pair{std::string(), kit::PowerStatus{PowerSource::Battery, 1}}}) {
        CheckRun run(checks);
        run.power.status = status;
        EXPECT_EQ(run.Run(), tessaw::kExitSuccess) << checks;
        EXPECT_EQ(run.rig.quelmarFlow.runs, 1);
        if (checks.empty()) {
            EXPECT_EQ(run.power.reads, 0) << "without the keys the power is not even asked";
        }
    }
}

TEST(IdentityCheck, AnImageForAnotherProductIsRefusedAfterOpeningBeforeTheFlow) {
    CheckRun run("[Checks]\r\nImageIdentity=1\r\n", 0xB5A5);
    run.Run();
    run.ExpectRefused(tessaw::kExitWrongImage,
                      "FW file is for VID_3A7C&PID_B5A5, not for this camera (VID_3A7C&PID_B5A4)!\r\n", true);
}

TEST(IdentityCheck, TheFamilyDecidesWhereTheBlockIsLookedFor) {
    // The image carries the block at family i's offset: a family f camera finds other bytes there.
    CheckRun run("[Checks]\r\nImageIdentity=1\r\n");
    twfakes::QuelmarStub::family = 'f';
    EXPECT_EQ(run.Run(), tessaw::kExitWrongImage);
    EXPECT_EQ(run.rig.quelmarFlow.runs, 0);
}

TEST(IdentityCheck, ATooShortImageOrALibraryThatCannotTellTheFamilyIsRefused) {
    {
        CheckRun run("[Checks]\r\nImageIdentity=1\r\n");
        run.rig.files.Put(kDir + "\\FW_B5A4_01.bin", std::string(0x678A + 5, '\x11'));
        run.Run();
        run.ExpectRefused(tessaw::kExitWrongImage,
                          "FW file is too short to hold its identity block (26511 bytes)!\r\n", true);
    }
    {
        CheckRun run("[Checks]\r\nImageIdentity=1\r\n");
        run.rig.libraries.missingExports.insert("Get_ChipFamily");
        run.Run();
        run.ExpectRefused(tessaw::kExitWrongImage, tessaw::kRefuseNoFamily, true);
    }
}

TEST(IdentityCheck, OffAnyImageIsFlashedOnADifferentRevisionPasses) {
    CheckRun off("", 0xB5A5);
    EXPECT_EQ(off.Run(), tessaw::kExitSuccess);
    EXPECT_EQ(off.rig.quelmarFlow.runs, 1);
    CheckRun on("[Checks]\r\nImageIdentity=1\r\n", 0xB5A4, 0x0042);
    EXPECT_EQ(on.Run(), tessaw::kExitSuccess);
    EXPECT_EQ(on.rig.quelmarFlow.runs, 1);
}

TEST(VersionCheck, EqualRevisionIsAlreadyUpToDateLowerOnlyWithTheSecondKey) {
    struct Case {
        std::string checks;
        uint16_t rev;
        int exit;
    } cases[] = {
        {"[Checks]\r\nSkipCurrentVersion=1\r\n", 0x0012, tessaw::kExitUpToDate},
        {"[Checks]\r\nSkipCurrentVersion=1\r\n", 0x0011, tessaw::kExitSuccess},
        {"[Checks]\r\nRefuseDowngrade=1\r\n", 0x0011, tessaw::kExitNoDowngrade},
        {"[Checks]\r\nRefuseDowngrade=1\r\n", 0x0012, tessaw::kExitSuccess},
        {"[Checks]\r\nSkipCurrentVersion=1\r\nRefuseDowngrade=1\r\n", 0x0013, tessaw::kExitSuccess},
        {"", 0x0012, tessaw::kExitSuccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.checks + " rev " + std::to_string(c.rev));
        CheckRun run(c.checks, 0xB5A4, c.rev);
        EXPECT_EQ(run.Run(), c.exit);
        EXPECT_EQ(run.rig.quelmarFlow.runs, c.exit == tessaw::kExitSuccess ? 1 : 0);
    }
    CheckRun current("[Checks]\r\nSkipCurrentVersion=1\r\n", 0xB5A4, 0x0012);
    current.Run();
    current.ExpectRefused(tessaw::kExitUpToDate, "FW is already up to date (REV_0012)\r\n", true);
    CheckRun older("[Checks]\r\nRefuseDowngrade=1\r\n", 0xB5A4, 0x0011);
    older.Run();
    older.ExpectRefused(tessaw::kExitNoDowngrade,
                        "FW file REV_0011 is older than the camera's REV_0012: not downgraded\r\n", true);
}

TEST(VersionCheck, ASonixFilesRevisionCannotBeKnownAndTheUpdateGoesOn) {
    CheckRun run("[Checks]\r\nSkipCurrentVersion=1\r\n");
    run.rig.usb.devices.back().hardwareId = "USB\\VID_3A7C&PID_6300&REV_0100&MI_00";
    run.rig.files.Put(kDir + "\\config.ini",
                      "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\nSysID_XXXX_PID_6300_ModID_21=FW_6300.bin\r\n"
                      "[Checks]\r\nSkipCurrentVersion=1\r\n");
    run.rig.files.Put(kDir + "\\FW_6300.bin", std::string(tessaw::kSonixChunkSize, '\x11'));
    EXPECT_EQ(run.Run(), tessaw::kExitSuccess);
    EXPECT_EQ(run.rig.sonixFlow.runs, 1);
    EXPECT_NE(run.rig.Log().find(tessaw::TextModeBytes(tessaw::kVersionNotChecked)), std::string::npos);
}

// --- The bench's power keys -----------------------------------------------------------------

emu::Bench BenchWith(std::map<std::string, std::string> keys) {
    emu::Bench bench;
    bench.sections["bench"] = std::move(keys);
    return bench;
}

TEST(BenchPower, KeysGiveMainsBatteryAtNPercentOrUnknownAndTheNoticeSaysSo) {
    struct Case {
        std::map<std::string, std::string> keys;
        bool ok;
        PowerSource source;
        int percent;
        std::string notice;
    } cases[] = {
        {{}, true, PowerSource::Mains, -1, ""},
        {{{"power", "mains"}}, true, PowerSource::Mains, -1, ", power on mains"},
        {{{"power", "Battery"}, {"battery_percent", "4"}}, true, PowerSource::Battery, 4, ", power on battery at 4 %"},
        {{{"power", "battery"}}, true, PowerSource::Battery, -1, ", power on battery, charge unknown"},
        {{{"power", "unknown"}, {"battery_percent", "4"}}, true, PowerSource::Unknown, -1, ", power unknown"},
        {{{"power", "solar"}}, false, PowerSource::Unknown, -1,
         ", power unknown (power=solar is not mains, battery or unknown)"},
        {{{"power", "battery"}, {"battery_percent", "101"}}, false, PowerSource::Unknown, -1,
         ", power unknown (battery_percent=101 is not a charge of 0 to 100)"},
        {{{"power", "battery"}, {"battery_percent", "4%"}}, false, PowerSource::Unknown, -1,
         ", power unknown (battery_percent=4% is not a charge of 0 to 100)"},
    };
    for (const Case& c : cases) {
        const emu::Bench bench = BenchWith(c.keys);
        kit::PowerStatus status;
        std::string error;
        SCOPED_TRACE(c.notice);
        EXPECT_EQ(tessaw::bench::PowerFromBench(bench, status, error), c.ok) << error;
        EXPECT_EQ(status.source, c.source);
        EXPECT_EQ(status.percent, c.percent);
        EXPECT_EQ(tessaw::bench::PowerNotice(bench), c.notice);
    }
}

}  // namespace
