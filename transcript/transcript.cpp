#include "transcript/transcript.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace transcript {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

const char* DirName(Direction d) {
    switch (d) {
        case Direction::Set: return "set";
        case Direction::Get: return "get";
        case Direction::Length: return "len";
        case Direction::Reply: return "reply";
    }
    return "?";
}

void AppendHex(std::string& out, const uint8_t* data, size_t n) {
    if (n == 0) {
        out += '-';
        return;
    }
    const size_t at = out.size();
    out.resize(at + 2 * n);
    for (size_t i = 0; i < n; ++i) {
        out[at + 2 * i] = kDigits[data[i] >> 4];
        out[at + 2 * i + 1] = kDigits[data[i] & 15];
    }
}

void AppendDecimal(std::string& out, uint64_t v) {
    char buf[20];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) out += buf[--n];
}

// 0x and at least `digits` upper-case hexadecimal digits.
void AppendHexNumber(std::string& out, uint64_t v, int digits) {
    char buf[16];
    int n = 0;
    do {
        buf[n++] = kDigits[v & 15];
        v >>= 4;
    } while (v || n < digits);
    out += "0x";
    while (n) out += buf[--n];
}

void AppendCarrier(std::string& out, const Request& r) {
    out += r.carrier == Carrier::Ks ? "ks:" : "private:";
    AppendDecimal(out, r.address);
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool Unsigned(std::string_view text, uint64_t high, uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    std::string s(text);
    char* end = nullptr;
    const int base = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') ? 16 : 10;
    if (!std::isxdigit(static_cast<unsigned char>(s[base == 16 ? 2 : 0]))) return false;
    out = std::strtoull(s.c_str(), &end, base);
    return end && *end == '\0' && out <= high;
}

// key=value with the key expected at this place.
bool Value(std::string_view field, const char* key, std::string_view& value) {
    const std::string_view k(key);
    if (field.size() <= k.size() || field.substr(0, k.size()) != k || field[k.size()] != '=') return false;
    value = field.substr(k.size() + 1);
    return true;
}

std::string_view TrimLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

}  // namespace

std::string Hex(const uint8_t* data, size_t n) {
    std::string out;
    AppendHex(out, data, n);
    return out;
}

bool ParseHex(std::string_view text, std::vector<uint8_t>& out) {
    out.clear();
    if (text == "-") return true;
    if (text.empty() || text.size() % 2) return false;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int v = 0;
        for (size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

void AppendRequest(std::string& out, const Request& r) {
    AppendDecimal(out, r.seq);
    out += ' ';
    AppendCarrier(out, r);
    out += " set=";
    out += r.set;
    out += " sel=";
    AppendHexNumber(out, r.selector, 2);
    out += " reg=";
    if (r.reg < 0)
        out += '-';
    else
        AppendHexNumber(out, static_cast<uint64_t>(r.reg), 4);
    out += " dir=";
    out += DirName(r.dir);
    out += " len=";
    AppendDecimal(out, r.length);
    out += " sent=";
    AppendHex(out, r.sent.data(), r.sent.size());
    out += " recv=";
    if (r.hasReceived && !r.received.empty())
        AppendHex(out, r.received.data(), r.received.size());
    else
        out += '-';
    out += " ret=";
    AppendDecimal(out, r.returned);
    out += " hr=";
    AppendHexNumber(out, static_cast<uint32_t>(r.result), 8);
    out += " t=";
    AppendDecimal(out, r.timeUs);
}

std::string FormatRequest(const Request& r) {
    std::string out;
    AppendRequest(out, r);
    return out;
}

bool ParseRequest(std::string_view line, Request& out, std::string& error) {
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() != 12) {
        error = "a request line has 12 fields, this one " + std::to_string(f.size());
        return false;
    }
    Request r;
    uint64_t v = 0;
    std::string_view value;
    if (!Unsigned(f[0], UINT64_MAX, r.seq) || r.seq == 0) {
        error = "sequence number \"" + std::string(f[0]) + "\" is not a number from 1";
        return false;
    }
    const size_t colon = f[1].find(':');
    const std::string_view kind = f[1].substr(0, colon);
    if (colon == std::string_view::npos || (kind != "ks" && kind != "private") ||
        !Unsigned(f[1].substr(colon + 1), UINT32_MAX, v)) {
        error = "carrier \"" + std::string(f[1]) + "\" is not ks:<node> or private:<property>";
        return false;
    }
    r.carrier = kind == "ks" ? Carrier::Ks : Carrier::Private;
    r.address = static_cast<uint32_t>(v);
    if (!Value(f[2], "set", value) || value.empty()) {
        error = "expected set=<name> in field 3";
        return false;
    }
    r.set = std::string(value);
    if (!Value(f[3], "sel", value) || !Unsigned(value, UINT32_MAX, v)) {
        error = "expected sel=<selector> in field 4";
        return false;
    }
    r.selector = static_cast<uint32_t>(v);
    if (!Value(f[4], "reg", value) || (value != "-" && !Unsigned(value, 0xFFFF, v))) {
        error = "expected reg=<register> or reg=- in field 5";
        return false;
    }
    r.reg = value == "-" ? -1 : static_cast<int32_t>(v);
    if (!Value(f[5], "dir", value)) {
        error = "expected dir=<direction> in field 6";
        return false;
    }
    if (value == "set")
        r.dir = Direction::Set;
    else if (value == "get")
        r.dir = Direction::Get;
    else if (value == "len")
        r.dir = Direction::Length;
    else if (value == "reply")
        r.dir = Direction::Reply;
    else {
        error = "direction \"" + std::string(value) + "\" is not set, get, len or reply";
        return false;
    }
    if (!Value(f[6], "len", value) || !Unsigned(value, UINT32_MAX, v)) {
        error = "expected len=<bytes> in field 7";
        return false;
    }
    r.length = static_cast<uint32_t>(v);
    if (!Value(f[7], "sent", value) || !ParseHex(value, r.sent)) {
        error = "expected sent=<hex> or sent=- in field 8";
        return false;
    }
    if (!Value(f[8], "recv", value) || !ParseHex(value, r.received)) {
        error = "expected recv=<hex> or recv=- in field 9";
        return false;
    }
    r.hasReceived = value != "-";
    if (!Value(f[9], "ret", value) || !Unsigned(value, UINT32_MAX, v)) {
        error = "expected ret=<count> in field 10";
        return false;
    }
    r.returned = static_cast<uint32_t>(v);
    if (!Value(f[10], "hr", value) || !Unsigned(value, UINT32_MAX, v)) {
        error = "expected hr=0x<result> in field 11";
        return false;
    }
    r.result = static_cast<int32_t>(static_cast<uint32_t>(v));
    if (!Value(f[11], "t", value) || !Unsigned(value, UINT64_MAX, r.timeUs)) {
        error = "expected t=<microseconds> in field 12";
        return false;
    }
    out = std::move(r);
    return true;
}

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The wire values the transcript names, as the camera's carriers use them: the format is read by
// the bench and by benchtool, which do not link the camera-access library (a unit test holds these
// against the library's own). The property sets lie as in memory, first three groups little-endian.
using Guid = std::array<uint8_t, 16>;
// {63610682-5070-49AB-B8CC-B3855E8D221D}
constexpr Guid kFirstSet = {0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xAB, 0x49,
                            0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D};
// {7D5A1D99-5B32-428B-8CAD-671B8A65F37A}
constexpr Guid kSecondSet = {0x99, 0x1D, 0x5A, 0x7D, 0x32, 0x5B, 0x8B, 0x42,
                             0x8C, 0xAD, 0x67, 0x1B, 0x8A, 0x65, 0xF3, 0x7A};
constexpr uint8_t kPrivateWrite = 0x01;   // a private request record's code: SET_CUR
constexpr uint8_t kPrivateLength = 0x85;  // GET_LEN
constexpr uint32_t kMaxControlBytes = 4096;  // the most data a request or a reply carries

std::string SetName(const uint8_t* property, uint32_t length) {
    if (!property || length < 16) return "-";
    Guid g{};
    std::memcpy(g.data(), property, 16);
    if (g == kFirstSet) return "first";
    if (g == kSecondSet) return "second";
    char text[40];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

constexpr uint32_t kKsSetFlag = 2;  // KSPROPERTY_TYPE_SET

}  // namespace

namespace {

void Reset(Request& r, Carrier carrier, uint32_t address) {
    r.seq = 0;
    r.carrier = carrier;
    r.address = address;
    r.set.assign(1, '-');  // not = "-": gcc 12 warns wrongly (-Wrestrict) about that assignment
    r.selector = 0;
    r.reg = -1;
    r.dir = Direction::Get;
    r.length = 0;
    r.sent.clear();
    r.hasReceived = false;
    r.received.clear();
    r.returned = 0;
    r.result = 0;
    r.timeUs = 0;
}

}  // namespace

void AskedKs(Request& r, const uint8_t* property, uint32_t propertyLength, const uint8_t* data, uint32_t dataLength) {
    Reset(r, Carrier::Ks, 0);
    r.set = SetName(property, propertyLength);
    uint32_t flags = 0;
    if (property && propertyLength >= 24) {
        r.selector = Le32(property + 16);
        flags = Le32(property + 20);
    }
    if (property && propertyLength >= 28) r.address = Le32(property + 24);
    r.length = dataLength;
    if (flags & kKsSetFlag) {
        r.dir = Direction::Set;
        if (data) r.sent.assign(data, data + dataLength);
    } else {
        r.dir = !data || dataLength == 0 ? Direction::Length : Direction::Get;
    }
}

Request AskedKs(const uint8_t* property, uint32_t propertyLength, const uint8_t* data, uint32_t dataLength) {
    Request r;
    AskedKs(r, property, propertyLength, data, dataLength);
    return r;
}

void AskedPrivate(Request& r, uint32_t id, const uint8_t* buffer) {
    Reset(r, Carrier::Private, id);
    if (!buffer) return;
    r.length = static_cast<uint32_t>(buffer[0] | buffer[1] << 8);
    r.selector = buffer[3];
    if (buffer[2] == kPrivateWrite) {
        r.dir = Direction::Set;
        r.sent.assign(buffer + 4, buffer + 4 + std::min(r.length, kMaxControlBytes));
    } else {
        r.dir = buffer[2] == kPrivateLength ? Direction::Length : Direction::Get;
    }
}

Request AskedPrivate(uint32_t id, const uint8_t* buffer) {
    Request r;
    AskedPrivate(r, id, buffer);
    return r;
}

Request AskedReply(uint32_t id, const Request& request) {
    Request r;
    r.carrier = Carrier::Private;
    r.address = id;
    r.dir = Direction::Reply;
    r.selector = request.selector;
    r.length = request.dir == Direction::Set ? 0 : std::min(request.length, kMaxControlBytes);
    return r;
}

void Answered(Request& r, int32_t result, const uint8_t* data, uint32_t returned) {
    r.result = result;
    r.returned = returned;
    if ((r.dir == Direction::Get || r.dir == Direction::Reply) && data && result >= 0) {
        r.hasReceived = true;
        r.received.assign(data, data + r.length);
    }
}

std::string DescribeAsked(const Request& r) {
    std::string out;
    AppendCarrier(out, r);
    out += " set=" + r.set;
    out += " sel=";
    AppendHexNumber(out, r.selector, 2);
    out += " dir=";
    out += DirName(r.dir);
    out += " len=";
    AppendDecimal(out, r.length);
    out += " sent=";
    AppendHex(out, r.sent.data(), r.sent.size());
    return out;
}

bool SameAsked(const Request& a, const Request& b) {
    return a.carrier == b.carrier && a.address == b.address && a.set == b.set && a.selector == b.selector &&
           a.dir == b.dir && a.length == b.length && a.sent == b.sent;
}

std::string FormatNote(const std::string& key, const std::string& value) { return "# " + key + ": " + value; }

std::string FormatEnd(uint64_t requests) { return "# end: " + std::to_string(requests) + " requests"; }

std::string Transcript::Info(const std::string& key, const std::string& fallback) const {
    if (auto it = header.find(key); it != header.end()) return it->second;
    for (const Note& n : notes)
        if (n.key == key) return n.value;
    return fallback;
}

bool ParseTranscript(std::string_view text, Transcript& out, std::string& error) {
    out = Transcript{};
    size_t lineNo = 0;
    size_t at = 0;
    bool sawMagic = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = TrimLine(text.substr(at, end - at));
        at = end + 1;
        ++lineNo;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (!sawMagic) {
            if (line != kMagic) {
                error = where + "not a transcript (it starts with \"" + kMagic + "\")";
                return false;
            }
            sawMagic = true;
            continue;
        }
        if (line.empty()) continue;
        if (out.complete) {
            error = where + "text after the end line";
            return false;
        }
        if (line[0] == '#') {
            const size_t colon = line.find(':');
            if (colon == std::string_view::npos || line.size() < 3 || line[1] != ' ') continue;  // a comment
            std::string key(line.substr(2, colon - 2));
            std::string value(line.substr(colon + 1));
            if (!value.empty() && value[0] == ' ') value.erase(0, 1);
            if (key == "end") {
                const std::string expected = std::to_string(out.requests.size()) + " requests";
                if (value != expected) {
                    error = where + "the end line says \"" + value + "\" but the transcript holds " + expected;
                    return false;
                }
                out.complete = true;
            } else if (key != "fields") {
                if (out.requests.empty() && !out.header.count(key)) out.header[key] = value;
                out.notes.push_back({out.requests.size(), key, value});
            }
            continue;
        }
        Request r;
        std::string why;
        if (!ParseRequest(line, r, why)) {
            error = where + why;
            return false;
        }
        if (r.seq != out.requests.size() + 1) {
            error = where + "sequence number " + std::to_string(r.seq) + " where " +
                    std::to_string(out.requests.size() + 1) + " was due";
            return false;
        }
        out.requests.push_back(std::move(r));
    }
    if (!sawMagic) {
        error = std::string("empty file: a transcript starts with \"") + kMagic + "\"";
        return false;
    }
    return true;
}

}  // namespace transcript
