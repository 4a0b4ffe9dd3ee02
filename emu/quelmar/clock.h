// Virtual time and transfer counters of an emulated camera.
//
// Nothing here sleeps. Every modelled cost moves the clock forward by a fixed amount, so that a
// flashing run measures the same on every machine and a benchmark can compare flows exactly.
// The counters are kept per operation kind ("xu.write", "flash.sector_erase", ...), each with a
// call count, a byte count and the modelled microseconds it accounted for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace emu::quelmar {

// Modelled costs. A control request is a USB transfer of about a millisecond plus its payload;
// flash figures are typical datasheet values for small NOR parts.
namespace cost {
inline constexpr uint64_t kXuRequestUs = 1000;
inline constexpr uint64_t kXuByteUs = 1;
inline constexpr uint64_t kPageProgramUsPer256 = 1400;
inline constexpr uint64_t kSectorEraseUs = 60000;    // 4 KiB
inline constexpr uint64_t kBlock32EraseUs = 500000;  // 32 KiB block of the parts that have one
inline constexpr uint64_t kBlockEraseUs = 1000000;   // 64 KiB
inline constexpr uint64_t kChipEraseUs = 1000000;
inline constexpr uint64_t kStatusWriteUs = 5000;  // non-volatile status register cycle
// A length query carries the two bytes of its answer.
inline constexpr uint32_t kLengthReplyBytes = 2;

// Programming time is proportional to the bytes programmed, rounded up to a microsecond.
inline constexpr uint64_t ProgramUs(uint64_t bytes) { return (bytes * kPageProgramUsPer256 + 255) / 256; }
inline constexpr uint64_t XuRequestUs(uint64_t payload) { return kXuRequestUs + payload * kXuByteUs; }
}  // namespace cost

struct OpStat {
    uint64_t count = 0;
    uint64_t bytes = 0;
    uint64_t micros = 0;
};

class VirtualClock {
public:
    uint64_t NowUs() const { return nowUs_; }
    void Advance(uint64_t us);
    void AdvanceTo(uint64_t us) {
        if (us > nowUs_) Advance(us - nowUs_);
    }

    // Counts one operation without moving the clock: used for work whose time the host sees
    // through polling (a flash erase) rather than as a blocked request.
    void Record(std::string_view kind, uint64_t bytes, uint64_t micros);
    // Counts one operation and moves the clock by its cost.
    void Charge(std::string_view kind, uint64_t bytes, uint64_t micros) {
        Record(kind, bytes, micros);
        Advance(micros);
    }

    OpStat Stat(std::string_view kind) const;
    const std::map<std::string, OpStat, std::less<>>& Stats() const { return stats_; }
    void ResetCounters() { stats_.clear(); }

    // "time_us=<n>" followed by "<kind>.count=", ".bytes=", ".us=" per kind, sorted, '\n' ends.
    std::string Summary() const;

    // Called with every advance; a bench that wants wall-clock pacing can sleep here.
    std::function<void(uint64_t us)> onAdvance;

private:
    uint64_t nowUs_ = 0;
    std::map<std::string, OpStat, std::less<>> stats_;
};

// Reads a summary back ("key=value" lines; blank lines ignored). False on a malformed line.
bool ParseSummary(std::string_view text, std::map<std::string, uint64_t>& out);

}  // namespace emu::quelmar
