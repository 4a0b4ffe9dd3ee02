// Flashing speed on the emulated chips' virtual clock: transfers, bytes and virtual time of the
// updater's sequence through the exports (erase, sixteen sector writes, sixteen sector reads of a
// 64 KiB image), of the linked operations and of every download variant. Checks the exports against
// the flash's own floor and against a byte-wise write through the bypass port.
//
// Exit code 0 when both targets hold and every flashed image reads back, 1 otherwise.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "camlib/exports/quelmar_camera.h"
#include "camlib/internals.h"
#include "camlib/testing/bench_rig.h"
#include "emu/quelmar/clock.h"

namespace {

using namespace camlib;
using camlib::testing::BenchRig;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;
namespace cost = emu::quelmar::cost;

constexpr uint32_t kImageBytes = 65536;
constexpr double kFloorFactor = 1.2;
constexpr double kTransferFactor = 100;

std::vector<uint8_t> Image(uint32_t seed) {
    std::vector<uint8_t> b(kImageBytes);
    for (uint32_t i = 0; i < kImageBytes; ++i)
        b[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 8)) ^ seed);
    return b;
}

struct Figures {
    uint64_t transfers = 0, bytes = 0, us = 0;
};

Figures Measure(BenchRig& rig, const std::function<void()>& step) {
    auto& clock = rig.Clock();
    const uint64_t t0 = camlib::testing::Transfers(clock), b0 = camlib::testing::TransferBytes(clock),
                   u0 = clock.NowUs();
    step();
    return {camlib::testing::Transfers(clock) - t0, camlib::testing::TransferBytes(clock) - b0,
            clock.NowUs() - u0};
}

void Row(const char* what, const Figures& f, const char* note = "") {
    std::printf("  %-34s %9llu transfers %10llu bytes %10.1f ms  %s\n", what,
                static_cast<unsigned long long>(f.transfers), static_cast<unsigned long long>(f.bytes),
                f.us / 1000.0, note);
}

int TableIndexOf(uint8_t code) {
    const int index = FlashTableIndex(code);
    return index < 0 ? 0 : index;
}

bool g_ok = true;

void Check(bool good, const char* what) {
    if (!good) {
        std::printf("  FAILED: %s\n", what);
        g_ok = false;
    }
}

// The updater's sequence through the exports on one part; returns erase + writes + reads.
Figures ExportsRun(const char* label, const Keys& keys, bool targets) {
    BenchRig rig(QuelmarBench(keys));
    if (!rig.Ok()) {
        std::printf("%s: bench: %s\n", label, rig.Error().c_str());
        g_ok = false;
        return {};
    }
    std::printf("\n%s\n", label);
    std::vector<uint8_t> image = Image(7), back(kImageBytes, 0xFF);
    uint8_t code = 0;
    Row("QuelmarCam_Init", Measure(rig, [] { Check(QuelmarCam_Init(0) == 0, "QuelmarCam_Init"); }));
    Row("Get_FlashType", Measure(rig, [&] { Get_FlashType(&code); }));
    const unsigned char table = static_cast<unsigned char>(TableIndexOf(code));
    Row("SetSF_WProtect_OFF", Measure(rig, [&] { Check(SetSF_WProtect_OFF(table) == 0, "protection off"); }));
    Figures erase = Measure(rig, [&] { Check(EraseSF(table) == 0, "EraseSF"); });
    Row("EraseSF", erase);
    Figures write = Measure(rig, [&] {
        for (unsigned s = 0; s < 16; ++s)
            Check(Download_Sector(image.data(), table, s, 0) == 0, "Download_Sector");
    });
    Row("16 x Download_Sector", write);
    Row("SetSF_WProtect_ON", Measure(rig, [&] { Check(SetSF_WProtect_ON(table) == 0, "protection on"); }));
    Figures read = Measure(rig, [&] {
        for (unsigned s = 0; s < 16; ++s) Check(Upload_Sector(back.data(), s, table) == 0, "Upload_Sector");
    });
    Row("16 x Upload_Sector", read);
    Row("ResetCamera", Measure(rig, [] { Check(ResetCamera() == 0, "ResetCamera"); }));
    Check(back == image, "read-back equals the image");
    QuelmarCam_UnInit();
    Figures total{erase.transfers + write.transfers + read.transfers, erase.bytes + write.bytes + read.bytes,
                  erase.us + write.us + read.us};
    Row("erase + writes + reads", total);
    if (targets) {
        // The flash's own floor: sixteen sector erases, programming every byte, and moving the image
        // both ways in 4 KiB transfers.
        const uint64_t floor =
            16 * cost::kSectorEraseUs + cost::ProgramUs(kImageBytes) + 32 * cost::XuRequestUs(4096);
        const double ratio = double(total.us) / double(floor);
        std::printf(
            "  floor %.1f ms (16 x %.0f ms erase, %.1f ms programming, 32 x %.3f ms transfers): %.3f x\n",
            floor / 1000.0, cost::kSectorEraseUs / 1000.0, cost::ProgramUs(kImageBytes) / 1000.0,
            cost::XuRequestUs(4096) / 1000.0, ratio);
        Check(ratio <= kFloorFactor, "within 1.2 x of the floor");
    }
    return total;
}

// Every byte of the image clocked through the bypass-port registers (page programs of 32 bytes).
Figures BypassWrite() {
    BenchRig rig(QuelmarBench({{"family", "f"}, {"flash", "121"}}));
    std::vector<uint8_t> image = Image(7);
    CamHolder h = nullptr;
    Check(CamInit(&h, 'e', 0) == 0, "Init for the bypass write");
    Figures f = Measure(rig, [&] {
        for (uint32_t s = 0; s < 16; ++s) EraseFlashSector(*h->pExt, s * kSectorBytes);
        for (uint32_t a = 0; a < kImageBytes; a += 32)
            Check(BypassProgram(h, a, image.data() + a, 32) == 0, "bypass page program");
    });
    std::vector<uint8_t> back(kImageBytes);
    Check(CamReadFlash(h, back.data(), 121) == 0 && back == image, "bypass write reads back");
    CamDestroy(&h);
    std::printf("\nbyte-wise bypass-port write of 64 KiB (sector erases, then 32-byte page programs)\n");
    Row("erase + bypass writes", f);
    return f;
}

void Download(const char* label, const Keys& keys, bool inPackage = false) {
    BenchRig rig(QuelmarBench(keys));
    CamHolder h = nullptr;
    std::vector<uint8_t> image = Image(3);
    uint8_t checksum = 0, device = 0, status = 0, progress = 0;
    Check(CamInit(&h, 'e', 0) == 0, "Init before the download");
    if (inPackage) Check(CamSwitchMode(&h, 0) == 0, "mode switch");
    DownloadJob job{image.data(), kImageBytes, 0, &checksum, &device, &status, &progress};
    int result = -1;
    Figures f = Measure(rig, [&] { result = CamDownload(h, job); });
    char note[64];
    std::snprintf(note, sizeof note, "result %d, status %u, progress %u", result, status, progress);
    Row(label, f, note);
    Check(result == 0, label);
    CamDestroy(&h);
}

void LinkedOperations() {
    std::printf("\nlinked operations (family 'f', part 121)\n");
    BenchRig rig(QuelmarBench({{"family", "f"}, {"flash", "121"}}));
    CamHolder h = nullptr;
    std::vector<uint8_t> image = Image(5), back(kImageBytes);
    uint8_t code = 0, status = 0;
    uint32_t state = 0;
    UsbIdentity id;
    int count = 0;
    Row("Init", Measure(rig, [&] { CamInit(&h, 'e', 0); }));
    Row("camera count", Measure(rig, [&] { CamCount(&count); }));
    Row("USB identity", Measure(rig, [&] { CamUsbIdentity(h, &id); }));
    Row("flash-type probe", Measure(rig, [&] { CamProbeFlashType(h, &code); }));
    Row("set flash type", Measure(rig, [&] { CamSetFlashType(h, code); }));
    Row("write protection off", Measure(rig, [&] { CamProtectOff(h, code); }));
    Row("write-protection state", Measure(rig, [&] { CamProtectState(h, &state); }));
    Row("flash status register", Measure(rig, [&] { CamFlashStatus(h, &status); }));
    Row("write range with erase, 64 KiB", Measure(rig, [&] {
            Check(CamWriteRange(h, image.data(), code, 0, kImageBytes) == 1, "write range");
        }));
    Row("read whole flash",
        Measure(rig, [&] { Check(CamReadFlash(h, back.data(), code) == 0, "read flash"); }));
    Check(back == image, "write range reads back");
    Row("read one block", Measure(rig, [&] { CamReadBlock(h, back.data(), 3, code); }));
    Row("write protection on", Measure(rig, [&] { CamProtectOn(h, code); }));
    Row("soft reset", Measure(rig, [&] { CamSoftReset(h); }));
    CamDestroy(&h);
}

}  // namespace

int main() {
    std::printf("QuelmarCamera exports, the updater's sequence on a 64 KiB image (virtual clock)\n");
    const Figures main =
        ExportsRun("family 'f', part 121 (256-byte pages)", {{"family", "f"}, {"flash", "121"}}, true);
    ExportsRun("family 'h', part 129 (32-byte pages: half-page passes)", {{"family", "h"}, {"flash", "129"}},
               false);
    ExportsRun("family 'g', part 122 (byte program, auto-increment)", {{"family", "g"}, {"flash", "122"}},
               false);
    ExportsRun("family 'j', part 121", {{"family", "j"}, {"flash", "121"}}, false);
    ExportsRun("family 'f', part 121, 64-byte data blocks",
               {{"family", "f"}, {"flash", "121"}, {"data_block", "64"}}, false);
    const Figures bypass = BypassWrite();
    const double fewer = main.transfers ? double(bypass.transfers) / double(main.transfers) : 0;
    std::printf("  exports use %.0f x fewer transfers than the byte-wise bypass write\n", fewer);
    Check(fewer >= kTransferFactor, "at least 100 x fewer transfers than a byte-wise bypass write");

    LinkedOperations();

    std::printf("\ndownload variants, 64 KiB image\n");
    Download("generic, family 'f', part 121", {{"family", "f"}, {"flash", "121"}});
    Download("generic, family 'd', part 121", {{"family", "d"}, {"flash", "121"}});
    Download("generic, family 'i', part 123", {{"family", "i"}, {"flash", "123"}});
    Download("generic, family 'k', part 121", {{"family", "k"}, {"flash", "121"}});
    Download("generic, family 'k', chunk 64", {{"family", "k"}, {"flash", "121"}, {"chunk", "64"}});
    Download("'j' variant, part 121", {{"family", "j"}, {"flash", "121"}});
    Download("direct path, family 'h', part 129", {{"family", "h"}, {"flash", "129"}});
    Download("in-package variant, family 'l' 0xD2",
             {{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}, {"busy_reads", "3"}}, true);
    std::printf("\n%s\n", g_ok ? "targets met" : "TARGETS NOT MET");
    return g_ok ? 0 : 1;
}
