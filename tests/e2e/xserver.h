// The X server of the end-to-end tests that run windows: one per test process, on a free display,
// with the prefix's wine server restarted once so that its desktop uses that display.
#pragma once

#include <filesystem>
#include <string>

#include <sys/types.h>

namespace e2e {

// An X server of the test process's own on a free display; stopped when the process ends.
class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    const std::string& Display() const { return display_; }

    // A PNG of the screen cut to the rectangle; false when the tools failed.
    bool Screenshot(const std::filesystem::path& png, int x, int y, int width, int height) const;

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Ends the prefix's wine server and every program in it, and starts a new one.
void RestartWineServer();

// The display of every wine program the tests run (the registry tool too); empty when Xvfb cannot
// be started.
const XServer& Screen();

}  // namespace e2e
