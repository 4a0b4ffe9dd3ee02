// The camera-access library's own paths over a bench Quelmar camera: discovery, the flash-type
// probe, identification, the four download variants and the direct serial-flash path.
#include <memory>

#include "camlib/camlib.h"
#include "camlib/testing/bench_rig.h"
#include "quelmar_sites.h"

namespace fm {
namespace {

using camlib::testing::BenchRig;
using camlib::testing::Keys;

std::vector<uint8_t> Image(size_t n) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 193 + 55 + (i >> 7));
    b[0] = b[1] = 0xFF;
    return b;
}

// A bench of one camera with `keys` and the case's fault; `setup` opens what the path needs
// (failures there are the fault-free bench's fault: the path's phase is `phase`).
RunResult OnChip(const Keys& keys, const Injection& injection,
                 const std::function<bool(camlib::CamHolder&)>& setup,
                 const std::function<Outcome(camlib::CamHolder&)>& phase) {
    BenchRig rig(FaultedQuelmarBench(keys, injection));
    RunResult r;
    if (!rig.Ok()) {
        r.outcome.text = "bench: " + rig.Error();
        return r;
    }
    camlib::CamHolder h = nullptr;
    if (setup && !setup(h)) {
        r.outcome.text = "the path's set-up failed";
        camlib::CamDestroy(&h);
        return r;
    }
    const ChipCounts before = rig.Chip().CallCounts();
    r.outcome = phase(h);
    AddChipSites(r.sites, before, rig.Chip().CallCounts());
    r.outcome.state = r.outcome.text + ", flash " + Digest(rig.Chip().Flash().Image());
    if (const emu::quelmar::InPackageFlash* in = rig.Chip().InPackage())
        r.outcome.state += ", in-package " + Digest(in->Image());
    camlib::CamDestroy(&h);
    return r;
}

bool Open(camlib::CamHolder& h) { return camlib::CamInit(&h, 'e', 0) == 0; }

Outcome DownloadOutcome(int result, uint8_t status, uint8_t checksum, uint8_t device) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "result %d, status %u, checksums %02X/%02X", result, status, checksum, device);
    return {result == 0, buf};
}

bool DownloadFailed(const Outcome& o) {
    // Early failures end with status 25, late ones with 23; both return 1. A flash type the probe
    // could not tell is refused as invalid (160) before anything is sent.
    return o.text.rfind("result 1, status 25", 0) == 0 || o.text.rfind("result 1, status 23", 0) == 0 ||
           o.text.rfind("result 160, status 25", 0) == 0;
}

Path DownloadPath(const std::string& name, const Keys& keys, bool switchMode) {
    Path p;
    p.name = name;
    p.expected = "result 1, status 25 or 23 (160 for a type the probe could not tell)";
    p.run = [keys, switchMode](const Injection& injection) {
        return OnChip(
            keys, injection,
            [switchMode](camlib::CamHolder& h) { return Open(h) && (!switchMode || camlib::CamSwitchMode(&h, 0) == 0); },
            [](camlib::CamHolder& h) {
                std::vector<uint8_t> image = Image(65536);
                uint8_t checksum = 0, device = 0, status = 0, progress = 0;
                camlib::DownloadJob job{image.data(), 65536, 0, &checksum, &device, &status, &progress};
                const int result = camlib::CamDownload(h, job);
                return DownloadOutcome(result, status, checksum, device);
            });
    };
    p.knownFailure = DownloadFailed;
    p.recoveries = QuelmarRecoveries();
    return p;
}

}  // namespace

std::vector<Path> CamlibPaths() {
    std::vector<Path> paths;
    {
        Path p;
        p.name = "camlib.discovery";
        p.expected = "CamInit 1 (no camera opened)";
        p.run = [](const Injection& injection) {
            return OnChip({{"family", "i"}}, injection, nullptr, [](camlib::CamHolder& h) {
                const int result = camlib::CamInit(&h, 'e', 0);
                return Outcome{result == 0, "CamInit " + std::to_string(result)};
            });
        };
        p.knownFailure = [](const Outcome& o) { return o.text == "CamInit 1"; };
        p.recoveries = QuelmarRecoveries();
        paths.push_back(std::move(p));
    }
    {
        Path p;
        p.name = "camlib.flash_type";
        p.expected = "probe 1, or code 120 (unknown part)";
        p.run = [](const Injection& injection) {
            return OnChip({{"family", "i"}}, injection, Open, [](camlib::CamHolder& h) {
                uint8_t code = 0;
                const int result = camlib::CamProbeFlashType(h, &code);
                return Outcome{result == 0 && code != camlib::kFlashUnknown,
                               "probe " + std::to_string(result) + ", code " + std::to_string(code)};
            });
        };
        p.knownFailure = [](const Outcome& o) {
            return o.text.rfind("probe 1", 0) == 0 || o.text == "probe 0, code 120";
        };
        p.recoveries = QuelmarRecoveries();
        paths.push_back(std::move(p));
    }
    {
        Path p;
        p.name = "camlib.identification";
        p.expected = "identity or family query 1";
        p.run = [](const Injection& injection) {
            return OnChip({{"family", "i"}}, injection, Open, [](camlib::CamHolder& h) {
                camlib::UsbIdentity id;
                char family = 0;
                const int a = camlib::CamUsbIdentity(h, &id), b = camlib::CamChipFamily(h, &family);
                char buf[96];
                std::snprintf(buf, sizeof buf, "identity %d (%04X:%04X rev %04X), family %d '%c'", a, id.vid, id.pid,
                              id.rev, b, family ? family : '-');
                return Outcome{a == 0 && b == 0 && family == 'i' && id.pid == 0xB5A4, buf};
            });
        };
        p.knownFailure = [](const Outcome& o) {
            return o.text.rfind("identity 1", 0) == 0 || o.text.find("family 1") != std::string::npos;
        };
        paths.push_back(std::move(p));
    }
    paths.push_back(DownloadPath("camlib.download.generic", {{"family", "i"}}, false));
    paths.push_back(DownloadPath("camlib.download.j", {{"family", "j"}, {"flash", "123"}}, false));
    paths.push_back(DownloadPath("camlib.download.in_package",
                                 {{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}}, true));
    for (int32_t boot : {0x20F5, 0x20F6})
        paths.back().recoveries.push_back(
            {Device::QuelmarChip, "reg_read", boot, static_cast<unsigned>(Kind::Corrupt),
             "the boot registers of a camera switched to in-package mode are read again when they disagree", nullptr});

    paths.push_back(DownloadPath("camlib.download.direct_sf", {{"family", "h"}, {"flash", "129"}}, false));
    {
        Path p;
        p.name = "camlib.download.stored_quiet";
        p.expected = "result 1, status 25 or 23";
        p.run = [](const Injection& injection) {
            return OnChip({{"family", "k"}, {"flash", "121"}}, injection, Open, [](camlib::CamHolder& h) {
                auto job = std::make_unique<camlib::StoredJob>();
                const std::vector<uint8_t> image = Image(65536);
                std::copy(image.begin(), image.end(), job->image);
                job->length = 65536;
                job->flashType = 121;
                if (camlib::CamStoreJob(h, job.get()) != 0) return Outcome{false, "job not stored"};
                const int result = camlib::CamRunStoredJobQuiet(h);
                return DownloadOutcome(result, job->status, job->checksum, job->deviceChecksum);
            });
        };
        // The quiet runner reports its end by its result only: its status stays where the variant
        // stopped.
        p.knownFailure = [](const Outcome& o) { return o.text.rfind("result 1,", 0) == 0 || DownloadFailed(o); };
        p.expected = "result 1";
        p.recoveries = QuelmarRecoveries();
        paths.push_back(std::move(p));
    }
    return paths;
}

}  // namespace fm
