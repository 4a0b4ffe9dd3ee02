// Wall time the recorder adds to a run: the updater's sequence through the exports (open, erase,
// sixteen sector writes, sixteen sector reads, reset of a 64 KiB image) on emulated cameras of a
// register-port family ('f', thousands of small requests) and a window family ('k', large ones),
// with and without recording to a file. Rounds alternate between the two so that a busy machine
// slows both alike; the fastest round of each counts.
//
// Two figures per camera. The share of the emulated run's own wall time is a harsh upper bound: an
// emulated request costs microseconds of processor time (more under the sanitizers of the native
// build) where a camera's costs about a millisecond on the bus. The share of the run on a camera is
// the recorder's added wall time over the time the same run takes there, which the bench's virtual
// clock models request by request (transfers, flash erase and program times, the library's pauses).
//
// Prints the figures; exit code 0 when the recorder adds less than 5 % to the run on a camera.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "camlib/exports/quelmar_camera.h"
#include "camlib/recorder.h"
#include "camlib/testing/bench_rig.h"

namespace {

using camlib::testing::BenchRig;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;

constexpr int kRounds = 7;
constexpr double kLimitPercent = 5.0;

double RunOnce(const Keys& keys, const std::string& file, uint64_t& bytes, uint64_t& modelledUs) {
    BenchRig rig(QuelmarBench(keys));
    if (!rig.Ok()) {
        std::fprintf(stderr, "record_bench: %s\n", rig.Error().c_str());
        return -1;
    }
    std::vector<uint8_t> image(65536), back;
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 29 + (i >> 8));
    uint8_t code = 0;
    const auto start = std::chrono::steady_clock::now();
    if (!file.empty()) camlib::StartRecording(rig.Ports(), file);
    const int result = camlib::testing::Flash(image, back, code);
    QuelmarCam_UnInit();
    if (!file.empty()) camlib::StopRecording();
    const auto end = std::chrono::steady_clock::now();
    if (result != 0 || back != image) {
        std::fprintf(stderr, "record_bench: the updater's sequence failed at step %d\n", result);
        return -1;
    }
    if (!file.empty()) bytes = std::filesystem::file_size(file);
    modelledUs = rig.Clock().NowUs();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main() {
    const std::string file =
        (std::filesystem::temp_directory_path() / ("record-bench-" + std::to_string(getpid()) + ".txt")).string();
    struct Case {
        const char* name;
        Keys keys;
    } cases[] = {
        {"family f, register port", {{"family", "f"}, {"flash", "121"}}},
        {"family k, window", {{"family", "k"}, {"flash", "127"}}},
    };
    bool ok = true;
    for (const Case& c : cases) {
        double plain = 1e30, recorded = 1e30;
        uint64_t bytes = 0, modelledUs = 0;
        for (int round = 0; round < kRounds; ++round) {
            const double p = RunOnce(c.keys, "", bytes, modelledUs);
            const double r = RunOnce(c.keys, file, bytes, modelledUs);
            if (p < 0 || r < 0) return 1;
            plain = std::min(plain, p);
            recorded = std::min(recorded, r);
        }
        const double emulated = (recorded - plain) / plain * 100.0;
        const double onCamera = (recorded - plain) / (modelledUs / 1000.0) * 100.0;
        std::printf("%-26s emulated run %7.1f ms, recorded %7.1f ms: %+5.1f %% of the emulated run\n", c.name, plain,
                    recorded, emulated);
        std::printf("%-26s the run on a camera %7.0f ms: the recorder adds %+6.2f %%  (transcript %llu bytes)\n", "",
                    modelledUs / 1000.0, onCamera, static_cast<unsigned long long>(bytes));
        ok &= onCamera < kLimitPercent;
    }
    std::filesystem::remove(file);
    std::printf(ok ? "recorder overhead below %.0f %%\n" : "recorder overhead %.0f %% or more\n", kLimitPercent);
    return ok ? 0 : 1;
}
