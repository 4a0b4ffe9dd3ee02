// What a Quelmar chip of the bench was asked, as matrix sites.
#pragma once

#include "camlib/testing/bench_rig.h"
#include "emu/quelmar/quelmar_chip.h"
#include "matrix.h"

namespace fm {

using ChipCounts = std::map<emu::quelmar::QuelmarChip::CallKey, uint32_t>;

// The chip's requests between two snapshots. Register data requests are taken per register (their
// extension-unit rows would hit the same requests again, only counted differently).
inline void AddChipSites(std::vector<Site>& out, const ChipCounts& before, const ChipCounts& after) {
    namespace xu = emu::quelmar::xu;
    using emu::quelmar::FaultOp;
    ChipCounts kept;
    for (const auto& [key, n] : after) {
        const bool regData = (key.first == FaultOp::XuRead || key.first == FaultOp::XuWrite) &&
                             (key.second == xu::kRegData || key.second == xu::kReg16Data);
        if (!regData) kept[key] = n;
    }
    AddSites(out, Device::QuelmarChip, before, kept, [](const emu::quelmar::QuelmarChip::CallKey& k) {
        Site s;
        s.op = emu::quelmar::OperationOf(k.first)->name;
        s.target = k.second;
        return s;
    });
}

// A bench of one Quelmar camera with these keys and the case's fault.
inline std::string FaultedQuelmarBench(camlib::testing::Keys keys, const Injection& injection) {
    if (!injection.line.empty()) keys.push_back({"fault1", injection.line});
    return camlib::testing::QuelmarBench(keys);
}

// What the camera-access library is meant to ride out on any path: a length query left
// unanswered (the length it knows is used), and the bypass port's busy flag, which is read again
// until it says ready.
inline std::vector<Recovery> QuelmarRecoveries() {
    const unsigned fail = static_cast<unsigned>(Kind::Fail), corrupt = static_cast<unsigned>(Kind::Corrupt);
    return {{Device::QuelmarChip, "xu_length", -2, fail,
             "an unanswered length query does not stop the library: it uses the length it knows", nullptr},
            {Device::QuelmarChip, "reg_read", 0x2021, fail | corrupt,
             "the bypass port's busy flag is polled until it reads ready", nullptr}};
}

}  // namespace fm
