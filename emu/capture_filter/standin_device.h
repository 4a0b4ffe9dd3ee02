// What the capture-filter stand-in answers, without COM: a camera's kernel-streaming requests on
// its extension-unit node, its topology, and the chip maker's private property 35, all from the
// bench's chip model. The COM server (capture_filter_win32.cpp) only unpacks its arguments and
// calls in here, so that every answer below is checked natively.
//
// The process-wide bench:
//   The server reads its bench once per process (the folder named by the Bench value under its
//   class key, see registration.h), and every filter object of the process shares its devices, as
//   every handle of a real camera reaches the same device: a register written through one filter
//   is read back through another. All requests to the bench are serialised by one lock.
//
// Kernel-streaming requests (IKsControl::KsProperty with a 32-byte KSP_NODE), checked in order:
//   null property or returned-bytes pointer      E_POINTER
//   no camera behind the filter                  HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
//   property shorter than KSPROPERTY (24)        HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
//   flags without KSPROPERTY_TYPE_TOPOLOGY       HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND): the unit's
//                                                sets live on its node, not on the filter
//   topology request shorter than KSP_NODE (32)  HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
//   node id beyond the topology                  E_INVALIDARG
//   a node other than the extension unit         HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND)
//   a set other than the two extension-unit sets HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND)
//   flags other than GET|TOPOLOGY, SET|TOPOLOGY  HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)
//   data length without a data buffer            E_POINTER
//   a selector above 255 (the unit has none)     HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
// then the chip answers (it refuses the set its unit does not carry with ERROR_SET_NOT_FOUND, an
// absent selector with ERROR_NOT_FOUND, a wrong length with ERROR_GEN_FAILURE). A GET with no data
// is the length query: HRESULT_FROM_WIN32(ERROR_MORE_DATA) with the control's length as the
// returned byte count. A read returns its length as the count, a write 0. The Reserved field of
// KSP_NODE is not looked at, as the class driver does not.
//
// Private property 35 (ICustomCameraProp): SetProperty takes a request record {length (16-bit),
// code, selector, data}; code 0x01 writes `length` bytes, 0x81 reads `length` bytes, 0x85 asks
// the length (the record's length must be 2, as GET_LEN's is). The reply of a read or length
// request is kept for GetProperty, which copies the whole 4096-byte reply buffer and returns the
// result of the request that made it, so that a refused read is seen by whoever fetches its reply.
// Before any such request GetProperty answers HRESULT_FROM_WIN32(ERROR_NO_DATA). Other property
// ids answer ERROR_NOT_SUPPORTED, other codes ERROR_NOT_SUPPORTED, a length above 4096 E_INVALIDARG.
// Each filter object keeps its own reply.
//
// After every request that reached the chip, the bench's memory is written back; when that fails
// the trace says why and a successful request answers HRESULT_FROM_WIN32(ERROR_WRITE_FAULT).
//
// A camera with a replay key answers every call from its transcript before any of the checks above
// (they are part of what was recorded); see replay_camera.h.
//
// Topology: the record key ks_nodes lists the filter's nodes in order (default
// "camera,processing,xu,streaming"): camera (camera terminal), processing (processing unit), xu
// (the chip's extension unit, at most one), other_xu (another maker's extension unit: also of type
// KSNODETYPE_DEV_SPECIFIC, but it carries neither of the chip's sets), selector, streaming (the
// output terminal). Connections run from each node to the next.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emu/bench.h"
#include "emu/bench_devices.h"
#include "emu/capture_filter/replay_camera.h"
#include "emu/usb_topology.h"
#include "kit/trace.h"

namespace emu::capture {

// HRESULTs the stand-in answers with (negative values are failures).
inline constexpr int32_t kSOk = 0;
inline constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003);
inline constexpr int32_t kEInvalidArg = static_cast<int32_t>(0x80070057);
inline constexpr int32_t kWriteFault = static_cast<int32_t>(0x8007001D);
inline constexpr int32_t kNotSupported = static_cast<int32_t>(0x80070032);
inline constexpr int32_t kInsufficientBuffer = static_cast<int32_t>(0x8007007A);
inline constexpr int32_t kNoData = static_cast<int32_t>(0x800700E8);
inline constexpr int32_t kMoreData = static_cast<int32_t>(0x800700EA);
inline constexpr int32_t kDeviceNotConnected = static_cast<int32_t>(0x8007048F);
inline constexpr int32_t kSetNotFound = static_cast<int32_t>(0x80070492);

// KSPROPERTY flags.
inline constexpr uint32_t kKsGet = 0x00000001;
inline constexpr uint32_t kKsSet = 0x00000002;
inline constexpr uint32_t kKsTopology = 0x10000000;

inline constexpr uint32_t kKsPropertyBytes = 24;  // KSPROPERTY
inline constexpr uint32_t kKspNodeBytes = 32;     // KSP_NODE

// Private property 35 and its records.
inline constexpr uint32_t kCustomProperty = 35;
inline constexpr uint32_t kCustomBufferBytes = 4096;
inline constexpr uint8_t kCustomWrite = 0x01;
inline constexpr uint8_t kCustomRead = 0x81;
inline constexpr uint8_t kCustomLength = 0x85;
inline constexpr uint32_t kDriverInfo = 0x00010000;  // what GetDriverInfo reports: version 1.0

// A KSP_NODE as it lies in memory (little-endian).
struct KspNode {
    Guid set{};
    uint32_t id = 0;
    uint32_t flags = 0;
    uint32_t node = 0;
    uint32_t reserved = 0;
};
// Reads the first `length` bytes at `bytes` (24 or more); a 24-byte KSPROPERTY leaves node and
// reserved 0. False when fewer than 24 bytes are given.
bool DecodeKspNode(const uint8_t* bytes, uint32_t length, KspNode& out);
std::array<uint8_t, kKspNodeBytes> EncodeKspNode(const KspNode& node);

enum class NodeKind : uint8_t { Camera, Processing, ExtensionUnit, ForeignUnit, Selector, Streaming };

// Node-type GUIDs as they lie in memory.
Guid NodeTypeOf(NodeKind kind);
// Shown by IKsTopologyInfo::get_NodeName.
const char* NodeNameOf(NodeKind kind);
inline constexpr const char* kDefaultNodes = "camera,processing,xu,streaming";
// Reads a ks_nodes list. False, with the reason, on an unknown name, an empty list or a second xu.
bool ParseNodes(const std::string& text, std::vector<NodeKind>& out, std::string& error);

// Which interfaces a filter exposes, from the camera's carrier key.
struct Exposure {
    bool ksControl = false;  // IKsControl
    bool topology = false;   // IKsTopologyInfo
    bool custom = false;     // ICustomCameraProp
};
// ks: IKsControl and IKsTopologyInfo (the class driver); private: the maker's interface and
// IKsControl without a topology (the maker's own driver; every kernel-streaming filter has
// IKsControl); both: all three; private_only: the maker's interface alone, which no kernel-streaming
// filter shows and discovery passes over; none and anything else: nothing.
Exposure ExposureOf(const std::string& carrier);

// A bench opened once and shared by every filter of the process.
class SharedBench {
public:
    // Loads the bench and its devices; false, with the reason, when it cannot be used.
    bool Open(const std::string& folder, std::string& error);
    const Bench& Description() const { return bench_; }
    // The camera whose DevicePath() equals `path`, ignoring case (what a moniker's bag holds).
    const CameraRecord* FindByDevicePath(const std::string& path) const;

    std::mutex& Lock() { return lock_; }
    // Both under Lock().
    BenchDevices& Devices() { return devices_; }
    // The transcript a replaying camera answers from, else nullptr.
    ReplayCamera* Replay(const CameraRecord& camera);
    // Ends every replay of the bench (reports a run that ended early); takes Lock(). Also done when
    // the bench goes.
    void FinishReplays();

    ~SharedBench();

private:
    Bench bench_;
    BenchDevices devices_;
    std::map<std::string, std::unique_ptr<ReplayCamera>> replays_;  // by record name
    std::mutex lock_;
};

// One filter's view of its camera.
class StandInDevice {
public:
    // A filter with no camera: every request answers ERROR_DEVICE_NOT_CONNECTED. It shows the
    // default topology and exposes every carrier interface, so that the refusal can be seen.
    StandInDevice();
    // A filter bound to `camera` of `bench`. When the camera's ks_nodes cannot be read the filter
    // has no camera, and `problem` says why; else `problem` is left empty.
    StandInDevice(SharedBench& bench, const CameraRecord& camera, std::string& problem);

    // The bench camera behind the filter, or nullptr.
    const CameraRecord* Camera() const { return camera_; }
    const Exposure& Exposes() const { return exposure_; }
    const std::vector<NodeKind>& Nodes() const { return nodes_; }

    // IKsControl::KsProperty.
    int32_t KsProperty(const uint8_t* property, uint32_t propertyLength, uint8_t* data, uint32_t dataLength,
                       uint32_t* returned);
    // ICustomCameraProp::SetProperty / GetProperty; `buffer` holds a record of up to 4100 bytes for
    // a write request, and receives 4096 bytes for a reply.
    int32_t SetCustomProperty(uint32_t id, const uint8_t* buffer);
    int32_t GetCustomProperty(uint32_t id, uint8_t* buffer);

    // Written when a bench camera has no working device behind it, or memory cannot be saved, and
    // where a replay says how it went.
    void SetTrace(kit::Trace* trace);

private:
    int32_t ModelKsProperty(const uint8_t* property, uint32_t propertyLength, uint8_t* data, uint32_t dataLength,
                            uint32_t* returned);
    int32_t ModelSetCustom(uint32_t id, const uint8_t* buffer);
    int32_t ModelGetCustom(uint32_t id, uint8_t* buffer);
    // The recorded answer, after the chip model has been given the request.
    int32_t ReplayKs(const uint8_t* property, uint32_t propertyLength, uint8_t* data, uint32_t dataLength,
                     uint32_t* returned);
    int32_t ReplaySetCustom(uint32_t id, const uint8_t* buffer);
    int32_t ReplayGetCustom(uint32_t id, uint8_t* buffer);

    int32_t Finish(int32_t result);
    int32_t ChipRequest(uint8_t set, uint8_t selector, uint32_t flags, uint8_t* data, uint32_t dataLength,
                        uint32_t* returned);

    SharedBench* bench_ = nullptr;
    const CameraRecord* camera_ = nullptr;
    quelmar::QuelmarChip* chip_ = nullptr;
    Exposure exposure_;
    std::vector<NodeKind> nodes_;
    int xuNode_ = -1;
    kit::Trace* trace_ = nullptr;

    ReplayCamera* replay_ = nullptr;
    transcript::Request lastAsked_;  // the last get or len request of a replay, for its reply
    int32_t replyResult_ = kNoData;
    std::array<uint8_t, kCustomBufferBytes> reply_{};
};

}  // namespace emu::capture
