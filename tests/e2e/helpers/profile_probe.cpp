// Answers private-profile queries through the real Win32 calls: profile_probe <file> <query>...
// One answer line per query on standard output.
#include <cstdio>

#include "../profile_queries.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    for (int i = 2; i < argc; ++i)
        std::fputs((e2e::AnswerQuery(kit::SystemProfile(), argv[1], argv[i]) + "\n").c_str(), stdout);
    return 0;
}
