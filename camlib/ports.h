// Ports of the camera-access library: the capture devices and the three interfaces that may carry
// extension-unit requests to a camera, the present imaging-class devices, the USB hubs, sleeping and
// the trace. The Win32 adapters (camlib/win32/) implement them with DirectShow, kernel streaming,
// SetupAPI and the hub driver; the emulated adapters (camlib/emulated/) with an emulated bench.
//
// Every call is synchronous, runs on the caller's thread and never throws. COM-shaped calls return
// HRESULT values (0 success, S_FALSE 1 where stated, negative failure) and hand a device's answer
// through unchanged, because the core recognises particular values (ERROR_MORE_DATA, NOT_READY,
// SET_NOT_FOUND...). SetupAPI- and hub-shaped calls return Win32 error codes (0 success).
// Objects handed out by a port may be used only while the port lives.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kit/profile.h"
#include "kit/trace.h"

namespace camlib {

// A GUID as it lies in memory (first three groups little-endian).
using Guid = std::array<uint8_t, 16>;

constexpr Guid MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, std::array<uint8_t, 8> d4) {
    return {static_cast<uint8_t>(d1),
            static_cast<uint8_t>(d1 >> 8),
            static_cast<uint8_t>(d1 >> 16),
            static_cast<uint8_t>(d1 >> 24),
            static_cast<uint8_t>(d2),
            static_cast<uint8_t>(d2 >> 8),
            static_cast<uint8_t>(d3),
            static_cast<uint8_t>(d3 >> 8),
            d4[0],
            d4[1],
            d4[2],
            d4[3],
            d4[4],
            d4[5],
            d4[6],
            d4[7]};
}

// The two property sets an extension unit of the chip may answer on, and the node type that marks
// an extension unit in a filter's topology.
inline constexpr Guid kFirstPropertySet =
    MakeGuid(0x63610682, 0x5070, 0x49AB, {0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D});
inline constexpr Guid kSecondPropertySet =
    MakeGuid(0x7D5A1D99, 0x5B32, 0x428B, {0x8C, 0xAD, 0x67, 0x1B, 0x8A, 0x65, 0xF3, 0x7A});
inline constexpr Guid kNodeTypeDevSpecific =
    MakeGuid(0x941C7AC0, 0xC559, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1});

// IKsControl of a capture filter.
class KsControl {
public:
    virtual ~KsControl() = default;
    // IKsControl::KsProperty with a KSP_NODE of `propertyLength` bytes (the core always passes 32,
    // 8-byte aligned). `data` may be null with dataLength 0 (a length query).
    virtual int32_t KsProperty(const uint8_t* property, uint32_t propertyLength, void* data,
                               uint32_t dataLength, uint32_t* bytesReturned) = 0;
};

// IKsTopologyInfo of a capture filter: the nodes and their types.
class KsTopology {
public:
    virtual ~KsTopology() = default;
    virtual int32_t NumNodes(uint32_t* count) = 0;
    virtual int32_t NodeType(uint32_t node, Guid* type) = 0;
};

// The chip maker's private driver interface. Property 35 carries extension-unit records: a request
// buffer of kPrivateRequestBytes, a reply buffer of kPrivateReplyBytes.
class CustomProp {
public:
    virtual ~CustomProp() = default;
    virtual int32_t GetProperty(uint32_t id, uint8_t* buffer) = 0;  // the fifth method
    virtual int32_t SetProperty(uint32_t id, uint8_t* buffer) = 0;  // the sixth method
};

// A capture filter bound from a moniker. Each query returns E_NOINTERFACE when the filter lacks
// the interface.
class CaptureFilter {
public:
    virtual ~CaptureFilter() = default;
    virtual int32_t QueryKsControl(std::unique_ptr<KsControl>& out) = 0;
    virtual int32_t QueryTopology(std::unique_ptr<KsTopology>& out) = 0;
    virtual int32_t QueryCustomProp(std::unique_ptr<CustomProp>& out) = 0;
};

// One moniker of the video-input category.
class VideoDevice {
public:
    virtual ~VideoDevice() = default;
    // Binds the moniker's storage to a property bag and reads "DevicePath", converted to the ANSI
    // code page. A failure leaves `path` empty.
    virtual int32_t ReadDevicePath(std::string& path) = 0;
    // Binds the moniker to its filter (IBaseFilter).
    virtual int32_t BindFilter(std::unique_ptr<CaptureFilter>& out) = 0;
};

class VideoDeviceList {
public:
    virtual ~VideoDeviceList() = default;
    // The next moniker: S_OK, or S_FALSE with nothing after the last.
    virtual int32_t Next(std::unique_ptr<VideoDevice>& out) = 0;
};

class VideoDevicePort {
public:
    virtual ~VideoDevicePort() = default;
    // Initialises COM on this thread (never uninitialised), creates the system device enumerator
    // and a reset class enumerator for the video-input category. S_OK with a list; S_FALSE when
    // the category is empty; the failure otherwise.
    virtual int32_t Open(std::unique_ptr<VideoDeviceList>& out) = 0;
};

// Win32 errors the core recognises from the SetupAPI- and hub-shaped ports.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorNoMoreItems = 259;

// The present devices of the imaging class, as one open list (destroyed with the object).
class ImagingDeviceList {
public:
    virtual ~ImagingDeviceList() = default;
    // Device instance ID; kErrorNoMoreItems past the last device.
    virtual uint32_t InstanceId(uint32_t index, std::string& out) = 0;
    // SPDRP_ADDRESS (the port number on the parent hub).
    virtual uint32_t Address(uint32_t index, uint32_t& address) = 0;
    // SPDRP_HARDWAREID, every string of the list.
    virtual uint32_t HardwareIds(uint32_t index, std::vector<std::string>& ids) = 0;
    // Instance ID of the device two parent steps up (CM_Get_Parent twice): the hub.
    virtual uint32_t GrandparentInstanceId(uint32_t index, std::string& out) = 0;
};

class ImagingDevicePort {
public:
    virtual ~ImagingDevicePort() = default;
    // SetupDiGetClassDevs(imaging class, present devices); the error when the list is invalid.
    virtual uint32_t OpenPresent(std::unique_ptr<ImagingDeviceList>& out) = 0;
};

// What a hub says about one of its ports.
struct UsbConnection {
    bool connected = false;
    bool isHub = false;
    std::array<uint8_t, 18> device{};  // device descriptor of a connected device
};

class UsbHub {
public:
    virtual ~UsbHub() = default;
    virtual uint32_t PortCount(uint8_t& ports) = 0;                         // node information
    virtual uint32_t Connection(uint32_t port, UsbConnection& out) = 0;     // connection information
    virtual uint32_t ConnectionName(uint32_t port, std::string& name) = 0;  // the hub on that port
    // A descriptor request: `buffer` holds the request record (connection index, setup packet)
    // followed by room for the reply; `returned` counts the bytes written, record included.
    virtual uint32_t DescriptorRequest(uint8_t* buffer, uint32_t size, uint32_t& returned) = 0;
};

class UsbHostController {
public:
    virtual ~UsbHostController() = default;
    virtual uint32_t DriverKeyName(std::string& name) = 0;
    virtual uint32_t RootHubName(std::string& name) = 0;
};

class UsbHubPort {
public:
    virtual ~UsbHubPort() = default;
    // Host controller HCD<n>; nullptr when it does not open.
    virtual std::unique_ptr<UsbHostController> OpenHostController(int n) = 0;
    // A hub by the name a controller or a parent hub gave for it.
    virtual uint32_t OpenHub(const std::string& name, std::unique_ptr<UsbHub>& out) = 0;
};

// Pauses the caller. On a bench the pause moves the bench's virtual clock instead of the wall clock.
class SleepPort {
public:
    virtual ~SleepPort() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// Microseconds from a fixed start, for the time stamps of a recording. On a bench the bench's
// virtual clock, so that a recording made there is the same on every machine. Cheap, any thread.
class TimePort {
public:
    virtual ~TimePort() = default;
    virtual uint64_t NowUs() = 0;
};

// The system's ANSI code page, for the UTF-16 text a device hands over (string descriptors).
// Synchronous, never fails: a character the code page lacks becomes its default character.
class CodePagePort {
public:
    virtual ~CodePagePort() = default;
    virtual std::string FromUtf16(const std::u16string& text) = 0;
};

// The ports the library runs on.
struct Platform {
    VideoDevicePort* video = nullptr;
    ImagingDevicePort* imaging = nullptr;
    UsbHubPort* hubs = nullptr;
    SleepPort* sleep = nullptr;
    kit::Trace* trace = nullptr;
    kit::ProfileReader* profile = nullptr;
    std::string settingFile;  // setting.ini beside the program
    CodePagePort* ansi = nullptr;  // null: Windows-1252, the ANSI code page of Western systems
    TimePort* time = nullptr;      // null: the host's steady clock
    std::string program;           // the running program's file name, for a recording's header
};

// The platform the library's operations use: the one installed with UsePlatform, else the
// system's (the emulated bench when CAMKIT_BENCH names one).
Platform& CurrentPlatform();
// Installs `platform` for the whole process; nullptr returns to the system's. Handles keep the
// platform they were created on.
void UsePlatform(Platform* platform);
// The system's platform, built on first use.
Platform& SystemPlatform();
// Ends what a run keeps open on the system's platform: the recording (its closing line) and the
// reports of a bench's replaying cameras. Static destructors do this too; a program that ends with
// ExitProcess, which skips them, calls it before.
void EndSystemRun();

}  // namespace camlib
