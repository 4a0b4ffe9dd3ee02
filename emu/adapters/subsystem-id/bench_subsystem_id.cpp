#include "bench_subsystem_id.h"

#include <algorithm>
#include <cctype>

#include "kit/text.h"

namespace subsysid {

bool BenchSubsystemId(const emu::Bench& bench, std::string& id, std::string& error) {
    const std::string value = kit::Trim(bench.Get("bench", "subsystem_id", "0000"));
    if (kit::Lower(value) == "none") {
        id.clear();
        return true;
    }
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (value.size() != 4 || !std::all_of(value.begin(), value.end(), hex)) {
        error = "[bench] subsystem_id must be four hexadecimal digits or none, not \"" + value + "\"";
        return false;
    }
    id = kit::Upper(value);
    return true;
}

}  // namespace subsysid
