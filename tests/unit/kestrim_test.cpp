#include <gtest/gtest.h>

#include "fakes.h"
#include "kestrim.h"

namespace {

const std::string kBanner = "Brevant FW matching tool version 12.11.01\r\n";
const std::string kUnable = "Unable to start update process\r\nPress any key to close\r\n";
const std::string kStarted = "Start update process\r\n";

std::string PathOf(const char* vid, const char* pid) {
    return std::string("\\\\?\\usb#vid_") + vid + "&pid_" + pid +
           "&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}

struct Launch {
    fakes::VideoInput devices;
    fakes::Processes processes;
    fakes::Console console;
    fakes::Files files;
    int code = -1;

    Launch& List(const std::string& text) {
        files.contents[kestrim::kListFile] = text;
        return *this;
    }
    Launch& With(std::vector<const char*> args = {}) {
        args.insert(args.begin(), "Kestrim.exe");
        console.input = "k";
        kestrim::Ports ports{devices, processes, console, files};
        code = kestrim::Run(static_cast<int>(args.size()), args.data(), ports);
        return *this;
    }
    std::vector<std::string> Started() const {
        std::vector<std::string> out;
        for (const auto& c : processes.started) out.push_back(c.commandLine);
        return out;
    }
};

TEST(Kestrim, ParameterOfSevenCharactersIsAppendedAfterABlank) {
    Launch run;
    run.devices.AddPath(PathOf("3b1d", "0a1b"));
    run.List("VID_3b1d&PID_0a1b\tupdate.exe -q\n").With({"1234567"});
    EXPECT_EQ(run.console.out, kBanner + "Found source: VID_3b1d, PID_0a1b\r\n" + kStarted);
    EXPECT_EQ(run.Started(), std::vector<std::string>{"update.exe -q 1234567"});
    EXPECT_EQ(run.processes.started[0].application, "") << "the command line names the program";
    EXPECT_EQ(run.processes.waitsForExit, 1);
    EXPECT_EQ(run.processes.closed, 1);
    EXPECT_EQ(run.code, 0);
}

TEST(Kestrim, ParameterOfEightCharactersEndsTheRunAfterTheBanner) {
    Launch run;
    run.devices.AddPath(PathOf("3b1d", "0a1b"));
    run.List("VID_3b1d&PID_0a1b\tupdate.exe\n").With({"12345678", "x"});
    EXPECT_EQ(run.console.out, kBanner + "Error parameter\r\n");
    EXPECT_TRUE(run.processes.started.empty());
    EXPECT_EQ(run.console.reads, 0);
    EXPECT_EQ(run.code, 0);
}

TEST(Kestrim, NoUsableDeviceListWaitsForAKey) {
    for (int32_t result : {kit::kS_FALSE, static_cast<int32_t>(0x80040154u)}) {
        Launch run;
        run.devices.result = result;
        run.List("VID_3b1d&PID_0a1b\tupdate.exe\n").With();
        EXPECT_EQ(run.console.out, kBanner + kUnable) << result;
        EXPECT_EQ(run.console.reads, 1);
        EXPECT_EQ(run.files.opens, 0);
        EXPECT_EQ(run.code, 0);
    }
}

struct ListCase {
    const char* name;
    std::vector<std::string> paths;  // "" = a device whose property bag has no DevicePath
    const char* list;                // nullptr: no list file
    std::string output;              // after the banner
    std::vector<std::string> started;
    std::vector<std::string> missing = {"missing.exe"};
};

class KestrimMatching : public ::testing::TestWithParam<ListCase> {};

TEST_P(KestrimMatching, Table) {
    const ListCase& c = GetParam();
    Launch run;
    for (const std::string& p : c.paths) {
        if (p.empty()) run.devices.devices.push_back({false, "", "Broken"});
        else run.devices.AddPath(p);
    }
    if (c.list) run.List(c.list);
    run.processes.missingPrograms = c.missing;
    run.With();
    EXPECT_EQ(run.console.out, kBanner + c.output);
    EXPECT_EQ(run.Started(), c.started);
    EXPECT_EQ(run.console.reads, c.output.ends_with(kUnable) ? 1 : 0);
}

const std::string kFound1 = "Found source: VID_3b1d, PID_0001\r\n";
const std::string kFound2 = "Found source: VID_3b1d, PID_0002\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, KestrimMatching,
    ::testing::Values(
        ListCase{"second_camera_has_the_line",
                 {PathOf("3b1d", "0001"), PathOf("3b1d", "0002")},
                 "VID_3b1d&PID_0002\tsecond.exe\n",
                 kFound1 + kFound2 + kStarted,
                 {"second.exe"}},
        ListCase{"other_vendors_and_broken_devices_are_skipped",
                 {"", "\\\\?\\root#image#0000#{x}\\global", "\\\\?\\usb#vid_3b1d&mi_00#x",
                  PathOf("046d", "0002"), PathOf("3b1d", "0002")},
                 "VID_046d&PID_0002\twrong.exe\nVID_3b1d&PID_0002\tright.exe\n",
                 "Found a NULL VID\r\nFound a NULL PID\r\n" + kFound2 + kStarted,
                 {"right.exe"}},
        ListCase{"upper_case_digits_do_not_match",
                 {PathOf("3b1d", "00ab")},
                 "VID_3B1D&PID_00AB\tupper.exe\n",
                 "Found source: VID_3b1d, PID_00ab\r\n" + kUnable,
                 {}},
        ListCase{"last_line_without_line_feed_is_never_matched",
                 {PathOf("3b1d", "0001")},
                 "VID_3b1d&PID_0002\tother.exe\nVID_3b1d&PID_0001\tlast.exe",
                 kFound1 + kUnable,
                 {}},
        ListCase{"unstartable_line_then_a_good_one",
                 {PathOf("3b1d", "0001")},
                 "VID_3b1d&PID_0001\tmissing.exe /a\r\n\r\nPID_0001 VID_3b1d\tgood.exe\textra\r\n",
                 kFound1 + "!!! can't open missing.exe /a !!!\r\n" + kStarted,
                 {"missing.exe /a", "good.exe"}},
        ListCase{"no_list_file",
                 {PathOf("3b1d", "0001"), PathOf("3b1d", "0002")},
                 nullptr,
                 kFound1 + "Can't load Brevant ID list!!\r\n" + kFound2 + "Can't load Brevant ID list!!\r\n" + kUnable,
                 {}},
        ListCase{"line_without_markers_or_tab",
                 {PathOf("3b1d", "0001")},
                 "3b1d 0001\tnomarkers.exe\nVID_3b1d\tnopid.exe\nVID_3b1d&PID_0001\n",
                 kFound1 + "!!! can't open  !!!\r\n" + kUnable,
                 {""}},
        ListCase{"ctrl_z_ends_the_list",
                 {PathOf("3b1d", "0001")},
                 "VID_3b1d&PID_0002\tx.exe\n\x1aVID_3b1d&PID_0001\thidden.exe\n",
                 kFound1 + kUnable,
                 {}},
        ListCase{"over_long_line_is_refused_not_cut",
                 {PathOf("3b1d", "0001")},
                 // 140 characters: its tail, if cut off at 127, would read as a matching line.
                 "VID_3b1d&PID_0001\t" "cut.exe" "                                                                                                                     \n"
                 "VID_3b1d&PID_0001\tfits.exe\n",
                 kFound1 + "!!! ID list line 1 is longer than 127 characters, skipped !!!\r\n" + kStarted,
                 {"fits.exe"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Kestrim, LineOfExactly127CharactersIsUsedWhole) {
    std::string command = "tool.exe";
    std::string line = "VID_3b1d&PID_0001\t" + command;
    line += std::string(127 - line.size() - 1, ' ') + "Z";
    ASSERT_EQ(line.size(), 127u);
    Launch run;
    run.devices.AddPath(PathOf("3b1d", "0001"));
    run.List(line + "\n").With({"abcdefg"});
    ASSERT_EQ(run.processes.started.size(), 1u);
    EXPECT_EQ(run.processes.started[0].commandLine, line.substr(18) + " abcdefg");
}

TEST(Kestrim, TakeAfterReadsFourCharactersOrWhatIsLeft) {
    std::string out;
    EXPECT_TRUE(kestrim::TakeAfter("x&vid_3b1d&pid_12", "vid_", out));
    EXPECT_EQ(out, "3b1d");
    EXPECT_TRUE(kestrim::TakeAfter("x&vid_3b1d&pid_12", "pid_", out));
    EXPECT_EQ(out, "12");
    EXPECT_FALSE(kestrim::TakeAfter("x&VID_3b1d", "vid_", out));
}

}  // namespace
