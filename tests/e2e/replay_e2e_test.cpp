// Recording and replay end to end under wine: a silent Tessaw update and an Orlinde download are
// recorded on emulated cameras (CAMKIT_RECORD, and setting.ini's Record for Orlinde), then run again
// in the same folder on a bench whose camera answers from the recording. The replay must end as the
// recorded run did: the same exit code, the same update log apart from its time stamp, the same
// flash contents, and a replay that used the whole transcript.
//
// The families the programs update run natively in tests/unit/replay_test.cpp (the library's part
// of both routes on 'f', 'i', 'j', 'k', 'l'); here a representative pair per program runs through the
// real programs, QuelmarCamera.dll and the Win32 shell.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "bench_tool.h"
#include "transcript/transcript.h"
#include "emu/bench.h"
#include "wine.h"
#include "xserver.h"

namespace {

namespace fs = e2e::fs;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void Spit(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The update log with its run's date and time taken out.
std::string Undated(const std::string& log) {
    static const std::regex stamp(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat)    [0-9]{4}-[0-9]{2}-[0-9]{2}\r\r\n[0-9]{2}:[0-9]{2}\r\r\n");
    return std::regex_replace(log, stamp, "<RUN>");
}

// A program folder and a bench made from a template, in one work folder that both runs share, so
// that every path the programs write is the same in the recorded run and its replay.
class Folder {
public:
    Folder(const std::string& name, const std::string& benchTemplate)
        : dir_(e2e::FreshWorkDir("replay-" + name)), template_(benchTemplate) {
        MakeBench();
        emu::Bench bench;
        std::string error;
        EXPECT_TRUE(emu::LoadBench(Bench().string(), bench, error)) << error;
        camera_ = bench.cameras.at(0);
    }
    // The bench anew from its template: the camera's factory firmware again.
    void MakeBench(const std::string& replay = "") {
        fs::remove_all(Bench());
        std::string out, err;
        ASSERT_EQ(benchtool::Main({"create", template_, Bench().string()}, out, err), 0) << err;
        if (replay.empty()) return;
        std::string ini = Slurp(Bench() / "bench.ini");
        const size_t at = ini.find("[cam0]\n");
        ASSERT_NE(at, std::string::npos);
        ini.insert(at + 7, "replay=" + e2e::WindowsPath(replay) + "\n");
        Spit(Bench() / "bench.ini", ini);
    }
    void Copy(const fs::path& from, const std::string& name) const {
        ASSERT_TRUE(fs::exists(from)) << from << " is missing: build the win64 preset first";
        fs::copy_file(from, dir_ / name, fs::copy_options::overwrite_existing);
    }
    // The camera's factory image with the next revision in its identity block.
    std::string NextFirmware() const {
        std::string image = Slurp(Bench() / "cam0.flash").substr(0, 65536);
        const std::string family = camera_.Get("family");
        const size_t at = (family == "f" || family == "g") ? 0x8008 : family == "h" ? 0xB70A : family == "i" ? 0x678A : 0xF000;
        const uint16_t rev = static_cast<uint16_t>(camera_.rev + 1);
        image[at + 4] = static_cast<char>(rev & 0xFF);
        image[at + 5] = static_cast<char>(rev >> 8);
        return image;
    }
    e2e::RunResult Run(const std::string& program, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env = {}) const {
        e2e::RunOptions options;
        options.workingDirectory = dir_;
        options.env = env;
        options.env["CAMKIT_BENCH"] = e2e::WindowsPath(Bench());
        options.env["DISPLAY"] = e2e::Screen().Display();
        options.timeout = std::chrono::seconds(180);
        return e2e::RunWine(dir_ / program, args, options);
    }
    std::string Flash() const { return Slurp(Bench() / "cam0.flash"); }
    std::string ReplayStatus() const { return Slurp(Bench() / "cam0.replay"); }
    fs::path Bench() const { return dir_ / "bench"; }
    const fs::path& Dir() const { return dir_; }
    const emu::CameraRecord& Camera() const { return camera_; }

private:
    fs::path dir_;
    std::string template_;
    emu::CameraRecord camera_;
};

bool Traced(const e2e::RunResult& r, const std::string& part) {
    for (const std::string& line : r.trace)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

size_t Requests(const fs::path& transcript) {
    transcript::Transcript t;
    std::string error;
    EXPECT_TRUE(transcript::ParseTranscript(Slurp(transcript), t, error)) << error;
    EXPECT_TRUE(t.complete) << transcript;
    return t.requests.size();
}

class ReplayE2E : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { ASSERT_FALSE(e2e::Screen().Display().empty()) << "Xvfb did not start"; }
};

// What a silent update left behind.
struct Updated {
    int exitCode = -1;
    std::string log;
    std::string flash;
};

TEST_P(ReplayE2E, TessawSilentUpdateReplaysToTheSameEnd) {
    const std::string family = GetParam();
    Folder folder(std::string("tessaw-") + family, "quelmar-" + family);
    for (const char* file : {"Tessaw.exe", "SubSystemID.exe", "QuelmarCamera.dll", "config.ini", "dev.vrk"})
        folder.Copy(e2e::KitProgram(file), file);
    for (const char* standIn : {"RvcLib.dll", "BurnerApLib.dll"}) folder.Copy(e2e::KitDir() / "emu" / standIn, standIn);
    // The file the example config.ini names for the template's product ID (B5A0 .. B5A7: 01 .. 08).
    const uint16_t pid = folder.Camera().pid;
    char name[32];
    std::snprintf(name, sizeof name, "FW_%04X_%02u.bin", pid, (pid & 0xF) + 1u);
    Spit(folder.Dir() / name, folder.NextFirmware());
    // The driver the updater's driver check accepts, for this camera's instance.
    const std::string instance = folder.Camera().InstanceId().substr(4);  // past "USB\"
    const std::string driver = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0077";
    // Even reg runs on the display: the prefix's desktop keeps the display of the first program that
    // makes it.
    e2e::RunOptions options;
    options.env["DISPLAY"] = e2e::Screen().Display();
    for (const char* set : {"CurrentControlSet", "ControlSet001"}) {
        const std::string base = std::string("HKLM\\SYSTEM\\") + set;
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"add", base + "\\Enum\\USB\\" + instance, "/v", "Driver", "/d", driver, "/f"},
              {"add", base + "\\Control\\Class\\" + driver, "/v", "DriverVersion", "/d", "6.1.7601.1", "/f"}})
            EXPECT_EQ(e2e::RunWine("reg", args, options).exitCode, 0) << args[1];
    }

    const fs::path transcript = folder.Dir() / "tessaw.transcript";
    auto update = [&](const std::map<std::string, std::string>& env) {
        fs::remove(folder.Dir() / "FW Update Log.log");
        e2e::RunResult r = folder.Run("Tessaw.exe", {"-s"}, env);
        EXPECT_FALSE(r.timedOut);
        return std::make_pair(r, Updated{r.exitCode, Undated(Slurp(folder.Dir() / "FW Update Log.log")), folder.Flash()});
    };
    const auto [recordRun, recorded] = update({{"CAMKIT_RECORD", e2e::WindowsPath(transcript)}});
    ASSERT_EQ(recorded.exitCode, 0) << recorded.log;
    EXPECT_TRUE(Traced(recordRun, "recording: extension-unit traffic to " + e2e::WindowsPath(transcript)));
    const size_t requests = Requests(transcript);
    EXPECT_GT(requests, 50u);  // a download in large chunks (families j, l) takes under a hundred

    folder.MakeBench(transcript.string());
    const auto [replayRun, replayed] = update({});
    EXPECT_EQ(replayed.exitCode, recorded.exitCode);
    EXPECT_EQ(replayed.log, recorded.log);
    EXPECT_TRUE(replayed.flash == recorded.flash) << "the flash must end as the recorded camera's did";
    EXPECT_FALSE(Traced(replayRun, "replay: cam0:")) << "no divergence, no early end";
    EXPECT_EQ(folder.ReplayStatus(), "transcript=" + e2e::WindowsPath(transcript) + "\nreplayed=" +
                                         std::to_string(requests) + " of " + std::to_string(requests) +
                                         "\nresult=complete\n");

    // The same replay of a transcript with one read-back byte changed fails the update.
    std::string text = Slurp(transcript);
    const size_t last = text.rfind(" dir=get len=4096 ");
    ASSERT_NE(last, std::string::npos);
    const size_t recv = text.find(" recv=", last) + 6;
    text[recv] = text[recv] == '0' ? '1' : '0';
    const fs::path edited = folder.Dir() / "edited.transcript";
    Spit(edited, text);
    folder.MakeBench(edited.string());
    const auto [editedRun, editedEnd] = update({});
    EXPECT_NE(editedEnd.exitCode, 0) << editedEnd.log;
}

TEST_P(ReplayE2E, OrlindeDownloadReplaysToTheSameEnd) {
    const std::string family = GetParam();
    Folder folder(std::string("orlinde-") + family, "quelmar-" + family);
    folder.Copy(e2e::KitProgram("Orlinde.exe"), "Orlinde.exe");
    for (const char* standIn : {"RvcLib.dll", "BurnerApLib.dll"}) folder.Copy(e2e::KitDir() / "emu" / standIn, standIn);
    char section[16];
    std::snprintf(section, sizeof section, "[PID_%04X]", folder.Camera().pid);
    Spit(folder.Dir() / "pid.ini", std::string(section) + "\r\nBIN=fw.bin\r\n");
    fs::create_directories(folder.Dir() / "bin");
    Spit(folder.Dir() / "bin" / "fw.bin", folder.NextFirmware());
    const std::string settings = "[SETTING]\r\nChooseBinUsePid=1\r\nAutoDL=1\r\nCmdLineMode=1\r\n";

    Spit(folder.Dir() / "setting.ini", settings + "Record=orlinde.transcript\r\n");
    const std::string factory = folder.Flash();
    const e2e::RunResult recordRun = folder.Run("Orlinde.exe", {});
    EXPECT_FALSE(recordRun.timedOut) << "the tool did not close itself";
    const std::string recordedFlash = folder.Flash();
    const fs::path transcript = folder.Dir() / "orlinde.transcript";
    const size_t requests = Requests(transcript);
    EXPECT_GT(requests, 50u);  // a download in large chunks (families j, l) takes under a hundred
    EXPECT_TRUE(recordedFlash != factory) << "the recorded download wrote nothing";

    Spit(folder.Dir() / "setting.ini", settings);
    folder.MakeBench(transcript.string());
    const e2e::RunResult replayRun = folder.Run("Orlinde.exe", {});
    EXPECT_FALSE(replayRun.timedOut);
    EXPECT_EQ(replayRun.exitCode, recordRun.exitCode);
    EXPECT_TRUE(folder.Flash() == recordedFlash) << "the flash must end as the recorded camera's did";
    EXPECT_FALSE(Traced(replayRun, "replay: cam0:")) << "no divergence, no early end";
    EXPECT_NE(folder.ReplayStatus().find("result=complete"), std::string::npos) << folder.ReplayStatus();
}

INSTANTIATE_TEST_SUITE_P(Families, ReplayE2E, ::testing::Values("f", "i", "j", "k", "l"));

}  // namespace
