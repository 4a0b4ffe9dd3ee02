// Clock port: the processor clock and the local time, for the time stamps of logs.
//
// Both calls are cheap, never block, are safe on any thread and never throw. Waiting is the
// SystemPort's Sleep, so that a test can drive both from one virtual clock.
#pragma once

#include <cstdint>

namespace kit {

struct LocalTime {
    int year = 1970;  // e.g. 2024
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int hour = 0;     // 0..23
    int minute = 0;   // 0..59
    int second = 0;   // 0..59
    int weekday = 4;  // 0 = Sunday .. 6 = Saturday
};

class ClockPort {
public:
    virtual ~ClockPort() = default;
    // Milliseconds of processor clock since the process started (the C runtime's clock() on
    // Windows, where CLOCKS_PER_SEC is 1000). Wraps around after about 49 days.
    virtual uint32_t ProcessMilliseconds() = 0;
    // The local date and time now.
    virtual LocalTime Now() = 0;
};

}  // namespace kit
