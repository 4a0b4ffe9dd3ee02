// Process and console ports used by the launchers.
//
// A started process is an opaque pair of handles owned by the caller until Close. Every call is
// synchronous and runs on the caller's thread; none throws.
#pragma once

#include <cstdint>
#include <string>

namespace kit {

struct ProcessHandles {
    void* process = nullptr;
    void* thread = nullptr;
};

inline constexpr uint32_t kStillActive = 259;  // exit code reported while a process runs
inline constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

class ProcessPort {
public:
    virtual ~ProcessPort() = default;
    // CreateProcessA with the given application name (nullptr: taken from the command line),
    // a writable command line, no inheritance, creation flags 0, the parent's environment and
    // current directory. On failure returns false and sets lastError (e.g. 2: file not found).
    virtual bool Create(const char* application, char* commandLine, ProcessHandles& out,
                        uint32_t& lastError) = 0;
    // WaitForInputIdle; returns its raw result (0, WAIT_TIMEOUT or 0xFFFFFFFF).
    virtual uint32_t WaitForInputIdle(const ProcessHandles& p, uint32_t milliseconds) = 0;
    // GetExitCodeProcess; kStillActive while the process runs. false when the read failed.
    virtual bool GetExitCode(const ProcessHandles& p, uint32_t& code) = 0;
    // Waits for the process to end, at most `milliseconds` (kWaitInfinite: no limit).
    // Returns true when it ended.
    virtual bool WaitForExit(const ProcessHandles& p, uint32_t milliseconds) = 0;
    virtual void Close(ProcessHandles& p) = 0;
};

class SystemPort {
public:
    virtual ~SystemPort() = default;
    // GetModuleFileNameA(NULL, ...): characters written; `size` when the path filled the buffer.
    virtual uint32_t ModuleFileName(char* out, uint32_t size) = 0;
    // PathRemoveFileSpecA.
    virtual bool RemoveFileSpec(char* path) = 0;
    // SetCurrentDirectoryA. (Not named after it: windows.h would rename the method.)
    virtual bool ChangeDirectory(const char* path) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

class ConsolePort {
public:
    virtual ~ConsolePort() = default;
    // Writes the text to standard output as formatted printing would (text mode on Windows).
    virtual void Write(const char* text) = 0;
    // Reads one character from standard input; -1 at its end.
    virtual int ReadChar() = 0;
};

// The ports of the running platform (Win32 on Windows). Not available in the native build,
// which only runs the cores with test doubles.
ProcessPort& SystemProcesses();
SystemPort& SystemServices();
ConsolePort& SystemConsole();

}  // namespace kit
