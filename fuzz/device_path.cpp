// DirectShow device paths: Kestrim's "vid_"/"pid_" fields and the still-capture search's test of
// whether a path names a camera.
#include "fuzz_support.h"
#include "kestrim.h"
#include "still_graph.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint16_t vid = in.ConsumeIntegral<uint16_t>();
    const uint16_t pid = in.ConsumeIntegral<uint16_t>();
    const std::string path = in.ConsumeRemainingBytesAsString();
    std::string field;
    for (const char* marker : {"vid_", "pid_", "VID_", "PID_", ""}) kestrim::TakeAfter(path, marker, field);
    stillcap::PathNamesCamera(path, vid, pid);
    return 0;
}
