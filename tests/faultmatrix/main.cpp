// fault_matrix [--filter <substring of a path name>] [--list] [--jobs N] [--fault <device> <line>]
// (--fault runs one case of each path the filter leaves in this process and says how it ended)
//
// Prints one line per case and a total; exits 0 only when every case ended in the expected
// failure or in a recovery the path is meant to make.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "matrix.h"

namespace fm {

namespace {

namespace faultops = emu::faultops;

std::string Serialize(const RunResult& r) {
    std::ostringstream out;
    out << (r.outcome.success ? 'S' : 'F') << OneLine(r.outcome.text) << '\n';
    out << OneLine(r.outcome.state.empty() ? r.outcome.text : r.outcome.state) << '\n';
    for (const Site& s : r.sites)
        out << "site " << static_cast<int>(s.device) << ' ' << s.op << ' ' << s.target << ' ' << s.first << ' '
            << s.calls << '\n';
    return out.str();
}

bool Deserialize(const std::string& text, RunResult& r) {
    std::istringstream in(text);
    std::string first;
    if (!std::getline(in, first) || first.empty() || (first[0] != 'S' && first[0] != 'F')) return false;
    r.outcome.success = first[0] == 'S';
    r.outcome.text = first.substr(1);
    if (!std::getline(in, r.outcome.state)) return false;
    std::string word;
    while (in >> word) {
        if (word != "site") return false;
        Site s;
        int device = 0;
        in >> device >> s.op >> s.target >> s.first >> s.calls;
        s.device = static_cast<Device>(device);
        r.sites.push_back(s);
    }
    return true;
}

struct Ended {
    End end = End::Crash;
    RunResult result;
    std::string why;  // crash: signal or exit status and the sanitizer's summary
};

Child Start(const Path& path, const Injection& injection, const std::string& stderrFile) {
    return StartChild([&path, injection] { return Serialize(path.run(injection)); }, path.boundSeconds, stderrFile);
}

// True when the child has ended; a result that does not read back is a crash.
bool Poll(Child& c, Ended& e) {
    ChildEnd raw;
    if (!PollChild(c, raw)) return false;
    e.end = raw.end;
    e.why = raw.why;
    if (raw.end == End::Result && !Deserialize(raw.out, e.result)) {
        e.end = End::Crash;
        e.why = "the case's result did not read back";
    }
    return true;
}

Ended RunOne(const Path& path, const Injection& injection, const std::string& stderrFile) {
    Child c = Start(path, injection, stderrFile);
    Ended e;
    while (!Poll(c, e)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return e;
}

struct Case {
    const Path* path = nullptr;
    std::string cleanState;  // what the fault-free run left in the devices
    Site site;
    uint32_t call = 0;  // the bench's call number
    Kind kind = Kind::Fail;
    Injection injection;
};

std::string SiteName(const Site& s) {
    std::string name = std::string(faultops::DeviceName(s.device)) + "." + s.op;
    if (s.target >= 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, s.op.rfind("reg_", 0) == 0 ? ":0x%04X" : ":%d", static_cast<int>(s.target));
        name += buf;
    }
    return name;
}

const Recovery* RecoveryFor(const Case& c) {
    for (const Recovery& r : c.path->recoveries) {
        if (r.device != c.site.device || (!r.op.empty() && r.op != c.site.op)) continue;
        if (r.target != -2 && r.target != c.site.target) continue;
        if ((r.kinds & static_cast<unsigned>(c.kind)) == 0) continue;
        if (r.when && !r.when(c.call - c.site.first, c.site)) continue;
        return &r;
    }
    return nullptr;
}

struct Totals {
    int cases = 0, expected = 0, recovered = 0, unnoticed = 0, falseSuccess = 0, unexpected = 0, crash = 0,
        hang = 0;
};

void Judge(const Case& c, const Ended& e, Totals& t) {
    std::string actual, verdict;
    if (e.end == End::Hang) {
        ++t.hang;
        actual = "hang (" + std::to_string(c.path->boundSeconds) + " s)";
        verdict = "HANG";
    } else if (e.end == End::Crash) {
        ++t.crash;
        actual = e.why;
        verdict = "CRASH";
    } else if (e.result.outcome.success) {
        actual = "success: " + e.result.outcome.text;
        const Recovery* recovery = RecoveryFor(c);
        if (e.result.outcome.state != c.cleanState && recovery && recovery->otherBench) {
            ++t.recovered;
            verdict = "ok, recovered: " + recovery->reason;
        } else if (e.result.outcome.state != c.cleanState) {
            ++t.falseSuccess;
            verdict = "FALSE SUCCESS: the devices do not hold what the fault-free run left";
        } else if (recovery) {
            ++t.recovered;
            verdict = "ok, recovered: " + recovery->reason;
        } else {
            // The devices ended as without the fault, but the path never noticed the device's
            // error: not a recovery it is meant to make, and not a lie about the devices either.
            ++t.unnoticed;
            verdict = "unnoticed: the error went unseen, the devices ended right";
        }
    } else {
        actual = "failure: " + e.result.outcome.text;
        if (c.path->knownFailure(e.result.outcome)) {
            ++t.expected;
            verdict = "ok";
        } else {
            ++t.unexpected;
            verdict = "UNEXPECTED FAILURE";
        }
    }
    ++t.cases;
    std::printf("%s | %s | call %u | %s | expected: %s | %s | %s\n", c.path->name.c_str(), SiteName(c.site).c_str(),
                c.call - c.site.first, c.kind == Kind::Cut ? c.injection.line.c_str() : faultops::KindName(c.kind),
                c.path->expected.c_str(), OneLine(actual).c_str(), verdict.c_str());
}

// The cases of a path from its fault-free run: every operation it performed, at its first and last
// call, with each kind of fault that applies.
std::vector<Case> CasesOf(const Path& path, const RunResult& clean) {
    std::vector<Case> cases;
    for (const Site& site : clean.sites) {
        if (site.op.rfind("cut:", 0) == 0) {
            // A power cut at the call, and inside it where it works on the memory: after its
            // first byte, half of it, all but its last byte.
            Site named = site;
            named.op = site.op.substr(4);
            named.target = -1;
            named.first = 0;
            const uint32_t work = static_cast<uint32_t>(std::max(site.target, 0));
            std::vector<uint32_t> at = {0};
            for (uint32_t b : {1u, work / 2, work - 1})
                if (work > 1 && b > 0 && b < work && std::find(at.begin(), at.end(), b) == at.end()) at.push_back(b);
            for (uint32_t b : at)
                cases.push_back({&path, clean.outcome.state, named, site.first + 1, Kind::Cut,
                                 {site.device, faultops::CutLine(site.first + 1, b)}});
            continue;
        }
        const faultops::Operation* op = faultops::Find(site.device, site.op);
        if (!op) {
            std::printf("%s | %s | the bench counted an operation its table lacks | FAIL\n", path.name.c_str(),
                        site.op.c_str());
            continue;
        }
        std::vector<uint32_t> calls = {site.first + 1};
        if (site.calls > 1) calls.push_back(site.first + site.calls);
        for (Kind kind : {Kind::Fail, Kind::Corrupt, Kind::Unplug}) {
            for (uint32_t call : calls) {
                const std::string line = faultops::FaultLine(*op, kind, call, site.target, path.camera);
                if (line.empty()) continue;
                cases.push_back({&path, clean.outcome.state, site, call, kind, {site.device, line}});
            }
        }
    }
    return cases;
}

}  // namespace
}  // namespace fm

int main(int argc, char** argv) {
    using namespace fm;
    std::string filter;
    bool list = false;
    int jobs = 2;
    std::optional<Injection> single;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--filter" && i + 1 < argc)
            filter = argv[++i];
        else if (a == "--list")
            list = true;
        else if (a == "--fault" && i + 2 < argc) {
            // One case in this process: the device's name and the fault line; says what came of it.
            const std::string device = argv[++i];
            Injection injection;
            for (Device d : {Device::QuelmarChip, Device::RvcLib, Device::BurnerAp, Device::StillGraph})
                if (device == emu::faultops::DeviceName(d)) injection.device = d;
            injection.line = argv[++i];
            single = injection;
        } else if (a == "--jobs" && i + 1 < argc)
            jobs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: fault_matrix [--filter <path>] [--list] [--jobs N] [--fault <device> <line>]\n");
            return 2;
        }
    }
    std::vector<Path> paths;
    for (auto group : {CamlibPaths, TessawPaths, OrlindePaths, StillPaths})
        for (Path& p : group())
            if (filter.empty() || p.name.find(filter) != std::string::npos) paths.push_back(std::move(p));

    if (single) {
        for (const Path& path : paths) {
            const RunResult r = path.run(*single);
            std::printf("%s: %s: %s\n", path.name.c_str(), r.outcome.success ? "success" : "failure",
                        r.outcome.text.c_str());
        }
        return 0;
    }
    const std::string scratch =
        (std::filesystem::temp_directory_path() / ("fault-matrix-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(scratch);
    const auto started = std::chrono::steady_clock::now();

    Totals totals;
    int baselineFailures = 0;
    std::vector<Case> cases;
    for (const Path& path : paths) {
        const Ended clean = RunOne(path, Injection{}, scratch + "/clean.err");
        if (clean.end != End::Result || !clean.result.outcome.success) {
            std::printf("%s | no fault | the fault-free run did not succeed: %s%s | FAIL\n", path.name.c_str(),
                        clean.why.c_str(), OneLine(clean.result.outcome.text).c_str());
            ++baselineFailures;
            continue;
        }
        std::vector<Case> mine = CasesOf(path, clean.result);
        std::printf("%s | fault-free: %s | %zu operations, %zu cases\n", path.name.c_str(),
                    clean.result.outcome.text.c_str(), clean.result.sites.size(), mine.size());
        if (list)
            for (const Case& c : mine) std::printf("  %s\n", c.injection.line.c_str());
        cases.insert(cases.end(), mine.begin(), mine.end());
    }
    if (list) return baselineFailures ? 1 : 0;

    // Up to `jobs` children at once; lines are printed in case order.
    std::vector<std::function<std::string()>> work;
    int bound = 1;
    for (const Case& c : cases) {
        bound = std::max(bound, c.path->boundSeconds);
        const Path* path = c.path;
        const Injection injection = c.injection;
        work.push_back([path, injection] { return Serialize(path->run(injection)); });
    }
    RunAll(work, jobs, bound, scratch, "case", [&](size_t i, const ChildEnd& raw) {
        Ended e;
        e.end = raw.end;
        e.why = raw.why;
        if (raw.end == End::Result && !Deserialize(raw.out, e.result)) {
            e.end = End::Crash;
            e.why = "the case's result did not read back";
        }
        Judge(cases[i], e, totals);
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "total: %d cases, %d expected failure, %d recovered as meant, %d unnoticed (devices right), %d false "
        "success, %d unexpected failure, %d crash, %d hang; %zu paths (%d whose fault-free run failed), %.0f s\n",
        totals.cases, totals.expected, totals.recovered, totals.unnoticed, totals.falseSuccess, totals.unexpected,
        totals.crash, totals.hang, paths.size(), baselineFailures, seconds);
    std::error_code ignored;
    if (totals.crash == 0) std::filesystem::remove_all(scratch, ignored);
    const bool green = baselineFailures == 0 && totals.falseSuccess == 0 && totals.unexpected == 0 &&
                       totals.crash == 0 && totals.hang == 0;
    return green ? 0 : 1;
}
