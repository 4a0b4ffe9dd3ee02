// Runs the programs of one kit under wine for the end-to-end tests: the 32-bit kit (build/win32, what
// a packager ships) or its 64-bit twin (build/win64), named by KIT_E2E_KIT ("win32" when unset). The
// 32-bit kit runs in wine 10's WoW64 mode, in the tree that scripts/wow64.sh makes, started through
// that script (which makes and removes the tree's mounts around each run); the twin runs under the
// machine's wine64, or in the tree as well with KIT_E2E_WINE=tree.
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

// The kit under test: "win32" or "win64".
const std::string& KitName();
// Its build folder (kit/, emu/, testbin/).
fs::path KitDir();
fs::path KitProgram(const std::string& name);      // build/<kit>/kit/<name>
fs::path TestProgram(const std::string& name);     // build/<kit>/testbin/<name>

// The machine a PE file is built for: "i386", "x86-64", or what is wrong with the file.
std::string PeMachine(const fs::path& file);
// What every program and DLL of the kit under test must be ("i386" for win32, "x86-64" for win64).
const std::string& KitMachine();

// A clean folder for one test under the build tree.
fs::path FreshWorkDir(const std::string& name);

// Runs program (a Linux path to a .exe) with arguments under wine64.
RunResult RunWine(const fs::path& program, const std::vector<std::string>& args, const RunOptions& options);

// Runs a wine tool such as "reg" inside the prefix; returns its exit code. For the 32-bit kit, "reg"
// works on the registry view that 32-bit programs see (/reg:32).
int RunWineTool(const std::vector<std::string>& args);

// Runs the prefix's wine server with a flag ("-p" to start one that stays, "-k" to end it and
// every program in it, "-w" to wait for it to end); returns the exit code.
int RunWineServer(const std::string& flag, const fs::path& prefix);
// This process's prefix.
fs::path PrefixDir();

// Linux path -> the Windows path wine sees ("Z:\...").
std::string WindowsPath(const fs::path& path);

// What the C runtime writes to a redirected standard output in text mode: every "\n" becomes
// "\r\n" (so "\r\n" arrives as "\r\r\n").
std::string CrtText(const std::string& text);

// Registry-only DirectShow video-input devices, enumerated in name order.
void ClearRegisteredVideoDevices();
void RegisterVideoDevice(const std::string& name, const std::string& devicePath);

}  // namespace e2e
