// The kit under test is the one the entry names: every program, library and helper in its build
// folders is of its machine, and a program of it runs as such under wine. A harness that fell back
// to the other kit would otherwise pass every case of this one.
#include <gtest/gtest.h>

#include "wine.h"

namespace {

TEST(KitUnderTestE2E, EveryProgramAndLibraryIsOfTheNamedKit) {
    int checked = 0;
    for (const char* folder : {"kit", "emu", "testbin"}) {
        const e2e::fs::path dir = e2e::KitDir() / folder;
        ASSERT_TRUE(e2e::fs::is_directory(dir)) << dir << ": build the " << e2e::KitName() << " preset";
        for (const auto& entry : e2e::fs::recursive_directory_iterator(dir)) {
            const auto ext = entry.path().extension();
            if (!entry.is_regular_file() || (ext != ".exe" && ext != ".dll")) continue;
            EXPECT_EQ(e2e::PeMachine(entry.path()), e2e::KitMachine()) << entry.path();
            ++checked;
        }
    }
    // The kit's five programs and its library, the stand-ins and the test helpers at the least.
    EXPECT_GE(checked, 20) << "too few programs in " << e2e::KitDir();
}

TEST(KitUnderTestE2E, AProgramOfTheKitRunsAsThatKit) {
    e2e::RunResult r = e2e::RunWine(e2e::TestProgram("kit_probe.exe"), {}, e2e::RunOptions{});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string expected = e2e::KitName() == "win32"
                                     ? "pointer bits 32, 32-bit process on a 64-bit system: yes\n"
                                     : "pointer bits 64, 32-bit process on a 64-bit system: no\n";
    EXPECT_EQ(r.out, e2e::CrtText(expected));
}

TEST(KitUnderTestE2E, TheMachineCheckTellsTheTwoKitsApart) {
    const e2e::fs::path root = e2e::KitDir().parent_path();
    EXPECT_EQ(e2e::PeMachine(root / "win32" / "kit" / "Tessaw.exe"), "i386");
    EXPECT_EQ(e2e::PeMachine(root / "win64" / "kit" / "Tessaw.exe"), "x86-64");
    const e2e::fs::path notPe = e2e::FreshWorkDir("kit-machine") / "config.ini";
    e2e::fs::copy_file(e2e::KitProgram("config.ini"), notPe);
    EXPECT_EQ(e2e::PeMachine(notPe), "not a PE file");
}

}  // namespace
