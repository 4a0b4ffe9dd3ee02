// Run-time bindings of the two libraries that the updater loads itself: RvcLib.dll from its own
// folder, and QuelmarCamera.dll (the kit's camera-access library) by name.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "camlib/exports/quelmar_camera.h"
#include "kit/library_loader.h"
#include "kit/trace.h"
#include "vendor/rvclib_binding.h"

namespace tessaw {

// RvcLib.dll with the entry points the Realtek flow calls. A missing entry point stays null; the
// flow then skips the call and takes its documented default.
class RvcLibBinding : public vendor::RvcLibBinding {
public:
    static constexpr std::array<const char*, 7> kNames = {
        "RvcLib_Initialize", "RvcLib_UnInitialize", "UVC_Open",    "UVC_Close",
        "UVC_GetDevVIDPID",  "EEPROMInfo2",         "EEPROMWrite3"};
    static constexpr int32_t kMissingEeprom = kMissingFailure;

    explicit RvcLibBinding(kit::LibraryPort& libraries)
        : vendor::RvcLibBinding(libraries, {kNames.begin(), kNames.end()}) {}

    // Releases any module held, clears the entry points, loads `fullPath` and looks every name up.
    bool Load(const std::string& fullPath) { return LoadByPath(fullPath.c_str()); }
};

// The nine exports of QuelmarCamera.dll, typed from the library's own declarations so that the two
// sides cannot drift apart. Every one returns 0 on success.
using QuelmarCamInitFn = decltype(&::QuelmarCam_Init);
using QuelmarCamUnInitFn = decltype(&::QuelmarCam_UnInit);
using DownloadSectorFn = decltype(&::Download_Sector);
using UploadSectorFn = decltype(&::Upload_Sector);
using GetFlashTypeFn = decltype(&::Get_FlashType);
using WriteProtectFn = decltype(&::SetSF_WProtect_ON);
using EraseSfFn = decltype(&::EraseSF);
using ResetCameraFn = decltype(&::ResetCamera);
using GetChipFamilyFn = decltype(&::Get_ChipFamily);

// QuelmarCamera.dll, loaded once and kept to the end of the process. The calls below never go through
// a missing entry point: they return kMissing instead, so a damaged library fails a step, never the
// process. Complete() tells beforehand whether the flow can run at all.
class QuelmarBinding {
public:
    static constexpr std::array<const char*, 9> kNames = {
        "QuelmarCam_Init",   "QuelmarCam_UnInit",  "Download_Sector", "Upload_Sector", "Get_FlashType",
        "SetSF_WProtect_ON", "SetSF_WProtect_OFF", "EraseSF",         "ResetCamera"};
    static constexpr int kMissing = -1;

    explicit QuelmarBinding(kit::LibraryPort& libraries) : libraries_(libraries) {}

    // Loads the library by name and looks the nine names up in order; each missing one is traced.
    bool Load(kit::Trace& trace);
    bool Loaded() const { return module_ != nullptr; }
    // True when all nine entry points were found.
    bool Complete() const;

    int Init(int device) const;
    int UnInit() const;
    int DownloadSector(unsigned char* image, unsigned char table, unsigned int sector, int option) const;
    int UploadSector(unsigned char* buffer, unsigned int sector, unsigned char table) const;
    int GetFlashType(unsigned char* code) const;
    int WriteProtectOn(unsigned char table) const;
    int WriteProtectOff(unsigned char table) const;
    int Erase(unsigned char table) const;
    int ResetCamera() const;
    // Get_ChipFamily, looked up only when asked for: the update itself does not need it, so a
    // library built before it existed still loads and updates as before. kMissing without it.
    static constexpr const char* kChipFamilyName = "Get_ChipFamily";
    int ChipFamily(unsigned char* family) const;

private:
    template <typename Fn>
    Fn Entry(size_t index) const {
        return reinterpret_cast<Fn>(entries_[index]);
    }
    kit::LibraryPort& libraries_;
    void* module_ = nullptr;
    std::array<kit::EntryPoint, kNames.size()> entries_{};
};

}  // namespace tessaw
