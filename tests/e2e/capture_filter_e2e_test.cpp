// The capture-filter stand-in under wine: benches made from templates, registered as DirectShow
// video-input devices, and walked by ks_probe through the real device enumerator, moniker binding,
// IKsControl, IKsTopologyInfo and ICustomCameraProp, with no bench variable set.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "bench_tool.h"
#include "emu/bench.h"
#include "emu/bench_devices.h"
#include "standin_registry.h"
#include "wine.h"

namespace {

namespace fs = e2e::fs;

struct Edit {
    std::string section, key, value;
};

std::string Text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Bytes(const fs::path& file) {
    std::string t = Text(file);
    return std::vector<uint8_t>(t.begin(), t.end());
}

// Sets key=value in a section of bench.ini (the section is added when missing).
void SetKey(const fs::path& bench, const Edit& e) {
    std::string ini = Text(bench / "bench.ini");
    const std::string header = "[" + e.section + "]";
    size_t at = ini.find(header);
    if (at == std::string::npos) {
        if (!ini.empty() && ini.back() != '\n') ini += '\n';
        ini += header + "\n" + e.key + "=" + e.value + "\n";
    } else {
        size_t body = ini.find('\n', at) + 1;
        size_t end = ini.find("\n[", body);
        end = end == std::string::npos ? ini.size() : end + 1;
        size_t line = ini.find("\n" + e.key + "=", body - 1);
        if (line != std::string::npos && line < end) {
            size_t eol = ini.find('\n', line + 1);
            ini.replace(line + 1, (eol == std::string::npos ? ini.size() : eol) - line - 1,
                        e.key + "=" + e.value);
        } else {
            ini.insert(body, e.key + "=" + e.value + "\n");
        }
    }
    std::ofstream(bench / "bench.ini", std::ios::binary) << ini;
}

// What the bench's own model holds for a camera, so that the answers through COM are checked
// against the model rather than against numbers copied here.
struct ModelView {
    uint8_t chipId = 0;
    uint16_t chunk = 0;
};
ModelView Model(const fs::path& bench, size_t camera = 0) {
    emu::Bench b;
    std::string error;
    EXPECT_TRUE(emu::LoadBench(bench.string(), b, error)) << error;
    emu::BenchDevices devices;
    EXPECT_TRUE(devices.Open(b, error)) << error;
    const emu::quelmar::QuelmarChip* chip = devices.Quelmar(b.cameras.at(camera));
    if (!chip) return {};
    return {chip->Config().chipId, chip->Config().chunkBytes};
}

std::string Hex2(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}

class CaptureFilterE2E : public ::testing::Test {
protected:
    void SetUp() override { e2e::ClearRegisteredVideoDevices(); }
    void TearDown() override { e2e::ClearRegisteredVideoDevices(); }

    fs::path MakeBench(const std::string& name, const std::string& templ,
                       const std::vector<Edit>& edits = {}) {
        fs::path bench = e2e::FreshWorkDir(name) / "bench";
        std::string out, err;
        EXPECT_EQ(benchtool::Main({"create", templ, bench.string()}, out, err), 0) << err;
        for (const Edit& e : edits) SetKey(bench, e);
        return bench;
    }
    e2e::RunResult Probe(const std::vector<std::string>& args) {
        e2e::RunResult r = e2e::RunWine(e2e::TestProgram("ks_probe.exe"), args, e2e::RunOptions{});
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    static void ExpectLine(const e2e::RunResult& r, const std::string& line) {
        EXPECT_NE(r.out.find(line + "\r\n"), std::string::npos) << "missing: " << line << "\n"
                                                                << r.out << r.err;
    }
    static void ExpectNoLine(const e2e::RunResult& r, const std::string& part) {
        EXPECT_EQ(r.out.find(part), std::string::npos) << "unexpected: " << part << "\n" << r.out;
    }
    // A video-input device served by `clsid`, registered beside those of the stand-in.
    static void RegisterDeviceOfClass(const std::string& name, const std::string& clsid,
                                      const std::string& path =
                                          "\\\\?\\usb#vid_046d&pid_0825#5&1&0&1#{65e8773d-"
                                          "8f56-11d0-a3b9-00a0c9223196}\\global") {
        const std::string key = "HKCR\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + name;
        for (auto [value, data] : {std::pair<std::string, std::string>{"FriendlyName", name},
                                   {"CLSID", clsid},
                                   {"DevicePath", path}})
            ASSERT_EQ(e2e::RunWineTool({"reg", "add", key, "/v", value, "/d", data, "/f"}), 0)
                << key << " " << value;
    }
    static size_t TraceCount(const e2e::RunResult& r, const std::string& line) {
        return static_cast<size_t>(std::count(r.trace.begin(), r.trace.end(), line));
    }
};

TEST_F(CaptureFilterE2E, EveryCarrierAnswersThroughTheRealCalls) {
    struct Case {
        const char* templ;
        std::vector<Edit> edits;
        const char* interfaces;
    };
    const Case cases[] = {
        {"quelmar-h", {}, "ks=yes topology=yes custom=no"},
        {"quelmar-j", {}, "ks=yes topology=no custom=yes"},
        {"quelmar-h", {{"cam0", "carrier", "private_only"}}, "ks=no topology=no custom=yes"},
        {"quelmar-k", {}, "ks=yes topology=yes custom=yes"},
        {"quelmar-h", {{"cam0", "carrier", "none"}}, "ks=no topology=no custom=no"},
        {"quelmar-f", {{"cam0", "chunk", "512"}}, "ks=yes topology=yes custom=no"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.templ) +
                     (c.edits.empty() ? "" : " " + c.edits[0].key + "=" + c.edits[0].value));
        fs::path bench = MakeBench(c.templ, c.templ, c.edits);
        const ModelView model = Model(bench);
        e2e::ScopedCaptureStandIn registered(bench);
        ASSERT_TRUE(registered.ok());
        e2e::RunResult r = Probe({});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

        emu::Bench b;
        std::string error;
        ASSERT_TRUE(emu::LoadBench(bench.string(), b, error)) << error;
        ExpectLine(r, "device 0: name=" + b.cameras[0].friendly);
        ExpectLine(r, "device 0: path=" + b.cameras[0].DevicePath());
        ExpectLine(r, "device 0: bind=0x00000000");
        ExpectLine(r, std::string("device 0: interfaces ") + c.interfaces);
        const std::string interfaces = c.interfaces;
        const std::string chunk = std::to_string(model.chunk);
        if (interfaces.find("topology=yes") != std::string::npos) {
            ExpectLine(r, "device 0: nodes=4 types=camera,processing,dev_specific,streaming hr=0x00000000");
            ExpectLine(r, "device 0: xu node=2");
            ExpectLine(r, "device 0: ks length 10 first: hr=0x800700EA bytes=" + chunk);
            ExpectLine(r, "device 0: ks register 0x20FF first: hr=0x00000000 value=" + Hex2(model.chipId));
        } else {
            ExpectNoLine(r, "device 0: ks ");
        }
        if (interfaces.find("custom=yes") != std::string::npos) {
            ExpectLine(r, "device 0: private length 10: hr=0x00000000 request=0x00000000 length=" + chunk);
            ExpectLine(r, "device 0: private register 0x20FF: hr=0x00000000 request=0x00000000 value=" +
                              Hex2(model.chipId));
        } else {
            ExpectNoLine(r, "device 0: private ");
        }
        EXPECT_EQ(TraceCount(r, "emulated bench: " + e2e::WindowsPath(bench) + "\n"), 1u);
    }
}

TEST_F(CaptureFilterE2E, EachMonikerReachesItsOwnCameraInBenchOrder) {
    // Three cameras: the bench says which chip answers for which device path, so matching answers
    // show that the device enumerator handed every filter its own moniker's property bag.
    fs::path bench = MakeBench("order", "quelmar-h",
                               {{"bench", "cameras", "cam0,virtual,cam1"},
                                {"virtual", "friendly", "Virtual Camera"},
                                {"virtual", "bus", "root"},
                                {"virtual", "vid", "1D6B"},
                                {"virtual", "pid", "0102"},
                                {"cam1", "friendly", "Second Camera"},
                                {"cam1", "chip", "quelmar"},
                                {"cam1", "vid", "3A7C"},
                                {"cam1", "pid", "B5A5"},
                                {"cam1", "port", "4"},
                                {"cam1", "family", "j"},
                                {"cam1", "flash", "131"},
                                {"cam1", "carrier", "ks"}});
    const ModelView first = Model(bench, 0), second = Model(bench, 2);
    ASSERT_NE(first.chipId, second.chipId);
    e2e::ScopedCaptureStandIn registered(bench);
    e2e::RunResult r = Probe({});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ExpectLine(r, "device 0: ks register 0x20FF first: hr=0x00000000 value=" + Hex2(first.chipId));
    ExpectLine(r, "device 1: name=Virtual Camera");
    ExpectLine(r, "device 1: interfaces ks=no topology=no custom=no");
    EXPECT_NE(r.out.find("device 1: path=\\\\?\\root#"), std::string::npos) << r.out;
    ExpectLine(r, "device 2: name=Second Camera");
    ExpectLine(r, "device 2: ks register 0x20FF first: hr=0x00000000 value=" + Hex2(second.chipId));
    EXPECT_EQ(TraceCount(r, "emulated bench: " + e2e::WindowsPath(bench) + "\n"), 1u)
        << "said once per process";
}

TEST_F(CaptureFilterE2E, SecondPropertySet) {
    fs::path bench = MakeBench("second", "quelmar-h", {{"cam0", "xu_guid", "second"}});
    const ModelView model = Model(bench);
    e2e::ScopedCaptureStandIn registered(bench);
    e2e::RunResult r = Probe({});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ExpectLine(r, "device 0: ks length 10 first: hr=0x80070492 bytes=0");
    ExpectLine(r, "device 0: ks length 10 second: hr=0x800700EA bytes=" + std::to_string(model.chunk));
    ExpectLine(r, "device 0: ks register 0x20FF second: hr=0x00000000 value=" + Hex2(model.chipId));
}

TEST_F(CaptureFilterE2E, KernelStreamingRefusals) {
    // Another maker's extension unit comes first: same node type, neither of the chip's sets.
    fs::path bench =
        MakeBench("refusals", "quelmar-h", {{"cam0", "ks_nodes", "camera,other_xu,processing,xu"}});
    e2e::ScopedCaptureStandIn registered(bench);
    struct Case {
        const char* step;
        const char* answer;
    };
    const Case cases[] = {
        {"ks-len:first:3:10", "hr=0x800700EA bytes=4096"},
        {"ks-len:first:1:10", "hr=0x80070492 bytes=0"},  // the other maker's unit
        {"ks-len:second:1:10", "hr=0x80070492 bytes=0"},
        {"ks-len:first:2:10", "hr=0x80070492 bytes=0"},   // the processing unit
        {"ks-len:second:3:10", "hr=0x80070492 bytes=0"},  // the set this unit does not carry
        {"ks-len:{01234567-89AB-CDEF-0123-456789ABCDEF}:3:10", "hr=0x80070492 bytes=0"},
        {"ks-len:first:4:10", "hr=0x80070057 bytes=0"},  // no such node
        {"ks-len:first:3:1", "hr=0x80070490 bytes=0"},   // no such control
        {"ks-get:first:3:11:2", "hr=0x8007001F bytes=0 data=EE EE"},
        {"ks-flags:1:first:3:10", "hr=0x80070492 bytes=0"},         // to the filter, not the node
        {"ks-flags:10000200:first:3:10", "hr=0x80070032 bytes=0"},  // basic support
        {"ks-short:first:3:10", "hr=0x8007007A bytes=0"},
    };
    std::vector<std::string> args{"0"};
    for (const Case& c : cases) args.push_back(c.step);
    e2e::RunResult r = Probe(args);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const Case& c : cases) ExpectLine(r, std::string(c.step) + ": " + c.answer);

    e2e::RunResult walk = Probe({});
    ExpectLine(walk, "device 0: nodes=4 types=camera,dev_specific,processing,dev_specific hr=0x00000000");
    e2e::RunResult names = Probe({"0", "names"});
    ExpectLine(
        names,
        "names: Camera Terminal,Extension Unit,Processing Unit,Extension Unit connections=3 hr=0x00000000");
}

TEST_F(CaptureFilterE2E, PrivateCarrierRecords) {
    fs::path bench = MakeBench("private", "quelmar-j");
    const ModelView model = Model(bench);
    e2e::ScopedCaptureStandIn registered(bench);
    e2e::RunResult r = Probe({"0", "cp-fetch:35", "reg:cp:0x20FF", "cp-fetch:35", "cp-raw:35:01008503",
                              "cp-get:1:1", "cp-raw:34:01008103", "cp-raw:35:01008203", "info"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ExpectLine(r, "cp-fetch:35: hr=0x800700E8 data=00 00 00 00");  // nothing asked yet
    ExpectLine(r, "reg:cp:0x20FF: hr=0x00000000 request=0x00000000 value=" + Hex2(model.chipId));
    ExpectLine(r, "cp-fetch:35: hr=0x00000000 data=" + Hex2(model.chipId).substr(2) + " 00 00 00");
    ExpectLine(r, "cp-raw:35:01008503: hr=0x8007001F");  // GET_LEN carries two bytes
    ExpectLine(r, "cp-get:1:1: hr=0x80070490 request=0x80070490 data=00");
    ExpectLine(r, "cp-raw:34:01008103: hr=0x80070032");
    ExpectLine(r, "cp-raw:35:01008203: hr=0x80070032");
    ExpectLine(
        r,
        "info: class={2A51A045-7D26-44D2-8407-7637C5FDD517} hr=0x00000000 state=0 hr=0x00000000 pins=1 "
        "next=0x00000000 driver=0x00010000 hr=0x00000000 identity=same");
}

TEST_F(CaptureFilterE2E, WritesReachTheFlashFileAtOnce) {
    struct Case {
        const char* templ;
        const char* carrier;
        const char* written;  // the answer to each write step
        std::vector<std::string> steps;
        std::vector<std::string> readBack;
        std::string readAnswer;
    };
    const std::string window = [] {
        std::string s;
        for (int i = 0; i < 64; ++i) s += i ? " 5A" : "5A";
        return s;
    }();
    const Case cases[] = {
        {"quelmar-k",
         "ks",
         "hr=0x00000000 bytes=0",
         {"ks-set:first:2:13:00100000", "ks-set:first:2:14:00100000", "ks-set:first:2:15:4096x5A"},
         {"ks-set:first:2:14:40100000", "ks-get:first:2:22:64"},
         "ks-get:first:2:22:64: hr=0x00000000 bytes=64 data=" + window},
        {"quelmar-j",
         "private",
         "hr=0x00000000",
         {"cp-set:13:00100000", "cp-set:14:00100000", "cp-set:15:4096x5A"},
         {"cp-set:14:40100000", "cp-get:22:64"},
         "cp-get:22:64: hr=0x00000000 request=0x00000000 data=" + window},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.carrier);
        fs::path bench = MakeBench(std::string("persist-") + c.carrier, c.templ);
        const std::vector<uint8_t> before = Bytes(bench / "cam0.flash");
        ASSERT_GE(before.size(), 0x2000u);
        e2e::ScopedCaptureStandIn registered(bench);

        // Sector 0x1000 erased and programmed, then the process ends without any clean-up: the
        // file must already hold the data.
        std::vector<std::string> args{"0"};
        args.insert(args.end(), c.steps.begin(), c.steps.end());
        args.push_back("exit-now");
        e2e::RunResult r = Probe(args);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        for (const std::string& s : c.steps) ExpectLine(r, s + ": " + c.written);
        const std::vector<uint8_t> after = Bytes(bench / "cam0.flash");
        ASSERT_EQ(after.size(), before.size());
        EXPECT_TRUE(std::equal(after.begin(), after.begin() + 0x1000, before.begin()))
            << "sector 0 untouched";
        EXPECT_TRUE(
            std::all_of(after.begin() + 0x1000, after.begin() + 0x2000, [](uint8_t b) { return b == 0x5A; }));
        EXPECT_TRUE(std::equal(after.begin() + 0x2000, after.end(), before.begin() + 0x2000))
            << "the rest untouched";

        // A later process reads it back through the chip.
        std::vector<std::string> readArgs{"0"};
        readArgs.insert(readArgs.end(), c.readBack.begin(), c.readBack.end());
        e2e::RunResult back = Probe(readArgs);
        ExpectLine(back, c.readAnswer);
    }
}

TEST_F(CaptureFilterE2E, ReleasingEveryReferenceUnloadsTheServerAndClosesTheBench) {
    fs::path bench = MakeBench("unload", "quelmar-k", {{"bench", "summary", "counters.txt"}});
    e2e::ScopedCaptureStandIn registered(bench);
    e2e::RunResult r = Probe({"0", "info", "reg:ks:first:0x20FF", "reg:cp:0x20FF", "unload"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("driver=0x00010000 hr=0x00000000 identity=same\r\n"), std::string::npos) << r.out;
    ExpectLine(r, "unload: unloaded");
    // The bench closed with the DLL and counted every request of the process, on both carriers.
    std::map<std::string, uint64_t> counters;
    ASSERT_TRUE(emu::quelmar::ParseSummary(Text(bench / "counters.txt"), counters))
        << Text(bench / "counters.txt");
    EXPECT_EQ(counters["xu.write.count"], 2u);
    EXPECT_EQ(counters["xu.read.count"], 2u);
}

TEST_F(CaptureFilterE2E, WithoutItsCameraOrBenchEveryRequestFailsAndTheTraceSaysWhy) {
    fs::path bench = MakeBench("unknown", "quelmar-k");
    e2e::ScopedCaptureStandIn registered(bench);
    // A device of the stand-in's class whose path no bench camera has.
    const std::string stranger =
        "\\\\?\\usb#vid_1234&pid_5678#7&1&0&0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    RegisterDeviceOfClass("Stranger", "{2A51A045-7D26-44D2-8407-7637C5FDD517}", stranger);
    e2e::RunResult r = Probe({});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ExpectLine(r, "device 1: name=Stranger");
    ExpectLine(r, "device 1: bind=0x00000000");
    ExpectLine(r, "device 1: interfaces ks=yes topology=yes custom=yes");
    ExpectLine(r, "device 1: ks length 10 first: hr=0x8007048F bytes=0");
    ExpectLine(r, "device 1: ks register 0x20FF first: hr=0x8007048F (address)");
    ExpectLine(r, "device 1: private length 10: hr=0x8007048F request=0x8007048F length=0");
    ExpectLine(r, "device 0: ks length 10 first: hr=0x800700EA bytes=" + std::to_string(Model(bench).chunk));
    EXPECT_EQ(TraceCount(r, "capture filter stand-in: " + stranger + ": no camera of the bench " +
                                e2e::WindowsPath(bench) + " has this path: every request fails\n"),
              1u);

    // The class without its Bench value: nothing to answer from, and no bench is claimed.
    ASSERT_EQ(e2e::RunWineTool({"reg", "delete", "HKCR\\CLSID\\{2A51A045-7D26-44D2-8407-7637C5FDD517}", "/v",
                                "Bench", "/f"}),
              0);
    e2e::RunResult none = Probe({});
    ExpectLine(none, "device 0: ks register 0x20FF first: hr=0x8007048F (address)");
    for (const std::string& line : none.trace)
        EXPECT_EQ(line.rfind("emulated bench:", 0), std::string::npos) << line;
    emu::Bench b;
    std::string error;
    ASSERT_TRUE(emu::LoadBench(bench.string(), b, error)) << error;
    EXPECT_EQ(
        TraceCount(none, "capture filter stand-in: " + b.cameras[0].DevicePath() +
                             ": no bench registered (HKCR\\CLSID\\{2A51A045-7D26-44D2-8407-7637C5FDD517}"
                             "\\Bench): every request fails\n"),
        1u);
}

TEST_F(CaptureFilterE2E, UnregisteringRemovesTheClassAndItsDevicesOnly) {
    fs::path bench = MakeBench("unregister", "quelmar-h");
    // A device served by another class (the system's null renderer binds quickly under wine, where
    // the kernel-streaming proxy a real camera names is not registered).
    RegisterDeviceOfClass("Other Camera", "{C1F400A4-3F08-11D3-9F0B-006008039E37}");
    e2e::RunResult reg = e2e::RegisterCaptureStandIn(bench);
    ASSERT_EQ(reg.exitCode, 0) << reg.out << reg.err;
    EXPECT_NE(reg.out.find("registered 1 camera(s) of the bench " + e2e::WindowsPath(bench)),
              std::string::npos)
        << reg.out;
    // Registering again replaces, not adds.
    ASSERT_EQ(e2e::RegisterCaptureStandIn(bench).exitCode, 0);
    e2e::RunResult twice = Probe({});
    ExpectLine(twice, "device 1: name=Other Camera");
    ExpectLine(twice, "device 1: interfaces ks=no topology=no custom=no");
    ExpectNoLine(twice, "device 2:");

    e2e::RunResult gone = e2e::UnregisterCaptureStandIn();
    ASSERT_EQ(gone.exitCode, 0) << gone.out << gone.err;
    EXPECT_NE(e2e::RunWineTool({"reg", "query", "HKCR\\CLSID\\{2A51A045-7D26-44D2-8407-7637C5FDD517}"}), 0);
    e2e::RunResult after = Probe({});
    ExpectLine(after, "device 0: name=Other Camera");
    ExpectNoLine(after, "device 1:");

    e2e::RunResult usage = e2e::RunWine(e2e::CaptureStandInTool(), {"register"}, e2e::RunOptions{});
    EXPECT_EQ(usage.exitCode, 2);
    e2e::RunResult missing = e2e::RunWine(
        e2e::CaptureStandInTool(), {"register", e2e::WindowsPath(bench / "nowhere")}, e2e::RunOptions{});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("capture_standin: "), std::string::npos) << missing.err;
}

}  // namespace
