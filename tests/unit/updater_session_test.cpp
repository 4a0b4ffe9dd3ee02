// The update session: start-up and its failures, FLASH, the update driver, plug events, closing.
#include <gtest/gtest.h>

#include <algorithm>

#include "firmware_file.h"
#include "session.h"
#include "texts.h"
#include "updater_fakes.h"

namespace {

using tessaw::ChipFamily;
using twfakes::kDir;
using twfakes::Rig;

// What a failure report leaves in the log at the rig's time, closing line included.
std::string FailureLog(const std::string& message) {
    return "\r\r\n2024/05/06    14:03\r\r\n----------------: Error: " + tessaw::TextModeBytes(message) +
           "----------------: \r\n";
}

TEST(CommandLine, OnlyDashSInEitherCaseIsSilent) {
    for (const char* line : {"-s", "-S"})
        EXPECT_TRUE(tessaw::UpdateSession::IsSilentCommandLine(line)) << line;
    for (const char* line : {"", "-s ", " -s", "-silent", "/s", "s", "-s -s"})
        EXPECT_FALSE(tessaw::UpdateSession::IsSilentCommandLine(line)) << line;

    Rig silent;
    silent.Start("-S");
    EXPECT_TRUE(silent.dialog.hidden);
    Rig shown;
    shown.Start("-s ");
    EXPECT_FALSE(shown.dialog.hidden);
}

TEST(StartUp, ReadyDialogShowsSystemAndModuleIds) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    tessaw::UpdateSession& s = *rig.session;
    EXPECT_TRUE(s.Ready());
    EXPECT_EQ(rig.machine.currentDirectory, "C:\\Kit");
    EXPECT_EQ(s.ProgramDir(), "C:\\Kit");
    EXPECT_EQ(rig.dialog.caption, "Camera Update 2.1");
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcSystemId], "17A3");
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "01");
    EXPECT_TRUE(rig.dialog.enabled[tessaw::kIdcFlash]);
    EXPECT_TRUE(rig.dialog.enabled[tessaw::kIdcExit]);
    EXPECT_TRUE(rig.dialog.checked[tessaw::kIdcAutoScroll]);
    EXPECT_EQ(rig.libraries.byPath, std::vector<std::string>{"C:\\Kit\\RvcLib.dll"});
    EXPECT_EQ(rig.libraries.byName, std::vector<std::string>{"QuelmarCamera.dll"});
    EXPECT_EQ(rig.programs.started, std::vector<std::string>{"C:\\Kit\\SubSystemID.exe"});
    EXPECT_FALSE(rig.files.Has(kDir + "\\ID_Log.ini")) << "ID_Log.ini is deleted once read";
    EXPECT_TRUE(rig.Traced("RegisterDeviceNotification beef\r\t"));
    EXPECT_FALSE(rig.Traced("Register device notification failed!\r\n"));
    EXPECT_TRUE(rig.dialog.boxes.empty());
    EXPECT_EQ(rig.Log(), "") << "start-up writes no line of its own when it succeeds";
}

TEST(StartUp, AFailedRegistrationTracesTheHandleThenTheFailureAndGoesOn) {
    Rig rig;
    rig.dialog.registration = 0;
    ASSERT_TRUE(rig.Start(""));
    const std::vector<std::string>& lines = rig.trace.lines;
    auto at = std::find(lines.begin(), lines.end(), "RegisterDeviceNotification 0\r\t");
    ASSERT_NE(at, lines.end());
    ASSERT_NE(at + 1, lines.end());
    EXPECT_EQ(*(at + 1), "Register device notification failed!\r\n");
    EXPECT_TRUE(rig.session->Ready());
}

struct FailureCase {
    const char* name;
    std::function<void(Rig&)> damage;
    int exitCode;
    const char* message;
    bool logged;     // the failure reaches the log file
    bool errorIcon;  // interactive message box
};

class StartUpFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(StartUpFailure, SilentModeEndsWithTheCodeAndNoMessageBox) {
    const FailureCase& c = GetParam();
    Rig rig;
    c.damage(rig);
    EXPECT_FALSE(rig.Start("-s"));
    EXPECT_EQ(rig.session->ExitCode(), c.exitCode);
    EXPECT_TRUE(rig.dialog.boxes.empty());
    EXPECT_TRUE(rig.dialog.destroyed) << "the close request is handled at once";
    EXPECT_TRUE(rig.session->Closed());
    EXPECT_TRUE(rig.Traced(c.message));
    if (c.logged) {
        EXPECT_EQ(rig.Log(), FailureLog(c.message));
    } else {
        EXPECT_FALSE(rig.files.Has(twfakes::kLogFile)) << "no log file before config.ini switched logging on";
    }
    EXPECT_EQ(rig.threads.started, 0);
}

TEST_P(StartUpFailure, InteractiveModeShowsTheMessageFirst) {
    const FailureCase& c = GetParam();
    Rig rig;
    c.damage(rig);
    EXPECT_FALSE(rig.Start(""));
    EXPECT_EQ(rig.session->ExitCode(), c.exitCode);
    ASSERT_EQ(rig.dialog.boxes.size(), 1u);
    EXPECT_EQ(rig.dialog.boxes[0].text, c.message);
    EXPECT_EQ(rig.dialog.boxes[0].errorIcon, c.errorIcon);
    EXPECT_TRUE(rig.dialog.destroyed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartUpFailure,
    ::testing::Values(
        // BurnerApLib.dll is bound first, where the system loader used to refuse to start the program.
        FailureCase{"NoBurnerApLib", [](Rig& r) { r.sonix.missing = true; }, 44,
                    "Can not find BurnerApLib.dll file!\r\n", false, true},
        FailureCase{"BurnerApLibLacksAnEntryPoint", [](Rig& r) { r.sonix.lacks = "GetRomVersion"; }, 44,
                    "BurnerApLib.dll has no entry point GetRomVersion: ship the vendor's BurnerApLib.dll!\r\n",
                    false, true},
        FailureCase{"NoRvcLib", [](Rig& r) { r.libraries.unloadable.insert("c:\\kit\\rvclib.dll"); }, 16,
                    "Can not find RvcLib.dll file!\r\n", false, true},
        FailureCase{"NoQuelmarLib", [](Rig& r) { r.libraries.unloadable.insert("quelmarcamera.dll"); }, 17,
                    "Can not find QuelmarCamera.dll file!\r\n", false, true},
        FailureCase{"NoConfig", [](Rig& r) { r.files.Remove(kDir + "\\config.ini"); }, 18,
                    "Can not find config.ini file!\r\n", false, false},
        FailureCase{
            "EmptyConfigSectionLogged",
            [](Rig& r) { r.files.Put(kDir + "\\config.ini", "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\n"); },
            35, "Read config.ini failed!\r\n", true, false},
        FailureCase{"MissingConfigSectionNotLogged",
                    [](Rig& r) { r.files.Put(kDir + "\\config.ini", "[FW_TOOL]\r\nLogSwitch=0\r\n"); }, 35,
                    "Read config.ini failed!\r\n", false, false},
        FailureCase{"NoDevVrk", [](Rig& r) { r.files.Remove(kDir + "\\dev.vrk"); }, 34,
                    "Can not find dev.vrk file!\r\n", true, false},
        FailureCase{"NoSubSystemId", [](Rig& r) { r.files.Remove(kDir + "\\SubSystemID.exe"); }, 19,
                    "Can not find SubSystemID.exe file!\r\n", true, false},
        FailureCase{"NoSystemIdEver", [](Rig& r) { r.programs.onStart = nullptr; }, 38,
                    "Can not get system ID from ID_Log.ini!\r\n", true, false},
        FailureCase{"NoCamera", [](Rig& r) { r.usb.devices.clear(); }, 20, "No matched device!\r\n", true,
                    false},
        FailureCase{"CameraInNoList",
                    [](Rig& r) {
                        r.files.Put(kDir + "\\dev.vrk", "[REALTEK]\r\nPID=5602\r\n[SONIX]\r\nPID=6300\r\n");
                    },
                    20, "No matched device!\r\n", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartUp, WithoutBurnerApLibNothingElseIsLoaded) {
    Rig rig;
    rig.sonix.missing = true;
    EXPECT_FALSE(rig.Start("-s"));
    EXPECT_EQ(rig.sonix.binds, 1);
    EXPECT_EQ(rig.sonix.inits, 0);
    EXPECT_TRUE(rig.libraries.byPath.empty());
    EXPECT_TRUE(rig.libraries.byName.empty());

    // Bound: once, before anything else is loaded, and the run goes on as ever.
    Rig bound;
    ASSERT_TRUE(bound.Start("-s"));
    EXPECT_EQ(bound.sonix.binds, 1);
}

TEST(StartUp, WaitsForIdLogAndForANonEmptySysIdWithAPauseBetweenAttempts) {
    Rig rig;
    rig.programs.result = 2;  // SubSystemID.exe could not be started; the file comes all the same
    rig.programs.onStart = nullptr;
    rig.machine.onSleep = [&rig] {
        if (rig.machine.nowMs == 500) rig.files.Put(kDir + "\\ID_Log.ini", "[SUBSYSTEM]\r\nSYSID=\r\n");
        if (rig.machine.nowMs == 1200) rig.files.Put(kDir + "\\ID_Log.ini", "[SUBSYSTEM]\r\nSYSID=17a3\r\n");
    };
    ASSERT_TRUE(rig.Start());
    EXPECT_TRUE(rig.Traced("get system id failed!\r\n"));
    EXPECT_EQ(rig.machine.sleeps, std::vector<uint32_t>(12, 100));
    EXPECT_EQ(rig.session->SystemId(), "17A3");
    EXPECT_EQ(rig.profile.reads[".\\ID_Log.ini"], 8) << "read from 500 ms on, until the value is there";
    EXPECT_FALSE(rig.files.Has(kDir + "\\ID_Log.ini"));
}

TEST(StartUp, TheWaitForTheSystemIdEndsAfterItsLimit) {
    Rig rig;
    rig.programs.onStart = [&rig] { rig.files.Put(kDir + "\\ID_Log.ini", "[OTHER]\r\nSYSID=17A3\r\n"); };
    EXPECT_EQ(rig.RunSilently(), tessaw::kExitNoSystemId);
    EXPECT_EQ(rig.machine.nowMs, tessaw::kSystemIdLimitMs);
    EXPECT_EQ(rig.machine.sleeps.size(), tessaw::kSystemIdLimitMs / tessaw::kSystemIdPollMs);
    EXPECT_TRUE(rig.files.Has(kDir + "\\ID_Log.ini")) << "left for whoever looks into the failure";
}

// ---------------------------------------------------------------------------------------------
// A whole run

const std::string kSuccessfulRunLog =
    "\r\r\nMon    2024-05-06\r\r\n14:03\r\r\n"
    "----------------: VID=3A7C, PID=B5A4\r\r\n"
    "----------------: Current FW version = REV_0012\r\r\n"
    "----------------: Current FW version = REV_0013\r\r\n"
    "----------------: Update finished\r\r\n"
    "----------------: Updated successfully\r\r\n"
    "----------------: \r\n";

// The flow leaves the camera with the next revision, as a real update would.
void NewRevisionAfterFlow(Rig& rig) {
    rig.quelmarFlow.body = [&rig](tessaw::UpdateSession&) {
        rig.usb.devices.back().hardwareId = "USB\\VID_3A7C&PID_B5A4&REV_0013&MI_00";
    };
}

TEST(Update, SilentQuelmarRunAppendsTheRunToTheLogAndEndsWithZero) {
    Rig rig;
    rig.files.Put(twfakes::kLogFile, "earlier run\r\n");
    NewRevisionAfterFlow(rig);
    EXPECT_EQ(rig.RunSilently(), 0);
    EXPECT_EQ(rig.Log(), "earlier run\r\n" + kSuccessfulRunLog);
    EXPECT_EQ(twfakes::QuelmarStub::initArgs, std::vector<int>{0});
    EXPECT_EQ(rig.quelmarFlow.runs, 1);
    EXPECT_TRUE(rig.dialog.destroyed);
    EXPECT_TRUE(rig.dialog.boxes.empty());
    EXPECT_EQ(rig.machine.sleeps.back(), tessaw::kSettleMs);
    for (const char* line :
         {"Quelmar fw update ...\r\n", "Quelmar downloaded...\r\n", "Quelmar CamUnInit...\r\n",
          "Quelmar CamUnInit'd...\r\n", "Before CheckDevice()...\n", "After CheckDevice()...\n",
          "Update finished\r\n", "Updated successfully\r\n", "All cleaning up...\n"})
        EXPECT_TRUE(rig.Traced(line)) << line;
}

TEST(Update, ABenchRunSaysSoAtTheTopOfItsLogOnly) {
    Rig rig;
    NewRevisionAfterFlow(rig);
    rig.Make("-s").SetLogNotice("emulated bench: Z:\\bench\r\n");
    ASSERT_TRUE(rig.session->OnInitDialog());
    rig.Flash();
    rig.dialog.Pump();
    EXPECT_EQ(rig.session->ExitCode(), 0);
    EXPECT_EQ(rig.Log(), "----------------: emulated bench: Z:\\bench\r\r\n" + kSuccessfulRunLog);

    Rig unlogged;  // logging off: the notice has nowhere to go and must not open a log
    std::string config = unlogged.files.Get(kDir + "\\config.ini");
    ASSERT_NE(config.find("LogSwitch=2"), std::string::npos);
    unlogged.files.Put(kDir + "\\config.ini", config.replace(config.find("LogSwitch=2"), 11, "LogSwitch=0"));
    unlogged.Make("-s").SetLogNotice("emulated bench: Z:\\bench\r\n");
    if (unlogged.session->OnInitDialog()) unlogged.Flash();
    unlogged.dialog.Pump();
    EXPECT_FALSE(unlogged.files.Has(twfakes::kLogFile));
}

TEST(Update, InteractiveSuccessLeavesTheFinalDialogState) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    rig.dialog.checked[tessaw::kIdcAutoScroll] = true;
    rig.quelmarFlow.body = [&rig](tessaw::UpdateSession& s) {
        s.SetProgressRange(131072);
        s.SetProgressPos(131072);
        rig.usb.devices.back().hardwareId = "USB\\VID_3A7C&PID_B5A4&REV_0013&MI_00";
    };
    rig.Flash();
    tessaw::UpdateSession& s = *rig.session;
    EXPECT_EQ(s.ExitCode(), 0);
    EXPECT_FALSE(s.Flashing());
    EXPECT_FALSE(s.Closed());
    EXPECT_EQ(rig.dialog.resultText, "Update successfully");
    EXPECT_EQ(rig.dialog.resultColour, kit::Rgb(0, 128, 0));
    EXPECT_EQ(s.StatusText(), "Updated successfully\r\n");
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcStatus], "Updated successfully\r\n");
    EXPECT_EQ(rig.dialog.LastViewLine(), "----------------: Please reboot computer\r\n");
    EXPECT_EQ(rig.dialog.range, 131072u);
    EXPECT_EQ(rig.dialog.position, 0u);
    EXPECT_TRUE(rig.dialog.enabled[tessaw::kIdcExit]);
    EXPECT_FALSE(rig.dialog.enabled[tessaw::kIdcFlash]);
    EXPECT_TRUE(rig.dialog.posted.empty()) << "interactive mode waits for the user";
    EXPECT_EQ(rig.dialog.logView,
              "----------------: Log file save as .\\FW Update Log.log\r\n"
              "----------------: ===========================\r\n"
              "----------------: VID=3A7C, PID=B5A4\r\n"
              "----------------: Current FW version = REV_0012\r\n"
              "----------------: Current FW version = REV_0013\r\n"
              "----------------: Update finished\r\n"
              "----------------: Updated successfully\r\n"
              "----------------: Please reboot computer\r\n");
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "01");

    s.OnCancel();  // Esc after the run
    EXPECT_TRUE(rig.dialog.destroyed);
    EXPECT_EQ(rig.Log(), kSuccessfulRunLog);
}

TEST(Update, AFlowThatDoesNotSucceedEndsUnsuccessfulWithOne) {
    Rig rig;
    rig.quelmarFlow.succeeds = false;
    ASSERT_TRUE(rig.Start(""));
    rig.Flash();
    EXPECT_EQ(rig.session->ExitCode(), 1);
    EXPECT_EQ(rig.dialog.resultText, "Update unsuccessful");
    EXPECT_EQ(rig.dialog.resultColour, kit::Rgb(255, 0, 0));
    EXPECT_EQ(rig.session->StatusText(), "Update unsuccessful\r\n");
    EXPECT_EQ(rig.dialog.LastViewLine(), "----------------: Please reboot computer and try it again\r\n");
    EXPECT_EQ(rig.usb.listings, 1) << "no identification after an unsuccessful flow";
    rig.session->OnCancel();
    EXPECT_EQ(rig.Log(),
              "\r\r\nMon    2024-05-06\r\r\n14:03\r\r\n"
              "----------------: VID=3A7C, PID=B5A4\r\r\n"
              "----------------: Current FW version = REV_0012\r\r\n"
              "----------------: Update unsuccessful\r\r\n"
              "----------------: \r\n");
}

TEST(Update, InteractiveCloseWithoutFlashEndsWithZero) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    rig.session->OnCancel();
    EXPECT_EQ(rig.session->ExitCode(), 0);
    EXPECT_TRUE(rig.dialog.destroyed);
    EXPECT_EQ(rig.Log(), "----------------: \r\n");
}

TEST(Update, RealtekRunReportsNoIdentityOfItsOwnAndIsNotIdentifiedAgain) {
    Rig rig;
    rig.usb.devices = {{"USB\\VID_3A7C&PID_5602&REV_0101&MI_00"}};
    ASSERT_TRUE(rig.Start("-s"));
    EXPECT_EQ(rig.still.calls.size(), 2u) << "the still-capture probe of the first identification";
    rig.files.Put(kDir + "\\FW_5602.rfw", "rfw");
    rig.Flash();
    EXPECT_EQ(rig.session->ExitCode(), 0);
    EXPECT_EQ(rig.realtekFlow.runs, 1);
    EXPECT_EQ(rig.usb.listings, 1);
    EXPECT_EQ(rig.dialog.logView.find("VID="), std::string::npos);
}

TEST(Update, SonixRunReadsTheRomVersionAndTheWholeImage) {
    Rig rig;
    rig.usb.devices = {{"USB\\VID_3A7C&PID_6300&REV_0001"}};
    rig.files.Put(kDir + "\\FW_6300.bin", std::string(16384, 's'));
    EXPECT_EQ(rig.RunSilently(), 0);
    EXPECT_EQ(rig.sonix.inits, 1);
    EXPECT_EQ(std::string(rig.session->RomVersion()), "231R0-1");
    EXPECT_TRUE(rig.Traced("Sonix fw update ...\r\n"));
    EXPECT_EQ(rig.sonixFlow.runs, 1);
}

TEST(Update, WithoutAFlowForTheFamilyTheRunIsUnsuccessful) {
    Rig rig;
    rig.flows.quelmar = nullptr;
    EXPECT_EQ(rig.RunSilently(), 1);
    EXPECT_TRUE(rig.Traced("No flashing flow for chip family 3\r\n"));
}

TEST(Update, AThreadThatCannotStartEndsTheRunUnsuccessful) {
    Rig rig;
    rig.threads.fails = true;
    EXPECT_EQ(rig.RunSilently(), 1);
    EXPECT_TRUE(rig.dialog.destroyed);
    EXPECT_EQ(rig.quelmarFlow.runs, 0);
}

struct LogSwitchCase {
    const char* value;
    const char* shown;
    const char* logFile;  // where the run lands, "" for nowhere
};

TEST(Update, LogSwitchDecidesWhereTheLogGoes) {
    for (LogSwitchCase c :
         {LogSwitchCase{"0", "No log file!\r\n", ""},
          LogSwitchCase{"1", "Log file save as C:\\Users\\me\\AppData\\Local\\Temp\\FW Update Log.log\r\n",
                        "C:\\Users\\me\\AppData\\Local\\Temp\\FW Update Log.log"},
          LogSwitchCase{"2", "Log file save as .\\FW Update Log.log\r\n", "C:\\Kit\\FW Update Log.log"},
          LogSwitchCase{"7", "No log file!\r\n", ""}, LogSwitchCase{"-1", "No log file!\r\n", ""}}) {
        Rig rig;
        rig.files.Put(kDir + "\\config.ini",
                      std::string("[FW_TOOL]\r\nLogSwitch=") + c.value +
                          "\r\n[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin\r\n");
        ASSERT_TRUE(rig.Start(""));
        rig.Flash();
        EXPECT_EQ(rig.dialog.logView.substr(0, rig.dialog.logView.find('\n') + 1),
                  std::string("----------------: ") + c.shown)
            << c.value;
        rig.session->OnCancel();
        for (const std::string& place :
             {std::string(twfakes::kLogFile), rig.files.temp + "FW Update Log.log"}) {
            EXPECT_EQ(rig.files.Has(place), place == c.logFile) << c.value << " " << place;
            if (place == c.logFile) {
                EXPECT_NE(rig.files.Get(place).find("Updated successfully"), std::string::npos);
            }
        }
    }
}

TEST(Update, AnUnopenableLogFileMeansNoLogFile) {
    Rig rig;
    rig.files.MakeUnopenable(twfakes::kLogFile);
    ASSERT_TRUE(rig.Start(""));
    rig.Flash();
    EXPECT_EQ(rig.dialog.logView.substr(0, 32), "----------------: No log file!\r\n");
    EXPECT_TRUE(rig.Traced("Log file .\\FW Update Log.log cannot be opened: no log file\r\n"));
    EXPECT_EQ(rig.session->ExitCode(), 0);
}

// ---------------------------------------------------------------------------------------------
// Failures of the update driver

struct DriverFailureCase {
    const char* name;
    std::function<void(Rig&)> setUp;
    int silentCode;
    const char* message;
    bool errorForm;  // date line and error line; otherwise a plain line
};

class DriverFailure : public ::testing::TestWithParam<DriverFailureCase> {};

std::string FailureLines(const DriverFailureCase& c) {
    return c.errorForm
               ? "\r\r\n2024/05/06    14:03\r\r\n----------------: Error: " + tessaw::TextModeBytes(c.message)
               : "----------------: " + tessaw::TextModeBytes(c.message);
}

TEST_P(DriverFailure, SilentModeEndsAtOnceWithItsCode) {
    const DriverFailureCase& c = GetParam();
    Rig rig;
    c.setUp(rig);
    ASSERT_TRUE(rig.Start("-s"));
    rig.Flash();
    EXPECT_EQ(rig.session->ExitCode(), c.silentCode);
    EXPECT_TRUE(rig.dialog.boxes.empty());
    EXPECT_EQ(rig.dialog.posted, std::vector<uint32_t>{kit::kWmClose});
    EXPECT_TRUE(rig.session->Flashing()) << "a driver cut short never reaches its clean-up";
    EXPECT_EQ(rig.quelmarFlow.runs + rig.sonixFlow.runs, 0);
    EXPECT_EQ(rig.dialog.logView.find(c.message), std::string::npos) << "not shown in the log view";
    rig.dialog.Pump();
    EXPECT_TRUE(rig.dialog.destroyed);
    const std::string log = rig.Log();
    EXPECT_NE(log.find(FailureLines(c) + "----------------: \r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Update unsuccessful"), std::string::npos);
}

TEST_P(DriverFailure, InteractiveModeShowsItAndEndsUnsuccessful) {
    const DriverFailureCase& c = GetParam();
    Rig rig;
    c.setUp(rig);
    ASSERT_TRUE(rig.Start(""));
    rig.Flash();
    EXPECT_EQ(rig.session->ExitCode(), 1);
    ASSERT_EQ(rig.dialog.boxes.size(), 1u);
    EXPECT_EQ(rig.dialog.boxes[0].text, c.message);
    EXPECT_FALSE(rig.dialog.boxes[0].errorIcon);
    EXPECT_EQ(rig.dialog.resultText, "Update unsuccessful");
    EXPECT_FALSE(rig.session->Flashing());
    EXPECT_EQ(rig.machine.sleeps.back(), tessaw::kSettleMs);
    rig.session->OnCancel();
    EXPECT_NE(rig.Log().find(FailureLines(c) + "----------------: Update unsuccessful\r\r\n"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriverFailure,
    ::testing::Values(
        DriverFailureCase{"SonixInit",
                          [](Rig& r) {
                              r.usb.devices = {{"USB\\VID_3A7C&PID_6300&REV_0001"}};
                              r.files.Put(kDir + "\\FW_6300.bin", "s");
                              r.sonix.initResult = 0;
                          },
                          21, "Camera init failed!\r\n", false},
        DriverFailureCase{"QuelmarInit", [](Rig&) { twfakes::QuelmarStub::initResult = 160; }, 22,
                          "Camera init failed!\r\n", false},
        DriverFailureCase{"QuelmarLibraryIncomplete",
                          [](Rig& r) { r.libraries.missingExports.insert("Download_Sector"); }, 22,
                          "Camera init failed!\r\n", false},
        DriverFailureCase{"DriverTooOld",
                          [](Rig& r) { r.registry.InstallDriver("3A7C", "B5A4", "6.1.7600.15"); }, 23,
                          "Device driver is too old, please upgrade it!\r\n", true},
        DriverFailureCase{"DriverNeverInstalled",
                          [](Rig& r) { r.registry.RemoveKey(twfakes::Registry::DeviceKey("3A7C", "B5A4")); },
                          24, "Check device driver failed! ::0\r\n", true},
        DriverFailureCase{
            "DriverVersionUnreadable",
            [](Rig& r) { r.registry.RemoveValue(twfakes::Registry::DriverKey(), "DriverVersion"); }, 24,
            "Check device driver failed! ::6\r\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Update, AnIncompleteQuelmarLibraryNeverReachesTheCamera) {
    Rig rig;
    rig.libraries.missingExports.insert("EraseSF");
    ASSERT_TRUE(rig.Start("-s"));
    EXPECT_TRUE(rig.Traced("QuelmarCamera.dll has no entry point EraseSF\r\n"));
    rig.Flash();
    EXPECT_TRUE(twfakes::QuelmarStub::initArgs.empty());
    EXPECT_EQ(rig.session->ExitCode(), tessaw::kExitQuelmarInit);
}

struct FileFailureCase {
    std::function<void(Rig&)> setUp;
    int code;
    const char* message;
};

TEST(Update, FirmwareFileFailuresEndTheRunWithTheirCode) {
    for (const FileFailureCase& c :
         {FileFailureCase{[](Rig& r) { r.files.Remove(kDir + "\\FW_B5A4_01.bin"); }, 32,
                          "C:\\Kit\\FW_B5A4_01.bin does not exist!\r\n"},
          FileFailureCase{[](Rig& r) { r.files.MakeUnopenable(kDir + "\\FW_B5A4_01.bin"); }, 33,
                          "Fail to open file C:\\Kit\\FW_B5A4_01.bin.\r\n"},
          // A Quelmar camera would be erased before a file without firmware were found out.
          FileFailureCase{[](Rig& r) { r.files.Put(kDir + "\\FW_B5A4_01.bin", ""); }, 33,
                          "File C:\\Kit\\FW_B5A4_01.bin has 0 bytes, less than one 4096-byte sector: the "
                          "camera was not touched; check the firmware file!\r\n"},
          FileFailureCase{[](Rig& r) { r.files.Put(kDir + "\\FW_B5A4_01.bin", std::string(4095, 'Q')); }, 33,
                          "File C:\\Kit\\FW_B5A4_01.bin has 4095 bytes, less than one 4096-byte sector: the "
                          "camera was not touched; check the firmware file!\r\n"},
          FileFailureCase{[](Rig& r) {
                              r.files.Put(
                                  kDir + "\\config.ini",
                                  "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01\r\n");
                              r.files.Remove(kDir + "\\FW_B5A4_01.bin");
                          },
                          25, "Can not find FW file!\r\n"}}) {
        for (const char* mode : {"-s", ""}) {
            Rig rig;
            c.setUp(rig);
            ASSERT_TRUE(rig.Start(mode));
            rig.Flash();
            EXPECT_EQ(rig.session->ExitCode(), c.code) << c.message;
            EXPECT_EQ(rig.dialog.boxes.size(), *mode ? 0u : 1u);
            EXPECT_EQ(rig.dialog.posted, std::vector<uint32_t>{kit::kWmClose});
            EXPECT_EQ(rig.quelmarFlow.runs, 0);
            EXPECT_TRUE(rig.Traced(c.message));
            rig.dialog.Pump();
            EXPECT_TRUE(rig.dialog.destroyed);
            const std::string log = rig.Log();
            const std::string tail =
                "----------------: Error: " + tessaw::TextModeBytes(c.message) + "----------------: \r\n";
            ASSERT_GE(log.size(), tail.size());
            EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
            EXPECT_EQ(log.find("2024/05/06"), std::string::npos) << "no date line before these";
        }
    }
}

// ---------------------------------------------------------------------------------------------
// FLASH, the combo check, keys and plug events

struct ComboRig : Rig {
    explicit ComboRig(const std::vector<std::string>& cameras) {
        usb.devices.clear();
        for (const std::string& pid : cameras) usb.Add("USB\\VID_3A7C&PID_" + pid + "&REV_0101&MI_00");
        files.Put(kDir + "\\dev.vrk",
                  "[REALTEK]\r\nPID=5602,5603,5604\r\n[SONIX]\r\nPID=6300\r\n"
                  "[QUELMAR]\r\nPID=B5A4\r\n[COMBO]\r\nPID=5602+5603\r\n");
        files.Put(kDir + "\\config.ini",
                  "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\n"
                  "SysID_XXXX_PID_5602_ModID_11=a.rfw\r\nSysID_XXXX_PID_5603_ModID_12=b.rfw\r\n"
                  "SysID_XXXX_PID_5604_ModID_13=c.rfw\r\n");
        for (const char* f : {"a.rfw", "b.rfw", "c.rfw"}) files.Put(kDir + "\\" + f, "rfw");
    }
};

TEST(Flash, ComboPairPresentStartsTheUpdateWithTheComboFlag) {
    ComboRig rig({"5602", "5603"});
    ASSERT_TRUE(rig.Start("-s"));
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "11 + 12");
    rig.Flash();
    EXPECT_TRUE(rig.session->Device().combo);
    EXPECT_EQ(rig.realtekFlow.runs, 1);
    EXPECT_EQ(rig.session->ExitCode(), 0);
}

TEST(Flash, ComboFailuresEndWith37BeforeAnyUpdate) {
    for (std::vector<std::string> cameras : {std::vector<std::string>{"5602"}, {"5603"}, {"5604", "5602"}}) {
        for (const char* mode : {"-s", ""}) {
            ComboRig rig(cameras);
            ASSERT_TRUE(rig.Start(mode));
            rig.Flash();
            EXPECT_EQ(rig.session->ExitCode(), tessaw::kExitCombo);
            EXPECT_EQ(rig.threads.started, 0);
            EXPECT_TRUE(rig.dialog.destroyed);
            EXPECT_EQ(rig.dialog.boxes.size(), *mode ? 0u : 1u);
            if (!*mode) {
                EXPECT_FALSE(rig.dialog.boxes[0].errorIcon);
            }
            EXPECT_EQ(rig.Log(), FailureLog("Combo device error!\r\n"));
        }
    }
}

// A blank entry in [COMBO] is a pair 0 + 0: the check passes there, and the pairs after it are
// never tried.
TEST(Flash, ABlankComboEntryEndsTheCheckWithAPass) {
    ComboRig rig({"5603", "5604"});
    rig.files.Put(kDir + "\\dev.vrk",
                  "[REALTEK]\r\nPID=5602,5603,5604\r\n[SONIX]\r\nPID=6300\r\n"
                  "[QUELMAR]\r\nPID=B5A4\r\n[COMBO]\r\nPID=5602+5605, ,5602+5604\r\n");
    ASSERT_TRUE(rig.Start("-s"));
    rig.Flash();
    EXPECT_EQ(rig.session->ExitCode(), 0);
    EXPECT_EQ(rig.realtekFlow.runs, 1);
    EXPECT_FALSE(rig.session->Device().combo);
    EXPECT_FALSE(rig.Traced("Combo device matched => PID_1:0x5604 REV:0x0101\r\n"));
}

TEST(Flash, KeysAndPlugEventsAndCloseRequestsAreHeldOffWhileFlashing) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    tessaw::UpdateSession& s = *rig.session;
    EXPECT_FALSE(s.SwallowsKeyDown());
    s.OnFlash();
    ASSERT_EQ(rig.threads.pending.size(), 1u);
    EXPECT_TRUE(s.SwallowsKeyDown());
    EXPECT_FALSE(rig.dialog.enabled[tessaw::kIdcFlash]);
    EXPECT_FALSE(rig.dialog.enabled[tessaw::kIdcExit]);

    s.OnFlash();  // a second click changes nothing
    EXPECT_EQ(rig.threads.started, 1);

    EXPECT_TRUE(s.OnDeviceChange(tessaw::kDeviceRemoveComplete, 0x1F00));
    EXPECT_TRUE(rig.Traced("DeviceChange(8004,1f00) during flashing\n"));
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "01");
    EXPECT_EQ(s.Entries()[0].rev, "0012");

    s.OnCancel();  // the title bar's close box while the camera is written
    EXPECT_FALSE(rig.dialog.destroyed);
    EXPECT_TRUE(rig.Traced("Close refused while flashing\r\n"));

    rig.threads.RunAll();
    EXPECT_FALSE(s.SwallowsKeyDown());
    s.OnCancel();
    EXPECT_TRUE(rig.dialog.destroyed);
}

TEST(PlugEvents, RemovalClearsAndArrivalIdentifiesAgain) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    tessaw::UpdateSession& s = *rig.session;
    auto camera = rig.usb.devices;

    rig.usb.devices.clear();
    s.OnDeviceChange(tessaw::kDeviceRemoveComplete, 0);
    EXPECT_FALSE(rig.dialog.enabled[tessaw::kIdcFlash]);
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "");
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcStatus], "");
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcResult], "");
    for (const tessaw::FirmwareEntry& e : s.Entries()) EXPECT_EQ(e.rev, "");

    s.OnDeviceChange(tessaw::kDeviceArrival, 0);  // another USB device, no camera yet
    EXPECT_FALSE(rig.dialog.enabled[tessaw::kIdcFlash]);

    rig.usb.devices = camera;
    s.OnDeviceChange(tessaw::kDeviceArrival, 0);
    EXPECT_TRUE(rig.dialog.enabled[tessaw::kIdcFlash]);
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "01");
    EXPECT_TRUE(rig.Traced("DeviceChange - device arrival\r\n"));
    EXPECT_TRUE(rig.Traced("DeviceChange - device remove complete\r\n"));
    EXPECT_TRUE(rig.still.calls.empty()) << "the probe belongs to the first identification only";

    int listings = rig.usb.listings;
    s.OnDeviceChange(0x0007, 0);  // DBT_DEVNODES_CHANGED
    EXPECT_EQ(rig.usb.listings, listings);
}

// An arrival enables FLASH by the product ID alone; a camera in no dev.vrk list then runs no flow
// and the update ends unsuccessful.
TEST(PlugEvents, ACameraWithAProductIdEnablesFlashEvenWithoutAChipFamily) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    rig.session->Entries().push_back({"XXXX", "9999", "", "99", "n.bin"});
    rig.files.Put(kDir + "\\n.bin", "n");
    rig.usb.devices = {{"USB\\VID_3A7C&PID_9999&REV_0001"}};
    rig.dialog.enabled[tessaw::kIdcFlash] = false;
    rig.session->OnDeviceChange(tessaw::kDeviceArrival, 0);
    EXPECT_EQ(rig.session->Device().pid, "9999");
    EXPECT_EQ(rig.session->Device().family, ChipFamily::None);
    EXPECT_TRUE(rig.dialog.enabled[tessaw::kIdcFlash]);

    rig.Flash();
    EXPECT_EQ(rig.quelmarFlow.runs + rig.realtekFlow.runs + rig.sonixFlow.runs, 0);
    EXPECT_TRUE(rig.Traced("No flashing flow for chip family 0\r\n"));
    EXPECT_EQ(rig.session->ExitCode(), tessaw::kExitUnsuccessful);
}

TEST(PlugEvents, AnEnumerationThatCannotBeOpenedLeavesTheModuleIdField) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    ASSERT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "01");
    rig.usb.opens = false;
    rig.session->OnDeviceChange(tessaw::kDeviceArrival, 0);
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcModuleId], "01");
    EXPECT_EQ(rig.session->Device().pid, "");
    EXPECT_FALSE(rig.dialog.enabled[tessaw::kIdcFlash]) << "no product ID, no FLASH";
}

TEST(PlugEvents, AnArrivalAfterARunEnablesFlashAgain) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    rig.Flash();
    EXPECT_FALSE(rig.dialog.enabled[tessaw::kIdcFlash]);
    rig.session->OnDeviceChange(tessaw::kDeviceArrival, 0);
    EXPECT_TRUE(rig.dialog.enabled[tessaw::kIdcFlash]);
    rig.Flash();
    EXPECT_EQ(rig.quelmarFlow.runs, 2);
}

// ---------------------------------------------------------------------------------------------
// Log view, Status field and Auto Scroll

TEST(ShowText, StatusFollowsOnlyLParamZeroAndAutoScrollFollowsTheCheckBox) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    tessaw::UpdateSession& s = *rig.session;
    s.ShowText("Erase memory ...\r\n");
    s.ShowText("Please reboot computer\r\n", tessaw::kShowOnly);
    EXPECT_EQ(s.StatusText(), "Erase memory ...\r\n");
    EXPECT_EQ(rig.dialog.texts[tessaw::kIdcStatus], "Erase memory ...\r\n");
    EXPECT_EQ(rig.dialog.logView,
              "----------------: Erase memory ...\r\n----------------: Please reboot computer\r\n");
    EXPECT_EQ(rig.dialog.oneLineScrolls, 2);

    rig.dialog.checked[tessaw::kIdcAutoScroll] = false;
    s.OnAutoScroll();
    EXPECT_FALSE(s.AutoScroll());
    s.ShowText("Verify code ...50%\r\n");
    EXPECT_EQ(rig.dialog.oneLineScrolls, 2) << "appended, but the view stays";
    EXPECT_EQ(rig.dialog.LastViewLine(), "----------------: Verify code ...50%\r\n");
    EXPECT_EQ(rig.dialog.bottomScrolls, 0);

    rig.dialog.checked[tessaw::kIdcAutoScroll] = true;
    s.OnAutoScroll();
    EXPECT_EQ(rig.dialog.bottomScrolls, 1);
    EXPECT_TRUE(rig.dialog.checked[tessaw::kIdcAutoScroll]);
}

TEST(ShowText, FlashReadsTheCheckBoxFirst) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    rig.dialog.checked[tessaw::kIdcAutoScroll] = false;
    rig.Flash();
    EXPECT_FALSE(rig.session->AutoScroll());
    EXPECT_EQ(rig.dialog.oneLineScrolls, 0);
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST(Closing, WritesTheLastLineReleasesRvcLibAndTheRegistrationOnce) {
    Rig rig;
    ASSERT_TRUE(rig.Start(""));
    rig.session->OnCancel();
    rig.session->OnDestroy();
    EXPECT_EQ(rig.Log(), "----------------: \r\n");
    EXPECT_EQ(rig.libraries.freed, std::vector<void*>{rig.libraries.RvcModule()})
        << "QuelmarCamera.dll stays loaded to the end of the process";
    EXPECT_EQ(rig.dialog.unregistered, std::vector<uintptr_t>{0xBEEF});
    EXPECT_TRUE(rig.session->Entries().empty());
}

}  // namespace
