// Whole downloads of the write tool against the emulated bench: a Quelmar camera through the linked
// camera-access library, a Sonix camera through the burner library's model and Realtek modules
// through the camera library's model, with the tool's log texts and what lands in the cameras.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "camlib/testing/bench_rig.h"
#include "linked_camera.h"
#include "orlinde_fakes.h"
#include "texts.h"
#include "write_tool.h"

namespace {

using camlib::testing::BenchIni;
using camlib::testing::BenchRig;
using camlib::testing::CameraSection;
using camlib::testing::Keys;
using orfakes::Rig;
using orlinde::kIdcClose;
using orlinde::kIdcFlash;
using orlinde::kTimerProgress;
using orlinde::kTimerRealtekStart;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

void PutFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Realtek cameras of a bench: product ID, revision, further keys.
using Cameras = std::vector<std::tuple<std::string, std::string, Keys>>;

const std::string kEnd = " Start Download\r\n Downloading...\r\n";

// ---------------------------------------------------------------------------------------------
// Quelmar

TEST(OrlindeBenchQuelmar, DownloadOnAWorkerThreadLandsInTheFlash) {
    BenchRig bench(camlib::testing::QuelmarBench({{"family", "i"}}));
    ASSERT_TRUE(bench.Ok()) << bench.Error();
    orlinde::LinkedQuelmarCamera camera;
    Rig rig;
    rig.camera = &camera;
    rig.workers.mode = orfakes::Workers::Mode::Thread;
    rig.Settings();
    rig.PidIni("[PID_B5A4]\r\nBIN=fw.bin\r\nModuleID=Q-I\r\n");
    const std::string image = orfakes::WithRevision(orfakes::Image(65536), 0x678A, 0x0013);
    rig.Bin("fw.bin", image);

    ASSERT_TRUE(rig.Start());
    const std::string identified =
        "\r\n Driver Connected, initial ok.\r\n(Camera) Current bcdDevice version = 0012\r\n"
        "(Camera) Current VID number = 3A7C\r\n(Camera) Current PID number = B5A4\r\n"
        "Open File C:\\Bench\\bin\\fw.bin\r\n65536 bytes (64.0 KB) has been read\r\n"
        "(File) New bcdDevice version = 0013\r\n";
    ASSERT_EQ(rig.tool->LogText(), identified);

    rig.tool->OnFlash();
    rig.TickUntilDone();
    EXPECT_EQ(rig.tool->LogText(), identified + kEnd + "Download complete.\r\n");
    EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpSuccess);
    EXPECT_EQ(rig.dialog.positions.back(), 100u);
    const std::vector<uint8_t>& flash = bench.Chip().Flash().Image();
    const std::vector<uint8_t> sent = Bytes(image);
    EXPECT_TRUE(std::equal(sent.begin() + 0x7000, sent.end(), flash.begin() + 0x7000));
    EXPECT_TRUE(std::equal(sent.begin() + 0x678A, sent.begin() + 0x6790, flash.begin() + 0x678A));

    // Plugged in again, the camera shows the file's revision, and the file is its own.
    ASSERT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, &orlinde::kKsCategoryVideo));
    const std::string log = rig.tool->LogText();
    EXPECT_NE(log.find("Camera Plug in\r\n\r\n Driver Connected, initial ok.\r\n"
                       "(Camera) Current bcdDevice version = 0013\r\n"),
              std::string::npos)
        << log;
}

// ---------------------------------------------------------------------------------------------
// Sonix

struct SonixBench {
    BenchRig bench;
    std::unique_ptr<emu::vendor::SonixLibrary> lib;
    orlinde::LinkedQuelmarCamera camera;
    Rig rig;
    std::vector<uint8_t> before;

    explicit SonixBench(const std::string& benchKeys = "", const std::string& file = orfakes::Image(40000, 7))
        : bench(BenchIni({"cam0"},
                         {CameraSection("cam0", {{"chip", "sonix"},
                                                 {"pid", "6366"},
                                                 {"rom_version", "232RO"},
                                                 {"rom_index", "2"},
                                                 {"sector_table", "0x1000"},
                                                 {"asic", "0x1008:C0"}})},
                         benchKeys)) {
        EXPECT_TRUE(bench.Ok()) << bench.Error();
        // The version pointer, the version and the protect byte at the ROM address the sector
        // table gives (0xC0 * 256 + 0x34).
        before.assign(65536, 0x3C);
        before[0x168] = 0x20;
        before[0x200A] = 0x01;
        before[0x200B] = 0x05;
        before[0xC034] = 0x5A;
        PutFile(bench.Folder() / "cam0.flash", before);
        std::string error;
        EXPECT_TRUE(emu::vendor::SonixLibrary::FromBench(bench.Bench(), lib, error)) << error;
        rig.sonix.lib = lib.get();
        rig.camera = &camera;
        rig.Settings();
        rig.PidIni("[PID_6366]\r\nBIN=sx.bin\r\n");
        rig.Bin("sx.bin", file);
    }
    const std::vector<uint8_t>& Flash() const { return *lib->Memory("cam0"); }
};

const std::string kSonixIdentified =
    "\r\n Driver Connected, (Camera) Current bcdDevice version = 0105\r\n"
    "(Camera) Current VID number = 3a7c\r\n(Camera) Current PID number = 6366\r\n"
    "Open File C:\\Bench\\bin\\sx.bin\r\n40000 bytes (39.1 KB) has been read\r\n"
    "(File) New bcdDevice version = 0101\r\n";

TEST(OrlindeBenchSonix, DownloadWritesTheFileAndErasedBytesAfterIt) {
    SonixBench s;
    Rig& rig = s.rig;
    ASSERT_TRUE(rig.Start());
    EXPECT_EQ(rig.tool->CurrentRoute(), orlinde::Route::Sonix);
    EXPECT_EQ(rig.tool->LogText(), kSonixIdentified);
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcModuleId], "Sonix Camera");

    rig.sonix.calls.clear();
    rig.tool->OnFlash();
    EXPECT_EQ(rig.dialog.timerPeriods.back(), 40000u / 110);
    rig.TickUntilDone();
    EXPECT_EQ(rig.tool->LogText(), kSonixIdentified + kEnd + "Download complete.\r\n");
    EXPECT_EQ(rig.sonix.calls,
              (std::vector<std::string>{"GetRomVersion", "GetSectorTableAddr", "ProcReadFromASIC",
                                        "ReqToDriver7", "SetWriteProtect(off)", "EraseSF", "ReqToDriver6",
                                        "SetWriteProtect(on)", "ReqToDriver7", "ResetDevice"}))
        << "read back after the protection is restored";
    EXPECT_EQ(s.lib->LastProtectByte(), 0x5A) << "protect byte read at the sector table's ROM address";
    std::vector<uint8_t> expected = Bytes(orfakes::Image(40000, 7));
    expected.resize(65536, 0xFF);
    EXPECT_EQ(s.Flash(), expected);
    EXPECT_TRUE(s.lib->Protected("cam0"));
    EXPECT_EQ(s.lib->Resets("cam0"), 1u);
    EXPECT_EQ(rig.dialog.positions.back(), 100u);
    EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpSuccess);
}

struct SonixFailCase {
    const char* name;
    const char* fault;
    std::string end;
    bool erased;
};

void PrintTo(const SonixFailCase& c, std::ostream* os) { *os << c.name; }

class OrlindeBenchSonixFail : public ::testing::TestWithParam<SonixFailCase> {};

TEST_P(OrlindeBenchSonixFail, EndsLikeAnyFailedDownload) {
    const SonixFailCase& c = GetParam();
    SonixBench s(std::string("burnerap_fault1=") + c.fault + "\n");
    Rig& rig = s.rig;
    rig.Settings("ChooseBinUsePid=1\r\nCmdLineMode=1\r\n");
    ASSERT_TRUE(rig.Start());
    rig.tool->OnFlash();
    rig.TickUntilDone();
    EXPECT_EQ(rig.tool->LogText(), kSonixIdentified + kEnd + c.end);
    const bool success = c.end.find("complete") != std::string::npos;
    EXPECT_EQ(rig.dialog.pictures.back(), success ? orlinde::kBmpSuccess : orlinde::kBmpFail);
    EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_TRUE(rig.dialog.enabled[kIdcClose]);
    EXPECT_EQ(rig.tool->Busy(), 0);
    EXPECT_FALSE(rig.tool->Downloading());
    EXPECT_EQ(rig.dialog.closeRequests, 1);
    EXPECT_TRUE(rig.dialog.closeAllowed);
    EXPECT_EQ(s.Flash() == s.before, !c.erased);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrlindeBenchSonixFail,
    ::testing::Values(
        SonixFailCase{"RomVersion", "GetRomVersion:1:0", "Get Rom Version Failed!Download fail.\r\n", false},
        SonixFailCase{"ProtectOff", "SetWriteProtect:1:0",
                      "SetWriteProtect to disable Failed!Download fail.\r\n", false},
        SonixFailCase{"Erase", "EraseSF:1:0", "Flash Erase Failed!Download fail.\r\n", false},
        SonixFailCase{"Write", "ReqToDriver.write:1:0", "REQ to Driver Failed!Download fail.\r\n", true},
        SonixFailCase{"Unplugged", "ReqToDriver.write:1:unplug:8", "REQ to Driver Failed!Download fail.\r\n",
                      true},
        // A write that lands altered is caught by its read-back.
        SonixFailCase{"LandedAltered", "ReqToDriver.write:1:corrupt:0x01:0x100",
                      "REQ to Driver Failed!Download fail.\r\n", true},
        SonixFailCase{"ReadBack", "ReqToDriver.read:4:0", "REQ to Driver Failed!Download fail.\r\n", true},
        // The firmware is in, but a flash left unprotected is no complete download.
        SonixFailCase{"ProtectOn", "SetWriteProtect:2:0",
                      "SetWriteProtect to enable Failed!Download fail.\r\n", true}),
    [](const ::testing::TestParamInfo<SonixFailCase>& info) { return std::string(info.param.name); });

// The read-back comes after the protection is restored: a write that landed altered leaves the
// flash protected, and the camera is not reset into what it holds.
TEST(OrlindeBenchSonix, AMismatchFoundByTheReadBackLeavesTheFlashProtected) {
    SonixBench s("burnerap_fault1=ReqToDriver.write:1:corrupt:0x01:0x100\n");
    Rig& rig = s.rig;
    ASSERT_TRUE(rig.Start());
    rig.sonix.calls.clear();
    rig.tool->OnFlash();
    rig.TickUntilDone();
    EXPECT_EQ(rig.tool->LogText(), kSonixIdentified + kEnd + "REQ to Driver Failed!Download fail.\r\n");
    const std::vector<std::string> tail = {"EraseSF", "ReqToDriver6", "SetWriteProtect(on)", "ReqToDriver7"};
    ASSERT_GE(rig.sonix.calls.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(rig.sonix.calls.end() - static_cast<long>(tail.size()), rig.sonix.calls.end()),
              tail);
    EXPECT_TRUE(s.lib->Protected("cam0"));
    EXPECT_EQ(s.lib->Resets("cam0"), 0u);
    EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpFail);
}

TEST(OrlindeBenchSonix, AFileThatCannotBeWrittenWholeIsRefusedBeforeTheErase) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> change;
        std::string message;
    };
    const Case cases[] = {
        {"missing", [](Rig& r) { r.files.Remove("C:\\Bench\\bin\\sx.bin"); },
         "Cannot open file C:\\Bench\\bin\\sx.bin\r\n"},
        {"too large", [](Rig& r) { r.Bin("sx.bin", std::string(65537, 's')); },
         "File C:\\Bench\\bin\\sx.bin has 65537 bytes, more than the 65536 bytes it may have, not used.\r\n"},
        {"empty", [](Rig& r) { r.Bin("sx.bin", ""); }, "File C:\\Bench\\bin\\sx.bin is empty, not used.\r\n"},
    };
    for (const Case& c : cases) {
        SonixBench s;
        Rig& rig = s.rig;
        ASSERT_TRUE(rig.Start());
        const std::string identified = rig.tool->LogText();
        c.change(rig);
        rig.sonix.calls.clear();
        rig.tool->OnFlash();
        EXPECT_EQ(rig.tool->LogText(), identified + c.message) << c.name;
        EXPECT_TRUE(rig.sonix.calls.empty()) << c.name;
        EXPECT_EQ(s.Flash(), s.before) << c.name;
        EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]) << c.name;
        EXPECT_FALSE(rig.tool->Downloading()) << c.name;
        EXPECT_EQ(rig.workers.started, 0) << c.name;
    }
    // A file of exactly 64 KiB fills the flash.
    SonixBench whole("", orfakes::Image(65536, 9));
    ASSERT_TRUE(whole.rig.Start());
    whole.rig.tool->OnFlash();
    whole.rig.TickUntilDone();
    EXPECT_EQ(whole.Flash(), Bytes(orfakes::Image(65536, 9)));
}

// ---------------------------------------------------------------------------------------------
// Realtek

struct RealtekBench {
    BenchRig bench;
    std::unique_ptr<emu::vendor::RealtekLibrary> lib;
    orlinde::LinkedQuelmarCamera camera;
    Rig rig;

    // Cameras as (pid, rev, extra keys); bench keys for faults.
    RealtekBench(const Cameras& cameras, const std::string& benchKeys = "") : bench(Ini(cameras, benchKeys)) {
        EXPECT_TRUE(bench.Ok()) << bench.Error();
        std::string error;
        EXPECT_TRUE(emu::vendor::RealtekLibrary::FromBench(bench.Bench(), lib, error)) << error;
        orfakes::RvcModel::lib = lib.get();
        rig.camera = &camera;
        rig.Settings();
    }
    static std::string Ini(const Cameras& cameras, const std::string& benchKeys) {
        std::vector<std::string> names, sections;
        for (size_t i = 0; i < cameras.size(); ++i) {
            const auto& [pid, rev, extra] = cameras[i];
            names.push_back("rt" + std::to_string(i));
            Keys keys{{"chip", "realtek"}, {"pid", pid}, {"rev", rev}, {"port", std::to_string(4 + i)}};
            keys.insert(keys.end(), extra.begin(), extra.end());
            sections.push_back(CameraSection(names.back(), keys));
        }
        return BenchIni(names, sections, benchKeys);
    }
    const std::vector<uint8_t>& Memory(size_t i) const { return *lib->Memory("rt" + std::to_string(i)); }
    // The Realtek download: its start timer, then the progress timer that ends it.
    void RunDownload() {
        rig.Tick(kTimerRealtekStart);
        rig.TickUntilDone();
    }
};

const std::string kComboIni =
    "[PID_0604]\r\n041f=ir.bin\r\n0604=rgb.bin\r\nBIN=single.bin\r\nModuleID=Combo\r\nVER=0022\r\n";

std::string DeviceLines(const char* rev, const char* pid) {
    return std::string("(Camera) Current bcdDevice version = ") + rev +
           "\r\n(Camera) Current VID number = 3A7C\r\n" + "(Camera) Current PID number = " + pid + "\r\n";
}

TEST(OrlindeBenchRealtek, EachDeviceOfAModuleGetsTheFileOfItsOwnKey) {
    RealtekBench r(Cameras{{"0604", "0021", {}}, {"041F", "0021", {}}});
    Rig& rig = r.rig;
    rig.PidIni(kComboIni);
    rig.Bin("rgb.bin", orfakes::Image(60000, 3));
    rig.Bin("ir.bin", orfakes::Image(30000, 4));
    ASSERT_TRUE(rig.Start());
    const std::string identified = "\r\n Driver Connected, initial ok.\r\n" + DeviceLines("0021", "0604") +
                                   DeviceLines("0021", "041F") +
                                   "Open File C:\\Bench\\bin\\rgb.bin\r\nOpen File C:\\Bench\\bin\\ir.bin\r\n"
                                   "(File) New bcdDevice version = 0022\r\n";
    EXPECT_EQ(rig.tool->LogText(), identified);
    EXPECT_EQ(rig.libraries.byName, std::vector<std::string>{"RvcLib.dll"});
    EXPECT_EQ(rig.libraries.lookups, std::vector<std::string>(orlinde::RvcLibBinding::kNames.begin(),
                                                              orlinde::RvcLibBinding::kNames.end()));
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcModuleId], "Combo");
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcFirmwarePath], "C:\\Bench\\bin\\rgb.bin");

    // Plug events and close requests that the write's message pump dispatches are turned away.
    int pumpedHandled = 0, pumpedClosed = 0;
    rig.dialog.onPump = [&] {
        pumpedHandled +=
            rig.tool->OnDeviceChange(orlinde::kDeviceRemoveComplete, 5, &orlinde::kKsCategoryVideo);
        pumpedClosed += rig.tool->OnClose();
        rig.tool->OnFlash();
    };
    rig.tool->OnFlash();
    EXPECT_EQ(rig.dialog.timers[kTimerRealtekStart], 200u);
    EXPECT_FALSE(rig.dialog.enabled[kIdcClose]);
    rig.Tick(kTimerRealtekStart);
    EXPECT_FALSE(rig.dialog.Running(kTimerRealtekStart));
    EXPECT_EQ(rig.dialog.timers[kTimerProgress], 200u);
    rig.TickUntilDone();

    EXPECT_EQ(rig.tool->LogText(), identified + kEnd +
                                       "PID = 0604 Download complete\r\nPID = 041F Download complete\r\n"
                                       "Download complete.\r\n");
    std::vector<uint8_t> rgb = Bytes(orfakes::Image(60000, 3)), ir = Bytes(orfakes::Image(30000, 4));
    rgb.resize(65536, 0xFF);
    ir.resize(65536, 0xFF);
    EXPECT_EQ(r.Memory(0), rgb);
    EXPECT_EQ(r.Memory(1), ir);
    EXPECT_EQ(orfakes::RvcModel::callbackThread, std::this_thread::get_id());
    EXPECT_GT(rig.dialog.pumps, 0);
    EXPECT_EQ(rig.dialog.pumpThread, std::this_thread::get_id());
    EXPECT_EQ(pumpedHandled, 0);
    EXPECT_EQ(pumpedClosed, 0);
    EXPECT_EQ(rig.tool->RealtekDone(), 131072u);
    EXPECT_EQ(rig.tool->RealtekTotal(), 131072u);
    const std::string last = "\rDownload Stage is: 131072 / 65536";
    EXPECT_EQ(rig.console.out.substr(rig.console.out.size() - last.size()), last);
    EXPECT_EQ(rig.console.out.substr(0, 29), "\rDownload Stage is: 4096 / 65");
    EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpSuccess);
    EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_TRUE(rig.tool->Ready());

    // Plugged in again: the library is let go and loaded afresh.
    ASSERT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, &orlinde::kKsCategoryVideo));
    EXPECT_EQ(rig.libraries.frees, 1);
    EXPECT_EQ(rig.libraries.byName.size(), 2u);
    EXPECT_EQ(rig.tool->RealtekDevices().size(), 2u);
}

struct RealtekFailCase {
    const char* name;
    std::string benchKeys;
    std::function<void(RealtekBench&)> change;
    std::string lines;
    bool firstWritten;
};

void PrintTo(const RealtekFailCase& c, std::ostream* os) { *os << c.name; }

class OrlindeBenchRealtekFail : public ::testing::TestWithParam<RealtekFailCase> {};

TEST_P(OrlindeBenchRealtekFail, NoLaterDeviceIsWrittenAndTheToolComesBack) {
    const RealtekFailCase& c = GetParam();
    RealtekBench r(Cameras{{"0604", "0021", {}}, {"041F", "0021", {{"eeprom_size", "0x4000"}}}}, c.benchKeys);
    Rig& rig = r.rig;
    rig.Settings("ChooseBinUsePid=1\r\nCmdLineMode=1\r\nCmdLineMsg=1\r\n");
    rig.PidIni(kComboIni);
    rig.Bin("rgb.bin", orfakes::Image(60000, 3));
    rig.Bin("ir.bin", orfakes::Image(10000, 4));
    if (c.change) c.change(r);
    ASSERT_TRUE(rig.Start());
    const std::string identified = rig.tool->LogText();
    const std::vector<uint8_t> before0 = r.Memory(0), before1 = r.Memory(1);
    rig.tool->OnFlash();
    r.RunDownload();
    EXPECT_EQ(rig.tool->LogText(), identified + kEnd + c.lines + "Download fail.\r\n");
    EXPECT_EQ(r.Memory(0) != before0, c.firstWritten);
    EXPECT_EQ(r.Memory(1), before1);
    EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpFail);
    EXPECT_EQ(rig.tool->StatusByte(), orlinde::kStatusFail);
    EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_TRUE(rig.dialog.enabled[kIdcClose]);
    EXPECT_EQ(rig.tool->Busy(), 0);
    ASSERT_EQ(rig.dialog.boxes.size(), 1u);
    EXPECT_EQ(rig.dialog.boxes[0].text, "Download Fail!");
    EXPECT_EQ(rig.dialog.closeRequests, 1);
    EXPECT_TRUE(rig.dialog.closeAllowed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrlindeBenchRealtekFail,
    ::testing::Values(
        RealtekFailCase{"FirstInfoFails", "rvclib_fault1=EEPROMInfo:1:-2\n", nullptr,
                        "PID = 0604 Download Fail\r\n", false},
        RealtekFailCase{"SecondWriteFails", "rvclib_fault1=EEPROMWrite3:2:-5\n", nullptr,
                        "PID = 0604 Download complete\r\nPID = 041F Download Fail\r\n", true},
        // A camera that left after the identification: the other one, answering under its index,
        // does not get its firmware, and nothing is written.
        RealtekFailCase{"FirstLeftAfterIdentification", "rvclib_fault1=UVC_Close:1:unplug\n", nullptr,
                        "PID = 0604 Download Fail\r\n", false},
        RealtekFailCase{"SecondInfoFails", "rvclib_fault1=EEPROMInfo:2:-2\n", nullptr,
                        "PID = 0604 Download complete\r\nPID = 041F Download Fail\r\n", true},
        // Each device is looked at again right before its own write: the first one is written.
        RealtekFailCase{"SecondLeftAfterIdentification", "rvclib_fault1=UVC_Close:2:unplug\n", nullptr,
                        "PID = 0604 Download complete\r\nPID = 041F Download Fail\r\n", true},
        RealtekFailCase{"WriteMissing", "",
                        [](RealtekBench& r) { r.rig.libraries.missing.insert("EEPROMWrite3"); },
                        "PID = 0604 Download Fail\r\n", false},
        RealtekFailCase{"InfoMissing", "",
                        [](RealtekBench& r) { r.rig.libraries.missing.insert("EEPROMInfo"); },
                        "PID = 0604 Download Fail\r\n", false},
        RealtekFailCase{"SecondFileMissing", "",
                        [](RealtekBench& r) { r.rig.files.Remove("C:\\Bench\\bin\\ir.bin"); },
                        "PID = 0604 Download complete\r\nCannot open file C:\\Bench\\bin\\ir.bin\r\n"
                        "PID = 041F Download Fail\r\n",
                        true},
        RealtekFailCase{"SecondFileLargerThanItsMemory", "",
                        [](RealtekBench& r) { r.rig.Bin("ir.bin", orfakes::Image(16385, 4)); },
                        "PID = 0604 Download complete\r\nFile C:\\Bench\\bin\\ir.bin has 16385 bytes, more "
                        "than the 16384 bytes it may have, not used.\r\nPID = 041F Download Fail\r\n",
                        true}),
    [](const ::testing::TestParamInfo<RealtekFailCase>& info) { return std::string(info.param.name); });

TEST(OrlindeBenchRealtek, AutomaticDownloadSkipsAModuleThatCarriesVer) {
    struct Case {
        const char* name;
        Cameras cameras;
        const char* ver;
        bool writes;
    };
    const Case cases[] = {
        {"one device at VER", {{"5801", "0105", {}}}, "0105", false},
        {"one device below VER", {{"5801", "0104", {}}}, "0105", true},
        {"two devices at VER", {{"5801", "0105", {}}, {"5802", "0105", {}}}, "0105", false},
        {"second device below VER", {{"5801", "0105", {}}, {"5802", "0104", {}}}, "0105", true},
    };
    for (const Case& c : cases) {
        RealtekBench r(c.cameras);
        Rig& rig = r.rig;
        rig.Settings("ChooseBinUsePid=1\r\nAutoDL=1\r\n");
        rig.PidIni(std::string("[PID_5801]\r\nBIN=fw.bin\r\nVER=") + c.ver + "\r\n");
        rig.Bin("fw.bin", orfakes::Image(1000, 5));
        ASSERT_TRUE(rig.Start()) << c.name;
        r.RunDownload();
        const std::string log = rig.tool->LogText();
        const bool skipped = log.find(" Version Accuracy \r\n") != std::string::npos;
        EXPECT_EQ(skipped, !c.writes) << c.name << "\n" << log;
        EXPECT_EQ(r.Memory(0)[0] == Bytes(orfakes::Image(1000, 5))[0], c.writes) << c.name;
        EXPECT_EQ(log.find("Download complete.\r\n") != std::string::npos, c.writes) << c.name;
    }
}

// A single device's file is named by BIN; the path box shows combo path 1, which is empty for it.
TEST(OrlindeBenchRealtek, ASingleDeviceShowsComboPathOneInThePathBox) {
    RealtekBench r(Cameras{{"5801", "0104", {}}});
    Rig& rig = r.rig;
    rig.PidIni("[PID_5801]\r\nBIN=fw.bin\r\nModuleID=Single\r\nVER=0105\r\n");
    rig.Bin("fw.bin", orfakes::Image(8192, 5));
    rig.dialog.texts[orlinde::kIdcFirmwarePath] = "shown before";
    ASSERT_TRUE(rig.Start());
    EXPECT_EQ(rig.tool->FirmwarePath(), "C:\\Bench\\bin\\fw.bin");
    EXPECT_NE(rig.tool->LogText().find("Open File C:\\Bench\\bin\\fw.bin\r\n"), std::string::npos);
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcModuleId], "Single");
    EXPECT_EQ(rig.dialog.texts[orlinde::kIdcFirmwarePath], "");
    rig.tool->OnFlash();
    r.RunDownload();
    EXPECT_EQ(r.Memory(0)[0], Bytes(orfakes::Image(8192, 5))[0]) << "written from the firmware path";
}

TEST(OrlindeBenchRealtek, NoDeviceEndsTheIdentificationThere) {
    RealtekBench r(Cameras{});
    Rig& rig = r.rig;
    rig.Settings("ChooseBinUsePid=1\r\nAutoDL=1\r\n");
    ASSERT_TRUE(rig.Start());
    EXPECT_EQ(rig.tool->LogText(), "\r\n Driver Connected, initial ok.\r\nCan't find Brevant Camera!\r\n");
    EXPECT_EQ(rig.com.uninits, 0);
    EXPECT_FALSE(rig.dialog.enabled[kIdcFlash]);
    EXPECT_TRUE(rig.dialog.timers.empty());
}

TEST(OrlindeBenchRealtek, WithoutTheLibraryNothingIsLogged) {
    Rig rig;
    rig.scripted.initResult = 1;
    rig.Settings();
    ASSERT_TRUE(rig.Start());
    EXPECT_EQ(rig.tool->LogText(), "\r\n");
    EXPECT_EQ(rig.libraries.byName, std::vector<std::string>{"RvcLib.dll"});
    EXPECT_FALSE(rig.tool->RealtekMode());
    EXPECT_EQ(rig.tool->CurrentRoute(), orlinde::Route::None);
}


// ---------------------------------------------------------------------------------------------
// setting.ini's Backup=1: the camera's memory kept in the tool's folder, and written back later
// like any firmware file (copied into bin\ and named in pid.ini).

// The backup files the tool left in its folder.
std::vector<std::string> BackupsIn(twfakes::Files& files) {
    std::vector<std::string> names;
    for (const std::string& name : files.Matches((orfakes::kDir + "\\*.bin").c_str()))
        if (name.rfind("Backup_", 0) == 0) names.push_back(name);
    return names;
}

// Flashes whatever pid.ini's section names now, after a plug-in that identifies the camera again.
void FlashAgain(Rig& rig, const std::string& pidIni) {
    rig.PidIni(pidIni);
    ASSERT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, &orlinde::kKsCategoryVideo));
    rig.tool->OnFlash();
    rig.TickUntilDone();
    ASSERT_EQ(rig.dialog.pictures.back(), orlinde::kBmpSuccess) << rig.tool->LogText();
}

TEST(OrlindeBenchBackup, AQuelmarBackupWrittenBackRestoresEveryByte) {
    for (const char* family : {"d", "i", "j"}) {
        SCOPED_TRACE(family);
        BenchRig bench(camlib::testing::QuelmarBench({{"family", family}}));
        ASSERT_TRUE(bench.Ok()) << bench.Error();
        orlinde::LinkedQuelmarCamera camera;
        Rig rig;
        rig.camera = &camera;
        rig.workers.mode = orfakes::Workers::Mode::Thread;
        // What a camera holds is a downloaded image, with the marks the download leaves.
        rig.Settings("ChooseBinUsePid=1\r\n");
        rig.PidIni("[PID_B5A4]\r\nBIN=first.bin\r\n");
        rig.Bin("first.bin", orfakes::Image(65536, 5));
        rig.Bin("other.bin", orfakes::Image(65536, 3));
        ASSERT_TRUE(rig.Start());
        rig.tool->OnFlash();
        rig.TickUntilDone();
        ASSERT_EQ(rig.dialog.pictures.back(), orlinde::kBmpSuccess) << rig.tool->LogText();
        const std::vector<uint8_t> original = bench.Chip().Flash().Image();
        ASSERT_TRUE(BackupsIn(rig.files).empty()) << "a backup without the key";

        rig.Settings("ChooseBinUsePid=1\r\nBackup=1\r\n");
        FlashAgain(rig, "[PID_B5A4]\r\nBIN=other.bin\r\n");
        const std::vector<std::string> backups = BackupsIn(rig.files);
        ASSERT_EQ(backups.size(), 1u);
        EXPECT_TRUE(std::regex_match(backups[0], std::regex(R"(Backup_VID_3A7C_PID_B5A4_REV_[0-9A-F]{4}_20240506_14\d{4}\.bin)")))
            << backups[0];
        const std::string kept = rig.files.Get(orfakes::kDir + "\\" + backups[0]);
        ASSERT_EQ(Bytes(kept), std::vector<uint8_t>(original.begin(), original.begin() + 65536));
        EXPECT_NE(rig.tool->LogText().find("Backup saved as C:\\Bench\\" + backups[0] + " (65536 bytes)\r\n"),
                  std::string::npos);
        ASSERT_NE(bench.Chip().Flash().Image(), original) << "the other file was not written";

        // Back to what the camera held: the backup is a firmware file like any other.
        rig.Settings("ChooseBinUsePid=1\r\n");
        rig.Bin("restore.bin", kept);
        FlashAgain(rig, "[PID_B5A4]\r\nBIN=restore.bin\r\n");
        EXPECT_EQ(bench.Chip().Flash().Image(), original);
    }
}

TEST(OrlindeBenchBackup, ASonixBackupWrittenBackRestoresEveryByte) {
    SonixBench s("", orfakes::Image(65536, 9));
    Rig& rig = s.rig;
    rig.Settings("ChooseBinUsePid=1\r\nBackup=1\r\n");
    ASSERT_TRUE(rig.Start());
    rig.tool->OnFlash();
    rig.TickUntilDone();
    ASSERT_EQ(rig.dialog.pictures.back(), orlinde::kBmpSuccess) << rig.tool->LogText();
    const std::string name = "Backup_VID_3A7C_PID_6366_REV_0105_20240506_140300.bin";
    const std::string kept = rig.files.Get(orfakes::kDir + "\\" + name);
    ASSERT_EQ(Bytes(kept), s.before);
    ASSERT_NE(s.Flash(), s.before);

    rig.Settings("ChooseBinUsePid=1\r\n");
    rig.Bin("restore.bin", kept);
    rig.PidIni("[PID_6366]\r\nBIN=restore.bin\r\n");
    ASSERT_TRUE(rig.tool->OnDeviceChange(orlinde::kDeviceArrival, 5, &orlinde::kKsCategoryVideo));
    rig.tool->OnFlash();
    rig.TickUntilDone();
    ASSERT_EQ(rig.dialog.pictures.back(), orlinde::kBmpSuccess) << rig.tool->LogText();
    EXPECT_EQ(s.Flash(), s.before);
}

// A backup that cannot be made writes nothing: the picture says Fail, the log says why.
TEST(OrlindeBenchBackup, NoBackupNoDownload) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        std::string logEnd;
    };
    const Case cases[] = {
        {"read_fails", [](Rig& r) { r.scripted.readResult = 1; },
         "Backup failed: the camera's memory could not be read, nothing was written.\r\nDownload fail.\r\n"},
        {"short_read", [](Rig& r) { r.scripted.flash.resize(40000); },
         "Backup failed: the camera's memory could not be read, nothing was written.\r\nDownload fail.\r\n"},
        {"disk_full",
         [](Rig& r) { r.files.writeFails = [](const std::string& key) { return key.find("backup_") != std::string::npos; }; },
         "Backup failed: C:\\Bench\\Backup_VID_3A7C_PID_B5A4_REV_0012_20240506_140300.bin could not be written, "
         "nothing was written to the camera.\r\nDownload fail.\r\n"},
        {"key_off", [](Rig& r) { r.Settings("ChooseBinUsePid=1\r\n"); }, " Downloading...\r\nDownload complete.\r\n"},
        // The download would write the in-package flash; the range read reaches the serial one only.
        {"in_package",
         [](Rig& r) {
             r.scripted.family = 'l';
             r.scripted.flashType = 255;
         },
         "Backup failed: the in-package flash of this camera cannot be read, nothing was written.\r\nDownload fail.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.scripted.flash.assign(65536, 0x42);
        rig.Settings("ChooseBinUsePid=1\r\nBackup=1\r\n");
        rig.PidIni("[PID_B5A4]\r\nBIN=fw.bin\r\n");
        rig.Bin("fw.bin", orfakes::Image(65536));
        c.arrange(rig);
        ASSERT_TRUE(rig.Start());
        rig.tool->OnFlash();
        rig.TickUntilDone();
        const std::string log = rig.tool->LogText();
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), c.logEnd.size())), c.logEnd) << log;
        const bool off = std::string(c.name) == "key_off";
        EXPECT_EQ(rig.scripted.downloads, off ? 1 : 0);
        EXPECT_EQ(rig.scripted.reads, off || std::string(c.name) == "in_package" ? 0 : 1);
        EXPECT_EQ(rig.dialog.pictures.back(), off ? orlinde::kBmpSuccess : orlinde::kBmpFail);
        EXPECT_TRUE(BackupsIn(rig.files).empty());
        EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
        EXPECT_FALSE(rig.tool->Downloading());
    }
}

// A family l camera in in-package mode, the chip's own answer included: the range read would keep the
// serial flash, so neither flash is touched and the log says why.
TEST(OrlindeBenchBackup, AnInPackageCameraIsNotWrittenWhenABackupIsAskedFor) {
    for (const std::string chip : {"0xD2", "0xD0"}) {
        SCOPED_TRACE(chip);
        BenchRig bench(camlib::testing::QuelmarBench(
            {{"family", "l"}, {"chip_id", chip}, {"in_package", "65536"}, {"in_package_boot", chip == "0xD0" ? "1" : "0"}}));
        ASSERT_TRUE(bench.Ok()) << bench.Error();
        const std::vector<uint8_t> inPackage(65536, 0x3C);
        bench.Chip().InPackage()->LoadImage(inPackage.data(), inPackage.size());
        const std::vector<uint8_t> serial = bench.Chip().Flash().Image();
        orlinde::LinkedQuelmarCamera camera;
        Rig rig;
        rig.camera = &camera;
        rig.Settings("ChooseBinUsePid=1\r\nBackup=1\r\n");
        rig.PidIni("[PID_B5A4]\r\nBIN=fw.bin\r\n");
        rig.Bin("fw.bin", orfakes::Image(65536, 4));
        ASSERT_TRUE(rig.Start());
        ASSERT_TRUE(bench.Chip().InPackageMode()) << "the start-up's mode switch, or the power-on";
        rig.tool->OnFlash();
        rig.TickUntilDone();
        EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpFail);
        EXPECT_NE(rig.tool->LogText().find("Backup failed: the in-package flash of this camera cannot be read, nothing "
                                           "was written.\r\nDownload fail.\r\n"),
                  std::string::npos)
            << rig.tool->LogText();
        EXPECT_TRUE(BackupsIn(rig.files).empty());
        EXPECT_EQ(bench.Chip().InPackage()->Image(), inPackage);
        EXPECT_EQ(std::vector<uint8_t>(bench.Chip().Flash().Image().begin() + 2, bench.Chip().Flash().Image().end()),
                  std::vector<uint8_t>(serial.begin() + 2, serial.end()))
            << "beyond the header the mode switch clears";
    }
}

TEST(OrlindeBenchBackup, ARealtekModuleIsNotWrittenWhenABackupIsAskedFor) {
    RealtekBench r(Cameras{{"5602", "0101", {}}});
    Rig& rig = r.rig;
    rig.Settings("ChooseBinUsePid=1\r\nBackup=1\r\n");
    rig.PidIni("[PID_5602]\r\nBIN=rt.bin\r\n");
    rig.Bin("rt.bin", orfakes::Image(65536));
    const std::vector<uint8_t> before = r.Memory(0);
    ASSERT_TRUE(rig.Start());
    ASSERT_EQ(rig.tool->CurrentRoute(), orlinde::Route::Realtek);
    rig.tool->OnFlash();
    EXPECT_FALSE(rig.dialog.Running(kTimerRealtekStart));
    r.RunDownload();
    EXPECT_EQ(rig.dialog.pictures.back(), orlinde::kBmpFail);
    const std::string log = rig.tool->LogText();
    EXPECT_NE(log.find("Backup failed: the memory of a Realtek camera cannot be read through RvcLib.dll, nothing was "
                       "written.\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(r.Memory(0), before);
    EXPECT_EQ(orfakes::RvcModel::callbacks, 0);
    EXPECT_TRUE(rig.dialog.enabled[kIdcFlash]);
}

}  // namespace
