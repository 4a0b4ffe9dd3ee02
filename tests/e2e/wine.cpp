#include "wine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

const char* kWine = "/usr/lib/wine/wine64";
const char* kVideoInputInstances =
    "HKCR\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";

fs::path PrefixDir() {
    static fs::path dir = fs::path(KIT_E2E_WORK_DIR) / ("wineprefix-" + std::to_string(getpid()));
    return dir;
}

std::string WineServer() {
    for (const char* p : {"/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver"})
        if (access(p, X_OK) == 0) return p;
    return "wineserver";
}

// Environment of every wine run: our own prefix, only the debugger trace channel.
std::vector<std::string> BaseEnv(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        size_t eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    env["WINEPREFIX"] = PrefixDir().string();
    env["WINEDEBUG"] = "-all,+debugstr";
    // No mono/gecko installers when the prefix is created.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
    env.erase("DISPLAY");
    env.erase("CAMKIT_BENCH");
    for (const auto& [k, v] : extra) {
        if (v.empty()) env.erase(k);
        else env[k] = v;
    }
    std::vector<std::string> out;
    for (const auto& [k, v] : env) out.push_back(k + "=" + v);
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        switch (c) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
                break;
            }
            default: out += c;
        }
    }
    return out;
}

// Splits wine's stderr into debugger trace texts and everything else.
void SplitTrace(const std::string& raw, RunResult& r) {
    const std::string marker = ":warn:debugstr:OutputDebugStringA \"";
    size_t pos = 0;
    while (pos < raw.size()) {
        size_t end = raw.find('\n', pos);
        if (end == std::string::npos) end = raw.size();
        std::string line = raw.substr(pos, end - pos);
        pos = end + 1;
        size_t m = line.find(marker);
        if (m != std::string::npos && line.size() >= m + marker.size() + 1 && line.back() == '"') {
            r.trace.push_back(Unescape(line.substr(m + marker.size(), line.size() - m - marker.size() - 1)));
        } else {
            r.err += line + "\n";
        }
    }
}

RunResult Spawn(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult r;
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) throw std::runtime_error("pipe failed");
    std::vector<std::string> envStrings = BaseEnv(options.env);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(126);
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in[0]), close(out[1]), close(err[1]);
    // Small inputs fit the pipe; close it so a program reading a key sees the end.
    if (!options.input.empty() && write(in[1], options.input.data(), options.input.size()) < 0) {
    }
    close(in[1]);
    std::string rawErr;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    auto deadline = start + options.timeout;
    bool exited = false;
    int status = 0;
    std::chrono::steady_clock::time_point drainUntil;
    // Reads until both pipes close, or shortly after the program ended: a child it started
    // (still running) may hold the pipes open.
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        auto now = std::chrono::steady_clock::now();
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            drainUntil = now + std::chrono::milliseconds(500);
        }
        if (exited && now > drainUntil) break;
        if (!exited && now > deadline) {
            r.timedOut = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        if (poll(fds, 2, 50) <= 0) continue;
        for (pollfd& f : fds) {
            if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(f.fd, buf, sizeof buf);
            if (n <= 0) {
                close(f.fd);
                f.fd = -1;
            } else {
                (&f == &fds[0] ? r.out : rawErr).append(buf, static_cast<size_t>(n));
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    if (!exited && !r.timedOut) waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SplitTrace(rawErr, r);
    return r;
}

// A copy of a prefix: the registry, the user folders and C:\windows's own files (win.ini is
// rewritten in place) for real; the files below C:\windows's folders, which nothing writes, as
// hard links: 700 MB copied cost 15 s a case on a loaded machine, the links half a second. The
// file naming the old prefix's server folder stays behind.
void CopyPrefix(const fs::path& from, const fs::path& to, std::error_code& ec) {
    fs::create_directories(to, ec);
    for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path relative = it->path().lexically_relative(from);
        const fs::path target = to / relative;
        auto parts = relative.begin();
        const bool belowWindowsFolders = std::distance(relative.begin(), relative.end()) > 3 &&
                                         *parts == "drive_c" && *std::next(parts) == "windows";
        if (relative == "wineserver") continue;
        if (it->is_symlink()) fs::copy_symlink(it->path(), target, ec);
        else if (it->is_directory()) fs::create_directory(target, ec);
        else if (belowWindowsFolders) fs::create_hard_link(it->path(), target, ec);
        else fs::copy_file(it->path(), target, ec);
    }
}

// Creates the prefix and keeps a wineserver alive for this test process; stops it at the end.
class WineEnvironment : public ::testing::Environment {
    // The server detaches itself; it must not hold our pipes.
    static void Server(const char* flag) {
        std::string cmd = "WINEPREFIX='" + PrefixDir().string() + "' " + WineServer() + " " + flag +
                          " >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0 && std::strcmp(flag, "-p") == 0)
            ADD_FAILURE() << "could not start " << cmd;
    }

public:
    void SetUp() override {
        // ctest's entries copy the prefix that e2e_prefix_template made once (make_prefix.sh);
        // a test binary run by hand makes its own.
        const char* templateDir = std::getenv("KIT_E2E_PREFIX_TEMPLATE");
        if (templateDir && *templateDir) {
            if (!fs::exists(fs::path(templateDir) / "system.reg"))
                FAIL() << "no wine prefix template in " << templateDir << ": run the ctest entry e2e_prefix_template";
            std::error_code ec;
            fs::remove_all(PrefixDir(), ec);
            CopyPrefix(templateDir, PrefixDir(), ec);
            if (ec) FAIL() << "cannot copy " << templateDir << " to " << PrefixDir() << ": " << ec.message();
            Server("-p");
        } else {
            fs::create_directories(PrefixDir());
            Server("-p");
            RunResult boot =
                Spawn({kWine, "wineboot", "-i"}, RunOptions{{}, {}, {}, std::chrono::seconds(180)});
            if (boot.exitCode != 0) FAIL() << "wineboot failed: " << boot.err;
        }
        // The prefix goes on settling after wineboot returns; one program run to its end makes
        // the first test's timings those of every other.
        RunResult warm = Spawn({kWine, "cmd", "/c", "exit", "0"}, RunOptions{{}, {}, {}, std::chrono::seconds(180)});
        if (warm.exitCode != 0) FAIL() << "wine cannot run a program in " << PrefixDir() << ": " << warm.err;
    }
    void TearDown() override {
        Server("-k");
        std::error_code ec;
        fs::remove_all(PrefixDir(), ec);
    }
};

const ::testing::Environment* const kWineEnvironment = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

}  // namespace

fs::path Win64Dir() { return fs::path(KIT_WIN64_DIR); }

fs::path KitProgram(const std::string& name) {
    fs::path p = Win64Dir() / "kit" / name;
    if (!fs::exists(p)) ADD_FAILURE() << p << " is missing: build the win64 preset first";
    return p;
}

fs::path TestProgram(const std::string& name) {
    fs::path p = Win64Dir() / "testbin" / name;
    if (!fs::exists(p)) ADD_FAILURE() << p << " is missing: build the win64 preset first";
    return p;
}

fs::path FreshWorkDir(const std::string& name) {
    fs::path dir = fs::path(KIT_E2E_WORK_DIR) / ("work-" + std::to_string(getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

RunResult RunWine(const fs::path& program, const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> argv{kWine, program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(argv, options);
}

int RunWineTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kWine};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = Spawn(argv, RunOptions{});
    return r.exitCode;
}

std::string WindowsPath(const fs::path& path) {
    std::string p = fs::absolute(path).lexically_normal().string();
    for (char& c : p)
        if (c == '/') c = '\\';
    return "Z:" + p;
}

std::string CrtText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

void ClearRegisteredVideoDevices() { RunWineTool({"reg", "delete", kVideoInputInstances, "/f"}); }

void RegisterVideoDevice(const std::string& name, const std::string& devicePath) {
    std::string key = std::string(kVideoInputInstances) + "\\" + name;
    // The kernel-streaming proxy is what a real capture device's moniker names.
    const char* proxy = "{17CCA71B-ECD7-11D0-B908-00A0C9223196}";
    for (auto [value, data] : {std::pair<std::string, std::string>{"FriendlyName", name},
                               {"CLSID", proxy},
                               {"DevicePath", devicePath}}) {
        int rc = RunWineTool({"reg", "add", key, "/v", value, "/d", data, "/f"});
        EXPECT_EQ(rc, 0) << "reg add " << key << " " << value;
    }
}

}  // namespace e2e
