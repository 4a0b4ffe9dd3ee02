// The still-capture graph under wine: CStillCap run alone by still_probe on the capture-filter
// stand-in's video pin (wine's filter graph, sample grabber and video renderer), and Tessaw's
// start-up probe of a Realtek camera, through the stand-in and, without one, emulated from the
// bench. The bench keys formats= and in_use= decide the outcomes.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <future>
#include <iterator>
#include <regex>
#include <sstream>

#include "bench_tool.h"
#include "standin_registry.h"
#include "still_texts.h"
#include "texts.h"
#include "update_log.h"
#include "wine.h"
#include "xserver.h"

namespace {

namespace fs = e2e::fs;
using Lines = std::vector<std::string>;

const std::string kCaption = "StillCap e2e";
const std::string kMismatchBox =
    "box=Tessaw|" + std::string(stillcap::kSizeMismatch) + "|icon=yes";  // as tessaw_gui prints it
const std::string kEmulatedNotice =
    "still capture: emulated from the bench (no capture-filter stand-in is registered for it)\n";

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<none>";
    return {std::istreambuf_iterator<char>(in), {}};
}

Lines OutLines(const std::string& out) {
    Lines lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The position of the first line that starts with `head`, or -1.
long Find(const Lines& lines, const std::string& head) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(head, 0) == 0) return static_cast<long>(i);
    return -1;
}

// The hour a trace line stamped now may show: UTC + 8, modulo a day.
unsigned Utc8Hour(std::time_t t) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    return static_cast<unsigned>((utc.tm_hour + 8) % 24);
}

// "Build graph" and "Run graph", in that order, with a UTC+8 stamp taken between `before` and
// `after`.
void ExpectBuiltAndRun(const Lines& trace, std::time_t before, std::time_t after) {
    static const std::regex build("Build graph \\(640x480@30fps\\)\t--- ([0-9]{2})\\.[0-5][0-9]\\.[0-5][0-9]\\.[0-9]{3}\n");
    static const std::regex run("Run graph\t\t\t--- ([0-9]{2})\\.[0-5][0-9]\\.[0-5][0-9]\\.[0-9]{3}\n");
    const long b = Find(trace, "Build graph "), r = Find(trace, "Run graph\t");
    ASSERT_GE(b, 0) << "no Build graph line";
    ASSERT_GT(r, b) << "no Run graph line after it";
    for (auto [at, pattern] : {std::pair<long, const std::regex*>{b, &build}, {r, &run}}) {
        std::smatch m;
        const std::string& line = trace[static_cast<size_t>(at)];
        ASSERT_TRUE(std::regex_match(line, m, *pattern)) << line;
        const unsigned hour = static_cast<unsigned>(std::stoi(m[1]));
        EXPECT_TRUE(hour == Utc8Hour(before) || hour == Utc8Hour(after)) << line;
    }
}

// A bench made from a template, with extra keys for its last camera record.
fs::path MakeBench(const fs::path& folder, const std::string& templ, const std::string& cameraKeys) {
    fs::path bench = folder / "bench";
    std::string out, err;
    EXPECT_EQ(benchtool::Main({"create", templ, bench.string()}, out, err), 0) << err;
    std::ofstream(bench / "bench.ini", std::ios::binary | std::ios::app) << "\n" << cameraKeys;
    return bench;
}

e2e::RunOptions WithScreen(int seconds = 60) {
    e2e::RunOptions options;
    options.env["DISPLAY"] = e2e::Screen().Display();
    options.env["CAMKIT_BENCH"] = "";
    options.timeout = std::chrono::seconds(seconds);
    return options;
}

// The capture-filter stand-in registered for a bench while the object lives. Its tool runs on the
// tests' display, as every wine program here does: the prefix's desktop takes the display of
// whichever program makes it, and wine's video renderers need one.
class StandIn {
public:
    explicit StandIn(const fs::path& bench) {
        e2e::RunResult r =
            e2e::RunWine(e2e::CaptureStandInTool(), {"register", e2e::WindowsPath(bench)}, WithScreen());
        ok_ = r.exitCode == 0;
        EXPECT_TRUE(ok_) << "capture_standin register: " << r.out << r.err;
    }
    ~StandIn() { Remove(); }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;
    bool ok() const { return ok_; }
    static void Remove() {
        e2e::RunResult r = e2e::RunWine(e2e::CaptureStandInTool(), {"unregister"}, WithScreen());
        EXPECT_EQ(r.exitCode, 0) << "capture_standin unregister: " << r.out << r.err;
    }

private:
    bool ok_ = false;
};

class StillCapE2E : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(e2e::Screen().Display().empty()) << "Xvfb did not start"; }
};

// ---------------------------------------------------------------------------------------------
// CStillCap alone on the stand-in's pin

TEST_F(StillCapE2E, TheGraphStreamsFromTheStandInPinAsItsBenchKeysSay) {
    struct Case {
        const char* keys;
        int exitCode;
        Lines out;  // lines still_probe prints, in order (filters= is checked apart)
        const char* last;  // the trace's last still-capture line before the tear-down
        bool worker = false;  // on a thread without a message loop, as in the Realtek flow
    } cases[] = {
        {"", 0, {"result=0x00000000", "grabbed=640x480", "frames=copied 921600 bytes", "cleared"}, nullptr},
        {"", 0, {"result=0x00000000", "grabbed=640x480", "frames=copied 921600 bytes", "cleared"}, nullptr, true},
        {"formats=1280x720,640x480\n",
         0,
         {"result=0x00000000", "grabbed=640x480", "frames=copied 921600 bytes", "cleared"},
         nullptr},
        {"formats=1280x720\n",
         0,
         {std::string("box=") + stillcap::kSizeMismatch, "quit=1", "result=0x00000000", "grabbed=1280x720",
          "frames=copied 2764800 bytes", "cleared"},
         nullptr},
        {"in_use=1\n", 255, {"end=-1"}, stillcap::kNotConnected},
        {"path=\\\\?\\USB#VID_3A7C&PID_5610&MI_00#6&1&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global\n",
         1,
         {"result=0x80004005", "grabbed=0x0", "filters=", "frames=none", "cleared"},
         stillcap::kNoCaptureDevice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keys) + (c.worker ? " on a worker thread" : ""));
        fs::path bench = MakeBench(e2e::FreshWorkDir("stillcap-probe"), "realtek", c.keys);
        StandIn registered(bench);
        ASSERT_TRUE(registered.ok());
        const std::time_t before = std::time(nullptr);
        std::vector<std::string> args{"3a7c", "5610", "600"};
        if (c.worker) args.push_back("worker");
        e2e::RunResult r = e2e::RunWine(e2e::TestProgram("still_probe.exe"), args, WithScreen());
        const std::time_t after = std::time(nullptr);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        Lines out = OutLines(r.out);
        const std::string filters = Find(out, "filters=") >= 0 ? out[static_cast<size_t>(Find(out, "filters="))] : "";
        if (!Has(c.out, "filters=")) std::erase(out, filters);
        EXPECT_EQ(out, c.out) << r.out;
        EXPECT_EQ(r.trace.front(), "InitStillGraph(VID=3a7c, PID=5610)\r\n");
        if (c.last) {
            EXPECT_TRUE(Has(r.trace, c.last)) << c.last;
            EXPECT_EQ(Find(r.trace, "Run graph"), -1);
            continue;
        }
        ExpectBuiltAndRun(r.trace, before, after);
        // The grabber's output went to a renderer that the graph chose: three filters.
        EXPECT_TRUE(filters.find("Grabber") != std::string::npos && filters.find("Cap") != std::string::npos &&
                    std::count(filters.begin(), filters.end(), ',') == 2)
            << filters;
        EXPECT_EQ(r.trace.back(), stillcap::kCaptureReleased);
    }
}

// ---------------------------------------------------------------------------------------------
// Tessaw's start-up probe of a Realtek camera

// A program folder with the kit's files, for a bench made from the Realtek template (3A7C:5610).
class Program {
public:
    Program(const std::string& name, const std::string& cameraKeys) : dir_(e2e::FreshWorkDir("stillcap-" + name)) {
        for (const char* f : {"Tessaw.exe", "SubSystemID.exe", "QuelmarCamera.dll"}) Copy(e2e::KitProgram(f), f);
        for (const char* f : {"RvcLib.dll", "BurnerApLib.dll"}) Copy(e2e::KitDir() / "emu" / f, f);
        std::ofstream(dir_ / "config.ini", std::ios::binary)
            << "[FW_TOOL]\r\nVersion=" << kCaption << "\r\nLogSwitch=2\r\n[Config]\r\n"
            << "SysID_XXXX_PID_5610_ModID_21=FW_5610_21.rfw\r\n";
        std::ofstream(dir_ / "dev.vrk", std::ios::binary) << "[REALTEK]\r\nPID=5610\r\n[SONIX]\r\n[QUELMAR]\r\n";
        bench_ = MakeBench(dir_, "realtek", cameraKeys);
    }
    const fs::path& Bench() const { return bench_; }
    std::string Exe() const { return e2e::WindowsPath(dir_ / "Tessaw.exe"); }
    e2e::RunOptions Options() const {
        e2e::RunOptions options = WithScreen(90);
        options.workingDirectory = dir_;
        options.env["CAMKIT_BENCH"] = e2e::WindowsPath(bench_);
        return options;
    }
    e2e::RunResult Run(const std::vector<std::string>& args) const {
        return e2e::RunWine(dir_ / "Tessaw.exe", args, Options());
    }
    // Runs Tessaw while the GUI helper takes the steps; returns Tessaw's run and the helper's lines.
    std::pair<e2e::RunResult, Lines> Drive(const std::vector<std::string>& args,
                                           const std::vector<std::string>& steps) const {
        std::future<e2e::RunResult> tessaw = std::async(std::launch::async, [&] { return Run(args); });
        std::vector<std::string> all{"find", kCaption};
        all.insert(all.end(), steps.begin(), steps.end());
        e2e::RunResult helper = e2e::RunWine(e2e::TestProgram("tessaw_gui.exe"), all, Options());
        EXPECT_EQ(helper.exitCode, 0) << "helper: " << helper.out;
        if (tessaw.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "Tessaw did not end";
            return {};
        }
        return {tessaw.get(), OutLines(helper.out)};
    }
    std::string Log() const { return Slurp(dir_ / "FW Update Log.log"); }
    // The log of a run that never reached FLASH: the bench notice and the closing line.
    std::string UntouchedLog() const {
        return tessaw::TextModeBytes(tessaw::PlainLine("emulated bench: " + e2e::WindowsPath(bench_) + "\r\n")) +
               tessaw::TextModeBytes(tessaw::kClosingLine);
    }

private:
    void Copy(const fs::path& from, const std::string& name) {
        ASSERT_TRUE(fs::exists(from)) << from << " is missing: build the win64 preset first";
        fs::copy_file(from, dir_ / name, fs::copy_options::overwrite_existing);
    }
    fs::path dir_;
    fs::path bench_;
};

// The stand-in registered for the program's bench, or none: the emulated graph then answers.
std::unique_ptr<StandIn> Serve(const Program& p, bool standIn) {
    if (!standIn) {
        StandIn::Remove();
        return nullptr;
    }
    auto registered = std::make_unique<StandIn>(p.Bench());
    EXPECT_TRUE(registered->ok());
    return registered;
}

TEST_F(StillCapE2E, TessawStartUpBuildsAndRunsTheGraphAndGoesOn) {
    for (bool standIn : {true, false}) {
        SCOPED_TRACE(standIn ? "through the stand-in" : "emulated");
        Program p(standIn ? "normal" : "normal-emulated", "");
        auto registered = Serve(p, standIn);
        const std::time_t before = std::time(nullptr);
        auto [r, helper] = p.Drive({}, {"wait-text", "1007", "21", "wait-enabled", "1004", "1", "fields", "key",
                                         "27", "wait-gone"});
        const std::time_t after = std::time(nullptr);
        EXPECT_TRUE(Has(helper, "module=21")) << "start-up identified the camera";
        EXPECT_TRUE(Has(helper, "flash=enabled"));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Has(r.trace, kEmulatedNotice), !standIn);
        const long init = Find(r.trace, "InitStillGraph(VID=3a7c, PID=5610)\r\n");
        ASSERT_GE(init, 0);
        ExpectBuiltAndRun(r.trace, before, after);
        // Torn down after its 100 ms, before the camera is recorded.
        const long cleared = Find(r.trace, stillcap::kCaptureReleased);
        EXPECT_GT(cleared, Find(r.trace, "Run graph\t"));
        EXPECT_GT(Find(r.trace, "Model: Realtek series ...\r\n"), cleared);
    }
}

TEST_F(StillCapE2E, TessawQuitsWithOneWhenTheCameraHasNo640x480Format) {
    struct Case {
        const char* name;
        bool standIn;
        std::vector<std::string> args;
    } cases[] = {
        {"interactive, through the stand-in", true, {}},
        {"interactive, emulated", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Program p("mismatch", "formats=1280x720\n");
        auto registered = Serve(p, c.standIn);
        auto [r, helper] = p.Drive(c.args, {"box", "box-ok"});
        EXPECT_TRUE(Has(helper, kMismatchBox)) << testing::PrintToString(helper);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        // The graph was still built and run, and the closing steps ran.
        EXPECT_GE(Find(r.trace, "Run graph\t"), 0);
        EXPECT_EQ(p.Log(), p.UntouchedLog());
    }
}

TEST_F(StillCapE2E, ASilentRunQuitsWithOneWithoutWaitingOnABox) {
    // Nobody is there to dismiss a box in an unattended run: the text goes to the trace, the run
    // quits with 1 at once and FLASH never starts.
    for (bool standIn : {true, false}) {
        SCOPED_TRACE(standIn ? "through the stand-in" : "emulated");
        Program p("mismatch-silent", "formats=1280x720\n");
        auto registered = Serve(p, standIn);
        e2e::RunResult r = p.Run({"-s"});
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(
            Has(r.trace, "still capture: Image size mismatch or unknown format (silent run: no message box)\n"));
        EXPECT_EQ(p.Log(), p.UntouchedLog()) << "no update ran";
    }
}

TEST_F(StillCapE2E, TessawEndsWithMinusOneWhenAnotherProgramHoldsTheCamera) {
    for (bool standIn : {true, false}) {
        SCOPED_TRACE(standIn ? "through the stand-in" : "emulated");
        Program p("in-use", "in_use=1\n");
        auto registered = Serve(p, standIn);
        e2e::RunResult r = p.Run({"-s"});
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 255) << "-1 as the shell sees it\n" << r.err;
        EXPECT_TRUE(Has(r.trace, stillcap::kNotConnected));
        EXPECT_GE(Find(r.trace, "Build graph "), 0);
        EXPECT_EQ(Find(r.trace, "Run graph\t"), -1);
        EXPECT_EQ(Find(r.trace, "Model: Realtek series"), -1) << "the process ended at the connection";
    }
}

}  // namespace
