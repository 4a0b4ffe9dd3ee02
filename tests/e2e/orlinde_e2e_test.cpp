// Orlinde under wine on an emulated Quelmar camera, driven from outside by a helper that finds the
// dialog by its caption and works its controls by ID: the identification at start-up (the exact log
// view), a download that succeeds (what lands in the camera's flash), one the camera fails, and the
// command-line mode that downloads and closes by itself. Screenshots of the running, success and
// fail pictures are saved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <sstream>

#include "bench_tool.h"
#include "camlib/camlib.h"
#include "camlib/internals.h"
#include "wine.h"
#include "xserver.h"

namespace {

namespace fs = e2e::fs;
using Bytes = std::vector<uint8_t>;

const std::string kCaption = "Brevant Serial Flash Write Tool for ALL IC v1.0.2.3_ZR";
constexpr char kFamily = 'i';
constexpr uint32_t kFlashCode = 124;
constexpr uint16_t kFileRevision = 0x0013;

std::string Camera(const std::string& extra = "") {
    return "[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\nrev=0012\nmi=00\nport=3\nfamily="
           "i\n"
           "flash=124\ncarrier=ks\n" +
           extra;
}

// A 64 KiB image: an erased header (the download marks it valid), a pattern, and the identity block
// of the family with the release the file carries.
Bytes Image(char family = kFamily) {
    Bytes b(65536);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 29 + (i >> 9) + 3);
    b[0] = b[1] = 0xFF;
    const uint32_t at = camlib::IdentityOffset(family);
    b[at + 4] = kFileRevision & 0xFF;
    b[at + 5] = kFileRevision >> 8;
    return b;
}

// A Realtek camera record of a bench.
std::string RealtekCamera(const std::string& name, const std::string& pid, const std::string& rev, int port) {
    return "[" + name + "]\nchip=realtek\nvid=3A7C\npid=" + pid + "\nrev=" + rev + "\nmi=00\nport=" +
           std::to_string(port) + "\n";
}

// A Sonix camera whose ROM's sector table puts the protect byte at 0xC034; `benchKeys` go to [bench].
std::string SonixBench(const std::string& benchKeys = "") {
    return "[bench]\ncameras=cam0\n" + benchKeys +
           "[cam0]\nchip=sonix\nvid=3A7C\npid=6366\nrev=0100\nmi=00\nport=3\n"
           "rom_version=232RO\nrom_index=2\nsector_table=0x1000\nasic=0x1008:C0\n";
}

// What that Sonix camera's flash holds before a download: its version (0105) lies at 0x200A.
Bytes SonixFlash() {
    Bytes before(65536, 0x3C);
    before[0x168] = 0x20;
    before[0x200A] = 0x01;
    before[0x200B] = 0x05;
    before[0xC034] = 0x5A;
    return before;
}

// A pattern that no memory holds by chance.
Bytes Pattern(size_t n, unsigned step) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * step + (i >> 8));
    return b;
}

// What the camera's flash must hold after the image was downloaded: the flash-type byte the
// download patches for the part, and the valid mark written over the header once the checksums
// agreed.
Bytes Downloaded(Bytes image) {
    image[static_cast<size_t>(camlib::PatchOffset(kFamily))] =
        camlib::PatchValue(kFamily, camlib::FlashTableIndex(kFlashCode));
    image[0] = 0x89;
    image[1] = 0x16;
    return image;
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "key=value" lines of the helper, carriage returns of its C runtime dropped.
std::map<std::string, std::string> Fields(const std::string& out) {
    std::map<std::string, std::string> fields;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + (line.empty() || line.back() != '\n' ? "\n" : "");
    return out;
}

// The helper prints \r and \n as escapes.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};
Rect ParseRect(const std::string& text) {
    Rect r;
    std::sscanf(text.c_str(), "%d,%d,%d,%d", &r.x, &r.y, &r.width, &r.height);
    return r;
}

// The tool's folder as a bench user sets it up: the program, the two vendor library stand-ins, the
// settings, the product-ID map and the firmware file, and a bench with one Quelmar camera.
class ToolFolder {
public:
    ToolFolder(const std::string& name, const std::string& settings, const std::string& bench = Camera())
        : dir_(e2e::FreshWorkDir("orlinde-" + name)) {
        Copy(e2e::KitProgram("Orlinde.exe"), "Orlinde.exe");
        for (const char* standIn : {"RvcLib.dll", "BurnerApLib.dll"})
            Copy(e2e::KitDir() / "emu" / standIn, standIn);
        Write("setting.ini", "[SETTING]\r\n" + settings);
        Write("pid.ini", "[PID_B5A4]\r\nBIN=fw.bin\r\nModuleID=QM-B5A4\r\n");
        fs::create_directories(dir_ / "bin");
        image_ = Image();
        Write("bin/fw.bin", std::string(image_.begin(), image_.end()));
        fs::create_directories(dir_ / "bench");
        Write("bench/bench.ini", bench);
    }
    void Copy(const fs::path& from, const std::string& name) {
        ASSERT_TRUE(fs::exists(from)) << from << " is missing: build the win64 preset first";
        fs::copy_file(from, dir_ / name, fs::copy_options::overwrite_existing);
    }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    void Write(const std::string& name, const Bytes& bytes) { Write(name, std::string(bytes.begin(), bytes.end())); }
    // Replaced in one step: the tool's look at the bench never sees half a file.
    void SetBench(const std::string& ini) {
        Write("bench/bench.ini.new", ini);
        fs::rename(dir_ / "bench" / "bench.ini.new", dir_ / "bench" / "bench.ini");
    }
    e2e::RunOptions Options(int seconds, const fs::path& cwd = {}) const {
        e2e::RunOptions options;
        options.workingDirectory = cwd.empty() ? dir_ : cwd;
        options.env["CAMKIT_BENCH"] = e2e::WindowsPath(dir_ / "bench");
        options.env["DISPLAY"] = e2e::Screen().Display();
        options.timeout = std::chrono::seconds(seconds);
        return options;
    }
    // Starts the tool; the future ends with it.
    std::future<e2e::RunResult> Start(int seconds = 120, const fs::path& cwd = {}) const {
        return std::async(std::launch::async, [this, seconds, cwd] {
            return e2e::RunWine(dir_ / "Orlinde.exe", {}, Options(seconds, cwd));
        });
    }
    // Runs the helper on the dialog with the steps.
    std::map<std::string, std::string> Drive(std::vector<std::string> steps) const {
        steps.insert(steps.begin(), {"find", kCaption});
        e2e::RunResult r = e2e::RunWine(e2e::TestProgram("orlinde_gui.exe"), steps, Options(60));
        EXPECT_EQ(r.exitCode, 0) << "helper: " << r.out << "its steps:\n" << r.err;
        return Fields(r.out);
    }
    const fs::path& Dir() const { return dir_; }
    void Firmware(const std::string& name, const Bytes& image) {
        image_ = image;
        Write("bin/" + name, std::string(image.begin(), image.end()));
    }
    std::string WindowsDir() const { return e2e::WindowsPath(dir_); }
    // The first line of the log view on this bench.
    std::string Notice() const { return "emulated bench: " + e2e::WindowsPath(dir_ / "bench") + "\r\n"; }
    // The first 64 KiB of a camera's flash (the bench keeps a larger part).
    Bytes Flash() const {
        Bytes f = ReadFile(dir_ / "bench" / "cam0.flash");
        if (f.size() > 65536) f.resize(65536);
        return f;
    }
    const Bytes& Sent() const { return image_; }

private:
    fs::path dir_;
    Bytes image_;
};

// The log of an identification of the bench's camera with release `rev`.
std::string Identified(const ToolFolder& folder, const std::string& rev = "0012") {
    return "\r\n Driver Connected, initial ok.\r\n(Camera) Current bcdDevice version = " + rev +
           "\r\n"
           "(Camera) Current VID number = 3A7C\r\n(Camera) Current PID number = B5A4\r\n"
           "Open File " +
           folder.WindowsDir() +
           "\\bin\\fw.bin\r\n65536 bytes (64.0 KB) has been read\r\n(File) New bcdDevice version = 0013\r\n";
}

// The log of an identification of the Sonix camera above with a 40000-byte file.
std::string SonixIdentified(const ToolFolder& folder) {
    return folder.Notice() +
           "\r\n Driver Connected, (Camera) Current bcdDevice version = 0105\r\n"
           "(Camera) Current VID number = 3a7c\r\n(Camera) Current PID number = 6366\r\nOpen File " +
           folder.WindowsDir() +
           "\\bin\\sx.bin\r\n40000 bytes (39.1 KB) has been read\r\n"
           "(File) New bcdDevice version = 0101\r\n";
}

// The log lines of one Realtek camera found by the identification.
std::string RealtekLines(const std::string& pid, const std::string& rev) {
    return "(Camera) Current bcdDevice version = " + rev + "\r\n(Camera) Current VID number = 3A7C\r\n" +
           "(Camera) Current PID number = " + pid + "\r\n";
}

class OrlindeE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(e2e::Screen().Display().empty()) << "Xvfb did not start (scripts/setup.sh installs it)";
        fs::create_directories(ScreenshotDir());
        // The prefix is made by the first program run in it: the tool and the helper, started side by
        // side, must not both set it up.
        static const bool warm = [] {
            e2e::RunOptions options;
            options.env["DISPLAY"] = e2e::Screen().Display();
            return e2e::RunWine(e2e::TestProgram("orlinde_gui.exe"), {"sleep", "0"}, options).exitCode == 0;
        }();
        ASSERT_TRUE(warm) << "the helper does not run under wine";
    }
    static fs::path ScreenshotDir() { return fs::path(KIT_E2E_WORK_DIR) / "screenshots"; }
    static void Shoot(const std::map<std::string, std::string>& f, const std::string& name) {
        const Rect r = ParseRect(f.count("rect") ? f.at("rect") : "");
        EXPECT_TRUE(e2e::Screen().Screenshot(ScreenshotDir() / name, r.x, r.y, r.width, r.height)) << name;
    }
    // Closes the tool with its "Close" button and waits for the process to end.
    static void Close(const ToolFolder& folder, std::future<e2e::RunResult>& tool) {
        folder.Drive({"click", "1033"});
        e2e::RunResult r = tool.get();
        EXPECT_FALSE(r.timedOut) << "the tool did not end when closed; its trace:\n"
                                 << Joined(r.trace) << "its standard error:\n"
                                 << r.err;
    }
};

TEST_F(OrlindeE2E, IdentifiesAQuelmarCameraAtStartUp) {
    ToolFolder folder("identify", "ChooseBinUsePid=1\r\n");
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f = folder.Drive({"wait-enabled", "1003", "1", "fields"});
    EXPECT_EQ(f["caption"], kCaption);
    EXPECT_EQ(f["view"], Escaped(folder.Notice() + Identified(folder)));
    EXPECT_EQ(f["module"], "QM-B5A4");
    EXPECT_EQ(f["path"], folder.WindowsDir() + "\\bin\\fw.bin");
    EXPECT_EQ(f["flash"], "enabled");
    EXPECT_EQ(f["close"], "enabled");
    EXPECT_EQ(f["autoscroll"], "1");
    EXPECT_EQ(f["progress"], "0");
    EXPECT_EQ(f["picture"], "idle");
    Close(folder, tool);
    // Identification alone writes nothing to the camera.
    EXPECT_NE(folder.Flash(), Downloaded(folder.Sent()));
}

TEST_F(OrlindeE2E, AQuelmarDownloadLandsInTheFlashAndShowsSuccess) {
    // Small chunks stretch the download to a few seconds, long enough to see it running.
    ToolFolder folder("download", "ChooseBinUsePid=1\r\n", Camera("fault=chunk=64\n"));
    std::future<e2e::RunResult> tool = folder.Start();
    // The helper reads the buttons and takes the picture itself the moment it sees "Running".
    const fs::path running = folder.Dir() / "running.bmp";
    std::map<std::string, std::string> f =
        folder.Drive({"wait-enabled", "1003", "1", "click", "1003", "wait-picture", "running", "shot",
                      e2e::WindowsPath(running), "fields"});
    EXPECT_EQ(f["flash"], "disabled");
    EXPECT_EQ(f["close"], "disabled");
    const std::string convert =
        "convert '" + running.string() + "' '" + (ScreenshotDir() / "orlinde-running.png").string() + "'";
    EXPECT_EQ(std::system(convert.c_str()), 0) << convert;

    f = folder.Drive({"wait-picture", "success", "wait-enabled", "1033", "1", "rect", "fields"});
    Shoot(f, "orlinde-success.png");
    EXPECT_EQ(f["view"],
              Escaped(folder.Notice() + Identified(folder) +
                      " Start Download\r\n Downloading...\r\nDownload complete.\r\n"));
    EXPECT_EQ(f["progress"], "100");
    EXPECT_EQ(f["flash"], "enabled");
    EXPECT_EQ(f["picture"], "success");
    EXPECT_EQ(folder.Flash(), Downloaded(folder.Sent()));
    Close(folder, tool);
}

TEST_F(OrlindeE2E, BenchPlugEventsAfterADownloadReidentifyTheCamera) {
    ToolFolder folder("plug", "ChooseBinUsePid=1\r\n");
    std::future<e2e::RunResult> tool = folder.Start();
    // Before a first download has ended, plug events are not acted on.
    folder.Drive({"wait-enabled", "1003", "1"});
    folder.SetBench("[bench]\ncameras=\n");
    folder.Drive({"sleep", "1500"});
    folder.SetBench(Camera());
    std::map<std::string, std::string> f = folder.Drive(
        {"sleep", "1500", "click", "1003", "wait-picture", "success", "wait-enabled", "1033", "1", "fields"});
    const std::string downloaded =
        folder.Notice() + Identified(folder) + " Start Download\r\n Downloading...\r\nDownload complete.\r\n";
    EXPECT_EQ(f["view"], Escaped(downloaded));

    // Unplugged: the blank picture and one line.
    folder.SetBench("[bench]\ncameras=\n");
    f = folder.Drive({"wait-text", "1000", "Camera Plug out", "wait-picture", "idle", "fields"});
    EXPECT_EQ(f["view"], Escaped(downloaded + "Camera Plug out\r\n"));

    // Plugged in again: identified afresh, with the release its new firmware carries.
    folder.SetBench(Camera());
    f = folder.Drive(
        {"wait-text", "1000", "(Camera) Current bcdDevice version = 0013", "sleep", "500", "fields"});
    EXPECT_EQ(f["view"], Escaped(downloaded +
                                 "Camera Plug out\r\n====================================\r\n"
                                 "Camera Plug in\r\n" +
                                 Identified(folder, "0013")));
    EXPECT_EQ(f["flash"], "enabled");
    Close(folder, tool);
}

TEST_F(OrlindeE2E, ADownloadTheCameraFailsShowsFail) {
    // From the third chunk on, the camera refuses the image's chunks.
    ToolFolder folder("fail", "ChooseBinUsePid=1\r\n", Camera("fault=fail=xu_write:10@3+\n"));
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f =
        folder.Drive({"wait-enabled", "1003", "1", "click", "1003", "wait-picture", "fail", "wait-enabled",
                      "1033", "1", "rect", "fields"});
    Shoot(f, "orlinde-fail.png");
    EXPECT_EQ(f["view"],
              Escaped(folder.Notice() + Identified(folder) +
                      " Start Download\r\n Downloading...\r\nDownload fail.\r\n"));
    EXPECT_EQ(f["progress"], "100");
    EXPECT_EQ(f["flash"], "enabled");
    EXPECT_NE(folder.Flash(), Downloaded(folder.Sent()));
    Close(folder, tool);
}

TEST_F(OrlindeE2E, ARealtekDownloadWritesTheFileIntoTheCamerasMemory) {
    // No Quelmar camera and no Sonix device: RvcLib.dll, loaded by name from the tool's folder.
    ToolFolder folder(
        "realtek", "ChooseBinUsePid=1\r\n",
        "[bench]\ncameras=rt0\n[rt0]\nchip=realtek\nvid=3A7C\npid=5611\nrev=0021\nmi=00\nport=4\n");
    folder.Write("pid.ini", "[PID_5611]\r\nBIN=rt.bin\r\nModuleID=RT-5611\r\nVER=0022\r\n");
    Bytes image(65536);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    folder.Firmware("rt.bin", image);
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f = folder.Drive({"wait-enabled", "1003", "1", "fields"});
    const std::string identified =
        folder.Notice() +
        "\r\n Driver Connected, initial ok.\r\n(Camera) Current bcdDevice version = 0021\r\n"
        "(Camera) Current VID number = 3A7C\r\n(Camera) Current PID number = 5611\r\nOpen File " +
        folder.WindowsDir() + "\\bin\\rt.bin\r\n(File) New bcdDevice version = 0022\r\n";
    EXPECT_EQ(f["view"], Escaped(identified));
    EXPECT_EQ(f["module"], "RT-5611");

    f = folder.Drive({"click", "1003", "wait-picture", "success", "wait-enabled", "1033", "1", "fields"});
    EXPECT_EQ(f["view"],
              Escaped(identified + " Start Download\r\n Downloading...\r\nPID = 5611 Download complete\r\n"
                                   "Download complete.\r\n"));
    EXPECT_EQ(f["progress"], "100");
    EXPECT_EQ(ReadFile(folder.Dir() / "bench" / "rt0.eeprom"), image);
    folder.Drive({"click", "1033"});
    e2e::RunResult r = tool.get();
    EXPECT_FALSE(r.timedOut);
    // The library's progress reports, on standard output.
    EXPECT_NE(r.out.find("\rDownload Stage is: 65536 / 65536"), std::string::npos) << r.out.substr(0, 200);
}

TEST_F(OrlindeE2E, ASonixDownloadWritesTheFileAndErasedBytesAfterIt) {
    // The ROM's sector table puts the protect byte at 0xC034; the version lies at 0x200A.
    ToolFolder folder("sonix", "ChooseBinUsePid=1\r\n", SonixBench());
    folder.Write("bench/cam0.flash", SonixFlash());
    folder.Write("pid.ini", "[PID_6366]\r\nBIN=sx.bin\r\n");
    const Bytes image = Pattern(40000, 11);
    folder.Firmware("sx.bin", image);
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f = folder.Drive({"wait-enabled", "1003", "1", "fields"});
    const std::string identified = SonixIdentified(folder);
    EXPECT_EQ(f["view"], Escaped(identified));
    EXPECT_EQ(f["module"], "Sonix Camera");

    f = folder.Drive({"click", "1003", "wait-picture", "success", "wait-enabled", "1033", "1", "fields"});
    EXPECT_EQ(f["view"],
              Escaped(identified + " Start Download\r\n Downloading...\r\nDownload complete.\r\n"));
    Close(folder, tool);
    Bytes expected = image;
    expected.resize(65536, 0xFF);
    EXPECT_EQ(folder.Flash(), expected);
}

TEST_F(OrlindeE2E, RvcLibInTheCurrentFolderIsNeverLoaded) {
    // The tool's folder has no RvcLib.dll; the folder it is started from has one.
    const std::string realtek =
        "[bench]\ncameras=rt0\n[rt0]\nchip=realtek\nvid=3A7C\npid=5611\nrev=0021\nmi=00\nport=4\n";
    ToolFolder folder("planted", "ChooseBinUsePid=1\r\n", realtek);
    fs::remove(folder.Dir() / "RvcLib.dll");
    const fs::path elsewhere = folder.Dir() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::copy_file(e2e::KitDir() / "emu" / "RvcLib.dll", elsewhere / "RvcLib.dll");
    std::future<e2e::RunResult> tool = folder.Start(120, elsewhere);
    // Neither a Quelmar camera, a Sonix device nor RvcLib.dll: the log holds the empty line alone.
    std::map<std::string, std::string> f = folder.Drive({"sleep", "1000", "fields"});
    EXPECT_EQ(f["view"], Escaped(folder.Notice() + "\r\n"));
    EXPECT_EQ(f["flash"], "disabled");
    Close(folder, tool);
}

TEST_F(OrlindeE2E, CommandLineModeDownloadsAndEndsByItself) {
    // The camera's release (0012) is below the file's (0013): the automatic download goes ahead.
    ToolFolder folder("cmdline", "ChooseBinUsePid=1\r\nAutoDL=1\r\nCmdLineMode=1\r\n");
    e2e::RunResult r = folder.Start(90).get();
    EXPECT_FALSE(r.timedOut) << "the tool did not close itself";
    EXPECT_EQ(folder.Flash(), Downloaded(folder.Sent()));
}


TEST_F(OrlindeE2E, CommandLineModeWithMessageTellsTheResultAndEndsWhenItIsDismissed) {
    struct Case {
        const char* name;
        std::string camera;
        const char* box;
        const char* picture;
        bool written;
    };
    const Case cases[] = {
        {"success", Camera(), "Success|Download complete!|icon=no", "success", true},
        {"fail", Camera("fault=fail=xu_write:10@3+\n"), "Fail|Download Fail!|icon=no", "fail", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToolFolder folder(std::string("cmdmsg-") + c.name,
                          "ChooseBinUsePid=1\r\nAutoDL=1\r\nCmdLineMode=1\r\nCmdLineMsg=1\r\n", c.camera);
        std::future<e2e::RunResult> tool = folder.Start(90);
        // The box waits for the technician, with the result already on the dialog behind it.
        std::map<std::string, std::string> f = folder.Drive({"box", "fields"});
        EXPECT_EQ(f["box"], c.box);
        EXPECT_EQ(f["picture"], c.picture);
        EXPECT_EQ(tool.wait_for(std::chrono::seconds(2)), std::future_status::timeout)
            << "the tool ended before its message was read";
        folder.Drive({"box-ok"});
        e2e::RunResult r = tool.get();
        EXPECT_FALSE(r.timedOut) << "the tool did not close itself once the box was dismissed";
        EXPECT_EQ(folder.Flash() == Downloaded(folder.Sent()), c.written);
    }
}

// A module that is written into the chip's in-package flash: family 'l' (0xD2), whose mode switch
// clears the serial flash's header and restarts the chip from its in-package flash.
TEST_F(OrlindeE2E, ModuleKM27QX310BIsSwitchedAgainBeforeItsDownload) {
    const std::string camera =
        "[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A7\nrev=0012\nmi=00\nport=3\n"
        "family=l\nchip_id=0xD2\nin_package=65536\nflash=121\ncarrier=ks\n";
    // The library opens the camera at the identification and again after every mode switch.
    std::map<std::string, size_t> opens;
    for (const std::string module : {"KM27QX-310B", "KM27QX-310C"}) {
        SCOPED_TRACE(module);
        ToolFolder folder("km27-" + module, "ChooseBinUsePid=1\r\nAutoDL=1\r\nCmdLineMode=1\r\n", camera);
        folder.Write("pid.ini", "[PID_B5A7]\r\nBIN=fw.bin\r\nModuleID=" + module + "\r\n");
        folder.Firmware("fw.bin", Image('l'));
        e2e::RunResult r = folder.Start(90).get();
        ASSERT_FALSE(r.timedOut) << "the tool did not close itself";
        for (const std::string& line : r.trace) opens[module] += line.find(camlib::text::kInit) == 0;
        // Written as it is into the in-package flash, which the chip now starts from.
        EXPECT_EQ(ReadFile(folder.Dir() / "bench" / "cam0.ipf"), folder.Sent());
        const Bytes flash = ReadFile(folder.Dir() / "bench" / "cam0.flash");
        ASSERT_GE(flash.size(), 2u);
        EXPECT_EQ(flash[0], 0x00);
        EXPECT_EQ(flash[1], 0x00);
    }
    EXPECT_EQ(opens["KM27QX-310C"], 2u) << "start-up: the identification and its mode switch";
    EXPECT_EQ(opens["KM27QX-310B"], 3u) << "and once more, at the Flash action";
}

TEST_F(OrlindeE2E, AutoDownloadFlashesOneCameraAfterAnother) {
    // Two cameras on the technician's bench, one plugged in at a time; both carry an older release
    // than pid.ini's VER.
    const std::string cameras = RealtekCamera("rt0", "5611", "0020", 4) + RealtekCamera("rt1", "5611", "0021", 5);
    ToolFolder folder("autodl", "ChooseBinUsePid=1\r\nAutoDL=1\r\n", "[bench]\ncameras=rt0\n" + cameras);
    folder.Write("pid.ini", "[PID_5611]\r\nBIN=rt.bin\r\nModuleID=RT-5611\r\nVER=0022\r\n");
    const Bytes image = Pattern(65536, 7);
    folder.Firmware("rt.bin", image);
    std::future<e2e::RunResult> tool = folder.Start();
    // The first camera is flashed as soon as the tool has found it.
    folder.Drive({"wait-picture", "success", "wait-enabled", "1033", "1"});
    EXPECT_EQ(ReadFile(folder.Dir() / "bench" / "rt0.eeprom"), image);

    // Out goes the first, in comes the second: flashed by itself too.
    folder.SetBench("[bench]\ncameras=\n" + cameras);
    std::map<std::string, std::string> f = folder.Drive({"wait-text", "1000", "Camera Plug out", "wait-picture", "idle"});
    folder.SetBench("[bench]\ncameras=rt1\n" + cameras);
    f = folder.Drive(
        {"wait-text", "1000", "Camera Plug in", "wait-picture", "success", "wait-enabled", "1033", "1", "fields"});
    const std::string file = "Open File " + folder.WindowsDir() + "\\bin\\rt.bin\r\n(File) New bcdDevice version = 0022\r\n";
    const std::string downloaded =
        " Start Download\r\n Downloading...\r\nPID = 5611 Download complete\r\nDownload complete.\r\n";
    EXPECT_EQ(f["view"], Escaped(folder.Notice() + "\r\n Driver Connected, initial ok.\r\n" +
                                 RealtekLines("5611", "0020") + file + downloaded + "Camera Plug out\r\n" +
                                 "====================================\r\nCamera Plug in\r\n" +
                                 "\r\n Driver Connected, initial ok.\r\n" + RealtekLines("5611", "0021") + file +
                                 downloaded));
    EXPECT_EQ(f["flash"], "enabled");
    EXPECT_EQ(ReadFile(folder.Dir() / "bench" / "rt1.eeprom"), image);
    Close(folder, tool);
}

TEST_F(OrlindeE2E, ARealtekModuleWhoseFirstDeviceFailsLeavesTheSecondUntouched) {
    // The first EEPROMInfo call, the first device's, fails.
    ToolFolder folder("realtek-two", "ChooseBinUsePid=1\r\n",
                      "[bench]\ncameras=rt0,rt1\nrvclib_fault1=EEPROMInfo:1:-5\n" +
                          RealtekCamera("rt0", "5611", "0021", 4) + RealtekCamera("rt1", "5612", "0021", 5));
    folder.Write("pid.ini", "[PID_5611]\r\nBIN=rt.bin\r\nModuleID=RT-5611\r\nVER=0022\r\n");
    folder.Firmware("rt.bin", Pattern(65536, 7));
    // Memories with an erased identity block: the devices report their records' release.
    Bytes before0 = Pattern(65536, 3), before1 = Pattern(65536, 5);
    for (Bytes* memory : {&before0, &before1}) std::fill_n(memory->begin() + 0xF000, 6, 0xFF);
    folder.Write("bench/rt0.eeprom", before0);
    folder.Write("bench/rt1.eeprom", before1);
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f =
        folder.Drive({"wait-enabled", "1003", "1", "click", "1003", "wait-picture", "fail", "wait-enabled",
                      "1033", "1", "fields"});
    EXPECT_EQ(f["view"], Escaped(folder.Notice() + "\r\n Driver Connected, initial ok.\r\n" +
                                 RealtekLines("5611", "0021") + RealtekLines("5612", "0021") + "Open File " +
                                 folder.WindowsDir() +
                                 "\\bin\\rt.bin\r\n(File) New bcdDevice version = 0022\r\n"
                                 " Start Download\r\n Downloading...\r\nPID = 5611 Download Fail\r\n"
                                 "Download fail.\r\n"));
    EXPECT_EQ(f["flash"], "enabled");
    EXPECT_EQ(f["close"], "enabled");
    EXPECT_EQ(f["progress"], "100");
    Close(folder, tool);
    EXPECT_EQ(ReadFile(folder.Dir() / "bench" / "rt0.eeprom"), before0);
    EXPECT_EQ(ReadFile(folder.Dir() / "bench" / "rt1.eeprom"), before1);
}

TEST_F(OrlindeE2E, ASonixDownloadWhoseEraseFailsShowsFailAndWritesNothing) {
    ToolFolder folder("sonix-fail", "ChooseBinUsePid=1\r\n", SonixBench("burnerap_fault1=EraseSF:1:0\n"));
    folder.Write("bench/cam0.flash", SonixFlash());
    folder.Write("pid.ini", "[PID_6366]\r\nBIN=sx.bin\r\n");
    folder.Firmware("sx.bin", Pattern(40000, 11));
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f =
        folder.Drive({"wait-enabled", "1003", "1", "click", "1003", "wait-picture", "fail", "wait-enabled",
                      "1033", "1", "fields"});
    EXPECT_EQ(f["view"], Escaped(SonixIdentified(folder) +
                                 " Start Download\r\n Downloading...\r\nFlash Erase Failed!Download fail.\r\n"));
    EXPECT_EQ(f["flash"], "enabled");
    EXPECT_EQ(f["progress"], "100");
    Close(folder, tool);
    EXPECT_EQ(folder.Flash(), SonixFlash());
}


// CheckImageId: a file whose identity block names another camera is not written; the log view
// says why and the Fail picture shows. (Without the key the same file is written: the download
// cases above send an image whose block holds only the release.)
TEST_F(OrlindeE2E, ImageIdentityCheckRefusesAnotherCamerasFileAndWritesNothing) {
    ToolFolder folder("check-id", "ChooseBinUsePid=1\r\nCheckImageId=1\r\n");
    const Bytes before = folder.Flash();
    const uint32_t at = camlib::IdentityOffset(kFamily);
    const Bytes& sent = folder.Sent();
    char line[160];
    std::snprintf(line, sizeof line,
                  "Image is for VID=%04X PID=%04X, not for this camera (VID=%04X PID=%04X): nothing written.\r\n", sent[at] | sent[at + 1] << 8,
                  sent[at + 2] | sent[at + 3] << 8, 0x3A7C, 0xB5A4);
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f =
        folder.Drive({"wait-enabled", "1003", "1", "click", "1003", "wait-picture", "fail", "sleep", "300", "fields"});
    EXPECT_EQ(f["view"], Escaped(folder.Notice() + Identified(folder) + line));
    EXPECT_EQ(f["picture"], "fail");
    EXPECT_EQ(f["flash"], "enabled");
    Close(folder, tool);
    EXPECT_EQ(folder.Flash(), before) << "nothing may reach the camera";
}

TEST_F(OrlindeE2E, ImageIdentityCheckLetsTheCamerasOwnFileThrough) {
    ToolFolder folder("check-id-ok", "ChooseBinUsePid=1\r\nCheckImageId=1\r\n");
    Bytes image = Image();
    const uint32_t at = camlib::IdentityOffset(kFamily);
    image[at] = 0x7C;
    image[at + 1] = 0x3A;
    image[at + 2] = 0xA4;
    image[at + 3] = 0xB5;
    folder.Firmware("fw.bin", image);
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f = folder.Drive(
        {"wait-enabled", "1003", "1", "click", "1003", "wait-picture", "success", "wait-enabled", "1033", "1", "fields"});
    EXPECT_EQ(f["picture"], "success");
    Close(folder, tool);
    EXPECT_EQ(folder.Flash(), Downloaded(folder.Sent()));
}

// A cut in the middle of a download: Fail. Plugged back in, the camera shows its ROM's identity
// (its flash holds the pending mark); a technician lists the ROM's product ID in pid.ini, starts the
// tool again and writes the camera, which then boots its new firmware.
TEST_F(OrlindeE2E, ACutMidDownloadLeavesAROMCameraThatTheToolFlashesAgain) {
    // Request 215 is the ninth of the sixteen chunks on this camera.
    ToolFolder folder("cut", "ChooseBinUsePid=1\r\n", Camera("boot=mark\nfault1=cut=215:40000\n"));
    auto identity = [](Bytes image, uint16_t rev, bool verified) {
        const uint32_t at = camlib::IdentityOffset(kFamily);
        image[at] = 0x7C, image[at + 1] = 0x3A, image[at + 2] = 0xA4, image[at + 3] = 0xB5;
        image[at + 4] = rev & 0xFF, image[at + 5] = rev >> 8;
        if (verified) image[0] = 0x89, image[1] = 0x16;
        return image;
    };
    folder.Write("bench/cam0.flash", identity(Image(), 0x0012, true));
    folder.Firmware("fw.bin", identity(Image(), kFileRevision, false));
    folder.Write("pid.ini", "[PID_B5A4]\r\nBIN=fw.bin\r\nModuleID=QM-B5A4\r\n"
                            "[PID_2080]\r\nBIN=fw.bin\r\nModuleID=QM-B5A4\r\n");
    std::future<e2e::RunResult> tool = folder.Start();
    std::map<std::string, std::string> f = folder.Drive(
        {"wait-enabled", "1003", "1", "click", "1003", "wait-picture", "fail", "wait-enabled", "1033", "1", "fields"});
    EXPECT_NE(f["view"].find("Download fail."), std::string::npos) << f["view"];
    Close(folder, tool);

    const std::string bench = (folder.Dir() / "bench").string();
    std::string out, err;
    ASSERT_EQ(benchtool::Main({"replug", bench, "cam0"}, out, err), 0) << err;
    out.clear();
    ASSERT_EQ(benchtool::Main({"show", bench}, out, err), 0) << err;
    EXPECT_NE(out.find("ROM mode"), std::string::npos) << out;

    tool = folder.Start();
    f = folder.Drive({"wait-enabled", "1003", "1", "fields"});
    EXPECT_NE(f["view"].find("(Camera) Current PID number = 2080"), std::string::npos) << f["view"];
    f = folder.Drive({"click", "1003", "wait-picture", "success", "wait-enabled", "1033", "1", "fields"});
    EXPECT_EQ(f["picture"], "success");
    Close(folder, tool);
    out.clear();
    ASSERT_EQ(benchtool::Main({"show", bench}, out, err), 0) << err;
    EXPECT_NE(out.find("flash firmware"), std::string::npos) << out;
    EXPECT_EQ(folder.Flash(), Downloaded(folder.Sent()));
}

}  // namespace
