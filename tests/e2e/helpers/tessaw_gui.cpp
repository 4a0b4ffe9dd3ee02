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
#include <string>

#include "gui_driver.h"

namespace {

constexpr int kFlash = 1004;

gui::Driver g_driver({kFlash, 20000, true});

using gui::Pixels;
using gui::Stop;
using gui::Text;

std::string Escape(const std::string& text) { return g_driver.Escape(text); }

void Fields() {
    std::printf("caption=%s\n", Escape(Text(g_driver.Dialog())).c_str());
    std::printf("visible=%d\n", IsWindowVisible(g_driver.Dialog()) ? 1 : 0);
    std::printf("system=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1006))).c_str());
    std::printf("module=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1007))).c_str());
    std::printf("status=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1003))).c_str());
    std::printf("result=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1009))).c_str());
    std::printf("flash=%s\n", g_driver.Enabled(kFlash).c_str());
    std::printf("exit=%s\n", g_driver.Enabled(1005).c_str());
    std::printf("autoscroll=%d\n",
                SendMessageA(GetDlgItem(g_driver.Dialog(), 1010), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    std::printf("progress=%d\n",
                static_cast<int>(SendMessageA(GetDlgItem(g_driver.Dialog(), 1001), PBM_GETPOS, 0, 0)));
    std::printf("view=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1002))).c_str());
}

RECT ScreenRect(int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(g_driver.Dialog(), id), &r);
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

void WatchPaint(const std::string& bmp) {
    const char* updating = "Now updating ...";
    HWND result = GetDlgItem(g_driver.Dialog(), 1009), status = GetDlgItem(g_driver.Dialog(), 1003);
    g_driver.WaitFor("watch-paint: the run starts", [&] { return Text(result) == updating; });
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
        if (gui::Grab(g_driver.ClientScreenRect(), shot)) {
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
            if (rank > savedRank && gui::SaveBmp(bmp, shot)) savedRank = rank;
        }
        Sleep(25);
    }
    std::printf("samples=%d\nunpainted=%d\nblank=%s\nmidshot=%s\n", samples, unpainted, blankIds.c_str(),
                savedRank ? "saved" : "none");
}

}  // namespace

int main(int argc, char** argv) {
    gui::Args args(argc, argv);
    while (args.More()) {
        const std::string step = args.Step();
        HWND dialog = g_driver.Dialog();
        if (g_driver.CommonStep(step, args)) {
            // done
        } else if (step == "launch") {
            std::string exe = args.Next(step);
            g_driver.Launch(exe, "\"" + exe + "\" " + args.Next(step));
        } else if (step == "fields") {
            g_driver.NeedDialog(step);
            Fields();
        } else if (step == "key") {
            g_driver.NeedDialog(step);
            WPARAM key = static_cast<WPARAM>(args.Number(step));
            PostMessageA(dialog, WM_KEYDOWN, key, 1);
            PostMessageA(dialog, WM_KEYUP, key, 0xC0000001);
        } else if (step == "syscommand") {
            g_driver.NeedDialog(step);
            PostMessageA(dialog, WM_SYSCOMMAND, static_cast<WPARAM>(args.Number(step)), 0);
        } else if (step == "wait-text") {
            g_driver.NeedDialog(step);
            HWND control = GetDlgItem(dialog, args.Number(step));
            std::string want = gui::Unescape(args.Next(step));
            g_driver.WaitFor(step + " " + Escape(want), [&] { return Text(control) == want; });
        } else if (step == "wait-gone") {
            g_driver.NeedDialog(step);
            g_driver.WaitFor(step, [&] { return !IsWindow(dialog); });
            std::printf("gone\n");
        } else if (step == "colour") {
            g_driver.NeedDialog(step);
            const int id = args.Number(step);
            const uint32_t want = static_cast<uint32_t>(std::strtoul(args.Next(step).c_str(), nullptr, 16));
            Pixels shot;
            int count = 0;
            if (gui::Grab(ScreenRect(id), shot))
                count = static_cast<int>(std::count(shot.bits.begin(), shot.bits.end(), want));
            std::printf("colour%d=%d\n", id, count);
        } else if (step == "watch-paint") {
            g_driver.NeedDialog(step);
            WatchPaint(args.Next(step));
        } else {
            Stop(3, "unknown step: " + step);
        }
        std::fflush(stdout);
    }
    return 0;
}
