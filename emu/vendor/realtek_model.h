// The Realtek camera library (RvcLib.dll) as the emulated bench answers it: the bench's cameras
// with chip=realtek, in bench order, each with a firmware memory ("EEPROM") held in an image file
// of the bench folder (see device_memory.h for the file, its size and the identity block at
// 0xF000 that gives the device release).
//
// Keys of a realtek camera's section, besides those of device_memory.h:
//   memtype=3              memory type the library reports, and requires of every EEPROM call
//   progress_block=4096    bytes per progress callback of EEPROMWrite3 (and per unplug step)
//   callback_thread=caller caller (the default): progress callbacks on the calling thread;
//                          worker: on a thread of the library's own (see below)
//   step_delay_us=0        real time spent after each progress step, for runs that watch a write
// Library-wide keys of [bench]: rvclib_missing and rvclib_fault<k> (library_keys.h).
//
// How the library behaves where its callers leave it open:
//  - Indexes count the cameras still present, so an unplugged camera shifts the later ones down,
//    as a re-enumeration would. A handle names one camera until UVC_Close or RvcLib_UnInitialize;
//    handles start at 0x1001 and are never reused in a process. RvcLib_Initialize is not
//    required before the other calls (a caller that lacks it still sees the cameras).
//  - EEPROMInfo and EEPROMInfo2 ignore the preset values and report the camera's type and size.
//  - EEPROMWrite3 requires the camera's memory type and 1 <= size <= the memory size; it writes
//    size bytes from offset 0 (the rest of the memory is left as it is) in progress_block pieces,
//    calling back (done, 2 * size) after each, saves the image file, then reads back and compares
//    piece by piece, calling back (size + checked, 2 * size). The last callback is (2 * size,
//    2 * size). A difference stops the write with kRvcVerify.
//  - EEPROMWrite writes without callbacks or verification; EEPROMRead copies out; EEPROMErase sets
//    every byte to 0xFF. Sensor registers are plain storage (address 0..0xFFFF, 0 at power-on,
//    8- or 16-bit wide accesses masking the value); the two reset calls clear them.
//  - Memory changes reach the image file before the call returns (or, when the camera is
//    unplugged part-way, with what was written until then).
//  - A power cut (rvclib_fault<k>=cut=<n>[:<bytes>], vendor_faults.h) takes every camera of the
//    library: a write cut after <bytes> has written exactly those first bytes of the image (the
//    rest of the memory is as it was), an erase has erased them from address 0, a cut in the
//    read-back leaves the image written. The cut call answers kRvcNoDevice. Each camera's
//    <record>.power says state=cut, and a camera in that state is absent from the start in later
//    processes; `benchtool replug` makes it state=returned, and it enumerates again as ever, with
//    the memory the cut left (its recovery is the vendor's library's own business, which these
//    calls stand for: a returned camera takes every call as before).
//  - Not thread-safe: one caller at a time, as the kit uses it.
//
// Which thread calls back (callback_thread), for EEPROMWrite3 only (the other calls take no
// callback and run on the caller's thread in both modes):
//  - caller: every callback runs on the thread that called EEPROMWrite3, between two steps of the
//    write, before EEPROMWrite3 returns. The callback may do anything its thread may do: pump
//    messages, send window messages to windows of its own thread or of others. Orlinde needs this
//    (it writes on its interface thread and pumps messages in its callback), as does every caller
//    that calls EEPROMWrite3 on a thread that owns windows.
//  - worker: EEPROMWrite3 starts one thread of its own, runs the whole write and its callbacks
//    there, and joins it. Meanwhile the calling thread only waits: it pumps no messages and
//    handles no sent message. A callback that sends a window message to a window of the calling
//    thread, or waits for that thread in any other way, therefore deadlocks. Use it only for a
//    caller that writes from a thread without windows and whose callback reaches other threads
//    only (Tessaw: its update worker writes, its callback sends to the dialog of the main thread);
//    it proves such a caller does not rely on the callback's thread. A write tool, or any caller
//    whose callback touches the calling thread's windows, must run with caller.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "emu/bench.h"
#include "emu/vendor/device_memory.h"
#include "emu/vendor/vendor_faults.h"

namespace emu::vendor {

// Results of the emulated library. -1 is also what the kit takes for a missing entry point.
inline constexpr int32_t kRvcOk = 0;
inline constexpr int32_t kRvcFailed = -1;
inline constexpr int32_t kRvcNoDevice = -2;     // no present camera has that index or handle
inline constexpr int32_t kRvcBadArgument = -3;  // null pointer, size or address out of range
inline constexpr int32_t kRvcMemoryType = -4;   // not the camera's memory type
inline constexpr int32_t kRvcVerify = -5;       // the read-back differs from the image
inline constexpr int32_t kRvcStorage = -6;      // the image file could not be saved

enum class CallbackThread : uint8_t { Caller, Worker };

struct RealtekConfig {
    CameraRecord record;
    MemoryFile memory;
    int32_t memoryType = 3;
    uint32_t progressBlock = 4096;
    CallbackThread callbackThread = CallbackThread::Caller;
    uint32_t stepDelayUs = 0;
    std::string powerPath;  // <record>.power; empty: cuts are not kept across processes
};

// Every export of RvcLib.dll, as faults and rvclib_missing name them.
const std::vector<EntryName>& RvcLibEntries();

// A camera record's settings; says why when a key is malformed.
bool RealtekConfigOf(const Bench& bench, const CameraRecord& record, RealtekConfig& out, std::string& error);

class RealtekLibrary {
public:
    using Progress = std::function<void(uint32_t done, uint32_t total)>;

    // The bench's realtek cameras and its rvclib_fault<k> keys; memories are loaded here.
    static bool FromBench(const Bench& bench, std::unique_ptr<RealtekLibrary>& out, std::string& error);
    static bool Create(std::vector<RealtekConfig> cameras, FaultTable faults,
                       std::unique_ptr<RealtekLibrary>& out, std::string& error);
    // No camera at all: what a stand-in answers without a usable bench.
    RealtekLibrary() = default;

    int32_t Initialize(int32_t reserved, int32_t mode);
    int32_t UnInitialize(int32_t mode);
    int32_t Open(int32_t index);
    int32_t Close(int32_t handle);
    int32_t GetVidPid(int32_t handle, uint16_t* vid, uint16_t* pid);
    int32_t GetVidPidRev(int32_t handle, uint16_t* vid, uint16_t* pid, uint16_t* rev);
    // `entry` is "EEPROMInfo" or "EEPROMInfo2": the same call, counted under its own name.
    int32_t EepromInfo(const char* entry, int32_t index, int32_t* memoryType, int32_t* size);
    int32_t EepromWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                         const Progress& progress);
    int32_t EepromWrite(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image);
    int32_t EepromRead(int32_t memoryType, int32_t index, int32_t size, uint8_t* out);
    int32_t EepromErase(int32_t memoryType, int32_t index);
    // `bits` is 8 or 16.
    int32_t ReadSensor(int bits, int32_t handle, uint32_t address, uint32_t* value);
    int32_t WriteSensor(int bits, int32_t handle, uint32_t address, uint32_t value);
    // `entry` is "UVC_ResetToRom" or "UVC_ResetToDLFW".
    int32_t Reset(const char* entry, int32_t handle);

    // The bench side, by camera name.
    size_t CameraCount() const { return cameras_.size(); }
    bool Present(const std::string& camera) const;
    const std::vector<uint8_t>* Memory(const std::string& camera) const;
    Identity IdentityOf(const std::string& camera) const;
    uint32_t Resets(const std::string& camera) const;
    const FaultTable& Faults() const { return faults_; }

private:
    struct Camera {
        RealtekConfig config;
        std::vector<uint8_t> memory;
        bool present = true;
        std::map<uint32_t, uint32_t> sensor;
        uint32_t resets = 0;
    };

    // The fault verdict of one call and the unplug it asks for after some steps, if any: a
    // call that ends before taking that many steps lets the camera go as it returns.
    struct Call {
        CallVerdict verdict;
        Camera* unplugLater = nullptr;
        RealtekLibrary* cutLater = nullptr;  // the power goes after verdict.cutBytes of the call's work
        Call() = default;
        Call(Call&& other) noexcept
            : verdict(std::move(other.verdict)),
              unplugLater(std::exchange(other.unplugLater, nullptr)),
              cutLater(std::exchange(other.cutLater, nullptr)) {}
        Call& operator=(Call&&) = delete;
        ~Call();
        // True when the power is still on after `done` bytes of the call's work; cuts it otherwise.
        bool PowerAfter(uint32_t done);
        bool Cut() const { return verdict.cut; }
    };

    Camera* ByIndex(int32_t index);
    Camera* ByHandle(int32_t handle);
    Camera* ByName(const std::string& name);
    const Camera* ByName(const std::string& name) const;
    // `work`: the bytes of memory work the call would do (vendor_faults.h); a call without any is
    // cut before it acts.
    Call Begin(std::initializer_list<std::string_view> entries, Camera* directed, bool directedEntry = true,
               uint32_t work = 0);
    // Every present camera loses its power: memories saved, state=cut kept.
    void CutPower();
    int32_t Write(const char* entry, int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                  const Progress* progress);

    std::vector<Camera> cameras_;
    FaultTable faults_;
    std::map<int32_t, size_t> handles_;
    int32_t nextHandle_ = 0x1001;
};

}  // namespace emu::vendor
