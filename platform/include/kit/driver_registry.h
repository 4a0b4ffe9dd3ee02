// Registry port for the camera driver check: read-only access below HKEY_LOCAL_MACHINE.
//
// Keys are opaque tokens owned by the caller until Close; use ScopedRegistryKey. All calls are
// synchronous, may block on the registry, are safe on any thread, and never throw. Failures are
// returned as false and are not distinguished further: the caller only needs to know which of its
// steps failed.
#pragma once

#include <cstdint>
#include <string>

namespace kit {

class RegistryPort {
public:
    using Key = void*;
    virtual ~RegistryPort() = default;

    // Opens HKEY_LOCAL_MACHINE\<path> for reading. false: missing or not accessible.
    virtual bool OpenLocalMachine(const char* path, Key& out) = 0;
    // Opens a subkey of an open key (the name may hold several levels joined by '\').
    virtual bool OpenSubKey(Key parent, const char* name, Key& out) = 0;
    // Name of the subkey at `index` (RegEnumKeyEx order). false: no such subkey, or a name longer
    // than `maxChars` - 1 characters.
    virtual bool SubKeyName(Key key, uint32_t index, uint32_t maxChars, std::string& name) = 0;
    // A string value (REG_SZ or REG_EXPAND_SZ, not expanded) of at most `maxBytes` bytes including
    // its terminating zero; the result never holds the terminator. false: missing, another type, or
    // longer.
    virtual bool ReadString(Key key, const char* value, uint32_t maxBytes, std::string& out) = 0;
    // Closes a key returned by the calls above. A null key is ignored.
    virtual void Close(Key key) = 0;
};

// Closes its key when it goes out of scope.
class ScopedRegistryKey {
public:
    explicit ScopedRegistryKey(RegistryPort& registry) : registry_(registry) {}
    ~ScopedRegistryKey() { registry_.Close(key_); }
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;
    RegistryPort::Key& Out() { return key_; }
    RegistryPort::Key Get() const { return key_; }

private:
    RegistryPort& registry_;
    RegistryPort::Key key_ = nullptr;
};

}  // namespace kit
