// Power port: whether the computer runs on mains or on its battery, and the battery's charge.
//
// Read is cheap, never blocks, is safe on any thread and never throws. A state the system cannot
// tell (no battery, as on a desktop, or a failed query) is Unknown, never a guess.
#pragma once

namespace kit {

enum class PowerSource { Mains, Battery, Unknown };

struct PowerStatus {
    PowerSource source = PowerSource::Unknown;
    int percent = -1;  // the battery's charge 0..100; -1 when the system does not know it
};

class PowerPort {
public:
    virtual ~PowerPort() = default;
    virtual PowerStatus Read() = 0;
};

}  // namespace kit
