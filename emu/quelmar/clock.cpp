#include "emu/quelmar/clock.h"

#include <charconv>

namespace emu::quelmar {

void VirtualClock::Advance(uint64_t us) {
    nowUs_ += us;
    if (onAdvance && us) onAdvance(us);
}

void VirtualClock::Record(std::string_view kind, uint64_t bytes, uint64_t micros) {
    auto it = stats_.find(kind);
    if (it == stats_.end()) it = stats_.emplace(std::string(kind), OpStat{}).first;
    it->second.count += 1;
    it->second.bytes += bytes;
    it->second.micros += micros;
}

OpStat VirtualClock::Stat(std::string_view kind) const {
    auto it = stats_.find(kind);
    return it == stats_.end() ? OpStat{} : it->second;
}

std::string VirtualClock::Summary() const {
    std::string out = "time_us=" + std::to_string(nowUs_) + "\n";
    for (const auto& [kind, s] : stats_) {
        out += kind + ".count=" + std::to_string(s.count) + "\n";
        out += kind + ".bytes=" + std::to_string(s.bytes) + "\n";
        out += kind + ".us=" + std::to_string(s.micros) + "\n";
    }
    return out;
}

bool ParseSummary(std::string_view text, std::map<std::string, uint64_t>& out) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        size_t eq = line.find('=');
        if (eq == 0 || eq == std::string_view::npos) return false;
        uint64_t value = 0;
        std::string_view digits = line.substr(eq + 1);
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec != std::errc{} || ptr != digits.data() + digits.size() || digits.empty()) return false;
        out[std::string(line.substr(0, eq))] = value;
    }
    return true;
}

}  // namespace emu::quelmar
