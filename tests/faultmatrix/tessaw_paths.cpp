// The updater's three flows, each inside a whole silent run of a real session, over a bench: the
// Quelmar camera through the camera-access library's exports, the Realtek cameras (one, and a
// combo pair) through RvcLib.dll's model, the Sonix camera through BurnerApLib.dll's model. The
// present USB devices are the bench's, so the identification after a write sees what the camera
// holds then.
#include <filesystem>
#include <fstream>
#include <memory>

#include "camlib/exports/quelmar_camera.h"
#include "camlib/testing/bench_rig.h"
#include "emu/vendor/realtek_model.h"
#include "emu/vendor/sonix_model.h"
#include "emulated_usb.h"
#include "quelmar_flow.h"
#include "quelmar_sites.h"
#include "realtek_flow.h"
#include "rvclib_model.h"
#include "session.h"
#include "sonix_flow.h"
#include "texts.h"
#include "updater_fakes.h"
#include "vendor/RvcLib.h"

namespace fm {
namespace {

namespace fs = std::filesystem;
using camlib::testing::BenchRig;

// The libraries as the session loads them: QuelmarCamera.dll's real exports; RvcLib.dll's given.
class Libraries final : public kit::LibraryPort {
public:
    std::map<std::string, kit::EntryPoint> rvc;
    void* LoadByPath(const char*) override { return &rvc_; }
    void* LoadByName(const char*) override { return &quelmar_; }
    kit::EntryPoint Find(void* module, const char* name) override {
        if (module == &rvc_) {
            auto it = rvc.find(name);
            return it == rvc.end() ? nullptr : it->second;
        }
        return reinterpret_cast<kit::EntryPoint>(camlib::testing::QuelmarExport(name));
    }
    void Free(void*) override {}

private:
    int rvc_ = 0, quelmar_ = 0;
};

using twfakes::RvcModel;


// BurnerApLib.dll over the bench's model.
class Burner final : public tessaw::SonixLibraryPort {
public:
    emu::vendor::SonixLibrary* lib = nullptr;
    bool Bind(std::string&) override { return true; }
    int InitializeDriverInterface() override { return lib->InitializeDriverInterface(); }
    bool GetRomVersion(char* version16) override { return lib->GetRomVersion(version16); }
    bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) override {
        return lib->ReqToDriver(request, address, buffer, length);
    }
    bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) override {
        return lib->SetWriteProtect(enable, word, byte);
    }
    bool EraseSF() override { return lib->EraseSf(); }
    int ResetDevice() override { return lib->ResetDevice(); }
};

// A fresh folder for a bench.
fs::path BenchFolder(const std::string& ini) {
    static int serial = 0;
    const fs::path folder =
        fs::temp_directory_path() / ("fault-matrix-bench-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "bench.ini", std::ios::binary) << ini;
    return folder;
}

std::string Pattern(size_t n, uint8_t seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7 + (i >> 12));
    return s;
}

// Whole silent run of a session over these ports; the outcome names the exit code and the first of
// `messages` the dialog's log view shows.
struct Run {
    twfakes::Rig rig;
    Libraries libraries;
    std::unique_ptr<tessaw::bench::EmulatedUsbDevices> usb;
    tessaw::SonixLibraryPort* sonix = &rig.sonix;

    Outcome Silently(tessaw::FlashFlows flows, const std::vector<std::string>& messages) {
        tessaw::SessionPorts ports{rig.dialog, rig.trace,    rig.profile,   rig.machine, rig.files,
                                   rig.machine, rig.programs, *usb,         rig.still,   rig.registry,
                                   libraries,   rig.threads,  *sonix};
        rig.session = std::make_unique<tessaw::UpdateSession>("-s", ports, flows);
        rig.dialog.session = rig.session.get();
        if (rig.session->OnInitDialog()) {
            rig.session->OnFlash();
            rig.threads.RunAll();
        }
        rig.dialog.Pump();
        const int code = rig.session->ExitCode();
        std::string said;
        for (const std::string& m : messages)
            if (said.empty() && rig.dialog.logView.find(m) != std::string::npos) said = m;
        if (said.empty()) said = rig.dialog.LastViewLine();
        const bool unsuccessful = rig.Log().find(tessaw::kResultFailure) != std::string::npos;
        return {code == 0, "exit " + std::to_string(code) + (unsuccessful ? ", Update unsuccessful" : "") + ": " + said};
    }
};

// Exit 1 with "Update unsuccessful" and one of the flow's failure messages, or an exit code of
// its own.
std::function<bool(const Outcome&)> FailureAmong(const std::vector<std::string>& messages,
                                              const std::vector<std::string>& ownCodes = {}) {
    return [messages, ownCodes](const Outcome& o) {
        for (const std::string& c : ownCodes)
            if (o.text.rfind("exit " + c + ":", 0) == 0 || o.text.rfind("exit " + c + ",", 0) == 0) return true;
        if (o.text.rfind("exit 1, Update unsuccessful: ", 0) != 0) return false;
        for (const std::string& m : messages)
            if (o.text.find(m) != std::string::npos) return true;
        return false;
    };
}

const std::vector<std::string> kQuelmarFailures = {
    "SetWriteProtect disable failed!", "Erase memory failed!",          "Write firmware failed!",
    "SetWriteProtect enable failed!",  "Verify code failed!",           "Reset camera device failed!",
    "Camera init failed!",              "Unknown flash type"};

Path TessawQuelmar() {
    Path p;
    p.name = "tessaw.quelmar";
    p.expected = "exit 1, Update unsuccessful + the step's message; exit 22 at Init";
    p.run = [](const Injection& injection) {
        BenchRig bench(FaultedQuelmarBench({{"family", "i"}}, injection));
        RunResult r;
        if (!bench.Ok()) {
            r.outcome.text = bench.Error();
            return r;
        }
        Run run;
        run.usb = std::make_unique<tessaw::bench::EmulatedUsbDevices>(bench.Folder().string(), run.rig.trace);
        run.rig.files.Put(twfakes::kDir + "\\FW_B5A4_01.bin", Pattern(65536, 3));
        tessaw::QuelmarFlow flow;
        const ChipCounts before = bench.Chip().CallCounts();
        std::vector<std::string> messages = kQuelmarFailures;
        r.outcome = run.Silently({nullptr, nullptr, &flow}, messages);
        AddChipSites(r.sites, before, bench.Chip().CallCounts());
        r.outcome.state = "flash " + Digest(bench.Chip().Flash().Image());
        QuelmarCam_UnInit();
        return r;
    };
    p.knownFailure = FailureAmong(kQuelmarFailures, {"22"});
    p.recoveries = QuelmarRecoveries();
    return p;
}

const std::vector<std::string> kRealtekFailures = {"FW update error (", "UVCOpen() miss-match, abort!",
                                                   "Find 0 camera device"};

Path TessawRealtek(bool combo) {
    Path p;
    p.name = combo ? "tessaw.realtek_combo" : "tessaw.realtek";
    p.expected = combo ? "exit 1, Update unsuccessful: FW update error / miss-match / no camera found"
                       : "exit 1, Update unsuccessful: FW update error / no camera found";
    p.camera = combo ? "ir" : "cam0";
    p.run = [combo](const Injection& injection) {
        std::string ini = "[bench]\ncameras=" + std::string(combo ? "rgb,ir" : "cam0") + "\n";
        if (!injection.line.empty()) ini += "rvclib_fault1=" + injection.line + "\n";
        auto record = [](const std::string& name, const std::string& pid, int port) {
            return "[" + name + "]\nchip=realtek\nvid=3A7C\npid=" + pid + "\nrev=0101\nmi=00\nport=" +
                   std::to_string(port) + "\nmemtype=3\neeprom_size=65536\n";
        };
        ini += combo ? record("rgb", "5611", 4) + record("ir", "5612", 5) : record("cam0", "5602", 4);
        const fs::path folder = BenchFolder(ini);
        RunResult r;
        emu::Bench bench;
        std::unique_ptr<emu::vendor::RealtekLibrary> model;
        std::string error;
        if (!emu::LoadBench(folder.string(), bench, error) ||
            !emu::vendor::RealtekLibrary::FromBench(bench, model, error)) {
            r.outcome.text = "bench: " + error;
            return r;
        }
        RvcModel::lib = model.get();
        Run run;
        run.usb = std::make_unique<tessaw::bench::EmulatedUsbDevices>(folder.string(), run.rig.trace);
        run.libraries.rvc = RvcModel::Exports();
        run.rig.files.Put(twfakes::kDir + "\\config.ini",
                          "[FW_TOOL]\r\nVersion=Camera Update 2.1\r\nLogSwitch=2\r\n[Config]\r\n"
                          "SysID_XXXX_PID_5602_ModID_11=FW_5602.rfw\r\n"
                          "SysID_XXXX_PID_5611_ModID_12=FW_5611.rfw\r\n"
                          "SysID_XXXX_PID_5612_ModID_13=FW_5612.rfw\r\n");
        run.rig.files.Put(twfakes::kDir + "\\dev.vrk", "[REALTEK]\r\nPID=5602,5611,5612\r\n[SONIX]\r\nPID=6300\r\n"
                                                       "[QUELMAR]\r\nPID=B5A4\r\n[COMBO]\r\nPID=5611+5612\r\n");
        for (const char* pid : {"5602", "5611", "5612"})
            run.rig.files.Put(twfakes::kDir + "\\FW_" + std::string(pid) + ".rfw", Pattern(65536, 9));
        tessaw::RealtekFlow flow(run.rig.files, run.rig.machine);
        const auto before = model->Faults().Counts();
        r.outcome = run.Silently({&flow, nullptr, nullptr}, kRealtekFailures);
        r.sites = EntrySites(Device::RvcLib, before, model->Faults().Counts());
        AddCutSites(r.sites, Device::RvcLib, model->Faults().CutCalls());
        for (const emu::CameraRecord& camera : bench.cameras)
            r.outcome.state += camera.name + " " + Digest(*model->Memory(camera.name)) + " ";
        RvcModel::lib = nullptr;
        fs::remove_all(folder);
        return r;
    };
    p.knownFailure = FailureAmong(kRealtekFailures, {"37"});
    // Results the flow is meant to ignore.
    for (const char* op : {"RvcLib_Initialize", "RvcLib_UnInitialize", "UVC_Close"})
        p.recoveries.push_back({Device::RvcLib, op, -2, static_cast<unsigned>(Kind::Fail),
                                std::string(op) + "'s result is ignored by design", nullptr});
    p.recoveries.push_back({Device::RvcLib, "RvcLib_UnInitialize", -2, static_cast<unsigned>(Kind::Cut),
                            "the power went after the verified write and the identification that saw the new "
                            "revision: the camera holds the firmware",
                            nullptr});
    p.recoveries.push_back({Device::RvcLib, "UVC_GetDevVIDPID", -2, static_cast<unsigned>(Kind::Corrupt),
                            "the first byte handed back is the VID's, which the flow does not compare", nullptr});
    return p;
}

const std::vector<std::string> kSonixFailures = {
    "SetWriteProtect to disable failed!", "Erase memory failed!",        "Write firmware failed!",
    "SetWriteProtect to enable failed!",  "Verify code failed!",         "Reset camera device failed!",
    "Camera init failed!"};

Path TessawSonix() {
    Path p;
    p.name = "tessaw.sonix";
    p.expected = "exit 1, Update unsuccessful + the step's message; exit 21 at init";
    p.run = [](const Injection& injection) {
        std::string ini = "[bench]\ncameras=cam0\n";
        if (!injection.line.empty()) ini += "burnerap_fault1=" + injection.line + "\n";
        ini +=
            "[cam0]\nchip=sonix\nvid=3A7C\npid=6300\nrev=0105\nmi=00\nport=2\nrom_version=232RO\nrom_index=1\n"
            "flash_size=65536\n";
        const fs::path folder = BenchFolder(ini);
        RunResult r;
        emu::Bench bench;
        std::unique_ptr<emu::vendor::SonixLibrary> model;
        std::string error;
        if (!emu::LoadBench(folder.string(), bench, error) ||
            !emu::vendor::SonixLibrary::FromBench(bench, model, error)) {
            r.outcome.text = "bench: " + error;
            return r;
        }
        Burner burner;
        burner.lib = model.get();
        Run run;
        run.sonix = &burner;
        run.usb = std::make_unique<tessaw::bench::EmulatedUsbDevices>(folder.string(), run.rig.trace);
        run.rig.files.Put(twfakes::kDir + "\\FW_6300.bin", Pattern(65536, 5));
        tessaw::SonixFlow flow;
        const auto before = model->Faults().Counts();
        r.outcome = run.Silently({nullptr, &flow, nullptr}, kSonixFailures);
        r.sites = EntrySites(Device::BurnerAp, before, model->Faults().Counts());
        DropWiderEntries(r.sites);
        AddCutSites(r.sites, Device::BurnerAp, model->Faults().CutCalls());
        r.outcome.state = "flash " + Digest(*model->Memory("cam0")) + (model->Protected("cam0") ? ", protected" : "");
        fs::remove_all(folder);
        return r;
    };
    p.knownFailure = FailureAmong(kSonixFailures, {"21"});
    const unsigned failOrCorrupt = static_cast<unsigned>(Kind::Fail) | static_cast<unsigned>(Kind::Corrupt);
    p.recoveries.push_back({Device::BurnerAp, "ReqToDriver.read", -2, failOrCorrupt,
                            "the protection byte's read is not tested: the library keeps its own record",
                            [](uint32_t call, const Site&) { return call == 1; }});
    p.recoveries.push_back({Device::BurnerAp, "GetRomVersion", -2, failOrCorrupt,
                            "the ROM version only picks the protection byte's address, whose read is not tested",
                            nullptr});
    return p;
}

}  // namespace

Outcome TessawQuelmarSilently(const std::string& benchFolder, const std::string& image, const std::string& devVrk) {
    Run run;
    run.usb = std::make_unique<tessaw::bench::EmulatedUsbDevices>(benchFolder, run.rig.trace);
    run.rig.files.Put(twfakes::kDir + "\\FW_B5A4_01.bin", image);
    if (!devVrk.empty()) run.rig.files.Put(twfakes::kDir + "\\dev.vrk", devVrk);
    // The driver serves the camera under its ROM's identity too, as on a real computer.
    run.rig.registry.InstallDriver("04FC", "2080", "6.1.7601.1");
    tessaw::QuelmarFlow flow;
    const Outcome o = run.Silently({nullptr, nullptr, &flow}, kQuelmarFailures);
    QuelmarCam_UnInit();
    return o;
}

std::vector<Path> TessawPaths() { return {TessawQuelmar(), TessawRealtek(false), TessawRealtek(true), TessawSonix()}; }

}  // namespace fm
