// Win32-only: owners of the system handles the kit's programs hold, one family for all of them.
// Each closes its handle when it goes out of scope and cannot be copied; an empty owner holds the
// type's invalid value.
#pragma once

#include <windows.h>
// After windows.h:
#include <setupapi.h>

#include <utility>

namespace kit {

template <typename Traits>
class Scoped {
public:
    using Type = typename Traits::Type;
    Scoped() = default;
    explicit Scoped(Type value) : value_(value) {}
    ~Scoped() { Reset(); }
    Scoped(Scoped&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) {
            Reset();
            value_ = std::exchange(other.value_, Traits::Invalid());
        }
        return *this;
    }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    Type Get() const { return value_; }
    bool Valid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }
    Type Release() { return std::exchange(value_, Traits::Invalid()); }
    void Reset(Type value = Traits::Invalid()) {
        if (Valid()) Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::Invalid();
};

// Kernel objects that CreateFile and friends return INVALID_HANDLE_VALUE for.
struct FileTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
// Kernel objects that CreateThread, CreateProcess and friends return NULL for.
struct KernelTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct KeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct DevInfoTraits {
    using Type = HDEVINFO;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { SetupDiDestroyDeviceInfoList(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
struct BrushTraits {
    using Type = HBRUSH;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};
struct NotificationTraits {
    using Type = HDEVNOTIFY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { UnregisterDeviceNotification(h); }
};

using FileHandle = Scoped<FileTraits>;
using KernelHandle = Scoped<KernelTraits>;
using FindHandle = Scoped<FindTraits>;
using RegKey = Scoped<KeyTraits>;
using DevInfoList = Scoped<DevInfoTraits>;
using Module = Scoped<ModuleTraits>;
using Brush = Scoped<BrushTraits>;
using DeviceNotification = Scoped<NotificationTraits>;

}  // namespace kit
