// The live devices of an emulated bench: one chip model per camera, built from its record, with
// its persistent memory loaded from the bench folder and written back after every change.
//
// Quelmar camera keys (all optional; numbers decimal or 0x-hexadecimal):
//   family=j            chip family letter d, f..l (sets chip_id to the family's usual value)
//   chip_id=0xB5        identification register 0x20FF (wins over family)
//   sub_variant=0x10    register 0x20D0 (family 'd' is nibble 0xA with 0x10)
//   flash=121           flash part by the code the kit's probe gives it (120: a part it does not know)
//   flash_size=65536    bytes of the part's array (default: the part's own size)
//   flash_status=0x0C   non-volatile status bits the first time the bench runs (0x0C: protected)
//   flash_image=cam0.flash      the array, in the bench folder (default <record>.flash)
//   chunk=4096          download chunk length the device reports (64..4096)
//   data_block=4096     XU_SF_DATA length (4096 or 64)
//   busy_reads=2        checksum-trigger reads that answer busy
//   port_busy_reads=0   bypass-port busy reads after each byte
//   absent=13,16        selectors the extension unit lacks
//   id_slot=1           0: the chip has no identification command slot 13
//   in_package=65536    bytes of family 'l' in-package flash (0: none); image <record>.ipf
//   in_package_boot=0   1: power on in in-package mode
//   mode_register=0     register 0x2C00 at power-on
//   carrier=ks          what the driver offers: ks (IKsControl and a topology), private (the maker's
//                       interface and IKsControl, no topology), both, private_only (the maker's
//                       interface without IKsControl: passed over by discovery), none
//   xu_guid=first       the property set the extension unit answers on: first or second
//   ks_nodes=camera,processing,xu,streaming   the capture filter's topology nodes in order (read by
//                       the capture-filter stand-in; other_xu is another maker's device-specific unit)
//   fault1=fail=xu_write:10@3:0x8007001F   scripted faults, one per key fault<N> (see faults.h)
//   replay=cam0.transcript   answer from a recorded transcript (a file in the bench folder or a full
//                       path) instead of the model: a request that differs from the recorded one
//                       fails with 0x8007001F, the first divergence is traced and kept in
//                       <record>.replay, time advances as recorded; the model follows the requests
//                       the recording shows succeeding, so flash and revision change as recorded
//                       (emu/capture_filter/replay_camera.h, docs/recording.md)
//   boot=flash          flash: the camera always runs its flash firmware (as it always did);
//                       mark: it boots by the mark rule below at every power-on and restart
//   rom_vid=04FC        the USB identity of the chip's ROM, shown in ROM mode (hexadecimal);
//   rom_pid=2080        its release rom_rev is the ROM's own, no firmware revision
//   rom_rev=0100
//   image_bytes=65536   how much of the flash the firmware fills, for the "whole" test
// The non-volatile status bits live in <record>.status beside the image.
//
// Power cuts and the return (docs/emulated-bench.md, "Cut and return"): when a cut fault fires the
// camera's <record>.power file records "state=cut", and in every later process the camera stays
// off the bus until ReplugCamera() ("benchtool replug") makes it "state=returned"; either state
// spends the bench's cut faults. A returned camera, and one with boot=mark, boots by the mark rule:
//  - flash firmware, when flash address 0 holds the family's verified mark (0x55 for d, f, g, h;
//    89 16 for i; 89 17 for k; the download-OK flag of the commit selector for j and l, kept in
//    <record>.power) and the image is whole: the identity it enumerates with is as ever;
//    "flash" is the one the chip starts its firmware from: for a family 'l' chip with in-package
//    flash, the one its last download went to (boot_flash= in <record>.power; before any download
//    the in-package flash when in_package_boot=1), whose identity block it then shows;
//  - ROM mode, when the mark is not the verified one: the identity is rom_vid, rom_pid, rom_rev,
//    and the extension unit answers as ever (the ROM keeps the download protocol);
//  - dead, when the mark says verified but the image is not whole: the camera does not enumerate.
// The image is whole when no 256-byte page within the first image_bytes of the flash is erased
// (all 0xFF) and the identity block, where it lies within them, holds the record's vendor ID and a
// product ID and release that are not erased. The rule is applied when the camera powers on and
// when the chip restarts; what the camera shows in between does not change.
//
// Where the firmware revision lives: the image identity block (vendor ID, product ID, device
// release; little-endian 16-bit each) of the flash the chip starts its firmware from, at offset
// 0x8008 for families 'f' and 'g', 0xB70A for 'h', 0x678A for 'i' and 0xF000 for the others. Its
// device release is the bcdDevice the camera enumerates with; while the block is erased (0xFFFF)
// the record's rev= is used. Realtek and Sonix cameras keep the same block at 0xF000 of their
// memory (emu/vendor/device_memory.h).
//
// [bench] keys: summary=counters.txt writes the clock's counters there when the devices close;
// real_time=1 paces the virtual clock with real sleeps.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emu/bench.h"
#include "emu/quelmar/quelmar_chip.h"

namespace emu {

// Flash offset of the firmware identity block of a family.
uint32_t IdentityOffset(char family);

enum class BootMode { Flash, Rom, Dead };
// "flash firmware", "ROM mode", "dead".
const char* BootModeName(BootMode mode);
// Flash address 0 holds the family's verified mark (j, l: the download-OK flag decides).
bool VerifiedMark(char family, const std::vector<uint8_t>& flash, bool downloadOk);
// The image within the first `imageBytes` is whole, as said above.
bool WholeImage(char family, const std::vector<uint8_t>& flash, uint16_t vid, uint32_t imageBytes);
// The mark rule.
BootMode BootByMark(char family, const std::vector<uint8_t>& flash, bool downloadOk, uint16_t vid,
                    uint32_t imageBytes);

// Plugs a camera whose power was cut back in: a Quelmar camera boots by the mark rule from now on,
// a Realtek or Sonix camera is listed again with the memory the cut left. False, with the reason,
// when the bench has no such camera with a chip or its state cannot be written.
bool ReplugCamera(const Bench& bench, const std::string& camera, std::string& error);

// The chip description and faults of a Quelmar camera record.
bool ParseChipConfig(const CameraRecord& camera, quelmar::ChipConfig& config, std::vector<quelmar::Fault>& faults,
                     std::string& error);

class BenchDevices {
public:
    BenchDevices() = default;
    ~BenchDevices();
    BenchDevices(const BenchDevices&) = delete;
    BenchDevices& operator=(const BenchDevices&) = delete;

    // Builds every camera's model and loads its memory. The bench must outlive this object.
    bool Open(const Bench& bench, std::string& error);

    // The chip of a chip=quelmar camera, else nullptr.
    quelmar::QuelmarChip* Quelmar(const CameraRecord& camera);
    // ks, private, both or none.
    std::string Carrier(const CameraRecord& camera) const;
    // The bcdDevice the camera enumerates with now.
    uint16_t Revision(const CameraRecord& camera) const;
    // How the camera booted (flash firmware unless it boots by its mark).
    BootMode Boot(const CameraRecord& camera) const;
    // On the bus now: not unplugged, its power not cut, not dead.
    bool Present(const CameraRecord& camera) const;
    // The record as the system sees the camera now: in ROM mode with the ROM's identity, else with
    // its current revision.
    CameraRecord Presented(const CameraRecord& camera) const;
    // Its power was cut in this process or an earlier one and it has not been plugged back in.
    // For Realtek and Sonix cameras (cut by the library stand-ins) read from <record>.power now.
    bool OffBus(const CameraRecord& camera) const;

    // Writes back every memory image that changed since the last call. False, with the reason,
    // when a file cannot be written (the change stays pending).
    bool Persist(std::string& error);

    // false: closing does not write the bench's summary (for a view that only looks at the bench).
    void WriteSummaryOnClose(bool write) { writeSummary_ = write; }

    quelmar::VirtualClock& Clock() { return clock_; }
    // Writes the counters to <folder>/<name>.
    bool WriteSummary(const std::string& name, std::string& error) const;

private:
    struct QuelmarDevice {
        const CameraRecord* camera = nullptr;
        std::unique_ptr<quelmar::QuelmarChip> chip;
        std::string flashPath, statusPath, inPackagePath;
        uint8_t savedStatus = 0;
        std::string powerPath;
        std::string powerState;  // "", "on", "cut" or "returned", as saved
        bool byMark = false;
        bool savedDownloadOk = true;
        bool savedBootsInPackage = false;
        uint16_t romVid = 0, romPid = 0, romRev = 0;
        uint32_t imageBytes = 0;
        mutable BootMode boot = BootMode::Flash;
        mutable uint32_t bootRestarts = 0;
    };
    bool OpenPower(const Bench& bench, const CameraRecord& cam, QuelmarDevice& dev, std::string& error);
    const QuelmarDevice* Find(const CameraRecord& camera) const;
    void DecideBoot(const QuelmarDevice& d) const;
    const Bench* bench_ = nullptr;
    bool writeSummary_ = true;
    quelmar::VirtualClock clock_;
    std::vector<QuelmarDevice> quelmar_;
};

// DirectShow video-input devices of a bench as the system lists them now, in the bench's order: a
// camera whose power was cut, or a dead one, is not listed; one in ROM mode has its ROM's identity
// in its path. Each enumeration reads the bench's state afresh.
class PresentVideoInput final : public kit::VideoInputPort {
public:
    explicit PresentVideoInput(const Bench& bench) : bench_(bench) {}
    int32_t Enumerate(std::vector<kit::VideoInputDevice>& out) override;

private:
    const Bench& bench_;
};

}  // namespace emu
