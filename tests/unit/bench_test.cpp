#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "emu/bench.h"
#include "emu/image_store.h"

namespace {

class BenchTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("bench_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void Write(const std::string& text) { std::ofstream(dir_ / "bench.ini", std::ios::binary) << text; }
    bool Load(emu::Bench& bench, std::string& error) { return emu::LoadBench(dir_.string(), bench, error); }

    std::filesystem::path dir_;
};

TEST_F(BenchTest, EveryViewOfACameraComesFromItsRecord) {
    Write("[bench]\ncameras=cam0, virt ,solo\n"
          "[cam0]\nvid=3A7C\npid=b5a4\nrev=0012\nmi=00\ninstance=1A2B3C4D\n"
          "[virt]\nbus=root\nvid=0000\npid=0000\n"
          "[solo]\nvid=3b1d\npid=0001\nport=3\ninstance=00c0ffee\nfriendly=Integrated Webcam\n");
    emu::Bench bench;
    std::string error;
    ASSERT_TRUE(Load(bench, error)) << error;
    ASSERT_EQ(bench.cameras.size(), 3u);
    const emu::CameraRecord& cam = bench.cameras[0];
    EXPECT_EQ(cam.HardwareId(), "USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00");
    EXPECT_EQ(cam.InstanceId(), "USB\\VID_3A7C&PID_B5A4&MI_00\\6&1A2B3C4D&0&0000");
    EXPECT_EQ(cam.DevicePath(),
              "\\\\?\\usb#vid_3a7c&pid_b5a4&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
    EXPECT_FALSE(bench.cameras[1].IsUsb());
    EXPECT_EQ(bench.cameras[1].DevicePath().rfind("\\\\?\\root#", 0), 0u);
    EXPECT_EQ(bench.cameras[2].HardwareId(), "USB\\VID_3B1D&PID_0001&REV_0100");
    EXPECT_EQ(bench.cameras[2].InstanceId(), "USB\\VID_3B1D&PID_0001\\5&00C0FFEE&0&3");
    EXPECT_EQ(bench.cameras[2].friendly, "Integrated Webcam");

    emu::EmulatedVideoInput port(bench);
    std::vector<kit::VideoInputDevice> devices;
    EXPECT_EQ(port.Enumerate(devices), kit::kS_OK);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].devicePath, cam.DevicePath());
}

TEST_F(BenchTest, DerivedInstanceKeyIsStableAndDiffersBetweenCameras) {
    Write("[bench]\ncameras=a,b\n[a]\nvid=3b1d\npid=0001\n[b]\nvid=3b1d\npid=0001\n");
    emu::Bench first, second;
    std::string error;
    ASSERT_TRUE(Load(first, error)) << error;
    ASSERT_TRUE(Load(second, error)) << error;
    EXPECT_EQ(first.cameras[0].DevicePath(), second.cameras[0].DevicePath());
    EXPECT_NE(first.cameras[0].instance, first.cameras[1].instance);
    EXPECT_EQ(first.cameras[0].instance.size(), 8u);
}

TEST_F(BenchTest, OverridesAndEmptyBench) {
    Write("[bench]\ncameras=odd,bagless\n[odd]\nvid=3b1d\npid=0001\npath=\\\\?\\Usb#vid_3b1d&pid_0001#x\n"
          "[bagless]\nvid=3b1d\npid=0002\nnopath=1\n");
    emu::Bench bench;
    std::string error;
    ASSERT_TRUE(Load(bench, error)) << error;
    std::vector<kit::VideoInputDevice> devices;
    emu::EmulatedVideoInput(bench).Enumerate(devices);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].devicePath, "\\\\?\\Usb#vid_3b1d&pid_0001#x");
    EXPECT_FALSE(devices[1].hasPath);

    Write("[bench]\ndescription=no camera\n");
    ASSERT_TRUE(Load(bench, error)) << error;
    EXPECT_EQ(emu::EmulatedVideoInput(bench).Enumerate(devices), kit::kS_FALSE);
    EXPECT_TRUE(devices.empty());
}

TEST_F(BenchTest, BrokenDescriptionsAreRefusedWithAReason) {
    struct Case { const char* text; const char* reason; } cases[] = {
        {nullptr, "no bench.ini"},
        {"[other]\n", "no [bench] section"},
        {"[bench]\ncameras=ghost\n", "\"ghost\" is listed but has no [ghost] section"},
        {"[bench]\ncameras=c\n[c]\nvid=3b1\npid=0001\n", "vid must be 4 hexadecimal digits"},
        {"[bench]\ncameras=c\n[c]\nvid=3b1d\npid=00g1\n", "pid must be 4 hexadecimal digits"},
        {"[bench]\ncameras=c\n[c]\nvid=3b1d\npid=0001\nbus=pci\n", "bus must be usb or root"},
        {"[bench]\ncameras=c\n[c]\nvid=3b1d\npid=0001\nport=0\n", "port must be 1..255"},
        {"[bench]\ncameras=c\n[c]\nvid=3b1d\npid=0001\ninstance=xyz\n", "instance must be"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir_ / "bench.ini");
        if (c.text) Write(c.text);
        emu::Bench bench;
        std::string error;
        EXPECT_FALSE(Load(bench, error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

}  // namespace

namespace {

TEST_F(BenchTest, ImagesPersistAndAMissingImageIsErasedMemory) {
    std::string path = emu::BenchFilePath(dir_.string(), "cam0.flash");
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(emu::LoadImage(path, image, error, 4096)) << error;
    EXPECT_EQ(image, std::vector<uint8_t>(4096, 0xFF));
    EXPECT_FALSE(emu::LoadImage(path, image, error)) << "without a size a missing image is an error";
    EXPECT_NE(error.find("cam0.flash"), std::string::npos);

    std::vector<uint8_t> written(70000);
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(emu::SaveImage(path, written, error)) << error;
    ASSERT_TRUE(emu::SaveImage(path, written, error)) << "an existing image is replaced: " << error;
    ASSERT_TRUE(emu::LoadImage(path, image, error, 4096)) << error;
    EXPECT_EQ(image, written) << "a stored image wins over the erased default";
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    EXPECT_FALSE(emu::SaveImage((dir_ / "no-such-folder" / "x.flash").string(), written, error));
}

// Opening or replacing an image that another handle holds: a refusal is tried again, within the
// bound; any other failure is final at once.
TEST(RetryWhileRefused, WaitsOutARefusalAndNothingElse) {
    using std::errc;
    struct Case {
        const char* what;
        std::vector<errc> answers;  // one per call; past the end the replace succeeds
        int tries;
        int calls;
        std::error_code result;
    };
    const std::error_code ok;
    const Case cases[] = {
        {"replaced at once", {}, 5, 1, ok},
        {"a reader lets go after three refusals", {errc::permission_denied, errc::permission_denied,
                                                   errc::device_or_resource_busy}, 5, 4, ok},
        {"a reader that never lets go: given up after the tries",
         std::vector<errc>(10, errc::permission_denied), 5, 5, std::make_error_code(errc::permission_denied)},
        {"a missing folder is not waited for", {errc::no_such_file_or_directory}, 5, 1,
         std::make_error_code(errc::no_such_file_or_directory)},
    };
    for (const Case& c : cases) {
        int calls = 0;
        std::error_code got = emu::RetryWhileRefused(
            [&]() -> std::error_code {
                const size_t at = static_cast<size_t>(calls++);
                return at < c.answers.size() ? std::make_error_code(c.answers[at]) : std::error_code{};
            },
            c.tries, std::chrono::milliseconds(0));
        EXPECT_EQ(calls, c.calls) << c.what;
        EXPECT_EQ(got, c.result) << c.what;
    }
}

TEST(BenchFilePath, KeepsTheFolderSeparator) {
    EXPECT_EQ(emu::BenchFilePath("C:\\bench", "a.flash"), "C:\\bench\\a.flash");
    EXPECT_EQ(emu::BenchFilePath("/tmp/bench/", "a.flash"), "/tmp/bench/a.flash");
    EXPECT_EQ(emu::BenchFilePath("/tmp/bench", "a.flash"), "/tmp/bench/a.flash");
}

}  // namespace
