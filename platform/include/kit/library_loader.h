// Run-time library loading port: load a DLL, look its exports up by name, release it.
//
// Synchronous, main thread (the updater binds its libraries during start-up and releases them when
// the dialog is destroyed); never throws. Modules are opaque tokens.
#pragma once

namespace kit {

// The address of an export, to be cast to the export's own function type by the caller.
using EntryPoint = void (*)();

class LibraryPort {
public:
    virtual ~LibraryPort() = default;
    // Loads the DLL at a full path; its own dependencies are searched in its folder first.
    // nullptr when the file is missing or cannot be loaded.
    virtual void* LoadByPath(const char* fullPath) = 0;
    // Loads a DLL by its plain name through the system's search order without the current
    // directory (the program's own folder, then the system folders), so that a DLL planted in
    // whatever folder the program was started from is never picked up. nullptr on failure.
    virtual void* LoadByName(const char* name) = 0;
    // The export of that name, or nullptr when the module lacks it.
    virtual EntryPoint Find(void* module, const char* name) = 0;
    // Releases a module returned by the Load calls; a null module is ignored.
    virtual void Free(void* module) = 0;
};

}  // namespace kit
