// Win32-only: what the GUI helpers of the end-to-end tests share to drive a dialog of another
// process as a user would: finding it by caption, reading and working its controls by ID, waiting
// with a limit, its message boxes, the screen's pixels, and the steps every helper offers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gui {

struct Options {
    int buttonId = 0;              // a control the program's dialog has: tells it from others
    DWORD waitMs = 20000;          // every wait gives up after this long
    bool escapeBackslash = false;  // Escape writes "\" as "\\"
};

// The helper's arguments, consumed step by step.
class Args {
public:
    // Standard output is unbuffered from here on: a helper stopped from outside still shows how far
    // it came.
    Args(int argc, char** argv);
    bool More() const { return at_ < args_.size(); }
    // The next step; its start is written to standard error with the time since the helper began.
    std::string Step();
    // The next argument of `step`; stops with exit code 3 when there is none.
    std::string Next(const std::string& step);
    int Number(const std::string& step);

private:
    std::vector<std::string> args_;
    size_t at_ = 0;
    ULONGLONG start_ = 0;
};

// Prints `why` and ends the helper with `code`.
[[noreturn]] void Stop(int code, const std::string& why);
std::string Unescape(const std::string& text);
// WM_GETTEXT works across processes (the system copies the text).
std::string Text(HWND window);
std::string ClassOf(HWND window);
int Number(const std::string& text, const std::string& step);

// The screen's pixels of one rectangle, top-down, 0x00RRGGBB.
struct Pixels {
    RECT rect{};
    std::vector<uint32_t> bits;
    uint32_t At(LONG x, LONG y) const {
        return bits[static_cast<size_t>((y - rect.top) * (rect.right - rect.left) + (x - rect.left))];
    }
};
bool Grab(const RECT& rect, Pixels& out);
// Saved bottom-up as a 24-bit BMP.
bool SaveBmp(const std::string& path, const Pixels& shot);

class Driver {
public:
    explicit Driver(const Options& options) : options_(options) {}

    std::string Escape(const std::string& text) const;
    // Waits until `condition` holds; stops with "timeout: <step>" and exit code 2 when the limit
    // passes first.
    // The limit is real time: a condition that itself waits on a busy window counts too.
    template <typename Condition>
    void WaitFor(const std::string& step, Condition condition) const {
        const ULONGLONG start = GetTickCount64();
        while (!condition()) {
            if (GetTickCount64() - start >= options_.waitMs) Stop(2, "timeout: " + step);
            Sleep(kPollMs);
        }
    }

    HWND Dialog() const { return dialog_; }
    HANDLE Launched() const { return launched_; }
    void NeedDialog(const std::string& step) const;
    // Starts a program with exactly `commandLine`.
    void Launch(const std::string& exe, const std::string& commandLine);
    std::string Enabled(int id) const;
    // The dialog's client area on the screen (without a window manager nobody draws the frame).
    RECT ClientScreenRect() const;

    // Runs `step` when it is one that every helper offers, reading its arguments from `args`:
    // find <caption>, rect, click <id>, wait-enabled <id> <0|1>, box, box-ok, no-box, wait-exit,
    // sleep <ms>. false when the step is not one of them.
    bool CommonStep(const std::string& step, Args& args);

private:
    static constexpr DWORD kPollMs = 50;

    void NeedProcess(const std::string& step);
    HWND Box() const;

    Options options_;
    HWND dialog_ = nullptr;
    DWORD pid_ = 0;
    HANDLE launched_ = nullptr;
};

}  // namespace gui
