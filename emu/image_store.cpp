#include "emu/image_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace emu {
namespace {

// A reader holds an image for the milliseconds it takes to read it, a writer for the moment of its
// rename; two seconds cover a loaded machine, and a file that really refuses access still fails
// within them.
constexpr int kTries = 400;
constexpr std::chrono::milliseconds kPause{5};

bool RefusedAccess(const std::error_code& ec) {
    return ec == std::errc::permission_denied || ec == std::errc::device_or_resource_busy;
}

}  // namespace

bool LoadImage(const std::string& path, std::vector<uint8_t>& out, std::string& error, size_t size, uint8_t fill) {
    std::FILE* f = nullptr;
    int opened = 0;
    RetryWhileRefused(
        [&] {
            f = std::fopen(path.c_str(), "rb");
            opened = f ? 0 : errno;
            return std::error_code(opened, std::generic_category());
        },
        kTries, kPause);
    if (!f) {
        if (size > 0 && opened == ENOENT) {
            out.assign(size, fill);
            return true;
        }
        error = "cannot open " + path + ": " + std::strerror(opened);
        return false;
    }
    out.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

bool SaveImage(const std::string& path, const std::vector<uint8_t>& image, std::string& error) {
    std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::remove(temp.c_str());
        error = "cannot write " + temp;
        return false;
    }
    // filesystem::rename replaces an existing file on every host (plain rename() does not on Windows).
    std::error_code ec = RetryWhileRefused(
        [&] {
            std::error_code renamed;
            std::filesystem::rename(temp, path, renamed);
            return renamed;
        },
        kTries, kPause);
    if (ec) {
        error = "cannot replace " + path + ": " + ec.message();
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

std::error_code RetryWhileRefused(const std::function<std::error_code()>& attempt, int tries,
                                  std::chrono::milliseconds pause) {
    std::error_code ec = attempt();
    for (int tried = 1; ec && RefusedAccess(ec) && tried < tries; ++tried) {
        std::this_thread::sleep_for(pause);
        ec = attempt();
    }
    return ec;
}

std::string BenchFilePath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
    return folder + (folder.find('\\') != std::string::npos ? "\\" : "/") + name;
}

}  // namespace emu
