// Kestrim's ID list ("Brevant_camera_ID.txt") against the device paths of the present cameras, read
// through the real text-mode reader, with the parameter the launcher was started with.
#include <cstdio>

#include "fakes.h"
#include "fuzz_support.h"
#include "kestrim.h"

namespace {

// The list's bytes as a file opened for reading.
class ListFile final : public kestrim::FilePort {
public:
    explicit ListFile(std::string bytes) : bytes_(std::move(bytes)) {}
    std::unique_ptr<kestrim::CharSource> OpenText(const char*) override {
        if (bytes_.empty()) return kestrim::TextModeReader(std::fopen("/dev/null", "rb"));
        return kestrim::TextModeReader(fmemopen(bytes_.data(), bytes_.size(), "rb"));
    }

private:
    std::string bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string parameter = fuzz::CString(in, 10);
    fakes::VideoInput devices;
    const int paths = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < paths; ++i) devices.AddPath(fuzz::CString(in, 80));
    // One camera of the module maker always, so that the list is read.
    devices.AddPath("\\\\?\\usb#vid_3b1d&pid_" + fuzz::CString(in, 6) + "&mi_00#6&1a2b3c4d&0&0000#{x}\\global");
    ListFile list(in.ConsumeRemainingBytesAsString());
    fakes::Processes processes;
    fakes::Console console;
    kestrim::Ports ports{devices, processes, console, list};
    const char* argv[] = {"Kestrim.exe", parameter.c_str()};
    kestrim::Run(parameter.empty() ? 1 : 2, argv, ports);
    for (const fakes::ScriptedChild& child : processes.started)
        if (child.commandLine.size() > kestrim::kMaxLine) __builtin_trap();  // a started line was cut
    return 0;
}
