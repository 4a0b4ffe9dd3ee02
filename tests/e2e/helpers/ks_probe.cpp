// Win32-only: walks the real DirectShow video-input devices and talks to their capture filters the
// way the kit's camera library does (bind IBaseFilter, query IKsControl / IKsTopologyInfo /
// ICustomCameraProp, KSP_NODE requests on the extension-unit node, property-35 records), printing
// every answer. It reads no bench variable: what it sees comes through COM and the registry.
//
//   ks_probe                  every device: name, path, bind, interfaces, nodes, and on each
//                             carrier the length of selector 10 and register 0x20FF
//   ks_probe <n> <step>...    the steps on device n (enumeration order), one answer line each:
//     ks-len:<set>:<node>:<sel>             KsProperty GET|TOPOLOGY with no data
//     ks-get:<set>:<node>:<sel>:<bytes>     KsProperty GET|TOPOLOGY into a buffer
//     ks-set:<set>:<node>:<sel>:<data>      KsProperty SET|TOPOLOGY
//     ks-flags:<flags>:<set>:<node>:<sel>   KsProperty with other flags (hex), no data
//     ks-short:<set>:<node>:<sel>           GET|TOPOLOGY with a 24-byte KSPROPERTY only
//     cp-len:<sel>  cp-get:<sel>:<bytes>  cp-set:<sel>:<data>   the private records
//     cp-raw:<id>:<hex record>              SetProperty with a record as given
//     cp-fetch:<id>                         GetProperty alone
//     reg:ks:<set>:<addr>  reg:cp:<addr>    8-bit register read through selectors 2 and 3
//     names                                 the topology's node names
//     info                                  class ID, filter state, pins, driver info
//     exit-now                              ends the process at once (no clean-up runs)
//     unload                                (last) releases every device, frees unused COM servers
//   <set>: first, second or a {GUID}; <node>: a number or xu (the first device-specific node);
//   <data>: hex bytes (FF20) or <count>x<byte> (4096x5A).
#include <windows.h>
// After windows.h:
#include <dshow.h>
#include <ks.h>
#include <ksproxy.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/custom_camera_prop.h"

namespace probe {

// Declared here from its published layout rather than shared with the stand-in, so that a slip in
// either declaration shows up as a wrong answer. Outside the anonymous namespace: there the
// compiler, seeing no implementation in this file, may treat calls through it as unreachable.
struct IKsTopologyInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD, GUID*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD, KSTOPOLOGY_CONNECTION*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD, GUID*) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD, REFIID, void**) = 0;
};

}  // namespace probe

namespace {

using Microsoft::WRL::ComPtr;
using probe::IKsTopologyInfo;

const GUID kIidTopology = {0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
const GUID kFirstSet = {0x63610682, 0x5070, 0x49AB, {0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D}};
const GUID kSecondSet = {0x7D5A1D99, 0x5B32, 0x428B, {0x8C, 0xAD, 0x67, 0x1B, 0x8A, 0x65, 0xF3, 0x7A}};

struct NodeTypeName {
    GUID type;
    const char* name;
};
const NodeTypeName kNodeTypes[] = {
    {{0x941C7AC0, 0xC559, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}}, "dev_specific"},
    {{0xDFF229E6, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}}, "camera"},
    {{0xDFF229E5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}}, "processing"},
    {{0xDFF229E4, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}}, "selector"},
    {{0xDFF229E1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}}, "streaming"},
};
constexpr ULONG kGetTopology = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_TOPOLOGY;
constexpr ULONG kSetTopology = KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY;

class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

struct ScopedVariant {
    VARIANT v;
    ScopedVariant() { VariantInit(&v); }
    ~ScopedVariant() { VariantClear(&v); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
};

std::string Narrow(const wchar_t* text) {
    if (!text) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string Hex(const uint8_t* data, size_t n) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
        out += b;
    }
    return out;
}

std::string Hr(HRESULT hr) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08lX", static_cast<unsigned long>(hr));
    return b;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(sep, start);
        out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

bool ParseNumber(const std::string& text, unsigned long& out, int base = 0) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtoul(text.c_str(), &end, base);
    return end && *end == '\0';
}

// FF20 or 4096x5A.
bool ParseData(const std::string& text, std::vector<uint8_t>& out) {
    out.clear();
    size_t x = text.find('x');
    unsigned long count = 0, value = 0;
    if (x != std::string::npos && x > 0 && text.rfind("0x", 0) != 0) {
        if (!ParseNumber(text.substr(0, x), count, 10) || !ParseNumber(text.substr(x + 1), value, 16) ||
            value > 255)
            return false;
        out.assign(count, static_cast<uint8_t>(value));
        return true;
    }
    if (text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!ParseNumber(text.substr(i, 2), value, 16)) return false;
        out.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

bool ParseSet(const std::string& text, GUID& out) {
    if (text == "first")
        out = kFirstSet;
    else if (text == "second")
        out = kSecondSet;
    else {
        std::wstring wide(text.begin(), text.end());
        return SUCCEEDED(CLSIDFromString(wide.c_str(), &out));
    }
    return true;
}

const char* NodeTypeText(const GUID& type) {
    for (const NodeTypeName& n : kNodeTypes)
        if (type == n.type) return n.name;
    return "other";
}

struct Device {
    std::string name, path;
    bool hasPath = false;
    HRESULT bind = E_FAIL;
    ComPtr<IBaseFilter> filter;
    ComPtr<IKsControl> ks;
    ComPtr<IKsTopologyInfo> topology;
    ComPtr<kit::ICustomCameraProp> custom;
    std::vector<GUID> nodes;
    HRESULT nodesResult = E_NOINTERFACE;
    int xuNode = -1;
};

bool ReadBagString(IPropertyBag* bag, const wchar_t* name, std::string& out) {
    ScopedVariant value;
    value.v.vt = VT_BSTR;
    if (FAILED(bag->Read(name, &value.v, nullptr)) || value.v.vt != VT_BSTR) return false;
    out = Narrow(value.v.bstrVal);
    return true;
}

void Describe(IMoniker* moniker, Device& d) {
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(bag.GetAddressOf())))) {
        ReadBagString(bag.Get(), L"FriendlyName", d.name);
        d.hasPath = ReadBagString(bag.Get(), L"DevicePath", d.path);
    }
    d.bind = moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(d.filter.GetAddressOf()));
    if (FAILED(d.bind)) return;
    d.filter->QueryInterface(IID_IKsControl, reinterpret_cast<void**>(d.ks.GetAddressOf()));
    d.filter->QueryInterface(kIidTopology, reinterpret_cast<void**>(d.topology.GetAddressOf()));
    d.filter->QueryInterface(kit::IID_ICustomCameraProp, reinterpret_cast<void**>(d.custom.GetAddressOf()));
    if (!d.topology) return;
    DWORD count = 0;
    d.nodesResult = d.topology->get_NumNodes(&count);
    if (FAILED(d.nodesResult)) return;
    for (DWORD i = 0; i < count; ++i) {
        GUID type{};
        HRESULT hr = d.topology->get_NodeType(i, &type);
        if (FAILED(hr)) {
            d.nodesResult = hr;
            return;
        }
        d.nodes.push_back(type);
        if (d.xuNode < 0 && type == kNodeTypes[0].type) d.xuNode = static_cast<int>(i);
    }
}

// Every device of the video-input category, bound. False when the category cannot be listed.
bool Enumerate(std::vector<Device>& out) {
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(devices.GetAddressOf()));
    if (FAILED(hr)) {
        std::printf("system device enumerator: %s\n", Hr(hr).c_str());
        return false;
    }
    ComPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    if (hr != S_OK || !monikers) {
        std::printf("video-input category: %s (no devices)\n", Hr(hr).c_str());
        return hr == S_FALSE;
    }
    ComPtr<IMoniker> moniker;
    while ((hr = monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr)) == S_OK) {
        out.emplace_back();
        Describe(moniker.Get(), out.back());
    }
    if (FAILED(hr)) std::printf("IEnumMoniker::Next: %s\n", Hr(hr).c_str());
    return SUCCEEDED(hr);
}

HRESULT Ks(IKsControl* ks, const GUID& set, ULONG node, ULONG selector, ULONG flags, void* data, ULONG bytes,
           ULONG& returned, ULONG propertyLength = sizeof(KSP_NODE)) {
    KSP_NODE request{};
    request.Property.Set = set;
    request.Property.Id = selector;
    request.Property.Flags = flags;
    request.NodeId = node;
    returned = 0;
    return ks->KsProperty(&request.Property, propertyLength, data, bytes, &returned);
}

std::vector<uint8_t> CustomRecord(uint16_t length, uint8_t code, uint8_t selector,
                                  const std::vector<uint8_t>& data) {
    std::vector<uint8_t> r(kit::kCustomPropertyBufferBytes + 4, 0);
    r[0] = static_cast<uint8_t>(length);
    r[1] = static_cast<uint8_t>(length >> 8);
    r[2] = code;
    r[3] = selector;
    std::copy(data.begin(), data.end(), r.begin() + 4);
    return r;
}

// A request record, then (for reads and lengths) the reply; the result is that of the last call,
// and `firstResult` that of the request.
HRESULT Custom(kit::ICustomCameraProp* cp, uint16_t length, uint8_t code, uint8_t selector,
               const std::vector<uint8_t>& data, std::vector<uint8_t>& reply, HRESULT& firstResult) {
    std::vector<uint8_t> record = CustomRecord(length, code, selector, data);
    firstResult = cp->SetProperty(kit::kCustomPropertyXu, record.data());
    reply.assign(kit::kCustomPropertyBufferBytes, 0);
    if (code == 0x01) return firstResult;
    return cp->GetProperty(kit::kCustomPropertyXu, reply.data());
}

std::string KsRegister(IKsControl* ks, const GUID& set, ULONG node, uint16_t address) {
    uint8_t addr[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)}, value = 0;
    ULONG returned = 0;
    HRESULT hr = Ks(ks, set, node, 2, kSetTopology, addr, 2, returned);
    if (FAILED(hr)) return "hr=" + Hr(hr) + " (address)";
    hr = Ks(ks, set, node, 3, kGetTopology, &value, 1, returned);
    if (FAILED(hr)) return "hr=" + Hr(hr);
    char b[64];
    std::snprintf(b, sizeof b, "hr=%s value=0x%02X", Hr(hr).c_str(), value);
    return b;
}

std::string CustomRegister(kit::ICustomCameraProp* cp, uint16_t address) {
    std::vector<uint8_t> reply;
    HRESULT request = S_OK;
    HRESULT hr = Custom(cp, 2, 0x01, 2, {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)},
                        reply, request);
    if (FAILED(hr)) return "hr=" + Hr(hr) + " (address)";
    hr = Custom(cp, 1, 0x81, 3, {0, 0, 0, 0}, reply, request);
    char b[96];
    std::snprintf(b, sizeof b, "hr=%s request=%s value=0x%02X", Hr(hr).c_str(), Hr(request).c_str(),
                  reply[0]);
    return b;
}

void Walk(const std::vector<Device>& devices) {
    for (size_t i = 0; i < devices.size(); ++i) {
        const Device& d = devices[i];
        const std::string at = "device " + std::to_string(i) + ": ";
        std::printf("%sname=%s\n", at.c_str(), d.name.c_str());
        std::printf("%spath=%s\n", at.c_str(), d.hasPath ? d.path.c_str() : "<none>");
        std::printf("%sbind=%s\n", at.c_str(), Hr(d.bind).c_str());
        if (FAILED(d.bind)) continue;
        std::printf("%sinterfaces ks=%s topology=%s custom=%s\n", at.c_str(), d.ks ? "yes" : "no",
                    d.topology ? "yes" : "no", d.custom ? "yes" : "no");
        if (d.topology) {
            std::string types;
            for (const GUID& t : d.nodes) {
                if (!types.empty()) types += ',';
                types += NodeTypeText(t);
            }
            std::printf("%snodes=%zu types=%s hr=%s\n", at.c_str(), d.nodes.size(), types.c_str(),
                        Hr(d.nodesResult).c_str());
        }
        if (d.ks && d.xuNode >= 0) {
            const ULONG node = static_cast<ULONG>(d.xuNode);
            std::printf("%sxu node=%d\n", at.c_str(), d.xuNode);
            for (const char* name : {"first", "second"}) {
                GUID set{};
                ParseSet(name, set);
                ULONG returned = 0;
                HRESULT hr = Ks(d.ks.Get(), set, node, 10, kGetTopology, nullptr, 0, returned);
                std::printf("%sks length 10 %s: hr=%s bytes=%lu\n", at.c_str(), name, Hr(hr).c_str(),
                            static_cast<unsigned long>(returned));
                if (hr == HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND)) continue;
                std::printf("%sks register 0x20FF %s: %s\n", at.c_str(), name,
                            KsRegister(d.ks.Get(), set, node, 0x20FF).c_str());
                break;
            }
        }
        if (d.custom) {
            std::vector<uint8_t> reply;
            HRESULT request = S_OK;
            HRESULT hr = Custom(d.custom.Get(), 2, 0x85, 10, {0, 0, 0, 0}, reply, request);
            std::printf("%sprivate length 10: hr=%s request=%s length=%u\n", at.c_str(), Hr(hr).c_str(),
                        Hr(request).c_str(), static_cast<unsigned>(reply[0] | reply[1] << 8));
            std::printf("%sprivate register 0x20FF: %s\n", at.c_str(),
                        CustomRegister(d.custom.Get(), 0x20FF).c_str());
        }
    }
}

// Whether every interface of the device answers IUnknown with one pointer, as COM requires.
bool SameIdentity(const Device& d) {
    auto identity = [](IUnknown* from) {
        ComPtr<IUnknown> unknown;
        if (!from ||
            FAILED(from->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.GetAddressOf()))))
            return static_cast<IUnknown*>(nullptr);
        return unknown.Get();
    };
    IUnknown* filter = identity(d.filter.Get());
    if (!filter) return false;
    for (IUnknown* other : {static_cast<IUnknown*>(d.ks.Get()), static_cast<IUnknown*>(d.topology.Get()),
                            static_cast<IUnknown*>(d.custom.Get())})
        if (other && identity(other) != filter) return false;
    return true;
}

// One step on a bound device; false on a step that cannot be read.
bool Step(Device& d, const std::string& step) {
    const std::vector<std::string> f = Split(step, ':');
    const std::string& op = f[0];
    auto node = [&](const std::string& text, ULONG& out) {
        unsigned long n = 0;
        if (text == "xu") {
            if (d.xuNode < 0) return false;
            out = static_cast<ULONG>(d.xuNode);
            return true;
        }
        if (!ParseNumber(text, n)) return false;
        out = n;
        return true;
    };
    GUID set{};
    ULONG nodeId = 0, returned = 0;
    unsigned long selector = 0, count = 0, flags = 0;
    std::vector<uint8_t> data;
    if (op.rfind("ks-", 0) == 0 && !d.ks) {
        std::printf("%s: no IKsControl\n", step.c_str());
        return true;
    }
    if (op.rfind("cp-", 0) == 0 && !d.custom) {
        std::printf("%s: no ICustomCameraProp\n", step.c_str());
        return true;
    }
    if ((op == "ks-len" || op == "ks-short") && f.size() == 4 && ParseSet(f[1], set) && node(f[2], nodeId) &&
        ParseNumber(f[3], selector)) {
        HRESULT hr = Ks(d.ks.Get(), set, nodeId, selector, kGetTopology, nullptr, 0, returned,
                        op == "ks-short" ? sizeof(KSPROPERTY) : sizeof(KSP_NODE));
        std::printf("%s: hr=%s bytes=%lu\n", step.c_str(), Hr(hr).c_str(),
                    static_cast<unsigned long>(returned));
    } else if (op == "ks-get" && f.size() == 5 && ParseSet(f[1], set) && node(f[2], nodeId) &&
               ParseNumber(f[3], selector) && ParseNumber(f[4], count)) {
        data.assign(count, 0xEE);
        HRESULT hr = Ks(d.ks.Get(), set, nodeId, selector, kGetTopology, data.data(), count, returned);
        std::printf("%s: hr=%s bytes=%lu data=%s\n", step.c_str(), Hr(hr).c_str(),
                    static_cast<unsigned long>(returned), Hex(data.data(), data.size()).c_str());
    } else if (op == "ks-set" && f.size() == 5 && ParseSet(f[1], set) && node(f[2], nodeId) &&
               ParseNumber(f[3], selector) && ParseData(f[4], data)) {
        HRESULT hr = Ks(d.ks.Get(), set, nodeId, selector, kSetTopology, data.data(),
                        static_cast<ULONG>(data.size()), returned);
        std::printf("%s: hr=%s bytes=%lu\n", step.c_str(), Hr(hr).c_str(),
                    static_cast<unsigned long>(returned));
    } else if (op == "ks-flags" && f.size() == 5 && ParseNumber(f[1], flags, 16) && ParseSet(f[2], set) &&
               node(f[3], nodeId) && ParseNumber(f[4], selector)) {
        HRESULT hr = Ks(d.ks.Get(), set, nodeId, selector, flags, nullptr, 0, returned);
        std::printf("%s: hr=%s bytes=%lu\n", step.c_str(), Hr(hr).c_str(),
                    static_cast<unsigned long>(returned));
    } else if (op == "cp-len" && f.size() == 2 && ParseNumber(f[1], selector)) {
        HRESULT request = S_OK;
        HRESULT hr =
            Custom(d.custom.Get(), 2, 0x85, static_cast<uint8_t>(selector), {0, 0, 0, 0}, data, request);
        std::printf("%s: hr=%s request=%s length=%u\n", step.c_str(), Hr(hr).c_str(), Hr(request).c_str(),
                    static_cast<unsigned>(data[0] | data[1] << 8));
    } else if (op == "cp-get" && f.size() == 3 && ParseNumber(f[1], selector) && ParseNumber(f[2], count) &&
               count <= kit::kCustomPropertyBufferBytes) {
        HRESULT request = S_OK;
        HRESULT hr = Custom(d.custom.Get(), static_cast<uint16_t>(count), 0x81,
                            static_cast<uint8_t>(selector), {0, 0, 0, 0}, data, request);
        std::printf("%s: hr=%s request=%s data=%s\n", step.c_str(), Hr(hr).c_str(), Hr(request).c_str(),
                    Hex(data.data(), count).c_str());
    } else if (op == "cp-set" && f.size() == 3 && ParseNumber(f[1], selector) && ParseData(f[2], data) &&
               data.size() <= kit::kCustomPropertyBufferBytes) {
        std::vector<uint8_t> reply;
        HRESULT request = S_OK;
        HRESULT hr = Custom(d.custom.Get(), static_cast<uint16_t>(data.size()), 0x01,
                            static_cast<uint8_t>(selector), data, reply, request);
        std::printf("%s: hr=%s\n", step.c_str(), Hr(hr).c_str());
    } else if (op == "cp-raw" && f.size() == 3 && ParseNumber(f[1], count) && ParseData(f[2], data)) {
        data.resize(kit::kCustomPropertyBufferBytes + 4, 0);
        HRESULT hr = d.custom->SetProperty(count, data.data());
        std::printf("%s: hr=%s\n", step.c_str(), Hr(hr).c_str());
    } else if (op == "cp-fetch" && f.size() == 2 && ParseNumber(f[1], count)) {
        data.assign(kit::kCustomPropertyBufferBytes, 0xEE);
        HRESULT hr = d.custom->GetProperty(count, data.data());
        std::printf("%s: hr=%s data=%s\n", step.c_str(), Hr(hr).c_str(), Hex(data.data(), 4).c_str());
    } else if (op == "reg" && f.size() == 4 && f[1] == "ks" && ParseSet(f[2], set) &&
               ParseNumber(f[3], count)) {
        if (!d.ks || d.xuNode < 0)
            std::printf("%s: no extension-unit node\n", step.c_str());
        else
            std::printf(
                "%s: %s\n", step.c_str(),
                KsRegister(d.ks.Get(), set, static_cast<ULONG>(d.xuNode), static_cast<uint16_t>(count))
                    .c_str());
    } else if (op == "reg" && f.size() == 3 && f[1] == "cp" && ParseNumber(f[2], count)) {
        if (!d.custom)
            std::printf("%s: no ICustomCameraProp\n", step.c_str());
        else
            std::printf("%s: %s\n", step.c_str(),
                        CustomRegister(d.custom.Get(), static_cast<uint16_t>(count)).c_str());
    } else if (op == "names" && f.size() == 1) {
        if (!d.topology) {
            std::printf("%s: no IKsTopologyInfo\n", step.c_str());
            return true;
        }
        std::string line;
        for (DWORD i = 0; i < d.nodes.size(); ++i) {
            DWORD bytes = 0;
            HRESULT hr = d.topology->get_NodeName(i, nullptr, 0, &bytes);
            if (!line.empty()) line += ',';
            if (hr != HRESULT_FROM_WIN32(ERROR_MORE_DATA) || bytes == 0) {
                line += Hr(hr);
                continue;
            }
            std::vector<WCHAR> name(bytes / sizeof(WCHAR) + 1, 0);
            hr = d.topology->get_NodeName(i, name.data(), bytes, &bytes);
            line += SUCCEEDED(hr) ? Narrow(name.data()) : Hr(hr);
        }
        DWORD connections = 0;
        HRESULT hr = d.topology->get_NumConnections(&connections);
        std::printf("%s: %s connections=%lu hr=%s\n", step.c_str(), line.c_str(),
                    static_cast<unsigned long>(connections), Hr(hr).c_str());
    } else if (op == "info" && f.size() == 1) {
        CLSID clsid{};
        HRESULT hr = d.filter->GetClassID(&clsid);
        wchar_t text[40] = L"";
        StringFromGUID2(clsid, text, 40);
        FILTER_STATE state = State_Running;
        HRESULT stateHr = d.filter->GetState(0, &state);
        ComPtr<IEnumPins> pins;
        ComPtr<IPin> pin;
        ULONG fetched = 7;
        HRESULT enumHr = d.filter->EnumPins(pins.GetAddressOf());
        HRESULT nextHr = SUCCEEDED(enumHr) ? pins->Next(1, pin.GetAddressOf(), &fetched) : enumHr;
        ULONG driver = 0;
        HRESULT driverHr = d.custom ? d.custom->GetDriverInfo(&driver) : E_NOINTERFACE;
        std::printf("%s: class=%s hr=%s state=%d hr=%s pins=%lu next=%s driver=0x%08lX hr=%s identity=%s\n",
                    step.c_str(), Narrow(text).c_str(), Hr(hr).c_str(), static_cast<int>(state),
                    Hr(stateHr).c_str(), static_cast<unsigned long>(fetched), Hr(nextHr).c_str(),
                    static_cast<unsigned long>(driver), Hr(driverHr).c_str(),
                    SameIdentity(d) ? "same" : "different");
    } else if (op == "exit-now" && f.size() == 1) {
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 0);
    } else {
        std::fprintf(stderr, "ks_probe: cannot read the step %s\n", step.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ComApartment com;
    if (FAILED(com.Result())) {
        std::printf("CoInitializeEx: %s\n", Hr(com.Result()).c_str());
        return 1;
    }
    std::vector<Device> devices;
    if (!Enumerate(devices)) return 1;
    if (argc == 1) {
        Walk(devices);
        return 0;
    }
    unsigned long index = 0;
    if (!ParseNumber(argv[1], index, 10)) {
        std::fprintf(stderr, "usage: ks_probe [<device> <step>...]\n");
        return 2;
    }
    if (index >= devices.size()) {
        std::printf("device %lu: not present (%zu devices)\n", index, devices.size());
        return 1;
    }
    Device& d = devices[index];
    if (FAILED(d.bind)) {
        std::printf("device %lu: bind=%s\n", index, Hr(d.bind).c_str());
        return 1;
    }
    // A last step "unload" releases every device and asks COM to free unused servers: the stand-in
    // goes only when no reference of it is left.
    const bool unload = argc > 2 && std::string(argv[argc - 1]) == "unload";
    for (int i = 2; i < argc - (unload ? 1 : 0); ++i)
        if (!Step(d, argv[i])) return 2;
    if (unload) {
        devices.clear();
        CoFreeUnusedLibrariesEx(0, 0);
        std::printf("unload: %s\n", GetModuleHandleA("CaptureStandIn.dll") ? "still loaded" : "unloaded");
    }
    return 0;
}
