// The bench's table of operations that faults can hit: every line it makes is one the device's own
// parser reads back, kinds that do not apply are refused there too, and the call counts that a
// fault-free run leaves agree with the clock's.
#include <gtest/gtest.h>

#include "camlib/camlib.h"
#include "camlib/testing/bench_rig.h"
#include "emu/fault_ops.h"
#include "emu/quelmar/faults.h"
#include "emu/vendor/realtek_model.h"
#include "emu/vendor/sonix_model.h"
#include "emu/vendor/vendor_faults.h"

namespace {

using emu::faultops::Device;
using emu::faultops::Kind;
using emu::faultops::Operation;

std::vector<emu::vendor::EntryName> Entries(Device device) {
    switch (device) {
        case Device::RvcLib: return emu::vendor::RvcLibEntries();
        case Device::BurnerAp: return emu::vendor::BurnerApEntries();
        default: return emu::vendor::EntriesOf(device);
    }
}

// Reads a line back with the parser of the operation's device.
bool Parses(const Operation& op, const std::string& line, std::string& error) {
    if (op.device == Device::QuelmarChip) {
        emu::quelmar::Fault f;
        return emu::quelmar::ParseFault(line, f, error) && std::string(emu::quelmar::OperationOf(f.op)->name) == op.name &&
               f.firstCall == 3 && f.lastCall == 3;
    }
    emu::vendor::EntryFault f;
    return emu::vendor::ParseEntryFault(line, Entries(op.device), f, error) && f.entry == op.name &&
           f.firstCall == 3 && f.lastCall == 3;
}

TEST(FaultOperations, EveryLineTheTableMakesIsReadBackByItsDevice) {
    size_t lines = 0;
    for (const Operation& op : emu::faultops::Operations()) {
        for (Kind kind : {Kind::Fail, Kind::Corrupt, Kind::Unplug}) {
            SCOPED_TRACE(std::string(op.name) + " " + emu::faultops::KindName(kind));
            const std::string line = emu::faultops::FaultLine(op, kind, 3, op.targeted ? 2 : -1, "cam0");
            std::string error;
            if (op.Takes(kind)) {
                ++lines;
                EXPECT_TRUE(Parses(op, line, error)) << line << ": " << error;
            } else {
                EXPECT_EQ(line, "");
            }
        }
    }
    EXPECT_GT(lines, 60u);
}

TEST(FaultOperations, KindsAnOperationDoesNotTakeAreRefusedByItsParser) {
    struct Case {
        Device device;
        const char* line;
    } cases[] = {
        {Device::QuelmarChip, "corrupt=xu_write@1"},
        {Device::QuelmarChip, "corrupt=reg_write:0x2020@1"},
        {Device::QuelmarChip, "fail=xu_erase@1"},
        {Device::BurnerAp, "GetProgress:1:unplug"},
        {Device::StillGraph, "ConnectPins:1:unplug"},
        {Device::StillGraph, "TakeCapturePin:1:0"},
        {Device::RvcLib, "ReqToDriver:1:0"},
    };
    for (const Case& c : cases) {
        std::string error;
        if (c.device == Device::QuelmarChip) {
            emu::quelmar::Fault f;
            EXPECT_FALSE(emu::quelmar::ParseFault(c.line, f, error)) << c.line;
        } else {
            emu::vendor::EntryFault f;
            EXPECT_FALSE(emu::vendor::ParseEntryFault(c.line, Entries(c.device), f, error)) << c.line;
        }
        EXPECT_FALSE(error.empty()) << c.line;
    }
}

TEST(FaultOperations, TheChipsOperationsAreTheFaultOps) {
    const auto ops = emu::faultops::OperationsOf(Device::QuelmarChip);
    ASSERT_EQ(ops.size(), 5u);
    for (const Operation* op : ops) {
        const emu::quelmar::FaultOp f = emu::quelmar::FaultOpNamed(op->name);
        ASSERT_NE(f, emu::quelmar::FaultOp::None) << op->name;
        EXPECT_EQ(emu::quelmar::OperationOf(f), op);
    }
    EXPECT_EQ(emu::quelmar::FaultOpNamed("xu_erase"), emu::quelmar::FaultOp::None);
    EXPECT_EQ(emu::faultops::FaultKey(Device::StillGraph, 2), "still_fault2");
    EXPECT_EQ(emu::faultops::FaultKey(Device::QuelmarChip, 1), "fault1");
}

TEST(FaultOperations, TheChipCountsEveryRequestAsTheClockDoesAndEveryRegisterItReads) {
    camlib::testing::BenchRig rig(camlib::testing::QuelmarBench({{"family", "i"}}));
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    camlib::CamHolder h = nullptr;
    ASSERT_EQ(camlib::CamInit(&h, 'e', 0), 0);
    uint8_t code = 0;
    ASSERT_EQ(camlib::CamProbeFlashType(h, &code), 0);
    camlib::CamDestroy(&h);
    using emu::quelmar::FaultOp;
    const auto& counts = rig.Chip().CallCounts();
    size_t xu = 0;
    for (const auto& [key, n] : counts) {
        const char* kind = key.first == FaultOp::XuLength ? "xu.length"
                           : key.first == FaultOp::XuRead ? "xu.read"
                           : key.first == FaultOp::XuWrite ? "xu.write"
                                                           : nullptr;
        if (!kind) continue;
        ++xu;
        EXPECT_EQ(n, rig.Clock().Stat(std::string(kind) + ".s" + std::to_string(key.second)).count) << kind << key.second;
    }
    EXPECT_GT(xu, 3u);
    // The probe read the two boot registers once each.
    EXPECT_EQ(counts.at({FaultOp::RegRead, 0x20F5}), 1u);
    EXPECT_EQ(counts.at({FaultOp::RegRead, 0x20F6}), 1u);
}

TEST(FaultOperations, AVendorLibraryCountsEveryCallWithOrWithoutAFault) {
    emu::vendor::FaultTable table;
    emu::vendor::EntryFault f;
    std::string error;
    ASSERT_TRUE(emu::vendor::ParseEntryFault("ReqToDriver.write:2:0", emu::vendor::BurnerApEntries(), f, error));
    table.Add(f);
    EXPECT_FALSE(table.OnCall({"ReqToDriver", "ReqToDriver.write"}, "cam0").fail);
    EXPECT_TRUE(table.OnCall({"ReqToDriver", "ReqToDriver.write"}, "cam0").fail);
    table.OnCall({"ReqToDriver", "ReqToDriver.read"}, "cam0");
    table.OnCall({"EraseSF"}, "cam0");
    EXPECT_EQ(table.Counts().at("ReqToDriver"), 3u);
    EXPECT_EQ(table.Counts().at("ReqToDriver.write"), 2u);
    EXPECT_EQ(table.Counts().at("ReqToDriver.read"), 1u);
    EXPECT_EQ(table.Counts().at("EraseSF"), 1u);
}

}  // namespace
