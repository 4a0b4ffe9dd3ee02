// Safe loading under wine: each program is started from a folder that holds decoys of every DLL
// the kit loads (RvcLib.dll, QuelmarCamera.dll, BurnerApLib.dll), each leaving a mark file when it
// is loaded. Whether the program's own folder holds the real DLL or not, no decoy may be loaded.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "texts.h"
#include "wine.h"
#include "xserver.h"

namespace {

namespace fs = e2e::fs;

const char* const kDecoys[] = {"RvcLib.dll", "QuelmarCamera.dll", "BurnerApLib.dll"};

void Copy(const fs::path& from, const fs::path& to) {
    ASSERT_TRUE(fs::exists(from)) << from << " is missing: build the win64 preset first";
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The folder the program is started from, planted with every decoy.
fs::path PlantedFolder(const std::string& name) {
    fs::path dir = e2e::FreshWorkDir("planted-" + name);
    for (const char* dll : kDecoys) Copy(e2e::KitDir() / "testbin" / "decoy" / dll, dir / dll);
    return dir;
}

// The decoys that were loaded, by the mark they left.
std::vector<std::string> LoadedDecoys(const fs::path& planted) {
    std::vector<std::string> loaded;
    for (const char* dll : kDecoys)
        if (fs::exists(planted / (std::string(dll) + ".loaded"))) loaded.push_back(dll);
    return loaded;
}

bool TraceHas(const e2e::RunResult& r, const std::string& text) {
    for (const std::string& line : r.trace)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

e2e::RunOptions Options(const fs::path& cwd, const fs::path& bench, int seconds) {
    e2e::RunOptions options;
    options.workingDirectory = cwd;
    options.env["CAMKIT_BENCH"] = e2e::WindowsPath(bench);
    options.env["DISPLAY"] = e2e::Screen().Display();
    options.timeout = std::chrono::seconds(seconds);
    return options;
}

class SafeLoadingE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_FALSE(e2e::Screen().Display().empty()) << "Xvfb did not start (scripts/setup.sh installs it)";
    }
};

// Tessaw -s on a bench without a camera of the kit's maker: with every library bound it goes on to
// identification and ends with "No matched device!" (20); without one it stops at start-up.
TEST_F(SafeLoadingE2E, TessawNeverLoadsADecoyFromTheCurrentFolder) {
    struct Case {
        const char* name;
        const char* missing;  // left out of the program's folder
        int code;
        const char* message;
    } cases[] = {
        {"every library beside the program", nullptr, 20, tessaw::kNoMatchedDevice},
        {"no QuelmarCamera.dll beside the program", "QuelmarCamera.dll", 17, tessaw::kNoQuelmarLib},
        {"no RvcLib.dll beside the program", "RvcLib.dll", 16, tessaw::kNoRvcLib},
        // Once imported plainly, it was taken from the current folder by the system loader.
        {"no BurnerApLib.dll beside the program", "BurnerApLib.dll", 44, tessaw::kNoBurnerApLib},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = e2e::FreshWorkDir("tessaw-decoys-" + std::to_string(&c - cases));
        for (const char* program : {"Tessaw.exe", "SubSystemID.exe", "QuelmarCamera.dll"})
            Copy(e2e::KitProgram(program), dir / program);
        for (const char* standIn : {"RvcLib.dll", "BurnerApLib.dll"})
            Copy(e2e::KitDir() / "emu" / standIn, dir / standIn);
        if (c.missing) fs::remove(dir / c.missing);
        Write(dir / "config.ini", "[FW_TOOL]\r\nLogSwitch=0\r\n[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=a.bin\r\n");
        Write(dir / "dev.vrk", "[QUELMAR]\r\nPID=B5A4\r\n");
        fs::create_directories(dir / "bench");
        Write(dir / "bench" / "bench.ini", "[bench]\ncameras=mouse\n[mouse]\nvid=046D\npid=C077\nrev=7200\nport=1\n");
        const fs::path planted = PlantedFolder("tessaw-" + std::to_string(&c - cases));

        e2e::RunResult r = e2e::RunWine(dir / "Tessaw.exe", {"-s"}, Options(planted, dir / "bench", 60));
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        EXPECT_TRUE(TraceHas(r, c.message)) << c.message;
        EXPECT_EQ(LoadedDecoys(planted), std::vector<std::string>{});
        EXPECT_FALSE(TraceHas(r, "decoy loaded") || TraceHas(r, "decoy entry point"));
    }
}

// Orlinde on a bench with a Realtek camera looks for RvcLib.dll at start-up; it is closed with its
// Close button once the dialog is up.
TEST_F(SafeLoadingE2E, OrlindeNeverLoadsADecoyFromTheCurrentFolder) {
    const std::string caption = "Brevant Serial Flash Write Tool for ALL IC v1.0.2.3_ZR";
    {
        // The prefix settles once before the tool and the helper start side by side.
        e2e::RunOptions options;
        options.env["DISPLAY"] = e2e::Screen().Display();
        ASSERT_EQ(e2e::RunWine(e2e::TestProgram("orlinde_gui.exe"), {"sleep", "0"}, options).exitCode, 0);
    }
    struct Case {
        const char* name;
        bool rvcLibBeside;
        bool burnerApLibBeside;
        const char* view;  // how the log begins as the helper prints it (\r\n escaped)
        bool whole;        // the log is that and nothing more
    } cases[] = {
        {"RvcLib.dll beside the tool", true, true, nullptr, false},
        {"no RvcLib.dll beside the tool", false, true, "\\r\\n", true},
        // Once imported plainly, it was taken from the current folder by the system loader. The tool
        // says it is missing and still finds the Realtek camera.
        {"no BurnerApLib.dll beside the tool", true, false,
         "BurnerApLib.dll is not in the tool's folder: Sonix cameras are not looked for.\\r\\n\\r\\n Driver "
         "Connected, initial ok.\\r\\n(Camera) Current bcdDevice version = 0021",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = e2e::FreshWorkDir("orlinde-decoys-" + std::to_string(&c - cases));
        Copy(e2e::KitProgram("Orlinde.exe"), dir / "Orlinde.exe");
        if (c.burnerApLibBeside) Copy(e2e::KitDir() / "emu" / "BurnerApLib.dll", dir / "BurnerApLib.dll");
        if (c.rvcLibBeside) Copy(e2e::KitDir() / "emu" / "RvcLib.dll", dir / "RvcLib.dll");
        Write(dir / "setting.ini", "[SETTING]\r\nChooseBinUsePid=1\r\n");
        fs::create_directories(dir / "bench");
        Write(dir / "bench" / "bench.ini",
              "[bench]\ncameras=rt0\n[rt0]\nchip=realtek\nvid=3A7C\npid=5611\nrev=0021\nmi=00\nport=4\n");
        const fs::path planted = PlantedFolder("orlinde-" + std::to_string(&c - cases));

        std::future<e2e::RunResult> tool = std::async(std::launch::async, [&] {
            return e2e::RunWine(dir / "Orlinde.exe", {}, Options(planted, dir / "bench", 120));
        });
        e2e::RunResult helper = e2e::RunWine(e2e::TestProgram("orlinde_gui.exe"),
                                             {"find", caption, "sleep", "1000", "fields", "click", "1033"},
                                             Options(dir, dir / "bench", 60));
        EXPECT_EQ(helper.exitCode, 0) << helper.out;
        e2e::RunResult r = tool.get();
        EXPECT_FALSE(r.timedOut) << "the tool did not end when closed";
        // On a bench the log view starts with the bench notice.
        const std::string view = "view=emulated bench: " + e2e::WindowsPath(dir / "bench") + "\\r\\n";
        if (c.view) EXPECT_NE(helper.out.find(view + c.view + (c.whole ? "\r\n" : "")), std::string::npos) << helper.out;
        else EXPECT_EQ(helper.out.find(view + "\\r\\n\r\n"), std::string::npos) << "the Realtek camera was not found";
        EXPECT_EQ(LoadedDecoys(planted), std::vector<std::string>{});
        EXPECT_FALSE(TraceHas(r, "decoy loaded") || TraceHas(r, "decoy entry point"));
    }
}

}  // namespace
