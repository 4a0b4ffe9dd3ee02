// Which ports the library runs on by default: the emulated bench that CAMKIT_BENCH names, else the
// host's own.
#include <memory>

#include "camlib/emulated/emulated_platform.h"
#include "camlib/host_platform.h"
#include "camlib/recorder.h"

namespace camlib {
namespace {

struct SystemChoice {
    std::unique_ptr<emu::capture::SharedBench> bench;
    std::unique_ptr<EmulatedPlatform> emulated;
    Platform* platform = nullptr;

    SystemChoice() {
        Platform& host = HostPlatform();
        platform = &host;
        std::optional<std::string> folder = emu::BenchFolderFromEnvironment();
        if (!folder) return;
        emu::TraceBenchInUse(*host.trace, *folder);
        std::string error;
        bench = std::make_unique<emu::capture::SharedBench>();
        if (bench->Open(*folder, error)) {
            emulated =
                std::make_unique<EmulatedPlatform>(*bench, *host.trace, *host.profile, host.settingFile);
            platform = &emulated->Get();
            // The bench stands in for the devices, not for the system's code page.
            platform->ansi = host.ansi;
            platform->program = host.program;
            return;
        }
        kit::TraceF(*host.trace, "Emulated bench cannot be used: %s\n", error.c_str());
        platform = &FailedPlatform(*host.trace, *host.profile);
        platform->settingFile = host.settingFile;
        platform->program = host.program;
    }
};

SystemChoice& Choice() {
    static SystemChoice choice;
    return choice;
}

}  // namespace

Platform& SystemPlatform() { return *Choice().platform; }

void EndSystemRun() {
    StopRecording();
    if (Choice().bench) Choice().bench->FinishReplays();
}

}  // namespace camlib
