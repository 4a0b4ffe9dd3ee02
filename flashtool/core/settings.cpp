#include "settings.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "camlib/internals.h"
#include "ports.h"
#include "texts.h"

namespace orlinde {

bool ReadFlag(kit::ProfileReader& profile, const std::string& file, const char* key) {
    char value[kFlagChars] = {};
    profile.GetString(kSettingSection, key, kFlagDefault, value, kFlagChars, file.c_str());
    value[kFlagChars - 1] = '\0';
    return std::atoi(value) != 0;
}

Settings ReadSettings(kit::ProfileReader& profile, const std::string& file) {
    Settings s;
    s.cmdLineMode = ReadFlag(profile, file, kKeyCmdLineMode);
    s.cmdLineMsg = ReadFlag(profile, file, kKeyCmdLineMsg);
    s.writeLog = ReadFlag(profile, file, kKeyWriteLog);
    s.autoDl = ReadFlag(profile, file, kKeyAutoDl);
    s.chooseBinUsePid = ReadFlag(profile, file, kKeyChooseBinUsePid);
    s.checkImageId = ReadFlag(profile, file, kKeyCheckImageId);
    s.backup = ReadFlag(profile, file, kKeyBackup);
    return s;
}

std::string ReadText(kit::ProfileReader& profile, const std::string& file, const char* section,
                     const char* key, const char* def, uint32_t chars) {
    std::vector<char> value(chars, '\0');
    profile.GetString(section, key, def, value.data(), chars, file.c_str());
    value[chars - 1] = '\0';
    return value.data();
}

uint16_t ParseProductId(const char* four) { return camlib::ParseHex4(four); }

PidSections ReadPidSections(kit::ProfileReader& profile, const std::string& file) {
    std::vector<char> buffer(kSectionBufferBytes, '\0');
    uint32_t n = profile.GetSectionNames(buffer.data(), kSectionListChars, file.c_str());
    if (n > kSectionListChars) n = kSectionListChars;
    PidSections out;
    // A name counts only when its terminator is among the characters returned: the last name of a
    // list cut to the buffer may be cut itself.
    std::vector<std::string> names;
    for (uint32_t at = 0; at < n;) {
        const void* end = std::memchr(buffer.data() + at, '\0', n - at);
        if (!end) break;
        const uint32_t length = static_cast<uint32_t>(static_cast<const char*>(end) - (buffer.data() + at));
        names.emplace_back(buffer.data() + at, length);
        at += length + 1;
    }
    for (const std::string& name : names) {
        if (name.size() != kPidSectionChars) {
            out.skipped.push_back(name);
            continue;
        }
        PidSection section;
        section.pid = ParseProductId(name.c_str() + 4);
        char formed[kPidSectionChars + 1];
        std::snprintf(formed, sizeof formed, kPidSectionFormat, name[4], name[5], name[6], name[7]);
        section.name = formed;
        out.sections.push_back(std::move(section));
    }
    return out;
}

const PidSection* FindSection(const PidSections& list, uint16_t pid) {
    for (const PidSection& s : list.sections)
        if (s.pid == pid) return &s;
    return nullptr;
}

bool IsChipDefaultIdentity(uint16_t vid, uint16_t pid, uint16_t rev) {
    struct Row {
        uint16_t vid, pid, rev;
    };
    static constexpr Row kRows[] = {{0x04FC, 0x2080, 0x0100},
                                    {0x1BCF, 0x2082, 0x0100},
                                    {0x1BCF, 0x0B09, 0x0100},
                                    {0x1BCF, 0x0B01, 0x0100},
                                    {0x1BCF, 0x0B10, 0x0200}};
    for (const Row& r : kRows)
        if (r.vid == vid && r.pid == pid && r.rev == rev) return true;
    return false;
}

namespace {

bool RomNameIs(const char* rom, const char* name) {
    for (int i = 0; i < 4; ++i) {
        const unsigned char a = static_cast<unsigned char>(rom[i]);
        const unsigned char b = static_cast<unsigned char>(name[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

bool RomNameIn(const char* rom, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (RomNameIs(rom, name)) return true;
    return false;
}

}  // namespace

RomAddress SonixRomAddress(const char* rom) {
    const uint8_t number = static_cast<uint8_t>(rom[5]);
    if (RomNameIs(rom, "231RO") && number == 2) return {false, 0x000F};
    if (RomNameIn(rom, {"232RO", "275RO", "276RO", "290RO"}) && number == 1) return {false, 0xC034};
    if (RomNameIs(rom, "232RO") && number == 2) return {true, 0};
    if (RomNameIn(rom, {"286RO", "288RO", "289RO", "270RO", "271RO", "280RO", "281RO"}) && number == 1)
        return {true, 0};
    return {false, 0x8034};
}

FileVersion ImageRevision(const uint8_t* image, uint32_t size, char family) {
    const uint32_t at = camlib::IdentityOffset(family) + 4;  // after vendor and product ID
    if (!image || size < at + 2) return {false, 0};
    const uint16_t rev = static_cast<uint16_t>(image[at] | image[at + 1] << 8);
    return {rev != 0xFFFF, rev};
}

bool ImageVidPid(const uint8_t* image, uint32_t size, char family, uint16_t& vid, uint16_t& pid) {
    const uint32_t at = camlib::IdentityOffset(family);
    if (!image || size < at + 6) return false;
    vid = static_cast<uint16_t>(image[at] | image[at + 1] << 8);
    pid = static_cast<uint16_t>(image[at + 2] | image[at + 3] << 8);
    return true;
}

uint16_t ParseVer(const std::string& text) {
    return static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
}

int StatusPicture(uint8_t status) {
    switch (status) {
        case kStatusIdle:
            return kBmpIdle;
        case kStatusSuccess:
            return kBmpSuccess;
        case kStatusFail:
            return kBmpFail;
        case kStatusRunning:
            return kBmpRunning;
        default:
            return 0;
    }
}

int CountdownPicture(uint8_t progress) {
    if (progress >= 71 && progress <= 79) return kBmpCountdown3;
    if (progress >= 81 && progress <= 89) return kBmpCountdown2;
    if (progress >= 91 && progress <= 99) return kBmpCountdown1;
    return 0;
}

}  // namespace orlinde
