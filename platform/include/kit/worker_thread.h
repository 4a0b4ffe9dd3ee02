// Worker-thread port: the updater runs each update on a thread of its own, at below-normal
// priority, so that the dialog stays responsive.
//
// Start returns at once (main thread); the body runs on the new thread, which has COM initialised
// in the multithreaded model for the whole body (the Realtek flow builds a DirectShow graph there).
// The thread is detached: nothing waits for it. Never throws.
#pragma once

#include <functional>

namespace kit {

class ThreadPort {
public:
    virtual ~ThreadPort() = default;
    // Starts `body` on a new below-normal-priority thread. false when the thread could not be
    // created; the body is then never run.
    virtual bool StartBelowNormal(std::function<void()> body) = 0;
};

}  // namespace kit
