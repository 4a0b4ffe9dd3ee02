// Test doubles of the updater's ports: a machine with a virtual clock, in-memory files read through
// the real INI reader, scripted USB devices, registry, libraries and threads, a recording dialog, and
// a rig that wires them to one UpdateSession the way the Win32 shell does.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kit/driver_registry.h"
#include "kit/file_system.h"
#include "kit/hidden_start.h"
#include "kit/library_loader.h"
#include "kit/process.h"
#include "kit/profile.h"
#include "kit/trace.h"
#include "kit/wall_clock.h"
#include "updater/core/ports.h"
#include "session.h"
#include "text_util.h"
#include "texts.h"

namespace twfakes {

using tessaw::Lower;

// The machine: module path, current directory and one virtual clock for Sleep, the processor clock
// and the local time.
class Machine final : public kit::SystemPort, public kit::ClockPort {
public:
    std::string modulePath = "C:\\Kit\\Tessaw.exe";
    std::string currentDirectory = "C:\\Users\\me\\Downloads";
    uint64_t nowMs = 0;
    uint32_t clockAtStart = 250;                    // processor clock when the test begins
    kit::LocalTime start{2024, 5, 6, 14, 3, 0, 1};  // a Monday
    std::vector<uint32_t> sleeps;
    std::function<void()> onSleep;  // lets a test change the world while the session waits

    uint32_t ModuleFileName(char* out, uint32_t size) override {
        size_t n = std::min<size_t>(modulePath.size(), size - 1);
        modulePath.copy(out, n);
        out[n] = '\0';
        return modulePath.size() < size ? static_cast<uint32_t>(n) : size;
    }
    // PathRemoveFileSpecA: a root keeps its backslash.
    bool RemoveFileSpec(char* path) override {
        std::string p = path;
        size_t slash = p.find_last_of('\\');
        if (slash == std::string::npos) return false;
        p.erase(slash == 2 && p[1] == ':' ? 3 : slash);
        p.copy(path, p.size());
        path[p.size()] = '\0';
        return true;
    }
    bool ChangeDirectory(const char* path) override {
        currentDirectory = path;
        return true;
    }
    void Sleep(uint32_t ms) override {
        nowMs += ms;
        sleeps.push_back(ms);
        if (onSleep) onSleep();
    }
    uint32_t ProcessMilliseconds() override { return clockAtStart + static_cast<uint32_t>(nowMs); }
    kit::LocalTime Now() override {
        kit::LocalTime t = start;
        uint64_t minutes = static_cast<uint64_t>(t.hour) * 60 + t.minute + nowMs / 60000;
        t.hour = static_cast<int>(minutes / 60 % 24);
        t.minute = static_cast<int>(minutes % 60);
        return t;
    }
};

// In-memory files. Paths are compared without case, as on Windows; ".\" is the current directory.
class Files final : public kit::FileSystemPort {
public:
    explicit Files(const Machine& machine) : machine_(machine) {}

    struct Entry {
        std::string path;
        std::string bytes;
        bool directory = false;
    };
    std::string temp = "C:\\Users\\me\\AppData\\Local\\Temp\\";
    std::set<std::string> unopenable;  // exist, but every open fails
    std::set<std::string> undeletable;
    std::map<std::string, std::vector<std::string>> listings;  // pattern -> names, replaces matching
    std::vector<std::string> deleted;
    int flushes = 0;
    // A full disk for the files it names (lower-case path): their writes fail and change nothing.
    std::function<bool(const std::string& key)> writeFails;

    std::string Resolve(const std::string& path) const {
        if (path.rfind(".\\", 0) == 0) return machine_.currentDirectory + "\\" + path.substr(2);
        return path;
    }
    static std::string Key(const std::string& path) { return Lower(path); }

    void Put(const std::string& path, const std::string& bytes) {
        std::string key = Key(Resolve(path));
        if (!entries_.count(key)) order_.push_back(key);
        entries_[key] = Entry{Resolve(path), bytes, false};
    }
    void PutDirectory(const std::string& path) {
        std::string key = Key(path);
        if (!entries_.count(key)) order_.push_back(key);
        entries_[key] = Entry{path, "", true};
    }
    bool Has(const std::string& path) const { return entries_.count(Key(Resolve(path))) != 0; }
    std::string Get(const std::string& path) const {
        auto it = entries_.find(Key(Resolve(path)));
        return it == entries_.end() ? std::string() : it->second.bytes;
    }
    void Remove(const std::string& path) {
        std::string key = Key(Resolve(path));
        entries_.erase(key);
        order_.erase(std::remove(order_.begin(), order_.end(), key), order_.end());
    }

    bool FileExists(const char* path) override {
        auto it = entries_.find(Key(Resolve(path)));
        return it != entries_.end() && !it->second.directory;
    }
    std::vector<std::string> Matches(const char* pattern) override {
        auto listed = listings.find(pattern);
        if (listed != listings.end()) return listed->second;
        std::string p = Resolve(pattern);
        size_t slash = p.find_last_of('\\');
        std::string folder = Key(p.substr(0, slash));
        std::string suffix = Key(p.substr(slash + 2));  // after "\*"
        std::vector<std::string> names;
        for (const std::string& key : order_) {
            size_t s = key.find_last_of('\\');
            if (key.substr(0, s) != folder) continue;
            if (key.size() < suffix.size() ||
                key.compare(key.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            const std::string& path = entries_.at(key).path;
            names.push_back(path.substr(path.find_last_of('\\') + 1));
        }
        return names;
    }
    bool Status(const char* path, uint64_t& size) override {
        auto it = entries_.find(Key(Resolve(path)));
        if (it == entries_.end()) return false;
        size = it->second.bytes.size();
        return true;
    }

    class Reader final : public kit::ReadableFile {
    public:
        explicit Reader(std::string bytes) : bytes_(std::move(bytes)) {}
        uint64_t Length() override { return bytes_.size(); }
        uint32_t Read(void* out, uint32_t size) override {
            uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, bytes_.size() - at_));
            if (n) bytes_.copy(static_cast<char*>(out), n, at_);
            at_ += n;
            return n;
        }

    private:
        std::string bytes_;
        size_t at_ = 0;
    };
    class Writer final : public kit::WritableFile {
    public:
        Writer(Files& files, std::string key) : files_(files), key_(std::move(key)) {}
        bool Write(const void* data, size_t size) override {
            auto it = files_.entries_.find(key_);
            if (it == files_.entries_.end()) return false;
            if (files_.writeFails && files_.writeFails(key_)) return false;
            it->second.bytes.append(static_cast<const char*>(data), size);
            return true;
        }
        bool Flush() override {
            ++files_.flushes;
            return true;
        }

    private:
        Files& files_;
        std::string key_;
    };

    std::unique_ptr<kit::ReadableFile> OpenRead(const char* path) override {
        auto it = entries_.find(Key(Resolve(path)));
        if (it == entries_.end() || it->second.directory || unopenable.count(Key(Resolve(path))))
            return nullptr;
        return std::make_unique<Reader>(it->second.bytes);
    }
    std::unique_ptr<kit::WritableFile> OpenAppend(const char* path) override {
        std::string key = Key(Resolve(path));
        if (unopenable.count(key)) return nullptr;
        auto it = entries_.find(key);
        if (it != entries_.end() && it->second.directory) return nullptr;
        if (it == entries_.end()) Put(path, "");
        return std::make_unique<Writer>(*this, key);
    }
    std::unique_ptr<kit::WritableFile> Create(const char* path) override {
        std::string key = Key(Resolve(path));
        if (unopenable.count(key)) return nullptr;
        Put(path, "");
        return std::make_unique<Writer>(*this, key);
    }
    bool Delete(const char* path) override {
        std::string key = Key(Resolve(path));
        if (!entries_.count(key) || undeletable.count(key)) return false;
        deleted.push_back(Resolve(path));
        Remove(path);
        return true;
    }
    std::string TempFolder(uint32_t maxChars) override {
        return temp.size() < maxChars ? temp : std::string();
    }

    // Opens are keyed by lower-case paths; tests name them as written.
    void MakeUnopenable(const std::string& path) { unopenable.insert(Key(Resolve(path))); }

private:
    const Machine& machine_;
    std::map<std::string, Entry> entries_;
    std::vector<std::string> order_;
};

// The real INI reader over the in-memory files: each read copies the file to a scratch folder.
class Profile final : public kit::ProfileReader {
public:
    explicit Profile(Files& files) : files_(files) {
        char dir[] = "/tmp/tessaw_profile_XXXXXX";
        if (mkdtemp(dir)) scratch_ = dir;
    }
    ~Profile() override {
        std::remove(ScratchFile().c_str());
        rmdir(scratch_.c_str());
    }
    std::map<std::string, int> reads;  // by file name as the session passes it

    uint32_t GetString(const char* section, const char* key, const char* def, char* out, uint32_t size,
                       const char* file) override {
        return real_.GetString(section, key, def, out, size, Stage(file).c_str());
    }
    uint32_t GetSection(const char* section, char* out, uint32_t size, const char* file) override {
        return real_.GetSection(section, out, size, Stage(file).c_str());
    }
    uint32_t GetSectionNames(char* out, uint32_t size, const char* file) override {
        return real_.GetSectionNames(out, size, Stage(file).c_str());
    }
    uint32_t GetInt(const char* section, const char* key, int32_t def, const char* file) override {
        return real_.GetInt(section, key, def, Stage(file).c_str());
    }

private:
    std::string ScratchFile() const { return scratch_ + "/staged.ini"; }
    std::string Stage(const char* file) {
        ++reads[file];
        std::remove(ScratchFile().c_str());
        if (!files_.Has(file)) return ScratchFile();
        std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
        std::string bytes = files_.Get(file);
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return ScratchFile();
    }
    Files& files_;
    kit::PortableProfile real_;
    std::string scratch_;
};

class Programs final : public kit::ProgramStartPort {
public:
    uint32_t result = 42;
    std::vector<std::string> started;
    std::function<void()> onStart;
    uint32_t StartHidden(const char* path) override {
        started.push_back(path);
        if (onStart) onStart();
        return result;
    }
};

class Usb final : public kit::UsbDevicePort {
public:
    bool opens = true;
    std::vector<kit::UsbDevice> devices;
    int listings = 0;
    void Add(const std::string& hardwareId) { devices.push_back({hardwareId}); }
    bool ListPresent(std::vector<kit::UsbDevice>& out) override {
        ++listings;
        out.clear();
        if (!opens) return false;
        out = devices;
        return true;
    }
};

class StillCapture final : public kit::StillCapturePort {
public:
    explicit StillCapture(const Machine& machine) : machine_(machine) {}
    std::vector<std::string> calls;  // "init 3a7c:5602 @0", "clear @100"
    int32_t InitStillGraph(uint16_t vid, uint16_t pid) override {
        char line[64];
        std::snprintf(line, sizeof line, "init %04x:%04x @%llu", vid, pid,
                      static_cast<unsigned long long>(machine_.nowMs));
        calls.push_back(line);
        return 0;
    }
    void ClearGraphs() override { calls.push_back("clear @" + std::to_string(machine_.nowMs)); }

private:
    const Machine& machine_;
};

// Keys by full path without case; each key knows its subkeys in creation order and its values.
class Registry final : public kit::RegistryPort {
public:
    int openKeys = 0;  // keys opened and not yet closed

    void AddKey(const std::string& path) {
        std::string key = Lower(path);
        if (nodes_.count(key)) return;
        nodes_[key];
        size_t slash = path.find_last_of('\\');
        if (slash != std::string::npos) {
            AddKey(path.substr(0, slash));
            nodes_[Lower(path.substr(0, slash))].subkeys.push_back(path.substr(slash + 1));
        }
    }
    void SetValue(const std::string& path, const std::string& name, const std::string& value) {
        AddKey(path);
        nodes_[Lower(path)].values[name] = value;
    }
    void RemoveKey(const std::string& path) { nodes_.erase(Lower(path)); }
    void RemoveValue(const std::string& path, const std::string& name) {
        nodes_[Lower(path)].values.erase(name);
    }

    static std::string DeviceKey(const std::string& vid, const std::string& pid) {
        return "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_" + Lower(vid) + "&Pid_" + Lower(pid) + "&MI_00";
    }
    static constexpr const char* kDriverName = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
    static std::string DriverKey() {
        return std::string("SYSTEM\\ControlSet001\\Control\\Class\\") + kDriverName;
    }
    // A camera interface with an installed driver of `version`.
    void InstallDriver(const std::string& vid, const std::string& pid, const std::string& version) {
        SetValue(DeviceKey(vid, pid) + "\\6&2f1a3b&0&0000", "Driver", kDriverName);
        SetValue(DriverKey(), "DriverVersion", version);
    }

    bool OpenLocalMachine(const char* path, Key& out) override { return Open(path, out); }
    bool OpenSubKey(Key parent, const char* name, Key& out) override {
        std::string base = *static_cast<std::string*>(parent);
        std::string sub = name;
        return Open(sub.empty() ? base : base + "\\" + sub, out);
    }
    bool SubKeyName(Key key, uint32_t index, uint32_t maxChars, std::string& name) override {
        const Node& node = nodes_[*static_cast<std::string*>(key)];
        if (index >= node.subkeys.size() || node.subkeys[index].size() >= maxChars) return false;
        name = node.subkeys[index];
        return true;
    }
    bool ReadString(Key key, const char* value, uint32_t maxBytes, std::string& out) override {
        const Node& node = nodes_[*static_cast<std::string*>(key)];
        auto it = node.values.find(value);
        if (it == node.values.end() || it->second.size() + 1 > maxBytes) return false;
        out = it->second;
        return true;
    }
    void Close(Key key) override {
        if (!key) return;
        delete static_cast<std::string*>(key);
        --openKeys;
    }

private:
    struct Node {
        std::vector<std::string> subkeys;
        std::map<std::string, std::string> values;
    };
    bool Open(const std::string& path, Key& out) {
        std::string key = Lower(path);
        while (!key.empty() && key.back() == '\\') key.pop_back();
        if (!nodes_.count(key)) return false;
        out = new std::string(key);
        ++openKeys;
        return true;
    }
    std::map<std::string, Node> nodes_;
};

// What the stand-in QuelmarCamera.dll exports do; reset by every Rig.
struct QuelmarStub {
    static inline int initResult = 0;
    static inline std::vector<int> initArgs;
    static int Init(int device) {
        initArgs.push_back(device);
        return initResult;
    }
    static int NoArguments() { return 0; }
    static int Table(unsigned char) { return 0; }
    static int FlashType(unsigned char* code) {
        *code = 0x7B;
        return 0;
    }
    static int Download(unsigned char*, unsigned char, unsigned int, int) { return 0; }
    static int Upload(unsigned char*, unsigned int, unsigned char) { return 0; }
    static inline unsigned char family = 'i';
    static int ChipFamily(unsigned char* out) {
        *out = family;
        return 0;
    }
    static void Unused() {}
    static void Reset() {
        family = 'i';
        initResult = 0;
        initArgs.clear();
    }
};

class Libraries final : public kit::LibraryPort {
public:
    std::set<std::string> unloadable;      // lower-case full paths or names
    std::set<std::string> missingExports;  // names of exports the libraries lack
    std::map<std::string, kit::EntryPoint> rvcExports;  // RvcLib.dll's callable exports, by name
    std::vector<std::string> byPath, byName, lookups;
    std::vector<void*> freed;

    void* LoadByPath(const char* fullPath) override {
        byPath.push_back(fullPath);
        return unloadable.count(Lower(fullPath)) ? nullptr : &rvc_;
    }
    void* LoadByName(const char* name) override {
        byName.push_back(name);
        return unloadable.count(Lower(name)) ? nullptr : &quelmar_;
    }
    kit::EntryPoint Find(void* module, const char* name) override {
        lookups.push_back(name);
        if (missingExports.count(name)) return nullptr;
        if (module != &quelmar_) {
            auto rvc = rvcExports.find(name);
            return rvc != rvcExports.end() ? rvc->second : &QuelmarStub::Unused;
        }
        const std::string n = name;
        if (n == "QuelmarCam_Init") return reinterpret_cast<kit::EntryPoint>(&QuelmarStub::Init);
        if (n == "Get_FlashType") return reinterpret_cast<kit::EntryPoint>(&QuelmarStub::FlashType);
        if (n == "Download_Sector") return reinterpret_cast<kit::EntryPoint>(&QuelmarStub::Download);
        if (n == "Upload_Sector") return reinterpret_cast<kit::EntryPoint>(&QuelmarStub::Upload);
        if (n == "Get_ChipFamily") return reinterpret_cast<kit::EntryPoint>(&QuelmarStub::ChipFamily);
        if (n == "QuelmarCam_UnInit" || n == "ResetCamera")
            return reinterpret_cast<kit::EntryPoint>(&QuelmarStub::NoArguments);
        return reinterpret_cast<kit::EntryPoint>(&QuelmarStub::Table);
    }
    void Free(void* module) override {
        if (module) freed.push_back(module);
    }
    void* RvcModule() { return &rvc_; }

private:
    int rvc_ = 0;
    int quelmar_ = 0;
};

// Keeps each started body until the test runs it, so that the session can be looked at while an
// update "runs".
class Threads final : public kit::ThreadPort {
public:
    bool fails = false;
    int started = 0;
    std::vector<std::function<void()>> pending;
    bool StartBelowNormal(std::function<void()> body) override {
        if (fails) return false;
        ++started;
        pending.push_back(std::move(body));
        return true;
    }
    void RunAll() {
        auto bodies = std::move(pending);
        pending.clear();
        for (auto& body : bodies) body();
    }
};

class Sonix final : public tessaw::SonixLibraryPort {
public:
    int initResult = 1;
    int inits = 0;
    std::string rom = "231R0-1";
    // Bind's answer: bound, no library (missing), or a library lacking the entry point named here.
    bool missing = false;
    std::string lacks;
    int binds = 0;
    bool Bind(std::string& missingEntry) override {
        ++binds;
        missingEntry = lacks;
        return !missing && lacks.empty();
    }
    int InitializeDriverInterface() override {
        ++inits;
        return initResult;
    }
    bool GetRomVersion(char* version16) override {
        rom.copy(version16, std::min<size_t>(rom.size(), 15));
        return true;
    }
    // The flow's calls; the session tests run a scripted flow instead.
    bool ReqToDriver(uint8_t, uint32_t, uint8_t*, uint32_t) override { return true; }
    bool SetWriteProtect(bool, uint16_t&, uint8_t&) override { return true; }
    bool EraseSF() override { return true; }
    int ResetDevice() override { return 1; }
};

// A flow that only says how the update went.
class Flow final : public tessaw::FlashFlow {
public:
    bool succeeds = true;
    int runs = 0;
    std::function<void(tessaw::UpdateSession&)> body;
    void Run(tessaw::UpdateSession& session) override {
        ++runs;
        if (body) body(session);
        session.SetSuccess(succeeds);
    }
};

// The computer's power state, as the power check reads it.
class Power final : public kit::PowerPort {
public:
    kit::PowerStatus status{kit::PowerSource::Mains, 100};
    int reads = 0;
    kit::PowerStatus Read() override {
        ++reads;
        return status;
    }
};

// Records what the session does to its dialog and routes sent messages back as the shell does.
class Dialog final : public kit::DialogPort {
public:
    tessaw::UpdateSession* session = nullptr;

    std::string caption = "Korvath Firmware Update Tool";
    std::map<int, std::string> texts;
    std::map<int, bool> enabled{{tessaw::kIdcFlash, true}, {tessaw::kIdcExit, true}};
    std::map<int, bool> checked;
    uint32_t range = 100, position = 0;
    std::vector<uint32_t> positions;
    std::string logView;
    int oneLineScrolls = 0, bottomScrolls = 0, repaints = 0;
    std::string resultText;
    uint32_t resultColour = kit::kButtonTextColour;
    bool hidden = false, destroyed = false;
    struct Box {
        std::string text;
        bool errorIcon;
    };
    std::vector<Box> boxes;
    std::vector<uint32_t> posted;
    uintptr_t registration = 0xBEEF;
    std::vector<uintptr_t> unregistered;

    void SetCaption(const char* text) override { caption = text; }
    void SetControlText(int id, const char* text) override { texts[id] = text; }
    void EnableControl(int id, bool enable) override { enabled[id] = enable; }
    bool IsChecked(int id) override { return checked[id]; }
    void SetChecked(int id, bool value) override { checked[id] = value; }
    void SetProgressRange(uint32_t upper) override { range = upper; }
    void SetProgressPos(uint32_t pos) override {
        position = pos;
        positions.push_back(pos);
    }
    void AppendToLogView(const char* text) override { logView += text; }
    void ScrollLogViewOneLine() override { ++oneLineScrolls; }
    void PostScrollLogViewToBottom() override { ++bottomScrolls; }
    void SetResult(const char* text, uint32_t colour) override {
        resultText = text;
        resultColour = colour;
        texts[tessaw::kIdcResult] = text;
    }
    void Repaint() override { ++repaints; }
    void Hide() override { hidden = true; }
    int ShowMessage(const char* text, bool errorIcon) override {
        boxes.push_back({text, errorIcon});
        return 1;
    }
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        if (destroyed) return 0;
        if (message == kit::kWmClose) {
            session->OnCancel();
            return 0;
        }
        return session->OnUpdateMessage(message, wParam, lParam);
    }
    bool Post(uint32_t message, uintptr_t, intptr_t) override {
        posted.push_back(message);
        return true;
    }
    // Delivers the posted close requests, as the message loop would.
    void Pump() {
        auto queue = std::move(posted);
        posted.clear();
        for (uint32_t m : queue)
            if (m == kit::kWmClose && !destroyed) session->OnCancel();
    }
    void Destroy() override {
        destroyed = true;
        session->OnDestroy();
    }
    uintptr_t RegisterUsbNotifications() override { return registration; }
    void UnregisterUsbNotifications(uintptr_t handle) override { unregistered.push_back(handle); }

    // The last line shown in the log view.
    std::string LastViewLine() const {
        size_t at = logView.rfind(tessaw::kViewPrefix);
        return at == std::string::npos ? std::string() : logView.substr(at);
    }
};

inline const std::string kDir = "C:\\Kit";
inline const std::string kLogFile = "C:\\Kit\\FW Update Log.log";
inline const std::string kQuelmarCamera = "USB\\VID_3A7C&PID_B5A4&REV_0012&MI_00";

// One updater, wired like the shell wires it: by default a Quelmar camera B5A4 on computer 17A3 with
// logging into the program directory, every file in place and a new enough driver.
struct Rig {
    Machine machine;
    Files files{machine};
    Profile profile{files};
    Programs programs;
    Usb usb;
    StillCapture still{machine};
    Registry registry;
    Libraries libraries;
    Threads threads;
    Sonix sonix;
    Power power;
    Dialog dialog;
    kit::RecordingTrace trace;
    Flow realtekFlow, sonixFlow, quelmarFlow;
    tessaw::FlashFlows flows{&realtekFlow, &sonixFlow, &quelmarFlow};
    std::unique_ptr<tessaw::UpdateSession> session;
    std::string systemId = "17a3";

    Rig() {
        QuelmarStub::Reset();
        files.Put(kDir + "\\Tessaw.exe", "MZ");
        files.Put(kDir + "\\config.ini",
                  "[FW_TOOL]\r\nVersion=Camera Update 2.1\r\nLogSwitch=2\r\n"
                  "[DriverCompatible]\r\nQuelmar=6.1.7600.16\r\n"
                  "[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin\r\n"
                  "SysID_XXXX_PID_5602_ModID_11=FW_5602.rfw\r\n"
                  "SysID_XXXX_PID_5603_ModID_12=FW_5603.rfw\r\n"
                  "SysID_XXXX_PID_6300_ModID_21=FW_6300.bin\r\n");
        files.Put(kDir + "\\dev.vrk",
                  "[REALTEK]\r\nPID=5602,5603\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\n");
        files.Put(kDir + "\\SubSystemID.exe", "MZ");
        files.Put(kDir + "\\FW_B5A4_01.bin", std::string(65536, '\x5A'));
        programs.onStart = [this] {
            files.Put(kDir + "\\ID_Log.ini", "[SUBSYSTEM]\r\nSYSID=" + systemId + "\r\n");
        };
        usb.Add("USB\\ROOT_HUB30&VID8086&PID1E31&REV0004");
        usb.Add(kQuelmarCamera);
        registry.InstallDriver("3A7C", "B5A4", "6.1.7601.1");
    }

    tessaw::UpdateSession& Make(const std::string& commandLine = "-s") {
        tessaw::SessionPorts ports{dialog, trace, profile,  machine,   files,   machine, programs,
                                   usb,    still, registry, libraries, threads, sonix};
        session = std::make_unique<tessaw::UpdateSession>(commandLine, ports, flows);
        session->SetPowerPort(&power);
        dialog.session = session.get();
        return *session;
    }
    bool Start(const std::string& commandLine = "-s") {
        Make(commandLine);
        return session->OnInitDialog();
    }
    // FLASH, then the update worker runs to its end.
    void Flash() {
        session->OnFlash();
        threads.RunAll();
    }
    // A silent run as the shell makes it: start-up, the posted FLASH click, the message loop.
    int RunSilently() { return RunSilentlyThen(nullptr); }
    // The same, with a look at the session after its update and before the closing steps clear it
    // (the entry table, the found devices).
    int RunSilentlyThen(const std::function<void()>& beforeClose) {
        if (Start("-s")) Flash();
        if (beforeClose) beforeClose();
        dialog.Pump();
        return session->ExitCode();
    }
    std::string Log() const { return files.Get(kLogFile); }
    bool Traced(const std::string& line) const {
        return std::find(trace.lines.begin(), trace.lines.end(), line) != trace.lines.end();
    }
};

}  // namespace twfakes
