// SubSystemID.exe's choice of ID among the PCI devices: what a real machine gives it and wine cannot.
#include "bench_subsystem_id.h"
#include "subsystem_id.h"

#include <gtest/gtest.h>

namespace {

using subsysid::PciDevice;

TEST(TessawSubSystemId, SubsysFieldIsEightHexDigitsUpToTheNextAmpersand) {
    struct Case {
        const char* id;
        const char* field;
    } cases[] = {
        {"PCI\\VEN_8086&DEV_0C04&SUBSYS_17A3103C&REV_06", "17A3103C"},
        {"pci\\ven_8086&dev_0c04&subsys_17a3103c", "17A3103C"},  // at the end, any case
        {"PCI\\VEN_8086&DEV_0C04&SUBSYS_00000000&REV_06", "00000000"},
        {"PCI\\VEN_8086&DEV_0C04&SUBSYS_17A3103&REV_06", ""},    // seven digits
        {"PCI\\VEN_8086&DEV_0C04&SUBSYS_17A3103C9&REV_06", ""},  // nine
        {"PCI\\VEN_8086&DEV_0C04&SUBSYS_17G3103C&REV_06", ""},   // not hexadecimal
        {"PCI\\VEN_8086&DEV_0C04&REV_06", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(subsysid::SubsysField(c.id), c.field) << c.id;
}

TEST(TessawSubSystemId, OnlyTheHostBridgeGivesTheId) {
    const PciDevice wifi{{"PCI\\VEN_8086&DEV_08B1&SUBSYS_C0708086&REV_6B"},
                         {"PCI\\CC_028000", "PCI\\CC_0280"}};
    const PciDevice bridge{
        {"PCI\\VEN_8086&DEV_0C04&SUBSYS_17A3103C&REV_06", "PCI\\VEN_8086&DEV_0C04&SUBSYS_17A3103C"},
        {"PCI\\VEN_8086&DEV_0C04&CC_060000", "PCI\\CC_0600"}};
    const PciDevice bareBridge{{"PCI\\VEN_8086&DEV_0C04&REV_06"}, {"PCI\\CC_0600"}};
    const PciDevice zeroBridge{{"PCI\\VEN_1022&DEV_1450&SUBSYS_00000000&REV_00"}, {"PCI\\CC_0600"}};
    // The class may also be named in a hardware ID only.
    const PciDevice classInHardwareId{{"PCI\\VEN_8086&DEV_0C04&SUBSYS_2B3A1028&CC_060000"}, {}};

    struct Case {
        const char* name;
        std::vector<PciDevice> devices;
        const char* id;
        const char* source;
    } cases[] = {
        {"bridge after another device",
         {wifi, bridge},
         "17A3",
         "PCI\\VEN_8086&DEV_0C04&SUBSYS_17A3103C&REV_06"},
        {"no bridge: no guess from other devices", {wifi}, "", ""},
        {"a bridge without SUBSYS is passed over",
         {bareBridge, bridge},
         "17A3",
         "PCI\\VEN_8086&DEV_0C04&SUBSYS_17A3103C&REV_06"},
        {"only a bridge without SUBSYS", {bareBridge, wifi}, "", ""},
        {"zeros: a machine without an ID of its own",
         {zeroBridge},
         "0000",
         "PCI\\VEN_1022&DEV_1450&SUBSYS_00000000&REV_00"},
        {"class named in the hardware ID",
         {classInHardwareId},
         "2B3A",
         "PCI\\VEN_8086&DEV_0C04&SUBSYS_2B3A1028&CC_060000"},
        {"no devices (wine)", {}, "", ""},
    };
    for (const Case& c : cases) {
        std::string source = "stale";
        EXPECT_EQ(subsysid::FindSubsystemId(c.devices, source), c.id) << c.name;
        EXPECT_EQ(source, c.source) << c.name;
    }
}

TEST(TessawSubSystemId, BenchSaysWhatTheMachineReports) {
    struct Case {
        const char* value;  // nullptr: no key
        bool ok;
        const char* id;
    } cases[] = {{nullptr, true, "0000"}, {"17a3", true, "17A3"}, {" 2B3A ", true, "2B3A"},
                 {"none", true, ""},      {"NONE", true, ""},     {"17A", false, ""},
                 {"17A3X", false, ""},    {"", false, ""}};
    for (const Case& c : cases) {
        emu::Bench bench;
        if (c.value) bench.sections["bench"]["subsystem_id"] = c.value;
        std::string id = "stale", error;
        EXPECT_EQ(subsysid::BenchSubsystemId(bench, id, error), c.ok) << (c.value ? c.value : "(none)");
        if (c.ok)
            EXPECT_EQ(id, c.id) << c.value;
        else
            EXPECT_NE(error.find("subsystem_id"), std::string::npos) << error;
    }
}

}  // namespace
