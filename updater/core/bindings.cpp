#include "bindings.h"

#include <cstring>

#include "texts.h"

namespace tessaw {

bool RvcLibBinding::Load(const std::string& fullPath) {
    Unload();
    module_ = libraries_.LoadByPath(fullPath.c_str());
    if (!module_) return false;
    for (size_t i = 0; i < kNames.size(); ++i) entries_[i] = libraries_.Find(module_, kNames[i]);
    return true;
}

void RvcLibBinding::Unload() {
    if (module_) libraries_.Free(module_);
    module_ = nullptr;
    entries_.fill(nullptr);
}

kit::EntryPoint RvcLibBinding::Find(const char* name) const {
    for (size_t i = 0; i < kNames.size(); ++i)
        if (std::strcmp(kNames[i], name) == 0) return entries_[i];
    return nullptr;
}

int32_t RvcLibBinding::Initialize(int32_t reserved, int32_t mode) const {
    auto fn = As<PFN_RvcLib_Initialize>("RvcLib_Initialize");
    return fn ? fn(reserved, mode) : 0;
}

int32_t RvcLibBinding::UnInitialize(int32_t mode) const {
    auto fn = As<PFN_RvcLib_UnInitialize>("RvcLib_UnInitialize");
    return fn ? fn(mode) : 0;
}

RvcHandle RvcLibBinding::Open(int32_t index) const {
    auto fn = As<PFN_UVC_Open>("UVC_Open");
    return fn ? fn(index) : 0;
}

int32_t RvcLibBinding::Close(RvcHandle handle) const {
    auto fn = As<PFN_UVC_Close>("UVC_Close");
    return fn ? fn(handle) : 0;
}

int32_t RvcLibBinding::GetDevVidPid(RvcHandle handle, uint16_t* vid, uint16_t* pid) const {
    auto fn = As<PFN_UVC_GetDevVIDPID>("UVC_GetDevVIDPID");
    return fn ? fn(handle, vid, pid) : 0;
}

int32_t RvcLibBinding::EepromInfo2(int32_t index, int32_t* memoryType, int32_t* size) const {
    auto fn = As<PFN_EEPROMInfo2>("EEPROMInfo2");
    return fn ? fn(index, memoryType, size) : kMissingEeprom;
}

int32_t RvcLibBinding::EepromWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                                    RvcProgressCallback progress) const {
    auto fn = As<PFN_EEPROMWrite3>("EEPROMWrite3");
    return fn ? fn(memoryType, index, size, image, progress) : kMissingEeprom;
}

bool QuelmarBinding::Load(kit::Trace& trace) {
    module_ = libraries_.LoadByName(kQuelmarLibName);
    if (!module_) return false;
    for (size_t i = 0; i < kNames.size(); ++i) {
        entries_[i] = libraries_.Find(module_, kNames[i]);
        if (!entries_[i]) kit::TraceF(trace, kMissingEntryPoint, kQuelmarLibName, kNames[i]);
    }
    return true;
}

bool QuelmarBinding::Complete() const {
    if (!module_) return false;
    for (kit::EntryPoint e : entries_)
        if (!e) return false;
    return true;
}

int QuelmarBinding::Init(int device) const {
    auto fn = Entry<QuelmarCamInitFn>(0);
    return fn ? fn(device) : kMissing;
}

int QuelmarBinding::UnInit() const {
    auto fn = Entry<QuelmarCamUnInitFn>(1);
    return fn ? fn() : kMissing;
}

int QuelmarBinding::DownloadSector(unsigned char* image, unsigned char table, unsigned int sector,
                                   int option) const {
    auto fn = Entry<DownloadSectorFn>(2);
    return fn ? fn(image, table, sector, option) : kMissing;
}

int QuelmarBinding::UploadSector(unsigned char* buffer, unsigned int sector, unsigned char table) const {
    auto fn = Entry<UploadSectorFn>(3);
    return fn ? fn(buffer, sector, table) : kMissing;
}

int QuelmarBinding::GetFlashType(unsigned char* code) const {
    auto fn = Entry<GetFlashTypeFn>(4);
    return fn ? fn(code) : kMissing;
}

int QuelmarBinding::WriteProtectOn(unsigned char table) const {
    auto fn = Entry<WriteProtectFn>(5);
    return fn ? fn(table) : kMissing;
}

int QuelmarBinding::WriteProtectOff(unsigned char table) const {
    auto fn = Entry<WriteProtectFn>(6);
    return fn ? fn(table) : kMissing;
}

int QuelmarBinding::Erase(unsigned char table) const {
    auto fn = Entry<EraseSfFn>(7);
    return fn ? fn(table) : kMissing;
}

int QuelmarBinding::ResetCamera() const {
    auto fn = Entry<ResetCameraFn>(8);
    return fn ? fn() : kMissing;
}

}  // namespace tessaw
