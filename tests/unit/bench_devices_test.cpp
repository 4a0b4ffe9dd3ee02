#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "emu/bench_devices.h"
#include "emu/image_store.h"
#include "emu/vendor/device_memory.h"

namespace {

namespace q = emu::quelmar;

class BenchDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("devices_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    emu::Bench Load(const std::string& text) {
        std::ofstream(dir_ / "bench.ini", std::ios::binary) << text;
        emu::Bench bench;
        std::string error;
        EXPECT_TRUE(emu::LoadBench(dir_.string(), bench, error)) << error;
        return bench;
    }
    // A whole download through the extension unit, as the kit's 'j' path drives it.
    static void Download(q::QuelmarChip& chip, const std::vector<uint8_t>& image) {
        uint8_t one = 1, zero = 0, sum = 0;
        ASSERT_EQ(chip.Write(q::xu::kDfuEnableControl, &one, 1), q::kOk);
        uint16_t chunk = 0;
        ASSERT_EQ(chip.GetLength(q::xu::kDfuAccessControl, chunk), q::kOk);
        for (size_t at = 0; at < image.size(); at += chunk) {
            ASSERT_EQ(chip.Write(q::xu::kDfuAccessControl, image.data() + at, chunk), q::kOk);
            for (size_t i = 0; i < chunk; ++i) sum ^= image[at + i];
        }
        uint8_t device = 0;
        ASSERT_EQ(chip.Read(q::xu::kDfuChecksum, &device, 1), q::kOk);
        EXPECT_EQ(device, sum);
        ASSERT_EQ(chip.Write(q::xu::kIspFwDownloadOk, &one, 1), q::kOk);
        ASSERT_EQ(chip.Write(q::xu::kDfuEnableControl, &zero, 1), q::kOk);
    }

    std::filesystem::path dir_;
};

const char* kOneCamera =
    "[bench]\ncameras=cam0,other\nsummary=counters.txt\n"
    "[cam0]\nchip=quelmar\nvid=3a7c\npid=b5a4\nrev=0012\nfamily=j\nflash=121\nchunk=2048\n"
    "[other]\nchip=none\nvid=3b1d\npid=0001\nport=2\n";

TEST_F(BenchDevicesTest, FlashedImagePersistsAndSetsTheRevision) {
    emu::Bench bench = Load(kOneCamera);
    std::vector<uint8_t> image(0x10000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);
    const uint8_t identity[6] = {0x7C, 0x3A, 0xA4, 0xB5, 0x34, 0x12};
    std::copy(identity, identity + 6, image.begin() + 0xF000);
    {
        emu::BenchDevices devices;
        std::string error;
        ASSERT_TRUE(devices.Open(bench, error)) << error;
        q::QuelmarChip* chip = devices.Quelmar(bench.cameras[0]);
        ASSERT_NE(chip, nullptr);
        EXPECT_EQ(devices.Quelmar(bench.cameras[1]), nullptr);
        EXPECT_EQ(chip->Family(), 'j');
        EXPECT_EQ(devices.Revision(bench.cameras[0]), 0x0012) << "erased flash: the record's revision";
        Download(*chip, image);
        ASSERT_TRUE(devices.Persist(error)) << error;
        EXPECT_EQ(devices.Revision(bench.cameras[0]), 0x1234);
        EXPECT_EQ(devices.Revision(bench.cameras[1]), 0x0100);
    }
    // A later process sees what this one flashed, and the run left its counters behind.
    emu::BenchDevices later;
    std::string error;
    ASSERT_TRUE(later.Open(bench, error)) << error;
    std::vector<uint8_t> flash = later.Quelmar(bench.cameras[0])->Flash().Image();
    ASSERT_EQ(flash.size(), image.size());
    EXPECT_EQ(flash, image);
    EXPECT_EQ(later.Revision(bench.cameras[0]), 0x1234);
    std::map<std::string, uint64_t> counters;
    std::ifstream in(dir_ / "counters.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(q::ParseSummary(text, counters)) << text;
    EXPECT_EQ(counters["xu.write.count"] >= 32, true) << text;
    EXPECT_GT(counters["time_us"], 0u);
}

TEST_F(BenchDevicesTest, FaultsAndProtectionComeFromTheRecord) {
    emu::Bench bench = Load(
        "[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3a7c\npid=b5a4\nfamily=h\nflash=122\nflash_status=0x0C\n"
        "fault1=fail=xu_write:10@1:0x80070015\n");
    {
        emu::BenchDevices devices;
        std::string error;
        ASSERT_TRUE(devices.Open(bench, error)) << error;
        q::QuelmarChip* chip = devices.Quelmar(bench.cameras[0]);
        ASSERT_NE(chip, nullptr);
        EXPECT_EQ(chip->Flash().NonVolatileStatus(), 0x0C);
        uint8_t one = 1;
        ASSERT_EQ(chip->Write(q::xu::kDfuEnableControl, &one, 1), q::kOk);
        std::vector<uint8_t> chunk(4096, 0);
        EXPECT_EQ(chip->Write(q::xu::kDfuAccessControl, chunk.data(), 4096), q::kNotReady) << "first chunk";
        EXPECT_EQ(chip->Write(q::xu::kDfuAccessControl, chunk.data(), 4096), q::kOk) << "second chunk";
        chip->Flash().SetNonVolatileStatus(0x00);
        ASSERT_TRUE(devices.Persist(error)) << error;
    }
    emu::BenchDevices later;
    std::string error;
    ASSERT_TRUE(later.Open(bench, error)) << error;
    EXPECT_EQ(later.Quelmar(bench.cameras[0])->Flash().NonVolatileStatus(), 0x00)
        << "the protection bits persist beside the image, not the record's first value";
}

TEST_F(BenchDevicesTest, BadChipRecordsAreRefusedWithTheKey) {
    struct Case { const char* keys; const char* reason; } cases[] = {
        {"family=x", "family must be one of"},
        {"flash=99", "no flash part has the code 99"},
        {"chunk=8192", "chunk must be a number up to 4096"},
        {"chunk=32", "chunk must be 64..4096"},
        {"data_block=128", "data_block must be 4096 or 64"},
        {"xu_guid=none", "xu_guid must be first or second"},
        {"carrier=usb", "carrier must be ks, private, both, private_only or none"},
        {"absent=40", "absent must list selectors 0..31"},
        {"fault1=explode", "fault1: "},
        {"chip_id=0x1FF", "chip_id must be a number up to 255"},
    };
    for (const Case& c : cases) {
        emu::Bench bench = Load(std::string("[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3a7c\npid=b5a4\n") +
                                c.keys + "\n");
        emu::BenchDevices devices;
        std::string error;
        EXPECT_FALSE(devices.Open(bench, error)) << c.keys;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.keys << ": " << error;
    }
}

TEST(IdentityOffset, FollowsTheFamily) {
    EXPECT_EQ(emu::IdentityOffset('f'), 0x8008u);
    EXPECT_EQ(emu::IdentityOffset('g'), 0x8008u);
    EXPECT_EQ(emu::IdentityOffset('h'), 0xB70Au);
    EXPECT_EQ(emu::IdentityOffset('i'), 0x678Au);
    for (char f : {'d', 'j', 'k', 'l'}) EXPECT_EQ(emu::IdentityOffset(f), 0xF000u) << f;
}

}  // namespace

namespace {

TEST_F(BenchDevicesTest, VendorCamerasReportTheRevisionTheirMemoryHoldsNow) {
    emu::Bench bench = Load(
        "[bench]\ncameras=rtk,snx\n[rtk]\nchip=realtek\nvid=3a7c\npid=5610\nrev=0021\n"
        "[snx]\nchip=sonix\nvid=3a7c\npid=6366\nrev=0105\nport=2\n");
    emu::BenchDevices devices;
    std::string error;
    ASSERT_TRUE(devices.Open(bench, error)) << error;
    EXPECT_EQ(devices.Revision(bench.cameras[0]), 0x0021) << "no memory file yet";
    // What a library stand-in leaves after writing new firmware, possibly in another process.
    std::vector<uint8_t> memory(65536, 0xFF);
    ASSERT_TRUE(emu::vendor::PutIdentityBlock(memory, 0x3A7C, 0x5610, 0x0030));
    ASSERT_TRUE(emu::SaveImage((dir_ / "rtk.eeprom").string(), memory, error)) << error;
    EXPECT_EQ(devices.Revision(bench.cameras[0]), 0x0030);
    EXPECT_EQ(devices.Revision(bench.cameras[1]), 0x0105);
}

}  // namespace
