// Win32-only: runs the updater's still-capture graph (CStillCap) on its own, as the updater's
// start-up probe does, and says what came of it:
//
//   still_probe <vid> <pid> [hold-ms] [worker]
//
// (hexadecimal IDs; hold: how long the graph runs, default 500 ms; worker: build, run and tear down
// on a second thread that has no message loop, as the updater's Realtek flow does). Prints box=<text>
// and quit=<code> when the graph asks for them (no box is shown), end=<code> before the graph ends
// the program, then result=0x<hresult>, grabbed=<w>x<h>, filters=<names in graph order>,
// frames=<copied N bytes|none> (the grabber callback is armed for one frame while the graph runs)
// and "cleared". Exit code 0 when the build succeeded, 1 when it failed.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "kit/trace.h"
#include "still_cap_win32.h"

namespace {

class PrintingHost final : public stillcap::StillCapHost {
public:
    stillcap::UtcTime NowUtc() override { return real_.NowUtc(); }
    void Sleep(uint32_t milliseconds) override { real_.Sleep(milliseconds); }
    void ShowExclamation(const char* text) override { std::printf("box=%s\n", text); }
    void RequestQuit(int code) override { std::printf("quit=%d\n", code); }
    void EndProcess(int code) override {
        std::printf("end=%d\n", code);
        std::fflush(stdout);
        real_.EndProcess(code);
    }

private:
    stillcap::Win32StillCapHost real_{GetCurrentThreadId()};
};

int Probe(uint16_t vid, uint16_t pid, DWORD hold) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 4;
    int code = 0;
    {
        PrintingHost host;
        stillcap::CStillCap still(host, kit::SystemTrace());
        still.Callback().Frames().Arm();
        const int32_t hr = still.InitStillGraph(vid, pid);
        std::printf("result=0x%08lx\n", static_cast<unsigned long>(hr));
        std::printf("grabbed=%dx%d\n", still.Grabbed().width, still.Grabbed().height);
        std::string names;
        for (const std::string& name : still.FilterNames()) names += (names.empty() ? "" : ",") + name;
        std::printf("filters=%s\n", names.c_str());
        Sleep(hold);
        const stillcap::FrameKeeper& frames = still.Callback().Frames();
        if (frames.State() == stillcap::kCopied)
            std::printf("frames=copied %u bytes\n", frames.BufferSize());
        else
            std::printf("frames=none\n");
        still.ClearGraphs();
        std::printf("cleared\n");
        code = hr < 0 ? 1 : 0;
    }
    std::fflush(stdout);
    CoUninitialize();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: still_probe <vid> <pid> [hold-ms] [worker]\n");
        return 3;
    }
    const auto vid = static_cast<uint16_t>(std::strtoul(argv[1], nullptr, 16));
    const auto pid = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 16));
    const DWORD hold = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 500;
    if (argc > 4 && std::string(argv[4]) == "worker") {
        int code = 5;
        std::thread worker([&] { code = Probe(vid, pid, hold); });
        worker.join();
        return code;
    }
    return Probe(vid, pid, hold);
}
