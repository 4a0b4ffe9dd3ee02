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

std::string FailureLine(const char* what, uint32_t code, const std::string& systemText) {
    std::string text = systemText;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    char head[64];
    std::snprintf(head, sizeof head, " failed: 0x%08X", static_cast<unsigned>(code));
    std::string line = std::string(what ? what : "call") + head;
    if (!text.empty()) line += " (" + text + ")";
    return line + "\n";
}

void TraceHresult(Trace& trace, const char* what, int32_t hr) {
    if (hr >= 0) return;
    const uint32_t code = static_cast<uint32_t>(hr);
    trace.Write(FailureLine(what, code, SystemErrorText(code)).c_str());
}

void TraceWin32Error(Trace& trace, const char* what, uint32_t code) {
    if (code != 0) trace.Write(FailureLine(what, code, SystemErrorText(code)).c_str());
}

#if !defined(_WIN32)
std::string SystemErrorText(uint32_t) { return {}; }

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
