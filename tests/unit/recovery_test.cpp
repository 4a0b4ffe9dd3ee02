// Bringing a camera back after a cut and its return: the write tool over a camera that came back in
// ROM mode or with its old firmware, a second unattended updater run, and the updater finding a
// camera in ROM mode through dev.vrk's ROM key.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "camlib/exports/quelmar_camera.h"
#include "camlib/testing/bench_rig.h"
#include "emu/bench_devices.h"
#include "linked_camera.h"
#include "orlinde_fakes.h"
#include "recovery.h"
#include "write_tool.h"

namespace {

namespace fs = std::filesystem;
using camlib::testing::BenchRig;
using camlib::testing::Keys;

struct Family {
    const char* name;
    char letter;
    Keys keys;
};

const Family kFamilies[] = {
    {"d", 'd', {{"family", "d"}, {"flash", "121"}}},
    {"f", 'f', {{"family", "f"}, {"flash", "121"}, {"flash_status", "0x0C"}}},
    {"g", 'g', {{"family", "g"}, {"flash", "121"}}},
    {"h_direct", 'h', {{"family", "h"}, {"flash", "129"}}},
    {"i", 'i', {{"family", "i"}, {"flash", "124"}}},
    {"j", 'j', {{"family", "j"}, {"flash", "131"}, {"carrier", "private"}}},
    {"k", 'k', {{"family", "k"}, {"flash", "127"}, {"chunk", "2048"}}},
    {"l", 'l', {{"family", "l"}, {"flash", "121"}}},
};

// A firmware of the camera B5A4 with release `rev` in its identity block and `head` at flash
// address 0 (what a file for the download protocol carries there: nothing; for the sector writes
// of the updater: the verified mark).
std::string Firmware(char family, uint16_t rev, std::vector<uint8_t> head, uint8_t seed = 1) {
    std::string image = orfakes::Image(65536, seed);
    const uint32_t at = emu::IdentityOffset(family);
    const uint8_t id[6] = {0x7C, 0x3A, 0xA4, 0xB5, static_cast<uint8_t>(rev), static_cast<uint8_t>(rev >> 8)};
    for (int i = 0; i < 6; ++i) image[at + i] = static_cast<char>(id[i]);
    head.resize(2, 0xFF);
    image[0] = static_cast<char>(head[0]);
    image[1] = static_cast<char>(head[1]);
    return image;
}

std::vector<uint8_t> VerifiedHead(char family) {
    switch (family) {
        case 'i': return {0x89, 0x16};
        case 'k': return {0x89, 0x17};
        case 'j': case 'l': return {0xFF, 0xFF};
        default: return {0x55};
    }
}

// A bench folder with the camera holding its old firmware (release 0012), kept until the test ends.
class Bench {
public:
    explicit Bench(const Keys& keys) {
        static int serial = 0;
        folder = fs::temp_directory_path() / ("recovery-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(folder / "bench.ini", std::ios::binary) << camlib::testing::QuelmarBench(keys);
        family = keys.at(0).second[0];
        const std::string old = Firmware(family, 0x0012, VerifiedHead(family), 9);
        std::ofstream(folder / "cam0.flash", std::ios::binary) << old;
    }
    ~Bench() { fs::remove_all(folder); }
    fs::path folder;
    char family;
};

// The write tool writes `firmware` and the camera's power goes at the `fraction` of the download's
// extension-unit requests (counted on a bench of its own), 2 ms into that request.
std::string CutOrlinde(const Bench& b, const std::string& firmware, double fraction) {
    auto run = [&](const fs::path& folder, uint32_t cutAt, uint32_t& requests) {
        BenchRig bench(folder);
        if (!bench.Ok()) return bench.Error();
        orlinde::LinkedQuelmarCamera camera;
        orfakes::Rig rig;
        rig.camera = &camera;
        rig.Settings("ChooseBinUsePid=1\r\n");
        rig.PidIni("[PID_B5A4]\r\nBIN=fw.bin\r\n");
        rig.Bin("fw.bin", firmware);
        if (!rig.Start()) return std::string("no start");
        emu::quelmar::QuelmarChip& chip = bench.Chip();
        const uint32_t before = chip.RequestCount();
        if (cutAt) {
            emu::quelmar::Fault fault;
            std::string error;
            if (!emu::quelmar::ParseFault("cut=" + std::to_string(before + cutAt) + ":2000", fault, error)) return error;
            chip.Faults().push_back(fault);
        }
        rig.tool->OnFlash();
        rig.TickUntilDone();
        requests = chip.RequestCount() - before;
        return rig.tool->LogText();
    };
    // The same bench, uncut, in a folder of its own: how many requests the download makes.
    const fs::path scratch = b.folder.string() + "-count";
    fs::remove_all(scratch);
    fs::copy(b.folder, scratch);
    uint32_t requests = 0;
    run(scratch, 0, requests);
    fs::remove_all(scratch);
    uint32_t unused = 0;
    return run(b.folder, std::max<uint32_t>(1, static_cast<uint32_t>(requests * fraction)), unused);
}

const std::string kOldHardwareId = "USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00";
const std::string kNewHardwareId = "USB\\VID_3A7C&PID_B5A4&REV_0013&MI_00";
const std::string kRomHardwareId = "USB\\VID_04FC&PID_2080&REV_0100&MI_00";

class OrlindeAfterACut : public ::testing::TestWithParam<Family> {};

// Cut in the middle of the write tool's download and plugged back in, the camera is in ROM mode
// (or, cut before anything was erased, it still has its old firmware), never dead, and no cut run
// reported a success the camera does not boot. The write tool started again writes it whole, and
// it boots the new firmware.
TEST_P(OrlindeAfterACut, WritesTheCameraAgainInRomMode) {
    const Family& f = GetParam();
    bool romSeen = false;
    for (const double fraction : {0.3, 0.7, 0.9}) {
        SCOPED_TRACE(fraction);
        Bench b(f.keys);
        const std::string firmware = Firmware(f.letter, 0x0013, {});
        const std::string cut = CutOrlinde(b, firmware, fraction);
        std::string error;
        ASSERT_TRUE(recovery::Replug(b.folder, "cam0", error)) << error;
        const recovery::Outcome back = recovery::Look(b.folder);
        if (cut.find("Download complete.\r\n") != std::string::npos) {
            EXPECT_EQ(back.hardwareId, kNewHardwareId) << "a success the camera does not boot:\n" << cut;
            continue;
        }
        ASSERT_NE(back.boot, emu::BootMode::Dead) << cut;
        // Cut after the commit: the camera has the new firmware, though the tool could not see it end.
        if (back.hardwareId == kNewHardwareId) continue;
        EXPECT_TRUE(back.hardwareId == kRomHardwareId || back.hardwareId == kOldHardwareId) << back.hardwareId;
        romSeen |= back.boot == emu::BootMode::Rom;

        const recovery::Outcome o = recovery::OrlindeRecover(b.folder, firmware);
        EXPECT_TRUE(o.ok) << o.said;
        EXPECT_EQ(o.boot, emu::BootMode::Flash);
        EXPECT_EQ(o.hardwareId, kNewHardwareId);
    }
    EXPECT_TRUE(romSeen) << "no cut left the camera in ROM mode";
}

INSTANTIATE_TEST_SUITE_P(Families, OrlindeAfterACut, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The updater's sequence over QuelmarCamera.dll on a j or l camera that boots by its mark: the
// download-OK flag goes before the first erase and comes back only after the read-back, so the
// camera starts the new firmware after a verified update, also when it was in ROM mode before, and
// a cut in between leaves it in ROM mode, not dead.
TEST(ExportsCommitSelector, SetLastAfterTheReadBackOnFamiliesJAndL) {
    struct Case {
        const char* name;
        Keys keys;
        bool startInRom;
        int cutAfter;  // extension-unit requests after the open; 0: no cut
        emu::BootMode boot;
    } cases[] = {
        {"j", {{"family", "j"}, {"flash", "131"}, {"carrier", "private"}}, false, 0, emu::BootMode::Flash},
        {"j from ROM mode", {{"family", "j"}, {"flash", "131"}, {"carrier", "private"}}, true, 0, emu::BootMode::Flash},
        {"l from ROM mode", {{"family", "l"}, {"flash", "121"}}, true, 0, emu::BootMode::Flash},
        {"j cut in the writes", {{"family", "j"}, {"flash", "131"}, {"carrier", "private"}}, false, 60,
         emu::BootMode::Rom},
        {"l cut in the writes", {{"family", "l"}, {"flash", "121"}}, false, 60, emu::BootMode::Rom},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Keys keys = c.keys;
        keys.push_back({"boot", "mark"});
        const char family = keys[0].second[0];
        Bench b(keys);
        // In ROM mode: an earlier download entered download mode and never committed.
        if (c.startInRom) std::ofstream(b.folder / "cam0.power") << "state=on\ndownload_ok=0\n";
        BenchRig bench(b.folder);
        ASSERT_TRUE(bench.Ok()) << bench.Error();
        ASSERT_EQ(bench.shared.Devices().Boot(bench.Bench().cameras[0]),
                  c.startInRom ? emu::BootMode::Rom : emu::BootMode::Flash);
        emu::quelmar::QuelmarChip& chip = bench.Chip();
        if (c.cutAfter) {
            emu::quelmar::Fault fault;
            std::string error;
            ASSERT_TRUE(emu::quelmar::ParseFault("cut=" + std::to_string(chip.RequestCount() + c.cutAfter) + ":2000",
                                                 fault, error))
                << error;
            chip.Faults().push_back(fault);
        }
        const std::string text = Firmware(family, 0x0013, {});
        const std::vector<uint8_t> image(text.begin(), text.end());
        std::vector<uint8_t> back;
        uint8_t code = 0;
        const int failed = camlib::testing::Flash(image, back, code);
        QuelmarCam_UnInit();
        EXPECT_EQ(failed == 0, c.cutAfter == 0);
        const std::vector<uint8_t>& flash = chip.Flash().Image();
        EXPECT_EQ(emu::BootByMark(family, flash, chip.DownloadOk(), 0x3A7C, 65536), c.boot);
        if (c.boot == emu::BootMode::Flash) {
            EXPECT_EQ(bench.shared.Devices().Boot(bench.Bench().cameras[0]), emu::BootMode::Flash)
                << "the reset starts the new firmware";
            EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
        }
    }
}

}  // namespace

namespace {

// A silent updater run on the bench, cut at its `at`th extension-unit request (bench.ini's cut
// line), as the first of two unattended runs.
recovery::Outcome CutTessaw(const Bench& b, const std::string& firmware, uint32_t at) {
    std::ofstream(b.folder / "bench.ini", std::ios::binary | std::ios::app) << "fault1=cut=" << at << ":2000\n";
    return recovery::TessawRun(b.folder, firmware, recovery::DevVrk());
}

// How many requests a whole silent run makes on a copy of this bench.
uint32_t TessawRequests(const Bench& b, const std::string& firmware) {
    const fs::path scratch = b.folder.string() + "-count";
    fs::remove_all(scratch);
    fs::copy(b.folder, scratch);
    const recovery::Outcome o = recovery::TessawRun(scratch, firmware, recovery::DevVrk());
    fs::remove_all(scratch);
    EXPECT_TRUE(o.ok) << o.said;
    return o.requests;
}

class TessawAfterACut : public ::testing::TestWithParam<Family> {};

// The first unattended run is cut; the camera comes back. Whenever it still shows its product ID
// (cut before the erase, or after the mark went in over the whole image) a second run finishes the
// job; in ROM mode it is found only through dev.vrk's ROM key, and then finished too.
TEST_P(TessawAfterACut, ASecondRunFinishesTheJob) {
    const Family& f = GetParam();
    const std::string firmware = Firmware(f.letter, 0x0013, VerifiedHead(f.letter));
    uint32_t total = 0;
    {
        Bench b(f.keys);
        total = TessawRequests(b, firmware);
    }
    ASSERT_GT(total, 20u);
    bool early = false, late = false, rom = false;
    for (const double fraction : {0.03, 0.5, 0.995}) {
        SCOPED_TRACE(fraction);
        Bench b(f.keys);
        const recovery::Outcome first = CutTessaw(b, firmware, static_cast<uint32_t>(total * fraction));
        EXPECT_NE(first.exitCode, 0) << first.said;
        std::string error;
        ASSERT_TRUE(recovery::Replug(b.folder, "cam0", error)) << error;
        const recovery::Outcome back = recovery::Look(b.folder);
        ASSERT_NE(back.boot, emu::BootMode::Dead);
        if (back.boot == emu::BootMode::Rom) {
            rom = true;
            const recovery::Outcome plain = recovery::TessawRun(b.folder, firmware, recovery::DevVrk());
            EXPECT_EQ(plain.exitCode, 20) << "without the ROM key nothing changes: " << plain.said;
            const recovery::Outcome second = recovery::TessawRun(b.folder, firmware, recovery::DevVrk("B5A4", "04FC:2080"));
            EXPECT_TRUE(second.ok) << second.said;
            EXPECT_EQ(second.hardwareId, kNewHardwareId);
            continue;
        }
        early |= back.hardwareId == kOldHardwareId;
        late |= back.hardwareId == kNewHardwareId;
        const recovery::Outcome second = recovery::TessawRun(b.folder, firmware, recovery::DevVrk());
        EXPECT_TRUE(second.ok) << second.said;
        EXPECT_EQ(second.boot, emu::BootMode::Flash);
        EXPECT_EQ(second.hardwareId, kNewHardwareId);
    }
    EXPECT_TRUE(early && late && rom) << early << late << rom;
}

INSTANTIATE_TEST_SUITE_P(Families, TessawAfterACut, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.name); });

// dev.vrk's ROM key: a camera in ROM mode gets the computer's one Quelmar entry; with none or
// several it is refused with exit code 46 and a message that says which.
TEST(TessawRomMatch, TakesTheComputersOneQuelmarEntryOrRefuses) {
    const std::string firmware = Firmware('i', 0x0013, VerifiedHead('i'));
    struct Case {
        const char* name;
        std::string config;
        std::string devVrk;
        int exitCode;
        const char* message;
    } cases[] = {
        {"one entry", "SysID_XXXX_PID_B5A4_ModID_01=FW.bin\r\nSysID_XXXX_PID_5602_ModID_11=FW_5602.rfw\r\n",
         recovery::DevVrk("B5A4", "1BCF:2082, 04fc:2080"), 0, "Updated successfully"},
        {"another computer's entry does not fit", "SysID_17A3_PID_B5A4_ModID_01=FW.bin\r\nSysID_0B0B_PID_B5A5_ModID_02=X.bin\r\n",
         recovery::DevVrk("B5A4,B5A5", "04FC:2080"), 0, "Updated successfully"},
        {"none", "SysID_0B0B_PID_B5A4_ModID_01=FW.bin\r\n", recovery::DevVrk("B5A4", "04FC:2080"), 46,
         "Camera in ROM mode (VID_04FC&PID_2080): no Quelmar firmware entry of config.ini fits this computer (SysID 17A3)!"},
        {"several", "SysID_XXXX_PID_B5A4_ModID_01=FW.bin\r\nSysID_17A3_PID_B5A5_ModID_02=FW.bin\r\n",
         recovery::DevVrk("B5A4,B5A5", "04FC:2080"), 46,
         "Camera in ROM mode (VID_04FC&PID_2080): 2 Quelmar firmware entries of config.ini fit this computer (SysID "
         "17A3), so its firmware is not known!"},
        {"another ROM listed", "SysID_XXXX_PID_B5A4_ModID_01=FW.bin\r\n", recovery::DevVrk("B5A4", "1BCF:2082"), 20,
         "No matched device!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b({{"family", "i"}, {"flash", "124"}});
        std::ofstream(b.folder / "cam0.power") << "state=returned\ndownload_ok=1\n";
        std::ofstream(b.folder / "cam0.flash", std::ios::binary) << std::string(65536, '\xFF');
        ASSERT_EQ(recovery::Look(b.folder).boot, emu::BootMode::Rom);
        const recovery::Outcome o = recovery::TessawRun(b.folder, firmware, c.devVrk, "B5A4", c.config);
        EXPECT_EQ(o.exitCode, c.exitCode) << o.said;
        EXPECT_NE(o.said.find(c.message), std::string::npos) << o.said;
        EXPECT_EQ(o.hardwareId, c.exitCode == 0 ? kNewHardwareId : kRomHardwareId);
    }
}

}  // namespace
