#include "recovery.h"

#include <map>
#include <memory>

#include "camlib/exports/quelmar_camera.h"
#include "camlib/testing/bench_rig.h"
#include "emulated_usb.h"
#include "linked_camera.h"
#include "orlinde_fakes.h"
#include "quelmar_flow.h"
#include "session.h"
#include "updater_fakes.h"
#include "flashtool/core/texts.h"
#include "write_tool.h"

namespace recovery {
namespace {

namespace fs = std::filesystem;
using camlib::testing::BenchRig;

// The libraries as the updater loads them: QuelmarCamera.dll's own exports; no RvcLib.dll model.
class Libraries final : public kit::LibraryPort {
public:
    void* LoadByPath(const char*) override { return &rvc_; }
    void* LoadByName(const char*) override { return &quelmar_; }
    kit::EntryPoint Find(void* module, const char* name) override {
        if (module == &rvc_) return nullptr;
        return reinterpret_cast<kit::EntryPoint>(camlib::testing::QuelmarExport(name));
    }
    void Free(void*) override {}

private:
    int rvc_ = 0, quelmar_ = 0;
};

// The camera's state once the program's bench is closed, as the next process finds it.
void LookInto(const fs::path& folder, Outcome& o) {
    BenchRig bench(folder);
    if (!bench.Ok()) {
        o.said += "\n(bench: " + bench.Error() + ")";
        return;
    }
    const emu::CameraRecord& cam = bench.Bench().cameras.at(0);
    emu::BenchDevices& devices = bench.shared.Devices();
    o.boot = devices.OffBus(cam) ? emu::BootMode::Dead : devices.Boot(cam);
    o.present = devices.Present(cam);
    o.hardwareId = o.present ? devices.Presented(cam).HardwareId() : "";
}

}  // namespace

bool Replug(const fs::path& folder, const std::string& camera, std::string& error) {
    emu::Bench bench;
    return emu::LoadBench(folder.string(), bench, error) && emu::ReplugCamera(bench, camera, error);
}

Outcome Look(const fs::path& folder) {
    Outcome o;
    LookInto(folder, o);
    return o;
}

Outcome OrlindeRecover(const fs::path& folder, const std::string& firmware, uint16_t productId) {
    Outcome o;
    {
        BenchRig bench(folder);
        if (!bench.Ok()) {
            o.said = "bench: " + bench.Error();
            return o;
        }
        orlinde::LinkedQuelmarCamera camera;
        orfakes::Rig rig;
        rig.camera = &camera;
        rig.Settings("ChooseBinUsePid=1\r\nAutoDL=1\r\nCmdLineMode=1\r\n");
        char section[16];
        std::snprintf(section, sizeof section, "[PID_%04X]", productId);
        rig.PidIni(std::string(section) + "\r\nBIN=fw.bin\r\n");
        rig.Bin("fw.bin", firmware);
        rig.Bin("SF.bin", firmware);
        if (rig.Start()) rig.TickUntilDone();
        o.said = rig.tool->LogText();
        o.ok = o.said.find(orlinde::kDownloadComplete) != std::string::npos;
        o.requests = bench.Chip().RequestCount();
    }
    LookInto(folder, o);
    return o;
}

std::string DevVrk(const std::string& productId, const std::string& romIds) {
    std::string text = "[REALTEK]\r\nPID=5602\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=" + productId + "\r\n";
    if (!romIds.empty()) text += "ROM=" + romIds + "\r\n";
    return text;
}

Outcome TessawRun(const fs::path& folder, const std::string& firmware, const std::string& devVrk,
                  const std::string& productId, const std::string& configEntries) {
    Outcome o;
    {
        BenchRig bench(folder);
        if (!bench.Ok()) {
            o.said = "bench: " + bench.Error();
            return o;
        }
        twfakes::Rig rig;
        Libraries libraries;
        tessaw::bench::EmulatedUsbDevices usb(folder.string(), rig.trace);
        rig.files.Put(twfakes::kDir + "\\config.ini",
                      "[FW_TOOL]\r\nVersion=Camera Update 2.1\r\nLogSwitch=2\r\n"
                      "[DriverCompatible]\r\nQuelmar=6.1.7600.16\r\n[Config]\r\n" +
                          (configEntries.empty() ? "SysID_XXXX_PID_" + productId + "_ModID_01=FW.bin\r\n"
                                                 : configEntries));
        rig.files.Put(twfakes::kDir + "\\dev.vrk", devVrk);
        rig.files.Put(twfakes::kDir + "\\FW.bin", firmware);
        // The driver serves the camera under either identity it may show.
        const emu::CameraRecord& cam = bench.Bench().cameras.at(0);
        rig.registry.InstallDriver(cam.Get("rom_vid", "04FC"), cam.Get("rom_pid", "2080"), "6.1.7601.1");
        tessaw::QuelmarFlow flow;
        tessaw::SessionPorts ports{rig.dialog, rig.trace,    rig.profile, rig.machine, rig.files,
                                   rig.machine, rig.programs, usb,         rig.still,   rig.registry,
                                   libraries,   rig.threads,  rig.sonix};
        rig.session = std::make_unique<tessaw::UpdateSession>("-s", ports, tessaw::FlashFlows{nullptr, nullptr, &flow});
        rig.dialog.session = rig.session.get();
        if (rig.session->OnInitDialog()) {
            rig.session->OnFlash();
            rig.threads.RunAll();
        }
        rig.dialog.Pump();
        o.exitCode = rig.session->ExitCode();
        o.ok = o.exitCode == 0;
        o.said = "exit " + std::to_string(o.exitCode) + ": " + rig.Log();
        QuelmarCam_UnInit();
        o.requests = bench.Chip().RequestCount();
    }
    LookInto(folder, o);
    return o;
}

}  // namespace recovery
