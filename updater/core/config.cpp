#include "config.h"

#include <cstdio>
#include <vector>

#include "text_util.h"
#include "texts.h"

namespace tessaw {

std::string ReadProfileString(kit::ProfileReader& profile, const char* file, const char* section,
                              const char* key, const char* def) {
    std::vector<char> buf(kProfileBuffer, '\0');
    uint32_t n = profile.GetString(section, key, def, buf.data(), kProfileBuffer, file);
    if (n >= kProfileBuffer) n = kProfileBuffer - 1;
    return std::string(buf.data(), n);
}

FirmwareEntry SplitConfigLine(const std::string& line) {
    FirmwareEntry e;
    e.sysId = TokenAfter(line, "SysID_", "_");
    e.pid = TokenAfter(line, "PID_", "_");
    e.modId = TokenAfter(line, "ModID_", "=");
    e.binName = TokenAfter(line, "=", " ");
    return e;
}

bool ReadConfigSection(kit::ProfileReader& profile, kit::Trace& trace, const char* file,
                       std::vector<FirmwareEntry>& entries) {
    std::vector<char> buf(kProfileBuffer, '\0');
    uint32_t n = profile.GetSection("Config", buf.data(), kProfileBuffer, file);
    if (n == 0) return false;
    // A cut list still ends in a NUL inside the buffer; SplitNulList stops at the empty string.
    std::vector<std::string> lines = kit::SplitNulList(buf.data(), std::min<uint32_t>(n + 1, kProfileBuffer));
    if (n >= kProfileBuffer - 2 && !lines.empty()) {
        // The section did not fit: its last entry may be cut ("...=FW_B5A4_01.b"), and a cut entry
        // could still match the camera. Only whole entries are used.
        kit::TraceF(trace, kConfigSectionCut, kProfileBuffer, lines.back().c_str());
        lines.pop_back();
    }
    if (lines.empty()) return false;
    std::vector<FirmwareEntry> table;
    table.reserve(lines.size());
    for (const std::string& line : lines) {
        table.push_back(SplitConfigLine(line));
        const FirmwareEntry& e = table.back();
        kit::TraceF(trace, kEntryTrace, e.sysId.c_str(), e.pid.c_str(), e.modId.c_str(), e.binName.c_str());
    }
    entries = std::move(table);
    return true;
}

int ParseLogSwitch(const std::string& value) { return static_cast<int>(LeadingNumber(value)); }

std::vector<std::string> SplitPidList(const std::string& value) {
    std::vector<std::string> list;
    size_t next = 0;
    std::string first = Token(value, 0, ",", &next);
    if (first.empty()) return list;
    list.push_back(first);
    for (;;) {
        std::string token = Token(value, next, ",;", &next);
        if (token.empty()) break;
        std::string packed;
        for (char c : token)
            if (c != ' ' && c != '\t') packed += c;
        // A token of blanks only stays, as an empty entry; in [COMBO] it is the pair 0 + 0.
        list.push_back(packed);
    }
    return list;
}

namespace {

uint32_t ReadHex4(const std::string& text) {
    unsigned value = 0;
    if (text.empty() || std::sscanf(text.c_str(), "%04x", &value) != 1) return 0;
    return value;
}

}  // namespace

ComboPair ParseComboPair(const std::string& text) {
    size_t next = 0;
    std::string a = Token(text, 0, "+", &next);
    std::string b = Token(text, next, "+");
    return ComboPair{ReadHex4(a), ReadHex4(b)};
}

DevLists ReadDevVrk(kit::ProfileReader& profile, kit::Trace& trace, const char* file) {
    DevLists lists;
    struct Section {
        const char* name;
        std::vector<std::string>* list;
        const char* heading;
    };
    const Section sections[] = {{"REALTEK", &lists.realtek, kRealtekHeading},
                                {"SONIX", &lists.sonix, kSonixHeading},
                                {"QUELMAR", &lists.quelmar, kQuelmarHeading},
                                {"COMBO", &lists.combo, nullptr}};
    for (const Section& s : sections) {
        std::string value = ReadProfileString(profile, file, s.name, "PID", "");
        if (value.empty()) break;
        *s.list = SplitPidList(value);
        if (s.heading) {
            trace.Write(s.heading);
            for (const std::string& item : *s.list) kit::TraceF(trace, kListItem, item.c_str());
        }
    }
    // Read on its own: without it nothing else changes.
    for (const std::string& item : SplitPidList(ReadProfileString(profile, file, "QUELMAR", "ROM", ""))) {
        const size_t colon = item.find(':');
        const std::string vid = Upper(item.substr(0, colon));
        const std::string pid = colon == std::string::npos ? "" : Upper(item.substr(colon + 1));
        auto hex4 = [](const std::string& t) {
            return t.size() == 4 && t.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        };
        if (!hex4(vid) || !hex4(pid)) {
            kit::TraceF(trace, kRomItemSkipped, item.c_str());
            continue;
        }
        lists.quelmarRom.emplace_back(vid, pid);
    }
    if (!lists.quelmarRom.empty()) {
        trace.Write(kQuelmarRomHeading);
        for (const auto& [vid, pid] : lists.quelmarRom) kit::TraceF(trace, kRomItem, vid.c_str(), pid.c_str());
    }
    if (!lists.combo.empty()) {
        for (const std::string& text : lists.combo) lists.pairs.push_back(ParseComboPair(text));
        trace.Write(kComboHeading);
        for (const ComboPair& p : lists.pairs) kit::TraceF(trace, kPairItem, p.first, p.second);
    }
    return lists;
}

std::string ReadSystemId(kit::ProfileReader& profile, const char* file) {
    return ReadProfileString(profile, file, "SUBSYSTEM", "SYSID", "");
}

}  // namespace tessaw
