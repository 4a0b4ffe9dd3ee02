// Win32-only: drives the two vendor-library stand-ins the way the kit's programs do and prints
// what they answer, one line per fact.
//
//   vendor_probe <RvcLib.dll path> <BurnerApLib.dll path> <command>...
//     exports                    every export name of both libraries: found or missing
//     rvc-enum                   RvcLib_Initialize, UVC_Open 0, 1, ... with VID/PID/REV, UVC_Close
//     rvc-info <index>           EEPROMInfo2 and EEPROMInfo, preset 3 and 65536
//     rvc-write <index> <file>   EEPROMInfo2, then EEPROMWrite3 of the file padded with 0xFF to the
//                                memory size, printing every progress callback
//     sonix <file>               the download sequence of BurnerApLib.dll with the file as image,
//                                watching GetProgress from this thread while another one writes
//     import                     Initialize_DriverInterface through the import library
//
// RvcLib.dll is loaded by full path and used only through GetProcAddress, with the callers'
// defaults for missing names. BurnerApLib.dll is imported by name (so it must sit beside this
// program) and also loaded by the path given, which must be that same file.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vendor/BurnerApLib.h"
#include "vendor/RvcLib.h"

namespace {

const char* const kRvcNames[] = {"RvcLib_Initialize",
                                 "RvcLib_UnInitialize",
                                 "UVC_Open",
                                 "UVC_Close",
                                 "UVC_GetDevVIDPID",
                                 "UVC_GetDevVIDPIDRev",
                                 "EEPROMInfo",
                                 "EEPROMInfo2",
                                 "EEPROMWrite3",
                                 "ReadSensorRegister8",
                                 "WriteSensorRegister8",
                                 "ReadSensorRegister16",
                                 "WriteSensorRegister16",
                                 "EEPROMWrite",
                                 "EEPROMRead",
                                 "EEPROMErase",
                                 "UVC_ResetToRom",
                                 "UVC_ResetToDLFW"};
const char* const kBurnerNames[] = {"Initialize_DriverInterface",
                                    "GetDeviceList",
                                    "GetRomVersion",
                                    "GetSectorTableAddr",
                                    "ProcReadFromASIC",
                                    "ReqToDriver",
                                    "SetWriteProtect",
                                    "EraseSF",
                                    "GetProgress",
                                    "ResetDevice"};

HMODULE g_rvc = nullptr;
HMODULE g_burner = nullptr;
DWORD g_callerThread = 0;
bool g_callbackElsewhere = false;

template <class T>
T Entry(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool ReadFile(const char* path, std::vector<uint8_t>& out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

void RVCLIB_CALL Progress(uint32_t done, uint32_t total) {
    if (GetCurrentThreadId() != g_callerThread) g_callbackElsewhere = true;
    std::printf("progress %u/%u\n", done, total);
}

void Exports() {
    for (const char* name : kRvcNames)
        std::printf("RvcLib %s %s\n", name, GetProcAddress(g_rvc, name) ? "found" : "missing");
    for (const char* name : kBurnerNames)
        std::printf("BurnerApLib %s %s\n", name, GetProcAddress(g_burner, name) ? "found" : "missing");
}

void RvcEnumerate() {
    auto init = Entry<PFN_RvcLib_Initialize>(g_rvc, "RvcLib_Initialize");
    auto uninit = Entry<PFN_RvcLib_UnInitialize>(g_rvc, "RvcLib_UnInitialize");
    auto open = Entry<PFN_UVC_Open>(g_rvc, "UVC_Open");
    auto close = Entry<PFN_UVC_Close>(g_rvc, "UVC_Close");
    auto identify = Entry<PFN_UVC_GetDevVIDPIDRev>(g_rvc, "UVC_GetDevVIDPIDRev");
    if (init) init(0, 1);
    for (int32_t index = 0; open; ++index) {
        RvcHandle handle = open(index);
        if (!handle) break;
        uint16_t vid = 0, pid = 0, rev = 0;
        int32_t r = identify ? identify(handle, &vid, &pid, &rev) : 0;
        std::printf("device %d: %d vid=%04X pid=%04X rev=%04X\n", index, r, vid, pid, rev);
        if (close) close(handle);
    }
    std::printf("enumeration ends\n");
    if (uninit) uninit(1);
}

void RvcInfo(int32_t index) {
    for (const char* name : {"EEPROMInfo2", "EEPROMInfo"}) {
        auto info = Entry<PFN_EEPROMInfo2>(g_rvc, name);
        int32_t type = 3, size = 65536;
        int32_t r = info ? info(index, &type, &size) : -1;
        std::printf("%s(%d)=%d type=%d size=%d\n", name, index, r, type, size);
    }
}

void RvcWrite(int32_t index, const char* path) {
    auto info = Entry<PFN_EEPROMInfo2>(g_rvc, "EEPROMInfo2");
    auto write = Entry<PFN_EEPROMWrite3>(g_rvc, "EEPROMWrite3");
    int32_t type = 3, size = 65536;
    int32_t r = info ? info(index, &type, &size) : -1;
    if (r != 0) {
        std::printf("EEPROMInfo2=%d\n", r);
        return;
    }
    std::vector<uint8_t> file;
    if (!ReadFile(path, file)) {
        std::printf("cannot read %s\n", path);
        return;
    }
    std::vector<uint8_t> image(static_cast<size_t>(size), 0xFF);
    std::memcpy(image.data(), file.data(), std::min(file.size(), image.size()));
    g_callerThread = GetCurrentThreadId();
    g_callbackElsewhere = false;
    r = write ? write(type, index, size, image.data(), Progress) : -1;
    std::printf("EEPROMWrite3=%d\n", r);
    std::printf("callbacks on %s thread\n", g_callbackElsewhere ? "another" : "the caller's");
}

void Sonix(const char* path) {
    auto init = Entry<int32_t(BURNERAP_CALL*)(void)>(g_burner, "Initialize_DriverInterface");
    auto list = Entry<decltype(&GetDeviceList)>(g_burner, "GetDeviceList");
    auto rom = Entry<decltype(&GetRomVersion)>(g_burner, "GetRomVersion");
    auto table = Entry<decltype(&GetSectorTableAddr)>(g_burner, "GetSectorTableAddr");
    auto asic = Entry<decltype(&ProcReadFromASIC)>(g_burner, "ProcReadFromASIC");
    auto request = Entry<decltype(&ReqToDriver)>(g_burner, "ReqToDriver");
    auto protect = Entry<decltype(&SetWriteProtect)>(g_burner, "SetWriteProtect");
    auto erase = Entry<decltype(&EraseSF)>(g_burner, "EraseSF");
    auto progress = Entry<decltype(&GetProgress)>(g_burner, "GetProgress");
    auto reset = Entry<decltype(&ResetDevice)>(g_burner, "ResetDevice");
    if (!init || !list || !rom || !table || !asic || !request || !protect || !erase || !progress || !reset) {
        std::printf("an entry point is missing\n");
        return;
    }
    std::printf("init=%d\n", init());
    static wchar_t paths[BURNERAP_MAX_DEVICES][BURNERAP_PATH_CHARS];
    std::memset(paths, 0, sizeof paths);
    int32_t count = 0;
    bool listed = list(paths, BURNERAP_MAX_DEVICES, BURNERAP_PATH_CHARS, &count);
    std::printf("list=%d count=%d\n", listed, count);
    for (int32_t i = 0; i < count; ++i) {
        std::string narrow;
        for (const wchar_t* c = paths[i]; *c; ++c) narrow += static_cast<char>(*c);
        std::printf("path %d: %s\n", i, narrow.c_str());
    }
    char version[8];
    std::memset(version, 0x77, sizeof version);
    bool ok = rom(version);
    std::printf("rom=%d", ok);
    for (char c : version) std::printf(" %02X", static_cast<unsigned char>(c));
    std::printf("\n");
    uint16_t address = 0;
    ok = table(&address);
    uint8_t chip[24] = {};
    bool read = asic(static_cast<uint16_t>(address + 8), chip);
    std::printf("table=%d 0x%04X asic=%d %02X\n", ok, address, read, chip[0]);
    uint8_t protectByte = 0;
    ok = request(BURNERAP_REQ_READ, 0xC034, &protectByte, 1);
    std::printf("protect byte=%d %02X\n", ok, protectByte);
    uint16_t word = 0xFFFF;
    std::printf("unprotect=%d", protect(false, word, protectByte));
    std::printf(" word=0x%04X\n", word);
    std::printf("erase=%d\n", erase());

    std::vector<uint8_t> image(65536, 0xFF);
    std::vector<uint8_t> file;
    if (!ReadFile(path, file)) {
        std::printf("cannot read %s\n", path);
        return;
    }
    std::memcpy(image.data(), file.data(), std::min(file.size(), image.size()));
    std::atomic<bool> done{false};
    bool written = false;
    std::thread writer([&] {
        written = request(BURNERAP_REQ_WRITE, 0, image.data(), 65536);
        done = true;
    });
    uint32_t last = 0, between = 0;
    bool rising = true;
    while (!done) {
        uint32_t p = progress();
        if (p < last) rising = false;
        if (p > 0 && p < 100) ++between;
        last = p;
        Sleep(1);
    }
    writer.join();
    std::printf("write=%d progress rising=%d seen between=%s final=%u\n", written, rising,
                between ? "yes" : "no", progress());
    std::printf("protect=%d\n", protect(true, word, protectByte));
    std::vector<uint8_t> back(65536, 0xFF);
    bool all = true;
    for (uint32_t at = 0; at < 65536; at += 8192)
        all = all && request(BURNERAP_REQ_READ, at, back.data() + at, 8192);
    std::printf("read back=%d %s\n", all, back == image ? "same" : "different");
    std::printf("reset=%d\n", reset());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vendor_probe <RvcLib.dll> <BurnerApLib.dll> <command>...\n");
        return 2;
    }
    g_rvc = LoadLibraryA(argv[1]);
    g_burner = LoadLibraryA(argv[2]);
    std::printf("RvcLib.dll %s\n", g_rvc ? "loaded" : "not loaded");
    std::printf("BurnerApLib.dll %s\n", g_burner == GetModuleHandleA("BurnerApLib.dll")
                                            ? "is the imported one"
                                            : "is another module");
    if (!g_rvc || !g_burner) return 1;
    for (int i = 3; i < argc; ++i) {
        std::string command = argv[i];
        if (command == "exports") {
            Exports();
        } else if (command == "rvc-enum") {
            RvcEnumerate();
        } else if (command == "rvc-info" && i + 1 < argc) {
            RvcInfo(std::atoi(argv[++i]));
        } else if (command == "rvc-write" && i + 2 < argc) {
            int32_t index = std::atoi(argv[++i]);
            RvcWrite(index, argv[++i]);
        } else if (command == "sonix" && i + 1 < argc) {
            Sonix(argv[++i]);
        } else if (command == "import") {
            std::printf("import init=%d\n", Initialize_DriverInterface());
        } else {
            std::fprintf(stderr, "unknown command %s\n", command.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
