#include "kit/trace.h"

#include <cstdio>

namespace kit {

void TraceF(Trace& trace, const char* fmt, ...) {
    char line[2048];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    trace.Write(line);
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
