// A throw-away emulated bench for the library's unit tests and benchmark: writes bench.ini into a
// fresh folder, opens its devices and installs the emulated platform for the process (until the rig
// goes). The trace is recorded.
#pragma once

#include "camlib/testing/command_tables.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "camlib/camlib.h"
#include "camlib/emulated/emulated_platform.h"
#include "emu/capture_filter/standin_device.h"
#include "kit/profile.h"
#include "kit/trace.h"

namespace camlib::testing {

using Keys = std::vector<std::pair<std::string, std::string>>;

// One camera section: a USB Quelmar camera on port 3 with the given keys added (later keys win).
std::string CameraSection(const std::string& name, const Keys& keys);
// A bench of the given camera sections (names in order).
std::string BenchIni(const std::vector<std::string>& names, const std::vector<std::string>& sections,
                     const std::string& benchKeys = "");
// A bench of one Quelmar camera "cam0".
std::string QuelmarBench(const Keys& keys);

class BenchRig {
public:
    explicit BenchRig(const std::string& ini);
    // The bench in `folder` as a later process finds it (a cut camera stays off the bus, a replugged
    // one boots by its mark). The folder is left in place when the rig goes; the rig that made it
    // must be gone first.
    explicit BenchRig(const std::filesystem::path& folder);
    ~BenchRig();
    BenchRig(const BenchRig&) = delete;
    BenchRig& operator=(const BenchRig&) = delete;

    bool Ok() const { return ok_; }
    // Leaves the folder in place when the rig goes, for a later rig on the same bench.
    void Keep() { owned_ = false; }
    const std::string& Error() const { return error_; }
    std::filesystem::path Folder() const { return folder_; }

    emu::quelmar::QuelmarChip& Chip(size_t camera = 0);
    emu::quelmar::VirtualClock& Clock() { return shared.Devices().Clock(); }
    const emu::Bench& Bench() const { return shared.Description(); }
    Platform& Ports() { return platform->Get(); }
    // Trace lines recorded so far that equal `text`.
    size_t Count(const std::string& text) const;
    bool Traced(const std::string& text) const { return Count(text) > 0; }

    kit::RecordingTrace trace;
    kit::PortableProfile profile;
    emu::capture::SharedBench shared;
    std::unique_ptr<EmulatedPlatform> platform;

private:
    void Open();

    std::filesystem::path folder_;
    bool owned_ = true;
    bool ok_ = false;
    std::string error_;
};

// Extension-unit traffic as text, one token per request, blank-separated: a register access (an
// address write to selector 2 followed by a data access of selector 3) is "w2020=80" or "r2021";
// other requests are "L15" (length), "W14=00100000" (a write of up to 8 bytes, in hex),
// "W15/4096" (a longer write) and "R15/4096" (a read). A request the chip refused ends in "!".
std::string Traffic(const std::vector<emu::quelmar::WireRequest>& wire);

// The updater's sequence over QuelmarCamera.dll's exports: open, flash type, protection off, erase,
// the sixteen sectors, protection on, read-back into `back`, reset. The first step that failed
// (1..7), 0 when all went.
int Flash(const std::vector<uint8_t>& image, std::vector<uint8_t>& back, uint8_t& code);

// QuelmarCamera.dll's export of that name, as a program that loads the DLL finds it; nullptr when the
// DLL has none. For tests that run the updater's flow over the library linked in.
using ExportEntry = void (*)();
ExportEntry QuelmarExport(const std::string& name);

// Transfers of the extension unit (length queries, reads and writes) counted by a clock.
uint64_t Transfers(const emu::quelmar::VirtualClock& clock);
uint64_t TransferBytes(const emu::quelmar::VirtualClock& clock);

}  // namespace camlib::testing
