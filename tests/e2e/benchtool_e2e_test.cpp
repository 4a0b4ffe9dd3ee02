// The bench tool as a packager runs it on Windows: create a bench from a template, show it.
#include <gtest/gtest.h>

#include <cstdio>

#include "wine.h"

namespace {

TEST(BenchToolE2E, CreatesAndShowsABenchUnderWindows) {
    auto dir = e2e::FreshWorkDir("benchtool");
    auto tool = e2e::KitDir() / "emu" / "benchtool.exe";
    ASSERT_TRUE(e2e::fs::exists(tool)) << tool;
    e2e::RunOptions options;
    options.workingDirectory = dir;
    e2e::RunResult created = e2e::RunWine(tool, {"create", "quelmar-h", "bench"}, options);
    ASSERT_EQ(created.exitCode, 0) << created.err;
    EXPECT_EQ(created.out, e2e::CrtText("created bench bench from template quelmar-h (One Quelmar camera, chip family "
                                        "'h', serial flash code 129 (the direct serial-flash path))\n"));
    EXPECT_EQ(e2e::fs::file_size(dir / "bench" / "cam0.flash"), 65536u);

    e2e::RunResult shown = e2e::RunWine(tool, {"show", e2e::WindowsPath(dir / "bench")}, options);
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("hardware:  USB\\VID_3A7C&PID_B5A3&REV_0012&MI_00\r\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("identity block at 0xB70A: 7C 3A A3 B5 12 00"), std::string::npos) << shown.out;

    e2e::RunResult again = e2e::RunWine(tool, {"create", "quelmar-f", "bench"}, options);
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_NE(again.err.find("already holds a bench"), std::string::npos) << again.err;
}

// Windows refuses to replace a file that another handle holds open, and the bench is read while it
// is written: the updater's plug watch lists it every half second while the library flashes and
// saves the camera's memory after every request. No write may be lost and no read torn.
TEST(BenchStoreE2E, AnImageIsSavedWhileAnotherThreadReadsIt) {
    auto dir = e2e::FreshWorkDir("bench-store");
    e2e::RunResult r =
        e2e::RunWine(e2e::TestProgram("bench_store_probe.exe"), {e2e::WindowsPath(dir), "300"}, e2e::RunOptions{});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    int saved = 0, writes = 0, reads = 0, unreadable = 0, torn = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "saved %d of %d, read %d, unreadable %d, torn %d", &saved, &writes, &reads,
                          &unreadable, &torn),
              5)
        << r.out;
    EXPECT_EQ(saved, 300);
    EXPECT_EQ(torn, 0);
    // The case proves something only if the reader was at work while the writes went on.
    EXPECT_GT(reads, 10) << r.out;
}

}  // namespace
