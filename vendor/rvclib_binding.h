// RvcLib.dll bound at run time, as both the updater and the write tool bind it: one module, the
// entry points looked up by name in the caller's order, and typed calls that never go through a
// missing entry point (they answer the default instead: 0, or kMissingFailure for the EEPROM calls).
//
// One thread at a time (the caller's): nothing here locks.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "kit/library_loader.h"
#include "vendor/RvcLib.h"

namespace vendor {

class RvcLibBinding {
public:
    static constexpr int32_t kMissingFailure = -1;

    // `names`: every name the program looks up, in its order; a call whose name is not among them
    // answers its default.
    RvcLibBinding(kit::LibraryPort& libraries, std::vector<const char*> names)
        : libraries_(libraries), names_(std::move(names)), entries_(names_.size(), nullptr) {}
    ~RvcLibBinding() { Unload(); }
    RvcLibBinding(const RvcLibBinding&) = delete;
    RvcLibBinding& operator=(const RvcLibBinding&) = delete;

    // Release any module held, load the library and look every name up.
    bool LoadByPath(const char* fullPath);
    bool LoadByName(const char* name);
    // Releases the module and clears every entry point.
    void Unload();
    bool Loaded() const { return module_ != nullptr; }
    // The entry point of one of the names, or nullptr.
    kit::EntryPoint Find(const char* name) const;
    bool Has(const char* name) const { return Find(name) != nullptr; }
    // An entry point as the caller's function pointer type (the PFN_ types of the library's header).
    template <typename Fn>
    Fn As(const char* name) const {
        return reinterpret_cast<Fn>(Find(name));
    }

    int32_t Initialize(int32_t reserved, int32_t mode) const;
    int32_t UnInitialize(int32_t mode) const;
    RvcHandle Open(int32_t index) const;
    int32_t Close(RvcHandle handle) const;
    int32_t GetDevVidPid(RvcHandle handle, uint16_t* vid, uint16_t* pid) const;
    int32_t GetDevVidPidRev(RvcHandle handle, uint16_t* vid, uint16_t* pid, uint16_t* rev) const;
    int32_t EepromInfo(int32_t index, int32_t* memoryType, int32_t* size) const;
    int32_t EepromInfo2(int32_t index, int32_t* memoryType, int32_t* size) const;
    int32_t EepromWrite3(int32_t memoryType, int32_t index, int32_t size, const uint8_t* image,
                         RvcProgressCallback progress) const;

private:
    bool Bind(void* module);

    kit::LibraryPort& libraries_;
    std::vector<const char*> names_;
    void* module_ = nullptr;
    std::vector<kit::EntryPoint> entries_;
};

}  // namespace vendor
