// The capture-filter stand-in's answers, without COM: request decoding, refusals, the private
// records, the topology list, the shared bench, persistence and the registration plan.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "emu/capture_filter/registration.h"
#include "emu/capture_filter/standin_device.h"

namespace {

namespace c = emu::capture;
namespace fs = std::filesystem;

// The first extension-unit set {63610682-5070-49AB-B8CC-B3855E8D221D} as it lies in memory.
const emu::Guid kFirst = {0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xAB, 0x49,
                          0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D};

constexpr uint32_t kGetTopology = 0x10000001, kSetTopology = 0x10000002;

const char* kBench =
    "[bench]\ncameras=cam0,cam1,web\n"
    "[cam0]\nfriendly=Front\nchip=quelmar\nvid=3a7c\npid=b5a4\nmi=00\nfamily=j\nchip_id=0xB7\nflash=121\n"
    "chunk=2048\ncarrier=ks\n"
    "[cam1]\nfriendly=Rear\nchip=quelmar\nvid=3a7c\npid=b5a5\nport=2\nfamily=h\nchip_id=0x83\nflash=129\n"
    "carrier=both\nxu_guid=second\nks_nodes=camera,other_xu,xu\n"
    "[web]\nfriendly=Other\nvid=046d\npid=0825\nport=3\n";

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("capture_standin_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "bench.ini", std::ios::binary) << kBench;
        std::string error;
        ASSERT_TRUE(bench_.Open(dir_.string(), error)) << error;
    }
    void TearDown() override { fs::remove_all(dir_); }

    const emu::CameraRecord& Camera(size_t i) { return bench_.Description().cameras.at(i); }
    c::StandInDevice Device(size_t i) {
        std::string problem;
        c::StandInDevice device(bench_, Camera(i), problem);
        EXPECT_EQ(problem, "");
        return device;
    }

    static std::array<uint8_t, 32> Request(uint32_t id, uint32_t flags, uint32_t node,
                                           const emu::Guid& set = kFirst) {
        c::KspNode n;
        n.set = set;
        n.id = id;
        n.flags = flags;
        n.node = node;
        return c::EncodeKspNode(n);
    }
    // A KS request at the extension-unit node of cam0 (node 2).
    static int32_t Ks(c::StandInDevice& d, uint32_t id, uint32_t flags, std::vector<uint8_t>& data,
                      uint32_t* returned, uint32_t node = 2, const emu::Guid& set = kFirst) {
        auto request = Request(id, flags, node, set);
        return d.KsProperty(request.data(), 32, data.empty() ? nullptr : data.data(),
                            static_cast<uint32_t>(data.size()), returned);
    }
    static std::vector<uint8_t> Record(uint16_t length, uint8_t code, uint8_t selector,
                                       std::vector<uint8_t> data = {0, 0, 0, 0}) {
        std::vector<uint8_t> r{static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), code,
                               selector};
        r.insert(r.end(), data.begin(), data.end());
        r.resize(c::kCustomBufferBytes + 4);
        return r;
    }

    fs::path dir_;
    c::SharedBench bench_;
};

TEST(KspNodeTest, EncodesTheThirtyTwoByteLayoutAndDecodesItBack) {
    c::KspNode n;
    n.set = kFirst;
    n.id = 10;
    n.flags = kGetTopology;
    n.node = 2;
    const std::array<uint8_t, 32> expected = {
        0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xAB, 0x49, 0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D,
        0x0A, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(c::EncodeKspNode(n), expected);

    c::KspNode back;
    ASSERT_TRUE(c::DecodeKspNode(expected.data(), 32, back));
    EXPECT_EQ(back.set, kFirst);
    EXPECT_EQ(back.id, 10u);
    EXPECT_EQ(back.flags, kGetTopology);
    EXPECT_EQ(back.node, 2u);
    // A bare KSPROPERTY carries no node.
    ASSERT_TRUE(c::DecodeKspNode(expected.data(), 24, back));
    EXPECT_EQ(back.node, 0u);
    EXPECT_FALSE(c::DecodeKspNode(expected.data(), 23, back));
    EXPECT_FALSE(c::DecodeKspNode(nullptr, 32, back));
}

TEST(NodeListTest, ReadsNamesAndRefusesWhatNoCameraHas) {
    struct Case {
        const char* text;
        bool ok;
        std::vector<c::NodeKind> nodes;
    };
    using K = c::NodeKind;
    const Case cases[] = {
        {"camera,processing,xu,streaming", true, {K::Camera, K::Processing, K::ExtensionUnit, K::Streaming}},
        {" XU , Other_XU ,selector", true, {K::ExtensionUnit, K::ForeignUnit, K::Selector}},
        {"camera,", true, {K::Camera}},
        {"camera", true, {K::Camera}},
        {"xu,other_xu,xu", false, {}},
        {"", false, {}},
        {"camera,,xu", false, {}},
        {"camera,lens", false, {}},
    };
    for (const Case& t : cases) {
        std::vector<c::NodeKind> nodes;
        std::string error;
        EXPECT_EQ(c::ParseNodes(t.text, nodes, error), t.ok) << t.text;
        if (t.ok)
            EXPECT_EQ(nodes, t.nodes) << t.text;
        else
            EXPECT_NE(error, "") << t.text;
    }
}

TEST(NodeListTest, BothExtensionUnitsAreDeviceSpecificNodes) {
    // KSNODETYPE_DEV_SPECIFIC {941C7AC0-C559-11D0-8A2B-00A0C9255AC1} in memory.
    const emu::Guid devSpecific = {0xC0, 0x7A, 0x1C, 0x94, 0x59, 0xC5, 0xD0, 0x11,
                                   0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1};
    EXPECT_EQ(c::NodeTypeOf(c::NodeKind::ExtensionUnit), devSpecific);
    EXPECT_EQ(c::NodeTypeOf(c::NodeKind::ForeignUnit), devSpecific);
    for (c::NodeKind k :
         {c::NodeKind::Camera, c::NodeKind::Processing, c::NodeKind::Selector, c::NodeKind::Streaming})
        EXPECT_NE(c::NodeTypeOf(k), devSpecific);
    EXPECT_NE(c::NodeTypeOf(c::NodeKind::Camera), c::NodeTypeOf(c::NodeKind::Processing));
}

TEST(ExposureTest, FollowsTheCarrier) {
    struct Case {
        const char* carrier;
        bool ks, topology, custom;
    };
    for (const Case& t :
         {Case{"ks", true, true, false}, Case{"private", true, false, true}, Case{"both", true, true, true},
          Case{"private_only", false, false, true},
          Case{"none", false, false, false}, Case{"KS", false, false, false}}) {
        c::Exposure e = c::ExposureOf(t.carrier);
        EXPECT_EQ(e.ksControl, t.ks) << t.carrier;
        EXPECT_EQ(e.topology, t.topology) << t.carrier;
        EXPECT_EQ(e.custom, t.custom) << t.carrier;
    }
}

TEST_F(StandInTest, FindsTheCameraByDevicePathIgnoringCase) {
    std::string path = Camera(1).DevicePath();
    std::string upper = path;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(bench_.FindByDevicePath(upper), &Camera(1));
    EXPECT_EQ(bench_.FindByDevicePath(Camera(0).DevicePath()), &Camera(0));
    EXPECT_EQ(bench_.FindByDevicePath(path + "x"), nullptr);
    EXPECT_EQ(bench_.FindByDevicePath(path.substr(0, path.size() - 1)), nullptr);
    EXPECT_EQ(bench_.FindByDevicePath(""), nullptr);
}

TEST_F(StandInTest, KernelStreamingRequestsAndTheirRefusals) {
    c::StandInDevice d = Device(0);
    EXPECT_TRUE(d.Exposes().ksControl && d.Exposes().topology && !d.Exposes().custom);
    const emu::Guid other = {1, 2, 3};
    struct Case {
        const char* what;
        uint32_t id, flags, node;
        emu::Guid set;
        uint32_t dataBytes;
        int32_t result;
        uint32_t returned;
    };
    const Case cases[] = {
        {"length of the chunk control", 10, kGetTopology, 2, kFirst, 0, c::kMoreData, 2048},
        {"length of the checksum", 11, kGetTopology, 2, kFirst, 0, c::kMoreData, 1},
        {"read of the checksum", 11, kGetTopology, 2, kFirst, 1, 0, 1},
        {"a selector the unit lacks", 1, kGetTopology, 2, kFirst, 0, static_cast<int32_t>(0x80070490), 0},
        {"a selector beyond one byte is not selector 10", 0x10A, kGetTopology, 2, kFirst, 0,
         static_cast<int32_t>(0x80070490), 0},
        {"a read of the wrong length", 11, kGetTopology, 2, kFirst, 2, static_cast<int32_t>(0x8007001F), 0},
        {"the set the unit does not carry", 10, kGetTopology, 2, emu::SecondExtensionSet(), 0,
         c::kSetNotFound, 0},
        {"a set of no extension unit", 10, kGetTopology, 2, other, 0, c::kSetNotFound, 0},
        {"the processing unit's node", 10, kGetTopology, 1, kFirst, 0, c::kSetNotFound, 0},
        {"a node beyond the topology", 10, kGetTopology, 4, kFirst, 0, c::kEInvalidArg, 0},
        {"a request to the filter, not a node", 10, 0x00000001, 2, kFirst, 0, c::kSetNotFound, 0},
        {"basic support", 10, 0x10000200, 2, kFirst, 0, c::kNotSupported, 0},
        {"get and set at once", 10, 0x10000003, 2, kFirst, 0, c::kNotSupported, 0},
    };
    for (const Case& t : cases) {
        std::vector<uint8_t> data(t.dataBytes);
        uint32_t returned = 77;
        EXPECT_EQ(Ks(d, t.id, t.flags, data, &returned, t.node, t.set), t.result) << t.what;
        EXPECT_EQ(returned, t.returned) << t.what;
    }
}

TEST_F(StandInTest, MalformedKernelStreamingCalls) {
    c::StandInDevice d = Device(0);
    auto request = Request(10, kGetTopology, 2);
    uint32_t returned = 0;
    uint8_t byte = 0;
    EXPECT_EQ(d.KsProperty(nullptr, 32, nullptr, 0, &returned), c::kEPointer);
    EXPECT_EQ(d.KsProperty(request.data(), 32, nullptr, 0, nullptr), c::kEPointer);
    EXPECT_EQ(d.KsProperty(request.data(), 24, nullptr, 0, &returned), c::kInsufficientBuffer)
        << "no node id";
    EXPECT_EQ(d.KsProperty(request.data(), 20, nullptr, 0, &returned), c::kInsufficientBuffer);
    EXPECT_EQ(d.KsProperty(request.data(), 32, nullptr, 1, &returned), c::kEPointer)
        << "a length without data";
    // A data pointer with no length is still the length query.
    EXPECT_EQ(d.KsProperty(request.data(), 32, &byte, 0, &returned), c::kMoreData);
    EXPECT_EQ(returned, 2048u);
}

TEST_F(StandInTest, RegisterAccessThroughTheKernelStreamingCarrier) {
    c::StandInDevice d = Device(0);
    uint32_t returned = 5;
    std::vector<uint8_t> address{0xFF, 0x20}, value(1);
    ASSERT_EQ(Ks(d, 2, kSetTopology, address, &returned), 0);
    EXPECT_EQ(returned, 0u) << "a write returns no bytes";
    ASSERT_EQ(Ks(d, 3, kGetTopology, value, &returned), 0);
    EXPECT_EQ(value[0], 0xB7);
    EXPECT_EQ(returned, 1u);
}

TEST_F(StandInTest, FiltersOfOneCameraShareItsChip) {
    c::StandInDevice first = Device(0), second = Device(0);
    uint32_t returned = 0;
    std::vector<uint8_t> address{0xFF, 0x20}, value(1);
    ASSERT_EQ(Ks(first, 2, kSetTopology, address, &returned), 0);
    ASSERT_EQ(Ks(second, 3, kGetTopology, value, &returned), 0);
    EXPECT_EQ(value[0], 0xB7);
}

TEST_F(StandInTest, SecondSetBehindAnotherMakersUnit) {
    c::StandInDevice d = Device(1);
    EXPECT_TRUE(d.Exposes().ksControl && d.Exposes().topology && d.Exposes().custom);
    ASSERT_EQ(d.Nodes().size(), 3u);
    const emu::Guid second = emu::SecondExtensionSet();
    std::vector<uint8_t> none;
    uint32_t returned = 0;
    // The other maker's unit (node 1) has the type the kit looks for, but neither set.
    EXPECT_EQ(Ks(d, 11, kGetTopology, none, &returned, 1, kFirst), c::kSetNotFound);
    EXPECT_EQ(Ks(d, 11, kGetTopology, none, &returned, 1, second), c::kSetNotFound);
    EXPECT_EQ(Ks(d, 11, kGetTopology, none, &returned, 2, kFirst), c::kSetNotFound);
    EXPECT_EQ(Ks(d, 11, kGetTopology, none, &returned, 2, second), c::kMoreData);
    EXPECT_EQ(returned, 1u);
}

TEST_F(StandInTest, PrivateRecords) {
    c::StandInDevice d = Device(1);
    std::vector<uint8_t> reply(c::kCustomBufferBytes, 0xEE);
    EXPECT_EQ(d.GetCustomProperty(35, reply.data()), c::kNoData) << "no request yet";

    // Register 0x20FF, as discovery reads it without a topology.
    ASSERT_EQ(d.SetCustomProperty(35, Record(2, 0x01, 2, {0xFF, 0x20}).data()), 0);
    ASSERT_EQ(d.SetCustomProperty(35, Record(1, 0x81, 3).data()), 0);
    ASSERT_EQ(d.GetCustomProperty(35, reply.data()), 0);
    EXPECT_EQ(reply[0], 0x83);
    EXPECT_EQ(reply[1], 0x00) << "the rest of the reply is cleared";
    // The reply stays until the next read or length request; a write leaves it.
    ASSERT_EQ(d.SetCustomProperty(35, Record(2, 0x01, 2, {0xD0, 0x20}).data()), 0);
    ASSERT_EQ(d.GetCustomProperty(35, reply.data()), 0);
    EXPECT_EQ(reply[0], 0x83);

    ASSERT_EQ(d.SetCustomProperty(35, Record(2, 0x85, 10).data()), 0);
    ASSERT_EQ(d.GetCustomProperty(35, reply.data()), 0);
    EXPECT_EQ(reply[0] | reply[1] << 8, 4096);

    // A refused read: both calls say so, and no stale byte is left for the caller.
    EXPECT_EQ(d.SetCustomProperty(35, Record(1, 0x81, 1).data()), static_cast<int32_t>(0x80070490));
    std::fill(reply.begin(), reply.end(), 0xEE);
    EXPECT_EQ(d.GetCustomProperty(35, reply.data()), static_cast<int32_t>(0x80070490));
    EXPECT_TRUE(std::all_of(reply.begin(), reply.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(StandInTest, PrivateRecordRefusals) {
    c::StandInDevice d = Device(1);
    std::vector<uint8_t> reply(c::kCustomBufferBytes);
    struct Case {
        const char* what;
        uint32_t id;
        std::vector<uint8_t> record;
        int32_t result;
    };
    const Case cases[] = {
        {"another property", 34, Record(1, 0x81, 3), c::kNotSupported},
        {"a request code the driver lacks", 35, Record(1, 0x82, 3), c::kNotSupported},
        {"more than the buffer holds", 35, Record(4097, 0x01, 10), c::kEInvalidArg},
        {"a length request of the wrong size", 35, Record(1, 0x85, 10), static_cast<int32_t>(0x8007001F)},
        {"a write of the wrong length", 35, Record(1, 0x01, 2, {0xFF}), static_cast<int32_t>(0x8007001F)},
    };
    for (const Case& t : cases) EXPECT_EQ(d.SetCustomProperty(t.id, t.record.data()), t.result) << t.what;
    EXPECT_EQ(d.SetCustomProperty(35, nullptr), c::kEPointer);
    EXPECT_EQ(d.GetCustomProperty(35, nullptr), c::kEPointer);
    EXPECT_EQ(d.GetCustomProperty(34, reply.data()), c::kNotSupported);
}

TEST_F(StandInTest, WithoutACameraEveryRequestFails) {
    c::StandInDevice d;
    EXPECT_EQ(d.Camera(), nullptr);
    EXPECT_TRUE(d.Exposes().ksControl && d.Exposes().topology && d.Exposes().custom);
    EXPECT_EQ(d.Nodes().size(), 4u);
    std::vector<uint8_t> none, reply(c::kCustomBufferBytes);
    uint32_t returned = 9;
    EXPECT_EQ(Ks(d, 10, kGetTopology, none, &returned), c::kDeviceNotConnected);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(d.SetCustomProperty(35, Record(2, 0x85, 10).data()), c::kDeviceNotConnected);
    EXPECT_EQ(d.GetCustomProperty(35, reply.data()), c::kDeviceNotConnected);
}

TEST_F(StandInTest, AnUnreadableNodeListLeavesTheFilterWithoutACamera) {
    std::ofstream(dir_ / "bench.ini", std::ios::binary)
        << "[bench]\ncameras=cam0\n[cam0]\nchip=quelmar\nvid=3a7c\npid=b5a4\nfamily=j\nflash=121\nks_nodes="
           "xu,xu\n";
    c::SharedBench bench;
    std::string error;
    ASSERT_TRUE(bench.Open(dir_.string(), error)) << error;
    std::string problem;
    c::StandInDevice d(bench, bench.Description().cameras[0], problem);
    EXPECT_NE(problem.find("one extension unit"), std::string::npos) << problem;
    std::vector<uint8_t> none;
    uint32_t returned = 0;
    EXPECT_EQ(Ks(d, 10, kGetTopology, none, &returned), c::kDeviceNotConnected);
}

TEST_F(StandInTest, AWriteReachesTheFlashFileAtOnce) {
    c::StandInDevice d = Device(0);
    uint32_t returned = 0;
    std::vector<uint8_t> zero4(4, 0), block(4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_EQ(Ks(d, 13, kSetTopology, zero4, &returned), 0);  // erase sector 0
    ASSERT_EQ(Ks(d, 14, kSetTopology, zero4, &returned), 0);  // address 0
    ASSERT_EQ(Ks(d, 15, kSetTopology, block, &returned), 0);  // data block
    // Nothing is closed: the file must already hold the block.
    std::ifstream file(dir_ / "cam0.flash", std::ios::binary);
    std::vector<uint8_t> flash((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(flash.size(), block.size());
    EXPECT_TRUE(std::equal(block.begin(), block.end(), flash.begin()));
}

TEST_F(StandInTest, MemoryThatCannotBeSavedFailsTheRequestAndIsTraced) {
    c::StandInDevice d = Device(0);
    kit::RecordingTrace trace;
    d.SetTrace(&trace);
    uint32_t returned = 0;
    std::vector<uint8_t> zero4(4, 0), block(4096, 0x5A), address{0xFF, 0x20};
    // A folder where the image file should be: the image cannot be replaced.
    fs::remove(dir_ / "cam0.flash");
    fs::create_directories(dir_ / "cam0.flash" / "blocker");
    ASSERT_EQ(Ks(d, 14, kSetTopology, zero4, &returned), 0) << "nothing to save yet";
    EXPECT_EQ(Ks(d, 15, kSetTopology, block, &returned), c::kWriteFault);
    ASSERT_EQ(trace.lines.size(), 1u);
    EXPECT_EQ(trace.lines[0].rfind("capture filter stand-in: cam0: memory not saved: ", 0), 0u)
        << trace.lines[0];
    // The change stays pending: later requests try again, and succeed once the file can be written.
    EXPECT_EQ(Ks(d, 2, kSetTopology, address, &returned), c::kWriteFault);
    fs::remove_all(dir_ / "cam0.flash");
    EXPECT_EQ(Ks(d, 2, kSetTopology, address, &returned), 0);
    std::ifstream file(dir_ / "cam0.flash", std::ios::binary);
    std::vector<uint8_t> flash((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(flash.size(), block.size());
    EXPECT_TRUE(std::equal(block.begin(), block.end(), flash.begin()));
}

TEST(RegistrationTest, PlanKeepsTheBenchOrderAndEveryView) {
    emu::Bench bench;
    for (int i = 0; i < 12; ++i) {
        emu::CameraRecord cam;
        cam.name = "cam" + std::to_string(i);
        cam.friendly = "Camera " + std::to_string(i);
        cam.bus = i == 3 ? "root" : "usb";
        cam.vid = 0x3A7C;
        cam.pid = static_cast<uint16_t>(0xB500 + i);
        cam.instance = "0000000" + std::to_string(i % 10);
        cam.noPath = i == 5;
        bench.cameras.push_back(cam);
    }
    auto plan = c::RegistrationPlan(bench, "Z:\\benches\\one", "Z:\\emu\\CaptureStandIn.dll");
    const std::string cls = "CLSID\\{2A51A045-7D26-44D2-8407-7637C5FDD517}";
    auto value = [&](const std::string& key, const std::string& name) -> std::string {
        for (const c::RegistryValue& v : plan)
            if (v.key == key && v.name == name) return v.data;
        return "<none>";
    };
    EXPECT_EQ(value(cls, c::kBenchValue), "Z:\\benches\\one");
    EXPECT_EQ(value(cls + "\\InprocServer32", ""), "Z:\\emu\\CaptureStandIn.dll");
    EXPECT_EQ(value(cls + "\\InprocServer32", "ThreadingModel"), "Both");

    // One Instance per camera; the registry lists keys by name, so names must sort as the bench.
    std::vector<std::string> instances;
    for (const c::RegistryValue& v : plan)
        if (v.name == "CLSID") {
            EXPECT_EQ(v.data, "{2A51A045-7D26-44D2-8407-7637C5FDD517}");
            instances.push_back(v.key);
        }
    ASSERT_EQ(instances.size(), 12u);
    EXPECT_TRUE(std::is_sorted(instances.begin(), instances.end()));
    for (size_t i = 0; i < instances.size(); ++i) {
        const emu::CameraRecord& cam = bench.cameras[i];
        EXPECT_EQ(
            instances[i].rfind("CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\CamkitStandIn-", 0),
            0u);
        EXPECT_EQ(value(instances[i], "FriendlyName"), cam.friendly);
        EXPECT_EQ(value(instances[i], "DevicePath"), cam.noPath ? "<none>" : cam.DevicePath()) << cam.name;
    }
    EXPECT_EQ(value(instances[3], "DevicePath").rfind("\\\\?\\root#", 0), 0u)
        << "virtual cameras are listed too";
}

}  // namespace
