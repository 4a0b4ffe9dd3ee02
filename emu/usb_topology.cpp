#include "emu/usb_topology.h"

#include "kit/text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace emu {
namespace {

void Put16(std::vector<uint8_t>& v, unsigned value) {
    v.push_back(static_cast<uint8_t>(value));
    v.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& v, uint32_t value) {
    Put16(v, value & 0xFFFF);
    Put16(v, value >> 16);
}

void Append(std::vector<uint8_t>& v, std::initializer_list<unsigned> bytes) {
    for (unsigned b : bytes) v.push_back(static_cast<uint8_t>(b));
}

std::string Hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

uint32_t Hash(const std::string& text) {
    uint32_t h = 2166136261u;
    for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

bool ParseNumber(const std::string& text, long low, long high, long& out) {
    uint64_t v = 0;
    if (!kit::ParseNumber(kit::Trim(text), static_cast<uint64_t>(high), v) || static_cast<long>(v) < low) return false;
    out = static_cast<long>(v);
    return true;
}

// The text of string descriptor 1 (manufacturer), 2 (product) or 3 (serial number) from the camera
// record; empty for any other index and for a string the record leaves empty.
std::string StringOf(const CameraRecord& camera, uint8_t index) {
    static const char* const keys[] = {"", "manufacturer", "product", "serial"};
    static const char* const defaults[] = {"", "Camera maker", "Integrated Camera", ""};
    return index >= 1 && index <= 3 ? camera.Get(keys[index], defaults[index]) : std::string();
}

}  // namespace

Guid FirstExtensionSet() {
    Guid g{};
    ParseGuid("{63610682-5070-49AB-B8CC-B3855E8D221D}", g);
    return g;
}

Guid SecondExtensionSet() {
    Guid g{};
    ParseGuid("{7D5A1D99-5B32-428B-8CAD-671B8A65F37A}", g);
    return g;
}

bool ParseGuid(const std::string& text, Guid& out) {
    // {aabbccdd-eeff-gghh-iijj-kkllmmnnoopp}: the first three groups are stored little-endian.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    std::string hex;
    for (size_t i = 1; i < 37; ++i) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != '-') return false;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
        hex += text[i];
    }
    uint8_t raw[16];
    for (int i = 0; i < 16; ++i) raw[i] = static_cast<uint8_t>(std::strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16));
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out[i] = raw[order[i]];
    return true;
}

bool UsbTopology::Build(const Bench& bench, std::function<uint16_t(const CameraRecord&)> revisionOf,
                        std::string& error, std::function<bool(const CameraRecord&, CameraRecord&)> shownAs) {
    hubs_.clear();
    cameras_.clear();
    long n = 1, rootPorts = 4;
    if (!ParseNumber(bench.Get("bench", "controllers", "1"), 1, 10, n) ||
        !ParseNumber(bench.Get("bench", "root_ports", "4"), 1, 255, rootPorts)) {
        error = "[bench] controllers must be 1..10 and root_ports 1..255";
        return false;
    }
    controllers_ = static_cast<int>(n);
    for (int c = 0; c < controllers_; ++c) {
        UsbHubNode root;
        root.name = "roothub" + std::to_string(c);
        root.instanceId = "USB\\ROOT_HUB30\\4&" + Hex8(Hash(bench.folder + root.name)) + "&0&0";
        root.controller = c;
        root.ports = static_cast<uint8_t>(rootPorts);
        hubs_.push_back(root);
    }
    for (const std::string& name : kit::SplitList(bench.Get("bench", "hubs"))) {
        if (!bench.sections.count(name)) {
            error = "hub \"" + name + "\" is listed but has no [" + name + "] section";
            return false;
        }
        UsbHubNode hub;
        hub.name = name;
        long controller = 0, port = 1, ports = 4;
        if (!ParseNumber(bench.Get(name, "controller", "0"), 0, controllers_ - 1, controller) ||
            !ParseNumber(bench.Get(name, "port", "1"), 1, 255, port) ||
            !ParseNumber(bench.Get(name, "ports", "4"), 1, 255, ports)) {
            error = "hub \"" + name + "\": controller, port or ports out of range";
            return false;
        }
        hub.controller = static_cast<int>(controller);
        hub.parentPort = static_cast<uint8_t>(port);
        hub.ports = static_cast<uint8_t>(ports);
        hub.parent = bench.Get(name, "parent");
        if (hub.parent.empty()) hub.parent = "roothub" + std::to_string(controller);
        if (!Hub(hub.parent)) {
            error = "hub \"" + name + "\": parent \"" + hub.parent + "\" must be listed before it";
            return false;
        }
        hub.instanceId = "USB\\VID_05E3&PID_0610\\5&" + Hex8(Hash(bench.folder + name)) + "&0&" + std::to_string(port);
        hubs_.push_back(hub);
    }
    for (const CameraRecord& cam : bench.cameras) {
        if (!cam.IsUsb()) continue;
        long controller = 0;
        if (!ParseNumber(cam.Get("controller", "0"), 0, controllers_ - 1, controller)) {
            error = "camera \"" + cam.name + "\": controller out of range";
            return false;
        }
        std::string hub = cam.Get("hub");
        if (hub.empty()) hub = "roothub" + std::to_string(controller);
        Attachment a{&cam, hub, cam.port, revisionOf ? revisionOf(cam) : cam.rev, cam.vid, cam.pid, true};
        if (shownAs) {
            CameraRecord now = cam;
            a.present = shownAs(cam, now);
            a.vid = now.vid, a.pid = now.pid, a.revision = now.rev;
        }
        cameras_.push_back(a);
    }
    // Nothing may share a port.
    for (const UsbHubNode& h : hubs_) {
        for (uint8_t p = 1; p <= h.ports && p != 0; ++p) {
            int users = 0;
            for (const UsbHubNode& child : hubs_) users += child.parent == h.name && child.parentPort == p;
            for (const Attachment& a : cameras_) users += a.hub == h.name && a.port == p;
            if (users > 1) {
                error = "two devices on port " + std::to_string(p) + " of hub " + h.name;
                return false;
            }
        }
    }
    for (const Attachment& a : cameras_) {
        const UsbHubNode* h = Hub(a.hub);
        if (!h || a.port > h->ports) {
            error = "camera \"" + a.camera->name + "\": no port " + std::to_string(a.port) + " on hub " + a.hub;
            return false;
        }
    }
    return true;
}

std::string UsbTopology::ControllerDriverKey(int controller) const {
    return "{36fc9e60-c465-11cf-8056-444553540000}\\" + std::string(controller < 10 ? "000" : "00") +
           std::to_string(controller);
}

std::string UsbTopology::RootHubName(int controller) const {
    const UsbHubNode* root = Hub("roothub" + std::to_string(controller));
    if (!root) return "";
    std::string name = root->instanceId;
    for (char& c : name)
        if (c == '\\') c = '#';
    return name + "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
}

const UsbHubNode* UsbTopology::Hub(const std::string& name) const {
    for (const UsbHubNode& h : hubs_) {
        if (h.name == name) return &h;
        // Hubs are also reached by their symbolic names.
        std::string symbolic = h.instanceId;
        for (char& c : symbolic)
            if (c == '\\') c = '#';
        if (name.rfind(symbolic, 0) == 0) return &h;
    }
    return nullptr;
}

UsbPortAnswer UsbTopology::Port(const std::string& hubName, uint8_t port) const {
    UsbPortAnswer answer;
    const UsbHubNode* hub = Hub(hubName);
    if (!hub) return answer;
    for (const UsbHubNode& child : hubs_) {
        if (child.parent == hub->name && child.parentPort == port) {
            answer.connected = answer.isHub = true;
            answer.hubName = child.name;
            return answer;
        }
    }
    for (const Attachment& a : cameras_) {
        if (a.hub == hub->name && a.port == port && a.present) {
            answer.connected = true;
            answer.camera = a.camera;
            answer.device = DeviceDescriptor(*a.camera, a.vid, a.pid, a.revision);
        }
    }
    return answer;
}

std::vector<uint8_t> UsbTopology::Descriptor(const std::string& hubName, uint8_t port, uint16_t wValue,
                                             uint16_t wIndex, uint16_t wLength) const {
    UsbPortAnswer answer = Port(hubName, port);
    if (!answer.camera) return {};
    const CameraRecord& cam = *answer.camera;
    std::vector<uint8_t> reply;
    uint8_t type = static_cast<uint8_t>(wValue >> 8), index = static_cast<uint8_t>(wValue);
    if (type == 1) {
        reply = answer.device;
    } else if (type == 2 && index == 0) {
        reply = ConfigurationDescriptor(cam);
    } else if (type == 3 && index == 0) {
        reply = {4, 3, 0x09, 0x04};  // English (United States) only
    } else if (type == 3 && wIndex == 0x0409) {
        const std::string text = StringOf(cam, index);
        if (!text.empty()) reply = StringDescriptor(text);
    }
    if (reply.size() > wLength) reply.resize(wLength);
    return reply;
}

std::string UsbTopology::HubInstanceOf(const CameraRecord& camera) const {
    for (const Attachment& a : cameras_) {
        if (a.camera != &camera) continue;
        const UsbHubNode* hub = Hub(a.hub);
        if (!hub) return "";
        // Interface -> composite device -> hub; a single-function device is one level nearer.
        if (camera.mi >= 0) return hub->instanceId;
        if (!hub->parent.empty()) {
            const UsbHubNode* up = Hub(hub->parent);
            return up ? up->instanceId : "";
        }
        return "PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10\\3&11583659&0&A" + std::to_string(hub->controller);
    }
    return "";
}

std::vector<uint8_t> UsbTopology::DeviceDescriptor(const CameraRecord& camera, uint16_t vid, uint16_t pid,
                                                   uint16_t revision) {
    std::vector<uint8_t> d;
    Append(d, {18, 1});
    Put16(d, 0x0200);
    Append(d, {0xEF, 0x02, 0x01, 64});  // miscellaneous class with interface association
    Put16(d, vid);
    Put16(d, pid);
    Put16(d, revision);
    // A string left empty in the record is one the device does not have (index 0).
    const auto index = [&](uint8_t i) { return StringOf(camera, i).empty() ? uint8_t{0} : i; };
    Append(d, {index(1), index(2), index(3), 1});
    return d;
}

std::vector<uint8_t> UsbTopology::ConfigurationDescriptor(const CameraRecord& camera) {
    std::string xu = camera.Get("xu_guid", "first");
    Guid guid{};
    bool withUnit = true;
    if (xu == "first") guid = FirstExtensionSet();
    else if (xu == "second") guid = SecondExtensionSet();
    else if (xu == "none") withUnit = false;
    else if (!ParseGuid(xu, guid)) withUnit = false;

    std::vector<uint8_t> vc;  // class-specific video control descriptors after the header
    Append(vc, {18, 0x24, 0x02, 1});  // camera input terminal
    Put16(vc, 0x0201);
    Append(vc, {0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0});
    Append(vc, {11, 0x24, 0x05, 2, 1, 0, 0, 2, 0, 0, 0});  // processing unit
    uint8_t outputSource = 2;
    if (withUnit) {
        Append(vc, {29, 0x24, 0x06, 3});  // extension unit; guidExtensionCode at offset 4
        vc.insert(vc.end(), guid.begin(), guid.end());
        Append(vc, {24, 1, 2, 4, 0xFF, 0xFF, 0xFF, 0x00, 0});
        outputSource = 3;
    }
    Append(vc, {9, 0x24, 0x03, 4});  // output terminal
    Put16(vc, 0x0101);
    Append(vc, {0, outputSource, 0});

    std::vector<uint8_t> vs;  // streaming: input header, one uncompressed format, one frame
    std::vector<uint8_t> format = {27, 0x24, 0x04, 1, 1, 0x59, 0x55, 0x59, 0x32, 0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71, 16, 1, 0, 0, 0, 0};
    std::vector<uint8_t> frame = {30, 0x24, 0x05, 1, 0};
    Put16(frame, 640), Put16(frame, 480);
    Put32(frame, 640 * 480 * 16 * 5), Put32(frame, 640 * 480 * 16 * 30), Put32(frame, 640 * 480 * 2);
    Put32(frame, 333333);
    frame.push_back(1);
    Put32(frame, 333333);
    Append(vs, {14, 0x24, 0x01, 1});
    Put16(vs, static_cast<unsigned>(14 + format.size() + frame.size()));
    Append(vs, {0x81, 0, 4, 1, 0, 0, 1, 0});
    vs.insert(vs.end(), format.begin(), format.end());
    vs.insert(vs.end(), frame.begin(), frame.end());

    std::vector<uint8_t> body;
    Append(body, {8, 0x0B, 0, 2, 0x0E, 0x03, 0, 2});           // interface association
    Append(body, {9, 0x04, 0, 0, 1, 0x0E, 0x01, 0, 2});        // video control interface
    Append(body, {13, 0x24, 0x01});                            // video control header
    Put16(body, 0x0100);
    Put16(body, static_cast<unsigned>(13 + vc.size()));
    Put32(body, 48000000);
    Append(body, {1, 1});
    body.insert(body.end(), vc.begin(), vc.end());
    Append(body, {7, 0x05, 0x83, 0x03, 16, 0, 8});             // status interrupt endpoint
    Append(body, {5, 0x25, 0x03, 16, 0});
    Append(body, {9, 0x04, 1, 0, 0, 0x0E, 0x02, 0, 0});        // video streaming, zero bandwidth
    body.insert(body.end(), vs.begin(), vs.end());
    Append(body, {9, 0x04, 1, 1, 1, 0x0E, 0x02, 0, 0});        // video streaming, alternate 1
    Append(body, {7, 0x05, 0x81, 0x05, 0x00, 0x14, 1});        // isochronous video endpoint

    std::vector<uint8_t> config = {9, 0x02};
    Put16(config, static_cast<unsigned>(9 + body.size()));
    Append(config, {2, 1, 0, 0x80, 0xFA});
    config.insert(config.end(), body.begin(), body.end());
    return config;
}

std::vector<uint8_t> UsbTopology::StringDescriptor(const std::string& text) {
    size_t chars = text.size() > 126 ? 126 : text.size();
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * chars), 3};
    for (size_t i = 0; i < chars; ++i) Put16(d, static_cast<unsigned char>(text[i]));
    return d;
}

}  // namespace emu
