// Test doubles of the write tool's ports: a recording dialog with timers, COM, worker threads that
// run at once, later or on a real thread, a scripted camera-access library, the two vendor
// libraries answered by the emulated bench's models, and a rig that wires them to one WriteTool the
// way the Win32 shell does. Files, the INI reader and the machine (module path, Sleep) are the
// updater's doubles.
#pragma once

#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "emu/vendor/realtek_model.h"
#include "emu/vendor/sonix_model.h"
#include "kit/process.h"
#include "kit/trace.h"
#include "flashtool/core/ports.h"
#include "rvclib_binding.h"
#include "texts.h"
#include "updater_fakes.h"
#include "write_tool.h"

namespace orfakes {

inline const std::string kDir = "C:\\Bench";
inline const std::string kSetting = "C:\\Bench\\setting.ini";
inline const std::string kPid = "C:\\Bench\\pid.ini";

// Records what the tool does to its dialog; safe to call from a worker thread.
class Dialog final : public orlinde::DialogPort {
public:
    orlinde::WriteTool* tool = nullptr;
    bool registers = true;
    std::function<void()> onPump;

    std::string caption;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled{{orlinde::kIdcFlash, false}, {orlinde::kIdcClose, true}};
    std::map<int, bool> checked;
    std::string logView;
    int scrolls = 0;
    std::vector<int> pictures;
    std::vector<uint32_t> positions;
    std::map<uint32_t, uint32_t> timers;  // running timers: id -> period
    std::vector<uint32_t> timerPeriods;   // every SetTimer period, in order
    int pumps = 0;
    std::thread::id pumpThread;
    struct Box {
        std::string text, caption;
    };
    std::vector<Box> boxes;
    int closeRequests = 0;
    bool closeAllowed = false;
    int icons = 0;

    void SetAppIcon() override { ++icons; }
    void SetCaption(const char* text) override { caption = text; }
    void SetControlText(int id, const char* text) override {
        std::lock_guard<std::mutex> hold(lock_);
        texts[id] = text;
    }
    void EnableControl(int id, bool enable) override { enabled[id] = enable; }
    bool IsChecked(int id) override {
        std::lock_guard<std::mutex> hold(lock_);
        return checked[id];
    }
    void SetChecked(int id, bool value) override {
        std::lock_guard<std::mutex> hold(lock_);
        checked[id] = value;
    }
    void ShowLog(const char* text, bool scrollToEnd) override {
        std::lock_guard<std::mutex> hold(lock_);
        logView = text;
        scrolls += scrollToEnd;
    }
    void ShowPicture(int bitmap) override { pictures.push_back(bitmap); }
    void SetProgressPos(uint32_t percent) override { positions.push_back(percent); }
    void SetTimer(uint32_t id, uint32_t ms) override {
        timers[id] = ms;
        timerPeriods.push_back(ms);
    }
    void KillTimer(uint32_t id) override { timers.erase(id); }
    void PumpMessages() override {
        ++pumps;
        pumpThread = std::this_thread::get_id();
        if (onPump) onPump();
    }
    void ShowMessage(const char* text, const char* boxCaption) override {
        boxes.push_back({text, boxCaption});
    }
    void RequestClose() override {
        ++closeRequests;
        closeAllowed = tool && tool->OnClose();
    }
    bool RegisterVideoNotifications() override { return registers; }

    bool Running(uint32_t id) const { return timers.count(id) != 0; }
    std::string View() {
        std::lock_guard<std::mutex> hold(lock_);
        return logView;
    }

private:
    std::mutex lock_;
};

class Com final : public orlinde::ComPort {
public:
    int inits = 0, uninits = 0;
    void Initialize() override { ++inits; }
    void Uninitialize() override { ++uninits; }
};

// Worker threads: Now runs the body inside Start, Later keeps it for RunAll, Thread starts a real
// thread and Wait joins it within the time given.
class Workers final : public orlinde::WorkerThreadPort {
public:
    enum class Mode { Now, Later, Thread };
    Mode mode = Mode::Now;
    bool fails = false;
    bool hung = false;            // a worker that never ends: every Wait runs out
    std::vector<uint32_t> waits;  // the bound of every Wait
    int started = 0;
    std::vector<std::function<void()>> pending;

    uintptr_t Start(std::function<void()> body) override {
        if (fails) return 0;
        const uintptr_t token = static_cast<uintptr_t>(++started);
        if (mode == Mode::Now) {
            body();
        } else if (mode == Mode::Later) {
            pending.push_back(std::move(body));
        } else {
            threads_[token] = std::async(std::launch::async, std::move(body));
        }
        return token;
    }
    bool Wait(uintptr_t token, uint32_t ms) override {
        waits.push_back(ms);
        if (hung) return false;
        auto it = threads_.find(token);
        if (it == threads_.end()) return true;
        if (it->second.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready) return false;
        threads_.erase(it);
        return true;
    }
    void RunAll() {
        auto bodies = std::move(pending);
        pending.clear();
        for (auto& body : bodies) body();
    }

private:
    std::map<uintptr_t, std::future<void>> threads_;
};

class Console final : public kit::ConsolePort {
public:
    std::string out;
    void Write(const char* text) override { out += text; }
    int ReadChar() override { return -1; }
};

// The camera-access library as a script: results and answers set by the test.
class ScriptedCamera final : public orlinde::QuelmarCameraPort {
public:
    int initResult = 0, identityResult = 0, familyResult = 0, probeResult = 0, switchResult = 0;
    int downloadResult = 0;
    orlinde::CameraIdentity identity{0x3A7C, 0xB5A4, 0x0012};
    char family = 'i';
    uint8_t flashType = 121;
    std::vector<uint8_t> downloadProgress;  // written to the progress byte in turn by Download
    std::function<void()> onProgress;       // after each of them, as if the dialog's timer came
    bool handle = false;
    int creates = 0, destroys = 0, switches = 0, downloads = 0;
    std::vector<uint8_t> written;  // the image of the last download

    bool HasHandle() const override { return handle; }
    void CreateHandle() override {
        handle = true;
        ++creates;
    }
    void DestroyHandle() override {
        destroys += handle;
        handle = false;
    }
    int Init(char, int) override { return initResult; }
    int UsbIdentity(orlinde::CameraIdentity& out) override {
        out = identity;
        return identityResult;
    }
    int ChipFamily(char& out) override {
        out = family;
        return familyResult;
    }
    int ProbeFlashType(uint8_t& out) override {
        out = flashType;
        return probeResult;
    }
    int SwitchMode(int) override {
        ++switches;
        return switchResult;
    }
    // What a backup reads: the flash the camera holds, and the result of the read.
    std::vector<uint8_t> flash;
    int readResult = 0;
    int reads = 0;
    int ReadFlash(uint8_t* buffer, uint32_t length, uint8_t) override {
        ++reads;
        if (readResult != 0) return readResult;
        std::copy_n(flash.begin(), std::min<size_t>(length, flash.size()), buffer);
        return flash.size() < length ? 1 : 0;
    }
    int Download(uint8_t* image, uint32_t length, uint8_t, uint8_t* status, uint8_t* progress) override {
        ++downloads;
        written.assign(image, image + length);
        *status = 21;
        for (uint8_t p : downloadProgress) {
            *progress = p;
            if (onProgress) onProgress();
        }
        *status = 23;
        *progress = 100;
        return downloadResult;
    }
};

// BurnerApLib.dll answered by the bench's Sonix model; no model: a machine without Sonix camera.
class Sonix final : public orlinde::SonixBurnerPort {
public:
    emu::vendor::SonixLibrary* lib = nullptr;
    std::vector<std::string> calls;
    // Bind's answer: bound, no library (missing), or a library lacking the entry point named here.
    bool missing = false;
    std::string lacks;

    bool Bind(std::string& missingEntry) override {
        calls.push_back("Bind");
        missingEntry = lacks;
        return !missing && lacks.empty();
    }
    int32_t InitializeDriverInterface() override {
        calls.push_back("Initialize_DriverInterface");
        return lib ? lib->InitializeDriverInterface() : -1;
    }
    bool GetDeviceList(char16_t (*paths)[kPathChars], int32_t maxPaths, int32_t pathChars,
                       int32_t* count) override {
        calls.push_back("GetDeviceList");
        std::vector<std::string> list;
        if (!lib || !lib->GetDeviceList(list)) return false;
        int32_t written = 0;
        for (const std::string& path : list) {
            if (written == maxPaths) break;
            const size_t n = std::min(path.size(), static_cast<size_t>(pathChars - 1));
            for (size_t i = 0; i < n; ++i) paths[written][i] = static_cast<unsigned char>(path[i]);
            ++written;
        }
        *count = written;
        return true;
    }
    bool GetRomVersion(char* version) override {
        calls.push_back("GetRomVersion");
        return lib && lib->GetRomVersion(version);
    }
    bool GetSectorTableAddr(uint16_t* address) override {
        calls.push_back("GetSectorTableAddr");
        return lib && lib->GetSectorTableAddr(address);
    }
    bool ProcReadFromAsic(uint16_t address, uint8_t* buffer) override {
        calls.push_back("ProcReadFromASIC");
        return lib && lib->ProcReadFromAsic(address, buffer);
    }
    bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) override {
        calls.push_back("ReqToDriver" + std::to_string(request));
        return lib && lib->ReqToDriver(request, address, buffer, length);
    }
    bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) override {
        calls.push_back(enable ? "SetWriteProtect(on)" : "SetWriteProtect(off)");
        return lib && lib->SetWriteProtect(enable, word, byte);
    }
    bool EraseSf() override {
        calls.push_back("EraseSF");
        return lib && lib->EraseSf();
    }
    uint32_t GetProgress() override { return lib ? lib->GetProgress() : 0; }
    int32_t ResetDevice() override {
        calls.push_back("ResetDevice");
        return lib ? lib->ResetDevice() : 0;
    }
};

// RvcLib.dll answered by the bench's Realtek model through functions of the library's own types,
// so that the tool's binding is what calls them.
struct RvcModel {
    static inline emu::vendor::RealtekLibrary* lib = nullptr;
    static inline std::thread::id callbackThread;
    static inline int callbacks = 0;

    static int32_t RVCLIB_CALL Initialize(int32_t r, int32_t m) { return lib->Initialize(r, m); }
    static int32_t RVCLIB_CALL UnInitialize(int32_t m) { return lib->UnInitialize(m); }
    static RvcHandle RVCLIB_CALL Open(int32_t i) { return lib->Open(i); }
    static int32_t RVCLIB_CALL Close(RvcHandle h) { return lib->Close(h); }
    static int32_t RVCLIB_CALL GetVidPidRev(RvcHandle h, uint16_t* v, uint16_t* p, uint16_t* r) {
        return lib->GetVidPidRev(h, v, p, r);
    }
    static int32_t RVCLIB_CALL Info(int32_t i, int32_t* t, int32_t* s) {
        return lib->EepromInfo("EEPROMInfo", i, t, s);
    }
    static int32_t RVCLIB_CALL Write3(int32_t t, int32_t i, int32_t s, const uint8_t* image,
                                      RvcProgressCallback cb) {
        emu::vendor::RealtekLibrary::Progress report;
        if (cb)
            report = [cb](uint32_t done, uint32_t total) {
                callbackThread = std::this_thread::get_id();
                ++callbacks;
                cb(done, total);
            };
        return lib->EepromWrite3(t, i, s, image, report);
    }
    static void Unused() {}
};

class Libraries final : public kit::LibraryPort {
public:
    bool loads = true;
    std::set<std::string> missing;  // names the library lacks
    std::vector<std::string> byName, lookups;
    int frees = 0;

    void* LoadByPath(const char*) override { return nullptr; }
    void* LoadByName(const char* name) override {
        byName.push_back(name);
        return loads && RvcModel::lib ? &module_ : nullptr;
    }
    kit::EntryPoint Find(void*, const char* name) override {
        lookups.push_back(name);
        const std::string n = name;
        if (missing.count(n)) return nullptr;
        if (n == "RvcLib_Initialize") return reinterpret_cast<kit::EntryPoint>(&RvcModel::Initialize);
        if (n == "RvcLib_UnInitialize") return reinterpret_cast<kit::EntryPoint>(&RvcModel::UnInitialize);
        if (n == "UVC_Open") return reinterpret_cast<kit::EntryPoint>(&RvcModel::Open);
        if (n == "UVC_Close") return reinterpret_cast<kit::EntryPoint>(&RvcModel::Close);
        if (n == "UVC_GetDevVIDPIDRev") return reinterpret_cast<kit::EntryPoint>(&RvcModel::GetVidPidRev);
        if (n == "EEPROMInfo") return reinterpret_cast<kit::EntryPoint>(&RvcModel::Info);
        if (n == "EEPROMWrite3") return reinterpret_cast<kit::EntryPoint>(&RvcModel::Write3);
        return &RvcModel::Unused;  // looked up, never called
    }
    void Free(void* module) override { frees += module != nullptr; }

private:
    int module_ = 0;
};

// One write tool, wired as the shell wires it, in C:\Bench with a scripted Quelmar camera by default.
struct Rig {
    twfakes::Machine machine;
    twfakes::Files files{machine};
    twfakes::Profile profile{files};
    Dialog dialog;
    Com com;
    Workers workers;
    Sonix sonix;
    ScriptedCamera scripted;
    orlinde::QuelmarCameraPort* camera = &scripted;
    Libraries libraries;
    Console console;
    kit::RecordingTrace trace;
    std::unique_ptr<orlinde::WriteTool> tool;

    Rig() {
        machine.modulePath = kDir + "\\Orlinde.exe";
        RvcModel::lib = nullptr;
        RvcModel::callbacks = 0;
    }
    ~Rig() {
        tool.reset();
        RvcModel::lib = nullptr;
    }
    orlinde::WriteTool& Make() {
        orlinde::WriteToolPorts ports{dialog,  com,   workers, sonix,   *camera, libraries,
                                      profile, files, machine, console, trace,  machine};
        tool = std::make_unique<orlinde::WriteTool>(ports);
        dialog.tool = tool.get();
        return *tool;
    }
    bool Start() {
        Make();
        return tool->OnInitDialog();
    }
    // setting.ini with these SETTING lines (ChooseBinUsePid on unless given).
    void Settings(const std::string& lines = "ChooseBinUsePid=1\r\n") {
        files.Put(kSetting, "[SETTING]\r\n" + lines);
    }
    void PidIni(const std::string& text) { files.Put(kPid, text); }
    void Bin(const std::string& name, const std::string& bytes) { files.Put(kDir + "\\bin\\" + name, bytes); }
    // Timer `id` fires once, as the dialog's message loop would deliver it.
    void Tick(uint32_t id) {
        if (dialog.Running(id)) tool->OnTimer(id);
    }
    // The progress timer, as its period would deliver it, until the download has ended (at most
    // a minute of real time, for a worker on a real thread).
    void TickUntilDone() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (dialog.Running(orlinde::kTimerProgress) && std::chrono::steady_clock::now() < deadline) {
            tool->OnTimer(orlinde::kTimerProgress);
            if (dialog.Running(orlinde::kTimerProgress))
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

// A firmware image of `n` bytes with a pattern, and the identity block's release at `at`.
inline std::string Image(size_t n, uint8_t seed = 1) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 13 + (i >> 9));
    return s;
}
inline std::string WithRevision(std::string image, uint32_t at, uint16_t rev) {
    if (image.size() >= at + 6) {
        image[at + 4] = static_cast<char>(rev & 0xFF);
        image[at + 5] = static_cast<char>(rev >> 8);
    }
    return image;
}

}  // namespace orfakes
