// dev.vrk: the chip-family PID lists and the combo pairs, then the combo check over entries made
// from the same lists, as identification leaves them.
#include "config.h"
#include "fuzz_support.h"
#include "identify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("dev.vrk");
    const std::string bytes = file.Write(data, size);
    static kit::PortableProfile profile;
    static fuzz::NullTrace trace;
    const tessaw::DevLists lists = tessaw::ReadDevVrk(profile, trace, file.Path().c_str());

    // Every listed PID present once, the odd ones with a revision (found on the bus).
    std::vector<tessaw::FirmwareEntry> entries;
    for (const auto* list : {&lists.realtek, &lists.sonix, &lists.quelmar, &lists.combo})
        for (const std::string& pid : *list)
            entries.push_back({"XXXX", pid, entries.size() % 2 ? "0100" : "", "01", "fw.bin"});
    tessaw::CheckCombo(entries, lists, trace);

    // The raw bytes as one PID value and one combo text.
    tessaw::SplitPidList(bytes);
    tessaw::ParseComboPair(bytes);
    return 0;
}
