// The USB tree of an emulated bench: host controllers, hubs and the cameras on their ports, with
// the descriptors each camera answers. It is what the hub driver's requests see (controller
// driver key, root hub name, node and connection information, descriptor requests).
//
// bench.ini keys (all optional):
//   [bench]     controllers=1        ; host controllers HCD0..HCDn-1 (1..10)
//               root_ports=4         ; ports of every root hub
//   [hubname]   kind=hub  parent=<hub or empty for a root hub>  controller=0  port=2  ports=4
//   [camera]    controller=0  hub=<hub record or empty: the root hub>  port=1
//               manufacturer=..., product=..., serial=...   (string descriptors; left empty: the
//               device has no such string, index 0; serial is empty unless given)
//               xu_guid=first | second | none | {GUID}      (extension unit in the configuration)
// Hubs are named in [bench] hubs=h1,h2. Device and configuration descriptors are generated from
// the camera record, so they always agree with its other views.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emu/bench.h"

namespace emu {

using Guid = std::array<uint8_t, 16>;

// The two extension-unit property sets a camera's extension unit may carry, in the byte order of
// a descriptor's guidExtensionCode.
Guid FirstExtensionSet();
Guid SecondExtensionSet();
// "{63610682-5070-49AB-B8CC-B3855E8D221D}" -> bytes as a GUID lies in memory.
bool ParseGuid(const std::string& text, Guid& out);

struct UsbHubNode {
    std::string name;        // record name, or "roothub<n>"
    std::string instanceId;  // e.g. USB\ROOT_HUB30\4&1c0ffee&0&0
    std::string parent;      // "" for a root hub
    int controller = 0;
    uint8_t parentPort = 0;
    uint8_t ports = 4;
};

struct UsbPortAnswer {
    bool connected = false;
    bool isHub = false;
    std::string hubName;           // when isHub
    std::vector<uint8_t> device;   // 18-byte device descriptor when a camera sits there
    const CameraRecord* camera = nullptr;
};

class UsbTopology {
public:
    // Builds the tree; `revisionOf` gives a camera's current bcdDevice (it comes from the device's
    // memory, which the chip models own). Returns false and says why in `error`.
    // `shownAs`, when given, gives the identity a camera enumerates with now (vendor and product
    // ID, release; a camera in ROM mode shows its ROM's) and false for one that is off the bus
    // (its port then reads empty); it replaces `revisionOf`.
    bool Build(const Bench& bench, std::function<uint16_t(const CameraRecord&)> revisionOf, std::string& error,
               std::function<bool(const CameraRecord&, CameraRecord&)> shownAs = nullptr);

    int ControllerCount() const { return controllers_; }
    std::string ControllerDriverKey(int controller) const;
    std::string RootHubName(int controller) const;  // the root hub's symbolic name
    const UsbHubNode* Hub(const std::string& name) const;
    UsbPortAnswer Port(const std::string& hubName, uint8_t port) const;
    // The reply to a standard GET_DESCRIPTOR request to the device on a port (wValue = type << 8 |
    // index, wIndex = language, wLength = the most to return). Empty when nothing answers.
    std::vector<uint8_t> Descriptor(const std::string& hubName, uint8_t port, uint16_t wValue, uint16_t wIndex,
                                    uint16_t wLength) const;
    // Instance ID of the hub a camera is attached to (what two parent steps reach from its
    // imaging-class interface).
    std::string HubInstanceOf(const CameraRecord& camera) const;

    // The descriptors of one camera, as its firmware would answer them.
    static std::vector<uint8_t> DeviceDescriptor(const CameraRecord& camera, uint16_t vid, uint16_t pid,
                                                 uint16_t revision);
    static std::vector<uint8_t> ConfigurationDescriptor(const CameraRecord& camera);
    static std::vector<uint8_t> StringDescriptor(const std::string& text);

private:
    struct Attachment {
        const CameraRecord* camera;
        std::string hub;
        uint8_t port;
        uint16_t revision;
        uint16_t vid = 0, pid = 0;
        bool present = true;
    };
    int controllers_ = 1;
    std::vector<UsbHubNode> hubs_;
    std::vector<Attachment> cameras_;
};

}  // namespace emu
