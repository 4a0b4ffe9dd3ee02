#include <gtest/gtest.h>

#include "fakes.h"
#include "tessac.h"

namespace {

struct Launch {
    fakes::System system;
    fakes::Processes processes{&system};
    fakes::Console console;
    int code = -1;

    explicit Launch(fakes::ScriptedChild child = {}) {
        processes.script = {child};
        processes.currentDirectory = &system.currentDirectory;
    }
    Launch& With(std::vector<const char*> args) {
        args.insert(args.begin(), "Tessac.exe");
        tessac::Ports ports{system, processes, console};
        code = tessac::Run(static_cast<int>(args.size()), args.data(), ports);
        return *this;
    }
};

const std::string kWaitHeader = "Korvath Camera firmware update in progress.\nPlease wait";

struct ArgCase {
    std::vector<const char*> args;
    bool silent;
};
// Names a failing case by its arguments (gtest would otherwise dump the record's bytes, padding
// included).
void PrintTo(const ArgCase& c, std::ostream* out) {
    *out << "{";
    for (const char* a : c.args) *out << " \"" << a << "\"";
    *out << " }";
}

class TessacArguments : public ::testing::TestWithParam<ArgCase> {};

TEST_P(TessacArguments, OnlyExactlyOneDashSOrDashCapitalSIsSilent) {
    fakes::ScriptedChild child;
    child.exitCode = 0x1A;  // a plain start must not report or return this
    Launch run(child);
    run.With(GetParam().args);
    ASSERT_EQ(run.processes.started.size(), 1u);
    EXPECT_EQ(run.processes.started[0].application, "Tessaw.exe");
    if (GetParam().silent) {
        EXPECT_EQ(run.processes.started[0].commandLine, "Tessaw.exe -s");
        EXPECT_EQ(run.code, 0x1A);
    } else {
        EXPECT_EQ(run.processes.started[0].commandLine, "Tessaw.exe");
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(run.console.out, "");
        EXPECT_EQ(run.system.nowMs, 0u) << "a plain start returns at once";
    }
    EXPECT_EQ(run.processes.closed, 1);
}

INSTANTIATE_TEST_SUITE_P(Table, TessacArguments,
                         ::testing::Values(ArgCase{{"-s"}, true}, ArgCase{{"-S"}, true},
                                           ArgCase{{}, false}, ArgCase{{"-s", "x"}, false},
                                           ArgCase{{"-s "}, false}, ArgCase{{"-silent"}, false},
                                           ArgCase{{"/s"}, false}, ArgCase{{"x", "-s"}, false}));

TEST(Tessac, StartsTheChildFromItsOwnFolder) {
    Launch run;
    run.system.modulePath = "D:\\tools\\camera kit\\Tessac.exe";
    run.With({"-s"});
    EXPECT_EQ(run.processes.started.at(0).directory, "D:\\tools\\camera kit");
    // The wait for the child's first input is bounded; a console child answers it at once anyway.
    EXPECT_EQ(run.processes.idleWaits, std::vector<uint32_t>{1000});
}

struct WaitCase {
    const char* name;
    uint64_t childRunsMs;
    uint32_t childCode;
    bool neverEnds;
    std::string expectedTail;  // after the wait header
    int expectedCode;
    uint64_t expectedMs;
};

class TessacWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(TessacWait, PrintsDotsAndOutcomeAndReturnsTheChildsCode) {
    const WaitCase& c = GetParam();
    fakes::ScriptedChild child;
    child.runsForMs = c.childRunsMs;
    child.exitCode = c.childCode;
    child.neverEnds = c.neverEnds;
    Launch run(child);
    run.With({"-s"});
    EXPECT_EQ(run.console.out, kWaitHeader + c.expectedTail);
    EXPECT_EQ(run.code, c.expectedCode);
    EXPECT_EQ(run.system.nowMs, c.expectedMs);
    EXPECT_EQ(run.processes.closed, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TessacWait,
    ::testing::Values(
        // Ended by the first poll: no dot, and the poll still sleeps once before the 3 s pause.
        WaitCase{"first_poll", 0, 0, false, "done.\nUpdate successfully, please reboot.\n", 0, 3200},
        // Ends during the sixth poll: the fifth poll leaves 995 and prints one dot.
        WaitCase{"one_second", 1000, 0x1A, false, ".done.\nError(1a), please refer to log.\n", 26, 4200},
        WaitCase{"large_code", 0, 0xC0000135u, false, "done.\nError(c0000135), please refer to log.\n",
                 static_cast<int>(0xC0000135u), 3200},
        // The refusals of Tessaw's opt-in checks each have their own line; their neighbours do not.
        WaitCase{"up_to_date", 0, 40, false, "done.\nFirmware already up to date, nothing to do.\n", 40, 3200},
        WaitCase{"no_downgrade", 0, 41, false, "done.\nCamera firmware is newer than the update, nothing to do.\n",
                 41, 3200},
        WaitCase{"on_battery", 0, 42, false, "done.\nComputer on battery, connect the AC adapter and try again.\n",
                 42, 3200},
        WaitCase{"wrong_image", 0, 43, false,
                 "done.\nError(2b), the firmware file is not for this camera, please refer to log.\n", 43, 3200},
        WaitCase{"after_checks", 0, 44, false, "done.\nError(2c), please refer to log.\n", 44, 3200},
        WaitCase{"no_backup", 0, 45, false,
                 "done.\nError(2d), the camera firmware could not be backed up, nothing was written, please refer "
                 "to log.\n",
                 45, 3200},
        WaitCase{"after_backup", 0, 46, false, "done.\nError(2e), please refer to log.\n", 46, 3200},
        WaitCase{"low_byte_40", 0, 0x128, false, "done.\nError(128), please refer to log.\n", 0x128, 3200},
        WaitCase{"never_ends", 0, 0, true,
                 std::string(200, '.') + "done.\nError(103), please refer to log.\n", 259, 203000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tessac, FailedStartReportsTheLastErrorAndPauses) {
    fakes::ScriptedChild child;
    child.fails = true;
    child.error = 2;
    Launch run(child);
    run.With({"-s"});
    EXPECT_EQ(run.console.out, "Error(2) creating process.\n");
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.system.nowMs, 3000u);
    EXPECT_EQ(run.processes.closed, 0) << "nothing was opened";
}

TEST(Tessac, PathThatFillsTheBufferIsRefusedBeforeAnythingStarts) {
    for (size_t length : {259u, 260u, 400u}) {
        Launch run;
        run.system.modulePath = "C:\\" + std::string(length - 3, 'd');
        run.With({"-s"});
        if (length < 260) {
            EXPECT_EQ(run.processes.started.size(), 1u) << length;
            continue;
        }
        EXPECT_EQ(run.console.out, "Camera update tool path too deep!\n") << length;
        EXPECT_EQ(run.code, 30840);
        EXPECT_TRUE(run.processes.started.empty());
        EXPECT_EQ(run.system.nowMs, 3000u);
    }
}

}  // namespace
