// Small text helpers of the updater core.
#pragma once

#include <string>

#include "kit/text.h"

namespace tessaw {

// printf into a string of any length.
using kit::Format;

// ASCII case folding (the texts are hexadecimal IDs and INI values).
using kit::Lower;
using kit::Upper;

// The token that a string tokenizer returns first when started at `from`: delimiter characters are
// skipped, the token runs to the next delimiter or the end. Empty when only delimiters remain.
// Sets `next` (when given) to the position just after the token's closing delimiter.
std::string Token(const std::string& text, size_t from, const char* delimiters, size_t* next = nullptr);

// The token after the first occurrence of `marker`, delimited by `delimiters`; empty when the marker
// is absent.
std::string TokenAfter(const std::string& text, const char* marker, const char* delimiters);

// The value of the decimal number at the start of `text` as atoi reads it (blanks, an optional
// sign, digits); 0 without digits. Values beyond the 32-bit range are clamped.
long long LeadingNumber(const std::string& text);

}  // namespace tessaw
