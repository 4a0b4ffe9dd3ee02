// Tessac under wine: starts the stand-in child as "Tessaw.exe" from its own folder.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tessac.h"
#include "wine.h"

namespace {

using e2e::CrtText;
using e2e::fs::path;

struct TessacRun {
    path dir;
    path record;
    e2e::RunResult result;

    // Tessac.exe and the stand-in child as Tessaw.exe in a fresh folder.
    explicit TessacRun(const std::string& name, bool withChild = true) {
        dir = e2e::FreshWorkDir("tessac-" + name);
        record = dir / "record.txt";
        e2e::fs::copy_file(e2e::KitProgram("Tessac.exe"), dir / "Tessac.exe");
        if (withChild) e2e::fs::copy_file(e2e::TestProgram("recorder.exe"), dir / "Tessaw.exe");
    }
    TessacRun& Run(std::vector<std::string> args, const std::string& child = "exit=0", path cwd = {},
                   std::chrono::seconds timeout = std::chrono::seconds(60)) {
        e2e::RunOptions options;
        options.workingDirectory = cwd.empty() ? dir : cwd;
        options.env = {{"KIT_TEST_RECORD", e2e::WindowsPath(record)}, {"KIT_TEST_CHILD", child}};
        options.timeout = timeout;
        result = e2e::RunWine(dir / "Tessac.exe", args, options);
        return *this;
    }
    // The child's "<directory>|<command line>" lines; waits a little for a child that was not waited for.
    std::vector<std::string> ChildRecords(int expected = 1) {
        std::vector<std::string> lines;
        for (int i = 0; i < 100; ++i) {
            lines.clear();
            std::ifstream in(record);
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            if (static_cast<int>(lines.size()) >= expected) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return lines;
    }
};

const std::string kHeader = "Korvath Camera firmware update in progress.\nPlease wait";

TEST(TessacE2E, SilentUpdateThatSucceeds) {
    for (const char* flag : {"-s", "-S"}) {
        TessacRun run(std::string("ok") + flag);
        run.Run({flag});
        EXPECT_EQ(run.result.out, CrtText(kHeader + "done.\nUpdate successfully, please reboot.\n")) << flag;
        EXPECT_EQ(run.result.exitCode, 0);
        EXPECT_GE(run.result.seconds, 3.2) << "the final pause lets a console window be read";
        EXPECT_EQ(run.ChildRecords(), std::vector<std::string>{e2e::WindowsPath(run.dir) + "|Tessaw.exe -s"});
    }
}

TEST(TessacE2E, SilentUpdateThatFailsPrintsTheCodeInLowerCaseHex) {
    TessacRun run("fail");
    // Ends between the 5th and the 10th poll: exactly one dot.
    run.Run({"-s"}, "sleep=1200,exit=0x1A");
    EXPECT_EQ(run.result.out, CrtText(kHeader + ".done.\nError(1a), please refer to log.\n"));
    EXPECT_EQ(run.result.exitCode, 26);
}

TEST(TessacE2E, AnythingButOneSilentSwitchStartsPlainAndReturnsAtOnce) {
    for (std::vector<std::string> args : {std::vector<std::string>{"-silent"}, {"-s", "x"}, {}}) {
        TessacRun run("plain" + std::to_string(args.size()) + (args.empty() ? "" : args[0]));
        run.Run(args, "sleep=3000,exit=7");
        EXPECT_EQ(run.result.out, "");
        EXPECT_EQ(run.result.exitCode, 0);
        EXPECT_LT(run.result.seconds, 3.0) << "no wait for the child";
        EXPECT_EQ(run.ChildRecords(), std::vector<std::string>{e2e::WindowsPath(run.dir) + "|Tessaw.exe"});
    }
}

TEST(TessacE2E, MissingChildReportsTheLastError) {
    TessacRun run("missing", /*withChild=*/false);
    run.Run({"-s"});
    EXPECT_EQ(run.result.out, CrtText("Error(2) creating process.\n"));
    EXPECT_EQ(run.result.exitCode, 2);
    EXPECT_GE(run.result.seconds, 3.0);
}

TEST(TessacE2E, StartedFromAnotherDirectoryFindsTheChildBesideItself) {
    TessacRun run("elsewhere");
    path other = e2e::FreshWorkDir("tessac-elsewhere-cwd");
    e2e::fs::copy_file(e2e::TestProgram("recorder.exe"), other / "Tessaw.exe");  // must not be used
    run.Run({"-s"}, "exit=0", other);
    EXPECT_EQ(run.result.exitCode, 0);
    EXPECT_EQ(run.ChildRecords(), std::vector<std::string>{e2e::WindowsPath(run.dir) + "|Tessaw.exe -s"});
}

TEST(TessacE2E, PathTooDeepIsRefused) {
    // A folder deep enough that the program's own path fills the 260-character buffer.
    path deep = e2e::FreshWorkDir("tessac-deep");
    while (e2e::WindowsPath(deep / "Tessac.exe").size() < 270) deep /= "deeper-folder-level";
    e2e::fs::create_directories(deep);
    e2e::fs::copy_file(e2e::KitProgram("Tessac.exe"), deep / "Tessac.exe");
    e2e::fs::copy_file(e2e::TestProgram("recorder.exe"), deep / "Tessaw.exe");
    e2e::RunOptions options;
    options.workingDirectory = deep;
    e2e::RunResult r = e2e::RunWine(deep / "Tessac.exe", {"-s"}, options);
    EXPECT_EQ(r.out, CrtText("Camera update tool path too deep!\n"));
    EXPECT_EQ(r.exitCode, 30840 & 0xFF);
}

// About 203 seconds: run on its own with `ctest -L slow`.
TEST(TessacE2ESlow, ChildThatNeverEndsIsGivenUpAfterAThousandPolls) {
    TessacRun run("forever");
    run.Run({"-s"}, "forever", {}, std::chrono::seconds(300));
    EXPECT_FALSE(run.result.timedOut);
    EXPECT_EQ(run.result.out, CrtText(kHeader + std::string(200, '.') + "done.\nError(103), please refer to log.\n"));
    EXPECT_EQ(run.result.exitCode, 259 & 0xFF);
    EXPECT_GE(run.result.seconds, 200.0);
}

}  // namespace
