#include "kit/trace.h"

#include <cstdio>

namespace kit {

void VTraceF(Trace& trace, const char* fmt, va_list args) {
    char line[2048];
    std::vsnprintf(line, sizeof line, fmt, args);
    trace.Write(line);
}

void TraceF(Trace& trace, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    VTraceF(trace, fmt, args);
    va_end(args);
}

#if !defined(_WIN32)
namespace {
class StderrTrace final : public Trace {
public:
    void Write(const char* text) override { std::fputs(text ? text : "", stderr); }
};
}  // namespace

Trace& SystemTrace() {
    static StderrTrace trace;
    return trace;
}
#endif

}  // namespace kit
