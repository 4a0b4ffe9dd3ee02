// config.ini as the updater reads it: the [Config] section split into firmware entries, the log
// switch and, on the same file, the subsystem ID of ID_Log.ini.
#include "config.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("config.ini");
    const std::string bytes = file.Write(data, size);
    static kit::PortableProfile profile;
    static fuzz::NullTrace trace;
    std::vector<tessaw::FirmwareEntry> entries;
    tessaw::ReadConfigSection(profile, trace, file.Path().c_str(), entries);
    tessaw::ParseLogSwitch(tessaw::ReadProfileString(profile, file.Path().c_str(), "FW_TOOL", "LogSwitch", "0"));
    tessaw::ReadSystemId(profile, file.Path().c_str());
    // One line as the section hands it over, whatever the file held.
    tessaw::SplitConfigLine(bytes);
    tessaw::ParseLogSwitch(bytes);
    return 0;
}
