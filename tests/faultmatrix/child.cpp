#include "child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace fm {

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    while (s.find("  ") != std::string::npos) s.erase(s.find("  "), 1);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool HasAny(const std::string& text, const std::vector<std::string>& texts) {
    const std::string flat = OneLine(text);
    for (const std::string& t : texts)
        if (flat.find(OneLine(t)) != std::string::npos) return true;
    return false;
}

Child StartChild(const std::function<std::string()>& work, int boundSeconds, const std::string& stderrFile) {
    int fds[2];
    if (::pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    Child c;
    c.stderrFile = stderrFile;
    std::fflush(stdout);
    c.pid = fork();
    if (c.pid == 0) {
        ::close(fds[0]);
        const int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) {
            ::dup2(err, 2);
            ::dup2(err, 1);
        }
        const std::string text = work();
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        std::fflush(nullptr);
        // Skips the destructors of statics: the result is out, and the parent judges by it.
        _exit(0);
    }
    ::close(fds[1]);
    c.pipe = fds[0];
    ::fcntl(c.pipe, F_SETFL, O_NONBLOCK);
    c.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(boundSeconds);
    return c;
}

namespace {

std::string SanitizerSummary(const std::string& file) {
    std::ifstream in(file);
    std::string line, summary, last;
    while (std::getline(in, line)) {
        if (line.find("SUMMARY:") != std::string::npos || line.find("runtime error") != std::string::npos)
            summary = line;
        if (!line.empty()) last = line;
    }
    return OneLine(summary.empty() ? last : summary);
}

}  // namespace

bool PollChild(Child& c, ChildEnd& e) {
    char buf[4096];
    while (true) {
        const ssize_t n = ::read(c.pipe, buf, sizeof buf);
        if (n > 0) {
            c.out.append(buf, static_cast<size_t>(n));
            continue;
        }
        break;
    }
    int status = 0;
    const pid_t w = ::waitpid(c.pid, &status, WNOHANG);
    if (w == 0) {
        if (std::chrono::steady_clock::now() < c.deadline) return false;
        ::kill(c.pid, SIGKILL);
        ::waitpid(c.pid, &status, 0);
        ::close(c.pipe);
        e.end = End::Hang;
        e.why = "no end within the bound";
        return true;
    }
    while (true) {
        const ssize_t n = ::read(c.pipe, buf, sizeof buf);
        if (n <= 0) break;
        c.out.append(buf, static_cast<size_t>(n));
    }
    ::close(c.pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !c.out.empty()) {
        e.end = End::Result;
        e.out = std::move(c.out);
        std::filesystem::remove(c.stderrFile);
        return true;
    }
    e.end = End::Crash;
    e.why = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                : "exit status " + std::to_string(WEXITSTATUS(status));
    const std::string summary = SanitizerSummary(c.stderrFile);
    if (!summary.empty()) e.why += ": " + summary;
    return true;
}

std::vector<ChildEnd> RunAll(const std::vector<std::function<std::string()>>& work, int jobs, int boundSeconds,
                             const std::string& scratch, const std::string& kind,
                             const std::function<void(size_t, const ChildEnd&)>& inOrder) {
    std::deque<std::pair<size_t, Child>> running;
    std::vector<ChildEnd> ends(work.size());
    std::vector<bool> finished(work.size(), false);
    size_t next = 0, told = 0;
    while (told < work.size()) {
        while (running.size() < static_cast<size_t>(jobs) && next < work.size()) {
            running.emplace_back(next, StartChild(work[next], boundSeconds,
                                                  scratch + "/" + kind + std::to_string(next) + ".err"));
            ++next;
        }
        bool progressed = false;
        for (auto it = running.begin(); it != running.end();) {
            if (PollChild(it->second, ends[it->first])) {
                finished[it->first] = true;
                it = running.erase(it);
                progressed = true;
            } else {
                ++it;
            }
        }
        for (; told < work.size() && finished[told]; ++told)
            if (inOrder) inOrder(told, ends[told]);
        if (!progressed) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ends;
}

ChildEnd RunChild(const std::function<std::string()>& work, int boundSeconds, const std::string& stderrFile) {
    Child c = StartChild(work, boundSeconds, stderrFile);
    ChildEnd e;
    while (!PollChild(c, e)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return e;
}

}  // namespace fm
