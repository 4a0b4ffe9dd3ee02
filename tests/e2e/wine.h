// Runs the win64 programs of the kit under wine64 for the end-to-end tests.
//
// One wine prefix per test process (under the native build folder, named after the process id),
// with a wineserver kept alive for the whole run and stopped at its end, so runs are fast and
// never share state with another test process.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;        // what a shell sees: the low byte of the Windows exit code
    bool timedOut = false;
    std::string out;          // standard output, byte for byte
    std::string err;          // standard error without wine's trace lines
    std::vector<std::string> trace;  // OutputDebugStringA texts, unescaped
    double seconds = 0;
};

struct RunOptions {
    fs::path workingDirectory;
    std::map<std::string, std::string> env;  // added to (or, with an empty value, removed from) ours
    std::string input;                       // fed to standard input, which then closes
    std::chrono::seconds timeout{60};
};

// Folder of the win64 build (kit/, emu/, testbin/).
fs::path Win64Dir();
fs::path KitProgram(const std::string& name);      // build/win64/kit/<name>
fs::path TestProgram(const std::string& name);     // build/win64/testbin/<name>

// A clean folder for one test under the build tree.
fs::path FreshWorkDir(const std::string& name);

// Runs program (a Linux path to a .exe) with arguments under wine64.
RunResult RunWine(const fs::path& program, const std::vector<std::string>& args, const RunOptions& options);

// Runs a wine tool such as "reg" inside the prefix; returns its exit code.
int RunWineTool(const std::vector<std::string>& args);

// Linux path -> the Windows path wine sees ("Z:\...").
std::string WindowsPath(const fs::path& path);

// What the C runtime writes to a redirected standard output in text mode: every "\n" becomes
// "\r\n" (so "\r\n" arrives as "\r\r\n").
std::string CrtText(const std::string& text);

// Registry-only DirectShow video-input devices, enumerated in name order.
void ClearRegisteredVideoDevices();
void RegisterVideoDevice(const std::string& name, const std::string& devicePath);

}  // namespace e2e
