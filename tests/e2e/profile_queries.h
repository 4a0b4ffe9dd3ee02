// Queries of the private-profile port rendered as text, so that the same query list can be answered
// by the real Win32 calls (under wine) and by the portable reader, and the answers compared.
//
// A query is "S|section|key|default|size", "C|section|size", "N|size" or "I|section|key|default";
// "~" stands for a null pointer. The answer shows the returned value and the buffer up to two
// characters past it, NUL as "\0", bytes the call did not write as '#'.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "kit/profile.h"

namespace e2e {

inline std::vector<std::string> SplitQuery(const std::string& q) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t bar; (bar = q.find('|', start)) != std::string::npos; start = bar + 1)
        parts.push_back(q.substr(start, bar - start));
    parts.push_back(q.substr(start));
    return parts;
}

inline std::string AnswerQuery(kit::ProfileReader& profile, const std::string& file, const std::string& query) {
    std::vector<std::string> p = SplitQuery(query);
    auto arg = [&p](size_t i) -> const char* {
        return i < p.size() && p[i] != "~" ? p[i].c_str() : nullptr;
    };
    auto number = [&p](size_t i) { return i < p.size() ? static_cast<uint32_t>(std::atoi(p[i].c_str())) : 0u; };
    uint32_t size = 0, n = 0;
    std::string buf(4096, '#');
    switch (p[0].empty() ? '?' : p[0][0]) {
        case 'S':
            size = number(4);
            n = profile.GetString(arg(1), arg(2), arg(3), buf.data(), size, file.c_str());
            break;
        case 'C':
            size = number(2);
            n = profile.GetSection(arg(1), buf.data(), size, file.c_str());
            break;
        case 'N':
            size = number(1);
            n = profile.GetSectionNames(buf.data(), size, file.c_str());
            break;
        case 'I':
            return query + " => " +
                   std::to_string(profile.GetInt(arg(1), arg(2), std::atoi(p.size() > 3 ? p[3].c_str() : "0"),
                                                 file.c_str()));
        default:
            return query + " => bad query";
    }
    std::string shown;
    for (uint32_t i = 0; i < n + 2 && i < size; ++i) shown += buf[i] ? std::string(1, buf[i]) : std::string("\\0");
    return query + " => " + std::to_string(n) + " [" + shown + "]";
}

}  // namespace e2e
