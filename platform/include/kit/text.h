// Small text helpers shared by the kit's portable code: ASCII case folding, blank trimming,
// comma-separated lists, numbers from configuration values and formatted text.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

namespace kit {

// ASCII only: the texts are hexadecimal IDs, INI keys and values.
std::string Upper(std::string text);
std::string Lower(std::string text);
// Without leading and trailing blanks (spaces, tabs, line ends).
std::string Trim(const std::string& text);
// "a, b,,c " -> {"a", "b", "c"}: items trimmed, empty ones dropped.
std::vector<std::string> SplitList(const std::string& text, char separator = ',');
// A whole decimal or 0x-hexadecimal number no greater than `high`; false for anything else
// (empty, a sign, trailing text, too large).
bool ParseNumber(const std::string& text, uint64_t high, uint64_t& out);
// printf into a string of any length.
std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string FormatV(const char* fmt, va_list args);

}  // namespace kit
