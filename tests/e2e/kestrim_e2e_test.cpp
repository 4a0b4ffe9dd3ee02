// Kestrim under wine, with its cameras from an emulated bench and, separately, from registry-only
// DirectShow video-input devices through the real DirectShow adapter.
#include <gtest/gtest.h>

#include <fstream>

#include "emu/bench.h"
#include "kestrim.h"
#include "wine.h"

namespace {

using e2e::CrtText;

enum class Source { Bench, DirectShow };

struct Camera {
    const char* vid;
    const char* pid;
};

struct KestrimCase {
    const char* name;
    std::vector<Camera> cameras;
    std::string list;                 // content of Brevant_camera_ID.txt
    std::vector<std::string> args;
    std::string output;               // after the banner, before the C runtime's line-end translation
    std::vector<std::string> started; // command lines the stand-in update program recorded
};

const std::string kBanner = "Brevant FW matching tool version 12.11.01\r\n";
const std::string kUnable = "Unable to start update process\r\nPress any key to close\r\n";
const std::string kStarted = "Start update process\r\n";

std::string Found(const char* pid) { return std::string("Found source: VID_3b1d, PID_") + pid + "\r\n"; }

class KestrimE2E : public ::testing::TestWithParam<std::tuple<Source, KestrimCase>> {};

TEST_P(KestrimE2E, MatchesAndStarts) {
    const auto& [source, c] = GetParam();
    auto dir = e2e::FreshWorkDir(std::string("kestrim-") + c.name + (source == Source::Bench ? "-bench" : "-ds"));
    e2e::fs::copy_file(e2e::KitProgram("Kestrim.exe"), dir / "Kestrim.exe");
    e2e::fs::copy_file(e2e::TestProgram("recorder.exe"), dir / "recorder.exe");
    std::ofstream(dir / kestrim::kListFile, std::ios::binary) << c.list;

    // One camera record gives the device path for both sources.
    std::string benchIni = "[bench]\ncameras=";
    for (size_t i = 0; i < c.cameras.size(); ++i) benchIni += (i ? ",cam" : "cam") + std::to_string(i);
    benchIni += "\n";
    for (size_t i = 0; i < c.cameras.size(); ++i)
        benchIni += "[cam" + std::to_string(i) + "]\nvid=" + c.cameras[i].vid + "\npid=" + c.cameras[i].pid +
                    "\nmi=00\n";
    auto benchDir = dir / "bench";
    e2e::fs::create_directories(benchDir);
    std::ofstream(benchDir / "bench.ini", std::ios::binary) << benchIni;

    e2e::RunOptions options;
    options.workingDirectory = dir;
    options.input = "x";
    options.env["KIT_TEST_RECORD"] = e2e::WindowsPath(dir / "record.txt");
    e2e::ClearRegisteredVideoDevices();
    if (source == Source::Bench) {
        options.env[emu::kBenchEnvVar] = e2e::WindowsPath(benchDir);
    } else {
        emu::Bench bench;
        std::string error;
        ASSERT_TRUE(emu::LoadBench(benchDir.string(), bench, error)) << error;
        for (size_t i = 0; i < bench.cameras.size(); ++i)
            e2e::RegisterVideoDevice("Camera " + std::to_string(i), bench.cameras[i].DevicePath());
    }
    e2e::RunResult r = e2e::RunWine(dir / "Kestrim.exe", c.args, options);
    e2e::ClearRegisteredVideoDevices();

    EXPECT_EQ(r.out, CrtText(kBanner + c.output));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.timedOut);
    std::vector<std::string> started;
    std::ifstream record(dir / "record.txt");
    for (std::string line; std::getline(record, line);) started.push_back(line.substr(line.find('|') + 1));
    EXPECT_EQ(started, c.started);
    bool benchTraced = false;
    for (const std::string& t : r.trace) benchTraced |= t == "emulated bench: " + options.env[emu::kBenchEnvVar] + "\n";
    EXPECT_EQ(benchTraced, source == Source::Bench) << "an emulated run says so in its trace";
}

const KestrimCase kCases[] = {
    {"param7", {{"3b1d", "0001"}}, "VID_3b1d&PID_0001\trecorder.exe first\n", {"abcdefg"},
     Found("0001") + kStarted, {"recorder.exe first abcdefg"}},
    {"param8", {{"3b1d", "0001"}}, "VID_3b1d&PID_0001\trecorder.exe first\n", {"abcdefgh"},
     "Error parameter\r\n", {}},
    {"nodevice", {}, "VID_3b1d&PID_0001\trecorder.exe first\n", {}, kUnable, {}},
    {"secondcamera", {{"3b1d", "0001"}, {"046d", "0825"}, {"3b1d", "0002"}},
     "VID_3b1d&PID_0002\trecorder.exe second\n", {}, Found("0001") + Found("0002") + kStarted,
     {"recorder.exe second"}},
    {"unstartable", {{"3b1d", "0001"}},
     "VID_3b1d&PID_0001\tmissing.exe a\r\nVID_3b1d&PID_0001\trecorder.exe good\r\n", {},
     Found("0001") + "!!! can't open missing.exe a !!!\r\n" + kStarted, {"recorder.exe good"}},
    {"nolinefeed", {{"3b1d", "0001"}}, "VID_3b1d&PID_0001\trecorder.exe last", {}, Found("0001") + kUnable, {}},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, KestrimE2E, ::testing::Combine(::testing::Values(Source::Bench, Source::DirectShow), ::testing::ValuesIn(kCases)),
    [](const auto& info) {
        return std::string(std::get<1>(info.param).name) +
               (std::get<0>(info.param) == Source::Bench ? "_Bench" : "_DirectShow");
    });

TEST(KestrimE2EBench, UnreadableBenchIsReportedAndNothingRealIsUsed) {
    auto dir = e2e::FreshWorkDir("kestrim-badbench");
    e2e::fs::copy_file(e2e::KitProgram("Kestrim.exe"), dir / "Kestrim.exe");
    e2e::ClearRegisteredVideoDevices();
    e2e::RegisterVideoDevice("Real camera", "\\\\?\\usb#vid_3b1d&pid_0001#x#{65e8773d-8f56-11d0-a3b9-00a0c9223196}");
    e2e::RunOptions options;
    options.workingDirectory = dir;
    options.env[emu::kBenchEnvVar] = e2e::WindowsPath(dir / "no-such-bench");
    e2e::RunResult r = e2e::RunWine(dir / "Kestrim.exe", {}, options);
    e2e::ClearRegisteredVideoDevices();
    EXPECT_EQ(r.out, CrtText(kBanner + kUnable));
    EXPECT_NE(r.err.find("Emulated bench cannot be used: no bench.ini in "), std::string::npos) << r.err;
}

}  // namespace
