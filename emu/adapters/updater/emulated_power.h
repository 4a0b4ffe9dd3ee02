// The updater's power port on an emulated bench, so that a run on a bench never depends on the
// battery of the machine it runs on, and a test can put the "computer" on battery.
//
// bench.ini keys:
//   [bench] power=mains            mains | battery | unknown (no battery, as on a desktop); absent:
//                                  mains, and the bench's notice says nothing about power
//           battery_percent=4      the charge while on battery, 0..100; absent: a charge the
//                                  system does not know
#pragma once

#include <string>

#include "emu/bench.h"
#include "kit/trace.h"
#include "updater/core/ports.h"

namespace tessaw::bench {

// The bench's power state. false, with the reason, when a key holds something else than the above
// (`out` is then Unknown).
bool PowerFromBench(const emu::Bench& bench, kit::PowerStatus& out, std::string& error);

// What the bench's notice adds when bench.ini sets `power`: ", power on battery at 4 %"; empty
// when it does not.
std::string PowerNotice(const emu::Bench& bench);

// Reads bench.ini at every call: a test may change the power state between runs.
class BenchPower final : public kit::PowerPort {
public:
    BenchPower(std::string folder, kit::Trace& trace) : folder_(std::move(folder)), trace_(trace) {}
    kit::PowerStatus Read() override;

private:
    std::string folder_;
    kit::Trace& trace_;
};

}  // namespace tessaw::bench
