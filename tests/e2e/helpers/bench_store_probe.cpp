// Writes a bench image over and over while another thread reads it, as the library does while the
// updater's plug watch or another program lists the bench: every write must land and no read may
// see a half-written image.
//   bench_store_probe <folder> <writes>
// Prints "saved <n> of <writes>, read <r>, unreadable <u>, torn <t>"; exit 0 when every write
// landed and no read was torn, 1 otherwise (the first failure is printed on stderr), 2 for usage.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "emu/image_store.h"

namespace {
constexpr size_t kImageBytes = 131072;
}

int main(int argc, char** argv) {
    const int writes = argc == 3 ? std::atoi(argv[2]) : 0;
    if (writes <= 0) {
        std::fprintf(stderr, "usage: bench_store_probe <folder> <writes>\n");
        return 2;
    }
    const std::string path = emu::BenchFilePath(argv[1], "cam0.flash");
    std::string error;
    if (!emu::SaveImage(path, std::vector<uint8_t>(kImageBytes, 0), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::atomic<bool> done{false};
    int reads = 0, unreadable = 0, torn = 0;
    std::thread reader([&] {
        std::vector<uint8_t> image;
        std::string why;
        while (!done) {
            if (!emu::LoadImage(path, image, why)) {
                if (unreadable++ == 0) std::fprintf(stderr, "%s\n", why.c_str());
                continue;
            }
            ++reads;
            // Every write is one byte value throughout: anything else is two writes mixed.
            if (image.size() != kImageBytes ||
                std::any_of(image.begin(), image.end(), [&](uint8_t b) { return b != image[0]; }))
                ++torn;
        }
    });
    int saved = 0;
    std::string firstError;
    for (int i = 1; i <= writes; ++i) {
        if (emu::SaveImage(path, std::vector<uint8_t>(kImageBytes, static_cast<uint8_t>(i)), error))
            ++saved;
        else if (firstError.empty())
            firstError = error;
    }
    done = true;
    reader.join();
    std::printf("saved %d of %d, read %d, unreadable %d, torn %d\n", saved, writes, reads, unreadable, torn);
    if (!firstError.empty()) std::fprintf(stderr, "%s\n", firstError.c_str());
    return saved == writes && torn == 0 ? 0 : 1;
}
