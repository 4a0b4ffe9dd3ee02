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
//   box                      waits for a message box of the tool: box=<caption>|<texts>|icon=<yes|no>
//                            and boxrect=...
//   box-ok                   clicks the OK button of that box, as a user would, and waits until it
//                            is gone
//   no-box                   prints "no box", or fails (exit code 4) when a box is up
//   wait-exit                waits for the launched process: exitcode=<code>
//   sleep <ms>
// Texts are printed with \r and \n written as escapes, one line each.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "gui_driver.h"

namespace {

constexpr int kFlash = 1003;
constexpr int kPicture = 1006;

gui::Driver g_driver({kFlash, 30000, false});

using gui::Text;

std::string Escape(const std::string& text) { return g_driver.Escape(text); }

// What the status picture shows, told by the colours on the screen inside the frame: the field's
// colour, and for yellow the colour of the writing (black "Running", a red digit).
std::string Picture() {
    HWND control = GetDlgItem(g_driver.Dialog(), kPicture);
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

void Fields() {
    std::printf("caption=%s\n", Escape(Text(g_driver.Dialog())).c_str());
    std::printf("module=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1007))).c_str());
    std::printf("path=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1001))).c_str());
    std::printf("view=%s\n", Escape(Text(GetDlgItem(g_driver.Dialog(), 1000))).c_str());
    std::printf("flash=%s\n", g_driver.Enabled(kFlash).c_str());
    std::printf("close=%s\n", g_driver.Enabled(1033).c_str());
    std::printf("autoscroll=%d\n",
                SendMessageA(GetDlgItem(g_driver.Dialog(), 1014), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    std::printf("progress=%d\n",
                static_cast<int>(SendMessageA(GetDlgItem(g_driver.Dialog(), 1012), PBM_GETPOS, 0, 0)));
    std::printf("picture=%s\n", Picture().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    gui::Args args(argc, argv);
    while (args.More()) {
        const std::string step = args.Step();
        if (g_driver.CommonStep(step, args)) {
            // done
        } else if (step == "launch") {
            std::string exe = args.Next(step);
            g_driver.Launch(exe, "\"" + exe + "\"");
        } else if (step == "fields") {
            g_driver.NeedDialog(step);
            Fields();
        } else if (step == "wait-text") {
            g_driver.NeedDialog(step);
            HWND control = GetDlgItem(g_driver.Dialog(), args.Number(step));
            std::string want = gui::Unescape(args.Next(step));
            g_driver.WaitFor(step + " " + Escape(want),
                             [&] { return Text(control).find(want) != std::string::npos; });
        } else if (step == "wait-picture") {
            g_driver.NeedDialog(step);
            std::string want = args.Next(step);
            g_driver.WaitFor(step + " " + want, [&] { return Picture() == want; });
            std::printf("picture=%s\n", want.c_str());
        } else if (step == "shot") {
            g_driver.NeedDialog(step);
            // Taken at once, from the screen: a state that a screenshot from outside comes too late for.
            const std::string path = args.Next(step);
            gui::Pixels shot;
            if (!gui::Grab(g_driver.ClientScreenRect(), shot) || !gui::SaveBmp(path, shot))
                gui::Stop(3, "shot: cannot save " + path);
            std::printf("shot=%s\n", path.c_str());
        } else {
            gui::Stop(3, "unknown step: " + step);
        }
        std::fflush(stdout);
    }
    return 0;
}
