// Debugger trace port: the line sink every program of the kit writes its step-by-step trace to.
// On Windows it is OutputDebugStringA; in native tests a recording sink.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

namespace kit {

class Trace {
public:
    virtual ~Trace() = default;
    // Hands one text to the debugger. Never blocks for long, never fails visibly; any thread.
    virtual void Write(const char* text) = 0;
};

// printf-style trace line, cut at 2,047 characters (the debugger sink's line limit).
void TraceF(Trace& trace, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// The same over an argument list, for callers with a printf-style interface of their own.
void VTraceF(Trace& trace, const char* fmt, va_list args);

// The trace line of a failed system call: "<what> failed: 0x<code> (<system text>)\n", the text's
// line ends dropped, and no brackets when the system has no text for the code.
std::string FailureLine(const char* what, uint32_t code, const std::string& systemText);

// The system's own text for an HRESULT or Win32 error code ("" natively or when it has none).
std::string SystemErrorText(uint32_t code);

// Traces a failed HRESULT as text where it happens; does nothing for a success code.
void TraceHresult(Trace& trace, const char* what, int32_t hr);
// The same for a Win32 error code (GetLastError); 0 is success.
void TraceWin32Error(Trace& trace, const char* what, uint32_t code);

// Keeps every line; used by tests and by programs that also copy the trace elsewhere.
class RecordingTrace final : public Trace {
public:
    void Write(const char* text) override { lines.emplace_back(text ? text : ""); }
    std::vector<std::string> lines;
};

// The process-wide trace of a real program (OutputDebugStringA on Windows, stderr natively).
Trace& SystemTrace();

}  // namespace kit
