// The still-capture graph's behaviour without DirectShow: the device search, the format choice, the
// order of the building steps with their messages and outcomes, the time stamps, the tear-down and
// the frame copy; the same graph over a bench; and the bench's stream keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "bench_still_graph.h"
#include "emu/capture_filter/stream_settings.h"
#include "still_graph.h"
#include "still_texts.h"

namespace {

namespace fs = std::filesystem;
using namespace stillcap;
using Lines = std::vector<std::string>;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// ---------------------------------------------------------------------------------------------
// Pure parts

TEST(StillCapPureTest, TheDevicePathMustSpellBothIdsInLowerCase) {
    struct Case {
        const char* path;
        bool names;
    } cases[] = {
        {"\\\\?\\usb#vid_3a7c&pid_5610&mi_00#6&1a2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global", true},
        {"\\\\?\\USB#VID_3A7C&PID_5610&MI_00#6&1a2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global", false},
        {"\\\\?\\usb#VID_3a7c&PID_5610#5&1a2b&0&1#{65e8773d}\\global", false},  // upper-case markers
        {"\\\\?\\usb#vid_3A7C&pid_5610#5&1a2b&0&1#{65e8773d}\\global", false},  // upper-case digits
        {"\\\\?\\usb#vid_3a7c&pid_5611#5&1a2b&0&1#{65e8773d}\\global", false},  // another product
        {"\\\\?\\usb#vid_046d&pid_5610#5&1a2b&0&1#{65e8773d}\\global", false},  // another vendor
        {"\\\\?\\root#image#0000#{65e8773d}\\global", false},
        {"pid_5610 then vid_3a7c, in any order", true},
    };
    for (const Case& c : cases) EXPECT_EQ(PathNamesCamera(c.path, 0x3A7C, 0x5610), c.names) << c.path;
}

TEST(StillCapPureTest, TheFirst640x480VideoCapabilityIsChosen) {
    const Capability video640{true, 640, 480}, video720{true, 1280, 720}, notVideo640{false, 640, 480},
        upright{true, 480, 640};
    struct Case {
        const char* name;
        std::vector<Capability> capabilities;
        int chosen;
    } cases[] = {
        {"only 640x480", {video640}, 0},
        {"second of three", {video720, video640, video640}, 1},
        {"a non-video block is passed over", {notVideo640, video640}, 1},
        {"only 1280x720", {video720}, -1},
        {"480x640 is not 640x480", {upright, notVideo640}, -1},
        {"none at all", {}, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseCapability(c.capabilities, 640, 480), c.chosen) << c.name;
}

TEST(StillCapPureTest, TheClockIsUtcPlusEightHoursModuloADay) {
    struct Case {
        UtcTime utc;
        unsigned hour;
    } cases[] = {{{17, 30, 5, 123}, 1}, {{15, 59, 59, 999}, 23}, {{16, 0, 0, 0}, 0}, {{0, 0, 0, 0}, 8},
                 {{23, 1, 2, 3}, 7}};
    for (const Case& c : cases) {
        const UtcTime t = Utc8(c.utc);
        EXPECT_EQ(t.hour, c.hour) << c.utc.hour;
        EXPECT_EQ(t.minute, c.utc.minute);
        EXPECT_EQ(t.second, c.utc.second);
        EXPECT_EQ(t.millisecond, c.utc.millisecond);
    }
}

// ---------------------------------------------------------------------------------------------
// The device search

struct Device {
    std::optional<std::string> path;  // nothing: the property bag has no readable path
    bool binds = true;
};

class FakeDevices final : public CaptureDeviceList {
public:
    explicit FakeDevices(std::vector<Device> devices, bool opens = true) : devices_(std::move(devices)), opens_(opens) {}
    bool Open() override { return opens_; }
    void Reset() override {
        next_ = 0;
        ++resets;
    }
    bool Next() override {
        ++nexts;
        if (next_ >= devices_.size()) return false;
        current_ = next_++;
        return true;
    }
    bool DevicePath(std::string& path) override {
        if (!devices_[current_].path) return false;
        path = *devices_[current_].path;
        return true;
    }
    bool BindFilter() override {
        binds.push_back(current_);
        return devices_[current_].binds;
    }
    int resets = 0, nexts = 0;
    std::vector<size_t> binds;  // which devices were bound, in order

private:
    std::vector<Device> devices_;
    bool opens_;
    size_t next_ = 0, current_ = 0;
};

const std::string kCamera = "\\\\?\\usb#vid_3a7c&pid_5610&mi_00#6&1a2b&0&0000#{65e8773d}\\global";
const std::string kOther = "\\\\?\\usb#vid_046d&pid_0825#5&77&0&1#{65e8773d}\\global";

TEST(StillCapSearchTest, WalksAtMostSeventeenStepsWrappingAroundTheList) {
    struct Case {
        const char* name;
        std::vector<Device> devices;
        bool found;
        std::vector<size_t> binds;
        int nexts;
    } cases[] = {
        {"the camera first", {{kCamera}, {kOther}}, true, {0}, 1},
        {"the camera last", {{kOther}, {kOther}, {kCamera}}, true, {2}, 3},
        // 17 steps over three devices: six wrap-arounds, each costing a failed Next.
        {"absent", {{kOther}, {kOther}, {kOther}}, false, {}, 17 + 5},
        {"empty list: one reset and a second empty fetch end it", {}, false, {}, 2},
        {"a path that cannot be read is skipped", {{std::nullopt}, {kCamera}}, true, {1}, 2},
        {"a camera that will not bind is tried again after each wrap-around",
         {{kCamera, false}, {kOther}},
         false,
         std::vector<size_t>(9, 0),
         17 + 8},
        {"an upper-case path is never bound", {{"\\\\?\\USB#VID_3A7C&PID_5610#x"}}, false, {}, 17 + 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevices devices(c.devices);
        EXPECT_EQ(WalkCaptureDevices(devices, 0x3A7C, 0x5610), c.found);
        EXPECT_EQ(devices.binds, c.binds);
        EXPECT_EQ(devices.nexts, c.nexts);
    }
    FakeDevices closed({{kCamera}}, false);
    EXPECT_FALSE(WalkCaptureDevices(closed, 0x3A7C, 0x5610)) << "no enumerator, no search";
    EXPECT_EQ(closed.nexts, 0);
}

// ---------------------------------------------------------------------------------------------
// Building and tearing down, over a scripted graph

class FakeHost final : public StillCapHost {
public:
    UtcTime now{17, 30, 5, 123};
    Lines events;  // "sleep 500", "box <text>", "quit 1", "end -1"
    UtcTime NowUtc() override { return now; }
    void Sleep(uint32_t ms) override { events.push_back("sleep " + std::to_string(ms)); }
    void ShowExclamation(const char* text) override { events.push_back(std::string("box ") + text); }
    void RequestQuit(int code) override { events.push_back("quit " + std::to_string(code)); }
    void EndProcess(int code) override { events.push_back("end " + std::to_string(code)); }
};

// Every step succeeds unless its result is set; calls are logged by name.
class ScriptedGraph final : public StillGraphOps {
public:
    std::map<std::string, int32_t> results;  // step name -> HRESULT
    std::optional<std::vector<Capability>> capabilities = std::vector<Capability>{{true, 640, 480}};
    bool found = true, windowInterface = true, hasSize = true;
    Lines calls;
    int applied = -1;
    int64_t frameTime = 0;

    int32_t Step(const std::string& name) {
        calls.push_back(name);
        auto it = results.find(name);
        return it == results.end() ? kOk : it->second;
    }
    int32_t CreateGraph() override {
        const int32_t hr = Step("CreateGraph");
        graph = !Failed(hr);
        return hr;
    }
    bool FindCaptureFilter(uint16_t vid, uint16_t pid) override {
        calls.push_back(Format("Find %04x:%04x", vid, pid));
        capture = found;
        return found;
    }
    int32_t AddCaptureFilter() override { return Step("AddCaptureFilter"); }
    bool ReadCapabilities(std::vector<Capability>& out) override {
        calls.push_back("ReadCapabilities");
        if (!capabilities) return false;
        out = *capabilities;
        return true;
    }
    int32_t ApplyCapability(int index, int64_t time) override {
        applied = index;
        frameTime = time;
        return Step("ApplyCapability");
    }
    int32_t CreateGrabber() override { return Step("CreateGrabber"); }
    int32_t SetGrabberToRgb24() override { return Step("SetGrabberToRgb24"); }
    int32_t AddGrabber() override { return Step("AddGrabber"); }
    void TakeCapturePin() override { Step("TakeCapturePin"); }
    void TakeGrabberInputPin() override { Step("TakeGrabberInputPin"); }
    int32_t ConnectPins() override { return Step("ConnectPins"); }
    void ReadConnectedType() override { Step("ReadConnectedType"); }
    int32_t RenderGrabberOutput() override { return Step("RenderGrabberOutput"); }
    bool ConnectedSize(int32_t& width, int32_t& height) override {
        Step("ConnectedSize");
        width = 640;
        height = 480;
        return hasSize;
    }
    void ConfigureGrabber() override { Step("ConfigureGrabber"); }
    bool HideVideoWindow() override {
        Step("HideVideoWindow");
        return windowInterface;
    }
    int32_t Run() override { return Step("Run"); }
    bool HasGraph() const override { return graph; }
    bool HasCaptureFilter() const override { return capture; }
    void ReleaseGraph() override {
        calls.push_back("ReleaseGraph");
        graph = false;
    }
    void ReleaseCaptureFilter() override {
        calls.push_back("ReleaseCaptureFilter");
        capture = false;
    }
    bool graph = false, capture = false;
};

const std::string kInit = "InitStillGraph(VID=3a7c, PID=5610)\r\n";
// 17:30:05.123 UTC on the fake clock.
const std::string kBuild = "Build graph (640x480@30fps)\t--- 01.30.05.123\n";
const std::string kRun = "Run graph\t\t\t--- 01.30.05.123\n";

struct Built {
    int32_t result;
    Lines trace;
    Lines events;
    GrabbedSize grabbed;
};
Built Build(ScriptedGraph& graph, FakeHost& host) {
    kit::RecordingTrace trace;
    GrabbedSize grabbed;
    const int32_t result = BuildStillGraph(graph, host, trace, 0x3A7C, 0x5610, grabbed);
    return {result, trace.lines, host.events, grabbed};
}

TEST(StillGraphTest, BuildsEveryStepInOrderAndStampsTheTraceInUtcPlusEight) {
    ScriptedGraph graph;
    graph.capabilities = std::vector<Capability>{{true, 1280, 720}, {true, 640, 480}, {true, 640, 480}};
    FakeHost host;
    Built b = Build(graph, host);
    EXPECT_EQ(b.result, kOk);
    EXPECT_EQ(b.trace, (Lines{kInit, kBuild, kRun}));
    EXPECT_EQ(b.events, (Lines{"sleep 500", "sleep 500"})) << "no box, no quit";
    EXPECT_EQ(graph.calls,
              (Lines{"CreateGraph", "Find 3a7c:5610", "AddCaptureFilter", "ReadCapabilities", "ApplyCapability",
                     "CreateGrabber", "SetGrabberToRgb24", "AddGrabber", "TakeCapturePin", "TakeGrabberInputPin",
                     "ConnectPins", "ReadConnectedType", "RenderGrabberOutput", "ConnectedSize",
                     "ConfigureGrabber", "HideVideoWindow", "Run"}));
    EXPECT_EQ(graph.applied, 1) << "the first 640x480 capability";
    EXPECT_EQ(graph.frameTime, 333333);
    EXPECT_EQ(b.grabbed.width, 640);
    EXPECT_EQ(b.grabbed.height, 480);
}

TEST(StillGraphTest, AFailedStepSaysWhyAndEndsTheBuild) {
    constexpr int32_t kOdd = static_cast<int32_t>(0x80040154);
    struct Case {
        const char* step;
        const char* message;
        int32_t result;
        const char* last;  // the last step called
    } cases[] = {
        {"CreateGraph", kNoFilterGraph, kFail, "CreateGraph"},
        {"AddCaptureFilter", kCaptureNotAdded, kFail, "AddCaptureFilter"},
        {"CreateGrabber", kNoSampleGrabber, kOdd, "CreateGrabber"},
        {"SetGrabberToRgb24", kNoMediaType, kOdd, "SetGrabberToRgb24"},
        {"AddGrabber", kGrabberNotAdded, kOdd, "AddGrabber"},
        {"RenderGrabberOutput", kNotRendered, kOdd, "RenderGrabberOutput"},
        {"Run", kNotRun, kOdd, "Run"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        ScriptedGraph graph;
        graph.results[c.step] = kOdd;
        FakeHost host;
        Built b = Build(graph, host);
        EXPECT_EQ(b.result, c.result);
        EXPECT_EQ(b.trace.back(), c.message);
        EXPECT_EQ(graph.calls.back(), c.last);
        EXPECT_EQ(std::count(b.trace.begin(), b.trace.end(), kRun), 0);
        EXPECT_EQ(std::count(b.events.begin(), b.events.end(), "end -1"), 0);
    }
    // The two failures that are not a step's result.
    ScriptedGraph absent;
    absent.found = false;
    FakeHost host;
    Built b = Build(absent, host);
    EXPECT_EQ(b.result, kFail);
    EXPECT_EQ(b.trace, (Lines{kInit, kNoCaptureDevice}));
    ScriptedGraph windowless;
    windowless.windowInterface = false;
    b = Build(windowless, host);
    EXPECT_EQ(b.result, kFail);
    EXPECT_EQ(b.trace.back(), kNoVideoWindow);
    EXPECT_EQ(windowless.calls.back(), "HideVideoWindow");
}

TEST(StillGraphTest, WithoutA640x480FormatTheBoxAndTheQuitComeAndTheBuildGoesOn) {
    struct Case {
        const char* name;
        std::optional<std::vector<Capability>> capabilities;
    } cases[] = {{"only 1280x720", std::vector<Capability>{{true, 1280, 720}}},
                 {"no stream-configuration interface", std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedGraph graph;
        graph.capabilities = c.capabilities;
        FakeHost host;
        Built b = Build(graph, host);
        EXPECT_EQ(b.result, kOk) << "the graph is still built and run";
        EXPECT_EQ(b.events, (Lines{std::string("box ") + kSizeMismatch, "quit 1", "sleep 500", "sleep 500"}));
        EXPECT_EQ(b.trace, (Lines{kInit, kBuild, kRun}));
        EXPECT_EQ(graph.applied, -1) << "no format applied";
    }
}

TEST(StillGraphTest, AnUnconnectablePinEndsTheProgramWithMinusOne) {
    ScriptedGraph graph;
    graph.results["ConnectPins"] = static_cast<int32_t>(0x80040217);
    FakeHost host;
    Built b = Build(graph, host);
    EXPECT_EQ(b.trace, (Lines{kInit, kBuild, kNotConnected}));
    EXPECT_EQ(b.events, (Lines{"sleep 500", "sleep 500", "end -1"}));
    EXPECT_EQ(graph.calls.back(), "ConnectPins") << "nothing after the end";
}

TEST(StillGraphTest, ClearingReleasesWhatExistsAndSaysSo) {
    struct Case {
        bool graph, capture;
        Lines calls, trace;
    } cases[] = {
        {true, true, {"ReleaseGraph", "ReleaseCaptureFilter"}, {kGraphReleased, kCaptureReleased}},
        {true, false, {"ReleaseGraph"}, {kGraphReleased}},
        {false, false, {}, {}},
    };
    for (const Case& c : cases) {
        ScriptedGraph graph;
        graph.graph = c.graph;
        graph.capture = c.capture;
        kit::RecordingTrace trace;
        ClearStillGraph(graph, trace);
        EXPECT_EQ(graph.calls, c.calls);
        EXPECT_EQ(trace.lines, c.trace);
        ClearStillGraph(graph, trace);
        EXPECT_EQ(trace.lines, c.trace) << "a second clear finds nothing";
    }
}

// ---------------------------------------------------------------------------------------------
// The grabber callback's frame copy

TEST(FrameKeeperTest, CopiesOneFrameOnlyWhenArmed) {
    int announced = 0;
    FrameKeeper keeper([&] { ++announced; });
    const std::vector<uint8_t> frame(12, 0x5A), larger(20, 0x33), smaller(4, 0x11);

    EXPECT_EQ(keeper.Keep(1.0, frame.data(), 12), kPointer) << "not armed: ignored";
    EXPECT_EQ(keeper.Buffer(), nullptr);

    keeper.Arm();
    EXPECT_EQ(keeper.Keep(2.5, frame.data(), 12), kOk);
    EXPECT_EQ(keeper.State(), kCopied);
    EXPECT_EQ(keeper.SampleTime(), 2.5);
    ASSERT_EQ(keeper.BufferSize(), 12u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), keeper.Buffer()));
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(keeper.Keep(3.0, frame.data(), 12), kPointer) << "one frame per arming";

    keeper.Arm();
    EXPECT_EQ(keeper.Keep(4.0, larger.data(), 20), kOk);
    EXPECT_EQ(keeper.BufferSize(), 20u) << "a larger frame gets a new buffer";
    keeper.Arm();
    const uint8_t* kept = keeper.Buffer();
    EXPECT_EQ(keeper.Keep(5.0, smaller.data(), 4), kOk);
    EXPECT_EQ(keeper.Buffer(), kept) << "a smaller frame reuses the buffer";
    EXPECT_EQ(keeper.BufferSize(), 20u);
    EXPECT_EQ(keeper.Buffer()[0], 0x11);
    EXPECT_EQ(announced, 3);

    keeper.Arm();
    EXPECT_EQ(keeper.Keep(6.0, nullptr, 4), kPointer) << "bytes without a frame";
}

TEST(FrameKeeperTest, NoMemoryLeavesTheSizeZeroAndTheCallbackArmed) {
    FrameKeeper keeper;
    keeper.allocate = [](uint32_t) -> uint8_t* { return nullptr; };
    keeper.Arm();
    const std::vector<uint8_t> frame(8, 1);
    EXPECT_EQ(keeper.Keep(1.0, frame.data(), 8), kOutOfMemory);
    EXPECT_EQ(keeper.BufferSize(), 0u);
    EXPECT_EQ(keeper.State(), kArmed);
}

// ---------------------------------------------------------------------------------------------
// The bench's stream keys

TEST(StreamSettingsTest, FormatsAreWidthByHeightListsInCapabilityOrder) {
    using emu::capture::StreamFormat;
    struct Case {
        const char* text;
        std::vector<StreamFormat> formats;  // empty: refused
    } cases[] = {
        {"640x480", {{640, 480}}},
        {" 1280x720 , 640X480", {{1280, 720}, {640, 480}}},
        {"16x16,4096x4096", {{16, 16}, {4096, 4096}}},
        {"", {}},
        {"640", {}},
        {"640x", {}},
        {"x480", {}},
        {"15x480", {}},
        {"640x4097", {}},
        {"-640x480", {}},
        {"640x480x3", {}},
    };
    for (const Case& c : cases) {
        std::vector<StreamFormat> out;
        std::string error;
        EXPECT_EQ(emu::capture::ParseFormats(c.text, out, error), !c.formats.empty()) << c.text;
        EXPECT_EQ(out, c.formats) << c.text;
        EXPECT_EQ(error.empty(), !c.formats.empty()) << c.text;
    }
    std::string many;
    for (int i = 0; i < 33; ++i) many += "640x480,";
    std::vector<StreamFormat> out;
    std::string error;
    EXPECT_FALSE(emu::capture::ParseFormats(many, out, error));
    EXPECT_EQ(emu::capture::Rgb24FrameBytes({640, 480}), 921600u);
    EXPECT_EQ(emu::capture::Rgb24FrameBytes({17, 2}), 104u) << "rows padded to four bytes";
}

TEST(StreamSettingsTest, RecordKeysWithTheirDefaults) {
    struct Case {
        std::map<std::string, std::string> keys;
        bool ok;
        size_t formats;
        bool inUse;
    } cases[] = {
        {{}, true, 1, false},
        {{{"formats", "1280x720"}, {"in_use", "1"}}, true, 1, true},
        {{{"in_use", "yes"}}, false, 0, false},
        {{{"formats", "big"}, {"in_use", "1"}}, false, 0, false},
    };
    for (const Case& c : cases) {
        emu::CameraRecord camera;
        camera.keys = c.keys;
        emu::capture::StreamSettings settings;
        std::string error;
        EXPECT_EQ(emu::capture::ReadStreamSettings(camera, settings, error), c.ok) << error;
        EXPECT_EQ(settings.formats.size(), c.formats);
        EXPECT_EQ(settings.inUse, c.inUse);
    }
}

// ---------------------------------------------------------------------------------------------
// The graph over a bench

class BenchStillCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("stillcap_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A bench of a mouse-maker's webcam and the Realtek camera with the given extra keys.
    void Bench(const std::string& cameraKeys, const std::string& cameras = "web,rtk") {
        std::ofstream(dir_ / "bench.ini", std::ios::binary)
            << "[bench]\ncameras=" << cameras << "\n[web]\nvid=046D\npid=0825\nport=1\n"
            << "[rtk]\nchip=realtek\nvid=3A7C\npid=5610\nrev=0021\nmi=00\nport=4\n" << cameraKeys;
    }
    Built Run() {
        kit::RecordingTrace trace;
        BenchStillCapture still(dir_.string(), host_, trace);
        Built b{still.InitStillGraph(0x3A7C, 0x5610), {}, {}, still.Grabbed()};
        still.ClearGraphs();
        b.trace = trace.lines;
        b.events = host_.events;
        return b;
    }
    fs::path dir_;
    FakeHost host_;
};

TEST_F(BenchStillCaptureTest, TheStreamKeysGiveTheRealGraphsOutcomes) {
    struct Case {
        const char* keys;
        int32_t result;
        Lines events;
        bool run;
        int32_t width, height;
    } cases[] = {
        {"", kOk, {"sleep 500", "sleep 500"}, true, 640, 480},
        {"formats=1280x720,640x480\n", kOk, {"sleep 500", "sleep 500"}, true, 640, 480},
        {"formats=1280x720\n",
         kOk,
         {std::string("box ") + kSizeMismatch, "quit 1", "sleep 500", "sleep 500"},
         true,
         1280,
         720},
        {"in_use=1\n", kCannotConnect, {"sleep 500", "sleep 500", "end -1"}, false, 0, 0},
        // What the stand-in's pin does with a list it cannot read: no format, no connection.
        {"formats=1280*720\n",
         kCannotConnect,
         {std::string("box ") + kSizeMismatch, "quit 1", "sleep 500", "sleep 500", "end -1"},
         false,
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        host_.events.clear();
        Bench(c.keys);
        Built b = Run();
        EXPECT_EQ(b.result, c.result);
        EXPECT_EQ(b.events, c.events);
        EXPECT_EQ(std::any_of(b.trace.begin(), b.trace.end(),
                              [](const std::string& l) { return l.rfind("Run graph\t\t\t--- ", 0) == 0; }),
                  c.run);
        EXPECT_EQ(b.grabbed.width, c.width);
        EXPECT_EQ(b.grabbed.height, c.height);
        EXPECT_EQ(b.trace.back(), kCaptureReleased) << "torn down like the real one";
    }
}

TEST_F(BenchStillCaptureTest, TheCameraIsFoundByItsLowerCaseDevicePathOnly) {
    struct Case {
        const char* name;
        std::string keys;
        std::string cameras;
        bool found;
    } cases[] = {
        {"derived path", "", "web,rtk", true},
        {"not on the bench", "", "web", false},
        {"a path without a DevicePath value", "nopath=1\n", "web,rtk", false},
        {"an upper-case path", "path=\\\\?\\USB#VID_3A7C&PID_5610&MI_00#6&1&0&0000#{65e8773d}\\global\n",
         "web,rtk", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host_.events.clear();
        Bench(c.keys, c.cameras);
        Built b = Run();
        EXPECT_EQ(b.result, c.found ? kOk : kFail);
        EXPECT_EQ(b.trace.at(1), c.found ? kBuild : std::string(kNoCaptureDevice));
    }
    fs::remove(dir_ / "bench.ini");
    Built b = Run();
    EXPECT_EQ(b.result, kFail) << "an unreadable bench has no devices";
    ASSERT_EQ(b.trace.size(), 4u);
    EXPECT_EQ(b.trace[1].rfind("emulated still capture: the bench cannot be read: ", 0), 0u) << b.trace[1];
    EXPECT_EQ(b.trace[2], kNoCaptureDevice);
}

}  // namespace

TEST_F(BenchStillCaptureTest, StepFaultsOfTheBenchGiveEachStepsFailure) {
    const std::string mismatch = std::string("box ") + kSizeMismatch;
    struct Case {
        const char* fault;
        int32_t result;
        const char* message;  // traced; nullptr: none of the step messages
        Lines events;
    } cases[] = {
        {"CreateGraph:1:0x80004005", kFail, kNoFilterGraph, {}},
        {"FindCaptureFilter:*:0", kFail, kNoCaptureDevice, {}},
        {"AddGrabber:1:0x8007000E", kOutOfMemory, kGrabberNotAdded, {}},
        {"ConnectPins:1:0x80040217", kCannotConnect, kNotConnected, {"sleep 500", "sleep 500", "end -1"}},
        {"HideVideoWindow:1:0", kFail, kNoVideoWindow, {"sleep 500", "sleep 500"}},
        {"Run:1:0x80004005", kFail, kNotRun, {"sleep 500", "sleep 500"}},
        // Capabilities that come back altered hide the 640x480 format.
        {"ReadCapabilities:1:corrupt:0x01:0", kOk, nullptr, {mismatch, "quit 1", "sleep 500", "sleep 500"}},
        // A later call than the graph makes changes nothing.
        {"Run:2:0x80004005", kOk, nullptr, {"sleep 500", "sleep 500"}},
        // A step that cannot unplug anything, and a step the table lacks: no graph at all.
        {"ConnectPins:1:unplug", kFail, kNoFilterGraph, {}},
        {"BindFilter:1:0", kFail, kNoFilterGraph, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        host_.events.clear();
        std::ofstream(dir_ / "bench.ini", std::ios::binary)
            << "[bench]\ncameras=rtk\nstill_fault1=" << c.fault
            << "\n[rtk]\nchip=realtek\nvid=3A7C\npid=5610\nrev=0021\nmi=00\nport=4\n";
        Built b = Run();
        EXPECT_EQ(b.result, c.result);
        EXPECT_EQ(b.events, c.events);
        for (const char* m : {kNoFilterGraph, kNoCaptureDevice, kGrabberNotAdded, kNotConnected, kNoVideoWindow, kNotRun})
            EXPECT_EQ(std::count(b.trace.begin(), b.trace.end(), m), c.message && std::string(m) == c.message ? 1 : 0)
                << m;
    }
}

TEST_F(BenchStillCaptureTest, TheGraphCountsTheStepsItTakes) {
    Bench("");
    kit::RecordingTrace trace;
    BenchStillCapture still(dir_.string(), host_, trace);
    ASSERT_EQ(still.InitStillGraph(0x3A7C, 0x5610), kOk);
    const auto& counts = still.Graph().Faults().Counts();
    for (const char* step : {"CreateGraph", "FindCaptureFilter", "AddCaptureFilter", "ReadCapabilities",
                             "ApplyCapability", "ConnectPins", "ConnectedSize", "Run"})
        EXPECT_EQ(counts.count(step) ? counts.at(step) : 0u, 1u) << step;
    still.ClearGraphs();
}
