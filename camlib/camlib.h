// The camera-access library in its linked form: plain functions over a camera handle that the caller
// owns through a one-pointer holder.
//
// Results follow the library's conventions: 0 success unless an operation says otherwise, 1 failure,
// 160 for an argument out of range (family letter, flash type, a register-level operation on a
// family that has none). Nothing throws. A handle is used by one thread at a time; operations on a
// handle trace to, sleep on and reach devices through the platform the handle was created on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "camlib/chips.h"
#include "camlib/ports.h"
#include "camlib/transport.h"

namespace camlib {

inline constexpr int kResultOk = 0;
inline constexpr int kResultFail = 1;
inline constexpr int kResultInvalid = 160;

// Download status codes.
enum : uint8_t {
    DL_INITIAL = 20,
    DL_TRANSFER = 21,
    DL_VERIFY = 22,
    DL_FINISH = 23,
    DL_BUSY_WAIT = 24,
    DL_ERROR = 25,
};

inline constexpr uint8_t kFlashUnknown = 120;
inline constexpr uint32_t kSectorBytes = 4096;
// Flash addresses travel as 16 bits: the library reaches the first 64 KiB of a part.
inline constexpr uint32_t kAddressableBytes = 0x10000;
inline constexpr uint32_t kDevicePathBytes = 263;

struct CamHandle {
    std::unique_ptr<ExtUnit> pExt;
    std::unique_ptr<CaptureFilter> filter;
    std::unique_ptr<CustomProp> pAmp;
    char connected = 0;  // 'y' after a successful Init
    char path[kDevicePathBytes] = {};
    std::vector<uint8_t> image;  // a stored download job's image
    uint8_t imageType = 0;
    uint8_t* checksumOut = nullptr;
    uint8_t* deviceChecksumOut = nullptr;
    uint8_t* statusOut = nullptr;
    uint8_t* progressOut = nullptr;
    uint32_t imageLength = 0;
    uint32_t state = 1;
    Platform* platform = nullptr;  // the ports this handle reaches its camera through
};
using CamHolder = CamHandle*;

struct UsbIdentity {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t rev = 0;
    uint8_t port = 0;
    char hub[260] = {};
};

struct DownloadJob {
    uint8_t* image = nullptr;  // patched in place
    uint32_t length = 0;
    uint32_t flashType = 0;  // replaced by the dispatcher's own probe
    uint8_t* checksumOut = nullptr;
    uint8_t* deviceChecksumOut = nullptr;
    uint8_t* statusOut = nullptr;
    uint8_t* progressOut = nullptr;
};
// The job is handed over by value as seven machine words; a 32-bit caller lays it out as 28 bytes
// with every field on a word boundary, whatever compiler built it.
static_assert(std::is_standard_layout_v<DownloadJob> && std::is_trivially_copyable_v<DownloadJob>);
static_assert(sizeof(void*) != 4 ||
                  (sizeof(DownloadJob) == 28 && offsetof(DownloadJob, image) == 0 &&
                   offsetof(DownloadJob, length) == 4 && offsetof(DownloadJob, flashType) == 8 &&
                   offsetof(DownloadJob, checksumOut) == 12 &&
                   offsetof(DownloadJob, deviceChecksumOut) == 16 && offsetof(DownloadJob, statusOut) == 20 &&
                   offsetof(DownloadJob, progressOut) == 24),
              "DownloadJob must be seven 32-bit words on a 32-bit target");

// The caller's record of a job to keep for later.
struct StoredJob {
    uint8_t image[kAddressableBytes];
    uint32_t length;
    uint8_t flashType;
    uint8_t checksum;
    uint8_t deviceChecksum;
    uint8_t status;
    uint8_t progress;
};

// Handles.
void CamCreate(CamHolder* holder);
int CamDestroy(CamHolder* holder);

// Opens the USB camera at or after position `device` of the video-input devices (the position
// counts every device, USB or not) whose chip belongs to `family` ('e': any). 0, 1 (none found,
// enumeration failed), 160 (family outside 'e'..'l').
int CamInit(CamHolder* holder, char family, int device);
int CamInitAll(CamHolder* holders, int count);
int CamCount(int* count);
int CamUsbIdentity(CamHandle* handle, UsbIdentity* out);
int CamChipFamily(CamHandle* handle, char* family);

// Flash handling.
// A code with a command table (FlashTableIndex, chips.h).
bool CamFlashTypeValid(uint32_t code);
int CamProbeFlashType(CamHandle* handle, uint8_t* code);
int32_t CamSetFlashType(CamHandle* handle, uint32_t code);
int CamProtectOff(CamHandle* handle, uint32_t code);
int CamProtectOn(CamHandle* handle, uint32_t code);
int CamProtectState(CamHandle* handle, uint32_t* state);  // 152 unprotected, 151 protected, 150 other
int CamFlashStatus(CamHandle* handle, uint8_t* status);
// Range operations over [start, end) of the flash, with `buffer` indexed by flash address.
// 1 success, 0 failure.
int CamReadRange(CamHandle* handle, uint8_t* buffer, uint32_t code, uint32_t start, uint32_t end);
int CamReadFlash(CamHandle* handle, uint8_t* buffer, uint32_t code);  // 64 KiB; 0 success
// One XU_SF_DATA block of sector `sector` into `buffer` (4096 bytes): the transport result,
// 160 invalid code, 1 no buffer or no camera.
int32_t CamReadBlock(CamHandle* handle, uint8_t* buffer, uint32_t sector, uint32_t code);
// Erases whole 4 KiB sectors from `start` (sector-aligned) up to `end` and writes source[start,
// end); the rest of the last sector stays erased. 1 success, 0 failure.
int CamWriteRange(CamHandle* handle, const uint8_t* source, uint32_t code, uint32_t start, uint32_t end);
bool CamSoftReset(CamHandle* handle);
int CamSwitchMode(CamHolder* holder, int device);

// Download.
int CamDownload(CamHandle* handle, DownloadJob job);
int CamStoreJob(CamHandle* handle, StoredJob* job);
int CamRunStoredJob(CamHandle* handle);
int CamRunStoredJobQuiet(CamHandle* handle);

// USB descriptor lookup: finds the device on hub port `port` whose configuration carries an
// extension unit of the property set discovery chose last. 1 when an output is null or `enable`
// is 0; else 0 when every controller was walked, or the Win32 error of the first that failed.
int CamUsbLookup(uint16_t* vid, uint16_t* pid, uint32_t* rev, char* manufacturer, int enable, uint32_t port);

}  // namespace camlib
