// Firmware files as the updater loads them, for every chip family, including a file that shrinks
// between the size query and the read; then the write tool's revision read on the loaded image.
#include <algorithm>

#include "firmware_file.h"
#include "fuzz_support.h"
#include "settings.h"

namespace {

class OneFile final : public kit::FileSystemPort {
public:
    OneFile(std::string bytes, uint64_t reported) : bytes_(std::move(bytes)), reported_(reported) {}

    class Reader final : public kit::ReadableFile {
    public:
        Reader(const std::string& bytes, uint64_t reported) : bytes_(bytes), reported_(reported) {}
        uint64_t Length() override { return reported_; }
        uint32_t Read(void* out, uint32_t size) override {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, bytes_.size() - at_));
            std::copy_n(bytes_.data() + at_, n, static_cast<char*>(out));
            at_ += n;
            return n;
        }

    private:
        const std::string& bytes_;
        uint64_t reported_;
        size_t at_ = 0;
    };

    bool FileExists(const char*) override { return true; }
    std::vector<std::string> Matches(const char*) override { return {"fw.bin"}; }
    bool Status(const char*, uint64_t& size) override {
        size = reported_;
        return true;
    }
    std::unique_ptr<kit::ReadableFile> OpenRead(const char*) override { return std::make_unique<Reader>(bytes_, reported_); }
    std::unique_ptr<kit::WritableFile> OpenAppend(const char*) override { return nullptr; }
    std::unique_ptr<kit::WritableFile> Create(const char*) override { return nullptr; }
    bool Delete(const char*) override { return false; }
    std::string TempFolder(uint32_t) override { return {}; }

private:
    std::string bytes_;
    uint64_t reported_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool shrinks = in.ConsumeBool();
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    // A file that shrank after it was measured reports more than it holds (never more than a few
    // bytes more: the length itself comes from the file system, not from the file's contents).
    OneFile files(bytes, bytes.size() + (shrinks ? 3 : 0));
    fuzz::NullTrace trace;
    for (tessaw::ChipFamily family : {tessaw::ChipFamily::Sonix, tessaw::ChipFamily::Quelmar,
                                      tessaw::ChipFamily::Realtek, tessaw::ChipFamily::None}) {
        tessaw::FirmwareImage image;
        const tessaw::FirmwareLoad load =
            tessaw::SelectAndLoadFirmware(files, trace, "C:\\kit", family == tessaw::ChipFamily::None ? "" : "fw.bin",
                                          family, image);
        if (!load.ok) continue;
        if (family == tessaw::ChipFamily::Quelmar) {
            if (image.quelmar.size() != tessaw::kQuelmarImageSize || image.quelmarBytesRead > image.quelmar.size())
                __builtin_trap();
            for (char f : {'f', 'g', 'h', 'i', 'j', 'k', 'l', 'd'})
                orlinde::ImageRevision(image.quelmar.data(), image.quelmarBytesRead, f);
        }
        if (family == tessaw::ChipFamily::Sonix && image.sonix.size() != image.length) __builtin_trap();
    }
    return 0;
}
