// USB descriptor lookup: walks every host controller and hub to the device on the opened camera's
// port, reads its descriptors from the hub driver and accepts it only when its configuration holds
// an extension unit of the property set discovery chose.
#include "camlib/usb_lookup.h"

#include <algorithm>
#include <cstring>

#include "camlib/internals.h"

namespace camlib {
namespace {

constexpr int kHostControllers = 10;
constexpr int kMaxHubDepth = 7;  // USB allows five hubs below a root hub; more means a loop
constexpr uint8_t kStringDescriptor = 3;
constexpr uint8_t kClassInterfaceDescriptor = 0x24;
constexpr uint8_t kExtensionUnit = 6;

struct Lookup {
    Guid set;
    LookupRecord record;
    bool found = false;
    CodePagePort* ansi = nullptr;
};

class Windows1252 final : public CodePagePort {
public:
    std::string FromUtf16(const std::u16string& text) override {
        // 0x80..0x9F of the code page hold these characters; 0x81, 0x8D, 0x8F, 0x90, 0x9D none.
        static constexpr char16_t kHigh[32] = {
            0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
        std::string out;
        for (char16_t c : text) {
            char b = '?';
            if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
                b = static_cast<char>(c);
            } else {
                for (int i = 0; i < 32; ++i)
                    if (kHigh[i] && kHigh[i] == c) b = static_cast<char>(0x80 + i);
            }
            out.push_back(b);
        }
        return out;
    }
};

// One descriptor request; the reply's data bytes, or nothing when the request failed.
std::vector<uint8_t> Request(UsbHub& hub, uint32_t port, uint16_t wValue, uint16_t wIndex, uint16_t wLength) {
    std::vector<uint8_t> buffer(kDescriptorRequestBufferBytes, 0);
    EncodeDescriptorRequest(buffer.data(), port, wValue, wIndex, wLength);
    uint32_t returned = 0;
    if (hub.DescriptorRequest(buffer.data(), static_cast<uint32_t>(buffer.size()), returned) !=
            kErrorSuccess ||
        returned < kDescriptorRequestHeaderBytes)
        return {};
    returned = std::min<uint32_t>(returned, static_cast<uint32_t>(buffer.size()));
    return std::vector<uint8_t>(buffer.begin() + kDescriptorRequestHeaderBytes, buffer.begin() + returned);
}

void ReadString(UsbHub& hub, uint32_t port, uint8_t index, uint16_t language, char* slot, CodePagePort* ansi) {
    std::memset(slot, 0, kLookupStringBytes);
    if (index == 0) return;
    const std::vector<uint8_t> d = Request(hub, port, static_cast<uint16_t>(0x0300 + index), language, 255);
    StringToAnsi(d.data(), static_cast<uint32_t>(d.size()), slot, ansi);
}

void ExamineDevice(UsbHub& hub, uint32_t port, const UsbConnection& c, Lookup& l) {
    LookupRecord& r = l.record;
    const uint8_t* d = c.device.data();
    r.vid = static_cast<uint16_t>(d[8] | d[9] << 8);
    r.pid = static_cast<uint16_t>(d[10] | d[11] << 8);
    r.rev = static_cast<uint32_t>(d[12] | d[13] << 8);
    // The language list is asked for only when there is a string to read in one of them.
    uint16_t language = 0;
    if (d[14] || d[15] || d[16]) {
        const std::vector<uint8_t> languages = Request(hub, port, 0x0300, 0, 4);
        if (languages.size() >= 4) language = static_cast<uint16_t>(languages[2] | languages[3] << 8);
    }
    ReadString(hub, port, d[14], language, r.manufacturer, l.ansi);
    ReadString(hub, port, d[15], language, r.product, l.ansi);
    ReadString(hub, port, d[16], language, r.serial, l.ansi);
    const std::vector<uint8_t> config = Request(hub, port, 0x0200, 0, 2048);
    if (HasExtensionUnit(config.data(), static_cast<uint32_t>(config.size()), l.set)) {
        l.found = true;
        return;
    }
    // Not the camera: nothing of it may be mistaken for the answer.
    r.vid = r.pid = 0;
    r.rev = 0;
    std::memset(r.manufacturer, 0, sizeof r.manufacturer);
    std::memset(r.product, 0, sizeof r.product);
    std::memset(r.serial, 0, sizeof r.serial);
}

uint32_t WalkHub(UsbHubPort& hubs, const std::string& name, int depth, Lookup& l) {
    std::unique_ptr<UsbHub> hub;
    if (uint32_t e = hubs.OpenHub(name, hub); e != kErrorSuccess || !hub) return e ? e : kErrorGenFailure;
    uint8_t ports = 0;
    if (uint32_t e = hub->PortCount(ports); e != kErrorSuccess) return e;
    for (uint32_t port = 1; port <= ports && !l.found; ++port) {
        UsbConnection c;
        if (hub->Connection(port, c) != kErrorSuccess || !c.connected) continue;
        if (c.isHub) {
            std::string child;
            if (depth < kMaxHubDepth && hub->ConnectionName(port, child) == kErrorSuccess)
                WalkHub(hubs, child, depth + 1, l);
        } else if (port == l.record.port) {
            ExamineDevice(*hub, port, c, l);
        }
    }
    return kErrorSuccess;
}

}  // namespace

void EncodeDescriptorRequest(uint8_t* buffer, uint32_t port, uint16_t wValue, uint16_t wIndex,
                             uint16_t wLength) {
    buffer[0] = static_cast<uint8_t>(port);
    buffer[1] = static_cast<uint8_t>(port >> 8);
    buffer[2] = static_cast<uint8_t>(port >> 16);
    buffer[3] = static_cast<uint8_t>(port >> 24);
    buffer[4] = 0x80;  // device to host, standard, device
    buffer[5] = 6;     // GET_DESCRIPTOR
    buffer[6] = static_cast<uint8_t>(wValue);
    buffer[7] = static_cast<uint8_t>(wValue >> 8);
    buffer[8] = static_cast<uint8_t>(wIndex);
    buffer[9] = static_cast<uint8_t>(wIndex >> 8);
    buffer[10] = static_cast<uint8_t>(wLength);
    buffer[11] = static_cast<uint8_t>(wLength >> 8);
}

CodePagePort& PortableAnsiCodePage() {
    static Windows1252 page;
    return page;
}

void StringToAnsi(const uint8_t* descriptor, uint32_t size, char* slot, CodePagePort* ansi) {
    std::memset(slot, 0, kLookupStringBytes);
    if (size < 2 || descriptor[1] != kStringDescriptor) return;
    const uint32_t bytes = std::min<uint32_t>(descriptor[0], size);
    std::u16string text;
    for (uint32_t at = 2; at + 1 < bytes; at += 2)
        text.push_back(static_cast<char16_t>(descriptor[at] | descriptor[at + 1] << 8));
    CodePagePort& page = ansi ? *ansi : PortableAnsiCodePage();
    // A code page may spend two bytes on a character: shorten the text until it fits whole.
    std::string converted = page.FromUtf16(text);
    while (converted.size() > kLookupStringBytes - 1 && !text.empty()) {
        text.pop_back();
        converted = page.FromUtf16(text);
    }
    std::memcpy(slot, converted.data(), std::min<size_t>(converted.size(), kLookupStringBytes - 1));
}

bool HasExtensionUnit(const uint8_t* config, uint32_t size, const Guid& set) {
    // The descriptors end where the reply ends or where the configuration says it ends.
    if (size >= 4) size = std::min<uint32_t>(size, static_cast<uint32_t>(config[2] | config[3] << 8));
    for (uint32_t at = 0; at + 2 <= size;) {
        const uint32_t length = config[at];
        if (length == 0 || at + length > size) break;
        if (config[at + 1] == kClassInterfaceDescriptor && length >= 20 && config[at + 2] == kExtensionUnit &&
            std::equal(set.begin(), set.end(), config + at + 4))
            return true;
        at += length;
    }
    return false;
}

int FindOnPort(UsbHubPort& hubs, const Guid& set, uint32_t port, LookupRecord& out, CodePagePort* ansi) {
    Lookup l;
    l.set = set;
    l.ansi = ansi;
    l.record.port = port;
    uint32_t result = kErrorSuccess;
    for (int n = 0; n < kHostControllers && !l.found; ++n) {
        std::unique_ptr<UsbHostController> controller = hubs.OpenHostController(n);
        if (!controller) continue;
        std::string key, root;
        if ((result = controller->DriverKeyName(key)) != kErrorSuccess) break;
        if ((result = controller->RootHubName(root)) != kErrorSuccess) break;
        if ((result = WalkHub(hubs, root, 1, l)) != kErrorSuccess) break;
    }
    out = l.record;
    return static_cast<int>(result);
}

int CamUsbLookup(uint16_t* vid, uint16_t* pid, uint32_t* rev, char* manufacturer, int enable, uint32_t port) {
    if (!vid || !pid || !rev || !manufacturer || enable == 0) return 1;
    LookupRecord record;
    Platform& platform = CurrentPlatform();
    const int result = FindOnPort(*platform.hubs, LastChosenPropertySet(), port, record, platform.ansi);
    *vid = record.vid;
    *pid = record.pid;
    *rev = record.rev;
    std::memcpy(manufacturer, record.manufacturer, 31);
    manufacturer[31] = '\0';
    return result;
}

}  // namespace camlib
