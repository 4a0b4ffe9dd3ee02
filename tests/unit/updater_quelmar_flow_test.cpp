// The Quelmar flashing flow, run by a real session over a scripted QuelmarCamera.dll.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "quelmar_flow.h"
#include "session.h"
#include "texts.h"
#include "update_log.h"
#include "updater_fakes.h"

namespace {

using tessaw::Format;

// The library: a 64 KiB flash, the calls as made (arguments in the order passed) and the result of
// any call named in `results` (all others succeed).
struct Camera {
    static inline unsigned char code = 0x7B;
    static inline std::vector<uint8_t> flash;
    static inline std::vector<std::string> calls;
    static inline std::map<std::string, int> results;
    static inline std::vector<uint32_t> corrupt;  // read-back offsets that come back altered
    static inline std::function<void()> onReset;

    static void Reset() {
        code = 0x7B;
        flash.assign(65536, 0x00);
        calls.clear();
        results.clear();
        corrupt.clear();
        onReset = nullptr;
    }
    static int Call(const std::string& call) {
        calls.push_back(call);
        auto it = results.find(call);
        return it == results.end() ? 0 : it->second;
    }
    static int Init(int device) { return device == 0 ? 0 : 1; }
    static int UnInit() { return Call("uninit"); }
    static int FlashType(unsigned char* out) {
        calls.push_back("type");
        *out = code;
        return 0;
    }
    static int Off(unsigned char t) { return Call("off " + std::to_string(t)); }
    static int On(unsigned char t) { return Call("on " + std::to_string(t)); }
    static int Erase(unsigned char t) {
        int r = Call("erase " + std::to_string(t));
        if (r == 0) std::fill(flash.begin(), flash.end(), 0xFF);
        return r;
    }
    static int Download(unsigned char* image, unsigned char t, unsigned int sector, int option) {
        int r = Call(Format("write %u %u %d", sector, t, option));
        if (r == 0 && sector < 16) std::copy_n(image + sector * 4096, 4096, flash.begin() + sector * 4096);
        return r;
    }
    static int Upload(unsigned char* buffer, unsigned int sector, unsigned char t) {
        int r = Call(Format("read %u %u", sector, t));
        if (r != 0 || sector >= 16) return r;
        std::copy_n(flash.begin() + sector * 4096, 4096, buffer + sector * 4096);
        for (uint32_t at : corrupt)
            if (at / 4096 == sector) buffer[at] ^= 0x01;
        return 0;
    }
    static int ResetCamera() {
        if (onReset) onReset();
        return Call("reset");
    }
    static void Unused() {}
};

class Libraries final : public kit::LibraryPort {
public:
    void* LoadByPath(const char*) override { return &rvc_; }
    void* LoadByName(const char*) override { return &camera_; }
    kit::EntryPoint Find(void* module, const char* name) override {
        if (module != &camera_) return &Camera::Unused;
        const std::map<std::string, kit::EntryPoint> entries = {
            {"QuelmarCam_Init", reinterpret_cast<kit::EntryPoint>(&Camera::Init)},
            {"QuelmarCam_UnInit", reinterpret_cast<kit::EntryPoint>(&Camera::UnInit)},
            {"Download_Sector", reinterpret_cast<kit::EntryPoint>(&Camera::Download)},
            {"Upload_Sector", reinterpret_cast<kit::EntryPoint>(&Camera::Upload)},
            {"Get_FlashType", reinterpret_cast<kit::EntryPoint>(&Camera::FlashType)},
            {"SetSF_WProtect_ON", reinterpret_cast<kit::EntryPoint>(&Camera::On)},
            {"SetSF_WProtect_OFF", reinterpret_cast<kit::EntryPoint>(&Camera::Off)},
            {"EraseSF", reinterpret_cast<kit::EntryPoint>(&Camera::Erase)},
            {"ResetCamera", reinterpret_cast<kit::EntryPoint>(&Camera::ResetCamera)}};
        return entries.at(name);
    }
    void Free(void*) override {}

private:
    int rvc_ = 0;
    int camera_ = 0;
};

const std::string kFirmware = twfakes::kDir + "\\FW_B5A4_01.bin";

// The rig's machine with the scripted library and the real flow.
struct Bench : twfakes::Rig {
    Libraries cameraLibrary;
    tessaw::QuelmarFlow flow;

    Bench() {
        Camera::Reset();
        std::string file(65536, '\0');
        for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7 + i / 4096);
        files.Put(kFirmware, file);
    }
    int Run() {
        tessaw::SessionPorts ports{dialog, trace, profile,  machine,       files,   machine, programs,
                                   usb,    still, registry, cameraLibrary, threads, sonix};
        session =
            std::make_unique<tessaw::UpdateSession>("-s", ports, tessaw::FlashFlows{nullptr, nullptr, &flow});
        dialog.session = session.get();
        if (session->OnInitDialog()) Flash();
        dialog.Pump();
        return session->ExitCode();
    }
    // The trace lines between the session's "Quelmar fw update" and "Quelmar downloaded" lines.
    std::vector<std::string> FlowTrace() const {
        auto from = std::find(trace.lines.begin(), trace.lines.end(), tessaw::kQuelmarUpdate);
        auto to = std::find(from, trace.lines.end(), tessaw::kQuelmarDownloaded);
        return from == trace.lines.end() ? std::vector<std::string>{}
                                         : std::vector<std::string>(from + 1, to);
    }
};

std::vector<std::string> Strings(std::initializer_list<const char*> texts) {
    return {texts.begin(), texts.end()};
}

std::string Percent(const char* form, int p) { return Format(form, p); }

const std::vector<int> kPercents = {6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81, 87, 93, 100};

// Every call of a full run with command table `t`, protection calls included or not.
std::vector<std::string> FullRun(int t, bool protection) {
    std::vector<std::string> calls{"type"};
    if (protection) calls.push_back(Format("off %d", t));
    calls.push_back(Format("erase %d", t));
    for (int i = 0; i < 16; ++i) calls.push_back(Format("write %d %d 0", i, t));
    if (protection) calls.push_back(Format("on %d", t));
    for (int i = 0; i < 16; ++i) calls.push_back(Format("read %d %d", i, t));
    calls.push_back("reset");
    return calls;
}

TEST(QuelmarFlow, SuccessfulRunReportsEveryStepAndWritesTheFile) {
    Bench b;
    // The camera comes back with the new revision.
    Camera::onReset = [&b] { b.usb.devices.back().hardwareId = "USB\\VID_3A7C&PID_B5A4&REV_0013&MI_00"; };
    EXPECT_EQ(b.Run(), tessaw::kExitSuccess);
    EXPECT_EQ(Camera::calls, FullRun(2, true));
    EXPECT_EQ(std::string(Camera::flash.begin(), Camera::flash.end()), b.files.Get(kFirmware));

    std::string log;
    for (const char* l : {"Erase memory ...\r\n", "Erase memory ok\r\n", "Write firmware ...\r\n",
                          "Write firmware ...100%\r\n", "Verify code ...\r\n", "Verify code ...100%\r\n",
                          "Reset camera device ...\r\n", "Current FW version = REV_0013\r\n"})
        log += tessaw::TextModeBytes(tessaw::PlainLine(l));
    EXPECT_NE(b.Log().find("REV_0012\r\r\n" + log), std::string::npos) << b.Log();

    std::string view =
        "----------------: Erase memory ...\r\n----------------: Erase memory ok\r\n"
        "----------------: Write firmware ...\r\n";
    for (int p : kPercents) view += "----------------: " + Percent("Write firmware ...%02d%%\r\n", p);
    view += "----------------: Verify code ...\r\n";
    for (int p : kPercents) view += "----------------: " + Percent("Verify code ...%02d%%\r\n", p);
    view +=
        "----------------: Reset camera device ...\r\n----------------: Current FW version = REV_0013\r\n";
    EXPECT_NE(b.dialog.logView.find(view), std::string::npos) << b.dialog.logView;

    EXPECT_EQ(b.dialog.range, 131072u);
    std::vector<uint32_t> positions;
    for (uint32_t p = 4096; p <= 65536; p += 4096) positions.push_back(p);
    positions.push_back(65536);
    for (uint32_t p = 69632; p <= 131072; p += 4096) positions.push_back(p);
    positions.push_back(131072);
    ASSERT_GE(b.dialog.positions.size(), positions.size());
    EXPECT_EQ(
        std::vector<uint32_t>(b.dialog.positions.begin(), b.dialog.positions.begin() + positions.size()),
        positions);

    EXPECT_EQ(b.FlowTrace(), Strings({"SetWriteProtect disable successful\r\n", "Erase memory ...\r\n",
                                      "Erase memory ok\r\n", "Write firmware ...\r\n",
                                      "SetWriteProtect enable successful\r\n", "Verify code ...\r\n",
                                      "Reset camera device ...\r\n", "Reset = 0\n"}));
    EXPECT_FALSE(b.files.Has(tessaw::kReadBackFile));
}

struct TypeCase {
    unsigned char code;
    int table;  // -1: refused
    bool protection;
};

TEST(QuelmarFlow, FlashTypeChoosesTheCommandTable) {
    for (TypeCase c :
         {TypeCase{0x79, 0, true}, TypeCase{0x7A, 1, true}, TypeCase{0x7B, 2, true}, TypeCase{0x7D, 2, true},
          TypeCase{0x7E, 5, true}, TypeCase{0x7F, 3, true}, TypeCase{0x80, 4, true}, TypeCase{0x81, 6, true},
          TypeCase{0x82, 6, true}, TypeCase{0x83, 0, false}, TypeCase{0x7C, 2, true}, TypeCase{0x84, 0, true},
          TypeCase{0x88, 0, true}, TypeCase{0x89, 3, true}, TypeCase{0x78, -1, false},
          TypeCase{0x8A, -1, false}, TypeCase{0xFF, -1, false}, TypeCase{0x06, -1, false},
          TypeCase{0x00, -1, false}}) {
        SCOPED_TRACE(Format("code 0x%02X", c.code));
        Bench b;
        Camera::code = c.code;
        int exit = b.Run();
        if (c.table < 0) {
            // An unknown part is never touched.
            EXPECT_EQ(exit, tessaw::kExitUnsuccessful);
            EXPECT_EQ(Camera::calls, Strings({"type"}));
            std::string message = Format("Unknown flash type 0x%02X!\r\n", c.code);
            EXPECT_EQ(b.FlowTrace(), std::vector<std::string>{message});
            EXPECT_NE(b.Log().find(tessaw::TextModeBytes(tessaw::PlainLine(message))), std::string::npos);
            EXPECT_NE(b.dialog.logView.find("----------------: " + message), std::string::npos);
            EXPECT_FALSE(tessaw::QuelmarCommandTable(c.code).has_value());
        } else {
            EXPECT_EQ(exit, tessaw::kExitSuccess);
            EXPECT_EQ(Camera::calls, FullRun(c.table, c.protection));
            EXPECT_EQ(b.Traced("SetWriteProtect disable successful\r\n"), c.protection);
            EXPECT_EQ(b.Traced("SetWriteProtect enable successful\r\n"), c.protection);
        }
    }
}

struct FailureCase {
    const char* call;  // the call that fails; the run must stop right after it
    int result;
    const char* message;
};

TEST(QuelmarFlow, EachFailingStepStopsTheRunWithItsMessage) {
    for (FailureCase c : {FailureCase{"off 2", 1, "SetWriteProtect disable failed!\r\n"},
                          FailureCase{"erase 2", -1, "Erase memory failed!\r\n"},
                          FailureCase{"write 0 2 0", 1, "Write firmware failed!\r\n"},
                          FailureCase{"write 15 2 0", 7, "Write firmware failed!\r\n"},
                          FailureCase{"on 2", 1, "SetWriteProtect enable failed!\r\n"},
                          FailureCase{"read 7 2", 1, "Verify code failed!\r\n"},
                          FailureCase{"reset", 1, "Reset camera device failed!\r\n"},
                          FailureCase{"reset", -1, "Reset camera device failed!\r\n"}}) {
        SCOPED_TRACE(c.call);
        Bench b;
        Camera::results[c.call] = c.result;
        EXPECT_EQ(b.Run(), tessaw::kExitUnsuccessful);
        EXPECT_FALSE(b.session->Success());
        std::vector<std::string> expected = FullRun(2, true);
        expected.erase(std::find(expected.begin(), expected.end(), c.call) + 1, expected.end());
        EXPECT_EQ(Camera::calls, expected);

        std::vector<std::string> trace = b.FlowTrace();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(trace.back(), c.message);
        const std::string logLine = tessaw::TextModeBytes(tessaw::PlainLine(c.message));
        EXPECT_NE(
            b.Log().find(logLine + tessaw::TextModeBytes(tessaw::PlainLine(tessaw::kUpdateUnsuccessful))),
            std::string::npos)
            << b.Log();
        EXPECT_NE(b.dialog.logView.find("----------------: " + std::string(c.message) +
                                        "----------------: Update unsuccessful\r\n"),
                  std::string::npos);
        if (std::string(c.call) == "reset")
            EXPECT_TRUE(b.Traced(Format("Reset = %x\n", static_cast<unsigned>(c.result))));
        else
            EXPECT_FALSE(b.Traced(tessaw::kResetCamera));
        EXPECT_FALSE(b.files.Has(tessaw::kReadBackFile));
    }
}

struct CompareCase {
    const char* name;
    std::vector<uint32_t> corrupt;
    bool earlierFile;
    bool unwritable;
    bool succeeds;
};

// A 40,000-byte file: the whole image is written and read back, but only the file's bytes count.
TEST(QuelmarFlow, ShortFileIsComparedOverItsOwnBytesOnly) {
    for (const CompareCase& c : {CompareCase{"beyond the file", {40000, 65535}, false, false, true},
                                 CompareCase{"last byte of the file", {39999}, false, false, false},
                                 CompareCase{"first byte, earlier dump", {0}, true, false, false},
                                 CompareCase{"dump cannot be written", {12345}, false, true, false}}) {
        SCOPED_TRACE(c.name);
        Bench b;
        std::string file = b.files.Get(kFirmware).substr(0, 40000);
        b.files.Put(kFirmware, file);
        if (c.earlierFile) b.files.Put(tessaw::kReadBackFile, std::string(70000, 'x'));
        if (c.unwritable) b.files.MakeUnopenable(tessaw::kReadBackFile);
        Camera::corrupt = c.corrupt;

        EXPECT_EQ(b.Run(), c.succeeds ? tessaw::kExitSuccess : tessaw::kExitUnsuccessful);
        // All sixteen sectors both ways; a failed comparison stops before the reset.
        std::vector<std::string> expected = FullRun(2, true);
        if (!c.succeeds) expected.pop_back();
        EXPECT_EQ(Camera::calls, expected);
        // Written as loaded: the file, then the erased-flash fill.
        EXPECT_EQ(std::string(Camera::flash.begin(), Camera::flash.begin() + 40000), file);
        EXPECT_TRUE(std::all_of(Camera::flash.begin() + 40000, Camera::flash.end(),
                                [](uint8_t v) { return v == 0xFF; }));

        if (c.succeeds) {
            EXPECT_FALSE(b.files.Has(tessaw::kReadBackFile));
            continue;
        }
        EXPECT_EQ(b.FlowTrace().back(), "Verify code failed!\r\n");
        if (c.unwritable) {
            EXPECT_TRUE(b.Traced("C:\\Read.bin cannot be written\r\n"));
            continue;
        }
        std::string dump = file;
        for (uint32_t at : c.corrupt) dump[at] ^= 0x01;
        EXPECT_EQ(b.files.Get(tessaw::kReadBackFile), dump);
    }
}


// ---------------------------------------------------------------------------------------------
// config.ini's [FW_TOOL] Backup: what the camera held, kept beside the log before the first erase.

// The backup files in `folder`, by name.
std::vector<std::string> Backups(twfakes::Files& files, const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& name : files.Matches((folder + "\\*.bin").c_str()))
        if (name.rfind("Backup_", 0) == 0) names.push_back(name);
    return names;
}

struct BackupCase {
    const char* name;
    const char* keys;          // added to [FW_TOOL]
    const char* failingCall;   // a library call that fails, "" for none
    bool diskFull;             // the backup file cannot be written
    int exitCode;
    const char* folder;        // where the backup lands, "" for none
    int readsBeforeErase;      // Upload_Sector calls before the protection is touched
    const char* logError;      // the error line the log ends with, "" for none
};

class QuelmarBackup : public ::testing::TestWithParam<BackupCase> {};

TEST_P(QuelmarBackup, KeepsWhatTheCameraHeldOrWritesNothing) {
    const BackupCase& c = GetParam();
    Bench b;
    const std::string config = b.files.Get(twfakes::kDir + "\\config.ini");
    std::string withKeys = config;
    withKeys.replace(withKeys.find("LogSwitch=2\r\n"), 13, c.keys);
    b.files.Put(twfakes::kDir + "\\config.ini", withKeys);
    std::vector<uint8_t> held(65536);
    for (size_t i = 0; i < held.size(); ++i) held[i] = static_cast<uint8_t>(i * 13 + i / 4096);
    Camera::flash = held;
    if (*c.failingCall) Camera::results[c.failingCall] = 1;
    if (c.diskFull) b.files.writeFails = [](const std::string& key) { return key.find("backup_") != std::string::npos; };

    EXPECT_EQ(b.Run(), c.exitCode);

    // The protection is touched only after the reads of the backup, and not at all when it failed.
    const auto off = std::find(Camera::calls.begin(), Camera::calls.end(), "off 2");
    EXPECT_EQ(std::count_if(Camera::calls.begin(), off, [](const std::string& s) { return s.rfind("read", 0) == 0; }),
              c.readsBeforeErase);
    const bool written = c.exitCode == tessaw::kExitSuccess;
    EXPECT_EQ(off != Camera::calls.end(), written);
    if (!written) {
        EXPECT_EQ(Camera::flash, held) << "the camera was changed";
    }

    std::vector<std::string> found;
    for (const std::string& folder : {twfakes::kDir, std::string("C:\\Users\\me\\AppData\\Local\\Temp")})
        for (const std::string& name : Backups(b.files, folder)) found.push_back(folder + "\\" + name);
    if (*c.folder) {
        ASSERT_EQ(found.size(), 1u);
        const std::string& path = found[0];
        EXPECT_TRUE(std::regex_match(path, std::regex(std::string(c.folder) +
                                                      R"(\\Backup_VID_3A7C_PID_B5A4_REV_0012_20240506_14\d{4}\.bin)")))
            << path;
        const std::string bytes = b.files.Get(path);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), held) << "not byte for byte what the camera held";
        EXPECT_TRUE(b.Traced(Format(tessaw::kBackupSaved, path.c_str(), 65536u)));
    } else {
        EXPECT_TRUE(found.empty()) << found[0] << ": a backup that failed is left behind";
    }
    if (*c.logError) {
        const std::string log = b.Log();
        EXPECT_NE(log.find("\r\r\n2024/05/06    14:0"), std::string::npos) << log;
        EXPECT_NE(log.find(std::string("----------------: Error: ") + c.logError), std::string::npos) << log;
        EXPECT_TRUE(b.Traced(std::string(c.logError) + "\r\n"));
        EXPECT_TRUE(b.dialog.boxes.empty()) << "a silent run shows no message box";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuelmarBackup,
    ::testing::Values(
        // Without the key nothing is read before the erase and no file is made.
        BackupCase{"key_absent", "LogSwitch=2\r\n", "", false, tessaw::kExitSuccess, "", 0, ""},
        BackupCase{"key_zero", "LogSwitch=2\r\nBackup=0\r\n", "", false, tessaw::kExitSuccess, "", 0, ""},
        BackupCase{"beside_the_log", "LogSwitch=2\r\nBackup=1\r\n", "", false, tessaw::kExitSuccess, "C:\\\\Kit", 16,
                   ""},
        BackupCase{"log_in_temp", "LogSwitch=1\r\nBackup=1\r\n", "", false, tessaw::kExitSuccess,
                   "C:\\\\Users\\\\me\\\\AppData\\\\Local\\\\Temp", 16, ""},
        BackupCase{"no_log", "LogSwitch=0\r\nBackup=1\r\n", "", false, tessaw::kExitSuccess, "C:\\\\Kit", 16, ""},
        BackupCase{"read_fails", "LogSwitch=2\r\nBackup=1\r\n", "read 0 2", false, tessaw::kExitNoBackup, "", 1,
                   "Backup failed: the camera's memory could not be read (0 of 65536 bytes), nothing was written!"},
        // The camera left half-way: a backup of part of the flash is no backup.
        BackupCase{"short_read", "LogSwitch=2\r\nBackup=1\r\n", "read 9 2", false, tessaw::kExitNoBackup, "", 10,
                   "Backup failed: the camera's memory could not be read (36864 of 65536 bytes), nothing was "
                   "written!"},
        BackupCase{"disk_full", "LogSwitch=2\r\nBackup=1\r\n", "", true, tessaw::kExitNoBackup, "", 16,
                   "Backup failed: C:\\Kit\\Backup_VID_3A7C_PID_B5A4_REV_0012_20240506_140300.bin could not be "
                   "written, nothing was written to the camera!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QuelmarFlow, ASecondBackupInTheSameSecondGetsANameOfItsOwn) {
    Bench b;
    std::string config = b.files.Get(twfakes::kDir + "\\config.ini");
    config.replace(config.find("LogSwitch=2\r\n"), 13, "LogSwitch=2\r\nBackup=1\r\n");
    b.files.Put(twfakes::kDir + "\\config.ini", config);
    const std::string earlier = twfakes::kDir + "\\Backup_VID_3A7C_PID_B5A4_REV_0012_20240506_140300.bin";
    b.files.Put(earlier, "older");
    EXPECT_EQ(b.Run(), tessaw::kExitSuccess);
    EXPECT_EQ(b.files.Get(earlier), "older");
    EXPECT_EQ(b.files.Get(twfakes::kDir + "\\Backup_VID_3A7C_PID_B5A4_REV_0012_20240506_140300_2.bin").size(), 65536u);
}

}  // namespace
