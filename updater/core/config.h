// Reading config.ini, dev.vrk and ID_Log.ini through the private-profile reader.
#pragma once

#include <string>
#include <vector>

#include "kit/profile.h"
#include "kit/trace.h"
#include "model.h"

namespace tessaw {

// Every read uses a buffer of this many characters, as the files have always been read.
inline constexpr uint32_t kProfileBuffer = 0x10000;

// One key of an INI file, read with GetPrivateProfileString into a 65,536-character buffer.
std::string ReadProfileString(kit::ProfileReader& profile, const char* file, const char* section,
                              const char* key, const char* def);

// Splits one [Config] string ("SysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin") into its entry. A part
// whose marker is missing stays empty; the line still makes an entry.
FirmwareEntry SplitConfigLine(const std::string& line);

// Reads the whole [Config] section of `file` into `entries` (replacing them) and traces each entry.
// false when the section is missing or holds no line; `entries` is then left as it was.
bool ReadConfigSection(kit::ProfileReader& profile, kit::Trace& trace, const char* file,
                       std::vector<FirmwareEntry>& entries);

// The log switch from the LogSwitch value: the leading decimal number, 0 without digits.
int ParseLogSwitch(const std::string& value);

// Splits one dev.vrk PID value: the first token up to "," as written, then tokens between "," and
// ";" with their blanks and tabs removed. A token of blanks only is kept as an empty entry: in
// [COMBO] that is the pair 0 + 0, which ends the combo check with a pass (the file author's way of
// saying "no further pairs"); in a chip-family list no real product ID equals it.
std::vector<std::string> SplitPidList(const std::string& value);

// "5602+5603" -> {0x5602, 0x5603}: the first two "+" tokens read as up to four hexadecimal digits;
// a missing or unreadable part is 0.
ComboPair ParseComboPair(const std::string& text);

// Reads dev.vrk: the [REALTEK], [SONIX], [QUELMAR] and [COMBO] PID lists in that order. An empty or
// missing list stops the reading: it and all later lists stay empty. Always succeeds.
DevLists ReadDevVrk(kit::ProfileReader& profile, kit::Trace& trace, const char* file);

// SYSID of [SUBSYSTEM] in ID_Log.ini, "" when missing.
std::string ReadSystemId(kit::ProfileReader& profile, const char* file);

}  // namespace tessaw
