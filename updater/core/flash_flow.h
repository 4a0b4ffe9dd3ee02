// The seam between the update driver and the three flashing flows (Realtek, Sonix, Quelmar).
#pragma once

#include <cstdint>

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

// The two calls of the Sonix burner library that the update driver makes before the Sonix flow.
// Synchronous, update worker thread.
class SonixLibraryPort {
public:
    virtual ~SonixLibraryPort() = default;
    // Initialize_DriverInterface(): above 0 the interface is ready.
    virtual int InitializeDriverInterface() = 0;
    // GetRomVersion into a 16-byte buffer; true when it was written.
    virtual bool GetRomVersion(char* version16) = 0;
};

}  // namespace tessaw
