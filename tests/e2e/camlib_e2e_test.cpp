// QuelmarCamera.dll under wine: a test program loads it by name, looks its nine exports up by name
// and flashes a camera through them in the updater's order. On an emulated bench (CAMKIT_BENCH),
// and with no bench variable through the real DirectShow, property-bag, filter-binding, topology
// and kernel-streaming calls to the capture-filter stand-in registered for a bench.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "camlib/texts.h"
#include "emu/bench.h"
#include "kit/text.h"
#include "standin_registry.h"
#include "wine.h"

namespace {

namespace fs = e2e::fs;
using Bytes = std::vector<uint8_t>;

Bytes Image(uint32_t seed) {
    Bytes b(65536);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>((i * 173 + seed * 5 + (i >> 8)) ^ seed);
    return b;
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class CamlibE2E : public ::testing::Test {
protected:
    void SetUp() override { e2e::ClearRegisteredVideoDevices(); }
    void TearDown() override { e2e::ClearRegisteredVideoDevices(); }

    // A work folder with the library, the flasher, the image and a one-camera bench.
    void Prepare(const std::string& name, const std::string& cameraKeys, uint32_t seed) {
        dir = e2e::FreshWorkDir("camlib-" + name);
        fs::copy_file(e2e::KitProgram("QuelmarCamera.dll"), dir / "QuelmarCamera.dll");
        fs::copy_file(e2e::TestProgram("camlib_flasher.exe"), dir / "camlib_flasher.exe");
        bench = dir / "bench";
        fs::create_directories(bench);
        std::ofstream(bench / "bench.ini", std::ios::binary)
            << "[bench]\ncameras=cam0\n[cam0]\nfriendly=Integrated Camera\nchip=quelmar\nvid=3A7C\npid=B5A4\n"
               "rev=0012\nmi=00\nport=3\n"
            << cameraKeys;
        image = Image(seed);
        WriteFile(dir / "image.bin", image);
    }
    e2e::RunResult Flash(bool onBench, const fs::path& benchFolder = {}) {
        e2e::RunOptions options;
        options.workingDirectory = dir;
        options.env[emu::kBenchEnvVar] =
            onBench ? e2e::WindowsPath(benchFolder.empty() ? bench : benchFolder) : "";
        e2e::RunResult r = e2e::RunWine(dir / "camlib_flasher.exe", {"image.bin"}, options);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    Bytes FlashFile() const {
        Bytes f = ReadFile(bench / "cam0.flash");
        if (f.size() > 65536) f.resize(65536);
        return f;
    }
    static bool Traced(const e2e::RunResult& r, const std::string& line) {
        return std::find(r.trace.begin(), r.trace.end(), line) != r.trace.end();
    }

    fs::path dir, bench;
    Bytes image;
};

struct FlashCase {
    const char* name;
    const char* keys;
    unsigned code;
};

const FlashCase kCases[] = {
    {"f121_ks", "family=f\nflash=121\ncarrier=ks\nflash_status=0x0C\n", 121},
    {"h129_private", "family=h\nflash=129\ncarrier=private\n", 129},
    {"g122_both", "family=g\nflash=122\ncarrier=both\n", 122},
    {"i123_second_set", "family=i\nflash=123\ncarrier=ks\nxu_guid=second\n", 123},
    {"j137_ks", "family=j\nflash=137\ncarrier=ks\n", 137},
};

TEST_F(CamlibE2E, FlashesAnEmulatedCameraThroughTheNineExports) {
    for (const FlashCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Prepare(std::string("bench-") + c.name, c.keys, c.code);
        e2e::RunResult r = Flash(true);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(e2e::CrtText("flash type=" + std::to_string(c.code) + " (0)\n")),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(e2e::CrtText("verify=ok\n")), std::string::npos) << r.out;
        EXPECT_EQ(FlashFile(), image);
        EXPECT_TRUE(Traced(r, "emulated bench: " + e2e::WindowsPath(bench) + "\n"));
    }
}

TEST_F(CamlibE2E, AProtectedPartIsLeftUntouched) {
    // Code 131 makes the caller skip the protection calls; the erase finds the part unchanged.
    Prepare("protected", "family=f\nflash=131\nflash_status=0x0C\n", 1);
    const Bytes old = Image(77);
    WriteFile(bench / "cam0.flash", old);
    e2e::RunResult r = Flash(true);
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_NE(r.out.find(e2e::CrtText("erase=1\n")), std::string::npos) << r.out;
    EXPECT_EQ(FlashFile(), old);
    EXPECT_TRUE(Traced(r, kit::Format(camlib::text::kSectorNotBlank, 0u)));
}

TEST_F(CamlibE2E, NoCameraOrNoUsableBenchFailsTheOpen) {
    Prepare("nocamera", "family=f\ncarrier=none\n", 1);
    e2e::RunResult none = Flash(true);
    EXPECT_EQ(none.exitCode, 1) << none.out << none.err;
    EXPECT_NE(none.out.find(e2e::CrtText("init=1\n")), std::string::npos);
    e2e::RunResult missing = Flash(true, dir / "no-such-bench");
    EXPECT_EQ(missing.exitCode, 1) << missing.out << missing.err;
    bool said = false;
    for (const std::string& t : missing.trace) said |= t.rfind("Emulated bench cannot be used: ", 0) == 0;
    EXPECT_TRUE(said);
}

TEST_F(CamlibE2E, RealDirectShowPathOverTheCaptureFilterStandIn) {
    for (const FlashCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Prepare(std::string("standin-") + c.name, c.keys, c.code + 1);
        e2e::ScopedCaptureStandIn registered(bench);
        ASSERT_TRUE(registered.ok());
        e2e::RunResult r = Flash(false);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(e2e::CrtText("flash type=" + std::to_string(c.code) + " (0)\n")),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(e2e::CrtText("verify=ok\n")), std::string::npos) << r.out;
        EXPECT_EQ(FlashFile(), image);
        EXPECT_TRUE(Traced(r, camlib::text::kUsbCamera));
    }
}

TEST_F(CamlibE2E, RealDirectShowPathSkipsVirtualCamerasAndCountsThem) {
    // A registry-only software camera comes first; the device index counts it, the USB camera after
    // it is opened, and from index 0 the software camera is passed over.
    Prepare("standin-order", "family=f\nflash=121\n", 3);
    e2e::ScopedCaptureStandIn registered(bench);
    ASSERT_TRUE(registered.ok());
    e2e::RegisterVideoDevice("!Soft Camera",
                             "\\\\?\\root#image#0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
    e2e::RunOptions options;
    options.workingDirectory = dir;
    options.env[emu::kBenchEnvVar] = "";
    e2e::RunResult r = e2e::RunWine(dir / "camlib_flasher.exe", {"image.bin", "0"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Traced(r, camlib::text::kVirtualCamera));
    EXPECT_EQ(FlashFile(), image);
}

}  // namespace
