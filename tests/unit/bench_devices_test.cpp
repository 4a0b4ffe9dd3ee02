#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
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

namespace {

// A firmware image of family `family` for a camera of vendor 3A7C: no erased page, the identity
// block in place and the header mark given.
std::vector<uint8_t> Firmware(char family, const std::vector<uint8_t>& header) {
    std::vector<uint8_t> image(0x10000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + 1);
    std::copy(header.begin(), header.end(), image.begin());
    const uint32_t id = emu::IdentityOffset(family);
    const uint8_t identity[6] = {0x7C, 0x3A, 0xA4, 0xB5, 0x13, 0x00};
    std::copy(identity, identity + 6, image.begin() + id);
    return image;
}

TEST(BootByMark, VerifiedMarkAndWholeImageDecide) {
    using emu::BootMode;
    struct Case {
        const char* name;
        char family;
        std::vector<uint8_t> header;
        bool downloadOk;
        std::function<void(std::vector<uint8_t>&)> change;
        uint32_t imageBytes;
        BootMode expected;
    };
    auto erase = [](uint32_t at, uint32_t n) {
        return [at, n](std::vector<uint8_t>& f) { std::fill_n(f.begin() + at, n, 0xFF); };
    };
    const std::vector<Case> cases = {
        {"h verified and whole", 'h', {0x55}, false, nullptr, 65536, BootMode::Flash},
        {"h pending mark", 'h', {0xF5}, true, nullptr, 65536, BootMode::Rom},
        {"h erased header", 'h', {0xFF}, true, nullptr, 65536, BootMode::Rom},
        {"h torn mark (a bit left)", 'h', {0x57}, true, nullptr, 65536, BootMode::Rom},
        {"h verified, one page erased", 'h', {0x55}, true, erase(0x7300, 256), 65536, BootMode::Dead},
        {"h verified, last sector erased", 'h', {0x55}, true, erase(0xF000, 4096), 65536, BootMode::Dead},
        {"h verified, a half-erased page is not erased", 'h', {0x55}, true, erase(0x7300, 255), 65536,
         BootMode::Flash},
        {"h verified, identity block erased", 'h', {0x55}, true, erase(0xB70A, 6), 65536, BootMode::Dead},
        {"h verified, another vendor's block", 'h', {0x55}, true,
         [](std::vector<uint8_t>& f) { f[0xB70A] = 0x7D; }, 65536, BootMode::Dead},
        {"h verified, erased tail beyond the image", 'h', {0x55}, true, erase(0xC000, 0x4000), 0xC000,
         BootMode::Flash},
        {"f verified", 'f', {0x55}, true, nullptr, 65536, BootMode::Flash},
        {"d verified", 'd', {0x55}, true, nullptr, 65536, BootMode::Flash},
        {"i verified", 'i', {0x89, 0x16}, true, nullptr, 65536, BootMode::Flash},
        {"i with k's mark", 'i', {0x89, 0x17}, true, nullptr, 65536, BootMode::Rom},
        {"i pending", 'i', {0xF9}, true, nullptr, 65536, BootMode::Rom},
        {"k verified", 'k', {0x89, 0x17}, true, nullptr, 65536, BootMode::Flash},
        {"k pending F9 FF", 'k', {0xF9, 0xFF}, true, nullptr, 65536, BootMode::Rom},
        {"j committed", 'j', {0x12}, true, nullptr, 65536, BootMode::Flash},
        {"j not committed", 'j', {0x55}, false, nullptr, 65536, BootMode::Rom},
        {"l committed, block erased", 'l', {0x12}, true, erase(0xF000, 6), 65536, BootMode::Dead},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> flash = Firmware(c.family, c.header);
        if (c.change) c.change(flash);
        EXPECT_EQ(emu::BootByMark(c.family, flash, c.downloadOk, 0x3A7C, c.imageBytes), c.expected);
    }
}

}  // namespace

namespace {

void SetRegister(q::QuelmarChip& chip, uint16_t address, uint8_t value) {
    const uint8_t a[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    ASSERT_EQ(chip.Write(q::xu::kRegAddr, a, 2), q::kOk);
    ASSERT_EQ(chip.Write(q::xu::kRegData, &value, 1), q::kOk);
}

void SoftReset(q::QuelmarChip& chip) {
    for (auto [a, v] : std::vector<std::pair<uint16_t, uint8_t>>{
             {0x2034, 0}, {0x2030, 0xFF}, {0x2031, 0}, {0x2032, 0}, {0x2033, 2}, {0x2034, 1}})
        SetRegister(chip, a, v);
}

int32_t EraseSector(q::QuelmarChip& chip, uint32_t address) {
    const uint8_t a[4] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0, 0};
    return chip.Write(q::xu::kSfSectorErase, a, 4);
}

// A camera whose power is cut at its third request: off the bus in later processes until it is
// plugged back in, then booting by its mark: dead over a verified mark, ROM mode over an erased one,
// and its flash firmware again once a restart finds a whole, verified image.
TEST_F(BenchDevicesTest, ACutCameraStaysOffTheBusUntilReplugAndThenBootsByItsMark) {
    for (const bool headerErased : {false, true}) {
        SCOPED_TRACE(headerErased ? "header erased first" : "verified mark kept");
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        const std::vector<uint8_t> good = Firmware('h', {0x55});
        std::string error;
        ASSERT_TRUE(emu::SaveImage((dir_ / "cam0.flash").string(), good, error)) << error;
        emu::Bench bench = Load(
            "[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\nrev=0012\nmi=00\nfamily=h\n"
            "flash=129\nfault1=cut=3\n");
        const emu::CameraRecord& cam = bench.cameras[0];
        {
            emu::BenchDevices devices;
            ASSERT_TRUE(devices.Open(bench, error)) << error;
            q::QuelmarChip& chip = *devices.Quelmar(cam);
            ASSERT_EQ(EraseSector(chip, headerErased ? 0x0000 : 0x1000), q::kOk);
            ASSERT_EQ(EraseSector(chip, 0x2000), q::kOk);
            EXPECT_FALSE(std::filesystem::exists(dir_ / "cam0.power")) << "nothing to say before the cut";
            EXPECT_EQ(EraseSector(chip, 0x3000), q::kDeviceGone);
            EXPECT_FALSE(devices.Present(cam));
            EXPECT_TRUE(devices.OffBus(cam));
        }
        emu::BenchDevices later;
        ASSERT_TRUE(later.Open(bench, error)) << error;
        EXPECT_FALSE(later.Present(cam)) << "the cut outlives the process";
        EXPECT_TRUE(later.OffBus(cam));
        EXPECT_EQ(later.Quelmar(cam)->Flash().Image()[0x1000], headerErased ? good[0x1000] : 0xFF);
        EXPECT_EQ(later.Quelmar(cam)->Flash().Image()[0x3000], good[0x3000]) << "the cut came before the erase";

        ASSERT_TRUE(emu::ReplugCamera(bench, "cam0", error)) << error;
        emu::BenchDevices back;
        ASSERT_TRUE(back.Open(bench, error)) << error;
        EXPECT_FALSE(back.OffBus(cam));
        EXPECT_EQ(back.Boot(cam), headerErased ? emu::BootMode::Rom : emu::BootMode::Dead);
        EXPECT_EQ(back.Present(cam), headerErased);
        if (!headerErased) continue;
        const emu::CameraRecord shown = back.Presented(cam);
        EXPECT_EQ(shown.HardwareId(), "USB\\VID_04FC&PID_2080&REV_0100&MI_00");
        EXPECT_EQ(shown.DevicePath().rfind("\\\\?\\usb#vid_04fc&pid_2080&mi_00#", 0), 0u) << shown.DevicePath();

        // The ROM still answers, the spent cut does not fire again, and a restart over a whole,
        // verified image brings the flash firmware back.
        q::QuelmarChip& chip = *back.Quelmar(cam);
        for (int i = 0; i < 4; ++i) ASSERT_EQ(EraseSector(chip, 0x1000), q::kOk);
        chip.Flash().LoadImage(good.data(), good.size());
        EXPECT_EQ(back.Boot(cam), emu::BootMode::Rom) << "decided at power-on and restart only";
        SoftReset(chip);
        EXPECT_EQ(back.Boot(cam), emu::BootMode::Flash);
        EXPECT_EQ(back.Presented(cam).HardwareId(), "USB\\VID_3A7C&PID_B5A4&REV_0013&MI_00");
    }
}

// A camera that boots by its mark is given its power file by the first program that opens the bench
// (an updater's listing before its flashing process): that is not a cut, and the cut still comes.
TEST_F(BenchDevicesTest, ALookAtABootByMarkCameraDoesNotSpendItsCut) {
    const std::vector<uint8_t> good = Firmware('h', {0x55});
    std::string error;
    ASSERT_TRUE(emu::SaveImage((dir_ / "cam0.flash").string(), good, error)) << error;
    emu::Bench bench = Load(
        "[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\nrev=0012\nmi=00\nfamily=h\n"
        "flash=129\nboot=mark\nfault1=cut=2\n");
    const emu::CameraRecord& cam = bench.cameras[0];
    {
        emu::BenchDevices look;
        ASSERT_TRUE(look.Open(bench, error)) << error;
        EXPECT_TRUE(look.Present(cam));
    }
    ASSERT_TRUE(std::filesystem::exists(dir_ / "cam0.power")) << "the download-OK flag is kept";
    emu::BenchDevices devices;
    ASSERT_TRUE(devices.Open(bench, error)) << error;
    q::QuelmarChip& chip = *devices.Quelmar(cam);
    EXPECT_EQ(EraseSector(chip, 0x1000), q::kOk);
    EXPECT_EQ(EraseSector(chip, 0x2000), q::kDeviceGone) << "the second request cuts the power";
    EXPECT_TRUE(devices.OffBus(cam));
}

// A family 'l' camera with in-package flash, back after a cut, boots by the download-OK flag and
// the image of the flash its last download went to, and shows that flash's identity block: here
// the serial flash holds release 0012, the in-package flash 0013.
TEST_F(BenchDevicesTest, AnInPackageCameraBootsByTheFlashItsLastDownloadWentTo) {
    using emu::BootMode;
    struct Case {
        const char* name;
        const char* power;  // <record>.power besides state=returned
        bool inPackageBoot;
        uint32_t erasedFrom;  // the in-package image is erased from here on (0x10000: whole)
        BootMode expected;
        const char* hardwareId;
    };
    const std::vector<Case> cases = {
        {"in-package, verified, whole", "download_ok=1\nboot_flash=in_package\n", false, 0x10000, BootMode::Flash,
         "USB\\VID_3A7C&PID_B5A4&REV_0013&MI_00"},
        {"in-package, download under way", "download_ok=0\nboot_flash=in_package\n", false, 0x8000, BootMode::Rom,
         "USB\\VID_04FC&PID_2080&REV_0100&MI_00"},
        {"in-package, verified over half an image", "download_ok=1\nboot_flash=in_package\n", false, 0x8000,
         BootMode::Dead, ""},
        {"serial, verified: the in-package flash does not count", "download_ok=1\nboot_flash=serial\n", true, 0,
         BootMode::Flash, "USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00"},
        {"no download yet, powers on in in-package mode", "download_ok=1\n", true, 0x10000, BootMode::Flash,
         "USB\\VID_3A7C&PID_B5A4&REV_0013&MI_00"},
        {"no download yet, powers on in serial mode", "download_ok=1\n", false, 0, BootMode::Flash,
         "USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::vector<uint8_t> serial = Firmware('l', {0x12}), inPackage = Firmware('l', {0x12});
        serial[0xF004] = 0x12;
        std::fill(inPackage.begin() + c.erasedFrom, inPackage.end(), 0xFF);
        std::string error;
        ASSERT_TRUE(emu::SaveImage((dir_ / "cam0.flash").string(), serial, error)) << error;
        ASSERT_TRUE(emu::SaveImage((dir_ / "cam0.ipf").string(), inPackage, error)) << error;
        std::ofstream(dir_ / "cam0.power") << "state=returned\n" << c.power;
        emu::Bench bench = Load(std::string("[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\n"
                                            "rev=0012\nmi=00\nfamily=l\nchip_id=0xD2\nin_package=65536\n") +
                                "in_package_boot=" + (c.inPackageBoot ? "1" : "0") + "\n");
        const emu::CameraRecord& cam = bench.cameras[0];
        emu::BenchDevices devices;
        ASSERT_TRUE(devices.Open(bench, error)) << error;
        EXPECT_EQ(devices.Boot(cam), c.expected);
        EXPECT_EQ(devices.Present(cam) ? devices.Presented(cam).HardwareId() : "", c.hardwareId);
    }
    std::ofstream(dir_ / "cam0.power") << "state=returned\nboot_flash=rom\n";
    const emu::Bench bench = Load("[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\nfamily=l\n");
    emu::BenchDevices devices;
    std::string error;
    EXPECT_FALSE(devices.Open(bench, error));
    EXPECT_NE(error.find("boot_flash"), std::string::npos) << error;
}

// Entering download mode for the in-package flash is kept across processes: the camera that lost its
// power in that download comes back in ROM mode, whatever the serial flash holds.
TEST_F(BenchDevicesTest, AnInPackageDownloadUnderWayIsKeptInThePowerFile) {
    std::string error;
    ASSERT_TRUE(emu::SaveImage((dir_ / "cam0.flash").string(), Firmware('l', {0x12}), error)) << error;
    ASSERT_TRUE(emu::SaveImage((dir_ / "cam0.ipf").string(), Firmware('l', {0x12}), error)) << error;
    emu::Bench bench = Load(
        "[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\nrev=0012\nmi=00\nfamily=l\n"
        "in_package=65536\nin_package_boot=1\nfault1=cut=4:300000\n");
    const emu::CameraRecord& cam = bench.cameras[0];
    {
        emu::BenchDevices devices;
        ASSERT_TRUE(devices.Open(bench, error)) << error;
        q::QuelmarChip& chip = *devices.Quelmar(cam);
        const uint8_t cycles[27] = {0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0x80, 0x05, 0x55, 0xAA, 0x02, 0xAA,
                                    0x55, 0x05, 0x55, 0x10, 0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0xA0};
        const uint8_t zero = 0, one = 1;
        ASSERT_EQ(chip.Write(q::xu::kMcmFlashCmds, cycles, 27), q::kOk);
        ASSERT_EQ(chip.Write(q::xu::kIspSerialFlash, &zero, 1), q::kOk);
        ASSERT_EQ(chip.Write(q::xu::kDfuEnableControl, &one, 1), q::kOk);
        EXPECT_EQ(chip.Write(q::xu::kDfuEnableControl, &one, 1), q::kDeviceGone) << "the erase again, cut";
    }
    ASSERT_TRUE(emu::ReplugCamera(bench, "cam0", error)) << error;
    emu::BenchDevices back;
    ASSERT_TRUE(back.Open(bench, error)) << error;
    EXPECT_EQ(back.Boot(cam), emu::BootMode::Rom);
    EXPECT_TRUE(back.Quelmar(cam)->BootsInPackage());
    const std::vector<uint8_t>& ipf = back.Quelmar(cam)->InPackage()->Image();
    EXPECT_EQ(ipf[0x1000], 0xFF) << "the first erase went through";
    std::ifstream power(dir_ / "cam0.power");
    const std::string text((std::istreambuf_iterator<char>(power)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("download_ok=0\nboot_flash=in_package\n"), std::string::npos) << text;
}

TEST_F(BenchDevicesTest, BootKeysAreCheckedAndABenchWithoutThemWritesNoPowerFile) {
    for (const char* bad : {"boot=rom\n", "rom_vid=12345\n", "rom_pid=zz\n", "image_bytes=0\n"}) {
        emu::Bench bench = Load(std::string("[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3A7C\npid=B5A4\n") + bad);
        emu::BenchDevices devices;
        std::string error;
        EXPECT_FALSE(devices.Open(bench, error)) << bad;
        EXPECT_NE(error.find("cam0"), std::string::npos) << error;
    }
    std::string error;
    emu::Bench plain = Load(kOneCamera);
    {
        emu::BenchDevices devices;
        ASSERT_TRUE(devices.Open(plain, error)) << error;
        // An erased flash: by its mark it would be in ROM mode; without boot=mark it is as ever.
        EXPECT_EQ(devices.Boot(plain.cameras[0]), emu::BootMode::Flash);
        EXPECT_EQ(devices.Presented(plain.cameras[0]).HardwareId(), plain.cameras[0].HardwareId());
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "cam0.power"));
    EXPECT_FALSE(emu::ReplugCamera(plain, "other", error)) << "not a Quelmar camera";
    EXPECT_FALSE(emu::ReplugCamera(plain, "cam9", error));
}

}  // namespace
