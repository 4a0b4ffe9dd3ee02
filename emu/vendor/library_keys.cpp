#include "emu/vendor/library_keys.h"

#include <cctype>

#include "emu/image_store.h"
#include "kit/profile.h"
#include "kit/text.h"

namespace emu::vendor {
namespace {

using kit::Lower;
using kit::Trim;

// [bench] as key/value pairs in file order.
std::vector<std::pair<std::string, std::string>> BenchSection(const Bench& bench) {
    std::string path = BenchFilePath(bench.folder, kBenchFile);
    std::vector<char> buf(65536);
    kit::PortableProfile profile;
    uint32_t n = profile.GetSection("bench", buf.data(), static_cast<uint32_t>(buf.size()), path.c_str());
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& line : kit::SplitNulList(buf.data(), n)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            out.emplace_back(Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1)));
    }
    return out;
}

}  // namespace

bool ReadLibraryFaults(const Bench& bench, const char* prefix, const std::vector<EntryName>& entries,
                       FaultTable& out, std::string& error) {
    out = FaultTable{};
    const std::string stem = std::string(prefix) + "_fault";
    for (const auto& [key, value] : BenchSection(bench)) {
        if (key.size() <= stem.size() || key.compare(0, stem.size(), stem) != 0) continue;
        bool numbered = true;
        for (size_t i = stem.size(); i < key.size(); ++i)
            numbered = numbered && std::isdigit(static_cast<unsigned char>(key[i]));
        if (!numbered) continue;
        EntryFault fault;
        std::string why;
        if (!ParseEntryFault(value, entries, fault, why)) {
            error = "[bench] " + key + "=" + value + ": " + why;
            return false;
        }
        if (!fault.camera.empty()) {
            bool found = false;
            for (const CameraRecord& cam : bench.cameras) found = found || cam.name == fault.camera;
            if (!found) {
                error = "[bench] " + key + "=" + value + ": no camera \"" + fault.camera + "\" on the bench";
                return false;
            }
        }
        out.Add(std::move(fault));
    }
    return true;
}

bool ReadMissingEntries(const Bench& bench, const char* prefix, const std::vector<EntryName>& entries,
                        std::vector<std::string>& out, std::string& error) {
    out.clear();
    const std::string key = std::string(prefix) + "_missing";
    for (const auto& [k, value] : BenchSection(bench)) {
        if (k != key) continue;
        size_t start = 0;
        while (start <= value.size()) {
            size_t comma = value.find(',', start);
            if (comma == std::string::npos) comma = value.size();
            std::string name = Trim(value.substr(start, comma - start));
            start = comma + 1;
            if (name.empty()) continue;
            bool known = false;
            // Only real exports can be hidden; the narrower fault names (ReqToDriver.read) cannot.
            for (const EntryName& e : entries)
                known = known || (name == e.name && name.find('.') == std::string::npos);
            if (!known) {
                error = "[bench] " + key + ": \"" + name + "\" is not an export of the library";
                return false;
            }
            out.push_back(name);
        }
        break;  // the first of duplicate keys wins, as everywhere in the bench file
    }
    return true;
}

}  // namespace emu::vendor
