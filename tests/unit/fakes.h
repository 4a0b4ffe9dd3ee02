// Test doubles of the launcher ports: a virtual clock, scripted children, captured console.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kestrim.h"
#include "kit/process.h"
#include "kit/video_input.h"

namespace fakes {

class System final : public kit::SystemPort {
public:
    std::string modulePath = "C:\\kit\\Tessac.exe";
    std::string currentDirectory;
    uint64_t nowMs = 0;  // virtual clock advanced by Sleep

    uint32_t ModuleFileName(char* out, uint32_t size) override {
        // Like GetModuleFileNameA: a path that does not fit is cut and the buffer size returned.
        size_t n = modulePath.size() < size ? modulePath.size() : size - 1;
        std::memcpy(out, modulePath.data(), n);
        out[n] = '\0';
        return modulePath.size() < size ? static_cast<uint32_t>(n) : size;
    }
    bool RemoveFileSpec(char* path) override {
        char* slash = std::strrchr(path, '\\');
        if (!slash) return false;
        *slash = '\0';
        return true;
    }
    bool ChangeDirectory(const char* path) override {
        currentDirectory = path;
        return true;
    }
    void Sleep(uint32_t ms) override { nowMs += ms; }
};

// A child that ends with `exitCode` once `runsForMs` of virtual time have passed.
struct ScriptedChild {
    std::string application;  // "" when started without an application name
    std::string commandLine;
    std::string directory;
    bool fails = false;
    uint32_t error = 2;
    uint64_t runsForMs = 0;
    uint32_t exitCode = 0;
    bool neverEnds = false;
};

class Processes final : public kit::ProcessPort {
public:
    explicit Processes(const System* clock = nullptr) : clock_(clock) {}
    // Outcome of each start, in order; the last one repeats.
    std::vector<ScriptedChild> script{ScriptedChild{}};
    std::vector<ScriptedChild> started;
    int waitsForExit = 0;
    int closed = 0;
    const System* clock_;
    std::string* currentDirectory = nullptr;
    // Programs (first word of the command line) that do not exist; starting them fails with 2.
    std::vector<std::string> missingPrograms;

    bool Create(const char* application, char* commandLine, kit::ProcessHandles& out,
                uint32_t& lastError) override {
        ScriptedChild c = script[std::min(started.size(), script.size() - 1)];
        c.application = application ? application : "";
        c.commandLine = commandLine;
        if (currentDirectory) c.directory = *currentDirectory;
        startMs_ = clock_ ? clock_->nowMs : 0;
        started.push_back(c);
        std::string program = c.commandLine.substr(0, c.commandLine.find(' '));
        for (const std::string& m : missingPrograms)
            if (program == m) c.fails = true, c.error = 2;
        if (c.application.empty() && c.commandLine.empty()) c.fails = true, c.error = 87;
        started.back() = c;
        if (c.fails) {
            lastError = c.error;
            return false;
        }
        out.process = &started;  // any non-null token
        out.thread = &started;
        return true;
    }
    std::vector<uint32_t> idleWaits;  // the bound of every WaitForInputIdle
    uint32_t WaitForInputIdle(const kit::ProcessHandles&, uint32_t ms) override {
        idleWaits.push_back(ms);
        return 0;
    }
    bool GetExitCode(const kit::ProcessHandles&, uint32_t& code) override {
        const ScriptedChild& c = started.back();
        uint64_t now = clock_ ? clock_->nowMs : 0;
        code = (!c.neverEnds && now - startMs_ >= c.runsForMs) ? c.exitCode : kit::kStillActive;
        return true;
    }
    bool WaitForExit(const kit::ProcessHandles&, uint32_t) override {
        ++waitsForExit;
        return true;
    }
    void Close(kit::ProcessHandles& p) override {
        ++closed;
        p = kit::ProcessHandles{};
    }

private:
    uint64_t startMs_ = 0;
};

class Console final : public kit::ConsolePort {
public:
    std::string out;
    std::string input;
    int reads = 0;
    void Write(const char* text) override { out += text; }
    int ReadChar() override {
        ++reads;
        if (input.empty()) return -1;
        int c = static_cast<unsigned char>(input[0]);
        input.erase(0, 1);
        return c;
    }
};

class VideoInput final : public kit::VideoInputPort {
public:
    int32_t result = kit::kS_OK;
    std::vector<kit::VideoInputDevice> devices;
    void AddPath(const std::string& path) { devices.push_back({true, path, "Camera"}); }
    int32_t Enumerate(std::vector<kit::VideoInputDevice>& out) override {
        out = devices;
        return result;
    }
};

// In-memory files with the same text-mode reading as the real one.
class Files final : public kestrim::FilePort {
public:
    std::map<std::string, std::string> contents;
    int opens = 0;
    std::unique_ptr<kestrim::CharSource> OpenText(const char* name) override;
};

}  // namespace fakes

inline std::unique_ptr<kestrim::CharSource> fakes::Files::OpenText(const char* name) {
    ++opens;
    auto it = contents.find(name);
    if (it == contents.end()) return nullptr;
    std::FILE* f = std::tmpfile();
    std::fwrite(it->second.data(), 1, it->second.size(), f);
    std::rewind(f);
    return kestrim::TextModeReader(f);
}
