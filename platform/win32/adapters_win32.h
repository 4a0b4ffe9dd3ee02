// Win32-only: the generic adapters of the kit's ports over the real Windows calls (registry, DLLs,
// hidden start, files, clocks), shared by the GUI programs. Each translates, calls and maps errors.
#pragma once

#include <windows.h>

#include "kit/driver_registry.h"
#include "kit/file_system.h"
#include "kit/hidden_start.h"
#include "kit/library_loader.h"
#include "kit/wall_clock.h"

namespace kit {

// HKEY_LOCAL_MACHINE, read only.
class Win32Registry final : public RegistryPort {
public:
    bool OpenLocalMachine(const char* path, Key& out) override;
    bool OpenSubKey(Key parent, const char* name, Key& out) override;
    bool SubKeyName(Key key, uint32_t index, uint32_t maxChars, std::string& name) override;
    bool ReadString(Key key, const char* value, uint32_t maxBytes, std::string& out) override;
    void Close(Key key) override;
};

// DLLs from the program's folder, the system folders or a full path only (dll_search.h).
class SafeLibraries final : public LibraryPort {
public:
    void* LoadByPath(const char* fullPath) override;
    void* LoadByName(const char* name) override;
    EntryPoint Find(void* module, const char* name) override;
    void Free(void* module) override;
};

// CreateProcess with the window hidden; the handles are closed at once (nobody waits).
class HiddenStart final : public ProgramStartPort {
public:
    uint32_t StartHidden(const char* path) override;
};

class Win32Files final : public FileSystemPort {
public:
    bool FileExists(const char* path) override;
    std::vector<std::string> Matches(const char* pattern) override;
    bool Status(const char* path, uint64_t& size) override;
    std::unique_ptr<ReadableFile> OpenRead(const char* path) override;
    std::unique_ptr<WritableFile> OpenAppend(const char* path) override;
    std::unique_ptr<WritableFile> Create(const char* path) override;
    bool Delete(const char* path) override;
    std::string TempFolder(uint32_t maxChars) override;
};

class Win32Clock final : public ClockPort {
public:
    uint32_t ProcessMilliseconds() override;
    LocalTime Now() override;
};

}  // namespace kit
