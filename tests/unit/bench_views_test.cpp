// What the bench's device lists show after a cut and a return: Kestrim's video-input devices and
// the capture-filter stand-in's registration follow the boot rule and the vendor cameras' cuts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "emu/bench.h"
#include "emu/bench_devices.h"
#include "emu/capture_filter/registration.h"

namespace {

namespace fs = std::filesystem;

struct ViewCase {
    const char* name;
    std::string keys;       // added to the camera's record
    std::string power;      // <record>.power; empty: none
    uint8_t header = 0x55;  // flash byte 0 (family f: 0x55 is the verified mark)
    bool holeInImage = false;
    bool listed = true;
    const char* pathHas = "vid_3a7c&pid_b5a4";  // the identity the path shows when listed
};

void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }

class BenchViews : public ::testing::TestWithParam<ViewCase> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("bench_views_" + std::string(GetParam().name));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(BenchViews, ListTheCameraAsTheSystemSeesIt) {
    const ViewCase& c = GetParam();
    const bool vendor = c.keys.find("chip=realtek") != std::string::npos;
    std::ofstream(dir_ / "bench.ini", std::ios::binary)
        << "[bench]\ncameras=cam0,other\n[cam0]\nvid=3A7C\npid=B5A4\nmi=00\n"
        << (vendor ? "" : "chip=quelmar\nfamily=f\nflash=121\nimage_bytes=4096\n") << c.keys
        << "[other]\nvid=3A7C\npid=1111\nport=2\n";
    std::vector<uint8_t> flash(4096, 0x11);
    flash[0] = c.header;
    if (c.holeInImage) std::fill(flash.begin() + 256, flash.begin() + 512, 0xFF);
    std::ofstream(dir_ / "cam0.flash", std::ios::binary)
        .write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
    if (!c.power.empty()) std::ofstream(dir_ / "cam0.power", std::ios::binary) << c.power;
    emu::Bench bench;
    std::string error;
    ASSERT_TRUE(emu::LoadBench(dir_.string(), bench, error)) << error;

    std::vector<kit::VideoInputDevice> devices;
    emu::PresentVideoInput(bench).Enumerate(devices);
    ASSERT_EQ(devices.size(), c.listed ? 2u : 1u);
    EXPECT_NE(devices.back().devicePath.find("pid_1111"), std::string::npos) << "the other camera stays";
    if (c.listed) {
        EXPECT_NE(devices[0].devicePath.find(c.pathHas), std::string::npos) << devices[0].devicePath;
    }

    emu::BenchDevices now;
    ASSERT_TRUE(now.Open(bench, error)) << error;
    std::vector<std::string> paths;
    for (const emu::capture::RegistryValue& v : emu::capture::RegistrationPlan(bench, "Z:\\b", "Z:\\d.dll", &now))
        if (v.name == "DevicePath") paths.push_back(v.data);
    ASSERT_EQ(paths.size(), c.listed ? 2u : 1u);
    if (c.listed) {
        EXPECT_NE(paths[0].find(c.pathHas), std::string::npos) << paths[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Views, BenchViews,
    ::testing::Values(ViewCase{"FlashFirmware", "boot=mark\n", ""},
                      ViewCase{"FlashFirmwareWithoutTheRuleWhateverItHolds", "", "", 0x00, true},
                      ViewCase{"RomModeShowsTheRomIdentity", "boot=mark\n", "", 0x00, false, true,
                               "vid_04fc&pid_2080"},
                      ViewCase{"RomIdentityFromTheRecord", "rom_vid=1D6B\nrom_pid=0102\n", "state=returned\n", 0xFF,
                               false, true, "vid_1d6b&pid_0102"},
                      ViewCase{"DeadIsNotListed", "boot=mark\n", "", 0x55, true, false},
                      ViewCase{"CutIsNotListed", "", "state=cut\n", 0x55, false, false},
                      ViewCase{"ReturnedWithAWholeImage", "", "state=returned\n"},
                      ViewCase{"RealtekCutIsNotListed", "chip=realtek\n", "state=cut\n", 0x55, false, false},
                      ViewCase{"RealtekReturnedIsListed", "chip=realtek\n", "state=returned\n"}),
    [](const ::testing::TestParamInfo<ViewCase>& info) { return info.param.name; });

}  // namespace
