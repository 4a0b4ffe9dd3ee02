#include "rvclib_binding.h"

#include <cstring>

namespace orlinde {

bool RvcLibBinding::Load(const char* name) {
    Unload();
    module_ = libraries_.LoadByName(name);
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

int32_t RvcLibBinding::GetDevVidPidRev(RvcHandle handle, uint16_t* vid, uint16_t* pid, uint16_t* rev) const {
    auto fn = As<PFN_UVC_GetDevVIDPIDRev>("UVC_GetDevVIDPIDRev");
    return fn ? fn(handle, vid, pid, rev) : 0;
}

int32_t RvcLibBinding::EepromInfo(int32_t index, int32_t* memoryType, int32_t* size) const {
    auto fn = As<PFN_EEPROMInfo>("EEPROMInfo");
    return fn ? fn(index, memoryType, size) : kMissingFailure;
}

int32_t RvcLibBinding::EepromWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                                    RvcProgressCallback progress) const {
    auto fn = As<PFN_EEPROMWrite3>("EEPROMWrite3");
    return fn ? fn(memoryType, index, size, image, progress) : kMissingFailure;
}

}  // namespace orlinde
