#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "emu/usb_topology.h"

namespace {

emu::Bench LoadFrom(const std::string& text) {
    auto dir = std::filesystem::temp_directory_path() /
               ("usbtopo_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "bench.ini", std::ios::binary) << text;
    emu::Bench bench;
    std::string error;
    EXPECT_TRUE(emu::LoadBench(dir.string(), bench, error)) << error;
    std::filesystem::remove_all(dir);
    return bench;
}

// Steps through a configuration the way a host does and returns the extension units' GUIDs.
std::vector<emu::Guid> ExtensionUnits(const std::vector<uint8_t>& config, size_t& walked) {
    std::vector<emu::Guid> units;
    size_t at = 0;
    while (at + 2 <= config.size() && config[at] != 0) {
        if (config[at + 1] == 0x24 && config[at + 2] == 0x06) {
            emu::Guid g;
            std::copy(config.begin() + static_cast<long>(at) + 4, config.begin() + static_cast<long>(at) + 20, g.begin());
            units.push_back(g);
        }
        at += config[at];
    }
    walked = at;
    return units;
}

TEST(UsbTopology, GuidTextBecomesDescriptorByteOrder) {
    emu::Guid g{};
    ASSERT_TRUE(emu::ParseGuid("{63610682-5070-49AB-B8CC-B3855E8D221D}", g));
    const emu::Guid expected = {0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xAB, 0x49,
                                0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D};
    EXPECT_EQ(g, expected);
    EXPECT_FALSE(emu::ParseGuid("63610682-5070-49AB-B8CC-B3855E8D221D", g));
    EXPECT_FALSE(emu::ParseGuid("{63610682-5070-49AB-B8CC-B3855E8D221G}", g));
}

TEST(UsbTopology, ConfigurationCarriesTheChosenExtensionUnit) {
    emu::Bench bench = LoadFrom(
        "[bench]\ncameras=a,b,c\n[a]\nvid=3a7c\npid=0001\n[b]\nvid=3a7c\npid=0002\nport=2\nxu_guid=second\n"
        "[c]\nvid=3a7c\npid=0003\nport=3\nxu_guid=none\n");
    struct Case { size_t camera; std::vector<emu::Guid> units; } cases[] = {
        {0, {emu::FirstExtensionSet()}}, {1, {emu::SecondExtensionSet()}}, {2, {}}};
    for (const Case& c : cases) {
        std::vector<uint8_t> config = emu::UsbTopology::ConfigurationDescriptor(bench.cameras[c.camera]);
        ASSERT_GE(config.size(), 9u);
        EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size())) << "wTotalLength";
        size_t walked = 0;
        EXPECT_EQ(ExtensionUnits(config, walked), c.units) << c.camera;
        EXPECT_EQ(walked, config.size()) << "descriptor lengths must tile the configuration exactly";
        // The video control header's total covers exactly the class-specific VC descriptors.
        size_t header = 9 + 8 + 9;
        ASSERT_EQ(config[header + 1], 0x24);
        size_t vcTotal = config[header + 5] | config[header + 6] << 8, at = header, sum = 0;
        while (at < config.size() && config[at + 1] == 0x24) sum += config[at], at += config[at];
        EXPECT_EQ(vcTotal, sum);
    }
}

TEST(UsbTopology, PortsHubsAndDescriptorRequests) {
    emu::Bench bench = LoadFrom(
        "[bench]\ncameras=cam,solo\nhubs=ext\ncontrollers=2\n"
        "[ext]\ncontroller=1\nport=2\nports=4\n"
        "[cam]\nvid=3A7C\npid=B5A4\nrev=0012\nmi=00\ncontroller=1\nhub=ext\nport=3\nmanufacturer=Maker\nserial=SN1\n"
        "[solo]\nvid=3b1d\npid=0001\nport=1\n");
    emu::UsbTopology topo;
    std::string error;
    ASSERT_TRUE(topo.Build(bench, [](const emu::CameraRecord& c) { return c.pid == 0xB5A4 ? 0x0105 : c.rev; }, error))
        << error;
    EXPECT_EQ(topo.ControllerCount(), 2);
    std::string root1 = topo.RootHubName(1);
    EXPECT_NE(root1.find("ROOT_HUB30"), std::string::npos);
    ASSERT_NE(topo.Hub(root1), nullptr);
    emu::UsbPortAnswer hubPort = topo.Port(root1, 2);
    EXPECT_TRUE(hubPort.connected && hubPort.isHub);
    EXPECT_FALSE(topo.Port(root1, 1).connected);
    emu::UsbPortAnswer camPort = topo.Port(hubPort.hubName, 3);
    ASSERT_TRUE(camPort.connected && !camPort.isHub);
    ASSERT_EQ(camPort.device.size(), 18u);
    EXPECT_EQ(camPort.device[8] | camPort.device[9] << 8, 0x3A7C);
    EXPECT_EQ(camPort.device[12] | camPort.device[13] << 8, 0x0105) << "bcdDevice comes from the device memory";
    EXPECT_EQ(camPort.device[16], 3) << "a serial number string exists";
    EXPECT_EQ(topo.Port(topo.RootHubName(0), 1).device[16], 0) << "no serial number string";

    EXPECT_EQ(topo.Descriptor(hubPort.hubName, 3, 0x0300, 0, 4), (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
    EXPECT_EQ(topo.Descriptor(hubPort.hubName, 3, 0x0301, 0x0409, 255),
              (std::vector<uint8_t>{12, 3, 'M', 0, 'a', 0, 'k', 0, 'e', 0, 'r', 0}));
    EXPECT_TRUE(topo.Descriptor(hubPort.hubName, 3, 0x0301, 0x0407, 255).empty()) << "unknown language";
    EXPECT_EQ(topo.Descriptor(hubPort.hubName, 3, 0x0200, 0, 9).size(), 9u) << "cut to wLength";
    EXPECT_TRUE(topo.Descriptor(hubPort.hubName, 1, 0x0100, 0, 18).empty()) << "empty port";

    EXPECT_EQ(topo.HubInstanceOf(bench.cameras[0]), topo.Hub("ext")->instanceId);
    EXPECT_EQ(topo.HubInstanceOf(bench.cameras[1]).rfind("PCI\\", 0), 0u) << "two levels above a root-hub device";
}

TEST(UsbTopology, ImpossibleTreesAreRefused) {
    struct Case { const char* text; const char* reason; } cases[] = {
        {"[bench]\ncameras=a,b\n[a]\nvid=0001\npid=0001\n[b]\nvid=0001\npid=0002\n", "two devices on port 1"},
        {"[bench]\ncameras=a\nroot_ports=2\n[a]\nvid=0001\npid=0001\nport=3\n", "no port 3"},
        {"[bench]\ncameras=\nhubs=x\n", "has no [x] section"},
        {"[bench]\ncameras=\nhubs=x\n[x]\nparent=y\n", "must be listed before it"},
        {"[bench]\ncameras=a\n[a]\nvid=0001\npid=0001\ncontroller=1\n", "controller out of range"},
        {"[bench]\ncontrollers=11\n", "controllers must be 1..10"},
    };
    for (const Case& c : cases) {
        emu::Bench bench = LoadFrom(c.text);
        emu::UsbTopology topo;
        std::string error;
        EXPECT_FALSE(topo.Build(bench, nullptr, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

}  // namespace
