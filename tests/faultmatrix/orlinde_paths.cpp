// The write tool's three routes, from start-up (identification) to the end of a download, over a
// bench: a Quelmar camera through the linked camera-access library, Realtek modules through
// RvcLib.dll's model, a Sonix camera through BurnerApLib.dll's model.
#include <fstream>
#include <memory>

#include "camlib/testing/bench_rig.h"
#include "linked_camera.h"
#include "orlinde_fakes.h"
#include "quelmar_sites.h"
#include "flashtool/core/texts.h"
#include "write_tool.h"

namespace fm {
namespace {

using camlib::testing::BenchIni;
using camlib::testing::BenchRig;
using camlib::testing::CameraSection;
using camlib::testing::Keys;

// The identification's failures; a camera that no library finds leaves only the empty line.
const std::vector<std::string> kNotIdentified = {"only the empty line",
    orlinde::kGetInformationFail, orlinde::kUnknownFlash, orlinde::kNoDeviceList, orlinde::kNoVidPid,
    "Can't find Brevant Camera!", "auto choose bin fail"};

// Start-up, FLASH and the timers until the download ends.
Outcome Drive(orfakes::Rig& rig, bool realtek) {
    if (!rig.Start()) return {false, "start-up failed: " + rig.tool->LogText()};
    if (!rig.dialog.enabled[orlinde::kIdcFlash]) {
        std::string said = rig.tool->LogText() == "\r\n" ? "only the empty line" : "";
        for (const std::string& m : kNotIdentified)
            if (said.empty() && (rig.tool->LogText().find(m) != std::string::npos ||
                                 std::any_of(rig.dialog.boxes.begin(), rig.dialog.boxes.end(),
                                             [&](const orfakes::Dialog::Box& b) { return b.text.find(m) != std::string::npos; })))
                said = m;
        std::string shown = rig.tool->LogText();
        for (const auto& b : rig.dialog.boxes) shown += " box \"" + b.text + "\"";
        for (const auto& [id, text] : rig.dialog.texts) shown += " [" + std::to_string(id) + "] " + text;
        return {false, "not identified, FLASH disabled: " + (said.empty() ? shown : said)};
    }
    rig.tool->OnFlash();
    if (realtek) rig.Tick(orlinde::kTimerRealtekStart);
    rig.TickUntilDone();
    const std::string log = rig.tool->LogText();
    const int picture = rig.dialog.pictures.empty() ? 0 : rig.dialog.pictures.back();
    const bool complete = log.size() >= 20 && log.compare(log.size() - 20, 20, orlinde::kDownloadComplete) == 0;
    if (picture == orlinde::kBmpSuccess && complete) return {true, "success picture, Download complete."};
    std::string tail = log.substr(log.size() > 160 ? log.size() - 160 : 0);
    return {false, std::string(picture == orlinde::kBmpFail ? "fail picture" : "picture " + std::to_string(picture)) +
                       ": " + tail};
}

// The identification's message with no download, or the "Fail" picture with the download's.
bool OrlindeFailure(const Outcome& o) {
    if (o.text.rfind("not identified, FLASH disabled: ", 0) == 0) return HasAny(o.text, kNotIdentified);
    if (o.text.rfind("picture 0: ", 0) == 0) return HasAny(o.text, kNotIdentified);
    return o.text.rfind("fail picture: ", 0) == 0 && o.text.find("Download fail.") != std::string::npos;
}

std::vector<Site> VendorSites(Device device, const std::map<std::string, uint32_t, std::less<>>& before,
                              const std::map<std::string, uint32_t, std::less<>>& after) {
    std::vector<Site> sites = EntrySites(device, before, after);
    DropWiderEntries(sites);
    return sites;
}

Path Quelmar() {
    Path p;
    p.name = "orlinde.quelmar";
    p.expected = "fail picture + Download fail.; or FLASH disabled with the identification's message";
    p.run = [](const Injection& injection) {
        BenchRig bench(FaultedQuelmarBench({{"family", "i"}}, injection));
        RunResult r;
        if (!bench.Ok()) {
            r.outcome.text = bench.Error();
            return r;
        }
        orlinde::LinkedQuelmarCamera camera;
        orfakes::Rig rig;
        rig.camera = &camera;
        rig.Settings();
        rig.PidIni("[PID_B5A4]\r\nBIN=fw.bin\r\nModuleID=Q-I\r\n");
        rig.Bin("fw.bin", orfakes::WithRevision(orfakes::Image(65536), 0x678A, 0x0013));
        const ChipCounts before = bench.Chip().CallCounts();
        r.outcome = Drive(rig, false);
        AddChipSites(r.sites, before, bench.Chip().CallCounts());
        r.outcome.state = "flash " + Digest(bench.Chip().Flash().Image());
        return r;
    };
    p.knownFailure = OrlindeFailure;
    p.recoveries = QuelmarRecoveries();
    return p;
}

Path Realtek() {
    Path p;
    p.name = "orlinde.realtek";
    p.camera = "rt1";
    p.expected = "fail picture + Download fail.; or FLASH disabled with the identification's message";
    p.run = [](const Injection& injection) {
        std::vector<std::string> names, sections;
        const char* pids[] = {"0604", "041F"};
        for (int i = 0; i < 2; ++i) {
            names.push_back("rt" + std::to_string(i));
            sections.push_back(CameraSection(
                names.back(), {{"chip", "realtek"}, {"pid", pids[i]}, {"rev", "0021"}, {"port", std::to_string(4 + i)}}));
        }
        BenchRig bench(BenchIni(names, sections, injection.line.empty() ? "" : "rvclib_fault1=" + injection.line + "\n"));
        RunResult r;
        std::unique_ptr<emu::vendor::RealtekLibrary> lib;
        std::string error;
        if (!bench.Ok() || !emu::vendor::RealtekLibrary::FromBench(bench.Bench(), lib, error)) {
            r.outcome.text = bench.Error() + error;
            return r;
        }
        orlinde::LinkedQuelmarCamera camera;
        orfakes::Rig rig;
        orfakes::RvcModel::lib = lib.get();
        rig.camera = &camera;
        rig.Settings();
        rig.PidIni("[PID_0604]\r\n041f=ir.bin\r\n0604=rgb.bin\r\nBIN=single.bin\r\nModuleID=Combo\r\nVER=0022\r\n");
        rig.Bin("rgb.bin", orfakes::Image(60000, 3));
        rig.Bin("ir.bin", orfakes::Image(30000, 4));
        const auto before = lib->Faults().Counts();
        r.outcome = Drive(rig, true);
        r.sites = VendorSites(Device::RvcLib, before, lib->Faults().Counts());
        AddCutSites(r.sites, Device::RvcLib, lib->Faults().CutCalls());
        r.outcome.state = "rt0 " + Digest(*lib->Memory("rt0")) + " rt1 " + Digest(*lib->Memory("rt1"));
        return r;
    };
    p.knownFailure = OrlindeFailure;
    for (const char* op : {"RvcLib_Initialize", "RvcLib_UnInitialize", "UVC_Close"})
        p.recoveries.push_back({Device::RvcLib, op, -2, static_cast<unsigned>(Kind::Fail),
                                std::string(op) + "'s result is not one the tool relies on", nullptr});
    // A second camera that is gone before the enumeration reaches it (unplugged, or not opened)
    // leaves a bench of one camera, which the tool flashes.
    p.recoveries.push_back({Device::RvcLib, "RvcLib_Initialize", -2, static_cast<unsigned>(Kind::Unplug),
                            "the second camera left before the enumeration; the tool flashes the one it found",
                            nullptr, true});
    p.recoveries.push_back({Device::RvcLib, "UVC_Open", -2, static_cast<unsigned>(Kind::Fail) | static_cast<unsigned>(Kind::Unplug),
                            "the second camera was not opened at identification; the tool flashes the one it found",
                            [](uint32_t call, const Site&) { return call == 2; }, true});
    return p;
}

Path Sonix() {
    Path p;
    p.name = "orlinde.sonix";
    p.expected = "fail picture + Download fail.; or FLASH disabled with the identification's message";
    p.run = [](const Injection& injection) {
        BenchRig bench(BenchIni({"cam0"},
                                {CameraSection("cam0", {{"chip", "sonix"},
                                                        {"pid", "6366"},
                                                        {"rom_version", "232RO"},
                                                        {"rom_index", "2"},
                                                        {"sector_table", "0x1000"},
                                                        {"asic", "0x1008:C0"}})},
                                injection.line.empty() ? "" : "burnerap_fault1=" + injection.line + "\n"));
        RunResult r;
        if (!bench.Ok()) {
            r.outcome.text = bench.Error();
            return r;
        }
        std::vector<uint8_t> flash(65536, 0x3C);
        flash[0x168] = 0x20;
        flash[0x200A] = 0x01;
        flash[0x200B] = 0x05;
        flash[0xC034] = 0x5A;
        std::ofstream(bench.Folder() / "cam0.flash", std::ios::binary)
            .write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
        std::unique_ptr<emu::vendor::SonixLibrary> lib;
        std::string error;
        if (!emu::vendor::SonixLibrary::FromBench(bench.Bench(), lib, error)) {
            r.outcome.text = error;
            return r;
        }
        orlinde::LinkedQuelmarCamera camera;
        orfakes::Rig rig;
        rig.sonix.lib = lib.get();
        rig.camera = &camera;
        rig.Settings();
        rig.PidIni("[PID_6366]\r\nBIN=sx.bin\r\n");
        rig.Bin("sx.bin", orfakes::Image(40000, 7));
        const auto before = lib->Faults().Counts();
        r.outcome = Drive(rig, false);
        r.sites = VendorSites(Device::BurnerAp, before, lib->Faults().Counts());
        // The progress poll runs beside the write, as often as the timer fires: its count is not
        // the path's own.
        std::erase_if(r.sites, [](const Site& s) { return s.op == "GetProgress"; });
        AddCutSites(r.sites, Device::BurnerAp, lib->Faults().CutCalls());
        r.outcome.state = "flash " + Digest(*lib->Memory("cam0")) + (lib->Protected("cam0") ? ", protected" : "");
        return r;
    };
    p.knownFailure = OrlindeFailure;
    const unsigned failOrCorrupt = static_cast<unsigned>(Kind::Fail) | static_cast<unsigned>(Kind::Corrupt);
    // Reads whose results the tool does not test: the version shown at identification (it keeps
    // its value), the protection byte and the ROM address's sources (the library keeps its own
    // record of the protection); the reset after a finished download.
    p.recoveries.push_back({Device::BurnerAp, "ReqToDriver.read", -2, failOrCorrupt,
                            "the version and protection-byte reads are not tested", nullptr});
    for (const char* op : {"GetSectorTableAddr", "ProcReadFromASIC"})
        p.recoveries.push_back({Device::BurnerAp, op, -2, failOrCorrupt,
                                std::string(op) + " only picks the protection byte's address, whose read is not tested",
                                nullptr});
    p.recoveries.push_back({Device::BurnerAp, "ResetDevice", -2, 7 | static_cast<unsigned>(Kind::Cut),
                            "the reset follows a finished download; its result is not tested", nullptr});
    return p;
}

}  // namespace

Outcome OrlindeQuelmarDownload(const std::string& pidIni, const std::string& image) {
    orlinde::LinkedQuelmarCamera camera;
    orfakes::Rig rig;
    rig.camera = &camera;
    rig.Settings();
    rig.PidIni(pidIni);
    rig.Bin("fw.bin", image);
    return Drive(rig, false);
}

std::vector<Path> OrlindePaths() { return {Quelmar(), Realtek(), Sonix()}; }

}  // namespace fm
