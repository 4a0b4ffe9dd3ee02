// Win32-only: the trace, process, system and console ports over the real Windows calls, and the
// kit's one process starter.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>

#include "kit/process.h"
#include "kit/trace.h"
#include "platform/win32/process_win32.h"

namespace kit {
namespace {

class DebuggerTrace final : public Trace {
public:
    void Write(const char* text) override { OutputDebugStringA(text ? text : ""); }
};

class Win32Processes final : public ProcessPort {
public:
    bool Create(const char* application, char* commandLine, ProcessHandles& out,
                uint32_t& lastError) override {
        PROCESS_INFORMATION pi;
        DWORD error = 0;
        if (!StartProcess(application, commandLine, StartWindow::Default, pi, error)) {
            lastError = error;
            return false;
        }
        out.process = pi.hProcess;
        out.thread = pi.hThread;
        return true;
    }
    uint32_t WaitForInputIdle(const ProcessHandles& p, uint32_t milliseconds) override {
        return ::WaitForInputIdle(static_cast<HANDLE>(p.process), milliseconds);
    }
    bool GetExitCode(const ProcessHandles& p, uint32_t& code) override {
        DWORD c = 0;
        if (!GetExitCodeProcess(static_cast<HANDLE>(p.process), &c)) return false;
        code = c;
        return true;
    }
    bool WaitForExit(const ProcessHandles& p, uint32_t milliseconds) override {
        return WaitForSingleObject(static_cast<HANDLE>(p.process), milliseconds) == WAIT_OBJECT_0;
    }
    void Close(ProcessHandles& p) override {
        if (p.process) CloseHandle(static_cast<HANDLE>(p.process));
        if (p.thread) CloseHandle(static_cast<HANDLE>(p.thread));
        p = ProcessHandles{};
    }
};

class Win32System final : public SystemPort {
public:
    uint32_t ModuleFileName(char* out, uint32_t size) override {
        return GetModuleFileNameA(nullptr, out, size);
    }
    bool RemoveFileSpec(char* path) override { return PathRemoveFileSpecA(path) != FALSE; }
    bool ChangeDirectory(const char* path) override { return ::SetCurrentDirectoryA(path) != FALSE; }
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

class StdioConsole final : public ConsolePort {
public:
    void Write(const char* text) override {
        std::fputs(text, stdout);
        // A launcher's console shows progress dots while it waits: flush every write.
        std::fflush(stdout);
    }
    int ReadChar() override { return std::getchar(); }
};

}  // namespace

bool StartProcess(const char* application, char* commandLine, StartWindow window, PROCESS_INFORMATION& started,
                  DWORD& error) {
#if !defined(_WIN64)
    // The launchers ship as 32-bit programs: a 68-byte start-up record, a 16-byte process record.
    static_assert(sizeof(STARTUPINFOA) == 68 && sizeof(PROCESS_INFORMATION) == 16);
#endif
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    DWORD flags = 0;
    if (window == StartWindow::Hidden) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
        flags = CREATE_NO_WINDOW;
    }
    ZeroMemory(&started, sizeof started);
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si,
                        &started)) {
        error = GetLastError();
        return false;
    }
    return true;
}

std::string SystemErrorText(uint32_t code) {
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return std::string(text, n < sizeof text ? n : 0);
}

Trace& SystemTrace() {
    static DebuggerTrace trace;
    return trace;
}
ProcessPort& SystemProcesses() {
    static Win32Processes p;
    return p;
}
SystemPort& SystemServices() {
    static Win32System s;
    return s;
}
ConsolePort& SystemConsole() {
    static StdioConsole c;
    return c;
}

}  // namespace kit
