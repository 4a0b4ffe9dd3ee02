// Win32-only test program: loads QuelmarCamera.dll by name, looks its nine exports up by name and flashes an
// image through them in the updater's order (open, flash type, protection off, erase, sixteen sector
// writes, protection on, sixteen sector reads, compare, reset).
//
//   camlib_flasher <image file> [device index]
//
// Prints one "step=result" line per call. Exit code: 0 after a verified flash; 10 the library did
// not load; 11 an export is missing; 12 the image cannot be read; otherwise the number of the step
// that failed (1 open, 2 protection off, 3 erase, 4 write, 5 protection on, 6 read, 7 compare,
// 8 reset).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "camlib/testing/command_tables.h"

namespace {

using InitFn = int(__cdecl*)(int);
using NoArgFn = int(__cdecl*)();
using FlashTypeFn = int(__cdecl*)(unsigned char*);
using TableFn = int(__cdecl*)(unsigned char);
using DownloadFn = int(__cdecl*)(unsigned char*, unsigned char, unsigned int, int);
using UploadFn = int(__cdecl*)(unsigned char*, unsigned int, unsigned char);

// An export's address as its own type (through the generic function type, which any may become).
template <typename Fn>
Fn As(FARPROC p) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}

struct Library {
    HMODULE module = LoadLibraryA("QuelmarCamera.dll");
    ~Library() {
        if (module) FreeLibrary(module);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: camlib_flasher <image> [device]\n");
        return 12;
    }
    Library lib;
    if (!lib.module) {
        std::printf("load=%lu\n", GetLastError());
        return 10;
    }
    const char* names[9] = {"QuelmarCam_Init",    "QuelmarCam_UnInit", "Download_Sector",
                            "Upload_Sector",      "Get_FlashType",     "SetSF_WProtect_ON",
                            "SetSF_WProtect_OFF", "EraseSF",           "ResetCamera"};
    FARPROC entry[9];
    for (int i = 0; i < 9; ++i) {
        entry[i] = GetProcAddress(lib.module, names[i]);
        if (!entry[i]) {
            std::printf("missing=%s\n", names[i]);
            return 11;
        }
    }
    auto init = As<InitFn>(entry[0]);
    auto download = As<DownloadFn>(entry[2]);
    auto upload = As<UploadFn>(entry[3]);
    auto flashType = As<FlashTypeFn>(entry[4]);
    auto protectOn = As<TableFn>(entry[5]);
    auto protectOff = As<TableFn>(entry[6]);
    auto erase = As<TableFn>(entry[7]);
    auto reset = As<NoArgFn>(entry[8]);

    std::vector<unsigned char> image(65536, 0xFF);
    FILE* f = std::fopen(argv[1], "rb");
    if (!f) return 12;
    const size_t got = std::fread(image.data(), 1, image.size(), f);
    std::fclose(f);

    int r = init(argc > 2 ? std::atoi(argv[2]) : 0);
    std::printf("init=%d\n", r);
    if (r) return 1;
    unsigned char code = 0;
    r = flashType(&code);
    std::printf("flash type=%u (%d)\n", code, r);
    const unsigned char table = camlib::testing::TableFor(code);
    const bool protection = camlib::testing::LiftsProtection(code);
    if (protection) {
        r = protectOff(table);
        std::printf("protect off=%d\n", r);
        if (r) return 2;
    }
    r = erase(table);
    std::printf("erase=%d\n", r);
    if (r) return 3;
    for (unsigned s = 0; s < 16; ++s) {
        r = download(image.data(), table, s, 0);
        if (r) {
            std::printf("write %u=%d\n", s, r);
            return 4;
        }
    }
    std::printf("write=0\n");
    if (protection) {
        r = protectOn(table);
        std::printf("protect on=%d\n", r);
        if (r) return 5;
    }
    std::vector<unsigned char> back(image.size(), 0xFF);
    for (unsigned s = 0; s < 16; ++s) {
        r = upload(back.data(), s, table);
        if (r) {
            std::printf("read %u=%d\n", s, r);
            return 6;
        }
    }
    std::printf("read=0\n");
    const bool same =
        std::equal(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(got), image.begin());
    std::printf("verify=%s\n", same ? "ok" : "different");
    if (!same) return 7;
    r = reset();
    std::printf("reset=%d\n", r);
    return r ? 8 : 0;
}
