#include "emulated_power.h"

#include <cstdlib>

#include "kit/text.h"

namespace tessaw::bench {

bool PowerFromBench(const emu::Bench& bench, kit::PowerStatus& out, std::string& error) {
    out = {};
    std::string source = kit::Lower(bench.Get("bench", "power"));
    if (source.empty()) source = "mains";
    const std::string percent = bench.Get("bench", "battery_percent");
    if (source == "mains") {
        out.source = kit::PowerSource::Mains;
    } else if (source == "battery") {
        out.source = kit::PowerSource::Battery;
    } else if (source != "unknown") {
        error = "power=" + source + " is not mains, battery or unknown";
        return false;
    }
    if (out.source == kit::PowerSource::Battery && !percent.empty()) {
        char* end = nullptr;
        const long value = std::strtol(percent.c_str(), &end, 10);
        if (*end != '\0' || value < 0 || value > 100) {
            out = {};
            error = "battery_percent=" + percent + " is not a charge of 0 to 100";
            return false;
        }
        out.percent = static_cast<int>(value);
    }
    return true;
}

std::string PowerNotice(const emu::Bench& bench) {
    if (bench.Get("bench", "power").empty()) return {};
    kit::PowerStatus status;
    std::string error;
    if (!PowerFromBench(bench, status, error)) return ", power unknown (" + error + ")";
    switch (status.source) {
        case kit::PowerSource::Mains:
            return ", power on mains";
        case kit::PowerSource::Battery:
            return status.percent < 0 ? ", power on battery, charge unknown"
                                      : ", power on battery at " + std::to_string(status.percent) + " %";
        case kit::PowerSource::Unknown:
            break;
    }
    return ", power unknown";
}

kit::PowerStatus BenchPower::Read() {
    emu::Bench bench;
    std::string error;
    kit::PowerStatus status;
    if (!emu::LoadBench(folder_, bench, error) || !PowerFromBench(bench, status, error)) {
        kit::TraceF(trace_, "emulated bench: power state unknown: %s\n", error.c_str());
        return kit::PowerStatus{};
    }
    return status;
}

}  // namespace tessaw::bench
