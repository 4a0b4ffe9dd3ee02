// One case of a matrix in a child process with a time bound: a crash shows as a crash and a hang
// as a hang, and nothing a case leaves in the process (a library's statics, an installed
// platform) reaches the next one.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace fm {

struct Child {
    pid_t pid = -1;
    int pipe = -1;
    std::string out;
    std::chrono::steady_clock::time_point deadline;
    std::string stderrFile;
};

enum class End { Result, Crash, Hang };

// How a child ended: with what it wrote (Result), or not (Crash, Hang: `why` says how).
struct ChildEnd {
    End end = End::Crash;
    std::string out;
    std::string why;  // crash: signal or exit status and the sanitizer's summary
};

// Runs `work` in a child; what it returns is the child's result. Its standard output and error go
// to `stderrFile`, which is removed when the child ends normally.
Child StartChild(const std::function<std::string()>& work, int boundSeconds, const std::string& stderrFile);
// Reads what the child wrote; true when it has ended (or was ended at its deadline).
bool PollChild(Child& c, ChildEnd& e);
// Starts and waits.
ChildEnd RunChild(const std::function<std::string()>& work, int boundSeconds, const std::string& stderrFile);

// Runs `work` in children, `jobs` at a time, and returns their ends in the order of `work`.
// `inOrder`, when given, sees each end as soon as it and every one before it are in.
std::vector<ChildEnd> RunAll(const std::vector<std::function<std::string()>>& work, int jobs, int boundSeconds,
                             const std::string& scratch, const std::string& kind,
                             const std::function<void(size_t, const ChildEnd&)>& inOrder = {});

// Line ends and tabs as blanks, runs of blanks as one, no trailing blank: how outcomes travel.
std::string OneLine(std::string s);
// The text contains one of `texts` (both taken as OneLine makes them).
bool HasAny(const std::string& text, const std::vector<std::string>& texts);

}  // namespace fm
