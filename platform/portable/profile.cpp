#include "kit/profile.h"
#include "kit/text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kit {
namespace {

struct Entry {
    std::string name;
    bool hasValue = false;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool SameText(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Entries before the first section header belong to a nameless section that no lookup reaches.
bool Load(const char* file, std::vector<Section>& sections) {
    if (!file) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    sections.assign(1, Section{});
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close != std::string::npos) {
                sections.push_back(Section{Trim(line.substr(1, close - 1)), {}});
                continue;
            }
        }
        Entry e;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            e.name = line;
        } else {
            e.name = Trim(line.substr(0, eq));
            e.hasValue = true;
            e.value = Trim(line.substr(eq + 1));
        }
        sections.back().entries.push_back(std::move(e));
    }
    return true;
}

const Section* FindSection(const std::vector<Section>& sections, const char* name) {
    for (size_t i = 1; i < sections.size(); ++i)
        if (SameText(sections[i].name, name)) return &sections[i];
    return nullptr;
}

// Copies at most size - 1 characters and terminates, like lstrcpyn.
void CopyN(char* out, const char* src, uint32_t size) {
    if (size == 0) return;
    size_t n = std::min<size_t>(std::strlen(src), size - 1);
    std::memcpy(out, src, n);
    out[n] = '\0';
}

// One value into the caller's buffer, losing one pair of matching surrounding quotes.
void CopyValue(char* out, const char* value, uint32_t size) {
    char quote = '\0';
    if ((value[0] == '\'' || value[0] == '"') && value[1] && value[std::strlen(value) - 1] == value[0])
        quote = *value++;
    CopyN(out, value, size);
    // A one-character buffer holds only the terminator: there is no last character to lose.
    if (quote && size >= std::strlen(value) && out[0]) out[std::strlen(out) - 1] = '\0';
}

uint32_t EmptyList(char* out, uint32_t size) {
    if (size >= 1) out[0] = '\0';
    if (size >= 2) out[1] = '\0';
    return 0;
}

// "a\0b\0\0" list of names (and values) of one section.
uint32_t SectionList(const Section& section, char* out, uint32_t size, bool withValues) {
    // Too small for any name and its two terminators: an empty list, not a cut one (size - 2).
    if (size < 2) return EmptyList(out, size);
    char* p = out;
    uint32_t left = size;
    for (const Entry& e : section.entries) {
        if (left <= 2) break;
        if (!withValues && !e.hasValue) continue;
        CopyN(p, e.name.c_str(), left - 1);
        size_t n = std::strlen(p);
        left -= static_cast<uint32_t>(n + 1);
        p += n + 1;
        if (left < 2) break;
        if (withValues && e.hasValue) {
            p[-1] = '=';
            CopyN(p, e.value.c_str(), left - 1);
            n = std::strlen(p);
            left -= static_cast<uint32_t>(n + 1);
            p += n + 1;
        }
    }
    *p = '\0';
    if (left <= 1) {
        p[-1] = '\0';
        return size - 2;
    }
    return size - left;
}

uint32_t NamesList(const std::vector<Section>& sections, char* out, uint32_t size) {
    if (!out || size == 0) return 0;
    if (size == 1) {
        out[0] = '\0';
        return 0;
    }
    uint32_t left = size - 1;
    char* p = out;
    for (size_t i = 1; i < sections.size(); ++i) {
        const std::string& name = sections[i].name;
        if (name.empty()) continue;
        uint32_t need = static_cast<uint32_t>(name.size() + 1);
        if (need >= left) {
            if (left > 0) {
                std::memcpy(p, name.data(), left - 1);
                p += left - 1;
                *p++ = '\0';
            }
            *p = '\0';
            return size - 2;
        }
        std::memcpy(p, name.c_str(), need);
        p += need;
        left -= need;
    }
    *p = '\0';
    return static_cast<uint32_t>(p - out);
}

}  // namespace

// The ANSI calls build their answer aside and hand over only what it holds: the returned
// characters and one NUL. Bytes beyond are left as the caller had them.
// The section call alone also hands over the second NUL of an empty or cut list.
template <typename Build>
uint32_t Answer(char* out, uint32_t size, bool doubleNul, Build build) {
    if (!out || size == 0) return 0;
    std::vector<char> scratch(size, '\0');
    uint32_t n = build(scratch.data());
    bool cut = size >= 2 && n == size - 2;
    uint32_t bytes = std::min(size, doubleNul && (n == 0 || cut) ? n + 2 : n + 1);
    std::memcpy(out, scratch.data(), bytes);
    return n;
}

uint32_t PortableProfile::GetString(const char* section, const char* key, const char* def, char* out,
                                    uint32_t size, const char* file) {
    return Answer(out, size, false, [&](char* buf) -> uint32_t {
        std::vector<Section> sections;
        bool loaded = Load(file, sections);
        if (!section) return loaded ? NamesList(sections, buf, size) : EmptyList(buf, size);
        const Section* s = loaded ? FindSection(sections, section) : nullptr;
        if (!key) return s ? SectionList(*s, buf, size, false) : EmptyList(buf, size);
        // The default loses its trailing blanks.
        std::string fallback = def ? def : "";
        while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
        const char* value = fallback.c_str();
        if (s) {
            for (const Entry& e : s->entries) {
                if (SameText(e.name, key)) {
                    if (e.hasValue) value = e.value.c_str();
                    break;
                }
            }
        }
        CopyValue(buf, value, size);
        return static_cast<uint32_t>(std::strlen(buf));
    });
}

uint32_t PortableProfile::GetSection(const char* section, char* out, uint32_t size, const char* file) {
    return Answer(out, size, true, [&](char* buf) -> uint32_t {
        std::vector<Section> sections;
        const Section* s = Load(file, sections) && section ? FindSection(sections, section) : nullptr;
        return s ? SectionList(*s, buf, size, true) : EmptyList(buf, size);
    });
}

uint32_t PortableProfile::GetSectionNames(char* out, uint32_t size, const char* file) {
    return Answer(out, size, false, [&](char* buf) -> uint32_t {
        std::vector<Section> sections;
        if (!Load(file, sections)) return EmptyList(buf, size);
        return NamesList(sections, buf, size);
    });
}

uint32_t PortableProfile::GetInt(const char* section, const char* key, int32_t def, const char* file) {
    char buf[30];
    if (GetString(section, key, "", buf, sizeof buf, file) == 0 || !buf[0]) return static_cast<uint32_t>(def);
    const char* p = buf;
    while (*p && IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) base = 16, p += 2;
    else if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O')) base = 8, p += 2;
    else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) base = 2, p += 2;
    uint32_t value = 0;
    for (;; ++p) {
        unsigned digit;
        if (*p >= '0' && *p <= '9') digit = static_cast<unsigned>(*p - '0');
        else if (std::isalpha(static_cast<unsigned char>(*p))) digit = static_cast<unsigned>(std::tolower(*p) - 'a' + 10);
        else break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

std::vector<std::string> SplitNulList(const char* buf, uint32_t length) {
    std::vector<std::string> out;
    uint32_t i = 0;
    while (i < length && buf[i]) {
        std::string s(buf + i);
        i += static_cast<uint32_t>(s.size()) + 1;
        out.push_back(std::move(s));
    }
    return out;
}

#if !defined(_WIN32)
ProfileReader& SystemProfile() {
    static PortableProfile profile;
    return profile;
}
#endif

}  // namespace kit
