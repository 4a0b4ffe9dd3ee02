// The fault matrix: every path of the kit that talks to a device is run once without faults, which
// tells which bench operations it performs and how often; then once per operation, call number
// and fault kind with that one fault on the bench. Each run happens in a child process with a
// time bound, so that a crash shows as a crash and a hang as a hang.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "child.h"
#include "emu/fault_ops.h"

namespace fm {

using emu::faultops::Device;
using emu::faultops::Kind;

// The one fault of a case: a value for the device's fault key (emu::faultops::FaultLine); empty
// for the fault-free run.
struct Injection {
    Device device = Device::QuelmarChip;
    std::string line;
};

// An operation a path performed: calls number first+1 .. first+calls of the bench's count (calls
// before the path's own phase, such as opening the camera, belong to another path).
struct Site {
    Device device = Device::QuelmarChip;
    std::string op;
    int32_t target = -1;
    uint32_t first = 0;
    uint32_t calls = 0;
};

struct Outcome {
    Outcome() = default;
    Outcome(bool s, std::string t, std::string st = {}) : success(s), text(std::move(t)), state(std::move(st)) {}
    bool success = false;
    std::string text;   // what the path reported, short: exit code, result, status, message
    std::string state;  // what the devices hold afterwards (a digest); empty: the text says it all
};

// A digest of bytes, for Outcome::state.
inline std::string Digest(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

struct RunResult {
    Outcome outcome;
    std::vector<Site> sites;
};

// A fault after which the path is meant to carry on and succeed, with the reason.
struct Recovery {
    Device device;
    std::string op;      // "" any op of the device
    int32_t target = -2;  // -2 any target
    unsigned kinds = 7;   // Kind bits
    std::string reason;
    // Further condition on the call number within the path's calls of that op (1-based) and the
    // site; empty: every call.
    std::function<bool(uint32_t call, const Site& site)> when;
    // The fault makes a different bench (a camera gone before the path saw it), so the devices
    // rightly end otherwise than in the fault-free run.
    bool otherBench = false;
};

struct Path {
    std::string name;
    std::string expected;  // the expected failure, as the case lines show it
    int boundSeconds = 20;
    std::string camera = "cam0";  // the camera an unplug of a call that names none takes away
    std::function<RunResult(const Injection&)> run;
    // Whether a failing outcome is the expected failure.
    std::function<bool(const Outcome&)> knownFailure;
    std::vector<Recovery> recoveries;
};

std::vector<Path> CamlibPaths();
std::vector<Path> TessawPaths();
std::vector<Path> OrlindePaths();
std::vector<Path> StillPaths();

// Whole runs of the programs over the bench whose platform is installed (a camlib::testing
// BenchRig), for the cut matrix. Tessaw: a silent session with FW_B5A4_01.bin (and dev.vrk, unless
// empty) in its folder. Orlinde: start-up, FLASH and the download with bin\fw.bin and `pidIni`.
Outcome TessawQuelmarSilently(const std::string& benchFolder, const std::string& image, const std::string& devVrk);
Outcome OrlindeQuelmarDownload(const std::string& pidIni, const std::string& image);

// Sites from two snapshots of a device's counts (before and after the path's phase).
template <class Map, class Key>
void AddSites(std::vector<Site>& out, Device device, const Map& before, const Map& after, Key key) {
    for (const auto& [k, n] : after) {
        auto it = before.find(k);
        const uint32_t was = it == before.end() ? 0 : it->second;
        if (n > was) {
            Site s = key(k);
            s.device = device;
            s.first = was;
            s.calls = n - was;
            out.push_back(s);
        }
    }
}

// A vendor library's or the still graph's calls between two snapshots of its counts.
template <class Map>
std::vector<Site> EntrySites(Device device, const Map& before, const Map& after) {
    std::vector<Site> sites;
    AddSites(sites, device, before, after, [](const std::string& name) {
        Site s;
        s.op = name;
        return s;
    });
    return sites;
}

// The calls a vendor library's power cut counts (emu/vendor/vendor_faults.h), as sites the matrix
// turns into cut cases: one per call, op "cut:<entry>", `first` the call's index from 0 and
// `target` its bytes of memory work.
template <class CutCalls>
void AddCutSites(std::vector<Site>& out, Device device, const CutCalls& calls) {
    for (size_t i = 0; i < calls.size(); ++i) {
        Site s;
        s.device = device;
        s.op = "cut:" + calls[i].entry;
        s.target = static_cast<int32_t>(calls[i].work);
        s.first = static_cast<uint32_t>(i);
        s.calls = 1;
        out.push_back(s);
    }
}

// ReqToDriver counts every call that ReqToDriver.read and ReqToDriver.write count apart: its
// faults would hit the same calls again.
inline void DropWiderEntries(std::vector<Site>& sites) {
    std::erase_if(sites, [](const Site& s) { return s.device == Device::BurnerAp && s.op == "ReqToDriver"; });
}


}  // namespace fm
