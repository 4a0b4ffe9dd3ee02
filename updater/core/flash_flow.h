// The seam between the update driver and the three flashing flows (Realtek, Sonix, Quelmar).
#pragma once

#include <cstdint>
#include <string>

namespace tessaw {

class UpdateSession;

// One chip family's flow. The update driver runs it on the update worker thread after the firmware
// file has been loaded (and, for Sonix and Quelmar, after the camera's library was initialised).
// The flow reports through the session (log, trace, dialog messages) and sets the session's success
// flag when the camera holds the new firmware; leaving it cleared ends the run "Update unsuccessful".
class FlashFlow {
public:
    virtual ~FlashFlow() = default;
    virtual void Run(UpdateSession& session) = 0;
};

// The Sonix burner library (BurnerApLib.dll), which finds the camera itself: the two calls the update
// driver makes before the Sonix flow, and the flow's own. Synchronous, update worker thread; a call
// on a camera that is gone fails like any other failure.
class SonixLibraryPort {
public:
    virtual ~SonixLibraryPort() = default;
    // Makes the library callable, once, at start-up before any other call: loads it from the
    // program's folder or the system folders (never the current directory) and binds every entry
    // point. false: no usable library; `missingEntry` then names the entry point it lacks, or is
    // empty when the library itself is missing. No other call may be made after a false.
    virtual bool Bind(std::string& missingEntry) = 0;
    // Initialize_DriverInterface(): above 0 the interface is ready.
    virtual int InitializeDriverInterface() = 0;
    // GetRomVersion into a 16-byte buffer; true when it was written.
    virtual bool GetRomVersion(char* version16) = 0;
    // ReqToDriver: request 7 reads `length` bytes of the flash at `address` into `buffer`, request 6
    // writes them from it. true when done.
    virtual bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) = 0;
    // SetWriteProtect: false lifts the flash's write protection, true restores it; the word and the
    // byte are the library's own record of it. true when done.
    virtual bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) = 0;
    // EraseSF: true when the whole flash was erased.
    virtual bool EraseSF() = 0;
    // ResetDevice: non-zero when the camera was reset.
    virtual int ResetDevice() = 0;
};

}  // namespace tessaw
