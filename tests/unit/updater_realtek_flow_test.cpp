// The Realtek flow inside a whole silent run: RvcLib.dll is the bench's Realtek model behind the
// library's exports, the rest of the machine the updater's test doubles.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "emu/bench.h"
#include "emu/vendor/device_memory.h"
#include "emu/vendor/realtek_model.h"
#include "realtek_flow.h"
#include "rvclib_model.h"
#include "updater_fakes.h"
#include "vendor/RvcLib.h"

namespace {

namespace fs = std::filesystem;
using emu::vendor::RealtekLibrary;
using tessaw::TextModeBytes;
using twfakes::kDir;
using twfakes::Rig;

using twfakes::RvcModel;


const std::string kTwoCameras =
    "[a]\nchip=realtek\nvid=3A7C\npid=5602\nrev=0101\n"
    "[b]\nchip=realtek\nvid=3A7C\npid=5603\nrev=0101\n";

// An image that carries the identity block of a new release, shorter than the 64 KiB EEPROM.
std::string ImageWithRevision(uint16_t pid, uint16_t rev, char fill) {
    std::vector<uint8_t> bytes(emu::vendor::kIdentityOffset + emu::vendor::kIdentityBytes,
                               static_cast<uint8_t>(fill));
    emu::vendor::PutIdentityBlock(bytes, 0x3A7C, pid, rev);
    return std::string(bytes.begin(), bytes.end());
}

class RealtekFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir_ = fs::temp_directory_path() / ("rtkflow_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        Fresh();
    }
    // A new machine and program for each run. The callback's log writer is made before the
    // session, as the program makes it at its start.
    Rig& Fresh() {
        flow_.reset();
        rig_ = std::make_unique<Rig>();
        flow_ = std::make_unique<tessaw::RealtekFlow>(rig_->files, rig_->machine);
        rig_->libraries.rvcExports = RvcModel::Exports();
        rig_->files.Put(kDir + "\\dev.vrk", "[REALTEK]\r\nPID=5602,5603,0A1B\r\n");
        rig_->flows.realtek = flow_.get();
        RvcModel::duringWrite = nullptr;
        RvcModel::afterWrite = [this] { SyncUsb(); };
        RvcModel::writes = 0;
        return *rig_;
    }
    void TearDown() override {
        RvcModel::lib = nullptr;
        RvcModel::duringWrite = nullptr;
        RvcModel::afterWrite = nullptr;
        fs::remove_all(dir_);
    }

    // The bench, in camera order; the USB devices the session lists follow its cameras.
    void Bench(const std::string& cameras, const std::string& records = kTwoCameras,
               const std::string& settings = "") {
        // Every bench starts with erased memories.
        for (const fs::directory_entry& e : fs::directory_iterator(dir_))
            if (e.path().extension() == ".eeprom") fs::remove(e.path());
        std::ofstream(dir_ / "bench.ini", std::ios::binary)
            << "[bench]\ncameras=" << cameras << "\n" << settings << records;
        emu::Bench bench;
        std::string error;
        ASSERT_TRUE(emu::LoadBench(dir_.string(), bench, error)) << error;
        ASSERT_TRUE(RealtekLibrary::FromBench(bench, model_, error)) << error;
        names_.clear();
        for (const emu::CameraRecord& camera : bench.cameras) names_.push_back(camera.name);
        RvcModel::lib = model_.get();
        SyncUsb();
    }
    void SyncUsb() {
        rig_->usb.devices.clear();
        for (const std::string& name : names_) {
            if (!model_->Present(name)) continue;
            emu::vendor::Identity id = model_->IdentityOf(name);
            rig_->usb.Add(tessaw::Format("USB\\VID_%04X&PID_%04X&REV_%04X&MI_00", id.vid, id.pid, id.rev));
        }
    }
    std::vector<uint8_t> Memory(const std::string& camera) const { return *model_->Memory(camera); }
    static std::vector<uint8_t> Padded(const std::string& image, size_t size = 65536) {
        std::vector<uint8_t> bytes(size, 0xFF);
        std::copy(image.begin(), image.begin() + static_cast<long>(std::min(size, image.size())), bytes.begin());
        return bytes;
    }
    static std::vector<uint8_t> Erased(size_t size = 65536) { return std::vector<uint8_t>(size, 0xFF); }
    bool Viewed(const std::string& text) const {
        return rig_->dialog.logView.find(tessaw::kViewPrefix + text) != std::string::npos;
    }

    fs::path dir_;
    std::unique_ptr<Rig> rig_;
    std::unique_ptr<tessaw::RealtekFlow> flow_;
    std::unique_ptr<RealtekLibrary> model_;
    std::vector<std::string> names_;
};

TEST(RealtekProgress, StageTexts) {
    struct Case {
        uint32_t done, total;
        const char* text;
    } cases[] = {
        {40000, 131072, "Download Stage is: 40000 / 65536\r\n"},
        {70000, 131072, "Verify Stage is: 4464 / 65536\r\n"},
        {65536, 131072, "Download Stage is: 65536 / 65536\r\n"},  // half is still the download
        {65537, 131072, "Verify Stage is: 1 / 65536\r\n"},
        {131072, 131072, "Verify Stage is: 65536 / 65536\r\n"},
        {4, 7, "Verify Stage is: 1 / 3\r\n"},  // an odd total rounds its half down
    };
    for (const Case& c : cases) EXPECT_EQ(tessaw::ProgressStageText(c.done, c.total), c.text) << c.done;
}

TEST_F(RealtekFlowTest, OneCameraLogsEveryStepAndShowsTheNewRevision) {
    Rig& rig = *rig_;
    rig.files.Put(kDir + "\\FW_5602.rfw", ImageWithRevision(0x5602, 0x0102, 'R'));
    rig.machine.nowMs = 2000;  // the session's log is made two seconds after the program started
    // Two stages of two reports each, and two reports made from inside the write.
    std::string records = kTwoCameras;
    records.insert(records.find("[b]"), "progress_block=32768\n");
    Bench("a", records);
    RvcModel::duringWrite = [](RvcProgressCallback cb) {
        cb(40000, 131072);
        cb(70000, 131072);
    };
    std::string revAfterWrite;
    EXPECT_EQ(rig.RunSilentlyThen([&] { revAfterWrite = rig.session->Entries().at(1).rev; }), 0);

    EXPECT_EQ(Memory("a"), Padded(ImageWithRevision(0x5602, 0x0102, 'R')));
    // The session's lines count from the dialog, the callback's from the program's start.
    const std::string s = "     0.100\t", c = "     2.100\t";
    auto line = [](const std::string& stamp, const std::string& text) {
        return stamp + TextModeBytes(tessaw::PlainLine(text));
    };
    const std::string expected =
        TextModeBytes(tessaw::RunStamp(rig.machine.Now())) + line(s, "Find 1 camera device\r\n") +
        line(s, "----------------------------------------\r\n") + line(s, "Device #0, VID=3a7c, PID=5602\r\n") +
        line(s, "Current FW version = REV_0101\r\n") + line(s, "Change to download mode ...\r\n") +
        line(c, "Download Stage is: 40000 / 65536\r\n") + line(c, "Verify Stage is: 4464 / 65536\r\n") +
        line(c, "Download Stage is: 32768 / 65536\r\n") + line(c, "Download Stage is: 65536 / 65536\r\n") +
        line(c, "Verify Stage is: 32768 / 65536\r\n") + line(c, "Verify Stage is: 65536 / 65536\r\n") +
        line(s, "Current FW version = REV_0102\r\n") + TextModeBytes(tessaw::PlainLine("Update finished\r\n")) +
        TextModeBytes(tessaw::PlainLine("Updated successfully\r\n")) + TextModeBytes(tessaw::kClosingLine);
    EXPECT_EQ(rig.Log(), expected);

    EXPECT_EQ(rig.dialog.range, 131072u);
    EXPECT_EQ(rig.dialog.positions,
              (std::vector<uint32_t>{40000, 70000, 32768, 65536, 98304, 131072, 0, 0}))
        << "the callbacks' positions, 0 after the camera, 0 when the run ends";
    EXPECT_TRUE(rig.Traced("pfnProgressCallBack(70000, 131072)\n"));
    EXPECT_TRUE(rig.Traced("EEPROMInfo2(0)=0 => eepromID=3, size=65536\r\n"));
    EXPECT_TRUE(Viewed("Current FW version = REV_0102\r\n"));
    EXPECT_EQ(revAfterWrite, "0102") << "identified again after the write";
}

// A library that opens every index it is asked for: the enumeration ends at its bound.
RvcHandle OpenEveryIndex(int32_t index) { return static_cast<RvcHandle>(index + 1); }

TEST_F(RealtekFlowTest, ALibraryThatOpensEveryIndexIsAskedAtMostTheBound) {
    Rig& rig = *rig_;
    rig.files.Put(kDir + "\\FW_5602.rfw", ImageWithRevision(0x5602, 0x0102, 'R'));
    Bench("a");
    rig.libraries.rvcExports["UVC_Open"] = reinterpret_cast<kit::EntryPoint>(&OpenEveryIndex);
    rig.RunSilently();
    EXPECT_EQ(tessaw::kMaxRvcCameras, 64);
    size_t opens = 0, stops = 0;
    for (const std::string& line : rig.trace.lines) {
        opens += line.rfind("UVC_Open(", 0) == 0;
        stops += line == "UVC_Open answers beyond 64 cameras, enumeration stopped\r\n";
    }
    EXPECT_GE(stops, 1u);
    EXPECT_EQ(opens, 64 * stops) << "each enumeration asks for 64 cameras and no more";
}

TEST_F(RealtekFlowTest, AShortFileIsWrittenPaddedAndEachCameraGetsItsOwnFile) {
    Rig& rig = *rig_;
    // The second camera's library calls back on a thread of its own.
    Bench("a,b", kTwoCameras + "callback_thread=worker\n");
    rig.files.Put(kDir + "\\FW_5602.rfw", std::string(40000, 'A'));
    rig.files.Put(kDir + "\\FW_5603.rfw", std::string(70000, 'B'));  // longer: cut at the EEPROM size
    EXPECT_EQ(rig.RunSilently(), 0);
    EXPECT_EQ(Memory("a"), Padded(std::string(40000, 'A')));
    EXPECT_EQ(Memory("b"), Padded(std::string(70000, 'B')));
    EXPECT_EQ(rig.still.calls, (std::vector<std::string>{"init 3a7c:5602 @0", "clear @100", "init 3a7c:5603 @100",
                                                          "clear @200", "init 3a7c:5602 @200", "clear @200",
                                                          "init 3a7c:5603 @200", "clear @200"}))
        << "the start-up probe of each camera, then a graph around each write";
    EXPECT_TRUE(Viewed("Device #1, VID=3a7c, PID=5603\r\n"));
    EXPECT_EQ(rig.usb.listings, 3) << "start-up, then once after each camera";
    EXPECT_TRUE(Viewed("Verify Stage is: 65536 / 65536\r\n"));

    // A library that calls back after its write has returned reaches nobody.
    const size_t shown = rig.dialog.logView.size(), positions = rig.dialog.positions.size();
    tessaw::pfnProgressCallBack(1, 2);
    EXPECT_EQ(rig.dialog.logView.size(), shown);
    EXPECT_EQ(rig.dialog.positions.size(), positions);
}

TEST_F(RealtekFlowTest, AFailureStopsTheLoopAndLeavesTheNextCameraUntouched) {
    struct Case {
        const char* name;
        std::string setting;
        std::string missing;  // an export the library lacks
        const char* error;
        bool firstWritten;
    } cases[] = {
        {"EEPROMInfo2 fails", "rvclib_fault1=EEPROMInfo2:1:-7\n", "", "FW update error (-7)\r\n", false},
        {"EEPROMWrite3 fails", "rvclib_fault1=EEPROMWrite3:1:-5\n", "", "FW update error (-5)\r\n", false},
        {"the read-back differs", "rvclib_fault1=EEPROMWrite3:1:corrupt:0x01:100\n", "",
         "FW update error (-5)\r\n", true},
        {"no EEPROMInfo2", "", "EEPROMInfo2", "FW update error (-1)\r\n", false},
        {"no EEPROMWrite3", "", "EEPROMWrite3", "FW update error (-1)\r\n", false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Rig& r = Fresh();
        if (!k.missing.empty()) r.libraries.missingExports.insert(k.missing);
        Bench("a,b", kTwoCameras, k.setting);
        r.files.Put(kDir + "\\FW_5602.rfw", std::string(65536, 'A'));
        r.files.Put(kDir + "\\FW_5603.rfw", std::string(65536, 'B'));
        EXPECT_EQ(r.RunSilently(), 1);
        EXPECT_TRUE(Viewed(k.error));
        EXPECT_EQ(r.session->StatusText(), "Update unsuccessful\r\n");
        EXPECT_NE(r.Log().find(TextModeBytes(tessaw::PlainLine(k.error))), std::string::npos);
        EXPECT_FALSE(Viewed("Device #1, VID=3a7c, PID=5603\r\n"));
        EXPECT_EQ(Memory("b"), Erased());
        EXPECT_EQ(Memory("a") != Erased(), k.firstWritten);
        if (std::string(k.name) == "EEPROMInfo2 fails") {
            EXPECT_TRUE(r.Traced("GetEEPROMInfo return -7.\n"));
        }
    }
}

TEST_F(RealtekFlowTest, AFileThatCannotBePreparedStopsBeforeAnyWrite) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        std::string settings;
        std::string message;
    } cases[] = {
        {"the first camera's file is missing", [](Rig& r) { r.files.Remove(kDir + "\\FW_5602.rfw"); }, "",
         "C:\\Kit\\FW_5602.rfw does not exist!\r\n"},
        {"the first camera's file cannot be opened", [](Rig& r) { r.files.MakeUnopenable(kDir + "\\FW_5602.rfw"); },
         "", "Fail to open file C:\\Kit\\FW_5602.rfw.\r\n"},
        {"the first camera's file is empty", [](Rig& r) { r.files.Put(kDir + "\\FW_5602.rfw", ""); }, "",
         "File C:\\Kit\\FW_5602.rfw is empty, please check the file and try again!\r\n"},
        {"the first camera's entry names no file",
         [](Rig& r) {
             r.files.Put(kDir + "\\config.ini",
                         "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\nSysID_XXXX_PID_5602_ModID_11=\r\n"
                         "SysID_XXXX_PID_5603_ModID_12=FW_5603.rfw\r\n");
         },
         "", "No FW file is named for PID 5602 in config.ini, please name one and try again!\r\n"},
        {"the library reports an impossible size", [](Rig&) {}, "rvclib_fault1=EEPROMInfo2:1:corrupt:0xFF:7\n",
         "EEPROM size -16711680 of device #0 is not usable, please reconnect the camera and try again!\r\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Rig& r = Fresh();
        Bench("a,b", kTwoCameras, k.settings);
        r.files.Put(kDir + "\\FW_5602.rfw", std::string(65536, 'A'));
        r.files.Put(kDir + "\\FW_5603.rfw", std::string(65536, 'B'));
        k.arrange(r);
        RvcModel::writes = 0;
        EXPECT_EQ(r.RunSilently(), 1);
        EXPECT_TRUE(Viewed(k.message)) << r.dialog.logView;
        EXPECT_TRUE(r.Traced(k.message));
        EXPECT_NE(r.Log().find(TextModeBytes(tessaw::PlainLine(k.message))), std::string::npos);
        EXPECT_EQ(RvcModel::writes, 0);
        EXPECT_EQ(Memory("a"), Erased());
        EXPECT_EQ(Memory("b"), Erased());
        EXPECT_FALSE(Viewed("FW update error"));
    }
}

// RvcLib.dll offers no read of the memory: with config.ini's Backup=1 no Realtek camera is written,
// and the run says why with its own exit code.
TEST_F(RealtekFlowTest, ABackupAskedForRefusesTheUpdateBeforeAnyWrite) {
    Rig& r = Fresh();
    Bench("a,b");
    r.files.Put(kDir + "\\config.ini", "[FW_TOOL]\r\nLogSwitch=2\r\nBackup=1\r\n[Config]\r\n"
                                        "SysID_XXXX_PID_5602_ModID_11=FW_5602.rfw\r\nSysID_XXXX_PID_5603_ModID_12=FW_5603.rfw\r\n");
    r.files.Put(kDir + "\\FW_5602.rfw", std::string(65536, 'A'));
    r.files.Put(kDir + "\\FW_5603.rfw", std::string(65536, 'B'));
    RvcModel::writes = 0;
    EXPECT_EQ(r.RunSilently(), tessaw::kExitNoBackup);
    EXPECT_EQ(RvcModel::writes, 0);
    EXPECT_EQ(Memory("a"), Erased());
    EXPECT_EQ(Memory("b"), Erased());
    EXPECT_TRUE(r.Traced(tessaw::kBackupNotPossible));
    EXPECT_NE(r.Log().find(TextModeBytes(tessaw::ErrorLine(tessaw::kBackupNotPossible))), std::string::npos) << r.Log();
}

TEST_F(RealtekFlowTest, AComboModuleWithFewerThanTwoMatchesIsNotTouched) {
    struct Case {
        const char* name;
        std::string fault;
    } cases[] = {
        {"the second function is gone when the library looks", "rvclib_fault1=UVC_Open@b:1:unplug\n"},
        // Its IDs must not be taken over from the camera listed before it.
        {"the second function's IDs cannot be read", "rvclib_fault1=UVC_GetDevVIDPID@b:1:-1\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Rig& r = Fresh();
        r.files.Put(kDir + "\\dev.vrk", "[REALTEK]\r\nPID=5602,5603\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\n"
                    "[COMBO]\r\nPID=5602+5603\r\n");
        Bench("a,b", kTwoCameras, k.fault);
        r.files.Put(kDir + "\\FW_5602.rfw", std::string(65536, 'A'));
        r.files.Put(kDir + "\\FW_5603.rfw", std::string(65536, 'B'));
        EXPECT_EQ(r.RunSilently(), 1);
        EXPECT_TRUE(r.session->Device().combo);
        EXPECT_TRUE(Viewed("Find 1 camera device\r\n"));
        EXPECT_TRUE(Viewed("UVCOpen() miss-match, abort!\r\n"));
        EXPECT_NE(r.Log().find(TextModeBytes(tessaw::PlainLine("UVCOpen() miss-match, abort!\r\n"))),
                  std::string::npos);
        EXPECT_EQ(Memory("a"), Erased());
        EXPECT_EQ(Memory("b"), Erased());
    }
}

TEST_F(RealtekFlowTest, WhichEntriesSelectACamera) {
    struct Case {
        const char* name;
        std::string config;  // the [Config] lines
        std::string camera;  // its record
        int found;
    } cases[] = {
        {"lower-case xxxx matches any computer and is upper-cased in place",
         "SysID_xxxx_PID_5602_ModID_11=FW.rfw\r\n", "[a]\nchip=realtek\nvid=3A7C\npid=5602\nrev=0101\n", 1},
        {"the PID text is upper case", "SysID_XXXX_PID_0A1B_ModID_11=FW.rfw\r\n",
         "[a]\nchip=realtek\nvid=3A7C\npid=0A1B\nrev=0101\n", 1},
        {"another computer's entry is passed over for the next one",
         "SysID_1234_PID_5602_ModID_10=FW.rfw\r\nSysID_17A3_PID_5602_ModID_11=FW.rfw\r\n",
         "[a]\nchip=realtek\nvid=3A7C\npid=5602\nrev=0101\n", 1},
        // Identification fills REV only for the entry it matched: the second one stays empty.
        {"an entry whose camera was not identified is not taken",
         "SysID_XXXX_PID_5602_ModID_11=FW.rfw\r\nSysID_XXXX_PID_5603_ModID_12=FW.rfw\r\n",
         "[a]\nchip=realtek\nvid=3A7C\npid=5602\nrev=0101\n"
         "[b]\nchip=realtek\nvid=3A7C\npid=5603\nrev=0101\n",
         1},
        // Identification reads the entry's PID in any case; the flow compares it with the
        // upper-case PID text exactly, so a lower-case PID selects no camera.
        {"a lower-case PID is identified but selects no camera", "SysID_XXXX_PID_0a1b_ModID_11=FW.rfw\r\n",
         "[a]\nchip=realtek\nvid=3A7C\npid=0A1B\nrev=0101\n", 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Rig& r = Fresh();
        r.files.Put(kDir + "\\config.ini", "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\n" + k.config);
        r.files.Put(kDir + "\\FW.rfw", std::string(100, 'F'));
        Bench("a", k.camera);
        if (k.camera.find("[b]") != std::string::npos) {
            Bench("a,b", k.camera);
            // b arrives after start-up: the library lists it, identification never saw it.
            names_ = {"a"};
            SyncUsb();
        }
        std::vector<std::string> sysIds;
        EXPECT_EQ(r.RunSilentlyThen([&] {
            for (const tessaw::FirmwareEntry& e : r.session->Entries()) sysIds.push_back(e.sysId);
        }),
                  k.found ? 0 : 1);
        EXPECT_TRUE(Viewed(tessaw::Format("Find %d camera device\r\n", k.found))) << r.dialog.logView;
        EXPECT_EQ(Memory("a") != Erased(), k.found == 1);
        // Looked at while the table still exists: the closing steps empty it.
        ASSERT_FALSE(sysIds.empty());
        for (const std::string& id : sysIds) EXPECT_NE(id, "xxxx");
        if (k.config.rfind("SysID_xxxx", 0) == 0) {
            EXPECT_EQ(sysIds[0], "XXXX") << "upper-cased in place";
        }
    }
}

TEST_F(RealtekFlowTest, MissingEntryPointsTakeTheirDefaults) {
    struct Case {
        const char* missing;
        int exitCode;
        const char* evidence;
    } cases[] = {
        {"UVC_Open", 1, "Find 0 camera device\r\n"},
        {"UVC_GetDevVIDPID", 1, "Find 0 camera device\r\n"},
        {"RvcLib_Initialize", 0, "Updated successfully\r\n"},
        {"UVC_Close", 0, "Updated successfully\r\n"},
        {"RvcLib_UnInitialize", 0, "Updated successfully\r\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.missing);
        Rig& r = Fresh();
        r.libraries.missingExports.insert(k.missing);
        Bench("a");
        r.files.Put(kDir + "\\FW_5602.rfw", std::string(65536, 'A'));
        EXPECT_EQ(r.RunSilently(), k.exitCode);
        EXPECT_TRUE(Viewed(k.evidence)) << r.dialog.logView;
    }
}

}  // namespace
