// The still-capture graph over a bench camera, as the updater builds it for a Realtek camera.
#include <filesystem>
#include <fstream>

#include "bench_still_graph.h"
#include "matrix.h"
#include "still_texts.h"

namespace fm {
namespace {

namespace fs = std::filesystem;

class Host final : public stillcap::StillCapHost {
public:
    std::vector<std::string> boxes;
    int quit = 0, ended = 0;
    stillcap::UtcTime NowUtc() override { return {}; }
    void Sleep(uint32_t) override {}
    void ShowExclamation(const char* text) override { boxes.push_back(text); }
    void RequestQuit(int code) override { quit = code; }
    void EndProcess(int code) override { ended = code; }
};

// Every message a failed step writes, the box and the two ends that reach beyond the graph.
const std::vector<std::string> kStepMessages = {
    stillcap::kNoFilterGraph, stillcap::kNoCaptureDevice, stillcap::kCaptureNotAdded,  stillcap::kNoSampleGrabber,
    stillcap::kNoMediaType,   stillcap::kGrabberNotAdded, stillcap::kNotRendered,      stillcap::kNoVideoWindow,
    stillcap::kNotRun};

}  // namespace

std::vector<Path> StillPaths() {
    Path p;
    p.name = "still_capture";
    p.expected = "the failing HRESULT with the step's trace; box + quit 1; or end -1 at the pins";
    p.run = [](const Injection& injection) {
        static int serial = 0;
        const fs::path folder = fs::temp_directory_path() / ("fault-matrix-still-" + std::to_string(getpid()) + "-" +
                                                             std::to_string(serial++));
        fs::create_directories(folder);
        std::ofstream(folder / "bench.ini", std::ios::binary)
            << "[bench]\ncameras=cam0\n"
            << (injection.line.empty() ? "" : "still_fault1=" + injection.line + "\n")
            << "[cam0]\nchip=realtek\nvid=3A7C\npid=5602\nrev=0101\nmi=00\nport=4\n";
        Host host;
        kit::RecordingTrace trace;
        stillcap::BenchStillCapture still(folder.string(), host, trace);
        const auto before = still.Graph().Faults().Counts();
        const int32_t hr = still.InitStillGraph(0x3A7C, 0x5602);
        RunResult r;
        r.sites = EntrySites(Device::StillGraph, before, still.Graph().Faults().Counts());
        still.ClearGraphs();
        std::string said;
        for (const std::string& line : trace.lines)
            for (const std::string& m : kStepMessages)
                if (said.empty() && line == m) said = m;
        char buf[64];
        std::snprintf(buf, sizeof buf, "hr 0x%08X", static_cast<unsigned>(hr));
        std::string text = buf;
        if (!host.boxes.empty()) text += ", box \"" + host.boxes.back() + "\"";
        if (host.quit) text += ", quit " + std::to_string(host.quit);
        if (host.ended) text += ", end " + std::to_string(host.ended);
        if (!said.empty()) text += ", trace \"" + said + "\"";
        // The grabbed size is shown, but it is no part of the outcome: nothing in the kit uses it.
        const auto& grabbed = still.Grabbed();
        r.outcome = {hr == 0 && host.boxes.empty() && !host.quit && !host.ended,
                     text + ", grabbed " + std::to_string(grabbed.width) + "x" + std::to_string(grabbed.height), text};
        fs::remove_all(folder);
        return r;
    };
    p.knownFailure = [](const Outcome& o) {
        if (o.text.find("quit 1") != std::string::npos && o.text.find(stillcap::kSizeMismatch) != std::string::npos)
            return true;
        if (o.text.find("end -1") != std::string::npos) return true;
        return o.text.rfind("hr 0x8", 0) == 0 && o.text.find("trace \"") != std::string::npos;
    };
    p.recoveries.push_back({Device::StillGraph, "ApplyCapability", -2, static_cast<unsigned>(Kind::Fail),
                            "a format the pin refuses is not told apart; the connection shows what the camera gives",
                            nullptr});
    p.recoveries.push_back({Device::StillGraph, "ConnectedSize", -2, 7,
                            "the grabbed size is kept for a frame copy nothing in the kit arms", nullptr});
    std::vector<Path> paths;
    paths.push_back(std::move(p));
    return paths;
}

}  // namespace fm
