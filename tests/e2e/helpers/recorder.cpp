// Stand-in child program for the launcher tests. It appends one line to the file named by
// KIT_TEST_RECORD: "<current directory>|<command line>", then, as KIT_TEST_CHILD says, exits with
// a code ("exit=26"), after a pause ("sleep=1500,exit=26"), or never ("forever").
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
    char record[MAX_PATH] = {};
    if (GetEnvironmentVariableA("KIT_TEST_RECORD", record, sizeof record) > 0) {
        char dir[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof dir, dir);
        if (FILE* f = std::fopen(record, "ab")) {
            std::fprintf(f, "%s|%s\n", dir, GetCommandLineA());
            std::fclose(f);
        }
    }
    char how[64] = {};
    GetEnvironmentVariableA("KIT_TEST_CHILD", how, sizeof how);
    int code = 0;
    for (char* item = std::strtok(how, ","); item; item = std::strtok(nullptr, ",")) {
        if (std::strcmp(item, "forever") == 0) {
            for (;;) Sleep(1000);
        }
        if (std::strncmp(item, "sleep=", 6) == 0) Sleep(static_cast<DWORD>(std::atoi(item + 6)));
        if (std::strncmp(item, "exit=", 5) == 0) code = static_cast<int>(std::strtoul(item + 5, nullptr, 0));
    }
    return code;
}
