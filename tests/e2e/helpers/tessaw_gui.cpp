// Win32-only: drives a running Tessaw from outside, as a user would, and says what it sees. The
// steps run in order; each wait gives up after 20 seconds with "timeout: <step>" and exit code 2,
// a bad step ends with exit code 3.
//
//   launch <exe> <tail>      starts <exe> with exactly "<exe> <tail>" as its command line (so a
//                            tail may end in a blank); wait-exit waits for it
//   find <caption>           waits for Tessaw's dialog: a #32770 window with that caption that
//                            has the FLASH button; later steps act on it
//   fields                   one line per control: caption, system, module, status, result,
//                            flash, exit, autoscroll, progress, view, visible
//   rect                     rect=<left>,<top>,<width>,<height> of the dialog's client area on
//                            the screen
//   click <id>               posts a button click to a control of the dialog
//   key <vk>                 posts key down and up of a virtual key (decimal) to the dialog
//   syscommand <n>           posts WM_SYSCOMMAND n (decimal) to the dialog
//   box                      waits for another window of Tessaw (a message box or the about box)
//                            and prints box=<caption>|<texts>|icon=<yes|no> and boxrect=...
//   box-ok                   clicks the OK button of that window and waits until it is gone
//   no-box                   prints "no box", or fails (exit code 4) when such a window is up
//   wait-text <id> <text>    waits until the control shows the text (\r, \n and \\ escapes)
//   wait-enabled <id> <0|1>  waits until the control is disabled (0) or enabled (1)
//   wait-gone                waits until the dialog has been destroyed
//   wait-exit                waits for the launched process: exitcode=<code>
//   sleep <ms>
//   colour <id> <rrggbb>     colour<id>=<n>: how many pixels of the control on the screen have
//                            that colour (read from the screen, so only what was really painted)
//   watch-paint <bmp>        waits until the result field says "Now updating ...", then looks at
//                            the screen every 25 ms until it says anything else (at most 120 s):
//                            a sample where the log view, the progress bar or a button shows
//                            nothing but the dialog's background is an unpainted one. Prints
//                            samples=, unpainted= (samples with such a control) and the IDs
//                            seen unpainted; saves one sample as a 24-bit BMP: the first
//                            unpainted one, else one taken while the write verified, else one
//                            taken while it downloaded.
// Texts are printed with \r and \n written as escapes, one line each.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitMs = 20000;
constexpr DWORD kPollMs = 50;
constexpr int kFlash = 1004;

struct Process {
    HANDLE handle = nullptr;
    ~Process() {
        if (handle) CloseHandle(handle);
    }
};

HWND g_dialog = nullptr;
DWORD g_pid = 0;
Process g_launched;

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

[[noreturn]] void Stop(int code, const std::string& why) {
    std::printf("%s\n", why.c_str());
    std::fflush(stdout);
    std::exit(code);
}

// WM_GETTEXT works across processes (the system copies the text).
std::string Text(HWND window) {
    if (!window) return "<none>";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return "<hung>";
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &got);
    return std::string(buffer.data());
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

template <typename Condition>
void WaitFor(const std::string& step, Condition condition) {
    for (DWORD waited = 0; !condition(); waited += kPollMs) {
        if (waited >= kWaitMs) Stop(2, "timeout: " + step);
        Sleep(kPollMs);
    }
}

void NeedDialog(const std::string& step) {
    if (!g_dialog) Stop(3, step + ": no dialog (use find first)");
}

// The boxes of a start-up that failed come before any dialog can be found: the launched process
// tells whose windows to look at.
void NeedProcess(const std::string& step) {
    if (!g_pid && g_launched.handle) g_pid = GetProcessId(g_launched.handle);
    if (!g_pid) Stop(3, step + ": no process (use find or launch first)");
}

struct FindDialog {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM data) {
    auto* find = reinterpret_cast<FindDialog*>(data);
    if (ClassOf(window) == "#32770" && Text(window) == find->caption && GetDlgItem(window, kFlash)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

// Another top-level window of Tessaw's process that is shown: a message box or the about box.
BOOL CALLBACK FindBoxProc(HWND window, LPARAM data) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == g_pid && window != g_dialog && IsWindowVisible(window) && ClassOf(window) == "#32770") {
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    }
    return TRUE;
}

HWND Box() {
    HWND box = nullptr;
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&box));
    return box;
}

struct BoxParts {
    std::string text;
    bool icon = false;
};

BOOL CALLBACK BoxPartsProc(HWND child, LPARAM data) {
    auto* parts = reinterpret_cast<BoxParts*>(data);
    if (ClassOf(child) != "Static" || !IsWindowVisible(child)) return TRUE;
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) {
        if (SendMessageA(child, STM_GETICON, 0, 0)) parts->icon = true;
    } else {
        std::string text = Text(child);
        if (!text.empty()) parts->text += (parts->text.empty() ? "" : "|") + text;
    }
    return TRUE;
}

std::string Enabled(int id) { return IsWindowEnabled(GetDlgItem(g_dialog, id)) ? "enabled" : "disabled"; }

void Fields() {
    std::printf("caption=%s\n", Escape(Text(g_dialog)).c_str());
    std::printf("visible=%d\n", IsWindowVisible(g_dialog) ? 1 : 0);
    std::printf("system=%s\n", Escape(Text(GetDlgItem(g_dialog, 1006))).c_str());
    std::printf("module=%s\n", Escape(Text(GetDlgItem(g_dialog, 1007))).c_str());
    std::printf("status=%s\n", Escape(Text(GetDlgItem(g_dialog, 1003))).c_str());
    std::printf("result=%s\n", Escape(Text(GetDlgItem(g_dialog, 1009))).c_str());
    std::printf("flash=%s\n", Enabled(kFlash).c_str());
    std::printf("exit=%s\n", Enabled(1005).c_str());
    std::printf("autoscroll=%d\n",
                SendMessageA(GetDlgItem(g_dialog, 1010), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    std::printf("progress=%d\n",
                static_cast<int>(SendMessageA(GetDlgItem(g_dialog, 1001), PBM_GETPOS, 0, 0)));
    std::printf("view=%s\n", Escape(Text(GetDlgItem(g_dialog, 1002))).c_str());
}

// The screen's pixels of one rectangle, top-down, 0x00RRGGBB.
struct Pixels {
    RECT rect{};
    std::vector<uint32_t> bits;
    uint32_t At(LONG x, LONG y) const {
        return bits[static_cast<size_t>((y - rect.top) * (rect.right - rect.left) + (x - rect.left))];
    }
};

bool Grab(const RECT& rect, Pixels& out) {
    out.rect = rect;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    out.bits.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (section && bits) {
        HGDIOBJ old = SelectObject(memory, section);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
        GdiFlush();
        std::memcpy(out.bits.data(), bits, out.bits.size() * sizeof(uint32_t));
        for (uint32_t& p : out.bits) p &= 0xFFFFFF;
        SelectObject(memory, old);
    }
    if (section) DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

RECT ScreenRect(int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(g_dialog, id), &r);
    return r;
}

RECT ClientScreenRect() {
    RECT r{};
    GetClientRect(g_dialog, &r);
    POINT origin{0, 0};
    ClientToScreen(g_dialog, &origin);
    OffsetRect(&r, origin.x, origin.y);
    return r;
}

// True when every pixel of the control is the dialog's background: nothing of it was drawn.
bool Blank(const Pixels& shot, int id, uint32_t background) {
    RECT r = ScreenRect(id), inside{};
    if (!IntersectRect(&inside, &r, &shot.rect)) return false;
    for (LONG y = inside.top; y < inside.bottom; ++y)
        for (LONG x = inside.left; x < inside.right; ++x)
            if (shot.At(x, y) != background) return false;
    return true;
}

bool SaveBmp(const std::string& path, const Pixels& shot) {
    const int width = shot.rect.right - shot.rect.left, height = shot.rect.bottom - shot.rect.top;
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(stride * height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::vector<unsigned char> row(static_cast<size_t>(stride), 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            uint32_t p = shot.bits[static_cast<size_t>(y * width + x)];
            row[static_cast<size_t>(x * 3)] = static_cast<unsigned char>(p);
            row[static_cast<size_t>(x * 3 + 1)] = static_cast<unsigned char>(p >> 8);
            row[static_cast<size_t>(x * 3 + 2)] = static_cast<unsigned char>(p >> 16);
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0;
}

void WatchPaint(const std::string& bmp) {
    const char* updating = "Now updating ...";
    HWND result = GetDlgItem(g_dialog, 1009), status = GetDlgItem(g_dialog, 1003);
    WaitFor("watch-paint: the run starts", [&] { return Text(result) == updating; });
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const uint32_t background = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
    const int watched[] = {1002, 1001, 1004, 1005};
    int samples = 0, unpainted = 0;
    // What the saved sample shows: 0 nothing yet, 1 a download report, 2 a verify report, 3 a
    // control left blank. A better one replaces it.
    int savedRank = 0;
    std::string blankIds;
    for (DWORD waited = 0; waited < 120000 && Text(result) == updating; waited += 25) {
        Pixels shot;
        const std::string before = Text(status);
        if (Grab(ClientScreenRect(), shot)) {
            ++samples;
            bool any = false;
            for (int id : watched) {
                if (!Blank(shot, id, background)) continue;
                any = true;
                const std::string tag = std::to_string(id);
                if (blankIds.find(tag) == std::string::npos) blankIds += (blankIds.empty() ? "" : ",") + tag;
            }
            if (any) ++unpainted;
            // Reports come faster than pictures: the status read before the picture tells the stage.
            int rank = any ? 3 : 0;
            if (!rank && before.find("Verify Stage is") != std::string::npos) rank = 2;
            if (!rank && before.find("Download Stage is") != std::string::npos) rank = 1;
            if (rank > savedRank && SaveBmp(bmp, shot)) savedRank = rank;
        }
        Sleep(25);
    }
    std::printf("samples=%d\nunpainted=%d\nblank=%s\nmidshot=%s\n", samples, unpainted, blankIds.c_str(),
                savedRank ? "saved" : "none");
}

int Number(const std::string& text, const std::string& step) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end) Stop(3, step + ": not a number: " + text);
    return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto next = [&](size_t& i, const std::string& step) -> std::string {
        if (i + 1 >= args.size()) Stop(3, step + ": argument missing");
        return args[++i];
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string step = args[i];
        if (step == "launch") {
            std::string exe = next(i, step);
            std::string commandLine = "\"" + exe + "\" " + next(i, step);
            std::vector<char> line(commandLine.begin(), commandLine.end());
            line.push_back('\0');
            STARTUPINFOA startup;
            ZeroMemory(&startup, sizeof startup);
            startup.cb = sizeof startup;
            PROCESS_INFORMATION started;
            if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &started))
                Stop(3, "launch: error " + std::to_string(GetLastError()));
            CloseHandle(started.hThread);
            g_launched.handle = started.hProcess;
        } else if (step == "find") {
            FindDialog find{next(i, step), nullptr};
            WaitFor(step, [&] {
                EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&find));
                return find.found != nullptr;
            });
            g_dialog = find.found;
            GetWindowThreadProcessId(g_dialog, &g_pid);
            std::printf("found\n");
        } else if (step == "fields") {
            NeedDialog(step);
            Fields();
        } else if (step == "rect") {
            NeedDialog(step);
            // The client area: without a window manager nobody draws the frame.
            RECT r;
            GetClientRect(g_dialog, &r);
            POINT origin{0, 0};
            ClientToScreen(g_dialog, &origin);
            std::printf("rect=%ld,%ld,%ld,%ld\n", origin.x, origin.y, r.right, r.bottom);
        } else if (step == "click") {
            NeedDialog(step);
            PostMessageA(GetDlgItem(g_dialog, Number(next(i, step), step)), BM_CLICK, 0, 0);
        } else if (step == "key") {
            NeedDialog(step);
            WPARAM key = static_cast<WPARAM>(Number(next(i, step), step));
            PostMessageA(g_dialog, WM_KEYDOWN, key, 1);
            PostMessageA(g_dialog, WM_KEYUP, key, 0xC0000001);
        } else if (step == "syscommand") {
            NeedDialog(step);
            PostMessageA(g_dialog, WM_SYSCOMMAND, static_cast<WPARAM>(Number(next(i, step), step)), 0);
        } else if (step == "box") {
            NeedProcess(step);
            HWND box = nullptr;
            WaitFor(step, [&] { return (box = Box()) != nullptr; });
            BoxParts parts;
            EnumChildWindows(box, BoxPartsProc, reinterpret_cast<LPARAM>(&parts));
            std::printf("box=%s|%s|icon=%s\n", Escape(Text(box)).c_str(), Escape(parts.text).c_str(),
                        parts.icon ? "yes" : "no");
            RECT r;
            GetWindowRect(box, &r);
            std::printf("boxrect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        } else if (step == "box-ok") {
            NeedProcess(step);
            HWND box = Box();
            if (!box) Stop(3, "box-ok: no box");
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
            WaitFor(step, [&] { return !IsWindow(box); });
        } else if (step == "no-box") {
            NeedProcess(step);
            if (HWND box = Box()) Stop(4, "box=" + Escape(Text(box)));
            std::printf("no box\n");
        } else if (step == "wait-text") {
            NeedDialog(step);
            HWND control = GetDlgItem(g_dialog, Number(next(i, step), step));
            std::string want = Unescape(next(i, step));
            WaitFor(step + " " + Escape(want), [&] { return Text(control) == want; });
        } else if (step == "wait-enabled") {
            NeedDialog(step);
            HWND control = GetDlgItem(g_dialog, Number(next(i, step), step));
            bool want = Number(next(i, step), step) != 0;
            WaitFor(step, [&] { return (IsWindowEnabled(control) != FALSE) == want; });
        } else if (step == "wait-gone") {
            NeedDialog(step);
            WaitFor(step, [&] { return !IsWindow(g_dialog); });
            std::printf("gone\n");
        } else if (step == "wait-exit") {
            if (!g_launched.handle) Stop(3, "wait-exit: nothing launched");
            if (WaitForSingleObject(g_launched.handle, kWaitMs) != WAIT_OBJECT_0)
                Stop(2, "timeout: wait-exit");
            DWORD code = 0;
            GetExitCodeProcess(g_launched.handle, &code);
            std::printf("exitcode=%lu\n", code);
        } else if (step == "colour") {
            NeedDialog(step);
            const int id = Number(next(i, step), step);
            const uint32_t want = static_cast<uint32_t>(std::strtoul(next(i, step).c_str(), nullptr, 16));
            Pixels shot;
            int count = 0;
            if (Grab(ScreenRect(id), shot))
                count = static_cast<int>(std::count(shot.bits.begin(), shot.bits.end(), want));
            std::printf("colour%d=%d\n", id, count);
        } else if (step == "watch-paint") {
            NeedDialog(step);
            WatchPaint(next(i, step));
        } else if (step == "sleep") {
            Sleep(static_cast<DWORD>(Number(next(i, step), step)));
        } else {
            Stop(3, "unknown step: " + step);
        }
        std::fflush(stdout);
    }
    return 0;
}
