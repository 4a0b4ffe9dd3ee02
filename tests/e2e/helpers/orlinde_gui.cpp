// Win32-only: drives a running Orlinde from outside, as a user would, and says what it sees. The
// steps run in order; each wait gives up after 30 seconds with "timeout: <step>" and exit code 2,
// a bad step ends with exit code 3.
//
//   launch <exe>             starts <exe> without arguments; wait-exit waits for it
//   find <caption>           waits for the tool's dialog: a #32770 window with that caption that
//                            has the "Flash" button (1003); later steps act on it
//   fields                   one line per control: caption, module (1007), path (1001), view
//                            (1000), flash, close, autoscroll, progress, picture
//   rect                     rect=<left>,<top>,<width>,<height> of the dialog's client area
//   click <id>               posts a button click to a control of the dialog
//   wait-text <id> <text>    waits until the control's text contains the text (\r, \n escapes)
//   wait-enabled <id> <0|1>  waits until the control is disabled (0) or enabled (1)
//   wait-picture <name>      waits until the status picture shows idle, running, countdown,
//                            success or fail (read from the screen: only what was really painted)
//   shot <bmp>               saves the dialog's client area as it is on the screen now (24-bit BMP):
//                            taken at once, so it shows a state that a screenshot from outside
//                            would come too late for
//   wait-exit                waits for the launched process: exitcode=<code>
//   sleep <ms>
// Texts are printed with \r and \n written as escapes, one line each.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kWaitMs = 30000;
constexpr DWORD kPollMs = 50;
constexpr int kFlash = 1003;
constexpr int kPicture = 1006;

HWND g_dialog = nullptr;
HANDLE g_launched = nullptr;

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
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

// What the status picture shows, told by the colours on the screen inside the frame: the field's
// colour, and for yellow the colour of the writing (black "Running", a red digit).
std::string Picture() {
    HWND control = GetDlgItem(g_dialog, kPicture);
    RECT client{};
    GetClientRect(control, &client);
    POINT origin{0, 0};
    ClientToScreen(control, &origin);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return "none";
    HDC screen = GetDC(nullptr);
    int green = 0, red = 0, yellow = 0, grey = 0, black = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF p = GetPixel(screen, origin.x + x, origin.y + y);
            const int r = GetRValue(p), g = GetGValue(p), b = GetBValue(p);
            if (r < 40 && g > 215 && b < 40)
                ++green;
            else if (r > 215 && g < 40 && b < 40)
                ++red;
            else if (r > 215 && g > 215 && b < 40)
                ++yellow;
            else if (r == 0xC0 && g == 0xC0 && b == 0xC0)
                ++grey;
            else if (r < 40 && g < 40 && b < 40)
                ++black;
        }
    }
    ReleaseDC(nullptr, screen);
    const int area = width * height;
    if (green > area / 2) return "success";
    if (yellow > area / 2) return red > black ? "countdown" : "running";
    if (red > area / 2) return "fail";
    if (grey > area / 2) return "idle";
    return "none";
}

std::string Enabled(int id) { return IsWindowEnabled(GetDlgItem(g_dialog, id)) ? "enabled" : "disabled"; }

void Fields() {
    std::printf("caption=%s\n", Escape(Text(g_dialog)).c_str());
    std::printf("module=%s\n", Escape(Text(GetDlgItem(g_dialog, 1007))).c_str());
    std::printf("path=%s\n", Escape(Text(GetDlgItem(g_dialog, 1001))).c_str());
    std::printf("view=%s\n", Escape(Text(GetDlgItem(g_dialog, 1000))).c_str());
    std::printf("flash=%s\n", Enabled(kFlash).c_str());
    std::printf("close=%s\n", Enabled(1033).c_str());
    std::printf("autoscroll=%d\n",
                SendMessageA(GetDlgItem(g_dialog, 1014), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    std::printf("progress=%d\n",
                static_cast<int>(SendMessageA(GetDlgItem(g_dialog, 1012), PBM_GETPOS, 0, 0)));
    std::printf("picture=%s\n", Picture().c_str());
}

// The dialog's client area from the screen, saved bottom-up as a 24-bit BMP.
bool Shot(const std::string& path) {
    RECT r{};
    GetClientRect(g_dialog, &r);
    POINT origin{0, 0};
    ClientToScreen(g_dialog, &origin);
    const int width = r.right, height = r.bottom;
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(stride * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (section && bits) {
        HGDIOBJ old = SelectObject(memory, section);
        ok = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + info.bmiHeader.biSizeImage;
        std::FILE* out = ok ? std::fopen(path.c_str(), "wb") : nullptr;
        ok = out && std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, 1, info.bmiHeader.biSizeImage, out) == info.bmiHeader.biSizeImage;
        if (out && std::fclose(out) != 0) ok = false;
    }
    if (section) DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
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
            std::string commandLine = "\"" + exe + "\"";
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
            g_launched = started.hProcess;
        } else if (step == "find") {
            FindDialog find{next(i, step), nullptr};
            WaitFor(step, [&] {
                EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&find));
                return find.found != nullptr;
            });
            g_dialog = find.found;
            std::printf("found\n");
        } else if (step == "fields") {
            NeedDialog(step);
            Fields();
        } else if (step == "rect") {
            NeedDialog(step);
            RECT r;
            GetClientRect(g_dialog, &r);
            POINT origin{0, 0};
            ClientToScreen(g_dialog, &origin);
            std::printf("rect=%ld,%ld,%ld,%ld\n", origin.x, origin.y, r.right, r.bottom);
        } else if (step == "click") {
            NeedDialog(step);
            PostMessageA(GetDlgItem(g_dialog, Number(next(i, step), step)), BM_CLICK, 0, 0);
        } else if (step == "wait-text") {
            NeedDialog(step);
            HWND control = GetDlgItem(g_dialog, Number(next(i, step), step));
            std::string want = Unescape(next(i, step));
            WaitFor(step + " " + Escape(want), [&] { return Text(control).find(want) != std::string::npos; });
        } else if (step == "wait-enabled") {
            NeedDialog(step);
            HWND control = GetDlgItem(g_dialog, Number(next(i, step), step));
            bool want = Number(next(i, step), step) != 0;
            WaitFor(step, [&] { return (IsWindowEnabled(control) != FALSE) == want; });
        } else if (step == "wait-picture") {
            NeedDialog(step);
            std::string want = next(i, step);
            WaitFor(step + " " + want, [&] { return Picture() == want; });
            std::printf("picture=%s\n", want.c_str());
        } else if (step == "shot") {
            NeedDialog(step);
            const std::string path = next(i, step);
            if (!Shot(path)) Stop(3, "shot: cannot save " + path);
            std::printf("shot=%s\n", path.c_str());
        } else if (step == "wait-exit") {
            if (!g_launched) Stop(3, "wait-exit: nothing launched");
            if (WaitForSingleObject(g_launched, kWaitMs) != WAIT_OBJECT_0) Stop(2, "timeout: wait-exit");
            DWORD code = 0;
            GetExitCodeProcess(g_launched, &code);
            std::printf("exitcode=%lu\n", code);
        } else if (step == "sleep") {
            Sleep(static_cast<DWORD>(Number(next(i, step), step)));
        } else {
            Stop(3, "unknown step: " + step);
        }
        std::fflush(stdout);
    }
    return 0;
}
