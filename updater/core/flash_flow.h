// The seam between the update driver and the three flashing flows (Realtek, Sonix, Quelmar). The
// ports the flows reach the world through are in ports.h.
#pragma once

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

}  // namespace tessaw
