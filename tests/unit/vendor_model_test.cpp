// The Realtek and Sonix library models over a bench folder: enumeration, identity from memory,
// staged progress, flash requests, protection, persistence and the fault lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "emu/bench.h"
#include "emu/vendor/device_memory.h"
#include "emu/vendor/library_keys.h"
#include "emu/vendor/realtek_model.h"
#include "emu/vendor/sonix_model.h"
#include "emu/vendor/vendor_faults.h"

namespace {

namespace fs = std::filesystem;
using emu::vendor::FaultAction;
using emu::vendor::RealtekLibrary;
using emu::vendor::SonixLibrary;

// Two Realtek cameras and one Sonix camera among a Quelmar one, so that each library must pick its
// own cameras out of the bench order.
const std::string kCameras =
    "[q0]\nchip=quelmar\nvid=3A7C\npid=B5A4\n"
    "[rt0]\nchip=realtek\nvid=0BDA\npid=5801\nrev=0101\nmemtype=5\n"
    "[sx0]\nchip=sonix\nvid=0C45\npid=6366\nrev=0203\nmi=00\nrom_version=231RO\nrom_index=2\n"
    "sector_table=0x1000\nasic=0x1008:C0 11,0xFFFF:AB,0x0000:CD\n"
    "[rt1]\nchip=realtek\nvid=0BDA\npid=0604\nrev=0102\neeprom_size=0x4000\nprogress_block=1000\n";

class VendorModel : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir_ = fs::temp_directory_path() / ("vendor_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A bench of kCameras with extra [bench] lines.
    void WriteBench(const std::string& benchLines = "", const std::string& cameras = kCameras) {
        std::ofstream(dir_ / "bench.ini", std::ios::binary) << "[bench]\ncameras=q0,rt0,sx0,rt1\n"
                                                            << benchLines << cameras;
    }
    emu::Bench Bench() {
        emu::Bench bench;
        std::string error;
        EXPECT_TRUE(emu::LoadBench(dir_.string(), bench, error)) << error;
        return bench;
    }
    std::unique_ptr<RealtekLibrary> Realtek() {
        std::unique_ptr<RealtekLibrary> lib;
        std::string error;
        EXPECT_TRUE(RealtekLibrary::FromBench(Bench(), lib, error)) << error;
        return lib;
    }
    std::unique_ptr<SonixLibrary> Sonix() {
        std::unique_ptr<SonixLibrary> lib;
        std::string error;
        EXPECT_TRUE(SonixLibrary::FromBench(Bench(), lib, error)) << error;
        return lib;
    }
    std::vector<uint8_t> File(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void PutFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    fs::path dir_;
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

// Opens the Sonix camera and lifts its protection, as both kit flows do before writing.
void Unlock(SonixLibrary& lib) {
    ASSERT_EQ(lib.InitializeDriverInterface(), 1);
    uint16_t word = 0;
    uint8_t byte = 0;
    ASSERT_TRUE(lib.SetWriteProtect(false, word, byte));
}

// ---------------------------------------------------------------------------------------------
// Fault lines

struct ParseCase {
    const char* line;
    bool ok;
    std::string entry = "", camera = "";
    uint32_t first = 0, last = 0;
    FaultAction action = FaultAction::Return;
    int32_t code = 0;
    uint8_t mask = 0xFF;
    uint32_t offset = 0, steps = 0;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.line; }

class FaultLine : public ::testing::TestWithParam<ParseCase> {};

TEST_P(FaultLine, Parses) {
    const ParseCase& c = GetParam();
    std::vector<emu::vendor::EntryName> entries = emu::vendor::RvcLibEntries();
    for (const auto& e : emu::vendor::BurnerApEntries()) entries.push_back(e);
    emu::vendor::EntryFault f;
    std::string error;
    ASSERT_EQ(emu::vendor::ParseEntryFault(c.line, entries, f, error), c.ok) << c.line << ": " << error;
    if (!c.ok) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(f.entry, c.entry);
    EXPECT_EQ(f.camera, c.camera);
    EXPECT_EQ(f.firstCall, c.first);
    EXPECT_EQ(f.lastCall, c.last);
    EXPECT_EQ(f.action, c.action);
    EXPECT_EQ(f.code, c.code);
    EXPECT_EQ(f.mask, c.mask);
    EXPECT_EQ(f.offset, c.offset);
    EXPECT_EQ(f.steps, c.steps);
}

constexpr uint32_t kAll = UINT32_MAX;
INSTANTIATE_TEST_SUITE_P(
    Vendor, FaultLine,
    ::testing::Values(
        ParseCase{"EEPROMWrite3:1:-5", true, "EEPROMWrite3", "", 1, 1, FaultAction::Return, -5},
        ParseCase{" UVC_Open@rt1 : 2+ : 0 ", true, "UVC_Open", "rt1", 2, kAll, FaultAction::Return, 0},
        ParseCase{"EEPROMInfo2:*:0xFFFFFFFF", true, "EEPROMInfo2", "", 1, kAll, FaultAction::Return, -1},
        ParseCase{"EEPROMInfo:1:-2147483648", true, "EEPROMInfo", "", 1, 1, FaultAction::Return, INT32_MIN},
        ParseCase{"ReqToDriver.write:3-4:corrupt:0x01:5", true, "ReqToDriver.write", "", 3, 4,
                  FaultAction::Corrupt, 0, 0x01, 5},
        ParseCase{"ReqToDriver.read:1:corrupt", true, "ReqToDriver.read", "", 1, 1, FaultAction::Corrupt, 0,
                  0xFF},
        ParseCase{"EraseSF:*:unplug", true, "EraseSF", "", 1, kAll, FaultAction::Unplug},
        ParseCase{"EEPROMWrite3:1:unplug:3", true, "EEPROMWrite3", "", 1, 1, FaultAction::Unplug, 0, 0xFF, 0,
                  3},
        ParseCase{"RvcLib_Initialize@rt0:1:unplug", true, "RvcLib_Initialize", "rt0", 1, 1,
                  FaultAction::Unplug},
        ParseCase{"Nope:1:0", false}, ParseCase{"EEPROMWrite3:0:1", false},
        ParseCase{"EEPROMWrite3:3-2:1", false}, ParseCase{"EEPROMWrite3:1", false},
        ParseCase{"EEPROMWrite3:1:maybe", false}, ParseCase{"EEPROMWrite3:1:5:6", false},
        ParseCase{"EEPROMWrite3:1:-2147483649", false}, ParseCase{"EEPROMWrite3@:1:0", false},
        ParseCase{"EEPROMWrite3:x:0", false}, ParseCase{"RvcLib_Initialize:1:unplug", false},
        ParseCase{"GetDeviceList:1:unplug", false}, ParseCase{"GetProgress@sx0:1:unplug", false},
        ParseCase{"EEPROMRead:1:corrupt:0", false}, ParseCase{"EEPROMRead:1:corrupt:0x100", false},
        ParseCase{"EEPROMRead:1:corrupt:1:2:3", false}, ParseCase{"EEPROMWrite3:1:unplug:x", false}));

struct CountCase {
    const char* line;
    std::vector<std::string> calls;  // the camera each call is directed at
    std::vector<bool> fails;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.line; }

class FaultCounting : public ::testing::TestWithParam<CountCase> {};

TEST_P(FaultCounting, ChoosesTheCalls) {
    const CountCase& c = GetParam();
    emu::vendor::FaultTable table;
    emu::vendor::EntryFault f;
    std::string error;
    ASSERT_TRUE(emu::vendor::ParseEntryFault(c.line, emu::vendor::RvcLibEntries(), f, error)) << error;
    table.Add(f);
    for (size_t i = 0; i < c.calls.size(); ++i)
        EXPECT_EQ(table.OnCall({"UVC_Close"}, c.calls[i]).fail, c.fails[i]) << c.line << " call " << i + 1;
    // Other entries neither count nor fail.
    EXPECT_FALSE(table.OnCall({"UVC_Open"}, "a").fail);
}

INSTANTIATE_TEST_SUITE_P(
    Vendor, FaultCounting,
    ::testing::Values(CountCase{"UVC_Close:2:7", {"a", "b", "a"}, {false, true, false}},
                      CountCase{"UVC_Close:2+:7", {"a", "b", "a"}, {false, true, true}},
                      CountCase{"UVC_Close:2-3:7", {"a", "a", "a", "a"}, {false, true, true, false}},
                      CountCase{"UVC_Close:*:7", {"a", "b"}, {true, true}},
                      CountCase{
                          "UVC_Close@b:2:7", {"a", "b", "a", "b", "b"}, {false, false, false, true, false}}));

TEST(VendorFaultTable, FirstFailingFaultDecidesAndEveryCorruptionApplies) {
    emu::vendor::FaultTable table;
    for (const char* line : {"EEPROMRead:1:corrupt:0x0F:1", "EEPROMRead:1:-7", "EEPROMRead:1:-9",
                             "EEPROMRead:1:corrupt:0xF0:1"}) {
        emu::vendor::EntryFault f;
        std::string error;
        ASSERT_TRUE(emu::vendor::ParseEntryFault(line, emu::vendor::RvcLibEntries(), f, error)) << error;
        table.Add(f);
    }
    emu::vendor::CallVerdict v = table.OnCall({"EEPROMRead"}, "x");
    EXPECT_TRUE(v.fail);
    EXPECT_EQ(v.code, -7);
    uint8_t data[3] = {0x00, 0x00, 0x00};
    v.Corrupt(data, 3);
    EXPECT_EQ(data[1], 0xFF);
    // An offset outside the span handed back touches nothing; `base` places the span.
    uint8_t tail[2] = {0, 0};
    v.Corrupt(tail, 2, 2);
    EXPECT_EQ(tail[0] | tail[1], 0);
}

// ---------------------------------------------------------------------------------------------
// Realtek

TEST_F(VendorModel, RealtekEnumeratesItsOwnCamerasByIndex) {
    WriteBench();
    auto lib = Realtek();
    ASSERT_EQ(lib->CameraCount(), 2u);
    EXPECT_EQ(lib->Initialize(0, 1), 0);
    int32_t h0 = lib->Open(0), h1 = lib->Open(1);
    EXPECT_NE(h0, 0);
    EXPECT_NE(h1, 0);
    EXPECT_NE(h0, h1);
    EXPECT_EQ(lib->Open(2), 0);
    EXPECT_EQ(lib->Open(-1), 0);
    uint16_t vid = 0, pid = 0, rev = 0;
    ASSERT_EQ(lib->GetVidPidRev(h1, &vid, &pid, &rev), 0);
    EXPECT_EQ(vid, 0x0BDA);
    EXPECT_EQ(pid, 0x0604);
    EXPECT_EQ(rev, 0x0102);  // erased memory: the record's
    ASSERT_EQ(lib->GetVidPid(h0, &vid, &pid), 0);
    EXPECT_EQ(pid, 0x5801);

    int32_t type = 3, size = 65536;
    ASSERT_EQ(lib->EepromInfo("EEPROMInfo2", 0, &type, &size), 0);
    EXPECT_EQ(type, 5);
    EXPECT_EQ(size, 65536);
    ASSERT_EQ(lib->EepromInfo("EEPROMInfo", 1, &type, &size), 0);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(size, 0x4000);
    EXPECT_EQ(lib->EepromInfo("EEPROMInfo2", 2, &type, &size), emu::vendor::kRvcNoDevice);

    EXPECT_EQ(lib->Close(h0), 0);
    EXPECT_EQ(lib->GetVidPid(h0, &vid, &pid), emu::vendor::kRvcNoDevice);
    EXPECT_EQ(lib->Close(h0), emu::vendor::kRvcNoDevice);
    EXPECT_EQ(lib->UnInitialize(1), 0);
    EXPECT_EQ(lib->GetVidPid(h1, &vid, &pid), emu::vendor::kRvcNoDevice);  // handles end with the use
    EXPECT_NE(lib->Open(0), h0);                                           // and are not reused
}

TEST_F(VendorModel, RevisionFollowsTheWrittenImageAcrossProcesses) {
    WriteBench();
    std::vector<uint8_t> image = Pattern(65536, 3);
    // The block's VID and PID differ from the record on purpose: identification keeps the record's.
    ASSERT_TRUE(emu::vendor::PutIdentityBlock(image, 0x1111, 0x2222, 0x0105));
    {
        auto lib = Realtek();
        ASSERT_EQ(lib->EepromWrite3(5, 0, 65536, image.data(), {}), 0);
        int32_t h = lib->Open(0);
        uint16_t vid = 0, pid = 0, rev = 0;
        ASSERT_EQ(lib->GetVidPidRev(h, &vid, &pid, &rev), 0);
        EXPECT_EQ(rev, 0x0105);
        EXPECT_EQ(vid, 0x0BDA);
        EXPECT_EQ(pid, 0x5801);
    }
    EXPECT_EQ(File("rt0.eeprom"), image);
    auto later = Realtek();  // what the next process sees
    EXPECT_EQ(later->IdentityOf("rt0").rev, 0x0105);
    emu::vendor::Identity now;
    std::string error;
    emu::Bench bench = Bench();
    ASSERT_TRUE(emu::vendor::CurrentIdentity(bench, bench.cameras[1], now, error)) << error;
    EXPECT_EQ(now.rev, 0x0105);
    EXPECT_TRUE(now.revFromMemory);
    // An erased release word hands identification back to the record.
    std::vector<uint8_t> erased(65536, 0xFF);
    ASSERT_EQ(later->EepromWrite(5, 0, 65536, erased.data()), 0);
    EXPECT_EQ(later->IdentityOf("rt0").rev, 0x0101);
}

TEST_F(VendorModel, RealtekWriteReportsTwoStagesOfEqualLength) {
    WriteBench();
    auto lib = Realtek();
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    std::vector<uint8_t> image = Pattern(2500, 9);
    // rt1 reports every 1000 bytes; the last piece of each stage is short.
    ASSERT_EQ(lib->EepromWrite3(3, 1, 2500, image.data(),
                                [&](uint32_t done, uint32_t total) { calls.emplace_back(done, total); }),
              0);
    std::vector<std::pair<uint32_t, uint32_t>> expected = {{1000, 5000}, {2000, 5000}, {2500, 5000},
                                                           {3500, 5000}, {4500, 5000}, {5000, 5000}};
    EXPECT_EQ(calls, expected);
    // Only size bytes are written; the rest of the memory stays as it was.
    std::vector<uint8_t> memory = File("rt1.eeprom");
    ASSERT_EQ(memory.size(), 0x4000u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin()));
    EXPECT_EQ(memory[2500], 0xFF);
}

// Without the key the callbacks come on the caller's thread: a caller that sends window messages
// from its callback (the bench write tool) must never meet the worker mode unasked.
TEST_F(VendorModel, RealtekCallsBackOnTheThreadTheBenchChooses) {
    for (const char* thread : {"", "caller", "worker"}) {
        WriteBench("", *thread ? kCameras + "callback_thread=" + thread + "\n" : kCameras);
        auto lib = Realtek();
        std::vector<uint8_t> image = Pattern(3000, 1);
        std::thread::id seen;
        int count = 0;
        ASSERT_EQ(lib->EepromWrite3(3, 1, 3000, image.data(),
                                    [&](uint32_t, uint32_t) { seen = std::this_thread::get_id(), ++count; }),
                  0);
        EXPECT_EQ(count, 6);
        EXPECT_EQ(seen == std::this_thread::get_id(), std::string(thread) != "worker") << thread;
    }
}

TEST_F(VendorModel, RealtekRefusesWritesItCannotMake) {
    WriteBench();
    auto lib = Realtek();
    std::vector<uint8_t> image = Pattern(0x5000, 2);
    struct Case {
        int32_t type, index, size;
        const uint8_t* data;
        int32_t result;
    } cases[] = {
        {5, 1, 0x100, image.data(), emu::vendor::kRvcMemoryType},  // rt1 is type 3
        {3, 1, 0, image.data(), emu::vendor::kRvcBadArgument},
        {3, 1, -1, image.data(), emu::vendor::kRvcBadArgument},
        {3, 1, 0x4001, image.data(), emu::vendor::kRvcBadArgument},  // larger than rt1's memory
        {3, 1, 0x100, nullptr, emu::vendor::kRvcBadArgument},
        {3, 2, 0x100, image.data(), emu::vendor::kRvcNoDevice},
    };
    for (const Case& c : cases) {
        int progress = 0;
        EXPECT_EQ(lib->EepromWrite3(c.type, c.index, c.size, c.data, [&](uint32_t, uint32_t) { ++progress; }),
                  c.result)
            << c.type << "/" << c.index << "/" << c.size;
        EXPECT_EQ(progress, 0);
    }
    EXPECT_EQ(*lib->Memory("rt1"), std::vector<uint8_t>(0x4000, 0xFF));
    EXPECT_FALSE(fs::exists(dir_ / "rt1.eeprom"));
}

TEST_F(VendorModel, RealtekReadEraseAndSensorRegisters) {
    WriteBench();
    auto lib = Realtek();
    std::vector<uint8_t> image = Pattern(0x4000, 5);
    ASSERT_EQ(lib->EepromWrite(3, 1, 0x4000, image.data()), 0);
    std::vector<uint8_t> back(0x4000);
    ASSERT_EQ(lib->EepromRead(3, 1, 0x4000, back.data()), 0);
    EXPECT_EQ(back, image);
    EXPECT_EQ(lib->EepromRead(3, 1, 0x4001, back.data()), emu::vendor::kRvcBadArgument);
    ASSERT_EQ(lib->EepromErase(3, 1), 0);
    EXPECT_EQ(File("rt1.eeprom"), std::vector<uint8_t>(0x4000, 0xFF));

    int32_t h = lib->Open(0);
    uint32_t value = 0;
    ASSERT_EQ(lib->WriteSensor(16, h, 0x3012, 0x12345), 0);
    ASSERT_EQ(lib->ReadSensor(16, h, 0x3012, &value), 0);
    EXPECT_EQ(value, 0x2345u);
    ASSERT_EQ(lib->ReadSensor(8, h, 0x3012, &value), 0);
    EXPECT_EQ(value, 0x45u);
    EXPECT_EQ(lib->WriteSensor(8, h, 0x10000, 1), emu::vendor::kRvcBadArgument);
    ASSERT_EQ(lib->Reset("UVC_ResetToDLFW", h), 0);
    ASSERT_EQ(lib->ReadSensor(16, h, 0x3012, &value), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(lib->Resets("rt0"), 1u);
}

TEST_F(VendorModel, MemoryFilesOfOtherLengthsAreCutOrPadded) {
    WriteBench("", kCameras + "eeprom_image=shared/rt1.bin\n");
    PutFile("rt0.eeprom", std::vector<uint8_t>(100, 0x00));   // short: padded with 0xFF
    PutFile("sx0.flash", std::vector<uint8_t>(70000, 0x5A));  // long: cut to 65536
    auto realtek = Realtek();
    auto sonix = Sonix();
    const std::vector<uint8_t>& rt0 = *realtek->Memory("rt0");
    ASSERT_EQ(rt0.size(), 65536u);
    EXPECT_EQ(rt0[99], 0x00);
    EXPECT_EQ(rt0[100], 0xFF);
    EXPECT_EQ(realtek->IdentityOf("rt0").rev, 0x0101);
    ASSERT_EQ(sonix->Memory("sx0")->size(), 65536u);
    // The identity block of a memory full of 0x5A says release 0x5A5A.
    EXPECT_EQ(sonix->IdentityOf("sx0").rev, 0x5A5A);
    // A missing file in a missing folder is an erased memory until the first save fails loudly.
    EXPECT_EQ(*realtek->Memory("rt1"), std::vector<uint8_t>(0x4000, 0xFF));
    std::vector<uint8_t> image(16, 0);
    EXPECT_EQ(realtek->EepromWrite(3, 1, 16, image.data()), emu::vendor::kRvcStorage);
    fs::create_directories(dir_ / "shared");
    EXPECT_EQ(realtek->EepromWrite(3, 1, 16, image.data()), 0);
    EXPECT_EQ(File("shared/rt1.bin").size(), 0x4000u);
}

// ---------------------------------------------------------------------------------------------
// Sonix

TEST_F(VendorModel, SonixAnswersItsIdentityQueries) {
    WriteBench();
    auto lib = Sonix();
    char rom[8];
    EXPECT_FALSE(lib->GetRomVersion(rom));  // nothing before the driver interface is initialised
    ASSERT_EQ(lib->InitializeDriverInterface(), 1);
    ASSERT_TRUE(lib->GetRomVersion(rom));
    const uint8_t expected[8] = {'2', '3', '1', 'R', 'O', 2, 0, 0};
    EXPECT_EQ(std::memcmp(rom, expected, 8), 0);
    uint16_t table = 0;
    ASSERT_TRUE(lib->GetSectorTableAddr(&table));
    EXPECT_EQ(table, 0x1000);
    uint8_t asic[24] = {};
    ASSERT_TRUE(lib->ProcReadFromAsic(table + 8, asic));
    EXPECT_EQ(asic[0], 0xC0);
    EXPECT_EQ(asic[1], 0x11);
    EXPECT_EQ(asic[2], 0x00);
    ASSERT_TRUE(lib->ProcReadFromAsic(0xFFFF, asic));  // the chip's space wraps
    EXPECT_EQ(asic[0], 0xAB);
    EXPECT_EQ(asic[1], 0xCD);
    std::vector<std::string> paths;
    ASSERT_TRUE(lib->GetDeviceList(paths));
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], Bench().cameras[2].DevicePath());
    EXPECT_NE(paths[0].find("vid_0c45&pid_6366"), std::string::npos);
}

TEST_F(VendorModel, SonixRomNameIsZeroPadded) {
    WriteBench("",
               "[q0]\nvid=0001\npid=0001\n[rt0]\nvid=0001\npid=0002\n[rt1]\nvid=0001\npid=0003\n"
               "[sx0]\nchip=sonix\nvid=0C45\npid=6366\nrom_version=AB\n");
    auto lib = Sonix();
    ASSERT_EQ(lib->InitializeDriverInterface(), 1);
    uint8_t rom[8];
    std::memset(rom, 0x77, sizeof rom);
    ASSERT_TRUE(lib->GetRomVersion(reinterpret_cast<char*>(rom)));
    const uint8_t expected[8] = {'A', 'B', 0, 0, 0, 1, 0, 0};
    EXPECT_EQ(std::memcmp(rom, expected, 8), 0);
}

TEST_F(VendorModel, SonixFlashRequestsRoundTripAndPersist) {
    WriteBench();
    std::vector<uint8_t> image = Pattern(65536, 11);
    {
        auto lib = Sonix();
        Unlock(*lib);
        ASSERT_TRUE(lib->EraseSf());
        for (uint32_t at = 0; at < 65536; at += 8192)
            ASSERT_TRUE(lib->ReqToDriver(6, at, image.data() + at, 8192));
        std::vector<uint8_t> back(65536, 0);
        for (uint32_t at = 0; at < 65536; at += 8192)
            ASSERT_TRUE(lib->ReqToDriver(7, at, back.data() + at, 8192));
        EXPECT_EQ(back, image);
        EXPECT_EQ(lib->GetProgress(), 100u);
    }
    EXPECT_EQ(File("sx0.flash"), image);
    auto later = Sonix();
    ASSERT_EQ(later->InitializeDriverInterface(), 1);
    uint8_t byte = 0;
    ASSERT_TRUE(later->ReqToDriver(7, 0x1234, &byte, 1));
    EXPECT_EQ(byte, image[0x1234]);
}

TEST_F(VendorModel, SonixRequestsOutsideTheRulesAnswerFalse) {
    WriteBench();
    auto lib = Sonix();
    uint8_t buf[16] = {};
    EXPECT_FALSE(lib->ReqToDriver(7, 0, buf, 1));  // not initialised
    Unlock(*lib);
    struct Case {
        uint8_t request;
        uint32_t address;
        uint8_t* data;
        uint32_t length;
        bool ok;
    } cases[] = {
        {7, 65535, buf, 1, true},       {7, 65535, buf, 2, false}, {6, 65536, buf, 1, false},
        {7, 0xFFFFFFFF, buf, 2, false}, {5, 0, buf, 1, false},     {7, 0, nullptr, 1, false},
        {6, 0, nullptr, 0, true},       {7, 65536, buf, 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lib->ReqToDriver(c.request, c.address, c.data, c.length), c.ok)
            << int(c.request) << " @" << c.address << " x" << c.length;
    EXPECT_EQ(*lib->Memory("sx0"), std::vector<uint8_t>(65536, 0xFF));
}

TEST_F(VendorModel, SonixFlashOnlyClearsBitsUntilErased) {
    WriteBench();
    auto lib = Sonix();
    Unlock(*lib);
    uint8_t first[2] = {0xF0, 0x3C}, second[2] = {0x0F, 0xFF}, back[2];
    ASSERT_TRUE(lib->ReqToDriver(6, 0x100, first, 2));
    ASSERT_TRUE(lib->ReqToDriver(6, 0x100, second, 2));
    ASSERT_TRUE(lib->ReqToDriver(7, 0x100, back, 2));
    EXPECT_EQ(back[0], 0x00);
    EXPECT_EQ(back[1], 0x3C);
    ASSERT_TRUE(lib->EraseSf());
    EXPECT_EQ(File("sx0.flash"), std::vector<uint8_t>(65536, 0xFF));
}

TEST_F(VendorModel, SonixProtectionRefusesWritesAndErases) {
    WriteBench();
    PutFile("sx0.flash", std::vector<uint8_t>(65536, 0x42));
    auto lib = Sonix();
    ASSERT_EQ(lib->InitializeDriverInterface(), 1);
    uint8_t data[4] = {0, 0, 0, 0};
    EXPECT_TRUE(lib->Protected("sx0"));
    EXPECT_FALSE(lib->ReqToDriver(6, 0, data, 4));
    EXPECT_FALSE(lib->EraseSf());

    uint16_t word = 0xFFFF;
    uint8_t byte = 0x5C;
    ASSERT_TRUE(lib->SetWriteProtect(false, word, byte));
    EXPECT_EQ(word, 0x1C);  // the status that was lifted
    EXPECT_EQ(lib->LastProtectByte(), 0x5C);
    EXPECT_TRUE(lib->ReqToDriver(6, 0, data, 4));
    ASSERT_TRUE(lib->SetWriteProtect(false, word, byte));
    EXPECT_EQ(word, 0);  // nothing left to lift
    ASSERT_TRUE(lib->SetWriteProtect(true, word, byte));
    EXPECT_FALSE(lib->EraseSf());

    ASSERT_TRUE(lib->SetWriteProtect(false, word, byte));
    EXPECT_EQ(lib->ResetDevice(), 1);  // a restart brings the power-on protection back
    EXPECT_FALSE(lib->ReqToDriver(6, 4, data, 4));
    EXPECT_EQ(lib->Resets("sx0"), 1u);
    std::vector<uint8_t> expected(65536, 0x42);
    std::fill(expected.begin(), expected.begin() + 4, 0x00);
    EXPECT_EQ(File("sx0.flash"), expected);

    std::string cameras = kCameras;
    cameras.insert(cameras.find("rom_version"), "protect=0\n");
    WriteBench("", cameras);
    auto open = Sonix();
    ASSERT_EQ(open->InitializeDriverInterface(), 1);
    EXPECT_TRUE(open->EraseSf());
}

TEST_F(VendorModel, SonixProgressCanBeWatchedFromAnotherThread) {
    std::string cameras = kCameras;
    cameras.insert(cameras.find("rom_version"), "step_delay_us=300\n");
    WriteBench("", cameras);
    auto lib = Sonix();
    Unlock(*lib);
    std::vector<uint8_t> image = Pattern(65536, 4);
    std::atomic<bool> done{false};
    bool ok = false;
    std::thread writer([&] {
        ok = lib->ReqToDriver(6, 0, image.data(), 65536);
        done = true;
    });
    std::vector<uint32_t> seen;
    while (!done) {
        seen.push_back(lib->GetProgress());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.join();
    ASSERT_TRUE(ok);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](uint32_t p) { return p > 0 && p < 100; }));
    EXPECT_EQ(lib->GetProgress(), 100u);
    EXPECT_EQ(lib->ResetDevice(), 1);
    EXPECT_EQ(lib->GetProgress(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Faults from the bench file

struct BenchFaultCase {
    const char* name;
    std::string lines;  // [bench] keys
    std::function<void(RealtekLibrary&, SonixLibrary&, const std::vector<uint8_t>& image)> check;
};

void PrintTo(const BenchFaultCase& c, std::ostream* os) { *os << c.name; }

class VendorFault : public VendorModel, public ::testing::WithParamInterface<BenchFaultCase> {};

TEST_P(VendorFault, Behaves) {
    WriteBench(GetParam().lines);
    auto realtek = Realtek();
    auto sonix = Sonix();
    ASSERT_TRUE(realtek && sonix);
    GetParam().check(*realtek, *sonix, Pattern(65536, 13));
}

std::vector<uint8_t> Blank(size_t n = 65536) { return std::vector<uint8_t>(n, 0xFF); }

INSTANTIATE_TEST_SUITE_P(
    Vendor, VendorFault,
    ::testing::Values(
        BenchFaultCase{"WriteFailsOnceWithTheCode", "rvclib_fault1=EEPROMWrite3:1:-5\n",
                       [](RealtekLibrary& rt, SonixLibrary&, const std::vector<uint8_t>& image) {
                           int calls = 0;
                           auto count = [&](uint32_t, uint32_t) { ++calls; };
                           EXPECT_EQ(rt.EepromWrite3(5, 0, 65536, image.data(), count), -5);
                           EXPECT_EQ(calls, 0);
                           EXPECT_EQ(*rt.Memory("rt0"), Blank());
                           EXPECT_EQ(rt.EepromWrite3(5, 0, 65536, image.data(), count), 0);
                           EXPECT_EQ(*rt.Memory("rt0"), image);
                       }},
        BenchFaultCase{"CorruptWriteFailsVerification", "rvclib_fault1=EEPROMWrite3:*:corrupt:0x01:5\n",
                       [](RealtekLibrary& rt, SonixLibrary&, const std::vector<uint8_t>& image) {
                           std::vector<uint32_t> done;
                           EXPECT_EQ(rt.EepromWrite3(5, 0, 65536, image.data(),
                                                     [&](uint32_t d, uint32_t) { done.push_back(d); }),
                                     emu::vendor::kRvcVerify);
                           // The write stage ran to its end; verification stopped at the first piece.
                           ASSERT_FALSE(done.empty());
                           EXPECT_EQ(done.back(), 65536u);
                           EXPECT_EQ((*rt.Memory("rt0"))[5], image[5] ^ 0x01);
                           EXPECT_EQ((*rt.Memory("rt0"))[6], image[6]);
                       }},
        BenchFaultCase{"CorruptIdentityReadBack", "rvclib_fault1=UVC_GetDevVIDPIDRev:1:corrupt:0x0F:4\n",
                       [](RealtekLibrary& rt, SonixLibrary&, const std::vector<uint8_t>&) {
                           int32_t h = rt.Open(0);
                           uint16_t v, p, r;
                           ASSERT_EQ(rt.GetVidPidRev(h, &v, &p, &r), 0);
                           EXPECT_EQ(r, 0x010E);
                           ASSERT_EQ(rt.GetVidPidRev(h, &v, &p, &r), 0);
                           EXPECT_EQ(r, 0x0101);
                       }},
        BenchFaultCase{"FaultForOneCameraOnly", "rvclib_fault1=EEPROMInfo2@rt1:*:-7\n",
                       [](RealtekLibrary& rt, SonixLibrary&, const std::vector<uint8_t>&) {
                           int32_t t = 3, s = 65536;
                           EXPECT_EQ(rt.EepromInfo("EEPROMInfo2", 0, &t, &s), 0);
                           EXPECT_EQ(rt.EepromInfo("EEPROMInfo2", 1, &t, &s), -7);
                           EXPECT_EQ(rt.EepromInfo("EEPROMInfo", 1, &t, &s), 0);  // the other name
                       }},
        BenchFaultCase{"UnplugPartWayThroughAWrite", "rvclib_fault1=EEPROMWrite3:1:unplug:3\n",
                       [](RealtekLibrary& rt, SonixLibrary&, const std::vector<uint8_t>& image) {
                           int calls = 0;
                           EXPECT_EQ(rt.EepromWrite3(5, 0, 65536, image.data(),
                                                     [&](uint32_t, uint32_t) { ++calls; }),
                                     emu::vendor::kRvcNoDevice);
                           EXPECT_EQ(calls, 3);
                           EXPECT_FALSE(rt.Present("rt0"));
                           // What was written before the camera left is in its memory.
                           const std::vector<uint8_t>& m = *rt.Memory("rt0");
                           EXPECT_TRUE(std::equal(image.begin(), image.begin() + 3 * 4096, m.begin()));
                           EXPECT_EQ(m[3 * 4096], 0xFF);
                           // The enumeration closes up: rt1 is index 0 now.
                           int32_t h = rt.Open(0);
                           uint16_t v, p;
                           ASSERT_EQ(rt.GetVidPid(h, &v, &p), 0);
                           EXPECT_EQ(p, 0x0604);
                           EXPECT_EQ(rt.Open(1), 0);
                       }},
        BenchFaultCase{"UnplugBeforeOpen", "rvclib_fault1=UVC_Open@rt0:1:unplug\n",
                       [](RealtekLibrary& rt, SonixLibrary&, const std::vector<uint8_t>&) {
                           EXPECT_EQ(rt.Open(0), 0);
                           EXPECT_NE(rt.Open(0), 0);  // rt1
                           EXPECT_FALSE(rt.Present("rt0"));
                       }},
        BenchFaultCase{"UnplugAnotherCameraAfterACall", "rvclib_fault1=RvcLib_Initialize@rt1:1:unplug:1\n",
                       [](RealtekLibrary& rt, SonixLibrary&, const std::vector<uint8_t>&) {
                           EXPECT_EQ(rt.Initialize(0, 1), 0);
                           EXPECT_NE(rt.Open(0), 0);
                           EXPECT_EQ(rt.Open(1), 0);
                       }},
        BenchFaultCase{
            "SonixWriteRefusedOnce", "burnerap_fault1=ReqToDriver.write:2:0\n",
            [](RealtekLibrary&, SonixLibrary& sx, const std::vector<uint8_t>& image) {
                Unlock(sx);
                uint8_t b;
                EXPECT_TRUE(sx.ReqToDriver(7, 0, &b, 1));  // reads do not count
                EXPECT_TRUE(sx.ReqToDriver(6, 0, const_cast<uint8_t*>(image.data()), 8192));
                EXPECT_FALSE(sx.ReqToDriver(6, 8192, const_cast<uint8_t*>(image.data()) + 8192, 8192));
                EXPECT_TRUE(sx.ReqToDriver(6, 16384, const_cast<uint8_t*>(image.data()) + 16384, 8192));
                EXPECT_EQ((*sx.Memory("sx0"))[8192], 0xFF);
            }},
        BenchFaultCase{"SonixReadBackCorrupted", "burnerap_fault1=ReqToDriver.read:2:corrupt:0x80:3\n",
                       [](RealtekLibrary&, SonixLibrary& sx, const std::vector<uint8_t>&) {
                           Unlock(sx);
                           uint8_t a[8], b[8];
                           ASSERT_TRUE(sx.ReqToDriver(7, 0, a, 8));
                           ASSERT_TRUE(sx.ReqToDriver(7, 0, b, 8));
                           EXPECT_EQ(a[3], 0xFF);
                           EXPECT_EQ(b[3], 0x7F);
                           EXPECT_EQ((*sx.Memory("sx0"))[3], 0xFF);
                       }},
        BenchFaultCase{"SonixBackEndMissing", "burnerap_fault1=Initialize_DriverInterface:*:-3\n",
                       [](RealtekLibrary&, SonixLibrary& sx, const std::vector<uint8_t>&) {
                           EXPECT_EQ(sx.InitializeDriverInterface(), -3);
                           char rom[8];
                           EXPECT_FALSE(sx.GetRomVersion(rom));
                       }},
        BenchFaultCase{"SonixEraseThatLies",
                       "burnerap_fault1=EraseSF:1:1\nburnerap_fault2=GetProgress:*:55\n",
                       [](RealtekLibrary&, SonixLibrary& sx, const std::vector<uint8_t>& image) {
                           Unlock(sx);
                           ASSERT_TRUE(sx.ReqToDriver(6, 0, const_cast<uint8_t*>(image.data()), 16));
                           EXPECT_TRUE(sx.EraseSf());
                           EXPECT_EQ((*sx.Memory("sx0"))[1], image[1]);
                           EXPECT_EQ(sx.GetProgress(), 55u);
                       }},
        BenchFaultCase{"SonixUnplugAfterPages", "burnerap_fault1=ReqToDriver.write:1:unplug:4\n",
                       [](RealtekLibrary&, SonixLibrary& sx, const std::vector<uint8_t>& image) {
                           Unlock(sx);
                           EXPECT_FALSE(sx.ReqToDriver(6, 0, const_cast<uint8_t*>(image.data()), 8192));
                           EXPECT_EQ(sx.GetProgress(), 12u);  // 4 of 32 pages
                           const std::vector<uint8_t>& m = *sx.Memory("sx0");
                           EXPECT_EQ(m[1023], image[1023]);
                           EXPECT_EQ(m[1024], 0xFF);
                           uint16_t w = 0;
                           uint8_t b = 0;
                           EXPECT_FALSE(sx.SetWriteProtect(true, w, b));
                           EXPECT_EQ(sx.ResetDevice(), 0);
                           EXPECT_EQ(sx.InitializeDriverInterface(), -1);
                           std::vector<std::string> paths;
                           EXPECT_FALSE(sx.GetDeviceList(paths));
                       }}),
    [](const ::testing::TestParamInfo<BenchFaultCase>& info) { return info.param.name; });

TEST_F(VendorModel, UnplugWritesWhatWasWrittenToTheFile) {
    WriteBench("burnerap_fault1=ReqToDriver.write:1:unplug:2\n");
    auto lib = Sonix();
    Unlock(*lib);
    std::vector<uint8_t> image = Pattern(4096, 8);
    EXPECT_FALSE(lib->ReqToDriver(6, 0x800, image.data(), 4096));
    std::vector<uint8_t> file = File("sx0.flash");
    ASSERT_EQ(file.size(), 65536u);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 512, file.begin() + 0x800));
    EXPECT_EQ(file[0x800 + 512], 0xFF);
}

struct BadBenchCase {
    std::string benchLines;
    std::string cameraLines;  // added to rt0's section when `realtek`, else to sx0's
    bool realtek;
    const char* mention;  // the error names the culprit
};

void PrintTo(const BadBenchCase& c, std::ostream* os) { *os << c.benchLines << c.cameraLines; }

class VendorBadBench : public VendorModel, public ::testing::WithParamInterface<BadBenchCase> {};

TEST_P(VendorBadBench, IsRefusedWithTheReason) {
    const BadBenchCase& c = GetParam();
    std::string cameras = kCameras;
    cameras.insert(cameras.find(c.realtek ? "memtype" : "rom_version"), c.cameraLines);
    WriteBench(c.benchLines, cameras);
    std::string error;
    bool ok;
    if (c.realtek) {
        std::unique_ptr<RealtekLibrary> lib;
        ok = RealtekLibrary::FromBench(Bench(), lib, error);
    } else {
        std::unique_ptr<SonixLibrary> lib;
        ok = SonixLibrary::FromBench(Bench(), lib, error);
    }
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(c.mention), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Vendor, VendorBadBench,
    ::testing::Values(BadBenchCase{"", "eeprom_size=0\n", true, "eeprom_size"},
                      BadBenchCase{"", "eeprom_size=big\n", true, "eeprom_size"},
                      BadBenchCase{"", "progress_block=0\n", true, "progress_block"},
                      BadBenchCase{"", "callback_thread=maybe\n", true, "callback_thread"},
                      BadBenchCase{"", "step_delay_us=-1\n", true, "step_delay_us"},
                      BadBenchCase{"rvclib_fault3=EEPROMWrite3:1\n", "", true, "rvclib_fault3"},
                      BadBenchCase{"rvclib_fault1=UVC_Open@nobody:1:0\n", "", true, "nobody"},
                      BadBenchCase{"", "rom_version=TOOLONG\n", false, "rom_version"},
                      BadBenchCase{"", "rom_index=256\n", false, "rom_index"},
                      BadBenchCase{"", "protect=2\n", false, "protect"},
                      BadBenchCase{"", "flash_size=0x1000001\n", false, "flash_size"},
                      BadBenchCase{"", "sector_table=0x10000\n", false, "sector_table"},
                      BadBenchCase{"burnerap_fault1=EEPROMWrite3:1:0\n", "", false, "EEPROMWrite3"}));

TEST_F(VendorModel, BadAsicBytesAreRefused) {
    for (const char* asic : {"0x10:ABC", "0x10:GG", "0x10000:00", "nothing", "0x10:"}) {
        std::string cameras = kCameras;
        size_t at = cameras.find("asic=");
        cameras.replace(at, cameras.find('\n', at) - at, std::string("asic=") + asic);
        WriteBench("", cameras);
        std::unique_ptr<SonixLibrary> lib;
        std::string error;
        EXPECT_FALSE(SonixLibrary::FromBench(Bench(), lib, error)) << asic;
        EXPECT_NE(error.find("asic"), std::string::npos) << error;
    }
}

TEST_F(VendorModel, MissingEntriesAreReadAndChecked) {
    std::vector<std::string> names;
    std::string error;
    WriteBench("rvclib_missing = EEPROMInfo2, ,UVC_Close\n");
    ASSERT_TRUE(
        emu::vendor::ReadMissingEntries(Bench(), "rvclib", emu::vendor::RvcLibEntries(), names, error));
    EXPECT_EQ(names, (std::vector<std::string>{"EEPROMInfo2", "UVC_Close"}));
    ASSERT_TRUE(
        emu::vendor::ReadMissingEntries(Bench(), "burnerap", emu::vendor::BurnerApEntries(), names, error));
    EXPECT_TRUE(names.empty());
    for (const char* bad : {"rvclib_missing=EEPROMInfo3\n", "rvclib_missing=ReqToDriver\n"}) {
        WriteBench(bad);
        EXPECT_FALSE(
            emu::vendor::ReadMissingEntries(Bench(), "rvclib", emu::vendor::RvcLibEntries(), names, error));
    }
    WriteBench("burnerap_missing=ReqToDriver.read\n");  // a fault name, not an export
    EXPECT_FALSE(
        emu::vendor::ReadMissingEntries(Bench(), "burnerap", emu::vendor::BurnerApEntries(), names, error));
}

}  // namespace
