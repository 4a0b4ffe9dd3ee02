#include "text_util.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tessaw {

std::string Token(const std::string& text, size_t from, const char* delimiters, size_t* next) {
    size_t begin = text.find_first_not_of(delimiters, std::min(from, text.size()));
    if (begin == std::string::npos) {
        if (next) *next = text.size();
        return {};
    }
    size_t end = text.find_first_of(delimiters, begin);
    if (end == std::string::npos) {
        if (next) *next = text.size();
        return text.substr(begin);
    }
    if (next) *next = end + 1;
    return text.substr(begin, end - begin);
}

std::string TokenAfter(const std::string& text, const char* marker, const char* delimiters) {
    size_t at = text.find(marker);
    if (at == std::string::npos) return {};
    return Token(text, at + std::strlen(marker), delimiters);
}

long long LeadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    const long long limit = 0x80000000LL;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    if (negative) return -value;
    return value > limit - 1 ? limit - 1 : value;
}

}  // namespace tessaw
