// The exports of QuelmarCamera.dll over the linked library. They keep the opened camera, and what
// the chip was last told (its command table and data-block length), so that a sector costs only its
// address and its data on the wire.
#include "camlib/exports/quelmar_camera.h"

#include <algorithm>
#include <vector>

#include "camlib/internals.h"

namespace {

using namespace camlib;

constexpr unsigned kSectors = kAddressableBytes / kSectorBytes;

struct Opened {
    CamHolder handle = nullptr;
    int table = -1;      // command table the chip holds; -1: not known
    uint32_t block = 0;  // XU_SF_DATA length reported with it
    // The first two bytes of sector 0, held back until the other sectors are written (FlushMark).
    bool markPending = false;
    uint8_t mark[2] = {0xFF, 0xFF};
    // Families j and l boot their flash by the chip's download-OK flag (the commit selector), not
    // by a flash byte: it is cleared before the first erase or write and set again by the reset
    // only when every sector written since was read back as written (Commit).
    bool commitCleared = false;
    bool written[kSectors] = {};
    bool verified[kSectors] = {};
    std::vector<uint8_t> expected;  // what each written sector must read back as
};
Opened g;

void ForgetWrites() {
    std::fill(std::begin(g.written), std::end(g.written), false);
    std::fill(std::begin(g.verified), std::end(g.verified), false);
}

// Nothing may leave the library as an exception: an allocation that fails is a failed call.
template <typename Body>
int Guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return kResultFail;
    }
}

bool Ready() { return g.handle && g.handle->connected == 'y' && g.handle->pExt; }

// Loads the command table unless the chip holds it already. A restart of the chip (ResetCamera, a
// new Init) forgets it.
bool EnsureTable(unsigned char table) {
    if (table >= kCommandTableCount) return false;
    if (g.table == table) return true;
    const TableLoad load = LoadCommandTable(*g.handle->pExt, table);
    const uint32_t block = load.dataLength;
    if (load.table != hr::kOk || load.length != hr::kOk || !UsableBlock(block)) {
        g.table = -1;
        Trace(g.handle, text::kTableNotLoaded, table);
        return false;
    }
    g.table = table;
    g.block = block;
    return true;
}

// Moves one sector between `data` and the flash through XU_SF_DATA, in the blocks the device takes.
bool MoveSector(unsigned sector, uint8_t* data, bool write) {
    ExtUnit& u = *g.handle->pExt;
    const uint32_t base = sector * kSectorBytes;
    const bool advancing = g.block == kSectorBytes;
    for (uint32_t at = 0; at < kSectorBytes; at += g.block) {
        if ((at == 0 || !advancing) && SetFlashAddress(u, base + at) != hr::kOk) return false;
        const int32_t r =
            write ? XuWrite(u, XU_SF_DATA, data + at, g.block) : XuRead(u, XU_SF_DATA, data + at, g.block);
        if (r != hr::kOk) return false;
    }
    return true;
}

// Flash address 0 holds the mark the chip boots by: written with sector 0, a verified mark would
// stand over sectors not yet written, and a cut in that window leaves a camera that boots a broken
// image and can no longer be flashed. So sector 0 goes out with its first two bytes erased, and
// they are programmed by the next call that is not a sector write (protection on, the read-back,
// the reset), when every sector is in place; the read-back then compares them like any other byte.
// False when the camera did not take them.
bool FlushMark() {
    if (!g.markPending) return true;
    g.markPending = false;
    if (!Ready() || g.table < 0) return false;
    if (ProgramHead(g.handle, g.mark, 2, kCommandTables[g.table].pageBytes == 32, g.block) != hr::kOk) {
        Trace(g.handle, text::kHeaderNotProgrammed);
        return false;
    }
    return true;
}

bool CommitFamily() { return FamilyRow(g.handle->pExt->family).commit == CommitBy::Selector; }

// Sets or clears the download-OK flag. The chip takes the commit selector in download mode only,
// and entering download mode for the serial flash clears the flag; nothing is sent to the flash.
bool SetDownloadOk(bool ok) {
    ExtUnit& u = *g.handle->pExt;
    uint8_t one = 1, zero = 0;
    // The serial flash, not the in-package one (refused by chips without the choice).
    if (FamilyRow(u.family).inPackageFlash) XuWrite(u, XU_ISP_SERIAL_FLASH, &one, 1);
    if (XuWrite(u, XU_DFU_ENABLE_CONTROL, &one, 1) != hr::kOk) return false;
    const bool committed = !ok || XuWrite(u, XU_ISP_FW_DOWNLOAD_OK, &one, 1) == hr::kOk;
    const bool left = XuWrite(u, XU_DFU_ENABLE_CONTROL, &zero, 1) == hr::kOk;
    if (!committed || !left) Trace(g.handle, ok ? text::kDownloadOkNotSet : text::kDownloadOkNotCleared);
    return committed && left;
}

// Before the first erase or write on j and l: a cut from here on leaves a camera in ROM mode.
bool ClearCommit() {
    if (g.commitCleared || !CommitFamily()) return true;
    if (!SetDownloadOk(false)) return false;
    g.commitCleared = true;
    return true;
}

// At the reset, last: the flag is set only over a flash whose every sector was written and then
// read back as written. False when the chip did not take it (the camera would not start).
bool Commit() {
    if (!CommitFamily() || !g.commitCleared) return true;
    for (unsigned s = 0; s < kSectors; ++s)
        if (!g.written[s] || !g.verified[s]) return true;  // not a verified update: left in ROM mode
    if (!SetDownloadOk(true)) return false;
    g.commitCleared = false;
    ForgetWrites();
    return true;
}

int Protect(unsigned char table, bool on) {
    if (!Ready() || table >= kCommandTableCount) return kResultFail;
    if (!RegisterLevelFamily(g.handle->pExt->family)) return kResultOk;
    const int r = on ? CamProtectOn(g.handle, table) : CamProtectOff(g.handle, table);
    if (r != kResultOk) Trace(g.handle, on ? text::kProtectOnFailed : text::kProtectOffFailed, r);
    return r == kResultOk ? kResultOk : kResultFail;
}

}  // namespace

extern "C" {

int QUELMAR_CALL QuelmarCam_Init(int device) {
    return Guarded([&]() -> int {
        g.table = -1;
        g.block = 0;
        g.markPending = false;  // never carried over to another camera
        g.commitCleared = false;
        ForgetWrites();
        if (device < 0) return kResultFail;
        return CamInit(&g.handle, kAnyFamily, device) == kResultOk ? kResultOk : kResultFail;
    });
}

int QUELMAR_CALL QuelmarCam_UnInit(void) {
    return Guarded([&]() -> int {
        g.table = -1;
        g.markPending = false;  // unverified: the camera is left without its mark
        return CamDestroy(&g.handle);
    });
}

int QUELMAR_CALL Get_FlashType(unsigned char* code) {
    return Guarded([&]() -> int {
        if (!code || !Ready() || !FlushMark()) return kResultFail;
        return CamProbeFlashType(g.handle, code);
    });
}

int QUELMAR_CALL SetSF_WProtect_OFF(unsigned char table) {
    return Guarded([&] { return FlushMark() ? Protect(table, false) : kResultFail; });
}
int QUELMAR_CALL SetSF_WProtect_ON(unsigned char table) {
    return Guarded([&] { return FlushMark() ? Protect(table, true) : kResultFail; });
}

int QUELMAR_CALL EraseSF(unsigned char table) {
    return Guarded([&]() -> int {
        g.markPending = false;  // the erase takes it anyway
        if (!Ready() || !ClearCommit() || !EnsureTable(table)) return kResultFail;
        ForgetWrites();
        ExtUnit& u = *g.handle->pExt;
        for (unsigned s = 0; s < kSectors; ++s) {
            if (EraseFlashSector(u, s * kSectorBytes) != hr::kOk) {
                Trace(g.handle, text::kSectorEraseFailed, s);
                return kResultFail;
            }
        }
        // A protected part takes the erase commands and keeps its contents: find that out now, before
        // any sector is written over old data.
        std::vector<uint8_t> sector(kSectorBytes);
        for (unsigned s = 0; s < kSectors; ++s) {
            if (!MoveSector(s, sector.data(), false)) {
                Trace(g.handle, text::kSectorReadAfterEraseFailed, s);
                return kResultFail;
            }
            if (std::any_of(sector.begin(), sector.end(), [](uint8_t b) { return b != 0xFF; })) {
                Trace(g.handle, text::kSectorNotBlank, s);
                return kResultFail;
            }
        }
        return kResultOk;
    });
}

int QUELMAR_CALL Download_Sector(unsigned char* image, unsigned char table, unsigned int sector, int option) {
    return Guarded([&]() -> int {
        if (!image || sector >= kSectors || (option != 0 && option != 1)) return kResultFail;
        if (!Ready() || !ClearCommit() || !EnsureTable(table)) return kResultFail;
        ExtUnit& u = *g.handle->pExt;
        const uint32_t base = sector * kSectorBytes;
        g.written[sector] = g.verified[sector] = false;
        if (option == 1 && EraseFlashSector(u, base) != hr::kOk) return kResultFail;
        // Sector 0 without its mark bytes (FlushMark).
        std::vector<uint8_t> first;
        uint8_t* data = image + base;
        if (sector == 0) {
            first.assign(image, image + kSectorBytes);
            first[0] = first[1] = 0xFF;
            data = first.data();
            g.markPending = false;
        }
        // Parts with 32-byte pages take each 64-byte burst as two half pages.
        const bool ok = kCommandTables[table].pageBytes == 32
                            ? WriteHalfPages(g.handle, base, data, g.block) == hr::kOk
                            : MoveSector(sector, data, true);
        if (ok && sector == 0) {
            g.mark[0] = image[0];
            g.mark[1] = image[1];
            g.markPending = true;
        }
        if (ok) {
            g.expected.resize(kAddressableBytes, 0xFF);
            std::copy_n(image + base, kSectorBytes, g.expected.begin() + base);
            g.written[sector] = true;
        }
        return ok ? kResultOk : kResultFail;
    });
}

int QUELMAR_CALL Upload_Sector(unsigned char* buffer, unsigned int sector, unsigned char table) {
    return Guarded([&]() -> int {
        if (!buffer || sector >= kSectors) return kResultFail;
        if (!Ready() || !FlushMark() || !EnsureTable(table)) return kResultFail;
        uint8_t* at = buffer + sector * kSectorBytes;
        if (!MoveSector(sector, at, false)) return kResultFail;
        g.verified[sector] = g.written[sector] &&
                             std::equal(at, at + kSectorBytes, g.expected.begin() + sector * kSectorBytes);
        return kResultOk;
    });
}

int QUELMAR_CALL ResetCamera(void) {
    return Guarded([&]() -> int {
        if (!Ready() || !FlushMark() || !Commit()) return kResultFail;
        g.table = -1;
        return CamSoftReset(g.handle) ? kResultOk : kResultFail;
    });
}

int QUELMAR_CALL Get_ChipFamily(unsigned char* family) {
    return Guarded([&]() -> int {
        if (!family || !Ready() || !FlushMark()) return kResultFail;
        char letter = 0;
        if (CamChipFamily(g.handle, &letter) != kResultOk) return kResultFail;
        *family = static_cast<unsigned char>(letter);
        return kResultOk;
    });
}

}  // extern "C"
