#include "bindings.h"

#include <cstring>

#include "texts.h"

namespace tessaw {

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

int QuelmarBinding::ChipFamily(unsigned char* family) const {
    if (!module_) return kMissing;
    auto fn = reinterpret_cast<GetChipFamilyFn>(libraries_.Find(module_, kChipFamilyName));
    return fn ? fn(family) : kMissing;
}

}  // namespace tessaw
