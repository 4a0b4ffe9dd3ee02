#include "emu/vendor/vendor_faults.h"

#include <cctype>
#include <charconv>

namespace emu::vendor {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool Unsigned(std::string_view s, uint32_t& out) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    if (s.empty()) return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return ec == std::errc{} && ptr == s.data() + s.size();
}

// A result code: -N, N, or 0x-hex taken as the 32-bit pattern (0xFFFFFFFF is -1).
bool Code(std::string_view s, int32_t& out) {
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    uint32_t v = 0;
    if (!Unsigned(s, v)) return false;
    if (negative) {
        if (v > 0x80000000u) return false;
        out = static_cast<int32_t>(0u - v);
    } else {
        out = static_cast<int32_t>(v);
    }
    return true;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    while (true) {
        size_t at = s.find(sep);
        parts.push_back(Trim(s.substr(0, at)));
        if (at == std::string_view::npos) return parts;
        s.remove_prefix(at + 1);
    }
}

bool Calls(std::string_view s, EntryFault& f) {
    if (s == "*") {
        f.firstCall = 1;
        f.lastCall = UINT32_MAX;
        return true;
    }
    if (!s.empty() && s.back() == '+') {
        f.lastCall = UINT32_MAX;
        return Unsigned(s.substr(0, s.size() - 1), f.firstCall) && f.firstCall > 0;
    }
    size_t dash = s.find('-');
    if (dash != std::string_view::npos)
        return Unsigned(s.substr(0, dash), f.firstCall) && Unsigned(s.substr(dash + 1), f.lastCall) &&
               f.firstCall > 0 && f.lastCall >= f.firstCall;
    if (!Unsigned(s, f.firstCall) || f.firstCall == 0) return false;
    f.lastCall = f.firstCall;
    return true;
}

}  // namespace

std::vector<EntryName> EntriesOf(faultops::Device device) {
    std::vector<EntryName> out;
    for (const faultops::Operation* op : faultops::OperationsOf(device))
        out.push_back({op->name, op->directed, op->Takes(faultops::Kind::Unplug)});
    return out;
}

void CallVerdict::Corrupt(uint8_t* data, size_t n, size_t base) const {
    for (const EntryFault* f : corrupt)
        if (f->offset >= base && f->offset - base < n) data[f->offset - base] ^= f->mask;
}

bool ParseEntryFault(std::string_view text, const std::vector<EntryName>& entries, EntryFault& out,
                     std::string& error) {
    out = EntryFault{};
    if (std::string_view t = Trim(text); t.substr(0, 4) == "cut=") {
        std::vector<std::string_view> parts = Split(t.substr(4), ':');
        out.action = FaultAction::Cut;
        if (parts.size() > 2 || !Unsigned(parts[0], out.firstCall) || out.firstCall == 0 ||
            (parts.size() == 2 && !Unsigned(parts[1], out.bytes))) {
            error = "expected cut=<call from 1>[:<bytes>]";
            return false;
        }
        out.lastCall = out.firstCall;
        return true;
    }
    std::vector<std::string_view> parts = Split(Trim(text), ':');
    if (parts.size() < 3) {
        error = "expected <entry>:<calls>:<action>";
        return false;
    }
    std::string_view entry = parts[0];
    size_t at = entry.find('@');
    if (at != std::string_view::npos) {
        out.camera = std::string(Trim(entry.substr(at + 1)));
        entry = Trim(entry.substr(0, at));
        if (out.camera.empty()) {
            error = "no camera after '@'";
            return false;
        }
    }
    const EntryName* known = nullptr;
    for (const EntryName& e : entries)
        if (entry == e.name) known = &e;
    if (!known) {
        error = "unknown entry point '" + std::string(entry) + "'";
        return false;
    }
    out.entry = known->name;
    if (!Calls(parts[1], out)) {
        error = "bad call numbers '" + std::string(parts[1]) + "'";
        return false;
    }
    std::string_view action = parts[2];
    auto argument = [&](size_t i, uint32_t& value, uint32_t limit, const char* what) {
        if (parts.size() <= i) return true;
        if (!Unsigned(parts[i], value) || value > limit) {
            error = std::string("bad ") + what + " '" + std::string(parts[i]) + "'";
            return false;
        }
        return true;
    };
    if (action == "corrupt") {
        out.action = FaultAction::Corrupt;
        uint32_t mask = 0xFF;
        if (parts.size() > 5) {
            error = "corrupt takes a mask and an offset";
            return false;
        }
        if (!argument(3, mask, 0xFF, "mask") || !argument(4, out.offset, UINT32_MAX, "offset")) return false;
        if (mask == 0) {
            error = "a mask of 0 corrupts nothing";
            return false;
        }
        out.mask = static_cast<uint8_t>(mask);
    } else if (action == "unplug") {
        out.action = FaultAction::Unplug;
        if (parts.size() > 4) {
            error = "unplug takes one step count";
            return false;
        }
        if (!argument(3, out.steps, UINT32_MAX, "step count")) return false;
        if (!known->unpluggable) {
            error = std::string(known->name) + " cannot unplug a camera";
            return false;
        }
        if (!known->directed && out.camera.empty()) {
            error = std::string(known->name) + " concerns no camera: name one with @<camera> to unplug";
            return false;
        }
    } else {
        out.action = FaultAction::Return;
        if (parts.size() > 3 || !Code(action, out.code)) {
            error = "bad action '" + std::string(action) + "': a result, corrupt or unplug";
            return false;
        }
    }
    return true;
}

bool FaultTable::HasCut() const {
    for (const EntryFault& f : faults_)
        if (f.action == FaultAction::Cut) return true;
    return false;
}

void FaultTable::SpendCuts() {
    std::erase_if(faults_, [](const EntryFault& f) { return f.action == FaultAction::Cut; });
}

CallVerdict FaultTable::OnCall(std::initializer_list<std::string_view> entries, std::string_view camera,
                               bool directed, bool forCut) {
    CallVerdict v;
    bool decided = false;
    for (std::string_view e : entries) {
        auto it = counts_.find(e);
        if (it == counts_.end()) it = counts_.emplace(std::string(e), 0).first;
        ++it->second;
    }
    if (forCut) {
        cutCalls_.push_back({std::string(*entries.begin()), 0});
        for (const EntryFault& f : faults_)
            if (f.action == FaultAction::Cut && f.firstCall == cutCalls_.size()) {
                v.cut = true;
                v.cutBytes = f.bytes;
                return v;
            }
    }
    for (EntryFault& f : faults_) {
        if (f.action == FaultAction::Cut) continue;
        bool named = false;
        for (std::string_view e : entries) named = named || f.entry == e;
        if (!named || (directed && !f.camera.empty() && f.camera != camera)) continue;
        uint32_t call = ++f.calls;
        if (call < f.firstCall || call > f.lastCall) continue;
        switch (f.action) {
            case FaultAction::Corrupt:
                v.corrupt.push_back(&f);
                break;
            case FaultAction::Return:
                if (!decided) v.fail = true, v.code = f.code, decided = true;
                break;
            case FaultAction::Cut:
                break;
            case FaultAction::Unplug:
                if (!decided) {
                    v.unplug = true;
                    v.unplugCamera = f.camera;
                    v.unplugSteps = f.steps;
                    decided = true;
                }
                break;
        }
    }
    return v;
}

}  // namespace emu::vendor
