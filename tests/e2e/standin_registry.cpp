#include "standin_registry.h"

#include <gtest/gtest.h>

namespace e2e {

fs::path CaptureStandInTool() {
    fs::path p = KitDir() / "emu" / "capture_standin.exe";
    if (!fs::exists(p)) ADD_FAILURE() << p << " is missing: build the win64 preset first";
    return p;
}

RunResult RegisterCaptureStandIn(const fs::path& bench) {
    return RunWine(CaptureStandInTool(), {"register", WindowsPath(bench)}, RunOptions{});
}

RunResult UnregisterCaptureStandIn() { return RunWine(CaptureStandInTool(), {"unregister"}, RunOptions{}); }

ScopedCaptureStandIn::ScopedCaptureStandIn(const fs::path& bench) {
    RunResult r = RegisterCaptureStandIn(bench);
    ok_ = r.exitCode == 0;
    EXPECT_TRUE(ok_) << "capture_standin register " << bench << ": " << r.out << r.err;
}

ScopedCaptureStandIn::~ScopedCaptureStandIn() {
    RunResult r = UnregisterCaptureStandIn();
    EXPECT_EQ(r.exitCode, 0) << "capture_standin unregister: " << r.out << r.err;
}

}  // namespace e2e
