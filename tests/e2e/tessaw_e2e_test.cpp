// Tessaw under wine on emulated benches: start-up failures, the combo check, the firmware file and
// the driver check in silent mode (exit code, log file, trace, no message box); interactive
// start-ups driven from outside; and a whole interactive session with plug events, with
// screenshots saved for the docs. SubSystemID.exe runs for real beside it.
//
// Every run has a display: an Xvfb server the test process starts on a free display number. (Wine's
// null display driver would do for the hidden runs, but it only takes effect for a desktop process
// started after it is set, which a prefix shared with other tests cannot promise.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "bench_tool.h"
#include "session.h"
#include "text_util.h"
#include "texts.h"
#include "update_log.h"
#include "wine.h"
#include "xserver.h"

namespace {

namespace fs = e2e::fs;
using Lines = std::vector<std::string>;

const std::string kCaption = "Tessaw e2e";
const std::string kConfig =
    "[FW_TOOL]\r\nVersion=Tessaw e2e\r\nLogSwitch=2\r\n[DriverCompatible]\r\nQuelmar=6.1.7600.16\r\n"
    "[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin\r\nSysID_XXXX_PID_5611_ModID_22=FW_5611_22."
    "rfw\r\n"
    "SysID_XXXX_PID_5612_ModID_23=FW_5612_23.rfw\r\nSysID_17A3_PID_6366_ModID_31=FW_6366_31.bin\r\n";
const std::string kDevVrk =
    "[REALTEK]\r\nPID=5611,5612\r\n[SONIX]\r\nPID=6366\r\n[QUELMAR]\r\nPID=B5A4\r\n[COMBO]\r\nPID=5611+"
    "5612\r\n";

// Bench records: a mouse of another vendor, the kit maker's Quelmar camera, two Realtek functions.
const std::string kMouse = "[mouse]\nvid=046D\npid=C077\nrev=7200\nport=1\n";
const std::string kQuelmar =
    "[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\nrev=0012\nmi=00\nport=3\nfamily=i\nflash=124\ncarrier=ks\n";
const std::string kRgb = "[rgb]\nchip=realtek\nvid=3A7C\npid=5611\nrev=0021\nmi=00\nport=4\n";
const std::string kIr = "[ir]\nchip=realtek\nvid=3A7C\npid=5612\nrev=0021\nmi=00\nport=5\n";
const std::string kRecords = kMouse + kQuelmar + kRgb + kIr;

std::string BenchIni(const std::string& cameras, const std::string& settings = "subsystem_id=17A3\n") {
    return "[bench]\ncameras=" + cameras + "\n" + settings + kRecords;
}

// The driver check's keys for camera 3A7C:B5A4 (CurrentControlSet is not ControlSet001 in wine).
const std::string kDeviceKey = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_3a7c&Pid_b5a4&MI_00";
const std::string kInstanceKey = kDeviceKey + "\\6&1a2b3c4d&0&0000";
const std::string kDriverName = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0077";
const std::string kClassKey = "HKLM\\SYSTEM\\ControlSet001\\Control\\Class\\" + kDriverName;

int RunReg(const std::vector<std::string>& args);
void Reg(const std::vector<std::string>& args) {
    EXPECT_EQ(RunReg(args), 0) << "reg " << args[0] << " " << args[1];
}
void RemoveDriver() {
    // Either may be missing already.
    RunReg({"delete", kDeviceKey, "/f"});
    RunReg({"delete", kClassKey, "/f"});
}
void InstallDriver(const std::string& version) {
    RemoveDriver();
    Reg({"add", kInstanceKey, "/v", "Driver", "/d", kDriverName, "/f"});
    Reg({"add", kClassKey, "/v", "DriverVersion", "/d", version, "/f"});
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<none>";
    return {std::istreambuf_iterator<char>(in), {}};
}

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// stdout of the GUI helper without the CRT's carriage returns.
Lines OutLines(const std::string& out) {
    Lines lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "key=value" lines of the GUI helper.
std::map<std::string, std::string> Fields(const e2e::RunResult& r) {
    std::map<std::string, std::string> fields;
    for (const std::string& line : OutLines(r.out)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

// Log lines as they land on the disk (text mode: "\r\n" becomes "\r\r\n").
std::string Plain(const std::string& text) { return tessaw::TextModeBytes(tessaw::PlainLine(text)); }
std::string Error(const std::string& text) { return tessaw::TextModeBytes(tessaw::ErrorLine(text)); }
const std::string kClosing = tessaw::TextModeBytes(tessaw::kClosingLine);

// The log with its time stamps replaced by <DATE> (failure reports) and <RUN> (the run's stamp).
std::string Undated(const std::string& log) {
    static const std::regex run(
        "\r\r\n(Sun|Mon|Tue|Wed|Thu|Fri|Sat)    [0-9]{4}-[0-9]{2}-[0-9]{2}\r\r\n[0-9]{2}:[0-9]{2}\r\r\n");
    static const std::regex date("\r\r\n[0-9]{4}/[0-9]{2}/[0-9]{2}    [0-9]{2}:[0-9]{2}\r\r\n");
    return std::regex_replace(std::regex_replace(log, run, "<RUN>"), date, "<DATE>");
}

// QuelmarCamera.dll: the kit's own once it is built, else the test double.
fs::path QuelmarLibrary(const std::string& variant = "") {
    fs::path kit = e2e::KitDir() / "kit" / "QuelmarCamera.dll";
    if (variant.empty() && fs::exists(kit)) return kit;
    return e2e::KitDir() / "testbin" / ("quelmar-" + (variant.empty() ? std::string("double") : variant)) /
           "QuelmarCamera.dll";
}

using e2e::Screen;
using e2e::XServer;

int RunReg(const std::vector<std::string>& args) {
    e2e::RunOptions options;
    options.env["DISPLAY"] = Screen().Display();
    return e2e::RunWine("reg", args, options).exitCode;
}

// A program folder as a packager ships it, on a bench with the Quelmar camera and a mouse.
class Folder {
public:
    explicit Folder(const std::string& name)
        : dir_(e2e::FreshWorkDir("tessaw-" + name)), bench_(dir_ / "bench") {
        for (const char* program : {"Tessaw.exe", "SubSystemID.exe"}) Copy(e2e::KitProgram(program), program);
        for (const char* standIn : {"RvcLib.dll", "BurnerApLib.dll"})
            Copy(e2e::KitDir() / "emu" / standIn, standIn);
        Copy(QuelmarLibrary(), "QuelmarCamera.dll");
        Write("config.ini", kConfig);
        Write("dev.vrk", kDevVrk);
        Write("FW_B5A4_01.bin", std::string(65536, 'Q'));
        fs::create_directories(bench_);
        SetBench(BenchIni("mouse,cam0"));
    }

    const fs::path& Dir() const { return dir_; }
    const fs::path& BenchDir() const { return bench_; }
    std::string Path(const std::string& name) const { return e2e::WindowsPath(dir_ / name); }
    void Copy(const fs::path& from, const std::string& name) {
        ASSERT_TRUE(fs::exists(from)) << from << " is missing: build the win64 preset first";
        fs::copy_file(from, dir_ / name, fs::copy_options::overwrite_existing);
    }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    void Remove(const std::string& name) { fs::remove(dir_ / name); }
    // Replaced in one step: a program reading the bench never sees half a file.
    void SetBench(const std::string& ini) {
        std::ofstream(bench_ / "bench.ini.new", std::ios::binary) << ini;
        fs::rename(bench_ / "bench.ini.new", bench_ / "bench.ini");
    }

    e2e::RunOptions Options(const fs::path& cwd = {}, int seconds = 30) const {
        e2e::RunOptions options;
        options.workingDirectory = cwd.empty() ? dir_ : cwd;
        options.env["CAMKIT_BENCH"] = e2e::WindowsPath(bench_);
        options.env["DISPLAY"] = Screen().Display();
        options.timeout = std::chrono::seconds(seconds);
        return options;
    }
    e2e::RunResult Run(const std::vector<std::string>& args = {"-s"}, const fs::path& cwd = {}) const {
        return e2e::RunWine(dir_ / "Tessaw.exe", args, Options(cwd));
    }
    // Runs the GUI helper with the steps.
    e2e::RunResult Drive(const std::vector<std::string>& steps) const {
        e2e::RunOptions options = Options();
        e2e::RunResult r = e2e::RunWine(e2e::TestProgram("tessaw_gui.exe"), steps, options);
        EXPECT_EQ(r.exitCode, 0) << "helper: " << r.out;
        return r;
    }

    std::string Log() const { return Slurp(dir_ / "FW Update Log.log"); }
    std::string Notice() const { return Plain("emulated bench: " + e2e::WindowsPath(bench_) + "\r\n"); }
    std::string TraceNotice() const { return "emulated bench: " + e2e::WindowsPath(bench_) + "\n"; }

private:
    fs::path dir_;
    fs::path bench_;
};

// What every silent failure shows: the exit code, the message on the trace, no message box (a
// box would hold the hidden program until the time limit).
void ExpectSilentFailure(const e2e::RunResult& r, int code, const std::string& message) {
    EXPECT_FALSE(r.timedOut) << "a silent run must never wait for a user";
    EXPECT_EQ(r.exitCode, code) << r.err;
    EXPECT_TRUE(Has(r.trace, message)) << message;
}

class TessawE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Screen().Display().empty()) << "Xvfb did not start (scripts/setup.sh installs it)";
        RemoveDriver();
    }
    static fs::path ScreenshotDir() { return fs::path(KIT_E2E_WORK_DIR) / "screenshots"; }
};

// ---------------------------------------------------------------------------------------------
// Start-up

TEST_F(TessawE2E, StartUpFailuresInSilentMode) {
    struct Case {
        const char* name;
        std::function<void(Folder&)> damage;
        int code;
        const char* message;
        bool logged;   // logging is on only once config.ini has been read
        bool planted;  // run from a folder that holds both DLLs the program loads
    } cases[] = {
        {"no RvcLib.dll (one in the current folder)", [](Folder& f) { f.Remove("RvcLib.dll"); }, 16,
         tessaw::kNoRvcLib, false, true},
        {"no QuelmarCamera.dll (one planted in the current folder)",
         [](Folder& f) { f.Remove("QuelmarCamera.dll"); }, 17, tessaw::kNoQuelmarLib, false, true},
        {"no config.ini", [](Folder& f) { f.Remove("config.ini"); }, 18, tessaw::kNoConfig, false, false},
        {"empty Config section",
         [](Folder& f) { f.Write("config.ini", "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\n"); }, 35,
         tessaw::kReadConfigFailed, true, false},
        {"no dev.vrk", [](Folder& f) { f.Remove("dev.vrk"); }, 34, tessaw::kNoDevVrk, true, false},
        {"no SubSystemID.exe", [](Folder& f) { f.Remove("SubSystemID.exe"); }, 19, tessaw::kNoSubSystemId,
         true, false},
        {"camera in no family list",
         [](Folder& f) {
             f.Write("dev.vrk", "[REALTEK]\r\nPID=5611\r\n[SONIX]\r\nPID=6366\r\n[QUELMAR]\r\nPID=b5a4\r\n");
         },
         20, tessaw::kNoMatchedDevice, true, false},
        {"no camera on the bench", [](Folder& f) { f.SetBench(BenchIni("mouse")); }, 20,
         tessaw::kNoMatchedDevice, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder(std::string("startup-") + std::to_string(c.code) + "-" + std::to_string(&c - cases));
        c.damage(folder);
        fs::path cwd;
        if (c.planted) {
            cwd = e2e::FreshWorkDir("tessaw-planted");
            fs::copy_file(e2e::KitDir() / "emu" / "RvcLib.dll", cwd / "RvcLib.dll");
            fs::copy_file(QuelmarLibrary(), cwd / "QuelmarCamera.dll");
        }
        e2e::RunResult r = folder.Run({"-s"}, cwd);
        ExpectSilentFailure(r, c.code, c.message);
        EXPECT_EQ(Has(r.trace, tessaw::kGetConfigPass), c.code != 16 && c.code != 17 && c.code != 18);
        if (c.logged)
            EXPECT_EQ(Undated(folder.Log()), folder.Notice() + "<DATE>" + Error(c.message) + kClosing);
        else
            EXPECT_EQ(folder.Log(), "<none>") << "nothing reaches the disk before config.ini is read";
        EXPECT_FALSE(fs::exists(folder.Dir() / "ID_Log.ini"));
    }
}

TEST_F(TessawE2E, WithoutABenchTheMachineItselfIsAsked) {
    Folder folder("machine");
    // Wine has no PCI host bridge: the ID a real SubSystemID.exe would leave is there already.
    folder.Write("ID_Log.ini", "[SUBSYSTEM]\r\nSYSID=17A3\r\n");
    e2e::RunOptions options = folder.Options();
    options.env["CAMKIT_BENCH"] = "";
    e2e::RunResult r = e2e::RunWine(folder.Dir() / "Tessaw.exe", {"-s"}, options);
    // SetupAPI lists no USB device under wine.
    ExpectSilentFailure(r, 20, tessaw::kNoMatchedDevice);
    EXPECT_FALSE(Has(r.trace, folder.TraceNotice()));
    EXPECT_TRUE(Has(r.trace, "SubSystemID: no PCI host bridge with a subsystem ID\n"));
    EXPECT_EQ(Undated(folder.Log()), "<DATE>" + Error(tessaw::kNoMatchedDevice) + kClosing);
}

TEST_F(TessawE2E, SubSystemIdThatCannotStartIsTracedAndAnExistingIdLogIsUsed) {
    Folder folder("subsystem-broken");
    folder.Write("SubSystemID.exe", "not a program");
    folder.Write("ID_Log.ini", "[SUBSYSTEM]\r\nSYSID=2b3a\r\n");
    // Only the entry for this computer fits the camera: identification shows which ID was read.
    folder.Write("config.ini",
                 "[FW_TOOL]\r\nLogSwitch=0\r\n[Config]\r\nSysID_17A3_PID_B5A4_ModID_01=a.bin\r\n"
                 "SysID_2B3A_PID_B5A4_ModID_07=FW_B5A4_01.bin\r\n");
    e2e::RunResult r = folder.Run();
    EXPECT_TRUE(Has(r.trace, tessaw::kGetSystemIdFailed));
    EXPECT_TRUE(Has(r.trace, "#1: PID:B5A4 ModID:07 REV:0012\r\n"));
    EXPECT_FALSE(fs::exists(folder.Dir() / "ID_Log.ini")) << "read once, then deleted";
    // The run goes on to the driver check, which finds no driver keys.
    ExpectSilentFailure(r, 24, "Check device driver failed! ::0\r\n");
    EXPECT_EQ(folder.Log(), "<none>") << "LogSwitch=0";
}

TEST_F(TessawE2E, SubSystemIdReportsWhatTheBenchSays) {
    struct Case {
        const char* setting;
        int code;
        const char* file;  // nullptr: no ID_Log.ini
    } cases[] = {{"subsystem_id=2b3a\n", 0, "[SUBSYSTEM]\r\nSYSID=2B3A\r\nSOURCE=emulated bench: "},
                 {"", 0, "[SUBSYSTEM]\r\nSYSID=0000\r\nSOURCE=emulated bench: "},
                 {"subsystem_id=none\n", 1, nullptr},
                 {"subsystem_id=17A\n", 1, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        Folder folder("subsystem-bench");
        folder.SetBench(BenchIni("cam0", c.setting));
        e2e::RunResult r = e2e::RunWine(folder.Dir() / "SubSystemID.exe", {}, folder.Options());
        EXPECT_EQ(r.exitCode, c.code);
        EXPECT_TRUE(Has(r.trace, folder.TraceNotice()));
        std::string benchPath = e2e::WindowsPath(folder.Dir() / "bench");
        EXPECT_EQ(Slurp(folder.Dir() / "ID_Log.ini"), c.file ? c.file + benchPath + "\r\n" : "<none>");
    }
    // Without a bench it asks the machine; wine has no PCI host bridge.
    Folder folder("subsystem-machine");
    e2e::RunOptions options = folder.Options();
    options.env["CAMKIT_BENCH"] = "";
    e2e::RunResult r = e2e::RunWine(folder.Dir() / "SubSystemID.exe", {}, options);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.trace, "SubSystemID: no PCI host bridge with a subsystem ID\n"));
    EXPECT_EQ(Slurp(folder.Dir() / "ID_Log.ini"), "<none>");
}

// ---------------------------------------------------------------------------------------------
// FLASH in silent mode: the combo check, the firmware file, the driver check

TEST_F(TessawE2E, ComboCheckFailsWithCode37) {
    struct Case {
        const char* name;
        const char* cameras;
        const char* combo;
    } cases[] = {{"two Realtek functions that form no listed pair", "rgb,ir", "5611+5613"},
                 {"only one member of the pair attached", "mouse,rgb", "5611+5612"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder("combo");
        folder.SetBench(BenchIni(c.cameras));
        folder.Write(
            "dev.vrk",
            std::string("[REALTEK]\r\nPID=5611,5612\r\n[SONIX]\r\nPID=6366\r\n[QUELMAR]\r\nPID=B5A4\r\n"
                        "[COMBO]\r\nPID=") +
                c.combo + "\r\n");
        e2e::RunResult r = folder.Run();
        ExpectSilentFailure(r, 37, tessaw::kComboError);
        EXPECT_TRUE(Has(r.trace, "Camera device found => PID:0x5611 REV:0021\r\n"));
        EXPECT_EQ(Undated(folder.Log()), folder.Notice() + "<DATE>" + Error(tessaw::kComboError) + kClosing);
    }
}

TEST_F(TessawE2E, FirmwareFileFailures) {
    struct Case {
        const char* name;
        std::function<void(Folder&)> arrange;
        int code;
        std::string message;  // "%s": the firmware path
    } cases[] = {
        {"the entry's file is missing; another .bin is not used",
         [](Folder& f) {
             f.Remove("FW_B5A4_01.bin");
             f.Write("other.bin", "x");
         },
         32, tessaw::kFwMissing},
        {"no file named and no .bin in the folder",
         [](Folder& f) {
             f.Write("config.ini",
                     "[FW_TOOL]\r\nLogSwitch=2\r\n[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=\r\n");
             f.Remove("FW_B5A4_01.bin");
             f.Write("FW_B5A4_01.rfw", "x");
         },
         25, tessaw::kNoFwFile},
        {"the named file is a folder: there, but cannot be opened",
         [](Folder& f) {
             f.Remove("FW_B5A4_01.bin");
             fs::create_directory(f.Dir() / "FW_B5A4_01.bin");
         },
         33, tessaw::kFwOpenFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder("firmware-" + std::to_string(c.code));
        c.arrange(folder);
        InstallDriver("6.1.7601.1");  // the file step comes first: the driver is never asked
        e2e::RunResult r = folder.Run();
        std::string message = c.message;
        if (size_t at = message.find("%s"); at != std::string::npos)
            message.replace(at, 2, folder.Path("FW_B5A4_01.bin"));
        ExpectSilentFailure(r, c.code, message);
        EXPECT_EQ(Undated(folder.Log()), folder.Notice() + "<RUN>" + Plain("VID=3A7C, PID=B5A4\r\n") +
                                             Plain("Current FW version = REV_0012\r\n") + Error(message) +
                                             kClosing);
        EXPECT_FALSE(Has(r.trace, tessaw::kQuelmarUpdate));
    }
}

TEST_F(TessawE2E, DriverCheckThroughTheRegistry) {
    const std::string head =
        "<RUN>" + Plain("VID=3A7C, PID=B5A4\r\n") + Plain("Current FW version = REV_0012\r\n");
    struct Case {
        const char* name;
        std::function<void()> registry;
        const char* argument;
        int code;
        std::string message;
    } cases[] = {
        {"older than the minimum", [] { InstallDriver("6.1.7600.15"); }, "-s", 23, tessaw::kDriverTooOld},
        {"never installed; -S is silent too", [] {}, "-S", 24, "Check device driver failed! ::0\r\n"},
        {"device key without an instance",
         [] {
             Reg({"add", kDeviceKey, "/f"});
         },
         "-s", 24, "Check device driver failed! ::1\r\n"},
        {"instance without a Driver value",
         [] {
             Reg({"add", kInstanceKey, "/v", "Service", "/d", "usbvideo", "/f"});
         },
         "-s", 24, "Check device driver failed! ::3\r\n"},
        {"Driver names a class key that is missing",
         [] {
             Reg({"add", kInstanceKey, "/v", "Driver", "/d", kDriverName, "/f"});
         },
         "-s", 24, "Check device driver failed! ::5\r\n"},
        {"class key without DriverVersion",
         [] {
             Reg({"add", kInstanceKey, "/v", "Driver", "/d", kDriverName, "/f"});
             Reg({"add", kClassKey, "/v", "ProviderName", "/d", "Korvath", "/f"});
         },
         "-s", 24, "Check device driver failed! ::6\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveDriver();
        c.registry();
        Folder folder("driver-" + std::to_string(&c - cases));
        e2e::RunResult r = folder.Run({c.argument});
        ExpectSilentFailure(r, c.code, c.message);
        EXPECT_EQ(Undated(folder.Log()), folder.Notice() + head + "<DATE>" + Error(c.message) + kClosing)
            << "error form, and no outcome lines after a silent failure";
    }
}

TEST_F(TessawE2E, AcceptedDriverReachesTheLibraryAndAnIncompleteOneIsRefused) {
    InstallDriver("6.1.7601.1");  // the third part decides against 6.1.7600.16
    struct Case {
        const char* variant;
        const char* evidence;
    } cases[] = {{"double", "QuelmarCamera test double: QuelmarCam_Init refused\n"},
                 {"partial", "QuelmarCamera.dll has no entry point ResetCamera\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant);
        Folder folder(std::string("accepted-") + c.variant);
        folder.Copy(QuelmarLibrary(c.variant), "QuelmarCamera.dll");
        e2e::RunResult r = folder.Run();
        ExpectSilentFailure(r, 22, tessaw::kCameraInitFailed);
        EXPECT_TRUE(Has(r.trace, c.evidence));
        // Plain form: no date line.
        EXPECT_EQ(Undated(folder.Log()), folder.Notice() + "<RUN>" + Plain("VID=3A7C, PID=B5A4\r\n") +
                                             Plain("Current FW version = REV_0012\r\n") +
                                             Plain(tessaw::kCameraInitFailed) + kClosing);
    }
}

TEST_F(TessawE2E, TessacRunsTessawSilentlyOnTheSameBench) {
    Folder folder("tessac");
    folder.Copy(e2e::KitProgram("Tessac.exe"), "Tessac.exe");
    folder.SetBench(BenchIni("mouse"));
    e2e::RunResult r = e2e::RunWine(folder.Dir() / "Tessac.exe", {"-s"}, folder.Options());
    EXPECT_EQ(r.exitCode, 20);
    EXPECT_NE(r.out.find("Error(14), please refer to log."), std::string::npos) << r.out;
    EXPECT_EQ(Undated(folder.Log()), folder.Notice() + "<DATE>" + Error(tessaw::kNoMatchedDevice) + kClosing);
}

// About 31 seconds: SubSystemID.exe finds nothing and the wait for ID_Log.ini runs out.
TEST_F(TessawE2E, SlowNoSubsystemIdEndsTheWaitAfterThirtySeconds) {
    Folder folder("no-system-id");
    folder.SetBench(BenchIni("mouse,cam0", "subsystem_id=none\n"));
    e2e::RunOptions options = folder.Options({}, 60);
    e2e::RunResult r = e2e::RunWine(folder.Dir() / "Tessaw.exe", {"-s"}, options);
    ExpectSilentFailure(r, tessaw::kExitNoSystemId, tessaw::kNoSystemId);
    EXPECT_GE(r.seconds, 30.0);
    EXPECT_LT(r.seconds, 45.0);
    EXPECT_EQ(Undated(folder.Log()), folder.Notice() + "<DATE>" + Error(tessaw::kNoSystemId) + kClosing);
}

// ---------------------------------------------------------------------------------------------
// Interactive start-ups, driven from outside (headless)

TEST_F(TessawE2E, InteractiveStartUpFailureShowsItsMessageBox) {
    struct Case {
        const char* name;
        const char* remove;
        int code;
        const char* box;
    } cases[] = {
        {"library missing: error icon", "QuelmarCamera.dll", 17,
         "box=Tessaw|Can not find QuelmarCamera.dll file!\\r\\n|icon=yes"},
        {"file missing: no icon", "dev.vrk", 34, "box=Tessaw|Can not find dev.vrk file!\\r\\n|icon=no"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder(std::string("interactive-") + std::to_string(c.code));
        folder.Remove(c.remove);
        e2e::RunResult r =
            folder.Drive({"launch", folder.Path("Tessaw.exe"), "", "box", "box-ok", "wait-exit"});
        Lines lines = OutLines(r.out);
        EXPECT_TRUE(Has(lines, c.box)) << r.out;
        EXPECT_TRUE(Has(lines, "exitcode=" + std::to_string(c.code))) << r.out;
    }
}

TEST_F(TessawE2E, DashSWithATrailingBlankIsInteractiveAndExitWithoutFlashEndsWithZero) {
    Folder folder("interactive-exit");
    // Exactly "-s " after the program name, as a shortcut might hold it.
    e2e::RunResult r =
        folder.Drive({"launch", folder.Path("Tessaw.exe"), "-s ", "find", kCaption, "fields", "syscommand",
                      "19", "box", "box-ok", "no-box", "click", "1005", "wait-exit"});
    std::map<std::string, std::string> f = Fields(r);
    EXPECT_EQ(f["visible"], "1");
    EXPECT_EQ(f["system"], "17A3");
    EXPECT_EQ(f["module"], "01");
    EXPECT_EQ(f["status"], "");
    EXPECT_EQ(f["flash"], "enabled");
    EXPECT_EQ(f["exit"], "enabled");
    EXPECT_EQ(f["autoscroll"], "1");
    // System command 0x13 masked with 0xFFF0 is the about entry's 0x10.
    EXPECT_EQ(f["box"], "About Update|Update Version 1.0.8.1|icon=yes");
    EXPECT_TRUE(Has(OutLines(r.out), "no box")) << "the about box closed";
    EXPECT_EQ(f["exitcode"], "0");
    EXPECT_EQ(folder.Log(), folder.Notice() + kClosing) << "a run without FLASH logs nothing of its own";
}

// ---------------------------------------------------------------------------------------------
// The dialog on the screen: plug events from the bench, screenshots

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};
Rect ParseRect(const std::string& text) {
    Rect r;
    std::sscanf(text.c_str(), "%d,%d,%d,%d", &r.x, &r.y, &r.width, &r.height);
    return r;
}
Rect Union(const Rect& a, const Rect& b) {
    int right = std::max(a.x + a.width, b.x + b.width), bottom = std::max(a.y + a.height, b.y + b.height);
    Rect u{std::min(a.x, b.x), std::min(a.y, b.y), 0, 0};
    u.width = right - u.x;
    u.height = bottom - u.y;
    return u;
}

TEST_F(TessawE2E, InteractiveSessionWithPlugEventsAndATooOldDriver) {
    const XServer& x = Screen();
    Folder folder("gui");
    InstallDriver("6.1.7600.15");

    std::future<e2e::RunResult> tessaw = std::async(std::launch::async, [&] {
        return e2e::RunWine(folder.Dir() / "Tessaw.exe", {}, folder.Options({}, 120));
    });
    auto drive = [&](std::vector<std::string> steps) {
        steps.insert(steps.begin(), {"find", kCaption});
        return folder.Drive(steps);
    };

    // Ready: the IDs the start-up found.
    e2e::RunResult ready = drive({"fields", "rect"});
    std::map<std::string, std::string> f = Fields(ready);
    EXPECT_EQ(f["caption"], kCaption);
    EXPECT_EQ(f["system"], "17A3");
    EXPECT_EQ(f["module"], "01");
    EXPECT_EQ(f["flash"], "enabled");
    const Rect dialog = ParseRect(f["rect"]);
    EXPECT_TRUE(
        x.Screenshot(ScreenshotDir() / "tessaw-ready.png", dialog.x, dialog.y, dialog.width, dialog.height));

    // Unplugged before FLASH: the module is gone and FLASH with it; plugged back: both return.
    folder.SetBench(BenchIni("mouse"));
    f = Fields(drive({"wait-enabled", "1004", "0", "wait-text", "1007", "", "fields"}));
    EXPECT_EQ(f["module"], "");
    EXPECT_EQ(f["status"], "");
    folder.SetBench(BenchIni("mouse,cam0"));
    f = Fields(drive({"wait-enabled", "1004", "1", "wait-text", "1007", "01", "fields"}));
    EXPECT_EQ(f["flash"], "enabled");

    // FLASH: the driver is too old; the worker's message box holds the run.
    e2e::RunResult flashing = drive({"click", "1004", "box", "fields"});
    f = Fields(flashing);
    EXPECT_EQ(f["box"], "Tessaw|Device driver is too old, please upgrade it!\\r\\n|icon=no");
    EXPECT_EQ(f["result"], "Now updating ...");
    EXPECT_EQ(f["status"], "Current FW version = REV_0012\\r\\n");
    EXPECT_EQ(f["flash"], "disabled");
    EXPECT_EQ(f["exit"], "disabled");
    const Rect shown = Union(dialog, ParseRect(f["boxrect"]));
    EXPECT_TRUE(x.Screenshot(ScreenshotDir() / "tessaw-driver-too-old.png", shown.x, shown.y, shown.width,
                             shown.height));

    // While the run is held: an unplugged camera and Esc change nothing.
    folder.SetBench(BenchIni("mouse"));
    f = Fields(drive({"sleep", "1500", "key", "27", "sleep", "300", "fields"}));
    EXPECT_EQ(f["module"], "01");
    EXPECT_EQ(f["flash"], "disabled");
    EXPECT_EQ(f["result"], "Now updating ...");

    // Dismissed: the run ends unsuccessful after the settling pause.
    f = Fields(drive({"box-ok", "wait-text", "1009", "Update unsuccessful", "fields"}));
    EXPECT_EQ(f["status"], "Update unsuccessful\\r\\n");
    EXPECT_EQ(f["exit"], "enabled");
    EXPECT_EQ(f["flash"], "disabled");
    EXPECT_EQ(f["progress"], "0");
    EXPECT_NE(f["view"].find("Please reboot computer and try it again"), std::string::npos) << f["view"];
    EXPECT_TRUE(x.Screenshot(ScreenshotDir() / "tessaw-unsuccessful.png", dialog.x, dialog.y, dialog.width,
                             dialog.height));

    // After the run an arrival enables FLASH again; Esc then closes the dialog.
    folder.SetBench(BenchIni("mouse,cam0"));
    drive({"wait-enabled", "1004", "1", "key", "27", "wait-gone"});

    ASSERT_EQ(tessaw.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    e2e::RunResult r = tessaw.get();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << "interactive driver failure ends unsuccessful";
    EXPECT_EQ(std::count(r.trace.begin(), r.trace.end(), std::string(tessaw::kRemoval)), 1);
    EXPECT_EQ(std::count(r.trace.begin(), r.trace.end(), std::string(tessaw::kArrival)), 2);
    EXPECT_EQ(std::count_if(r.trace.begin(), r.trace.end(),
                            [](const std::string& l) { return l.rfind("DeviceChange(8004,", 0) == 0; }),
              1)
        << "the unplug during the run is only traced";
    EXPECT_FALSE(Has(r.trace, tessaw::kCloseRefused))
        << "Esc during the run was swallowed before the dialog saw it";
    EXPECT_EQ(Undated(folder.Log()), folder.Notice() + "<RUN>" + Plain("VID=3A7C, PID=B5A4\r\n") +
                                         Plain("Current FW version = REV_0012\r\n") + "<DATE>" +
                                         Error(tessaw::kDriverTooOld) + Plain(tessaw::kUpdateUnsuccessful) +
                                         kClosing);
}

// ---------------------------------------------------------------------------------------------
// Realtek cameras through the RvcLib.dll stand-in

const std::string kRealtekConfig =
    "[FW_TOOL]\r\nVersion=Tessaw e2e\r\nLogSwitch=2\r\n[Config]\r\n"
    "SysID_XXXX_PID_5610_ModID_21=FW_5610_21.rfw\r\nSysID_XXXX_PID_5611_ModID_22=FW_5611_22.rfw\r\n"
    "SysID_XXXX_PID_5612_ModID_23=FW_5612_23.rfw\r\n";
const std::string kRealtekDevVrk =
    "[REALTEK]\r\nPID=5610,5611,5612\r\n[SONIX]\r\nPID=6366\r\n[QUELMAR]\r\nPID=B5A4\r\n"
    "[COMBO]\r\nPID=5611+5612\r\n";

struct RealtekCamera {
    std::string name;  // its section in the bench
    uint16_t pid;
    std::string module;
};

// A line after a section's header of bench.ini.
void AddBenchKey(const fs::path& bench, const std::string& section, const std::string& line) {
    std::string ini = Slurp(bench / "bench.ini");
    const size_t at = ini.find("[" + section + "]\n");
    ASSERT_NE(at, std::string::npos) << section;
    ini.insert(ini.find('\n', at) + 1, line + "\n");
    std::ofstream(bench / "bench.ini", std::ios::binary) << ini;
}

// The folder's bench made from a template; each camera gets a firmware file: its factory image
// up to and with the identity block, which names release 0022, so the EEPROM's tail stays padding.
std::map<std::string, std::string> RealtekBench(Folder& folder, const std::string& templ,
                                                const std::vector<RealtekCamera>& cameras) {
    fs::remove_all(folder.BenchDir());
    std::string out, err;
    EXPECT_EQ(benchtool::Main({"create", templ, folder.BenchDir().string()}, out, err), 0) << err;
    AddBenchKey(folder.BenchDir(), "bench", "summary=counters.txt");
    folder.Write("config.ini", kRealtekConfig);
    folder.Write("dev.vrk", kRealtekDevVrk);
    std::map<std::string, std::string> images;
    for (const RealtekCamera& c : cameras) {
        std::string image = Slurp(folder.BenchDir() / (c.name + ".eeprom")).substr(0, 0xF006);
        EXPECT_EQ(image.size(), 0xF006u);
        const unsigned char block[] = {0x7C, 0x3A, static_cast<unsigned char>(c.pid),
                                       static_cast<unsigned char>(c.pid >> 8), 0x22, 0x00};
        image.replace(0xF000, 6, reinterpret_cast<const char*>(block), 6);
        folder.Write(tessaw::Format("FW_%04X_%s.rfw", c.pid, c.module.c_str()), image);
        images[c.name] = image;
    }
    return images;
}

// The log with the stamped lines' seconds replaced by <S>.
std::string Unstamped(const std::string& log) {
    static const std::regex stamp(" *[0-9]+\\.[0-9]{3}\t");
    return std::regex_replace(Undated(log), stamp, "<S>");
}

// What a successful silent run on these cameras leaves in the log, 4 KiB progress steps.
std::string RealtekSuccessLog(const Folder& folder, const std::vector<RealtekCamera>& cameras) {
    auto stamped = [](const std::string& text) { return "<S>" + Plain(text); };
    std::string log = folder.Notice() + "<RUN>" + stamped(tessaw::Format("Find %zu camera device\r\n", cameras.size()));
    for (size_t i = 0; i < cameras.size(); ++i) {
        log += stamped("----------------------------------------\r\n") +
               stamped(tessaw::Format("Device #%zu, VID=3a7c, PID=%04x\r\n", i, cameras[i].pid)) +
               stamped("Current FW version = REV_0021\r\n") + stamped("Change to download mode ...\r\n");
        for (int step = 1; step <= 16; ++step)
            log += stamped(tessaw::Format("Download Stage is: %d / 65536\r\n", step * 4096));
        for (int step = 1; step <= 16; ++step)
            log += stamped(tessaw::Format("Verify Stage is: %d / 65536\r\n", step * 4096));
        log += stamped("Current FW version = REV_0022\r\n");
    }
    return log + Plain(tessaw::kUpdateFinished) + Plain(tessaw::kUpdatedSuccessfully) + kClosing;
}

TEST_F(TessawE2E, SilentRealtekUpdatesOfASingleCameraAndACombo) {
    struct Case {
        const char* templ;
        std::vector<RealtekCamera> cameras;
        const char* workerThreadCamera;  // calls back on a thread of the library's own
    } cases[] = {
        {"realtek", {{"cam0", 0x5610, "21"}}, nullptr},
        {"realtek-combo", {{"rgb", 0x5611, "22"}, {"ir", 0x5612, "23"}}, "ir"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templ);
        Folder folder(c.templ);
        std::map<std::string, std::string> images = RealtekBench(folder, c.templ, c.cameras);
        if (c.workerThreadCamera) AddBenchKey(folder.BenchDir(), c.workerThreadCamera, "callback_thread=worker");

        e2e::RunResult r = folder.Run();
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        for (const RealtekCamera& cam : c.cameras)
            EXPECT_EQ(Slurp(folder.BenchDir() / (cam.name + ".eeprom")),
                      images[cam.name] + std::string(65536 - images[cam.name].size(), '\xFF'))
                << cam.name;
        EXPECT_EQ(Unstamped(folder.Log()), RealtekSuccessLog(folder, c.cameras));
        EXPECT_TRUE(Has(r.trace, "EEPROMInfo2(0)=0 => eepromID=3, size=65536\r\n"));
        EXPECT_TRUE(Has(r.trace, "pfnProgressCallBack(131072, 131072)\n"));
        // The stand-in keeps no clock of its own: whatever it leaves is reported with the time.
        const std::string counters = Slurp(folder.BenchDir() / "counters.txt");
        std::printf("[ measure  ] silent %s update: %.2f s wall; bench counters: %s\n", c.templ, r.seconds,
                    counters == "<none>" ? "none written" : counters.c_str());
        RecordProperty(std::string(c.templ) + "_seconds", std::to_string(r.seconds));
    }
}

TEST_F(TessawE2E, TessacReportsASuccessfulRealtekUpdate) {
    Folder folder("tessac-realtek");
    folder.Copy(e2e::KitProgram("Tessac.exe"), "Tessac.exe");
    RealtekBench(folder, "realtek", {{"cam0", 0x5610, "21"}});
    e2e::RunResult r = e2e::RunWine(folder.Dir() / "Tessac.exe", {"-s"}, folder.Options({}, 60));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    // A dot for every second of waiting: the run takes over five.
    static const std::regex out(
        "Korvath Camera firmware update in progress\\.\r\nPlease wait\\.+done\\.\r\n"
        "Update successfully, please reboot\\.\r\n");
    EXPECT_TRUE(std::regex_match(r.out, out)) << r.out;
    EXPECT_NE(folder.Log().find(Plain(tessaw::kUpdatedSuccessfully)), std::string::npos);
}

TEST_F(TessawE2E, InteractiveRealtekUpdateStaysPaintedAndEndsGreen) {
    const XServer& x = Screen();
    Folder folder("gui-realtek");
    RealtekBench(folder, "realtek", {{"cam0", 0x5610, "21"}});
    // 256 reports, each sent to the dialog at once: a flood that leaves the dialog no idle moment.
    // A blank control shows only between two reports, so the more reports, the surer the watch.
    AddBenchKey(folder.BenchDir(), "cam0", "progress_block=512");

    std::future<e2e::RunResult> tessaw = std::async(std::launch::async, [&] {
        return e2e::RunWine(folder.Dir() / "Tessaw.exe", {}, folder.Options({}, 180));
    });
    e2e::RunOptions options = folder.Options({}, 150);
    const fs::path midBmp = folder.Dir() / "mid-update.bmp";
    e2e::RunResult run = e2e::RunWine(e2e::TestProgram("tessaw_gui.exe"),
                                      {"find", kCaption, "rect", "click", "1004", "watch-paint",
                                       e2e::WindowsPath(midBmp), "wait-enabled", "1005", "1", "fields",
                                       "colour", "1009", "008000"},
                                      options);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    std::map<std::string, std::string> f = Fields(run);
    EXPECT_GE(std::atoi(f["samples"].c_str()), 10) << "the run was watched while it reported";
    EXPECT_EQ(f["unpainted"], "0") << "controls seen blank: " << f["blank"] << " in " << f["samples"];
    EXPECT_EQ(f["midshot"], "saved");
    EXPECT_EQ(f["result"], "Update successfully");
    EXPECT_GT(std::atoi(f["colour1009"].c_str()), 0) << "the result is written in green";
    EXPECT_EQ(f["status"], "Updated successfully\\r\\n");
    EXPECT_EQ(f["progress"], "0");
    EXPECT_EQ(f["exit"], "enabled");
    EXPECT_EQ(f["flash"], "disabled");
    EXPECT_NE(f["view"].find("Verify Stage is: 65536 / 65536"), std::string::npos);

    const Rect dialog = ParseRect(f["rect"]);
    EXPECT_TRUE(x.Screenshot(ScreenshotDir() / "tessaw-realtek-success.png", dialog.x, dialog.y, dialog.width,
                             dialog.height));
    const std::string convert = "timeout 30 convert '" + midBmp.string() + "' '" +
                                (ScreenshotDir() / "tessaw-realtek-mid-update.png").string() + "'";
    EXPECT_EQ(std::system(convert.c_str()), 0) << convert;

    folder.Drive({"find", kCaption, "key", "27", "wait-gone"});
    ASSERT_EQ(tessaw.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    e2e::RunResult r = tessaw.get();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
