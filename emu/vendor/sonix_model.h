// The Sonix serial-flash burner library (BurnerApLib.dll) as the emulated bench answers it: the
// bench's cameras with chip=sonix, in bench order, each with a serial flash held in an image file
// of the bench folder (see device_memory.h for the file, its size and the identity block at
// 0xF000 that gives the device release).
//
// Keys of a sonix camera's section, besides those of device_memory.h:
//   rom_version=232RO     ROM name, up to 5 characters (bytes 0..4 of GetRomVersion, zero-padded)
//   rom_index=1           byte 5 of GetRomVersion (0..255); bytes 6 and 7 are 0
//   sector_table=0x0000   what GetSectorTableAddr reports
//   asic=0x1008:C0,0x2000:0102
//                         chip bytes for ProcReadFromASIC: <address>:<hex byte pairs>, comma-
//                         separated; every other chip byte reads 0
//   protect=1             the flash is write-protected at power-on and after ResetDevice
//   protect_status=0x1C   the status word SetWriteProtect(false) reports for a protected flash
//   step_delay_us=0       real time spent after each 256-byte page of a write, for runs that
//                         watch GetProgress while a write runs
// Library-wide keys of [bench]: burnerap_fault<k> (library_keys.h).
//
// How the library behaves where its callers leave it open:
//  - Initialize_DriverInterface picks the first present camera and returns the number of present
//    cameras, or -1 (no device) with no camera picked. Every other call except GetProgress fails
//    (false, or 0 from ResetDevice) until a camera is picked, and once that camera is unplugged.
//  - GetDeviceList gives the DevicePath of every present camera.
//  - The flash is NOR flash: EraseSF sets every byte to 0xFF; a request-6 write ANDs the data
//    into the flash (it can clear bits, never set them), so writing without erasing first leaves
//    the AND of old and new. Writes and erases are refused (false, nothing changed) while the
//    flash is protected. A request outside the flash, a null buffer with a length, or a request
//    other than 6 and 7 answers false; a length of 0 answers true and does nothing.
//  - SetWriteProtect(false, word, byte) stores in `word` the status that was lifted
//    (protect_status when the flash was protected, else 0) and lifts protection;
//    SetWriteProtect(true, ...) restores it. `byte` is kept as the last protect byte seen.
//  - GetProgress is the percentage of the running (or last) request-6 write, updated after every
//    256-byte page; 0 after ResetDevice. It is safe from any thread while a write runs; every other
//    call is meant for one thread at a time, as the kit uses the library. Its faults may set or
//    corrupt the value it returns, not unplug (that would race the write).
//  - Flash changes reach the image file before the call returns (or, when the camera is unplugged
//    part-way, with what was written until then).
//  - A power cut (burnerap_fault<k>=cut=<n>[:<bytes>], vendor_faults.h; GetProgress is not
//    counted) takes every camera of the library: a request-6 write cut after <bytes> has
//    programmed exactly its first <bytes> bytes, in order; an EraseSF cut after <bytes> has erased
//    the flash from address 0 up to there and left the rest as it was. The cut call answers false
//    (ResetDevice 0). Protection is volatile: a camera that comes back is protected again
//    (protect=1). The cut is kept as in realtek_model.h (<record>.power, benchtool replug); a
//    returned camera is found by Initialize_DriverInterface again, with the flash the cut left.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "emu/bench.h"
#include "emu/vendor/device_memory.h"
#include "emu/vendor/vendor_faults.h"

namespace emu::vendor {

inline constexpr uint32_t kSonixPage = 256;
inline constexpr size_t kRomVersionBytes = 8;
inline constexpr size_t kAsicReadBytes = 8;

struct SonixConfig {
    CameraRecord record;
    MemoryFile memory;
    std::array<uint8_t, kRomVersionBytes> romVersion{};
    uint16_t sectorTable = 0;
    std::vector<uint8_t> asic = std::vector<uint8_t>(0x10000, 0);
    bool protectAtPowerOn = true;
    uint16_t protectStatus = 0x1C;
    uint32_t stepDelayUs = 0;
    std::string powerPath;  // <record>.power; empty: cuts are not kept across processes
};

// Every export of BurnerApLib.dll, plus ReqToDriver.read and ReqToDriver.write for faults.
const std::vector<EntryName>& BurnerApEntries();

bool SonixConfigOf(const Bench& bench, const CameraRecord& record, SonixConfig& out, std::string& error);

class SonixLibrary {
public:
    static bool FromBench(const Bench& bench, std::unique_ptr<SonixLibrary>& out, std::string& error);
    static bool Create(std::vector<SonixConfig> cameras, FaultTable faults,
                       std::unique_ptr<SonixLibrary>& out, std::string& error);
    SonixLibrary() = default;  // no camera

    int32_t InitializeDriverInterface();
    // The paths the library would write into the caller's list block.
    bool GetDeviceList(std::vector<std::string>& paths);
    bool GetRomVersion(char* version);
    bool GetSectorTableAddr(uint16_t* address);
    bool ProcReadFromAsic(uint16_t address, uint8_t* buffer);
    bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length);
    bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte);
    bool EraseSf();
    uint32_t GetProgress();
    int32_t ResetDevice();

    // The bench side, by camera name.
    size_t CameraCount() const { return cameras_.size(); }
    bool Present(const std::string& camera) const;
    bool Protected(const std::string& camera) const;
    const std::vector<uint8_t>* Memory(const std::string& camera) const;
    Identity IdentityOf(const std::string& camera) const;
    uint32_t Resets(const std::string& camera) const;
    uint8_t LastProtectByte() const { return lastProtectByte_; }
    // Read only while no call runs.
    const FaultTable& Faults() const { return faults_; }

private:
    struct Camera {
        SonixConfig config;
        std::vector<uint8_t> memory;
        bool present = true;
        bool protect = true;
        uint32_t resets = 0;
    };
    struct Call {
        CallVerdict verdict;
        Camera* unplugLater = nullptr;
        SonixLibrary* cutLater = nullptr;  // the power goes after verdict.cutBytes of the call's work
        Call() = default;
        Call(Call&& other) noexcept
            : verdict(std::move(other.verdict)),
              unplugLater(std::exchange(other.unplugLater, nullptr)),
              cutLater(std::exchange(other.cutLater, nullptr)) {}
        Call& operator=(Call&&) = delete;
        ~Call();
        // True when the power is still on after `done` bytes of the call's work; cuts it otherwise.
        bool PowerAfter(uint32_t done);
    };

    Camera* Picked();
    Camera* ByName(const std::string& name);
    const Camera* ByName(const std::string& name) const;
    // `work`: the bytes of memory work the call would do; a call without any is cut before it acts.
    Call Begin(std::initializer_list<std::string_view> entries, Camera* directed, bool directedEntry = true,
               uint32_t work = 0);
    bool Save(Camera& cam);
    // Every present camera loses its power: flashes saved, state=cut kept.
    void CutPower();

    std::vector<Camera> cameras_;
    FaultTable faults_;
    std::mutex faultsLock_;  // GetProgress counts its calls from another thread
    Camera* picked_ = nullptr;
    std::atomic<uint32_t> progress_{0};
    uint8_t lastProtectByte_ = 0;
};

}  // namespace emu::vendor
