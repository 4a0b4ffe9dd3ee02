// pid.ini as the write tool reads it: the section list into its 2,000-byte buffer, each name's
// product ID, then the keys of the first usable section and its VER.
#include "fuzz_support.h"
#include "settings.h"
#include "texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("pid.ini");
    const std::string bytes = file.Write(data, size);
    kit::PortableProfile profile;
    const orlinde::PidSections list = orlinde::ReadPidSections(profile, file.Path());
    for (const orlinde::PidSection& s : list.sections) {
        if (s.name.size() != orlinde::kPidSectionChars) __builtin_trap();
        if (orlinde::FindSection(list, s.pid) == nullptr) __builtin_trap();
    }
    if (!list.sections.empty()) {
        const char* section = list.sections.front().name.c_str();
        for (const char* key : {orlinde::kKeyBin, orlinde::kKeyModuleId, orlinde::kKey041f, orlinde::kKey0604})
            orlinde::ReadText(profile, file.Path(), section, key, orlinde::kDefaultBin);
        orlinde::ParseVer(orlinde::ReadText(profile, file.Path(), section, orlinde::kKeyVer, orlinde::kDefaultVer,
                                            orlinde::kVerChars));
    }
    // The product-ID parser on every four characters of the raw bytes (as a C string would end).
    const std::string text = bytes.c_str();
    for (size_t at = 0; at <= text.size(); ++at) orlinde::ParseProductId(text.c_str() + at);
    orlinde::ParseVer(text);
    return 0;
}
