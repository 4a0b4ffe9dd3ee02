// Lists the names a Windows program imports delay-loaded from one DLL, as the delay-load helper
// inside the program will bind them: pe_delay_imports <program.exe> <dll name>
//
// The delay-import descriptors are found through the data directory when the linker filled it in;
// GNU ld leaves it empty, so otherwise every 4-byte-aligned place in the sections is tried as a
// descriptor (RVA attributes, the DLL's name, an import name table of by-name entries). Exit code
// 0 with one name a line; 1 when no descriptor of that DLL is found; 2 when the file is no PE image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <strings.h>
#include <vector>

namespace {

struct Section {
    uint32_t rva, size, fileOffset, fileSize;
};

class Image {
public:
    explicit Image(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {}

    bool Parse() {
        if (b_.size() < 0x40 || b_[0] != 'M' || b_[1] != 'Z') return false;
        const uint32_t pe = U32(0x3C).value_or(0);
        if (U32(pe) != 0x00004550u) return false;
        const uint32_t coff = pe + 4;
        const uint16_t sections = U16(coff + 2).value_or(0);
        const uint16_t optionalSize = U16(coff + 16).value_or(0);
        const uint32_t opt = coff + 20;
        const uint16_t magic = U16(opt).value_or(0);
        if (magic != 0x10B && magic != 0x20B) return false;
        wide_ = magic == 0x20B;
        const uint32_t directories = opt + (wide_ ? 112 : 96);
        const uint32_t count = U32(opt + (wide_ ? 108 : 92)).value_or(0);
        if (count > 13) delayDirectory_ = U32(directories + 13 * 8).value_or(0);
        for (uint32_t i = 0, at = opt + optionalSize; i < sections; ++i, at += 40) {
            auto rva = U32(at + 12), size = U32(at + 8), raw = U32(at + 20), rawSize = U32(at + 16);
            if (!rva || !size || !raw || !rawSize) return false;
            sections_.push_back({*rva, *size, *raw, *rawSize});
        }
        return true;
    }

    // Names imported from `dll`; nullopt when no descriptor of it is found.
    std::optional<std::set<std::string>> DelayImports(const std::string& dll) const {
        std::set<std::string> names;
        bool found = false;
        auto take = [&](uint32_t offset) {
            std::set<std::string> these;
            if (Descriptor(offset, dll, these)) {
                found = true;
                names.insert(these.begin(), these.end());
            }
        };
        if (delayDirectory_) {
            if (auto at = Offset(delayDirectory_))
                for (uint32_t d = *at; U32(d + 4).value_or(0) != 0; d += 32) take(d);
        } else {
            for (const Section& s : sections_)
                for (uint32_t at = s.fileOffset; at + 32 <= s.fileOffset + s.fileSize; at += 4) take(at);
        }
        if (!found) return std::nullopt;
        return names;
    }

private:
    std::optional<uint32_t> U32(uint64_t at) const {
        if (at + 4 > b_.size()) return std::nullopt;
        return uint32_t(b_[at]) | uint32_t(b_[at + 1]) << 8 | uint32_t(b_[at + 2]) << 16 | uint32_t(b_[at + 3]) << 24;
    }
    std::optional<uint16_t> U16(uint64_t at) const {
        if (at + 2 > b_.size()) return std::nullopt;
        return uint16_t(b_[at] | b_[at + 1] << 8);
    }
    std::optional<uint64_t> Thunk(uint64_t at) const {
        if (!wide_) {
            auto v = U32(at);
            return v ? std::optional<uint64_t>(*v) : std::nullopt;
        }
        auto lo = U32(at), hi = U32(at + 4);
        if (!lo || !hi) return std::nullopt;
        return uint64_t(*hi) << 32 | *lo;
    }
    std::optional<uint32_t> Offset(uint32_t rva) const {
        for (const Section& s : sections_)
            if (rva >= s.rva && rva - s.rva < std::min(s.size, s.fileSize)) return s.fileOffset + (rva - s.rva);
        return std::nullopt;
    }
    std::optional<std::string> String(uint32_t rva) const {
        auto at = Offset(rva);
        if (!at) return std::nullopt;
        std::string text;
        for (uint64_t i = *at; i < b_.size() && b_[i]; ++i) {
            if (b_[i] < 0x20 || b_[i] > 0x7E || text.size() > 256) return std::nullopt;
            text += static_cast<char>(b_[i]);
        }
        return text;
    }
    // An ImgDelayDescr at `offset`: RVA attributes, the DLL's name, a handle, an IAT and an import
    // name table whose entries are all names.
    bool Descriptor(uint32_t offset, const std::string& dll, std::set<std::string>& names) const {
        if (U32(offset) != 1u) return false;
        auto name = U32(offset + 4), hmod = U32(offset + 8), iat = U32(offset + 12), nt = U32(offset + 16);
        if (!name || !hmod || !iat || !nt || !Offset(*hmod) || !Offset(*iat)) return false;
        auto text = String(*name);
        if (!text || strcasecmp(text->c_str(), dll.c_str()) != 0) return false;
        auto table = Offset(*nt);
        if (!table) return false;
        const uint64_t ordinalFlag = wide_ ? uint64_t(1) << 63 : uint64_t(1) << 31;
        for (uint64_t at = *table;; at += wide_ ? 8 : 4) {
            auto thunk = Thunk(at);
            if (!thunk) return false;
            if (*thunk == 0) break;
            if (*thunk & ordinalFlag) {
                names.insert("#" + std::to_string(*thunk & 0xFFFF));
                continue;
            }
            auto entry = String(static_cast<uint32_t>(*thunk) + 2);  // after the hint
            if (!entry || entry->empty()) return false;
            names.insert(*entry);
        }
        return !names.empty();
    }

    std::vector<uint8_t> b_;
    bool wide_ = false;
    uint32_t delayDirectory_ = 0;
    std::vector<Section> sections_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pe_delay_imports <program.exe> <dll name>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    Image image{std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
    if (!in && !in.eof()) return 2;
    if (!image.Parse()) {
        std::fprintf(stderr, "%s is no PE image\n", argv[1]);
        return 2;
    }
    auto names = image.DelayImports(argv[2]);
    if (!names) return 1;
    for (const std::string& n : *names) std::printf("%s\n", n.c_str());
    return 0;
}
