// Win32-only: the VARIANT holder and text conversion shared by the kit's Win32 code (the handle
// owners are in handles.h).
#pragma once

#include <windows.h>
// After windows.h:
#include <oleauto.h>

#include <string>

namespace kit {

// VARIANT cleared whatever way the scope is left.
struct ScopedVariant {
    VARIANT v;
    ScopedVariant() { VariantInit(&v); }
    ~ScopedVariant() { VariantClear(&v); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// UTF-16 to an 8-bit code page (the system's ANSI one unless told); `chars` < 0: up to the
// terminator. Empty when the text cannot be converted.
inline std::string ToAnsi(const wchar_t* text, int chars = -1, UINT codePage = CP_ACP) {
    if (!text || chars == 0) return {};
    int n = WideCharToMultiByte(codePage, 0, text, chars, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(codePage, 0, text, chars, out.data(), n, nullptr, nullptr) != n) return {};
    if (chars < 0) out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace kit
