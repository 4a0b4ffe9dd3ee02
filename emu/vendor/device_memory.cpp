#include "emu/vendor/device_memory.h"

#include <cctype>
#include <charconv>

#include "emu/image_store.h"

namespace emu::vendor {
namespace {

constexpr uint32_t kMaxMemory = 16u << 20;

uint16_t Le16(const std::vector<uint8_t>& m, size_t at) {
    return static_cast<uint16_t>(m[at] | (m[at + 1] << 8));
}

}  // namespace

Identity IdentityOf(const CameraRecord& record, const std::vector<uint8_t>& memory) {
    Identity id{record.vid, record.pid, record.rev, false};
    if (memory.size() >= kIdentityOffset + kIdentityBytes) {
        uint16_t rev = Le16(memory, kIdentityOffset + 4);
        if (rev != 0xFFFF) {
            id.rev = rev;
            id.revFromMemory = true;
        }
    }
    return id;
}

bool PutIdentityBlock(std::vector<uint8_t>& image, uint16_t vid, uint16_t pid, uint16_t rev) {
    if (image.size() < kIdentityOffset + kIdentityBytes) return false;
    size_t at = kIdentityOffset;
    for (uint16_t word : {vid, pid, rev}) {
        image[at++] = static_cast<uint8_t>(word);
        image[at++] = static_cast<uint8_t>(word >> 8);
    }
    return true;
}

bool ParseBenchNumber(const std::string& text, uint32_t& out) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    int base = 10;
    if (e - b > 2 && text[b] == '0' && (text[b + 1] == 'x' || text[b + 1] == 'X')) b += 2, base = 16;
    if (b == e) return false;
    auto [ptr, ec] = std::from_chars(text.data() + b, text.data() + e, out, base);
    return ec == std::errc{} && ptr == text.data() + e;
}

bool NumberKey(const CameraRecord& record, const char* key, uint32_t fallback, uint32_t limit, uint32_t& out,
               std::string& error) {
    std::string text = record.Get(key);
    if (text.empty()) {
        out = fallback;
        return true;
    }
    if (!ParseBenchNumber(text, out) || out > limit) {
        error = "camera \"" + record.name + "\": " + key + " must be a number up to " +
                std::to_string(limit) + ", not \"" + text + "\"";
        return false;
    }
    return true;
}

bool MemoryFileOf(const Bench& bench, const CameraRecord& record, MemoryFile& out, std::string& error) {
    bool realtek = record.chip == "realtek";
    if (!realtek && record.chip != "sonix") {
        error = "camera \"" + record.name + "\" is not a Realtek or Sonix camera";
        return false;
    }
    const char* fileKey = realtek ? "eeprom_image" : "flash_image";
    const char* sizeKey = realtek ? "eeprom_size" : "flash_size";
    std::string name = record.Get(fileKey);
    if (name.empty()) name = record.name + (realtek ? ".eeprom" : ".flash");
    out.path = BenchFilePath(bench.folder, name);
    if (!NumberKey(record, sizeKey, 65536, kMaxMemory, out.size, error)) return false;
    if (out.size == 0) {
        error = "camera \"" + record.name + "\": " + sizeKey + " must not be 0";
        return false;
    }
    return true;
}

bool LoadMemory(const MemoryFile& file, std::vector<uint8_t>& out, std::string& error) {
    if (!LoadImage(file.path, out, error, file.size, 0xFF)) return false;
    out.resize(file.size, 0xFF);
    return true;
}

bool CurrentIdentity(const Bench& bench, const CameraRecord& record, Identity& out, std::string& error) {
    MemoryFile file;
    std::vector<uint8_t> memory;
    if (!MemoryFileOf(bench, record, file, error) || !LoadMemory(file, memory, error)) return false;
    out = IdentityOf(record, memory);
    return true;
}

}  // namespace emu::vendor
