// Tessaw's flashing flows end to end under wine, on benches made from the bench templates and run
// from a folder as a packager ships the kit (with its example config.ini and dev.vrk):
//  - Sonix, through the BurnerApLib.dll stand-in: a silent update, the same through Tessac, every
//    device step failing once through a bench fault, a camera whose interface cannot be initialised;
//  - Quelmar, through the kit's QuelmarCamera.dll: the percentages in the dialog's view, a flash
//    part whose protection is left alone, a short firmware file, a read-back mismatch.
// The ctest entries run this process under xvfb-run: the hidden dialog needs a display too.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "bench_tool.h"
#include "emu/quelmar/clock.h"
#include "session.h"
#include "tessac.h"
#include "text_util.h"
#include "texts.h"
#include "update_log.h"
#include "wine.h"

namespace {

namespace fs = e2e::fs;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<none>";
    return {std::istreambuf_iterator<char>(in), {}};
}
void Spit(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Log lines as they land on the disk (text mode: "\r\n" becomes "\r\r\n").
std::string Plain(const std::string& text) { return tessaw::TextModeBytes(tessaw::PlainLine(text)); }
std::string Plain(std::initializer_list<std::string> texts) {
    std::string out;
    for (const std::string& t : texts) out += Plain(t);
    return out;
}
const std::string kClosing = tessaw::TextModeBytes(tessaw::kClosingLine);

// The log with the run's time stamp replaced by <RUN>.
std::string Undated(const std::string& log) {
    static const std::regex run(
        "\r\r\n(Sun|Mon|Tue|Wed|Thu|Fri|Sat)    [0-9]{4}-[0-9]{2}-[0-9]{2}\r\r\n[0-9]{2}:[0-9]{2}\r\r\n");
    return std::regex_replace(log, run, "<RUN>");
}

// The prefix of this process, as wine names it.
fs::path Prefix() {
    static fs::path prefix = [] {
        std::string p = e2e::RunWine("cmd", {"/c", "echo %WINEPREFIX%"}, {}).out;
        while (!p.empty() && (p.back() == '\n' || p.back() == '\r')) p.pop_back();
        return fs::path(p);
    }();
    return prefix;
}

// The X display of xvfb-run. The prefix was made without one, and its desktop keeps the display
// driver of the first program that needed one: the wine server is restarted once so that the next
// program makes the desktop anew, on this display.
const std::string& Display() {
    static const std::string display = [] {
        const char* d = std::getenv("DISPLAY");
        if (!d || !*d || !fs::is_directory(Prefix())) return std::string();
        e2e::RunWineServer("-k", Prefix());
        if (e2e::RunWineServer("-p", Prefix()) != 0) return std::string();
        return std::string(d);
    }();
    return display;
}

// Inserts lines right after a section's header line of an INI text.
void AddKeys(std::string& ini, const std::string& section, const std::string& lines) {
    const std::string header = "[" + section + "]\n";
    size_t at = ini.find(header);
    ASSERT_NE(at, std::string::npos) << header;
    ini.insert(at + header.size(), lines);
}

// A program folder with the kit, the vendor-library stand-ins and a firmware file, on a bench of its
// own made from a template.
class Kit {
public:
    Kit(const std::string& name, const std::string& benchTemplate)
        : dir_(e2e::FreshWorkDir("flows-" + name)), bench_(dir_ / "bench") {
        for (const char* file :
             {"Tessaw.exe", "Tessac.exe", "SubSystemID.exe", "QuelmarCamera.dll", "config.ini", "dev.vrk"})
            fs::copy_file(e2e::KitProgram(file), dir_ / file);
        for (const char* standIn : {"RvcLib.dll", "BurnerApLib.dll"})
            fs::copy_file(e2e::KitDir() / "emu" / standIn, dir_ / standIn);
        std::string out, err;
        EXPECT_EQ(benchtool::Main({"create", benchTemplate, bench_.string()}, out, err), 0) << err;
        ini_ = Slurp(bench_ / "bench.ini");
        // Counters of the modelled time, for the Quelmar camera's model.
        AddKeys(ini_, "bench", "summary=counters.txt\n");
    }
    // Bench keys: "[bench]" ones or those of the camera.
    void AddBenchKeys(const std::string& section, const std::string& lines) { AddKeys(ini_, section, lines); }
    void ReplaceBenchKey(const std::string& from, const std::string& to) {
        size_t at = ini_.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        ini_.replace(at, from.size(), to);
    }
    void Firmware(const std::string& name, const std::string& bytes) { Spit(dir_ / name, bytes); }

    e2e::RunResult Run(const std::string& program, const std::vector<std::string>& args,
                       int seconds = 120) const {
        Spit(bench_ / "bench.ini", ini_);
        e2e::RunOptions options;
        options.workingDirectory = dir_;
        options.env["CAMKIT_BENCH"] = e2e::WindowsPath(bench_);
        options.env["DISPLAY"] = Display();
        options.timeout = std::chrono::seconds(seconds);
        return e2e::RunWine(dir_ / program, args, options);
    }
    // Runs the GUI helper with the steps.
    e2e::RunResult Drive(const std::vector<std::string>& steps) const {
        Spit(bench_ / "bench.ini", ini_);
        e2e::RunOptions options;
        options.workingDirectory = dir_;
        options.env["CAMKIT_BENCH"] = e2e::WindowsPath(bench_);
        options.env["DISPLAY"] = Display();
        options.timeout = std::chrono::seconds(120);
        return e2e::RunWine(e2e::TestProgram("tessaw_gui.exe"), steps, options);
    }

    const fs::path& Dir() const { return dir_; }
    std::string Memory(const std::string& file = "cam0.flash") const { return Slurp(bench_ / file); }
    std::string Log() const { return Slurp(dir_ / "FW Update Log.log"); }
    std::string Notice() const { return Plain("emulated bench: " + e2e::WindowsPath(bench_) + "\r\n"); }
    std::map<std::string, uint64_t> Counters() const {
        std::map<std::string, uint64_t> counters;
        EXPECT_TRUE(emu::quelmar::ParseSummary(Slurp(bench_ / "counters.txt"), counters));
        return counters;
    }

private:
    fs::path dir_;
    fs::path bench_;
    std::string ini_;
};

// Writes a firmware identity block (vendor, product, release; little-endian words) into an image.
void PutIdentity(std::string& image, size_t offset, uint16_t vid, uint16_t pid, uint16_t rev) {
    for (uint16_t word : {vid, pid, rev}) {
        image[offset++] = static_cast<char>(word & 0xFF);
        image[offset++] = static_cast<char>(word >> 8);
    }
}

// Bytes no erased flash holds by chance, with a new revision in the identity block.
std::string NewFirmware(size_t length, size_t identityAt, uint16_t pid, uint16_t rev) {
    std::string image(length, '\0');
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<char>(i * 13 + i / 8192 + 5);
    if (identityAt + 6 <= length) PutIdentity(image, identityAt, 0x3A7C, pid, rev);
    return image;
}

void Report(const std::string& what, double value, const char* unit) {
    std::cout << "[ measured ] " << what << ": " << value << " " << unit << std::endl;
    ::testing::Test::RecordProperty(what, std::to_string(value) + " " + unit);
}

// ---------------------------------------------------------------------------------------------
// Sonix: every run takes the five-second settling pause, so they run side by side, once, for every
// case the filter selects; each case then checks its own run.

const std::string kSonixFile = "FW_6366_31.bin";  // what the example config.ini names for 6366
const size_t kSonixIdentity = 0xF000;
const std::string kSonixImage = NewFirmware(65536, kSonixIdentity, 0x6366, 0x0106);

enum class Stage { Untouched, Erasing, Writing, Protecting, Verifying, Resetting };

struct StepFault {
    std::string name;
    std::string fault;  // burnerap_fault1
    const char* message;
    Stage stage;        // what the log holds before the message
    int chunksWritten;  // -1: the flash is as it left the factory
};

const std::vector<StepFault>& StepFaults() {
    static const std::vector<StepFault> faults = [] {
        std::vector<StepFault> f = {
            {"ProtectionOff", "SetWriteProtect:1:0", tessaw::kSonixProtectOffFailed, Stage::Untouched, -1},
            {"Erase", "EraseSF:1:0", tessaw::kEraseFailed, Stage::Erasing, -1}};
        for (int k = 1; k <= 8; ++k)
            f.push_back({"WriteChunk" + std::to_string(k), "ReqToDriver.write:" + std::to_string(k) + ":0",
                         tessaw::kWriteFailed, Stage::Writing, k - 1});
        f.push_back(
            {"ProtectionOn", "SetWriteProtect:2:0", tessaw::kSonixProtectOnFailed, Stage::Protecting, 8});
        // The first read is the one-byte read of the protection byte; chunk k is read k + 1.
        for (int k = 1; k <= 8; ++k)
            f.push_back({"ReadChunk" + std::to_string(k), "ReqToDriver.read:" + std::to_string(k + 1) + ":0",
                         tessaw::kVerifyFailed, Stage::Verifying, 8});
        f.push_back({"Comparison", "ReqToDriver.read:5:corrupt:0x01:100", tessaw::kVerifyFailed,
                     Stage::Verifying, 8});
        f.push_back({"Reset", "ResetDevice:1:0", tessaw::kResetFailed, Stage::Resetting, 8});
        return f;
    }();
    return faults;
}

std::string LinesBefore(Stage stage) {
    std::vector<std::string> lines = {tessaw::kUpdateStart,   tessaw::kEraseMemory, tessaw::kWriteFirmware,
                                      tessaw::kWriteComplete, tessaw::kVerifyCode,  tessaw::kVerifyComplete,
                                      tessaw::kResetCamera};
    size_t n = stage == Stage::Untouched    ? 0
               : stage == Stage::Erasing    ? 2
               : stage == Stage::Writing    ? 3
               : stage == Stage::Protecting ? 4
               : stage == Stage::Verifying  ? 5
                                            : 7;
    std::string out;
    for (size_t i = 0; i < n; ++i) out += Plain(lines[i]);
    return out;
}

struct SonixRun {
    std::unique_ptr<Kit> kit;
    std::string factory;  // the camera's flash before the run
    e2e::RunResult result;
};

// The Sonix runs of the cases this process was asked for, by case name.
class SonixRuns {
public:
    static const SonixRun& Get(const std::string& name) {
        static SonixRuns runs;
        auto it = runs.runs_.find(name);
        if (it == runs.runs_.end()) throw std::runtime_error("no Sonix run " + name);
        return it->second;
    }

private:
    SonixRuns() {
        // What to run: the selected tests of the Sonix suites, by the last part of their names.
        std::set<std::string> wanted;
        const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
        for (int i = 0; i < unit.total_test_suite_count(); ++i) {
            const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
            if (std::string(suite.name()).find("Sonix") == std::string::npos) continue;
            for (int j = 0; j < suite.total_test_count(); ++j) {
                const ::testing::TestInfo& info = *suite.GetTestInfo(j);
                if (!info.should_run()) continue;
                std::string name = info.name();
                wanted.insert(name.substr(name.find('/') == std::string::npos ? 0 : name.find('/') + 1));
            }
        }
        std::vector<std::pair<std::string, std::string>> plan;  // name, fault
        for (const char* plain : {"SilentUpdate", "TessacReportsTheSuccess"}) plan.push_back({plain, ""});
        plan.push_back({"InitFails", "Initialize_DriverInterface:1:0"});
        for (const StepFault& f : StepFaults()) plan.push_back({f.name, f.fault});

        std::vector<std::pair<std::string, std::future<SonixRun>>> pending;
        auto collect = [&] {
            for (auto& [name, run] : pending) runs_.emplace(name, run.get());
            pending.clear();
        };
        // A few at a time: most of each run is the settling pause, but the machine is shared.
        constexpr size_t kSideBySide = 3;
        for (const auto& [name, fault] : plan) {
            if (!wanted.count(name)) continue;
            pending.emplace_back(name, std::async(std::launch::async, [name = name, fault = fault] {
                                     return Start(name, fault);
                                 }));
            if (pending.size() == kSideBySide) collect();
        }
        collect();
    }

    static SonixRun Start(const std::string& name, const std::string& fault) {
        SonixRun run;
        run.kit = std::make_unique<Kit>("sonix-" + name, "sonix");
        if (!fault.empty()) run.kit->AddBenchKeys("bench", "burnerap_fault1=" + fault + "\n");
        run.kit->Firmware(kSonixFile, kSonixImage);
        run.factory = run.kit->Memory();
        bool tessac = name == "TessacReportsTheSuccess";
        run.result = run.kit->Run(tessac ? "Tessac.exe" : "Tessaw.exe", {"-s"});
        return run;
    }

    std::map<std::string, SonixRun> runs_;
};

const std::string kSonixHead =
    "<RUN>" + Plain({"VID=3A7C, PID=6366\r\n", "Current FW version = REV_0105\r\n"});

class SonixUpdateE2E : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(Display().empty()) << "no X display: run under xvfb-run"; }
};

TEST_F(SonixUpdateE2E, SilentUpdate) {
    const SonixRun& run = SonixRuns::Get("SilentUpdate");
    const e2e::RunResult& r = run.result;
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(run.kit->Memory() == kSonixImage) << "the camera's memory holds the image";
    EXPECT_EQ(Undated(run.kit->Log()),
              run.kit->Notice() + kSonixHead +
                  Plain({tessaw::kUpdateStart, tessaw::kEraseMemory, tessaw::kWriteFirmware,
                         tessaw::kWriteComplete, tessaw::kVerifyCode, tessaw::kVerifyComplete,
                         tessaw::kResetCamera, "Current FW version = REV_0106\r\n", tessaw::kUpdateFinished,
                         tessaw::kUpdatedSuccessfully}) +
                  kClosing);
    for (const char* line : {tessaw::kSonixUpdate, "SetWriteProtect disable successful\r\n",
                             "SetWriteProtect enable successful\r\n", "Updated successfully\r\n"})
        EXPECT_TRUE(Has(r.trace, line)) << line;
    Report("wall time of a silent Sonix update (5 s of it the settling pause)", r.seconds, "s");
}

TEST_F(SonixUpdateE2E, TessacReportsTheSuccess) {
    const SonixRun& run = SonixRuns::Get("TessacReportsTheSuccess");
    const e2e::RunResult& r = run.result;
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string head = e2e::CrtText(std::string(tessac::kInProgress) + tessac::kPleaseWait);
    const std::string tail = e2e::CrtText(std::string(tessac::kDone) + tessac::kSucceeded);
    ASSERT_GE(r.out.size(), head.size() + tail.size()) << r.out;
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    const std::string dots = r.out.substr(head.size(), r.out.size() - head.size() - tail.size());
    EXPECT_EQ(dots.find_first_not_of('.'), std::string::npos) << r.out;
    EXPECT_TRUE(run.kit->Memory() == kSonixImage);
    EXPECT_NE(run.kit->Log().find(Plain("Current FW version = REV_0106\r\n")), std::string::npos);
}

TEST_F(SonixUpdateE2E, InitFails) {
    const SonixRun& run = SonixRuns::Get("InitFails");
    const e2e::RunResult& r = run.result;
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, tessaw::kExitSonixInit);
    EXPECT_TRUE(Has(r.trace, tessaw::kCameraInitFailed));
    EXPECT_FALSE(Has(r.trace, tessaw::kSonixUpdate));
    // Plain form, no outcome lines: a silent driver failure ends the run at once.
    EXPECT_EQ(Undated(run.kit->Log()),
              run.kit->Notice() + kSonixHead + Plain(tessaw::kCameraInitFailed) + kClosing);
    EXPECT_TRUE(run.kit->Memory() == run.factory);
}

class SonixStepFailureE2E : public ::testing::TestWithParam<StepFault> {
protected:
    void SetUp() override { ASSERT_FALSE(Display().empty()) << "no X display: run under xvfb-run"; }
};

TEST_P(SonixStepFailureE2E, EndsUnsuccessful) {
    const StepFault& c = GetParam();
    const SonixRun& run = SonixRuns::Get(c.name);
    const e2e::RunResult& r = run.result;
    ASSERT_TRUE(run.kit) << c.name;
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, tessaw::kExitUnsuccessful) << r.err;
    EXPECT_TRUE(Has(r.trace, c.message)) << c.message;
    EXPECT_TRUE(Has(r.trace, tessaw::kUpdateUnsuccessful));
    EXPECT_FALSE(Has(r.trace, tessaw::kUpdatedSuccessfully));
    EXPECT_EQ(Undated(run.kit->Log()), run.kit->Notice() + kSonixHead + LinesBefore(c.stage) +
                                           Plain(c.message) + Plain(tessaw::kUpdateUnsuccessful) + kClosing);

    std::string expected = run.factory;
    if (c.chunksWritten >= 0) {
        expected.assign(65536, '\xFF');
        expected.replace(0, c.chunksWritten * 8192, kSonixImage.substr(0, c.chunksWritten * 8192));
    }
    EXPECT_TRUE(run.kit->Memory() == expected) << "what the failure left in the flash";
}

INSTANTIATE_TEST_SUITE_P(Bench, SonixStepFailureE2E, ::testing::ValuesIn(StepFaults()),
                         [](const ::testing::TestParamInfo<StepFault>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// Quelmar: the kit's QuelmarCamera.dll on a family 'i' camera, whose firmware keeps its identity
// block at 0x678A.

const std::string kQuelmarFile = "FW_B5A4_05.bin";  // what the example config.ini names for B5A4
const size_t kQuelmarIdentity = 0x678A;
const std::vector<std::string> kQuelmarPercents = {"06", "12", "18", "25", "31", "37", "43", "50",
                                                   "56", "62", "68", "75", "81", "87", "93", "100"};
// Upload_Sector reads sector s with the (17 + s)th data read: the erase first reads all sixteen
// sectors back to prove them blank. Byte 39,999 is in sector 9, at 3,135.
const std::string kCorruptLastFileByte = "fault1=corrupt=xu_read:15@26:0x01:3135\n";
const std::string kCorruptFirstByteAfterFile = "fault1=corrupt=xu_read:15@26:0x01:3136\n";

class QuelmarUpdateE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Display().empty()) return;
        // The driver the updater's driver check accepts for B5A4, which also serves the camera when it
        // shows its chip's ROM identity 04FC:2080 (wine keeps the two control sets apart). Even reg
        // runs on the display, lest it make the prefix's desktop without one.
        e2e::RunOptions options;
        options.env["DISPLAY"] = Display();
        const std::string driver = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0077";
        for (const char* set : {"CurrentControlSet", "ControlSet001"}) {
            std::string base = std::string("HKLM\\SYSTEM\\") + set;
            for (std::vector<std::string> args :
                 {std::vector<std::string>{"add",
                                           base + "\\Enum\\USB\\Vid_3a7c&Pid_b5a4&MI_00\\6&1a2b3c4d&0&0000",
                                           "/v", "Driver", "/d", driver, "/f"},
                  {"add", base + "\\Enum\\USB\\Vid_04fc&Pid_2080&MI_00\\6&1a2b3c4d&0&0000", "/v", "Driver",
                   "/d", driver, "/f"},
                  {"add", base + "\\Control\\Class\\" + driver, "/v", "DriverVersion", "/d", "6.1.7601.1",
                   "/f"}})
                EXPECT_EQ(e2e::RunWine("reg", args, options).exitCode, 0) << args[1];
        }
    }
    void SetUp() override { ASSERT_FALSE(Display().empty()) << "no X display: run under xvfb-run"; }

    static fs::path ReadBin() { return Prefix() / "drive_c" / "Read.bin"; }

    // The log of a run that reached the comparison.
    static std::string WrittenAndRead(const Kit& kit) {
        return kit.Notice() + "<RUN>" +
               Plain({"VID=3A7C, PID=B5A4\r\n", "Current FW version = REV_0012\r\n", tessaw::kEraseMemory,
                      tessaw::kEraseDone, tessaw::kWriteFirmware, tessaw::kWriteComplete,
                      tessaw::kVerifyCode});
    }
};

TEST_F(QuelmarUpdateE2E, ViewShowsTheSixteenPercentagesOfBothStages) {
    Kit kit("quelmar-view", "quelmar-i");
    kit.Firmware(kQuelmarFile, NewFirmware(65536, kQuelmarIdentity, 0xB5A4, 0x0013));
    // The status field holds the reset line through the settling pause; each wait has 20 seconds.
    e2e::RunResult r = kit.Drive({"launch", e2e::WindowsPath(kit.Dir() / "Tessaw.exe"), "", "find",
                                  "Korvath Firmware Update Tool", "click", "1004", "wait-text", "1003",
                                  "Reset camera device ...\\r\\n", "wait-text", "1009", "Update successfully",
                                  "wait-enabled", "1005", "1", "fields", "click", "1005", "wait-exit"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    std::string view;
    for (std::istringstream in(r.out); std::getline(in, view);)
        if (view.rfind("view=", 0) == 0) break;
    for (const char* stage : {"Write firmware", "Verify code"}) {
        std::vector<std::string> shown;
        const std::regex percent(std::string(stage) + " \\.\\.\\.([0-9]+)%");
        for (auto it = std::sregex_iterator(view.begin(), view.end(), percent); it != std::sregex_iterator();
             ++it)
            shown.push_back((*it)[1]);
        EXPECT_EQ(shown, kQuelmarPercents) << stage << " in " << view;
    }
    EXPECT_NE(r.out.find("exitcode=0"), std::string::npos) << r.out;
}

TEST_F(QuelmarUpdateE2E, FlashType0x83LeavesProtectionAlone) {
    Kit kit("quelmar-83", "quelmar-i");
    kit.ReplaceBenchKey("flash=124\n", "flash=131\n");  // the part the library reports as 0x83
    const std::string image = NewFirmware(65536, kQuelmarIdentity, 0xB5A4, 0x0013);
    kit.Firmware(kQuelmarFile, image);
    e2e::RunResult r = kit.Run("Tessaw.exe", {"-s"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(Has(r.trace, tessaw::kProtectOffDone));
    EXPECT_FALSE(Has(r.trace, tessaw::kProtectOnDone));
    std::map<std::string, uint64_t> counters = kit.Counters();
    EXPECT_EQ(counters.count("flash.status_write.count"), 0u) << "the status register was never written";
    EXPECT_TRUE(kit.Memory().substr(0, 65536) == image);
    EXPECT_NE(kit.Log().find(Plain("Current FW version = REV_0013\r\n")), std::string::npos);
    Report("wall time of a silent Quelmar update (5 s of it the settling pause)", r.seconds, "s");
    Report("modelled time of the Quelmar camera in that update", counters["time_us"] / 1e6, "s");
}

// A 40,000-byte file: the whole 64 KiB image is written and read back, and only the file's bytes
// are compared, so a read-back that differs just beyond them still succeeds.
TEST_F(QuelmarUpdateE2E, ShortFileIsComparedOverItsOwnBytes) {
    fs::remove(ReadBin());
    Kit kit("quelmar-40000", "quelmar-i");
    kit.AddBenchKeys("cam0", kCorruptFirstByteAfterFile);
    const std::string file = NewFirmware(40000, kQuelmarIdentity, 0xB5A4, 0x0013);
    kit.Firmware(kQuelmarFile, file);
    e2e::RunResult r = kit.Run("Tessaw.exe", {"-s"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string memory = kit.Memory();
    EXPECT_TRUE(memory.substr(0, 40000) == file);
    EXPECT_TRUE(memory.substr(40000, 65536 - 40000) == std::string(65536 - 40000, '\xFF'))
        << "the rest as erased";
    EXPECT_EQ(Undated(kit.Log()),
              WrittenAndRead(kit) +
                  Plain({tessaw::kVerifyComplete, tessaw::kResetCamera, "Current FW version = REV_0013\r\n",
                         tessaw::kUpdateFinished, tessaw::kUpdatedSuccessfully}) +
                  kClosing);
    EXPECT_FALSE(fs::exists(ReadBin()));
}

// config.ini's Backup=1 on a silent run: beside the log (the program folder) lies a file of what the
// camera held before the update, byte for byte, and the camera holds the new firmware.
TEST_F(QuelmarUpdateE2E, SilentUpdateWithBackupKeepsWhatTheCameraHeld) {
    Kit kit("quelmar-backup", "quelmar-i");
    std::string config = Slurp(kit.Dir() / "config.ini");
    const size_t section = config.find("[FW_TOOL]");
    ASSERT_NE(section, std::string::npos);
    config.insert(config.find('\n', section) + 1, "Backup=1\r\n");
    Spit(kit.Dir() / "config.ini", config);
    const std::string image = NewFirmware(65536, kQuelmarIdentity, 0xB5A4, 0x0013);
    kit.Firmware(kQuelmarFile, image);
    const std::string before = kit.Memory().substr(0, 65536);
    ASSERT_EQ(before.size(), 65536u);

    e2e::RunResult r = kit.Run("Tessaw.exe", {"-s"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<fs::path> backups;
    for (const fs::directory_entry& e : fs::directory_iterator(kit.Dir()))
        if (e.path().filename().string().rfind("Backup_", 0) == 0) backups.push_back(e.path());
    ASSERT_EQ(backups.size(), 1u) << kit.Log();
    EXPECT_TRUE(std::regex_match(backups[0].filename().string(),
                                 std::regex(R"(Backup_VID_3A7C_PID_B5A4_REV_0012_[0-9]{8}_[0-9]{6}\.bin)")))
        << backups[0];
    EXPECT_TRUE(Slurp(backups[0]) == before) << "the backup is not what the camera held";
    EXPECT_TRUE(kit.Memory().substr(0, 65536) == image);
    const std::string saved = tessaw::Format(tessaw::kBackupSaved, e2e::WindowsPath(backups[0]).c_str(), 65536u);
    EXPECT_NE(kit.Log().find(Plain(saved)), std::string::npos) << kit.Log();
}

// The notebook's power goes while Tessac -s writes the camera: the run fails, and the camera, back,
// shows its ROM's identity (its flash holds no verified mark). The packager's dev.vrk lists that
// identity, so the next Tessac -s (the script's retry at the next boot) finds the camera and
// finishes the update.
TEST_F(QuelmarUpdateE2E, ACutMidUpdateLeavesAROMCameraThatTheNextRunFinishes) {
    Kit kit("quelmar-cut", "quelmar-i");
    // Request 120 is one of the sector writes on this camera.
    kit.AddBenchKeys("cam0", "boot=mark\nfault1=cut=120:2000\n");
    std::string old = NewFirmware(65536, kQuelmarIdentity, 0xB5A4, 0x0012);
    old[0] = '\x89', old[1] = '\x16';
    Spit(kit.Dir() / "bench" / "cam0.flash", old);
    // A firmware file as it comes for the export path: its header holds the verified mark.
    std::string image = NewFirmware(65536, kQuelmarIdentity, 0xB5A4, 0x0013);
    image[0] = '\x89', image[1] = '\x16';
    kit.Firmware(kQuelmarFile, image);
    std::string vrk = Slurp(kit.Dir() / "dev.vrk");
    const size_t quelmar = vrk.find("[QUELMAR]");
    ASSERT_NE(quelmar, std::string::npos) << vrk;
    vrk.insert(vrk.find('\n', quelmar) + 1, "ROM=04FC:2080\r\n");
    Spit(kit.Dir() / "dev.vrk", vrk);
    // The package of this notebook model: one Quelmar firmware entry, which a camera in ROM mode gets.
    std::string config = Slurp(kit.Dir() / "config.ini");
    std::string kept;
    std::istringstream lines(config);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("SysID_XXXX_PID_B5A", 0) != 0 || line.rfind("SysID_XXXX_PID_B5A4_", 0) == 0) kept += line + "\n";
    Spit(kit.Dir() / "config.ini", kept);

    e2e::RunResult r = kit.Run("Tessac.exe", {"-s"});
    EXPECT_NE(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find("Update successfully"), std::string::npos) << r.out;

    const std::string bench = (kit.Dir() / "bench").string();
    std::string out, err;
    ASSERT_EQ(benchtool::Main({"replug", bench, "cam0"}, out, err), 0) << err;
    out.clear();
    ASSERT_EQ(benchtool::Main({"show", bench}, out, err), 0) << err;
    EXPECT_NE(out.find("ROM mode"), std::string::npos) << out;

    r = kit.Run("Tessac.exe", {"-s"});
    EXPECT_EQ(r.exitCode, 0) << r.out << kit.Log();
    EXPECT_NE(r.out.find("Update successfully, please reboot."), std::string::npos) << r.out;
    out.clear();
    ASSERT_EQ(benchtool::Main({"show", bench}, out, err), 0) << err;
    EXPECT_NE(out.find("flash firmware"), std::string::npos) << out;
    EXPECT_NE(out.find("REV_0013"), std::string::npos) << out;
    EXPECT_TRUE(kit.Memory().substr(0, 65536) == image);
}

TEST_F(QuelmarUpdateE2E, MismatchLeavesWhatWasReadInReadBin) {
    Spit(ReadBin(), std::string(70000, 'x'));  // an earlier dump is replaced, not appended to
    Kit kit("quelmar-mismatch", "quelmar-i");
    kit.AddBenchKeys("cam0", kCorruptLastFileByte);
    const std::string file = NewFirmware(40000, kQuelmarIdentity, 0xB5A4, 0x0013);
    kit.Firmware(kQuelmarFile, file);
    e2e::RunResult r = kit.Run("Tessaw.exe", {"-s"});
    EXPECT_EQ(r.exitCode, tessaw::kExitUnsuccessful) << r.err;
    EXPECT_TRUE(Has(r.trace, tessaw::kVerifyFailed));
    EXPECT_FALSE(Has(r.trace, tessaw::kResetCamera));
    std::string dump = file;
    dump[39999] = static_cast<char>(dump[39999] ^ 0x01);
    const std::string read = Slurp(ReadBin());
    EXPECT_EQ(read.size(), 40000u);
    EXPECT_TRUE(read == dump) << "exactly the bytes read";
    EXPECT_EQ(Undated(kit.Log()),
              WrittenAndRead(kit) + Plain({tessaw::kVerifyFailed, tessaw::kUpdateUnsuccessful}) + kClosing);
    fs::remove(ReadBin());
}


// ---------------------------------------------------------------------------------------------
// The checks of config.ini's [Checks], through Tessac as an install script runs it: each refusal
// ends with its own code and Tessac's line, before anything is written to the camera (its flash
// and the bench's counters show no erase and no write); with the key absent the update runs.

struct CheckCase {
    std::string name;
    std::string checks;      // lines of [Checks]; empty: no section
    std::string benchKeys;   // lines of [bench]
    uint16_t pid, rev;       // the file's identity block
    int exitCode;
    std::string message;     // the refusal's message ("" when none)
    std::string tessacLine;  // what Tessac prints after "done.\n"
};

std::vector<CheckCase> CheckCases() {
    const std::string wrongPid =
        tessaw::Format(tessaw::kRefuseImageOther, 0x3A7C, 0xB5A5, "3A7C", "B5A4");
    return {
        {"PowerLowBattery", "MinBatteryPercent=20\n", "power=battery\nbattery_percent=19\n", 0xB5A4, 0x0013,
         tessaw::kExitPower, "Battery charge is 19%, below the 20% needed: please connect the AC adapter!\r\n",
         tessac::kOnBattery},
        {"PowerAtTheThreshold", "MinBatteryPercent=20\n", "power=battery\nbattery_percent=20\n", 0xB5A4, 0x0013, 0, "",
         tessac::kSucceeded},
        {"PowerOnBatteryAtAll", "RefuseOnBattery=1\n", "power=battery\nbattery_percent=95\n", 0xB5A4, 0x0013,
         tessaw::kExitPower, tessaw::kRefuseOnBattery, tessac::kOnBattery},
        {"PowerKeysAbsent", "", "power=battery\nbattery_percent=4\n", 0xB5A4, 0x0013, 0, "", tessac::kSucceeded},
        {"IdentityWrongProduct", "ImageIdentity=1\n", "", 0xB5A5, 0x0013, tessaw::kExitWrongImage, wrongPid,
         tessaw::Format(tessac::kWrongImage, 0x2B)},
        {"IdentityWrongProductUnchecked", "", "", 0xB5A5, 0x0013, 0, "", tessac::kSucceeded},
        {"VersionUpToDate", "SkipCurrentVersion=1\n", "", 0xB5A4, 0x0012, tessaw::kExitUpToDate,
         "FW is already up to date (REV_0012)\r\n", tessac::kUpToDate},
        {"VersionDowngrade", "SkipCurrentVersion=1\nRefuseDowngrade=1\n", "", 0xB5A4, 0x0011, tessaw::kExitNoDowngrade,
         "FW file REV_0011 is older than the camera's REV_0012: not downgraded\r\n", tessac::kNoDowngrade},
        {"VersionDowngradeAllowed", "SkipCurrentVersion=1\n", "", 0xB5A4, 0x0011, 0, "", tessac::kSucceeded},
    };
}

// One case through Tessac -s, on a bench of its own.
void RunCheckCase(const CheckCase& c) {
    SCOPED_TRACE(c.name);
    Kit kit("checks-" + c.name, "quelmar-i");
    if (!c.benchKeys.empty()) kit.AddBenchKeys("bench", c.benchKeys);
    if (!c.checks.empty()) {
        std::string config = Slurp(kit.Dir() / "config.ini");
        config += "\r\n[Checks]\r\n" + std::regex_replace(c.checks, std::regex("\n"), "\r\n");
        Spit(kit.Dir() / "config.ini", config);
    }
    const std::string image = NewFirmware(65536, kQuelmarIdentity, c.pid, c.rev);
    kit.Firmware(kQuelmarFile, image);
    const std::string factory = kit.Memory();

    e2e::RunResult r = kit.Run("Tessac.exe", {"-s"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    const std::string tail = e2e::CrtText(std::string(tessac::kDone) + c.tessacLine);
    ASSERT_GE(r.out.size(), tail.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    const std::string log = kit.Log();
    if (c.exitCode == 0) {
        EXPECT_TRUE(kit.Memory().substr(0, 65536) == image);
        EXPECT_NE(log.find(Plain(tessaw::kUpdatedSuccessfully)), std::string::npos) << log;
        return;
    }
    // The date line and the error line, then the closing line: no "Update unsuccessful".
    const std::regex refused("\r\r\n[0-9]{4}/[0-9]{2}/[0-9]{2}    [0-9]{2}:[0-9]{2}\r\r\n" +
                             std::regex_replace(tessaw::TextModeBytes(tessaw::ErrorLine(c.message)),
                                                std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                             std::regex_replace(kClosing, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + "$");
    EXPECT_TRUE(std::regex_search(log, refused)) << log;
    EXPECT_TRUE(Has(r.trace, c.message)) << c.message;
    EXPECT_TRUE(kit.Memory() == factory) << "the camera's flash was changed";
    if (fs::exists(kit.Dir() / "bench" / "counters.txt")) {
        std::map<std::string, uint64_t> counters = kit.Counters();
        for (const char* write : {"flash.program.count", "flash.sector_erase.count", "flash.status_write.count",
                                  "xu.write.s15.count"})
            EXPECT_EQ(counters.count(write), 0u) << write;
    }
    if (!c.benchKeys.empty()) {
        EXPECT_NE(log.find("emulated bench: " + e2e::WindowsPath(kit.Dir() / "bench") + ", power on battery at "),
                  std::string::npos)
            << "the bench's notice tells the power state it emulates: " << log;
    }
}

void RunCheckCases(const std::string& prefix) {
    for (const CheckCase& c : CheckCases())
        if (c.name.rfind(prefix, 0) == 0) RunCheckCase(c);
}

// In the Quelmar suite, whose cases run on a display (the hidden dialog needs one).
TEST_F(QuelmarUpdateE2E, PowerCheckOnAndOff) { RunCheckCases("Power"); }
TEST_F(QuelmarUpdateE2E, IdentityCheckOnAndOff) { RunCheckCases("Identity"); }
TEST_F(QuelmarUpdateE2E, VersionCheckOnAndOff) { RunCheckCases("Version"); }

}  // namespace
