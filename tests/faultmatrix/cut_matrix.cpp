// cut_matrix [--filter <substring of a path name>] [--jobs N] [--list] [--case <path> <n>[:<us>]]
// (--case runs one case in this process and says how it ended)
//
// Cuts the power of a bench Quelmar camera at every extension-unit request of every path that
// writes its flash, and halfway through each request that takes time (a torn erase or program),
// plugs the camera back in and tries to bring it back: first the same program again, as an
// unattended script or a technician would, then Orlinde with the camera's ROM identity in pid.ini.
// Each case ends as "finished by the rerun", "recovered by Orlinde", "updated before the cut" (the
// path reported success and the camera, back, runs the new firmware) or "dead". A success reported
// over a camera that is not updated, a camera that neither brings back, a crash and a hang fail the
// run; so does a dead camera, since a cut must never leave one. Prints one line per case and the totals.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camlib/camlib.h"
#include "camlib/testing/bench_rig.h"
#include "child.h"
#include "emu/bench.h"
#include "emu/bench_devices.h"
#include "matrix.h"

namespace fm {
namespace {

namespace fs = std::filesystem;
using camlib::testing::BenchRig;
using camlib::testing::Keys;

constexpr uint16_t kVid = 0x3A7C, kPid = 0xB5A4, kOldRev = 0x0012, kNewRev = 0x0013;

enum class Program { Tessaw, Orlinde, RangeWrite };

const char* ProgramName(Program p) {
    switch (p) {
        case Program::Tessaw: return "Tessaw";
        case Program::Orlinde: return "Orlinde";
        case Program::RangeWrite: return "range write";
    }
    return "?";
}

struct CutPath {
    std::string name;
    char family = 'h';
    Keys keys;  // the camera's keys besides its family
    Program program = Program::Tessaw;
    // Family l with in-package flash: the old firmware is in the in-package flash too, and the
    // Module ID pid.ini gives the camera (KM27QX-310B: the write tool switches it again at FLASH).
    bool inPackage = false;
    std::string moduleId = "QM-B5A4";
    // The camera started its firmware from the in-package flash before the update, though it powers
    // on in serial mode (<record>.power's boot_flash): the module the write tool switches.
    bool startsInPackage = false;
};

std::vector<CutPath> Paths() {
    return {
        {"tessaw.h", 'h', {{"flash", "121"}}, Program::Tessaw},
        {"tessaw.i", 'i', {{"flash", "124"}}, Program::Tessaw},
        {"tessaw.k", 'k', {{"flash", "121"}}, Program::Tessaw},
        {"tessaw.j", 'j', {{"flash", "123"}}, Program::Tessaw},
        {"orlinde.generic", 'i', {{"flash", "124"}}, Program::Orlinde},
        {"orlinde.j", 'j', {{"flash", "123"}}, Program::Orlinde},
        {"orlinde.direct_sf", 'h', {{"flash", "129"}}, Program::Orlinde},
        {"range_write.h", 'h', {{"flash", "121"}}, Program::RangeWrite},
        // Orlinde's in-package route: a chip that the start-up's mode switch puts in in-package mode
        // (0xD2), and one that powers on in it. Tessaw never writes the in-package flash: its flow
        // refuses the flash type 0xFF before it touches the camera.
        {"orlinde.in_package", 'l', {{"chip_id", "0xD2"}, {"in_package", "65536"}, {"flash", "121"}}, Program::Orlinde,
         true, "KM27QX-310B", true},
        {"orlinde.in_package_boot", 'l', {{"in_package", "65536"}, {"in_package_boot", "1"}, {"flash", "121"}},
         Program::Orlinde, true},
    };
}

void Put16(std::string& s, uint32_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

// A firmware file of the family as its maker ships it: the verified header at address 0, the
// identity block with release `rev`, and no erased page.
std::string Firmware(char family, uint16_t rev, uint8_t seed) {
    std::string s(65536, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(seed + i * 31 + (i >> 8));
    switch (family) {
        case 'i': s[0] = '\x89', s[1] = '\x16'; break;
        case 'k': s[0] = '\x89', s[1] = '\x17'; break;
        default: s[0] = '\x55'; break;
    }
    const uint32_t at = emu::IdentityOffset(family);
    Put16(s, at, kVid);
    Put16(s, at + 2, kPid);
    Put16(s, at + 4, rev);
    return s;
}

std::string NewImage(char family) { return Firmware(family, kNewRev, 7); }

// The packager's dev.vrk, which lists the chip's ROM identity: a rerun then also finds a camera
// that a cut left in ROM mode.
const char* const kDevVrk = "[REALTEK]\r\nPID=5602,5603\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\nROM=04FC:2080\r\n";

// The technician's pid.ini; with the ROM's product ID too once the camera shows it.
std::string PidIni(const CutPath& path, bool rom) {
    const std::string section = "BIN=fw.bin\r\nModuleID=" + path.moduleId + "\r\n";
    return "[PID_B5A4]\r\n" + section + (rom ? "[PID_2080]\r\n" + section : "");
}

// A new bench folder: the camera with the old firmware, booting by its mark, and the case's cut.
fs::path MakeBench(const CutPath& path, const std::string& cut, const std::string& scratch, const std::string& tag) {
    const fs::path folder = fs::path(scratch) / tag;
    fs::remove_all(folder);
    fs::create_directories(folder);
    Keys keys = path.keys;
    keys.push_back({"family", std::string(1, path.family)});
    keys.push_back({"boot", "mark"});
    if (!cut.empty()) keys.push_back({"fault1", "cut=" + cut});
    std::ofstream(folder / emu::kBenchFile, std::ios::binary) << camlib::testing::QuelmarBench(keys);
    const std::string old = Firmware(path.family, kOldRev, 3);
    std::ofstream(folder / "cam0.flash", std::ios::binary) << old;
    if (path.inPackage) std::ofstream(folder / "cam0.ipf", std::ios::binary) << old;
    if (path.startsInPackage) std::ofstream(folder / "cam0.power") << "state=on\ndownload_ok=1\nboot_flash=in_package\n";
    return folder;
}

Outcome RangeWrite(const std::string& image) {
    camlib::CamHolder h = nullptr;
    if (camlib::CamInit(&h, 'e', 0) != 0) return {false, "CamInit failed"};
    uint8_t code = 0;
    std::string failed;
    if (camlib::CamProbeFlashType(h, &code) != 0) failed = "flash type";
    else if (camlib::CamProtectOff(h, code) != 0) failed = "protection off";
    else if (camlib::CamWriteRange(h, reinterpret_cast<const uint8_t*>(image.data()), code, 0, 0x10000) != 1)
        failed = "range write";
    else if (camlib::CamProtectOn(h, code) != 0) failed = "protection on";
    else if (!camlib::CamSoftReset(h)) failed = "reset";
    camlib::CamDestroy(&h);
    return {failed.empty(), failed.empty() ? "written" : failed + " failed"};
}

// One run of a program over the bench in `folder`, in a process of its own as on a real machine
// (here: a fresh set of devices, as at power-on). `rom`: pid.ini lists the ROM's product ID.
Outcome RunProgram(Program program, const fs::path& folder, const CutPath& path, bool rom,
                   std::vector<emu::quelmar::WireRequest>* wire = nullptr) {
    const char family = path.family;
    BenchRig rig(folder);
    if (!rig.Ok()) return {false, "bench: " + rig.Error()};
    if (wire) rig.Chip().RecordWire(wire);
    Outcome o;
    switch (program) {
        case Program::Tessaw: o = TessawQuelmarSilently(folder.string(), NewImage(family), kDevVrk); break;
        case Program::Orlinde: o = OrlindeQuelmarDownload(PidIni(path, rom), NewImage(family)); break;
        case Program::RangeWrite: o = RangeWrite(NewImage(family)); break;
    }
    if (wire) rig.Chip().RecordWire(nullptr);
    return o;
}

// How the camera comes up at the next power-on, and what it holds.
struct Look {
    emu::BootMode boot = emu::BootMode::Flash;
    bool offBus = false;
    uint16_t pid = 0, rev = 0;
    std::string flash;  // digest
};

// The devices alone, as the next power-on builds them: no platform, no program.
Look LookAt(const fs::path& folder) {
    Look l;
    emu::Bench bench;
    emu::BenchDevices devices;
    std::string error;
    if (!emu::LoadBench(folder.string(), bench, error) || !devices.Open(bench, error)) {
        l.flash = "bench: " + error;
        return l;
    }
    const emu::CameraRecord& cam = bench.cameras.at(0);
    l.offBus = devices.OffBus(cam);
    l.boot = devices.Boot(cam);
    const emu::CameraRecord shown = devices.Presented(cam);
    l.pid = shown.pid;
    l.rev = shown.rev;
    // The image's 64 KiB in the flash the camera starts from: what lies beyond depends on how much
    // a program erased, not on the update.
    const std::vector<uint8_t>& flash = devices.Quelmar(cam)->BootImage();
    l.flash = Digest(std::vector<uint8_t>(flash.begin(), flash.begin() + std::min<size_t>(flash.size(), 65536)));
    if (std::getenv("CUT_MATRIX_DUMP")) {
        std::ofstream(std::string(std::getenv("CUT_MATRIX_DUMP")) + "." + l.flash, std::ios::binary)
            .write(reinterpret_cast<const char*>(flash.data()), std::min<size_t>(flash.size(), 65536));
    }
    return l;
}

bool Replug(const fs::path& folder, std::string& error) {
    emu::Bench bench;
    return emu::LoadBench(folder.string(), bench, error) && emu::ReplugCamera(bench, "cam0", error);
}

// The camera runs the new firmware: flash mode, its own product ID and the new release, and the
// flash as a fault-free run of the program that wrote it last leaves it.
bool Updated(const Look& l, const std::string& reference) {
    return l.boot == emu::BootMode::Flash && !l.offBus && l.pid == kPid && l.rev == kNewRev && l.flash == reference;
}

// What the fault-free runs leave: per program and path (its camera), the flash digest.
using References = std::map<std::pair<Program, std::string>, std::string>;

struct CaseResult {
    std::string verdict;  // "rerun", "orlinde", "dead", or a failure in capitals
    std::string detail;
};

std::string Serialize(const CaseResult& r) { return r.verdict + "\n" + OneLine(r.detail) + "\n"; }

CaseResult Parse(const std::string& out) {
    CaseResult r;
    std::istringstream in(out);
    std::getline(in, r.verdict);
    std::getline(in, r.detail);
    return r;
}

const char* BootName(emu::BootMode b) { return emu::BootModeName(b); }

// The cut run, in a child: how the program ended and what the camera keeps.
struct CutResult {
    bool cut = false;      // the power went
    bool success = false;  // what the program reported
    std::string text;
    std::string state;  // a digest of everything the camera keeps across power-on
};

std::string Serialize(const CutResult& r) {
    return std::string(r.cut ? "C" : "-") + (r.success ? "S" : "F") + "\n" + OneLine(r.text) + "\n" + r.state + "\n";
}

CutResult ParseCut(const std::string& out) {
    CutResult r;
    std::istringstream in(out);
    std::string flags;
    std::getline(in, flags);
    r.cut = flags.size() == 2 && flags[0] == 'C';
    r.success = flags.size() == 2 && flags[1] == 'S';
    std::getline(in, r.text);
    std::getline(in, r.state);
    return r;
}

// The bench's files of the camera (its flash, protection bits, power and download-OK record, in-
// package flash), without bench.ini, whose cut fault a cut has spent.
std::string StateOf(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != emu::kBenchFile) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> all;
    for (const fs::path& f : files) {
        const std::string name = f.filename().string();
        all.insert(all.end(), name.begin(), name.end());
        std::ifstream in(f, std::ios::binary | std::ios::ate);
        const size_t at = all.size(), size = static_cast<size_t>(in.tellg());
        all.resize(at + size);
        in.seekg(0);
        in.read(reinterpret_cast<char*>(all.data() + at), static_cast<std::streamsize>(size));
    }
    return Digest(all);
}

CutResult CutPhase(const CutPath& path, const fs::path& folder) {
    CutResult r;
    const Outcome first = RunProgram(path.program, folder, path, false);
    r.success = first.success;
    r.text = first.text;
    r.cut = LookAt(folder).offBus;
    r.state = StateOf(folder);
    return r;
}

// After the cut, in a child: the return, the rerun, Orlinde. A program that reported success over the
// cut must have left the camera updated: nothing else is tried then.
CaseResult RecoverPhase(const CutPath& path, const fs::path& folder, const References& refs, bool reportedSuccess) {
    CaseResult r;
    std::string error;
    if (!Replug(folder, error)) {
        r.verdict = "BENCH";
        r.detail = error;
        return r;
    }
    const Look back = LookAt(folder);
    std::string story = std::string("back in ") + BootName(back.boot);
    if (reportedSuccess) {
        const bool updated = Updated(back, refs.at({path.program, path.name}));
        r.verdict = updated ? "despite" : "FALSE SUCCESS";
        r.detail = story + (updated ? ", updated: the cut came after the update was complete"
                                    : ": not updated, yet success was reported");
        return r;
    }
    if (back.boot == emu::BootMode::Dead) {
        r.verdict = "dead";
        r.detail = story;
        return r;
    }
    // The bench boots any whole image under a verified mark; one that is neither the old firmware
    // nor the new would crash on a real camera, which then answers nobody.
    const std::string old = Firmware(path.family, kOldRev, 3);
    if (back.boot == emu::BootMode::Flash && back.flash != Digest(std::vector<uint8_t>(old.begin(), old.end())) &&
        back.flash != refs.at({path.program, path.name})) {
        r.verdict = "dead";
        r.detail = story + ", over an image that is neither the old firmware nor the new";
        return r;
    }
    const Outcome rerun = RunProgram(path.program, folder, path, false);
    const Look afterRerun = LookAt(folder);
    story += "; rerun: " + rerun.text;
    if (rerun.success && Updated(afterRerun, refs.at({path.program, path.name}))) {
        r.verdict = "rerun";
        r.detail = story;
        return r;
    }
    if (rerun.success) {
        r.verdict = "FALSE SUCCESS";
        r.detail = story + " (the camera came up in " + BootName(afterRerun.boot) + ", or not as written)";
        return r;
    }
    const Outcome orlinde = RunProgram(Program::Orlinde, folder, path, true);
    const Look afterOrlinde = LookAt(folder);
    story += "; Orlinde: " + orlinde.text + "; then " + BootName(afterOrlinde.boot);
    if (orlinde.success && Updated(afterOrlinde, refs.at({Program::Orlinde, path.name}))) {
        r.verdict = "orlinde";
        r.detail = story;
        return r;
    }
    r.verdict = afterOrlinde.boot == emu::BootMode::Dead ? "dead" : "NOT RECOVERED";
    r.detail = story;
    return r;
}

// A request takes about a millisecond on the bus, plus its data; one that takes longer keeps the
// flash busy, and is cut halfway too.
constexpr uint64_t kTearableUs = 3000;

// The fault-free run: its outcome, the flash it leaves, and each request's time.
struct Clean {
    Outcome outcome;
    std::string flash;
    std::vector<uint64_t> requestUs;  // per request; 0 for one that nothing in can tear
};

std::string SerializeClean(const Clean& c) {
    std::string s = std::string(c.outcome.success ? "S" : "F") + OneLine(c.outcome.text) + "\n" + c.flash + "\n";
    for (uint64_t us : c.requestUs) s += std::to_string(us) + " ";
    return s + "\n";
}

Clean ParseClean(const std::string& out) {
    Clean c;
    std::istringstream in(out);
    std::string line;
    std::getline(in, line);
    c.outcome.success = !line.empty() && line[0] == 'S';
    c.outcome.text = line.empty() ? "" : line.substr(1);
    std::getline(in, c.flash);
    for (uint64_t us; in >> us;) c.requestUs.push_back(us);
    return c;
}

Clean RunClean(const CutPath& path, Program program, const std::string& scratch, const std::string& tag) {
    const fs::path folder = MakeBench(path, "", scratch, tag);
    std::vector<emu::quelmar::WireRequest> wire;
    Clean c;
    c.outcome = RunProgram(program, folder, path, false, &wire);
    const Look l = LookAt(folder);
    if (c.outcome.success && !Updated(l, l.flash))
        c.outcome = {false, c.outcome.text + ", but the camera then came up in " + BootName(l.boot) + " as " +
                                std::to_string(l.pid) + " rev " + std::to_string(l.rev)};
    c.flash = l.flash;
    // A write that keeps the chip busy beyond its transfer starts an erase or a program.
    for (const auto& w : wire) c.requestUs.push_back(w.kind == 'W' && w.us >= kTearableUs ? w.us : 0);
    if (std::FILE* wireOut = std::getenv("CUT_MATRIX_WIRE") ? std::fopen(std::getenv("CUT_MATRIX_WIRE"), "w") : nullptr)
        for (const auto& w : wire)
            std::fprintf(wireOut, "%c sel %u bytes %u us %llu\n", w.kind, w.selector, w.bytes, (unsigned long long)w.us);
    fs::remove_all(folder);
    return c;
}


struct Case {
    const CutPath* path = nullptr;
    std::string cut;  // the fault's value: "<n>" or "<n>:<us>"
};

}  // namespace
}  // namespace fm

int main(int argc, char** argv) {
    using namespace fm;
    std::string filter;
    bool list = false;
    std::string single;
    int jobs = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--filter" && i + 1 < argc)
            filter = argv[++i];
        else if (a == "--list")
            list = true;
        else if (a == "--case" && i + 2 < argc) {
            filter = argv[++i];
            single = argv[++i];
        } else if (a == "--jobs" && i + 1 < argc)
            jobs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: cut_matrix [--filter <path>] [--list] [--jobs N] [--case <path> <cut>]\n");
            return 2;
        }
    }
    std::vector<CutPath> paths;
    for (const CutPath& p : Paths())
        if (filter.empty() || p.name.find(filter) != std::string::npos) paths.push_back(p);
    const std::string scratch = (fs::temp_directory_path() / ("cut-matrix-" + std::to_string(getpid()))).string();
    fs::create_directories(scratch);
    const auto started = std::chrono::steady_clock::now();

    // The fault-free runs: each path's requests, and what each program leaves on each family.
    References refs;
    std::vector<Case> cases;
    int broken = 0;
    for (const CutPath& path : paths) {
        std::vector<Program> programs = {path.program};
        if (path.program != Program::Orlinde) programs.push_back(Program::Orlinde);
        for (Program program : programs) {
            const ChildEnd end = RunChild(
                [&] { return SerializeClean(RunClean(path, program, scratch, "clean")); }, 60, scratch + "/clean.err");
            const Clean clean = ParseClean(end.out);
            if (end.end != End::Result || !clean.outcome.success) {
                std::printf("%s | %s, no cut | the fault-free run did not update the camera: %s%s | FAIL\n",
                            path.name.c_str(), ProgramName(program), end.why.c_str(), clean.outcome.text.c_str());
                ++broken;
                continue;
            }
            refs[{program, path.name}] = clean.flash;
            if (program != path.program) continue;
            size_t tearable = 0;
            for (size_t n = 1; n <= clean.requestUs.size(); ++n) {
                cases.push_back({&path, std::to_string(n)});
                const uint64_t us = clean.requestUs[n - 1];
                if (us > 0) {
                    cases.push_back({&path, std::to_string(n) + ":" + std::to_string(us / 2)});
                    ++tearable;
                }
            }
            std::printf("%s | fault-free: %s | %zu requests, %zu of them cut halfway too\n", path.name.c_str(),
                        clean.outcome.text.c_str(), clean.requestUs.size(), tearable);
        }
    }
    if (!single.empty()) {
        for (const CutPath& path : paths) {
            if (path.name != filter) continue;
            const fs::path folder = MakeBench(path, single, scratch, "single");
            const CutResult cut = CutPhase(path, folder);
            const CaseResult r = RecoverPhase(path, folder, refs, cut.success);
            std::printf("%s | cut=%s | %s%s | cut: %s; %s\n", path.name.c_str(), single.c_str(),
                        cut.success ? "SUCCESS REPORTED, " : "", r.verdict.c_str(), OneLine(cut.text).c_str(),
                        OneLine(r.detail).c_str());
        }
        return 0;
    }
    if (list) {
        for (const Case& c : cases) std::printf("  %s cut=%s\n", c.path->name.c_str(), c.cut.c_str());
        return broken ? 1 : 0;
    }

    // Every cut, a few to a child (a fresh process costs more than a case); the camera's folder is
    // kept for the first case of each state the cuts leave, since the same state comes back the
    // same way.
    constexpr size_t kBatch = 8;
    std::vector<std::function<std::string()>> cutWork;
    for (size_t first = 0; first < cases.size(); first += kBatch) {
        const size_t end = std::min(cases.size(), first + kBatch);
        cutWork.push_back([&cases, &scratch, first, end] {
            std::string out;
            for (size_t i = first; i < end; ++i) {
                const fs::path folder = MakeBench(*cases[i].path, cases[i].cut, scratch, "case" + std::to_string(i));
                out += Serialize(CutPhase(*cases[i].path, folder));
            }
            return out;
        });
    }
    const std::vector<ChildEnd> batchEnds = RunAll(cutWork, jobs, 120, scratch, "cut");
    std::vector<ChildEnd> cutEnds(cases.size());
    for (size_t b = 0; b < batchEnds.size(); ++b) {
        std::istringstream in(batchEnds[b].out);
        for (size_t i = b * kBatch; i < std::min(cases.size(), (b + 1) * kBatch); ++i) {
            ChildEnd& e = cutEnds[i];
            std::string flags, text, state;
            e.end = batchEnds[b].end;
            e.why = batchEnds[b].why + " (in the child of cuts " + cases[b * kBatch].cut + " on)";
            if (e.end == End::Result &&
                !(std::getline(in, flags) && std::getline(in, text) && std::getline(in, state))) {
                e.end = End::Crash;
                e.why = "the child's results did not read back";
            }
            e.out = flags + "\n" + text + "\n" + state + "\n";
        }
    }
    std::vector<CutResult> cuts(cases.size());
    std::vector<std::string> problems(cases.size());
    std::map<std::pair<std::string, std::string>, size_t> firstOfState;  // (path, state) -> case
    std::vector<size_t> recoveredBy(cases.size(), SIZE_MAX);
    std::vector<size_t> distinct;
    for (size_t i = 0; i < cases.size(); ++i) {
        const fs::path folder = fs::path(scratch) / ("case" + std::to_string(i));
        if (cutEnds[i].end != End::Result) {
            problems[i] = cutEnds[i].end == End::Hang ? "HANG" : "CRASH: " + cutEnds[i].why;
        } else {
            cuts[i] = ParseCut(cutEnds[i].out);
            if (!cuts[i].cut) problems[i] = "NO CUT";
        }
        if (!problems[i].empty()) {
            fs::remove_all(folder);
            continue;
        }
        auto [it, fresh] = firstOfState.emplace(
            std::make_pair(cases[i].path->name, cuts[i].state + (cuts[i].success ? " S" : " F")), i);
        recoveredBy[i] = it->second;
        if (fresh)
            distinct.push_back(i);
        else
            fs::remove_all(folder);
    }

    // Each state the cuts left: returned and brought back.
    std::vector<std::function<std::string()>> recoverWork;
    for (size_t i : distinct) {
        const CutPath* path = cases[i].path;
        const fs::path folder = fs::path(scratch) / ("case" + std::to_string(i));
        const bool success = cuts[i].success;
        recoverWork.push_back([path, folder, &refs, success] {
            const std::string out = Serialize(RecoverPhase(*path, folder, refs, success));
            fs::remove_all(folder);
            return out;
        });
    }
    const std::vector<ChildEnd> recoverEnds = RunAll(recoverWork, jobs, 90, scratch, "recover");
    std::map<size_t, CaseResult> recovery;
    for (size_t k = 0; k < distinct.size(); ++k) {
        const ChildEnd& e = recoverEnds[k];
        recovery[distinct[k]] =
            e.end == End::Result ? Parse(e.out) : CaseResult{e.end == End::Hang ? "HANG" : "CRASH", e.why};
    }

    std::map<std::string, int> totals;
    std::map<std::string, std::map<std::string, int>> perPath;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        std::string klass, detail = "cut: " + OneLine(cuts[i].text);
        if (!problems[i].empty()) {
            klass = problems[i].substr(0, problems[i].find(':'));
            detail += problems[i].find(':') == std::string::npos ? "" : problems[i].substr(problems[i].find(':'));
        } else {
            const CaseResult& r = recovery[recoveredBy[i]];
            klass = r.verdict == "rerun"     ? "finished by the rerun"
                    : r.verdict == "orlinde" ? "recovered by Orlinde"
                    : r.verdict == "despite" ? "updated before the cut"
                    : r.verdict == "dead"    ? "DEAD"
                                             : r.verdict;
            detail += "; " + OneLine(r.detail);
            if (recoveredBy[i] != i) detail += " (as cut=" + cases[recoveredBy[i]].cut + ", which left the same camera)";
        }
        ++totals[klass];
        ++perPath[c.path->name][klass];
        std::printf("%s | cut=%s | %s | %s\n", c.path->name.c_str(), c.cut.c_str(), klass.c_str(), detail.c_str());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (const auto& [name, counts] : perPath) {
        std::printf("%s:", name.c_str());
        for (const auto& [klass, n] : counts) std::printf(" %d %s;", n, klass.c_str());
        std::printf("\n");
    }
    int bad = 0;
    std::printf("total: %zu cases", cases.size());
    for (const auto& [klass, n] : totals) {
        std::printf(", %d %s", n, klass.c_str());
        if (klass != "finished by the rerun" && klass != "recovered by Orlinde" && klass != "updated before the cut")
            bad += n;
    }
    std::printf("; %zu distinct cameras after the cuts; %zu paths (%d fault-free runs failed), %.0f s\n",
                distinct.size(), paths.size(), broken, seconds);
    std::error_code ignored;
    if (bad == 0) fs::remove_all(scratch, ignored);
    return bad == 0 && broken == 0 ? 0 : 1;
}
