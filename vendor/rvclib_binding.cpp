#include "vendor/rvclib_binding.h"

#include <algorithm>
#include <cstring>

namespace vendor {

bool RvcLibBinding::Bind(void* module) {
    module_ = module;
    if (!module_) return false;
    for (size_t i = 0; i < names_.size(); ++i) entries_[i] = libraries_.Find(module_, names_[i]);
    return true;
}

bool RvcLibBinding::LoadByPath(const char* fullPath) {
    Unload();
    return Bind(libraries_.LoadByPath(fullPath));
}

bool RvcLibBinding::LoadByName(const char* name) {
    Unload();
    return Bind(libraries_.LoadByName(name));
}

void RvcLibBinding::Unload() {
    if (module_) libraries_.Free(module_);
    module_ = nullptr;
    std::fill(entries_.begin(), entries_.end(), nullptr);
}

kit::EntryPoint RvcLibBinding::Find(const char* name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (std::strcmp(names_[i], name) == 0) return entries_[i];
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

int32_t RvcLibBinding::GetDevVidPidRev(RvcHandle handle, uint16_t* vid, uint16_t* pid, uint16_t* rev) const {
    auto fn = As<PFN_UVC_GetDevVIDPIDRev>("UVC_GetDevVIDPIDRev");
    return fn ? fn(handle, vid, pid, rev) : 0;
}

int32_t RvcLibBinding::EepromInfo(int32_t index, int32_t* memoryType, int32_t* size) const {
    auto fn = As<PFN_EEPROMInfo>("EEPROMInfo");
    return fn ? fn(index, memoryType, size) : kMissingFailure;
}

int32_t RvcLibBinding::EepromInfo2(int32_t index, int32_t* memoryType, int32_t* size) const {
    auto fn = As<PFN_EEPROMInfo2>("EEPROMInfo2");
    return fn ? fn(index, memoryType, size) : kMissingFailure;
}

int32_t RvcLibBinding::EepromWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                                    RvcProgressCallback progress) const {
    auto fn = As<PFN_EEPROMWrite3>("EEPROMWrite3");
    return fn ? fn(memoryType, index, size, image, progress) : kMissingFailure;
}

}  // namespace vendor
