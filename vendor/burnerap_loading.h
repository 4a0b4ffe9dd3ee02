// Win32-only: how the kit's programs reach BurnerApLib.dll. They import it by export name, but
// delay-loaded: a plain import is resolved by the system loader before any code of the program
// runs, and when the DLL is missing from the program's folder the loader goes on to the current
// directory, so a copy planted in whatever folder the program was started from would run inside it
// with the camera open. A delay-loaded import is resolved by the program itself: BindBurnerApLib
// loads the DLL through the kit's safe search (the program's folder and the system folders only)
// and binds every entry point the program imports before the first call is made.
#pragma once

#include <string>

namespace vendor {

enum class BurnerApBind {
    Bound,         // every imported entry point is bound; the calls may be made
    Missing,       // no BurnerApLib.dll in the program's folder or the system folders
    EntryMissing,  // the DLL lacks an entry point the program imports (named in `missing`)
};

// Loads and binds BurnerApLib.dll, once per process; later calls answer the first outcome. No call
// into the library may be made unless this answered Bound: a call into an unbound delay-loaded
// import would end the process with the loader's exception.
BurnerApBind BindBurnerApLib(std::string* missing = nullptr);

}  // namespace vendor
