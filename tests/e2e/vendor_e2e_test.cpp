// The vendor-library stand-ins under wine: RvcLib.dll loaded by full path and used through
// GetProcAddress, BurnerApLib.dll imported by name, both answering from a bench and writing to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "emu/bench.h"
#include "wine.h"

namespace {

namespace fs = e2e::fs;

const char* const kRealtekCameras =
    "[rt0]\nchip=realtek\nvid=0BDA\npid=5801\nrev=0100\n"
    "[rt1]\nchip=realtek\nvid=0BDA\npid=0604\nrev=0100\ncallback_thread=worker\n";
const char* const kSonixCamera =
    "[sx0]\nchip=sonix\nvid=0C45\npid=6366\nrev=0203\nmi=00\nrom_version=231RO\nrom_index=2\n"
    "sector_table=0x0100\nasic=0x0108:C0\nstep_delay_us=1000\n";

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 9));
    return v;
}

// Progress lines of one EEPROMWrite3 of `size` bytes reported every 4096: the write stage, then
// the verify stage, done counting through both.
std::vector<std::string> ProgressLines(uint32_t size, uint32_t steps) {
    std::vector<std::string> lines;
    for (uint32_t i = 1; i <= steps; ++i)
        lines.push_back("progress " + std::to_string(std::min(i * 4096, 2 * size)) + "/" +
                        std::to_string(2 * size));
    return lines;
}

class VendorE2E : public ::testing::Test {
protected:
    void Prepare(const std::string& benchIni) {
        dir_ = e2e::FreshWorkDir(std::string("vendor-") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::copy_file(e2e::TestProgram("vendor_probe.exe"), dir_ / "vendor_probe.exe");
        for (const char* dll : {"RvcLib.dll", "BurnerApLib.dll"}) {
            fs::path built = e2e::KitDir() / "emu" / dll;
            ASSERT_TRUE(fs::exists(built)) << built << " is missing: build the win64 preset first";
            fs::copy_file(built, dir_ / dll);
        }
        bench_ = dir_ / "bench";
        fs::create_directories(bench_);
        std::ofstream(bench_ / "bench.ini", std::ios::binary) << benchIni;
    }
    void Put(const fs::path& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> Get(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Runs the probe on the bench (or with CAMKIT_BENCH set to `benchValue` when given).
    e2e::RunResult Probe(const std::vector<std::string>& commands, const std::string* benchValue = nullptr) {
        std::vector<std::string> args{e2e::WindowsPath(dir_ / "RvcLib.dll"),
                                      e2e::WindowsPath(dir_ / "BurnerApLib.dll")};
        args.insert(args.end(), commands.begin(), commands.end());
        e2e::RunOptions options;
        options.workingDirectory = dir_;
        if (benchValue) {
            if (!benchValue->empty()) options.env["CAMKIT_BENCH"] = *benchValue;
        } else {
            options.env["CAMKIT_BENCH"] = e2e::WindowsPath(bench_);
        }
        e2e::RunResult r = e2e::RunWine(dir_ / "vendor_probe.exe", args, options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r;
    }
    static std::vector<std::string> Lines(const std::string& out) {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    static std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    std::string BenchLine() const { return "emulated bench: " + e2e::WindowsPath(bench_) + "\n"; }

    fs::path dir_, bench_;
};

const std::vector<std::string> kLoaded = {"RvcLib.dll loaded", "BurnerApLib.dll is the imported one"};

TEST_F(VendorE2E, RealtekStandInEnumeratesWritesAndPersists) {
    Prepare(std::string("[bench]\ncameras=rt0,sx0,rt1\n") + kRealtekCameras + kSonixCamera);
    std::vector<uint8_t> image = Pattern(65536, 1);
    // The identity block at 0xF000: VID, PID, release, little-endian.
    const uint8_t block[6] = {0xDA, 0x0B, 0x01, 0x58, 0x05, 0x01};
    std::copy(block, block + 6, image.begin() + 0xF000);
    Put(dir_ / "new.bin", image);
    std::vector<uint8_t> shortImage = Pattern(1000, 2);
    Put(dir_ / "short.bin", shortImage);

    e2e::RunResult r = Probe({"rvc-enum", "rvc-info", "0", "rvc-write", "0", "new.bin", "rvc-enum",
                              "rvc-write", "1", "short.bin"});
    std::vector<std::string> expected = Concat(
        {kLoaded,
         {"device 0: 0 vid=0BDA pid=5801 rev=0100", "device 1: 0 vid=0BDA pid=0604 rev=0100",
          "enumeration ends", "EEPROMInfo2(0)=0 type=3 size=65536", "EEPROMInfo(0)=0 type=3 size=65536"},
         ProgressLines(65536, 32),
         {"EEPROMWrite3=0", "callbacks on the caller's thread", "device 0: 0 vid=0BDA pid=5801 rev=0105",
          "device 1: 0 vid=0BDA pid=0604 rev=0100", "enumeration ends"},
         ProgressLines(65536, 32),
         {"EEPROMWrite3=0", "callbacks on another thread"}});
    EXPECT_EQ(Lines(r.out), expected);
    EXPECT_EQ(std::count(r.trace.begin(), r.trace.end(), BenchLine()), 2) << "one line from each library";

    EXPECT_EQ(Get(bench_ / "rt0.eeprom"), image);
    std::vector<uint8_t> padded(65536, 0xFF);
    std::copy(shortImage.begin(), shortImage.end(), padded.begin());
    EXPECT_EQ(Get(bench_ / "rt1.eeprom"), padded);

    // The next process sees the revision the image carries.
    r = Probe({"rvc-enum"});
    EXPECT_EQ(Lines(r.out), Concat({kLoaded,
                                    {"device 0: 0 vid=0BDA pid=5801 rev=0105",
                                     "device 1: 0 vid=0BDA pid=0604 rev=0100", "enumeration ends"}}));
}

TEST_F(VendorE2E, SonixStandInRunsTheDownloadSequence) {
    Prepare(std::string("[bench]\ncameras=rt0,sx0\n") + kRealtekCameras + kSonixCamera);
    // A flash full of zeros: only a working erase lets the image land (writes can only clear bits).
    Put(bench_ / "sx0.flash", std::vector<uint8_t>(65536, 0x00));
    std::vector<uint8_t> image = Pattern(65536, 3);
    Put(dir_ / "sonix.bin", image);
    emu::Bench bench;
    std::string error;
    ASSERT_TRUE(emu::LoadBench(bench_.string(), bench, error)) << error;

    e2e::RunResult r = Probe({"sonix", "sonix.bin", "import"});
    std::vector<std::string> expected =
        Concat({kLoaded,
                {"init=1", "list=1 count=1", "path 0: " + bench.cameras[1].DevicePath(),
                 "rom=1 32 33 31 52 4F 02 00 00", "table=1 0x0100 asic=1 C0", "protect byte=1 00",
                 "unprotect=1 word=0x001C", "erase=1", "write=1 progress rising=1 seen between=yes final=100",
                 "protect=1", "read back=1 same", "reset=1", "import init=1"}});
    EXPECT_EQ(Lines(r.out), expected);
    EXPECT_EQ(Get(bench_ / "sx0.flash"), image);
    EXPECT_EQ(std::count(r.trace.begin(), r.trace.end(), BenchLine()), 2);
}

TEST_F(VendorE2E, HiddenEntryPointsAreNullForGetProcAddress) {
    Prepare(std::string("[bench]\ncameras=rt0,rt1\nrvclib_missing=EEPROMInfo2, UVC_Close\n") +
            kRealtekCameras);
    e2e::RunResult r = Probe({"exports", "rvc-enum", "rvc-info", "0"});
    std::vector<std::string> lines = Lines(r.out);
    int found = 0;
    for (const std::string& line : lines) {
        if (line.rfind("RvcLib ", 0) != 0 && line.rfind("BurnerApLib ", 0) != 0) continue;
        bool hidden = line == "RvcLib EEPROMInfo2 missing" || line == "RvcLib UVC_Close missing";
        bool present = line.size() > 6 && line.compare(line.size() - 6, 6, " found") == 0;
        EXPECT_TRUE(hidden || present) << line;
        found += present;
    }
    EXPECT_EQ(found, 16 + 10);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "RvcLib EEPROMInfo2 missing"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "RvcLib UVC_Close missing"), lines.end());
    // The callers' defaults take over: enumeration goes on without closing, EEPROMInfo2 reads -1.
    std::vector<std::string> tail(lines.end() - 5, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"device 0: 0 vid=0BDA pid=5801 rev=0100",
                                              "device 1: 0 vid=0BDA pid=0604 rev=0100", "enumeration ends",
                                              "EEPROMInfo2(0)=-1 type=3 size=65536",
                                              "EEPROMInfo(0)=0 type=3 size=65536"}));
}

TEST_F(VendorE2E, BenchFaultsReachThroughTheLibraries) {
    Prepare(std::string("[bench]\ncameras=rt0,rt1,sx0\nrvclib_fault1=EEPROMWrite3@rt0:1:unplug:5\n"
                        "burnerap_fault1=Initialize_DriverInterface:1:-3\n") +
            kRealtekCameras + kSonixCamera);
    std::vector<uint8_t> image = Pattern(65536, 4);
    Put(dir_ / "new.bin", image);
    e2e::RunResult r = Probe({"rvc-write", "0", "new.bin", "rvc-enum", "import", "import"});
    EXPECT_EQ(Lines(r.out), Concat({kLoaded,
                                    ProgressLines(65536, 5),
                                    {"EEPROMWrite3=-2", "callbacks on the caller's thread",
                                     "device 0: 0 vid=0BDA pid=0604 rev=0100", "enumeration ends",
                                     "import init=-3", "import init=1"}}));
    // What was written before the camera left is kept.
    std::vector<uint8_t> expected(65536, 0xFF);
    std::copy(image.begin(), image.begin() + 5 * 4096, expected.begin());
    EXPECT_EQ(Get(bench_ / "rt0.eeprom"), expected);
}

TEST_F(VendorE2E, WithoutAUsableBenchThereIsNoCamera) {
    Prepare(std::string("[bench]\ncameras=rt0,sx0\nrvclib_fault1=EEPROMWrite3:first:0\n") + kRealtekCameras +
            kSonixCamera);
    const std::vector<std::string> none = Concat({kLoaded, {"enumeration ends", "import init=-1"}});

    std::string unset;
    e2e::RunResult r = Probe({"rvc-enum", "import"}, &unset);
    EXPECT_EQ(Lines(r.out), none);
    std::vector<std::string> trace = r.trace;
    std::sort(trace.begin(), trace.end());
    EXPECT_EQ(trace,
              (std::vector<std::string>{"BurnerApLib.dll (emulated): CAMKIT_BENCH is not set: no camera\n",
                                        "RvcLib.dll (emulated): CAMKIT_BENCH is not set: no camera\n"}));

    std::string nowhere = e2e::WindowsPath(dir_ / "nowhere");
    r = Probe({"rvc-enum", "import"}, &nowhere);
    EXPECT_EQ(Lines(r.out), none);
    EXPECT_EQ(std::count(r.trace.begin(), r.trace.end(), "emulated bench: " + nowhere + "\n"), 2);
    EXPECT_EQ(std::count_if(r.trace.begin(), r.trace.end(),
                            [](const std::string& t) {
                                return t.find("bench cannot be used: no bench.ini") != std::string::npos;
                            }),
              2);

    // A malformed fault takes the library's cameras away, and says why; the other library is unaffected.
    r = Probe({"rvc-enum", "import"});
    EXPECT_EQ(Lines(r.out), Concat({kLoaded, {"enumeration ends", "import init=1"}}));
    EXPECT_NE(
        std::find(r.trace.begin(), r.trace.end(),
                  "RvcLib.dll (emulated): bench cannot be used: [bench] rvclib_fault1=EEPROMWrite3:first:0: "
                  "bad call numbers 'first': no camera\n"),
        r.trace.end());
}

}  // namespace
