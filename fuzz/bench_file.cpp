// bench.ini: the description, every camera record and the views derived from it, the chip models'
// keys and faults, the capture formats, the vendor libraries' faults and hidden entries, the USB
// tree. The memory images it names are not opened: a bench's files are the bench's own.
#include "emu/bench.h"
#include "emu/bench_devices.h"
#include "emu/capture_filter/stream_settings.h"
#include "emu/usb_topology.h"
#include "emu/vendor/library_keys.h"
#include "emu/vendor/realtek_model.h"
#include "emu/vendor/sonix_model.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file(emu::kBenchFile);
    file.Write(data, size);
    emu::Bench bench;
    std::string error;
    if (!emu::LoadBench(file.Folder(), bench, error)) return 0;
    for (const emu::CameraRecord& camera : bench.cameras) {
        camera.DevicePath();
        camera.HardwareId();
        camera.InstanceId();
        emu::quelmar::ChipConfig config;
        std::vector<emu::quelmar::Fault> faults;
        emu::ParseChipConfig(camera, config, faults, error);
        emu::capture::StreamSettings stream;
        emu::capture::ReadStreamSettings(camera, stream, error);
    }
    emu::vendor::FaultTable table;
    std::vector<std::string> missing;
    emu::vendor::ReadLibraryFaults(bench, "rvclib", emu::vendor::RvcLibEntries(), table, error);
    emu::vendor::ReadLibraryFaults(bench, "burnerap", emu::vendor::BurnerApEntries(), table, error);
    emu::vendor::ReadMissingEntries(bench, "rvclib", emu::vendor::RvcLibEntries(), missing, error);
    emu::UsbTopology topology;
    if (topology.Build(bench, [](const emu::CameraRecord& c) { return c.rev; }, error)) {
        for (int n = 0; n < topology.ControllerCount(); ++n) topology.RootHubName(n);
        for (const emu::CameraRecord& camera : bench.cameras) {
            topology.HubInstanceOf(camera);
            emu::UsbTopology::ConfigurationDescriptor(camera);
        }
    }
    return 0;
}
