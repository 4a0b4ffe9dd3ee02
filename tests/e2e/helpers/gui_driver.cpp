// Win32-only: see gui_driver.h.
#include "gui_driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gui {

Args::Args(int argc, char** argv) : args_(argv + 1, argv + argc), start_(GetTickCount64()) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

std::string Args::Step() {
    const std::string step = args_[at_++];
    std::fprintf(stderr, "[%llu ms] %s\n", static_cast<unsigned long long>(GetTickCount64() - start_), step.c_str());
    return step;
}

std::string Args::Next(const std::string& step) {
    if (at_ >= args_.size()) Stop(3, step + ": argument missing");
    return args_[at_++];
}

int Args::Number(const std::string& step) { return gui::Number(Next(step), step); }

[[noreturn]] void Stop(int code, const std::string& why) {
    std::printf("%s\n", why.c_str());
    std::fflush(stdout);
    std::exit(code);
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

std::string Text(HWND window) {
    if (!window) return "<none>";
    DWORD_PTR length = 0;
    const ULONGLONG asked = GetTickCount64();
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        std::fprintf(stderr, "window %p did not answer in %llu ms\n", static_cast<void*>(window),
                     static_cast<unsigned long long>(GetTickCount64() - asked));
        return "<hung>";
    }
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

int Number(const std::string& text, const std::string& step) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end) Stop(3, step + ": not a number: " + text);
    return static_cast<int>(value);
}

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
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1;
    std::vector<unsigned char> row(static_cast<size_t>(stride), 0);
    for (int y = height - 1; y >= 0 && ok; --y) {
        for (int x = 0; x < width; ++x) {
            uint32_t p = shot.bits[static_cast<size_t>(y * width + x)];
            row[static_cast<size_t>(x * 3)] = static_cast<unsigned char>(p);
            row[static_cast<size_t>(x * 3 + 1)] = static_cast<unsigned char>(p >> 8);
            row[static_cast<size_t>(x * 3 + 2)] = static_cast<unsigned char>(p >> 16);
        }
        ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
    }
    return std::fclose(out) == 0 && ok;
}

// ---------------------------------------------------------------------------------------------

std::string Driver::Escape(const std::string& text) const {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\' && options_.escapeBackslash)
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

void Driver::NeedDialog(const std::string& step) const {
    if (!dialog_) Stop(3, step + ": no dialog (use find first)");
}

// The boxes of a start-up that failed come before any dialog can be found: the launched process
// tells whose windows to look at.
void Driver::NeedProcess(const std::string& step) {
    if (!pid_ && launched_) pid_ = GetProcessId(launched_);
    if (!pid_) Stop(3, step + ": no process (use find or launch first)");
}

void Driver::Launch(const std::string& exe, const std::string& commandLine) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
        Stop(3, "launch: error " + std::to_string(GetLastError()));
    CloseHandle(started.hThread);
    launched_ = started.hProcess;
}

std::string Driver::Enabled(int id) const {
    return IsWindowEnabled(GetDlgItem(dialog_, id)) ? "enabled" : "disabled";
}

RECT Driver::ClientScreenRect() const {
    RECT r{};
    GetClientRect(dialog_, &r);
    POINT origin{0, 0};
    ClientToScreen(dialog_, &origin);
    OffsetRect(&r, origin.x, origin.y);
    return r;
}

namespace {

struct FindDialog {
    std::string caption;
    int buttonId;
    HWND found = nullptr;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM data) {
    auto* find = reinterpret_cast<FindDialog*>(data);
    if (ClassOf(window) == "#32770" && Text(window) == find->caption && GetDlgItem(window, find->buttonId)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

struct FindBox {
    DWORD pid;
    HWND dialog;
    HWND found = nullptr;
};

// Another top-level window of the program's process that is shown: a message box or the about box.
BOOL CALLBACK FindBoxProc(HWND window, LPARAM data) {
    auto* find = reinterpret_cast<FindBox*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == find->pid && window != find->dialog && IsWindowVisible(window) && ClassOf(window) == "#32770") {
        find->found = window;
        return FALSE;
    }
    return TRUE;
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

}  // namespace

HWND Driver::Box() const {
    FindBox find{pid_, dialog_};
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

bool Driver::CommonStep(const std::string& step, Args& args) {
    if (step == "find") {
        FindDialog find{args.Next(step), options_.buttonId};
        WaitFor(step, [&] {
            EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&find));
            return find.found != nullptr;
        });
        dialog_ = find.found;
        GetWindowThreadProcessId(dialog_, &pid_);
        std::printf("found\n");
    } else if (step == "rect") {
        NeedDialog(step);
        const RECT r = ClientScreenRect();
        std::printf("rect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    } else if (step == "click") {
        NeedDialog(step);
        PostMessageA(GetDlgItem(dialog_, args.Number(step)), BM_CLICK, 0, 0);
    } else if (step == "wait-enabled") {
        NeedDialog(step);
        HWND control = GetDlgItem(dialog_, args.Number(step));
        bool want = args.Number(step) != 0;
        WaitFor(step, [&] { return (IsWindowEnabled(control) != FALSE) == want; });
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
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        WaitFor(step, [&] { return !IsWindow(box); });
    } else if (step == "no-box") {
        NeedProcess(step);
        if (HWND box = Box()) Stop(4, "box=" + Escape(Text(box)));
        std::printf("no box\n");
    } else if (step == "wait-exit") {
        if (!launched_) Stop(3, "wait-exit: nothing launched");
        if (WaitForSingleObject(launched_, options_.waitMs) != WAIT_OBJECT_0) Stop(2, "timeout: wait-exit");
        DWORD code = 0;
        GetExitCodeProcess(launched_, &code);
        std::printf("exitcode=%lu\n", code);
    } else if (step == "sleep") {
        Sleep(static_cast<DWORD>(args.Number(step)));
    } else {
        return false;
    }
    return true;
}

}  // namespace gui
