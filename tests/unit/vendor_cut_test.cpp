// A power cut at a call of the Realtek and Sonix library models: what the memory holds after a
// cut before or inside each kind of call, that the cut outlives the process until the camera is
// plugged back in, and that a cut happens once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "emu/bench.h"
#include "emu/bench_devices.h"
#include "emu/power_state.h"
#include "emu/vendor/realtek_model.h"
#include "emu/vendor/sonix_model.h"
#include "emu/vendor/vendor_faults.h"

namespace {

namespace fs = std::filesystem;
using emu::vendor::RealtekLibrary;
using emu::vendor::SonixLibrary;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

// What the memory file of the cut camera must hold, given what it held before and the image the
// case writes.
using Expect = std::function<Bytes(const Bytes& before, const Bytes& image)>;

struct CutCase {
    const char* name;
    const char* fault;  // [bench] line
    bool realtek;
    // Runs the calls; returns false when a call answered otherwise than the case expects.
    std::function<bool(RealtekLibrary&, SonixLibrary&, const Bytes& image)> calls;
    Expect memory;
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class VendorCut : public ::testing::TestWithParam<CutCase> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vendor_cut_" + std::string(GetParam().name));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& name, const Bytes& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    emu::Bench Load() {
        emu::Bench bench;
        std::string error;
        EXPECT_TRUE(emu::LoadBench(dir_.string(), bench, error)) << error;
        return bench;
    }
    std::string State(const emu::Bench& bench, const char* camera) {
        emu::PowerFile power;
        std::string error;
        for (const emu::CameraRecord& cam : bench.cameras)
            if (cam.name == camera) {
                EXPECT_TRUE(emu::ReadPowerFile(emu::PowerFilePath(bench, cam), power, error));
            }
        return power.state;
    }

    fs::path dir_;
};

TEST_P(VendorCut, LeavesTheDocumentedMemoryAndStaysAwayUntilReplugged) {
    const CutCase& c = GetParam();
    std::ofstream(dir_ / "bench.ini", std::ios::binary)
        << "[bench]\ncameras=rt0,rt1,sx0\n" << c.fault << "\n"
        << "[rt0]\nchip=realtek\nvid=0BDA\npid=5801\nmemtype=3\n"
        << "[rt1]\nchip=realtek\nvid=0BDA\npid=5802\nmemtype=3\n"
        << "[sx0]\nchip=sonix\nvid=0C45\npid=6366\n";
    const Bytes before = Pattern(65536, 1), image = Pattern(65536, 99);
    for (const char* file : {"rt0.eeprom", "rt1.eeprom", "sx0.flash"}) Write(file, before);
    const char* cut = c.realtek ? "rt0" : "sx0";
    const char* memoryFile = c.realtek ? "rt0.eeprom" : "sx0.flash";
    {
        emu::Bench bench = Load();
        std::unique_ptr<RealtekLibrary> rt;
        std::unique_ptr<SonixLibrary> sx;
        std::string error;
        ASSERT_TRUE(RealtekLibrary::FromBench(bench, rt, error)) << error;
        ASSERT_TRUE(SonixLibrary::FromBench(bench, sx, error)) << error;
        EXPECT_TRUE(c.calls(*rt, *sx, image));
        EXPECT_FALSE(c.realtek ? rt->Present("rt0") || rt->Present("rt1") : sx->Present("sx0"));
        EXPECT_EQ(Read(memoryFile), c.memory(before, image)) << "the file keeps what the cut left";
    }
    {
        // A later process: the cut camera (a Realtek cut takes both) is away, everywhere.
        emu::Bench bench = Load();
        EXPECT_EQ(State(bench, cut), "cut");
        EXPECT_EQ(State(bench, c.realtek ? "sx0" : "rt0"), "");
        std::unique_ptr<RealtekLibrary> rt;
        std::unique_ptr<SonixLibrary> sx;
        std::string error;
        ASSERT_TRUE(RealtekLibrary::FromBench(bench, rt, error)) << error;
        ASSERT_TRUE(SonixLibrary::FromBench(bench, sx, error)) << error;
        if (c.realtek) {
            EXPECT_EQ(rt->Open(0), 0);
            EXPECT_EQ(sx->InitializeDriverInterface(), 1);
        } else {
            EXPECT_EQ(sx->InitializeDriverInterface(), -1);
            EXPECT_NE(rt->Open(0), 0);
        }
        emu::BenchDevices devices;
        ASSERT_TRUE(devices.Open(bench, error)) << error;
        for (const emu::CameraRecord& cam : bench.cameras)
            EXPECT_EQ(devices.Present(cam), c.realtek ? cam.chip != "realtek" : cam.chip != "sonix") << cam.name;
        ASSERT_TRUE(emu::ReplugCamera(bench, cut, error)) << error;
        if (c.realtek) {
            ASSERT_TRUE(emu::ReplugCamera(bench, "rt1", error)) << error;
        }
        EXPECT_TRUE(devices.Present(bench.cameras[c.realtek ? 0 : 2]));
    }
    {
        // Back: found again with the memory the cut left, and the cut, spent, does not repeat.
        emu::Bench bench = Load();
        EXPECT_EQ(State(bench, cut), "returned");
        std::unique_ptr<RealtekLibrary> rt;
        std::unique_ptr<SonixLibrary> sx;
        std::string error;
        ASSERT_TRUE(RealtekLibrary::FromBench(bench, rt, error)) << error;
        ASSERT_TRUE(SonixLibrary::FromBench(bench, sx, error)) << error;
        EXPECT_EQ(c.realtek ? *rt->Memory("rt0") : *sx->Memory("sx0"), c.memory(before, image));
        c.calls(*rt, *sx, image);
        EXPECT_TRUE(c.realtek ? rt->Present("rt0") && rt->Present("rt1") : sx->Present("sx0"));
    }
}

Bytes Torn(const Bytes& before, const Bytes& with, size_t n) {
    Bytes m = before;
    std::copy(with.begin(), with.begin() + static_cast<std::ptrdiff_t>(n), m.begin());
    return m;
}

const Expect kUnchanged = [](const Bytes& before, const Bytes&) { return before; };

bool Unlock(SonixLibrary& sx) {
    uint16_t word = 0;
    uint8_t byte = 0;
    return sx.InitializeDriverInterface() == 1 && sx.SetWriteProtect(false, word, byte);
}

INSTANTIATE_TEST_SUITE_P(
    Vendor, VendorCut,
    ::testing::Values(
        CutCase{"RealtekBeforeTheFirstCall", "rvclib_fault1=cut=1", true,
                [](RealtekLibrary& rt, SonixLibrary&, const Bytes&) {
                    return rt.Initialize(0, 1) == 0 && rt.Open(0) == 0;
                },
                kUnchanged},
        CutCase{"RealtekOpenWithBytesIsCutBeforeItAnswers", "rvclib_fault1=cut=2:100", true,
                [](RealtekLibrary& rt, SonixLibrary&, const Bytes&) {
                    return rt.Initialize(0, 1) == 0 && rt.Open(0) == 0;
                },
                kUnchanged},
        CutCase{"RealtekWriteTornInsideAPiece", "rvclib_fault1=cut=2:5000", true,
                [](RealtekLibrary& rt, SonixLibrary&, const Bytes& image) {
                    int callbacks = 0;
                    const bool ok = rt.Initialize(0, 1) == 0 &&
                                    rt.EepromWrite3(3, 0, 65536, image.data(),
                                                    [&](uint32_t, uint32_t) { ++callbacks; }) ==
                                        emu::vendor::kRvcNoDevice;
                    return ok && callbacks == 1;  // the first 4096-byte piece only
                },
                [](const Bytes& before, const Bytes& image) { return Torn(before, image, 5000); }},
        CutCase{"RealtekWriteCutAtAPieceBoundary", "rvclib_fault1=cut=1:8192", true,
                [](RealtekLibrary& rt, SonixLibrary&, const Bytes& image) {
                    return rt.EepromWrite3(3, 0, 65536, image.data(), [](uint32_t, uint32_t) {}) ==
                           emu::vendor::kRvcNoDevice;
                },
                [](const Bytes& before, const Bytes& image) { return Torn(before, image, 8192); }},
        CutCase{"RealtekCutInTheReadBackLeavesTheImage", "rvclib_fault1=cut=1:70000", true,
                [](RealtekLibrary& rt, SonixLibrary&, const Bytes& image) {
                    uint32_t last = 0;
                    return rt.EepromWrite3(3, 0, 65536, image.data(), [&](uint32_t d, uint32_t) { last = d; }) ==
                               emu::vendor::kRvcNoDevice &&
                           last == 65536 + 4096;  // the read-back's first piece; 70000 falls in the second
                },
                [](const Bytes&, const Bytes& image) { return image; }},
        CutCase{"RealtekWriteWithMoreBytesThanWorkFailsAtItsEnd", "rvclib_fault1=cut=1:200000", true,
                [](RealtekLibrary& rt, SonixLibrary&, const Bytes& image) {
                    return rt.EepromWrite3(3, 0, 65536, image.data(), [](uint32_t, uint32_t) {}) ==
                           emu::vendor::kRvcNoDevice;
                },
                [](const Bytes&, const Bytes& image) { return image; }},
        CutCase{"RealtekEraseTornFromAddressZero", "rvclib_fault1=cut=1:3", true,
                [](RealtekLibrary& rt, SonixLibrary&, const Bytes&) {
                    return rt.EepromErase(3, 0) == emu::vendor::kRvcNoDevice;
                },
                [](const Bytes& before, const Bytes&) { return Torn(before, Bytes(3, 0xFF), 3); }},
        CutCase{"SonixWriteTornInsideAPage", "burnerap_fault1=cut=3:300", false,
                [](RealtekLibrary&, SonixLibrary& sx, const Bytes& image) {
                    Bytes data(image.begin(), image.begin() + 8192);
                    return Unlock(sx) && !sx.ReqToDriver(6, 0, data.data(), 8192) && sx.ResetDevice() == 0;
                },
                [](const Bytes& before, const Bytes& image) {
                    Bytes m = before;  // NOR: programming clears bits only
                    for (size_t i = 0; i < 300; ++i) m[i] &= image[i];
                    return m;
                }},
        CutCase{"SonixProgressPollsDoNotCount", "burnerap_fault1=cut=4", false,
                [](RealtekLibrary&, SonixLibrary& sx, const Bytes& image) {
                    Bytes data(image.begin(), image.begin() + 256);
                    return sx.InitializeDriverInterface() == 1 && sx.GetProgress() == 0 && Unlock(sx) &&
                           !sx.EraseSf() && !sx.ReqToDriver(6, 0, data.data(), 256);
                },
                kUnchanged},
        CutCase{"SonixEraseTornFromAddressZero", "burnerap_fault1=cut=3:1000", false,
                [](RealtekLibrary&, SonixLibrary& sx, const Bytes&) { return Unlock(sx) && !sx.EraseSf(); },
                [](const Bytes& before, const Bytes&) { return Torn(before, Bytes(1000, 0xFF), 1000); }},
        CutCase{"SonixReadHandsNothingBack", "burnerap_fault1=cut=2:10", false,
                [](RealtekLibrary&, SonixLibrary& sx, const Bytes&) {
                    Bytes out(64, 0xAA);
                    return sx.InitializeDriverInterface() == 1 && !sx.ReqToDriver(7, 0, out.data(), 64) &&
                           out == Bytes(64, 0xAA);
                },
                kUnchanged}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return info.param.name; });

struct CutLineCase {
    const char* line;
    bool ok;
    uint32_t call = 0, bytes = 0;
};

void PrintTo(const CutLineCase& c, std::ostream* os) { *os << c.line; }

class VendorCutLine : public ::testing::TestWithParam<CutLineCase> {};

TEST_P(VendorCutLine, Parses) {
    emu::vendor::EntryFault f;
    std::string error;
    ASSERT_EQ(emu::vendor::ParseEntryFault(GetParam().line, emu::vendor::RvcLibEntries(), f, error), GetParam().ok)
        << error;
    if (!GetParam().ok) return;
    EXPECT_EQ(f.action, emu::vendor::FaultAction::Cut);
    EXPECT_EQ(f.firstCall, GetParam().call);
    EXPECT_EQ(f.bytes, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Vendor, VendorCutLine,
                         ::testing::Values(CutLineCase{"cut=7", true, 7, 0}, CutLineCase{" cut=2:0x100 ", true, 2, 256},
                                           CutLineCase{"cut=0", false}, CutLineCase{"cut=", false},
                                           CutLineCase{"cut=1:x", false}, CutLineCase{"cut=1:2:3", false}));

TEST(VendorCutCalls, AFaultFreeRunTellsEveryCallAndItsWork) {
    emu::vendor::FaultTable table;
    table.OnCall({"Initialize_DriverInterface"}, "", false);
    table.OnCall({"GetProgress"}, "sx0", true, false);
    table.OnCall({"ReqToDriver", "ReqToDriver.write"}, "sx0");
    table.SetWork(8192);
    ASSERT_EQ(table.CutCalls().size(), 2u);
    EXPECT_EQ(table.CutCalls()[1].entry, "ReqToDriver");
    EXPECT_EQ(table.CutCalls()[1].work, 8192u);
}

}  // namespace
