// setting.ini as the write tool reads it: the five flags (two-character reads) and the text values.
#include "fuzz_support.h"
#include "settings.h"
#include "texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("setting.ini");
    file.Write(data, size);
    kit::PortableProfile profile;
    orlinde::ReadSettings(profile, file.Path());
    orlinde::ReadText(profile, file.Path(), orlinde::kSettingSection, orlinde::kKeyBin, orlinde::kDefaultBin);
    orlinde::ReadText(profile, file.Path(), orlinde::kSettingSection, orlinde::kKeyVer, orlinde::kDefaultVer,
                      orlinde::kVerChars);
    return 0;
}
