// Driver version strings from the registry and from config.ini, and their comparison.
#include "driver_check.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string installed = in.ConsumeRandomLengthString(64);
    const std::string required = in.ConsumeRemainingBytesAsString();
    const tessaw::DriverVersion a = tessaw::ParseDriverVersion(installed);
    const tessaw::DriverVersion b = tessaw::ParseDriverVersion(required);
    // A version is never older than itself.
    if (tessaw::CompareDriverVersions(a, a) != tessaw::kDriverAccepted) __builtin_trap();
    tessaw::CompareDriverVersions(a, b);
    return 0;
}
