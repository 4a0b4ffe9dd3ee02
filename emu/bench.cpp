#include "emu/bench.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "kit/profile.h"
#include "kit/text.h"

namespace emu {
namespace {

using kit::Lower;
using kit::Trim;
using kit::Upper;

// KSCATEGORY_CAPTURE, the interface class under which capture devices are published.
constexpr const char* kCaptureInterface = "{65e8773d-8f56-11d0-a3b9-00a0c9223196}";

bool ParseHex16(const std::string& text, uint16_t& out) {
    if (text.size() != 4) return false;
    unsigned v = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                               ? c - '0'
                                               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    out = static_cast<uint16_t>(v);
    return true;
}

// FNV-1a: a stable instance key for cameras that do not set one, so paths survive re-runs.
std::string DerivedInstanceKey(const std::string& name, uint16_t vid, uint16_t pid) {
    uint32_t h = 2166136261u;
    auto mix = [&h](unsigned char c) { h = (h ^ c) * 16777619u; };
    for (char c : name) mix(static_cast<unsigned char>(c));
    mix(static_cast<unsigned char>(vid)), mix(static_cast<unsigned char>(vid >> 8));
    mix(static_cast<unsigned char>(pid)), mix(static_cast<unsigned char>(pid >> 8));
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", h);
    return buf;
}

std::string Hex4(uint16_t v, bool upper) {
    char buf[5];
    std::snprintf(buf, sizeof buf, upper ? "%04X" : "%04x", v);
    return buf;
}

class BenchFile {
public:
    explicit BenchFile(std::string path) : path_(std::move(path)) {}
    std::string Get(const std::string& section, const char* key, const char* def = "") {
        return Ask(1, [&](char* buf, uint32_t size) {
            return profile_.GetString(section.c_str(), key, def, buf, size, path_.c_str());
        });
    }
    // Key/value pairs of a section in file order (lines without '=' left out).
    std::vector<std::pair<std::string, std::string>> Section(const std::string& section) {
        std::vector<std::pair<std::string, std::string>> out;
        const std::string list = Ask(2, [&](char* buf, uint32_t size) {
            return profile_.GetSection(section.c_str(), buf, size, path_.c_str());
        });
        for (const std::string& line : kit::SplitNulList(list.data(), static_cast<uint32_t>(list.size()))) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) out.emplace_back(Trim(line.substr(0, eq)), line.substr(eq + 1));
        }
        return out;
    }
    std::vector<std::string> SectionNames() {
        const std::string list = Ask(2, [&](char* buf, uint32_t size) {
            return profile_.GetSectionNames(buf, size, path_.c_str());
        });
        return kit::SplitNulList(list.data(), static_cast<uint32_t>(list.size()));
    }
    bool HasSection(const std::string& section) {
        for (const std::string& s : SectionNames())
            if (Lower(s) == Lower(section)) return true;
        return false;
    }

private:
    // An answer of the profile calls, asked with a small buffer first: a bench is read many times a
    // second by some programs, and bench values are short. An answer that filled the buffer (the
    // call cuts it `cut` characters before its end) is asked again with the largest buffer.
    template <class Call>
    static std::string Ask(uint32_t cut, Call call) {
        for (uint32_t size : {4096u, 65536u}) {
            std::vector<char> buf(size);
            const uint32_t n = call(buf.data(), size);
            if (n + cut < size || size == 65536u) return std::string(buf.data(), n);
        }
        return {};
    }

    std::string path_;
    kit::PortableProfile profile_;
};

bool LoadCamera(BenchFile& file, const std::string& name, CameraRecord& cam, std::string& error) {
    if (!file.HasSection(name)) {
        error = "camera \"" + name + "\" is listed but has no [" + name + "] section";
        return false;
    }
    cam.name = name;
    cam.friendly = file.Get(name, "friendly", "USB Camera");
    cam.bus = Lower(Trim(file.Get(name, "bus", "usb")));
    if (cam.bus != "usb" && cam.bus != "root") {
        error = "camera \"" + name + "\": bus must be usb or root, not \"" + cam.bus + "\"";
        return false;
    }
    struct Field { const char* key; uint16_t* out; const char* def; };
    for (const Field& f : {Field{"vid", &cam.vid, ""}, Field{"pid", &cam.pid, ""}, Field{"rev", &cam.rev, "0100"}}) {
        std::string text = Trim(file.Get(name, f.key, f.def));
        if (!ParseHex16(text, *f.out)) {
            error = "camera \"" + name + "\": " + f.key + " must be 4 hexadecimal digits, not \"" + text + "\"";
            return false;
        }
    }
    std::string mi = Trim(file.Get(name, "mi", ""));
    if (!mi.empty()) {
        char* end = nullptr;
        long v = std::strtol(mi.c_str(), &end, 16);
        if (*end != '\0' || v < 0 || v > 255) {
            error = "camera \"" + name + "\": mi must be a hexadecimal interface number 00..ff";
            return false;
        }
        cam.mi = static_cast<int>(v);
    }
    cam.instance = Lower(Trim(file.Get(name, "instance", "")));
    if (cam.instance.empty()) cam.instance = DerivedInstanceKey(name, cam.vid, cam.pid);
    for (char c : cam.instance) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) || cam.instance.size() > 8) {
            error = "camera \"" + name + "\": instance must be up to 8 hexadecimal digits";
            return false;
        }
    }
    uint64_t p = 0;
    if (!kit::ParseNumber(Trim(file.Get(name, "port", "1")), 255, p) || p < 1) {
        error = "camera \"" + name + "\": port must be 1..255";
        return false;
    }
    cam.port = static_cast<uint8_t>(p);
    cam.pathOverride = Trim(file.Get(name, "path", ""));
    cam.noPath = Trim(file.Get(name, "nopath", "0")) == "1";
    cam.chip = Lower(Trim(file.Get(name, "chip", "none")));
    if (cam.chip != "quelmar" && cam.chip != "realtek" && cam.chip != "sonix" && cam.chip != "none") {
        error = "camera \"" + name + "\": chip must be quelmar, realtek, sonix or none, not \"" + cam.chip + "\"";
        return false;
    }
    for (const auto& [key, value] : file.Section(name)) cam.keys.emplace(Lower(key), value);
    return true;
}

}  // namespace

std::string CameraRecord::Get(const std::string& key, const std::string& fallback) const {
    auto it = keys.find(Lower(key));
    return it == keys.end() ? fallback : it->second;
}

std::string Bench::Get(const std::string& section, const std::string& key, const std::string& fallback) const {
    auto s = sections.find(Lower(section));
    if (s == sections.end()) return fallback;
    auto k = s->second.find(Lower(key));
    return k == s->second.end() ? fallback : k->second;
}

std::string CameraRecord::DevicePath() const {
    if (!pathOverride.empty()) return pathOverride;
    if (!IsUsb()) return std::string("\\\\?\\root#image#0000#") + kCaptureInterface + "\\global";
    std::string path = "\\\\?\\usb#vid_" + Hex4(vid, false) + "&pid_" + Hex4(pid, false);
    char tail[64];
    if (mi >= 0) {
        char m[16];  // room for any int, not only the two digits of a valid mi
        std::snprintf(m, sizeof m, "&mi_%02x", mi);
        path += m;
        std::snprintf(tail, sizeof tail, "#6&%s&0&%04x#", instance.c_str(), static_cast<unsigned>(mi));
    } else {
        std::snprintf(tail, sizeof tail, "#5&%s&0&%u#", instance.c_str(), static_cast<unsigned>(port));
    }
    return path + tail + kCaptureInterface + "\\global";
}

std::string CameraRecord::HardwareId() const {
    std::string id = "USB\\VID_" + Hex4(vid, true) + "&PID_" + Hex4(pid, true) + "&REV_" + Hex4(rev, true);
    if (mi >= 0) {
        char m[16];  // room for any int, not only the two digits of a valid mi
        std::snprintf(m, sizeof m, "&MI_%02X", mi);
        id += m;
    }
    return id;
}

std::string CameraRecord::InstanceId() const {
    std::string id = "USB\\VID_" + Hex4(vid, true) + "&PID_" + Hex4(pid, true);
    char tail[64];
    if (mi >= 0) {
        char m[16];  // room for any int, not only the two digits of a valid mi
        std::snprintf(m, sizeof m, "&MI_%02X", mi);
        id += m;
        std::snprintf(tail, sizeof tail, "\\6&%s&0&%04X", Upper(instance).c_str(), static_cast<unsigned>(mi));
    } else {
        std::snprintf(tail, sizeof tail, "\\5&%s&0&%u", Upper(instance).c_str(), static_cast<unsigned>(port));
    }
    return id + tail;
}

bool LoadBench(const std::string& folder, Bench& out, std::string& error) {
    out = Bench{};
    out.folder = folder;
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += kBenchFile;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        error = "no " + std::string(kBenchFile) + " in " + folder;
        return false;
    }
    BenchFile file(path);
    if (!file.HasSection("bench")) {
        error = path + " has no [bench] section";
        return false;
    }
    out.description = file.Get("bench", "description");
    for (const std::string& section : file.SectionNames()) {
        std::map<std::string, std::string>& keys = out.sections[Lower(section)];
        for (const auto& [key, value] : file.Section(section)) keys.emplace(Lower(key), value);
    }
    for (const std::string& name : kit::SplitList(file.Get("bench", "cameras"))) {
        CameraRecord cam;
        if (!LoadCamera(file, name, cam, error)) return false;
        out.cameras.push_back(cam);
    }
    return true;
}

std::optional<std::string> BenchFolderFromEnvironment() {
    const char* value = std::getenv(kBenchEnvVar);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::string BenchNotice(const std::string& folder) { return "emulated bench: " + folder; }

void TraceBenchInUse(kit::Trace& trace, const std::string& folder) {
    trace.Write((BenchNotice(folder) + "\n").c_str());
}

int32_t EmulatedVideoInput::Enumerate(std::vector<kit::VideoInputDevice>& out) {
    out.clear();
    for (const CameraRecord& cam : bench_.cameras) {
        kit::VideoInputDevice dev;
        dev.friendlyName = cam.friendly;
        dev.hasPath = !cam.noPath;
        if (dev.hasPath) dev.devicePath = cam.DevicePath();
        out.push_back(dev);
    }
    return out.empty() ? kit::kS_FALSE : kit::kS_OK;
}

int32_t FailedVideoInput::Enumerate(std::vector<kit::VideoInputDevice>& out) {
    out.clear();
    return static_cast<int32_t>(0x80004005u);  // E_FAIL
}

}  // namespace emu
