#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "bench_tool.h"
#include "emu/bench_devices.h"
#include "emu/image_store.h"
#include "templates.h"

namespace {

namespace fs = std::filesystem;

class BenchToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("benchtool_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
    }
    void TearDown() override { fs::remove_all(root_); }
    int Run(std::vector<std::string> args) {
        out_.clear(), err_.clear();
        return benchtool::Main(args, out_, err_);
    }
    fs::path root_;
    std::string out_, err_;
};

TEST_F(BenchToolTest, EveryTemplateMakesABenchWhoseCamerasReportTheirFactoryRevision) {
    ASSERT_FALSE(benchtool::Templates().empty());
    for (const benchtool::Template& t : benchtool::Templates()) {
        fs::path folder = root_ / t.name;
        ASSERT_EQ(Run({"create", t.name, folder.string()}), 0) << t.name << ": " << err_;
        emu::Bench bench;
        std::string error;
        ASSERT_TRUE(emu::LoadBench(folder.string(), bench, error)) << t.name << ": " << error;
        emu::BenchDevices devices;
        ASSERT_TRUE(devices.Open(bench, error)) << t.name << ": " << error;
        for (const emu::CameraRecord& cam : bench.cameras) {
            EXPECT_EQ(devices.Revision(cam), cam.rev) << t.name << "/" << cam.name;
            if (emu::quelmar::QuelmarChip* chip = devices.Quelmar(cam)) {
                EXPECT_EQ(std::string(1, chip->Family()), cam.Get("family")) << t.name;
                EXPECT_EQ(chip->Flash().Dirty(), false);
                EXPECT_NE(chip->Flash().Image(), std::vector<uint8_t>(chip->Flash().Size(), 0xFF))
                    << t.name << ": a camera leaves the factory with firmware";
            }
        }
        ASSERT_EQ(Run({"show", folder.string()}), 0) << t.name << ": " << err_;
        EXPECT_NE(out_.find("cameras:     " + std::to_string(bench.cameras.size())), std::string::npos) << out_;
    }
}

TEST_F(BenchToolTest, FactoryImagesCarryTheFamilysHeaderAndIdentity) {
    emu::CameraRecord cam;
    cam.vid = 0x3A7C, cam.pid = 0xB5A4, cam.rev = 0x0012;
    struct Case { char family; std::vector<uint8_t> header; uint32_t identity; } cases[] = {
        {'f', {0x55}, 0x8008}, {'h', {0x55}, 0xB70A}, {'i', {0x89, 0x16}, 0x678A}, {'k', {0x89, 0x17}, 0xF000},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> image = benchtool::FactoryImage(cam, c.family, 0x10000);
        EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), image.begin())) << c.family;
        EXPECT_EQ(std::vector<uint8_t>(image.begin() + c.identity, image.begin() + c.identity + 6),
                  (std::vector<uint8_t>{0x7C, 0x3A, 0xA4, 0xB5, 0x12, 0x00}))
            << c.family;
    }
    EXPECT_EQ(benchtool::Crc32({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);
}

TEST_F(BenchToolTest, RefusesToOverwriteABenchAndExplainsMistakes) {
    fs::path folder = root_ / "b";
    ASSERT_EQ(Run({"create", "quelmar-f", folder.string()}), 0) << err_;
    EXPECT_EQ(Run({"create", "quelmar-g", folder.string()}), 2);
    EXPECT_NE(err_.find("already holds a bench"), std::string::npos);
    EXPECT_EQ(Run({"create", "quelmar-z", (root_ / "c").string()}), 2);
    EXPECT_NE(err_.find("no template \"quelmar-z\""), std::string::npos);
    EXPECT_EQ(Run({"show", (root_ / "nothing").string()}), 1);
    EXPECT_NE(err_.find("no bench.ini"), std::string::npos);
    EXPECT_EQ(Run({"frobnicate"}), 2);
    EXPECT_NE(err_.find("usage:"), std::string::npos);
}

}  // namespace

namespace {

// Factory firmware passes the boot rule; a camera whose power was cut is shown off the bus until
// replug, and then by what its flash holds.
TEST_F(BenchToolTest, ReplugBringsACutCameraBackAndShowSaysHowItBooted) {
    for (const benchtool::Template& t : benchtool::Templates()) {
        const std::string name = t.name;
        if (name.rfind("quelmar-", 0) != 0) continue;
        SCOPED_TRACE(name);
        const fs::path folder = root_ / name;
        ASSERT_EQ(Run({"create", name, folder.string()}), 0) << err_;
        { std::ofstream(folder / "cam0.power") << "state=cut\n"; }
        ASSERT_EQ(Run({"show", folder.string()}), 0) << err_;
        EXPECT_NE(out_.find("  boot:      off the bus"), std::string::npos) << out_;
        ASSERT_EQ(Run({"replug", folder.string(), "cam0"}), 0) << err_;
        EXPECT_EQ(out_, "[cam0] plugged back in: flash firmware\n");

        const char family = name.back();
        if (family == 'j' || family == 'l') continue;  // their mark is the commit flag, not a flash byte
        const fs::path flashFile = folder / "cam0.flash";
        std::vector<uint8_t> flash;
        std::string error;
        ASSERT_TRUE(emu::LoadImage(flashFile.string(), flash, error)) << error;
        std::vector<uint8_t> changed = flash;
        changed[0] = changed[1] = 0xFF;
        ASSERT_TRUE(emu::SaveImage(flashFile.string(), changed, error)) << error;
        ASSERT_EQ(Run({"show", folder.string()}), 0) << err_;
        EXPECT_NE(out_.find("  boot:      ROM mode"), std::string::npos) << out_;
        EXPECT_NE(out_.find("  identity:  VID 04FC  PID 2080  REV 0100\n"), std::string::npos) << out_;

        changed = flash;
        std::fill_n(changed.begin() + 0x3000, 0x1000, 0xFF);
        ASSERT_TRUE(emu::SaveImage(flashFile.string(), changed, error)) << error;
        ASSERT_EQ(Run({"show", folder.string()}), 0) << err_;
        EXPECT_NE(out_.find("  boot:      dead"), std::string::npos) << out_;
    }
    EXPECT_EQ(Run({"replug", (root_ / "quelmar-h").string(), "cam7"}), 1);
    EXPECT_NE(err_.find("cam7"), std::string::npos) << err_;
}

}  // namespace
