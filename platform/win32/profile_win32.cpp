// Win32-only: the private-profile port over the real GetPrivateProfile* calls.
#include <windows.h>

#include "kit/profile.h"

namespace kit {
namespace {

class Win32Profile final : public ProfileReader {
public:
    uint32_t GetString(const char* section, const char* key, const char* def, char* out,
                       uint32_t size, const char* file) override {
        return GetPrivateProfileStringA(section, key, def, out, size, file);
    }
    uint32_t GetSection(const char* section, char* out, uint32_t size, const char* file) override {
        return GetPrivateProfileSectionA(section, out, size, file);
    }
    uint32_t GetSectionNames(char* out, uint32_t size, const char* file) override {
        return GetPrivateProfileSectionNamesA(out, size, file);
    }
    uint32_t GetInt(const char* section, const char* key, int32_t def, const char* file) override {
        return GetPrivateProfileIntA(section, key, def, file);
    }
};

}  // namespace

ProfileReader& SystemProfile() {
    static Win32Profile profile;
    return profile;
}

}  // namespace kit
