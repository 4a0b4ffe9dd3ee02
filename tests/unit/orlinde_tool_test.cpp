// The write tool over a scripted Quelmar camera: start-up and identification, the firmware choice,
// the checks before a download, the download state machine tick by tick, the end of a download,
// plug events and closing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "orlinde_fakes.h"
#include "texts.h"
#include "write_tool.h"

namespace {

using orfakes::Rig;
using orlinde::kBmpFail;
using orlinde::kBmpIdle;
using orlinde::kBmpRunning;
using orlinde::kBmpSuccess;
using orlinde::kIdcClose;
using orlinde::kIdcFlash;
using orlinde::kTimerProgress;
using orlinde::kTimerRearm;

constexpr uint32_t kIdentityI = 0x678A;
const std::string kFw = "C:\\Bench\\bin\\fw.bin";

// A Quelmar camera B5A4 of family 'i' at revision 0012, and a 64 KiB file for it at revision 0013.
void QuelmarBench(Rig& rig, const std::string& settings = "ChooseBinUsePid=1\r\n",
                  const std::string& module = "MOD-1") {
    rig.Settings(settings);
    rig.PidIni("[PID_0604]\r\nBIN=other.bin\r\n[PID_B5A4]\r\nBIN=fw.bin\r\nModuleID=" + module + "\r\n");
    rig.Bin("fw.bin", orfakes::WithRevision(orfakes::Image(65536), kIdentityI, 0x0013));
}

const std::string kCameraLines =
    "\r\n Driver Connected, initial ok.\r\n"
    "(Camera) Current bcdDevice version = 0012\r\n"
    "(Camera) Current VID number = 3A7C\r\n"
    "(Camera) Current PID number = B5A4\r\n";
const std::string kFileLines =
    "Open File C:\\Bench\\bin\\fw.bin\r\n65536 bytes (64.0 KB) has been read\r\n"
    "(File) New bcdDevice version = 0013\r\n";

// Runs a whole download to its end: Flash, the worker, the progress timer.
void Download(Rig& rig) {
    rig.tool->OnFlash();
    rig.workers.RunAll();
    rig.TickUntilDone();
}

TEST(OrlindeStartUp, IdentifiesAQuelmarCameraAndReadsItsFile) {
    Rig rig;
    QuelmarBench(rig);
    ASSERT_TRUE(rig.Start());
    orlinde::WriteTool& tool = *rig.tool;
    EXPECT_EQ(rig.dialog.caption, "Brevant Serial Flash Write Tool for ALL IC v1.0.2.3_ZR");
    EXPECT_EQ(rig.dialog.icons, 1);
    EXPECT_TRUE(rig.dialog.checked[orlinde::kIdcAutoScroll]);
    EXPECT_EQ(tool.Folder(), "C:\\Bench");
    EXPECT_EQ(tool.LogText(), kCameraLines + kFileLines);
    EXPECT_EQ(rig.dialog.View(), tool.LogText());
    EXPECT_GT(rig.dialog.scrolls, 0);
    EXPECT_EQ(tool.CurrentRoute(), orlinde::Route::Quelmar);
    EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcModuleId], "MOD-1");
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcFirmwarePath], kFw);
    EXPECT_TRUE(tool.Loaded());
    EXPECT_EQ(tool.ImageSize(), 65536u);
    EXPECT_EQ(tool.Image().size(), orlinde::kImageBytes);
    EXPECT_EQ(tool.Image()[65536], 0xFF);
    EXPECT_EQ(rig.scripted.switches, 1) << "the mode switch runs at start-up";
    EXPECT_EQ(tool.Busy(), 1) << "plug events wait for the end of a download";
    EXPECT_FALSE(tool.Ready());
    EXPECT_EQ(rig.com.inits, 1);
    EXPECT_EQ(rig.com.uninits, 1);
    EXPECT_EQ(rig.sonix.calls, (std::vector<std::string>{"Bind", "Initialize_DriverInterface"}));
    EXPECT_TRUE(rig.libraries.byName.empty()) << "no RvcLib.dll while a Quelmar camera answers";
}

// Without a usable BurnerApLib.dll the tool still identifies and writes a Quelmar camera; it says
// why Sonix cameras are not looked for, and never calls into the library.
TEST(OrlindeStartUp, WithoutBurnerApLibSonixCamerasAreNotLookedFor) {
    struct Case {
        const char* name;
        bool missing;
        const char* lacks;
        std::string line;
    } cases[] = {
        {"missing", true, "", "BurnerApLib.dll is not in the tool's folder: Sonix cameras are not looked for.\r\n"},
        {"lacking an entry point", false, "EraseSF",
         "BurnerApLib.dll has no entry point EraseSF: Sonix cameras are not looked for.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        QuelmarBench(rig);
        rig.sonix.missing = c.missing;
        rig.sonix.lacks = c.lacks;
        ASSERT_TRUE(rig.Start());
        EXPECT_EQ(rig.tool->LogText(), c.line + kCameraLines + kFileLines);
        EXPECT_EQ(rig.sonix.calls, std::vector<std::string>{"Bind"});
        Download(rig);
        EXPECT_EQ(rig.scripted.downloads, 1);
        EXPECT_EQ(rig.sonix.calls, std::vector<std::string>{"Bind"});
    }
}

TEST(OrlindeStartUp, WithoutDeviceNotificationsStartUpEndsThere) {
    Rig rig;
    QuelmarBench(rig);
    rig.dialog.registers = false;
    EXPECT_FALSE(rig.Start());
    EXPECT_EQ(rig.tool->LogText(), "");
    EXPECT_FALSE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_EQ(rig.scripted.creates, 0);
    EXPECT_EQ(rig.com.inits, 0);
}

TEST(OrlindeStartUp, ABenchNoticeIsTheFirstLineOfTheLogAndStaysIt) {
    const std::string notice = "emulated bench: Z:\\benches\\one\r\n";
    Rig rig;
    QuelmarBench(rig);
    rig.Make().SetLogNotice(notice);
    ASSERT_TRUE(rig.tool->OnInitDialog());
    EXPECT_EQ(rig.tool->LogText(), notice + kCameraLines + kFileLines);
    EXPECT_EQ(rig.dialog.View(), rig.tool->LogText());

    // A camera plugged in again after a download is logged below it; the notice is not repeated.
    Download(rig);
    EXPECT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, &orlinde::kKsCategoryVideo));
    const std::string log = rig.tool->LogText();
    EXPECT_EQ(log.rfind(notice), 0u) << log;

    // Nothing found at all: the notice and the empty line; no notifications: nothing, as without one.
    Rig none;
    none.scripted.initResult = 1;
    none.Make().SetLogNotice(notice);
    none.tool->OnInitDialog();
    EXPECT_EQ(none.dialog.View(), notice + "\r\n");
    Rig unregistered;
    unregistered.dialog.registers = false;
    unregistered.Make().SetLogNotice(notice);
    EXPECT_FALSE(unregistered.tool->OnInitDialog());
    EXPECT_EQ(unregistered.tool->LogText(), "");
}

struct IdentifyCase {
    const char* name;
    std::function<void(Rig&)> change;
    std::string log;
    bool flash;
};

void PrintTo(const IdentifyCase& c, std::ostream* os) { *os << c.name; }

class OrlindeQuelmarIdentify : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(OrlindeQuelmarIdentify, LogsAndFlashButton) {
    const IdentifyCase& c = GetParam();
    Rig rig;
    QuelmarBench(rig);
    c.change(rig);
    rig.Start();
    EXPECT_EQ(rig.tool->LogText(), c.log);
    EXPECT_EQ(rig.dialog.enabled[kIdcFlash], c.flash);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrlindeQuelmarIdentify,
    ::testing::Values(
        IdentifyCase{"IdentityFails", [](Rig& r) { r.scripted.identityResult = 1; },
                     "\r\n Driver Connected, initial ok.\r\nGet_information_OS fail", false},
        IdentifyCase{"ModeSwitchFails", [](Rig& r) { r.scripted.switchResult = 1; },
                     "\r\n Driver Connected, initial ok.\r\nGet_information_OS fail", false},
        IdentifyCase{"ProbeFails", [](Rig& r) { r.scripted.probeResult = 1; },
                     "\r\n Driver Connected, initial ok.\r\nGet_information_OS fail", false},
        IdentifyCase{"UnknownFlash", [](Rig& r) { r.scripted.flashType = 'x'; },
                     "\r\n Driver Connected, unknown flash.\r\n", false},
        IdentifyCase{"NoSettingIni", [](Rig& r) { r.files.Remove(orfakes::kSetting); },
                     kCameraLines + "Cannot find setting.ini \r\n", false},
        IdentifyCase{"NoSection", [](Rig& r) { r.scripted.identity.pid = 0x1234; },
                     "\r\n Driver Connected, initial ok.\r\n(Camera) Current bcdDevice version = 0012\r\n"
                     "(Camera) Current VID number = 3A7C\r\n(Camera) Current PID number = 1234\r\n"
                     "auto choose bin fail, device not match.\r\n(File) New bcdDevice version = 0000\r\n",
                     true},
        IdentifyCase{"LowerCaseSectionKeysReadAsWritten",
                     [](Rig& r) { r.PidIni("[PID_b5a4]\r\nBIN=fw.bin\r\n"); }, kCameraLines + kFileLines,
                     true},
        IdentifyCase{
            "MisSizedSectionBeforeIt",
            [](Rig& r) { r.PidIni("[PID_12345]\r\n[PID_B5A4]\r\nBIN=fw.bin\r\n"); },
            kCameraLines + "pid.ini section [PID_12345] skipped: not PID_ and four digits.\r\n" + kFileLines,
            true},
        IdentifyCase{"FileMissing", [](Rig& r) { r.files.Remove(kFw); },
                     kCameraLines + "(File) New bcdDevice version = 0000\r\n", true},
        IdentifyCase{"FileEmpty", [](Rig& r) { r.Bin("fw.bin", ""); },
                     kCameraLines + "File C:\\Bench\\bin\\fw.bin is empty, not used.\r\n"
                                    "(File) New bcdDevice version = 0000\r\n",
                     true},
        IdentifyCase{"FileShorterThanOneSector", [](Rig& r) { r.Bin("fw.bin", std::string(4095, 'a')); },
                     kCameraLines + "File C:\\Bench\\bin\\fw.bin has 4095 bytes, less than one 4096-byte "
                                    "sector, not used.\r\n(File) New bcdDevice version = 0000\r\n",
                     true},
        IdentifyCase{"FileLargerThanTheBuffer", [](Rig& r) { r.Bin("fw.bin", std::string(196609, 'a')); },
                     kCameraLines +
                         "File C:\\Bench\\bin\\fw.bin has 196609 bytes, more than the 196608 bytes it "
                         "may have, not used.\r\n(File) New bcdDevice version = 0000\r\n",
                     true},
        IdentifyCase{"FileOfTheWholeBuffer", [](Rig& r) { r.Bin("fw.bin", std::string(196608, 'a')); },
                     kCameraLines +
                         "Open File C:\\Bench\\bin\\fw.bin\r\n196608 bytes (192.0 KB) has been read\r\n"
                         "(File) New bcdDevice version = 6161\r\n",
                     true}),
    [](const ::testing::TestParamInfo<IdentifyCase>& info) { return std::string(info.param.name); });

TEST(OrlindeChoice, ChipDefaultIdentityWithoutSectionGetsTheDefaultFile) {
    Rig rig;
    QuelmarBench(rig);
    rig.scripted.identity = {0x1BCF, 0x0B10, 0x0200};
    rig.Bin("SF.bin", std::string(4096, 'b'));
    rig.Start();
    const std::string log = rig.tool->LogText();
    EXPECT_EQ(log.find("auto choose bin fail"), std::string::npos);
    EXPECT_NE(log.find("Open File C:\\Bench\\bin\\SF.bin\r\n4096 bytes (4.0 KB) has been read\r\n"),
              std::string::npos);
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcModuleId], "");
    EXPECT_TRUE(rig.tool->Loaded());

    // The same identity one release later is no chip default.
    Rig other;
    QuelmarBench(other);
    other.scripted.identity = {0x1BCF, 0x0B10, 0x0201};
    other.Bin("SF.bin", std::string(4096, 'b'));
    other.Start();
    EXPECT_NE(other.tool->LogText().find("auto choose bin fail, device not match.\r\n"), std::string::npos);
    EXPECT_FALSE(other.tool->Loaded());
}

TEST(OrlindeChoice, WithoutPidChoiceTheBinFileIsNamedButNotRead) {
    Rig rig;
    QuelmarBench(rig, "ChooseBinUsePid=0\r\nBIN=bench.bin\r\n");
    rig.files.Put("C:\\Bench\\bench.bin", std::string(4096, 'c'));
    rig.Start();
    EXPECT_EQ(rig.tool->FirmwarePath(), "C:\\Bench\\bench.bin");
    EXPECT_FALSE(rig.tool->Loaded());
    rig.tool->OnFlash();
    EXPECT_EQ(rig.tool->LogText(),
              kCameraLines + "(File) New bcdDevice version = 0000\r\nPlease load file first.\r\n");
    EXPECT_EQ(rig.scripted.downloads, 0);
}

TEST(OrlindeChoice, AnotherCameraNeverGetsTheFileOfTheLastOne) {
    Rig rig;
    QuelmarBench(rig);
    rig.Start();
    Download(rig);
    ASSERT_EQ(rig.scripted.downloads, 1);
    ASSERT_TRUE(rig.tool->Ready());
    rig.scripted.identity.pid = 0x1234;  // no section for this one
    EXPECT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, &orlinde::kKsCategoryVideo));
    EXPECT_FALSE(rig.tool->Loaded());
    EXPECT_EQ(rig.tool->ModuleId(), "");
    // The boxes change only when a choice succeeds; what reaches the camera is the choice, not them.
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcModuleId], "MOD-1");
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcFirmwarePath], kFw);
    rig.tool->OnFlash();
    EXPECT_EQ(rig.scripted.downloads, 1);
    const std::string log = rig.tool->LogText();
    EXPECT_EQ(log.substr(log.size() - 25), "Please load file first.\r\n");
}

// CheckImageId: the image's identity block (at the camera's family offset) must name the camera.
TEST(OrlindeImageIdentity, AFileForAnotherCameraIsRefusedWithTheFailPictureNothingWritten) {
    auto withIdentity = [](uint16_t vid, uint16_t pid, size_t size = 65536) {
        std::string image = orfakes::Image(size);
        if (size >= kIdentityI + 4) {
            image[kIdentityI] = static_cast<char>(vid & 0xFF);
            image[kIdentityI + 1] = static_cast<char>(vid >> 8);
            image[kIdentityI + 2] = static_cast<char>(pid & 0xFF);
            image[kIdentityI + 3] = static_cast<char>(pid >> 8);
        }
        return image;
    };
    struct Case {
        const char* settings;
        std::string file;
        bool downloads;
        const char* line;  // the log's last line when refused
    } cases[] = {
        {"ChooseBinUsePid=1\r\nCheckImageId=1\r\n", withIdentity(0x3A7C, 0xB5A5), false,
         "Image is for VID=3A7C PID=B5A5, not for this camera (VID=3A7C PID=B5A4): nothing written.\r\n"},
        {"ChooseBinUsePid=1\r\nCheckImageId=1\r\n", withIdentity(0x1BCF, 0xB5A4), false,
         "Image is for VID=1BCF PID=B5A4, not for this camera (VID=3A7C PID=B5A4): nothing written.\r\n"},
        {"ChooseBinUsePid=1\r\nCheckImageId=1\r\n", withIdentity(0, 0, kIdentityI + 5), false,
         "Image of 26511 bytes is too short to hold its identity block: nothing written.\r\n"},
        {"ChooseBinUsePid=1\r\nCheckImageId=1\r\n", withIdentity(0x3A7C, 0xB5A4), true, nullptr},
        {"ChooseBinUsePid=1\r\nCheckImageId=0\r\n", withIdentity(0x3A7C, 0xB5A5), true, nullptr},
        {"ChooseBinUsePid=1\r\n", withIdentity(0x3A7C, 0xB5A5), true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings + std::string(c.line ? c.line : "downloads"));
        Rig rig;
        QuelmarBench(rig, c.settings);
        rig.Bin("fw.bin", c.file);
        ASSERT_TRUE(rig.Start());
        Download(rig);
        EXPECT_EQ(rig.scripted.downloads, c.downloads ? 1 : 0);
        if (c.downloads) continue;
        const std::string log = rig.tool->LogText();
        EXPECT_EQ(log.substr(log.size() - std::string(c.line).size()), c.line) << log;
        ASSERT_FALSE(rig.dialog.pictures.empty());
        EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpFail);
        EXPECT_EQ(rig.tool->StatusByte(), orlinde::kStatusFail);
        EXPECT_EQ(rig.tool->Busy(), 0) << "plug events are let through again";
    }
}

// A camera that shows its chip's ROM identity (blank, or back after a cut) runs no firmware: its
// release is the ROM's and its IDs name no module. AutoDL writes it whatever the file's revision,
// and CheckImageId lets the chosen file through, saying so, while a file without an identity
// block of the family is still refused.
TEST(OrlindeRomIdentity, IsWrittenWithAutoDlAndCheckImageIdOn) {
    const std::string file = orfakes::WithRevision(orfakes::Image(65536), kIdentityI, 0x0013);
    struct Case {
        orlinde::CameraIdentity identity;
        std::string file;
        bool downloads;
        const char* line;
    } cases[] = {
        {{0x04FC, 0x2080, 0x0100}, file, true, nullptr},
        {{0x1BCF, 0x0B10, 0x0200}, file, true, nullptr},
        {{0x04FC, 0x2080, 0x0100}, orfakes::Image(kIdentityI + 5), false,
         "Image of 26511 bytes is too short to hold its identity block: nothing written.\r\n"},
        // Not a ROM identity (another release): a camera with firmware, checked as any other.
        {{0x04FC, 0x2080, 0x0200}, file, false, "not for this camera (VID=04FC PID=2080): nothing written.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity.rev);
        Rig rig;
        rig.scripted.identity = c.identity;
        rig.Settings("ChooseBinUsePid=1\r\nAutoDL=1\r\nCheckImageId=1\r\n");
        rig.PidIni("[PID_B5A4]\r\nBIN=fw.bin\r\n[PID_2080]\r\nBIN=SF.bin\r\n");
        rig.Bin("SF.bin", c.file);
        ASSERT_TRUE(rig.Start());
        Download(rig);
        EXPECT_EQ(rig.scripted.downloads, c.downloads ? 1 : 0);
        const std::string log = rig.tool->LogText();
        if (!c.downloads) {
            EXPECT_EQ(log.substr(log.size() - std::string(c.line).size()), c.line) << log;
            continue;
        }
        char rom[128];
        std::snprintf(rom, sizeof rom, "Camera in ROM mode (VID=%04X PID=%04X): image for VID=%04X PID=%04X written as chosen.\r\n",
                      c.identity.vid, c.identity.pid, static_cast<uint8_t>(file[kIdentityI]) | static_cast<uint8_t>(file[kIdentityI + 1]) << 8,
                      static_cast<uint8_t>(file[kIdentityI + 2]) | static_cast<uint8_t>(file[kIdentityI + 3]) << 8);
        EXPECT_NE(log.find(rom), std::string::npos) << log;
        EXPECT_NE(log.find("Download complete.\r\n"), std::string::npos) << log;
    }
}

struct VersionCase {
    const char* name;
    uint16_t cameraRev;
    std::string file;
    bool downloads;
    const char* shown;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class OrlindeQuelmarVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(OrlindeQuelmarVersion, AutomaticDownloadSkipsOnlyACurrentCamera) {
    const VersionCase& c = GetParam();
    Rig rig;
    QuelmarBench(rig, "ChooseBinUsePid=1\r\nAutoDL=1\r\n");
    rig.Bin("fw.bin", c.file);
    rig.scripted.identity.rev = c.cameraRev;
    rig.Start();
    rig.TickUntilDone();
    const std::string log = rig.tool->LogText();
    EXPECT_NE(log.find(c.shown), std::string::npos) << log;
    EXPECT_EQ(rig.scripted.downloads, c.downloads ? 1 : 0);
    if (!c.downloads) {
        EXPECT_EQ(log.substr(log.size() - 20), " Version Accuracy \r\n");
        // Nothing was started, so plug events are let through again as after a download.
        EXPECT_EQ(rig.tool->Busy(), 0);
        EXPECT_FALSE(rig.tool->Ready());
        rig.Tick(kTimerRearm);
        EXPECT_TRUE(rig.tool->Ready());
        EXPECT_FALSE(rig.dialog.Running(kTimerRearm));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrlindeQuelmarVersion,
    ::testing::Values(
        VersionCase{"Older", 0x0012, orfakes::WithRevision(orfakes::Image(65536), kIdentityI, 0x0013), true,
                    "(File) New bcdDevice version = 0013\r\n"},
        VersionCase{"Same", 0x0013, orfakes::WithRevision(orfakes::Image(65536), kIdentityI, 0x0013), false,
                    "(File) New bcdDevice version = 0013\r\n"},
        VersionCase{"Newer", 0x0100, orfakes::WithRevision(orfakes::Image(65536), kIdentityI, 0x0013), false,
                    "(File) New bcdDevice version = 0013\r\n"},
        VersionCase{"ErasedBlockOnAnErasedCamera", 0xFFFF,
                    orfakes::WithRevision(orfakes::Image(65536), kIdentityI, 0xFFFF), true,
                    "(File) New bcdDevice version = FFFF\r\n"},
        VersionCase{"FileEndsInsideTheBlock", 0x0012, orfakes::Image(kIdentityI + 5), true,
                    "(File) New bcdDevice version = 0000\r\n"}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST(OrlindeFlash, ModuleKm27qxSwitchesModeBeforeEveryDownload) {
    for (const char* module : {"KM27QX-310B", "KM27QX-310C"}) {
        Rig rig;
        QuelmarBench(rig, "ChooseBinUsePid=1\r\n", module);
        rig.Start();
        const bool switches = std::string(module) == "KM27QX-310B";
        Download(rig);
        EXPECT_EQ(rig.scripted.switches, 1 + switches) << module;
        Download(rig);
        EXPECT_EQ(rig.scripted.switches, 1 + 2 * switches) << module;
    }
}

TEST(OrlindeFlash, QuelmarDownloadTickByTick) {
    Rig rig;
    QuelmarBench(rig);
    rig.workers.mode = orfakes::Workers::Mode::Later;
    rig.Start();
    orlinde::WriteTool& tool = *rig.tool;
    rig.machine.sleeps.clear();

    tool.OnFlash();
    EXPECT_EQ(tool.LogText(), kCameraLines + kFileLines + " Start Download\r\n");
    EXPECT_EQ(tool.StatusByte(), orlinde::kStatusRunning);
    EXPECT_EQ(rig.dialog.pictures, std::vector<int>{kBmpRunning});
    EXPECT_FALSE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_FALSE(rig.dialog.enabled[kIdcClose]);
    EXPECT_EQ(rig.dialog.timers, (std::map<uint32_t, uint32_t>{{kTimerProgress, 595}}));
    EXPECT_EQ(rig.dialog.positions.back(), 0u);
    EXPECT_EQ(rig.machine.sleeps, std::vector<uint32_t>{100});
    EXPECT_FALSE(tool.OnClose()) << "no close while the camera is written";

    rig.Tick(kTimerProgress);  // before the worker has begun
    EXPECT_EQ(tool.Busy(), 1);
    rig.tool->OnFlash();  // a second click changes nothing
    EXPECT_EQ(rig.workers.pending.size(), 1u);

    // The library moves the progress byte; the timer shows it and the countdown.
    std::vector<int> seen;
    rig.scripted.downloadProgress = {50, 75, 85, 95};
    rig.scripted.onProgress = [&] {
        const size_t before = rig.dialog.pictures.size();
        rig.Tick(kTimerProgress);
        seen.push_back(rig.dialog.pictures.size() > before ? rig.dialog.pictures.back() : 0);
        rig.tool->OnActivate();  // the library's stage code has no picture
        EXPECT_EQ(rig.dialog.pictures.size(), before + (seen.back() != 0));
    };
    rig.workers.RunAll();
    EXPECT_EQ(seen, (std::vector<int>{0, 134, 133, 132}));
    EXPECT_EQ(rig.dialog.positions.back(), 95u);
    EXPECT_TRUE(tool.Finished());
    EXPECT_EQ(rig.scripted.written.size(), 65536u);

    rig.Tick(kTimerProgress);
    EXPECT_EQ(tool.LogText(),
              kCameraLines + kFileLines + " Start Download\r\n Downloading...\r\nDownload complete.\r\n");
    EXPECT_EQ(rig.dialog.View(), tool.LogText());
    EXPECT_EQ(tool.StatusByte(), orlinde::kStatusSuccess);
    EXPECT_EQ(rig.dialog.pictures.back(), kBmpSuccess);
    EXPECT_EQ(rig.dialog.positions.back(), 100u);
    EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_TRUE(rig.dialog.enabled[kIdcClose]);
    EXPECT_FALSE(rig.scripted.handle) << "the camera handle goes at the end of a download";
    EXPECT_FALSE(tool.Finished());
    EXPECT_TRUE(tool.Ready());
    EXPECT_EQ(tool.Busy(), 0);
    EXPECT_EQ(rig.dialog.timers, (std::map<uint32_t, uint32_t>{{kTimerRearm, 2000}}));
    EXPECT_TRUE(tool.OnClose());
    EXPECT_TRUE(rig.dialog.boxes.empty());
    EXPECT_EQ(rig.dialog.closeRequests, 0);

    rig.Tick(kTimerRearm);
    EXPECT_TRUE(rig.dialog.timers.empty());
    rig.tool->OnActivate();
    EXPECT_EQ(rig.dialog.pictures.back(), kBmpSuccess);
}

struct EndCase {
    bool mode, msg, success;
    int boxes;
    const char* text;
    const char* caption;
};

TEST(OrlindeFlash, EndOfDownloadInCommandLineMode) {
    const EndCase cases[] = {
        {true, true, true, 1, "Download complete!", "Success"},
        {true, true, false, 1, "Download Fail!", "Fail"},
        {true, false, false, 0, "", ""},
        {false, true, false, 0, "", ""},
    };
    for (const EndCase& c : cases) {
        Rig rig;
        QuelmarBench(rig, std::string("ChooseBinUsePid=1\r\nCmdLineMode=") + (c.mode ? "1" : "0") +
                              "\r\nCmdLineMsg=" + (c.msg ? "1" : "0") + "\r\n");
        rig.scripted.downloadResult = c.success ? 0 : 1;
        rig.Start();
        Download(rig);
        const std::string what = std::to_string(c.mode) + std::to_string(c.msg) + std::to_string(c.success);
        ASSERT_EQ(rig.dialog.boxes.size(), static_cast<size_t>(c.boxes)) << what;
        if (c.boxes) {
            EXPECT_EQ(rig.dialog.boxes[0].text, c.text);
            EXPECT_EQ(rig.dialog.boxes[0].caption, c.caption);
        }
        EXPECT_EQ(rig.dialog.closeRequests, c.mode ? 1 : 0) << what;
        if (c.mode) {
            EXPECT_TRUE(rig.dialog.closeAllowed) << "its own close request is let through";
        }
        EXPECT_EQ(rig.dialog.pictures.back(), c.success ? kBmpSuccess : kBmpFail) << what;
        const std::string log = rig.tool->LogText();
        EXPECT_EQ(log.substr(log.size() - (c.success ? 20 : 16)),
                  c.success ? "Download complete.\r\n" : "Download fail.\r\n");
    }
}

TEST(OrlindeFlash, AThreadThatDoesNotStartIsAFailedDownload) {
    Rig rig;
    QuelmarBench(rig);
    rig.workers.fails = true;
    rig.Start();
    rig.tool->OnFlash();
    rig.TickUntilDone();
    EXPECT_EQ(rig.scripted.downloads, 0);
    EXPECT_EQ(rig.tool->LogText(), kCameraLines + kFileLines + " Start Download\r\nDownload fail.\r\n");
    EXPECT_EQ(rig.dialog.pictures.back(), kBmpFail);
    EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_TRUE(rig.dialog.enabled[kIdcClose]);
}

TEST(OrlindePlug, IgnoredUntilADownloadHasEnded) {
    Rig rig;
    QuelmarBench(rig);
    rig.Start();
    const camlib::Guid* video = &orlinde::kKsCategoryVideo;
    EXPECT_FALSE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, video)) << "busy after identification";
    EXPECT_FALSE(rig.tool->OnDeviceChange(orlinde::kDeviceRemoveComplete, 5, video));

    Download(rig);
    const int creates = rig.scripted.creates;
    // A camera removed now is reported and its picture blanked.
    EXPECT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceRemoveComplete, 5, video));
    EXPECT_EQ(rig.dialog.pictures.back(), kBmpIdle);
    EXPECT_EQ(rig.tool->StatusByte(), orlinde::kStatusSuccess) << "the status byte stays";
    EXPECT_FALSE(rig.scripted.handle);
    EXPECT_EQ(rig.scripted.creates, creates + 1);
    std::string log = rig.tool->LogText();
    EXPECT_EQ(log.substr(log.size() - 17), "Camera Plug out\r\n");

    // One that arrives is identified again, without the start-up mode switch.
    const size_t at = log.size();
    EXPECT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, video));
    EXPECT_EQ(rig.tool->LogText().substr(at),
              "====================================\r\nCamera Plug in\r\n" + kCameraLines + kFileLines);
    EXPECT_EQ(rig.scripted.switches, 1);
    EXPECT_TRUE(rig.scripted.handle);
    EXPECT_EQ(rig.machine.sleeps.back(), 100u);
}

TEST(OrlindePlug, OnlyVideoInterfaceArrivalsAndRemovals) {
    Rig rig;
    QuelmarBench(rig);
    rig.Start();
    Download(rig);
    const camlib::Guid other =
        camlib::MakeGuid(0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED});
    const std::string log = rig.tool->LogText();
    const int creates = rig.scripted.creates;
    EXPECT_FALSE(rig.tool->OnDeviceChange(0x8001, 5, &orlinde::kKsCategoryVideo));
    EXPECT_FALSE(rig.tool->OnDeviceChange(0x0007, 5, &orlinde::kKsCategoryVideo));
    EXPECT_FALSE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 3, nullptr));
    EXPECT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, &other));
    EXPECT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceRemoveComplete, 5, nullptr));
    EXPECT_EQ(rig.tool->LogText(), log);
    EXPECT_EQ(rig.scripted.creates, creates);
}

}  // namespace

namespace {

// A worker stuck in a library call never holds the dialog: closing, and a new download, wait for
// it at most kWorkerJoinMs, then say so in the trace and go on.
TEST(OrlindeWorkers, AWorkerThatNeverEndsIsWaitedForWithinTheBound) {
    Rig rig;
    QuelmarBench(rig);
    rig.workers.mode = orfakes::Workers::Mode::Later;
    rig.Start();
    rig.tool->OnFlash();
    ASSERT_EQ(rig.workers.pending.size(), 1u);
    rig.workers.hung = true;
    rig.tool->OnDestroy();
    EXPECT_EQ(rig.workers.waits, std::vector<uint32_t>{orlinde::kWorkerJoinMs});
    EXPECT_EQ(orlinde::kWorkerJoinMs, 10000u);
    EXPECT_EQ(std::count(rig.trace.lines.begin(), rig.trace.lines.end(),
                         std::string("Orlinde: download thread still running at close\n")),
              1);
}

}  // namespace
