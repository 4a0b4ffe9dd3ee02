// Says how Windows runs this program: its pointer width and whether it runs as a 32-bit process on
// a 64-bit system. The end-to-end tests build it with each kit and check that the kit under test
// runs as that kit, not as its twin.
#include <windows.h>

#include <cstdio>

int main() {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
        std::printf("IsWow64Process failed: %lu\n", GetLastError());
        return 1;
    }
    std::printf("pointer bits %u, 32-bit process on a 64-bit system: %s\n",
                static_cast<unsigned>(sizeof(void*) * 8), wow64 ? "yes" : "no");
    return 0;
}
