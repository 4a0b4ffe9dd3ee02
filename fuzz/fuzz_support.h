// What every fuzz target shares: a scratch file for the parsers that read files by name, a trace
// that keeps nothing, and the input split into the pieces a target needs.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kit/trace.h"

namespace fuzz {

// One file per fuzzing process, rewritten for every input. The readers under test take a path, as
// they do in the programs, so the bytes reach them through the file system like a user's file would.
class ScratchFile {
public:
    explicit ScratchFile(const char* name) {
        const char* tmp = std::getenv("TMPDIR");
        folder_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kitfuzz." + std::to_string(getpid());
        std::string make = folder_;
        ::mkdir(make.c_str(), 0700);
        path_ = folder_ + "/" + name;
    }
    ~ScratchFile() {
        std::remove(path_.c_str());
        ::rmdir(folder_.c_str());
    }
    // Stops the run when the scratch folder cannot be written: that is the machine, not a finding.
    void Write(const std::string& bytes) {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (!f) std::abort();
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
        std::fclose(f);
    }
    // The input as the file's contents; returns them as text for the parsers that also take a string.
    std::string Write(const uint8_t* data, size_t size) {
        std::string bytes(reinterpret_cast<const char*>(data), size);
        Write(bytes);
        return bytes;
    }
    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
    std::string path_;
};

class NullTrace final : public kit::Trace {
public:
    void Write(const char*) override {}
};

// A text that may hold any byte but NUL (what a C string from a file can carry).
inline std::string CString(FuzzedDataProvider& in, size_t max) {
    std::string s = in.ConsumeRandomLengthString(max);
    for (char& c : s)
        if (c == '\0') c = ' ';
    return s;
}

}  // namespace fuzz
