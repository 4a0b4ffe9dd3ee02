// What a Quelmar chip of the bench was asked, as matrix sites.
#pragma once

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

}  // namespace fm
