// Camera handles, opening a camera (device search, extension-unit discovery, chip family), the
// camera count and the USB identity.
#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>

#include "camlib/internals.h"
#include "camlib/recorder.h"

namespace camlib {
namespace {

Platform* g_installed = nullptr;
Guid g_lastSet = kFirstPropertySet;

constexpr uint32_t kNotReadyPauseMs = 20;

// Paths of USB devices carry "usb" right after the "\\?\" prefix; anything else (root-enumerated
// software cameras, other buses) is passed over.
bool IsUsbPath(const char* path) {
    return std::strncmp(path + 4, "usb", 3) == 0 || std::strncmp(path + 4, "USB", 3) == 0;
}

// Everything a device under test holds; a skipped device leaves nothing behind for the next.
void ReleaseDevice(CamHandle* h) {
    if (h->pExt) {
        h->pExt->custom = nullptr;
        h->pExt->control.reset();
        h->pExt->dt = kDtUndetermined;
    }
    h->pAmp.reset();
    h->filter.reset();
}

// Reads the checksum control until the unit stops answering NOT_READY, within a bound.
int32_t ProbeUnit(ExtUnit& u, Platform& p, bool secondSet) {
    uint8_t probe = 0;
    int32_t r = XuRead(u, XU_DFU_CHECKSUM, &probe, 1);
    for (uint32_t tries = 0; r == hr::kNotReady; ++tries) {
        if (tries == kNotReadyTries) {
            kit::TraceF(*p.trace, text::kNotReadyGaveUp, kNotReadyTries * kNotReadyPauseMs, u.node);
            break;
        }
        if (secondSet) p.trace->Write(text::kGo);
        r = XuRead(u, XU_DFU_CHECKSUM, &probe, 1);
        p.sleep->Sleep(kNotReadyPauseMs);
    }
    return r;
}

bool ContainsNoCase(const char* text, const std::string& part) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(part) != std::string::npos;
}

}  // namespace

Platform& CurrentPlatform() { return g_installed ? *g_installed : SystemPlatform(); }
void UsePlatform(Platform* platform) { g_installed = platform; }

Platform& PlatformOf(const CamHandle* handle) {
    return handle && handle->platform ? *handle->platform : CurrentPlatform();
}

void Trace(const CamHandle* handle, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    kit::VTraceF(*PlatformOf(handle).trace, fmt, args);
    va_end(args);
}

void SleepMs(const CamHandle* handle, uint32_t milliseconds) {
    PlatformOf(handle).sleep->Sleep(milliseconds);
}

Guid LastChosenPropertySet() { return g_lastSet; }

uint16_t ParseHex4(const char* text) {
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = text[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= ':' && c <= '?')
            d = static_cast<unsigned>(c - ':' + 10);
        else if (c == '\0' || c == ' ')
            d = 0;
        else
            return 0xFFFF;
        v = v * 16 + d;
        if (c == '\0') {  // nothing is read past the end of the text
            for (++i; i < 4; ++i) v *= 16;
            break;
        }
    }
    return static_cast<uint16_t>(v);
}

std::string InstanceKey(const std::string& instanceId) {
    std::string id = instanceId;
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t first = id.find('\\');
    if (first == std::string::npos) return "";
    size_t second = id.find('\\', first + 1);
    if (second == std::string::npos) return "";
    const std::string rest = id.substr(second + 1);
    size_t amp = rest.find('&');
    if (amp == std::string::npos) return "";
    size_t end = rest.find('&', amp + 1);
    return rest.substr(amp + 1, end == std::string::npos ? std::string::npos : end - amp - 1);
}

void ParseHardwareId(const std::string& id, uint16_t& vid, uint16_t& pid, uint16_t& rev) {
    // A short ID reads as NUL-padded, as the zeroed property buffer would.
    std::string padded = id;
    padded.resize(std::max<size_t>(padded.size(), 30), '\0');
    vid = ParseHex4(padded.c_str() + 8);
    pid = ParseHex4(padded.c_str() + 17);
    rev = ParseHex4(padded.c_str() + 26);
}

void CamCreate(CamHolder* holder) {
    if (!holder) return;
    *holder = new CamHandle;
    (*holder)->platform = &CurrentPlatform();
}

int CamDestroy(CamHolder* holder) {
    if (!holder || !*holder) return kResultOk;
    FlushRecording();
    CamHandle* h = *holder;
    if (h->pExt) h->pExt->custom = nullptr;
    h->filter.reset();
    h->pAmp.reset();
    h->image.clear();
    h->pExt.reset();
    delete h;
    *holder = nullptr;
    return kResultOk;
}

int32_t FindExtensionNode(ExtUnit& u, KsTopology& topology, Platform& p) {
    uint32_t nodes = 0;
    int32_t r = topology.NumNodes(&nodes);
    if (r != hr::kOk) {
        p.trace->Write(text::kNumNodesFail);
        return r;
    }
    p.trace->Write(text::kNumNodesOk);
    for (uint32_t i = 0; i < nodes; ++i) {
        Guid type{};
        if (topology.NodeType(i, &type) != hr::kOk || type != kNodeTypeDevSpecific) continue;
        u.node = i;
        u.set = g_lastSet = kFirstPropertySet;
        r = ProbeUnit(u, p, false);
        if (r == hr::kSetNotFound) {
            p.trace->Write(text::kWrongGuid);
            u.set = g_lastSet = kSecondPropertySet;
            r = ProbeUnit(u, p, true);
        }
        if (r == hr::kNotFound) {
            const uint8_t address[2] = {0xFF, 0x20};
            uint8_t id = 0;
            XuWrite(u, XU_REG_ADDR, address, 2);
            r = XuRead(u, XU_REG_DATA, &id, 1);
        }
        if (r == hr::kOk) return hr::kOk;
    }
    u.control.reset();
    return 1;
}

int CamInit(CamHolder* holder, char family, int device) {
    Platform& p = CurrentPlatform();
    StartRecordingFromEnvironment(p);
    kit::Trace& t = *p.trace;
    t.Write(text::kInit);
    if (!RequestValid(family)) return kResultInvalid;
    if (!holder) return kResultFail;
    if (!*holder) CamCreate(holder);
    CamHandle* h = *holder;
    h->platform = &p;
    h->connected = 0;
    ReleaseDevice(h);

    std::unique_ptr<VideoDeviceList> list;
    if (p.video->Open(list) != hr::kOk || !list) return kResultFail;
    if (!h->pExt) h->pExt = std::make_unique<ExtUnit>();
    ExtUnit& u = *h->pExt;

    int position = -1;
    std::unique_ptr<VideoDevice> dev;
    while (list->Next(dev) == hr::kOk && dev) {
        t.Write(text::kInWhile);
        if (++position < device) continue;
        ReleaseDevice(h);
        const int32_t bound = dev->BindFilter(h->filter);
        std::string path;
        dev->ReadDevicePath(path);
        char ansi[260] = {};
        std::memcpy(ansi, path.data(), std::min<size_t>(path.size(), 256));
        if (!IsUsbPath(ansi)) {
            t.Write(text::kVirtualCamera);
            h->filter.reset();
            continue;
        }
        t.Write(text::kUsbCamera);
        std::memset(h->path, 0, sizeof h->path);
        std::memcpy(h->path, ansi, 256);
        h->filter = RecordedFilter(p, std::move(h->filter), h->path);
        if (bound != hr::kOk || !h->filter) {
            t.Write(text::kBindFilterFail);
            h->filter.reset();
            return kResultFail;
        }

        t.Write(text::kQueryCustomProp);
        t.Write(text::kAmpNull);
        if (h->filter->QueryCustomProp(h->pAmp) != hr::kOk || !h->pAmp) {
            h->pAmp.reset();
            t.Write(text::kCustomPropFail);
        } else {
            u.dt = kDtQuelmar;
            t.Write(text::kDtQuelmar);
        }

        t.Write(text::kCheckUvc);
        const bool hasControl = h->filter->QueryKsControl(u.control) == hr::kOk && u.control;
        if (!hasControl) {
            // Every kernel-streaming capture filter has IKsControl: one without it is not a camera
            // driver this library can talk to, whatever else it offers.
            t.Write(text::kKsControlFail);
            ReleaseDevice(h);
            continue;
        }
        t.Write(text::kKsControlOk);
        std::unique_ptr<KsTopology> topology;
        const bool hasTopology = h->filter->QueryTopology(topology) == hr::kOk && topology;
        t.Write(hasTopology ? text::kTopologyOk : text::kTopologyFail);

        uint8_t id = 0;
        if (hasTopology) {
            if (u.dt == kDtUndetermined) {
                t.Write(text::kDtUvc);
                u.dt = kDtUvc;
            } else if (u.dt == kDtQuelmar) {
                t.Write(text::kDtQuelmarAV);
                u.dt = kDtQuelmarAV;
                u.custom = h->pAmp.get();
            }
            if (FindExtensionNode(u, *topology, p) != hr::kOk) {
                t.Write(text::kFindNodeFail);
            } else {
                t.Write(text::kFindNodeOk);
                if (ReadReg8(u, reg::kChipId, &id) != hr::kOk) id = 0;
            }
        } else {
            if (!h->pAmp && (h->filter->QueryCustomProp(h->pAmp) != hr::kOk || !h->pAmp)) h->pAmp.reset();
            if (h->pAmp) {
                u.dt = kDtQuelmar;
                u.custom = h->pAmp.get();
                if (ReadReg8(u, reg::kChipId, &id) != hr::kOk) id = 0;
            }
        }

        const uint8_t nibble = id & 0xF0;
        if (!FamilyOf(nibble, 0) || !FamilyAccepts(family, nibble)) {
            ReleaseDevice(h);
            continue;
        }
        uint8_t sub = 0;
        if (NeedsSubVariant(id) && ReadReg8(u, reg::kSubVariant, &sub) != hr::kOk) {
            // Without the sub-variant the family is a guess; a guess could patch the image wrongly.
            t.Write(text::kSubVariantFail);
            ReleaseDevice(h);
            continue;
        }
        u.family = FamilyOf(id, sub);
        u.selectLevel = SelectLevelOf(u.family);
        h->connected = 'y';
        RecordCamera(*h);
        return kResultOk;
    }
    return kResultFail;
}

int CamInitAll(CamHolder* holders, int count) {
    if (!holders) return kResultFail;
    for (int i = 0; i < count; ++i) CamInit(&holders[i], kAnyFamily, i);
    return kResultOk;
}

int CamCount(int* count) {
    if (!count) return kResultFail;
    Platform& p = CurrentPlatform();
    StartRecordingFromEnvironment(p);
    std::unique_ptr<VideoDeviceList> list;
    const int32_t opened = p.video->Open(list);
    if (opened == hr::kFalse) {
        *count = 0;
        return kResultOk;
    }
    if (opened != hr::kOk || !list) return kResultFail;
    int found = 0;
    std::unique_ptr<VideoDevice> dev;
    while (list->Next(dev) == hr::kOk && dev) {
        std::string path;
        dev->ReadDevicePath(path);
        path.resize(std::max<size_t>(path.size(), 8), '\0');
        if (!IsUsbPath(path.c_str())) continue;
        std::unique_ptr<CaptureFilter> filter;
        if (dev->BindFilter(filter) != hr::kOk || !filter) return kResultFail;
        filter = RecordedFilter(p, std::move(filter), path.c_str());
        ExtUnit u;
        const bool hasControl = filter->QueryKsControl(u.control) == hr::kOk && u.control;
        std::unique_ptr<KsTopology> topology;
        int32_t r = 1;
        if (hasControl && filter->QueryTopology(topology) == hr::kOk && topology) {
            u.dt = kDtUvc;
            r = FindExtensionNode(u, *topology, p);
        } else {
            std::unique_ptr<CustomProp> custom;
            r = filter->QueryCustomProp(custom) == hr::kOk && custom ? hr::kOk : 1;
        }
        if (r == hr::kOk) ++found;
    }
    *count = found;
    return kResultOk;
}

int CamUsbIdentity(CamHandle* handle, UsbIdentity* out) {
    if (!handle || !out) return kResultFail;
    Platform& p = PlatformOf(handle);
    std::unique_ptr<ImagingDeviceList> list;
    if (p.imaging->OpenPresent(list) != kErrorSuccess || !list) return kResultFail;
    for (uint32_t i = 0;; ++i) {
        std::string instance;
        const uint32_t e = list->InstanceId(i, instance);
        if (e == kErrorNoMoreItems) break;
        if (e != kErrorSuccess) continue;
        const std::string key = InstanceKey(instance.substr(0, 259));
        if (key.empty() || !ContainsNoCase(handle->path, key)) continue;
        uint32_t address = 0;
        if (list->Address(i, address) != kErrorSuccess) continue;
        std::vector<std::string> ids;
        if (list->HardwareIds(i, ids) != kErrorSuccess || ids.empty()) return kResultFail;
        std::string hub;
        if (list->GrandparentInstanceId(i, hub) != kErrorSuccess) return kResultFail;
        UsbIdentity id;
        ParseHardwareId(ids[0], id.vid, id.pid, id.rev);
        id.port = static_cast<uint8_t>(address);
        std::memcpy(id.hub, hub.data(), std::min<size_t>(hub.size(), sizeof id.hub - 1));
        *out = id;
        return kResultOk;
    }
    // No present imaging device belongs to the opened camera: that is a failure, not an identity.
    return kResultFail;
}

int CamChipFamily(CamHandle* handle, char* family) {
    if (!handle || !handle->pExt || !family) return kResultFail;
    *family = handle->pExt->family;
    return kResultOk;
}

}  // namespace camlib
