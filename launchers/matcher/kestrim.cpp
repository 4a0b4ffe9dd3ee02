#include "kestrim.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrim {
namespace {

class TextModeFile final : public CharSource {
public:
    explicit TextModeFile(std::FILE* f) : f_(f) {}
    ~TextModeFile() override { std::fclose(f_); }
    int Get() override {
        if (ended_) return -1;
        int c = pending_ >= 0 ? pending_ : std::fgetc(f_);
        pending_ = -1;
        if (c == EOF || c == 0x1A) {
            ended_ = true;
            return -1;
        }
        if (c == '\r') {
            int next = std::fgetc(f_);
            if (next == '\n') return '\n';
            pending_ = next;
        }
        return c;
    }

private:
    std::FILE* f_;
    int pending_ = -1;
    bool ended_ = false;
};

class Matcher {
public:
    Matcher(Ports& ports, std::string parameter) : ports_(ports), parameter_(std::move(parameter)) {}

    bool Search(const char* vendor) {
        if (std::strlen(vendor) != 4) {
            ports_.console.Write(kErrorVidFormat);
            return false;
        }
        std::vector<kit::VideoInputDevice> devices;
        if (ports_.devices.Enumerate(devices) != kit::kS_OK) return false;
        for (const kit::VideoInputDevice& dev : devices) {
            if (!dev.hasPath) continue;
            std::string vid, pid;
            if (!TakeAfter(dev.devicePath, "vid_", vid)) {
                ports_.console.Write(kNullVid);
                continue;
            }
            if (!TakeAfter(dev.devicePath, "pid_", pid)) {
                ports_.console.Write(kNullPid);
                continue;
            }
            if (vid != vendor) continue;
            Printf(kFoundSource, vid.c_str(), pid.c_str());
            if (MatchList(vid, pid)) return true;
        }
        return false;
    }

private:
    template <typename... A>
    void Printf(const char* fmt, A... args) {
        char line[512];
        std::snprintf(line, sizeof line, fmt, args...);
        ports_.console.Write(line);
    }

    bool MatchList(const std::string& vid, const std::string& pid) {
        std::unique_ptr<CharSource> list = ports_.files.OpenText(kListFile);
        if (!list) {
            ports_.console.Write(kCantLoadList);
            return false;
        }
        std::string line;
        unsigned lineNo = 1;
        bool tooLong = false;
        for (int c = list->Get(); c >= 0; c = list->Get()) {
            if (c != '\n') {
                if (line.size() < kMaxLine) line.push_back(static_cast<char>(c));
                else tooLong = true;
                continue;
            }
            if (tooLong) Printf(kLineTooLong, lineNo);
            else if (!line.empty() && MatchLine(line, vid, pid)) return true;
            line.clear();
            tooLong = false;
            ++lineNo;
        }
        // A last line without a line feed is never matched.
        return false;
    }

    bool MatchLine(const std::string& line, const std::string& vid, const std::string& pid) {
        size_t tab = line.find('\t');
        std::string idField = line.substr(0, tab);
        std::string command;
        if (tab != std::string::npos) {
            size_t end = line.find('\t', tab + 1);
            command = line.substr(tab + 1, end == std::string::npos ? std::string::npos : end - tab - 1);
        }
        std::string listVid, listPid;
        if (!TakeAfter(idField, "VID_", listVid) || !TakeAfter(idField, "PID_", listPid)) return false;
        if (listVid != vid || listPid != pid) return false;
        if (!parameter_.empty()) command += " " + parameter_;
        // A line of at most 127 characters leaves room for the parameter; the check keeps the
        // command buffer honest should those limits ever change.
        char commandLine[kMaxLine + 1] = {};
        if (command.size() > kMaxLine) {
            Printf(kCantOpen, command.c_str());
            return false;
        }
        std::memcpy(commandLine, command.data(), command.size());
        kit::ProcessHandles child;
        uint32_t lastError = 0;
        if (!ports_.processes.Create(nullptr, commandLine, child, lastError)) {
            Printf(kCantOpen, commandLine);
            return false;
        }
        // The update program may run for as long as a flash takes; it is never abandoned.
        ports_.processes.WaitForExit(child, kit::kWaitInfinite);
        ports_.processes.Close(child);
        return true;
    }

    Ports& ports_;
    std::string parameter_;
};

}  // namespace

std::unique_ptr<CharSource> TextModeReader(std::FILE* file) {
    if (!file) return nullptr;
    return std::make_unique<TextModeFile>(file);
}

std::unique_ptr<CharSource> OpenTextFile(const char* name) { return TextModeReader(std::fopen(name, "rb")); }

bool TakeAfter(const std::string& text, const char* marker, std::string& out) {
    size_t at = text.find(marker);
    if (at == std::string::npos) return false;
    out = text.substr(at + std::strlen(marker), 4);
    return true;
}

int Run(int argc, const char* const* argv, Ports& ports) {
    char banner[128];
    std::snprintf(banner, sizeof banner, kBannerFormat, kBanner);
    ports.console.Write(banner);
    std::string parameter;
    if (argc >= 2) {
        if (std::strlen(argv[1]) > kMaxParameter) {
            ports.console.Write(kErrorParameter);
            return 0;
        }
        parameter = argv[1];
    }
    Matcher matcher(ports, parameter);
    if (matcher.Search(kVendorId)) {
        ports.console.Write(kStarted);
    } else {
        ports.console.Write(kUnableToStart);
        ports.console.ReadChar();
    }
    return 0;
}

}  // namespace kestrim
