#include "wine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <gtest/gtest.h>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

const char* kVideoInputInstances =
    "HKCR\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";

// Which wine runs the kit: the 32-bit kit needs wine 10's WoW64 mode in the tree of
// scripts/wow64.sh; the twin runs under the machine's own wine64, or in the tree too with
// KIT_E2E_WINE=tree.
bool InTree() {
    static const bool tree = [] {
        const char* wine = std::getenv("KIT_E2E_WINE");
        return KitName() == "win32" || (wine && std::string(wine) == "tree");
    }();
    return tree;
}

std::string HostWineServer() {
    for (const char* p : {"/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver"})
        if (access(p, X_OK) == 0) return p;
    return "wineserver";
}

// The command line that runs wine (tool "wine64") or its server (tool "wineserver") with the
// arguments. In the tree, the wrapper makes the tree's mounts for this run alone and removes them
// when it ends.
std::vector<std::string> WineCommand(const std::string& tool, const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    if (InTree()) argv = {KIT_WOW64_SCRIPT, "run", "/usr/lib/wine/" + tool};
    else argv = {tool == "wine64" ? std::string("/usr/lib/wine/wine64") : HostWineServer()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
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
    // The tree sees the repository (benches, work folders, the builds) at its own path.
    env["KIT_WOW64_BIND"] = KIT_SOURCE_DIR;
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

// `onTimeout` runs while a program that overran its time is still alive; what it returns ends the
// result's standard error.
RunResult Spawn(const std::vector<std::string>& argv, const RunOptions& options,
                const std::function<std::string()>& onTimeout = {}) {
    RunResult r;
    int in[2], out[2], err[2];
    // Close-on-exec: a program another thread starts at the same moment must not inherit our pipes.
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe failed");
    std::vector<std::string> envStrings = BaseEnv(options.env);
    // Everything the child needs is made before the fork: the tests start programs from two threads
    // at once, and a child that allocated could block for ever on a lock the other thread held at
    // the fork (the program then never starts). After the fork the child only makes system calls.
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const char* cwd = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
        if (cwd && chdir(cwd) != 0) _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in[0]), close(out[1]), close(err[1]);
    // Small inputs fit the pipe; close it so a program reading a key sees the end.
    if (!options.input.empty() && write(in[1], options.input.data(), options.input.size()) < 0) {
    }
    close(in[1]);
    std::string rawErr, overran;
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
            if (onTimeout) overran = onTimeout();
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
    r.err += overran;
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
        if (RunWineServer(flag, PrefixDir()) != 0 && std::strcmp(flag, "-p") == 0)
            ADD_FAILURE() << "could not start the wine server of " << PrefixDir();
    }

public:
    void SetUp() override {
        if (KitName() != "win32" && KitName() != "win64")
            FAIL() << "KIT_E2E_KIT names no kit: \"" << KitName() << "\" (win32 or win64)";
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
                Spawn(WineCommand("wine64", {"wineboot", "-i"}), RunOptions{{}, {}, {}, std::chrono::seconds(240)});
            if (boot.exitCode != 0) FAIL() << "wineboot failed: " << boot.err;
        }
        // The prefix goes on settling after wineboot returns; one program run to its end makes
        // the first test's timings those of every other.
        RunResult warm =
            Spawn(WineCommand("wine64", {"cmd", "/c", "exit", "0"}), RunOptions{{}, {}, {}, std::chrono::seconds(180)});
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

fs::path PrefixDir() {
    static fs::path dir = fs::path(KIT_E2E_WORK_DIR) / ("wineprefix-" + std::to_string(getpid()));
    return dir;
}

const std::string& KitName() {
    static const std::string name = [] {
        const char* kit = std::getenv("KIT_E2E_KIT");
        return std::string(kit && *kit ? kit : "win32");
    }();
    return name;
}

fs::path KitDir() { return fs::path(KitName() == "win64" ? KIT_WIN64_DIR : KIT_WIN32_DIR); }

const std::string& KitMachine() {
    static const std::string machine = KitName() == "win64" ? "x86-64" : "i386";
    return machine;
}

std::string PeMachine(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return "unreadable";
    unsigned char dos[64] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return "not a PE file";
    const unsigned long peAt = dos[60] | dos[61] << 8 | dos[62] << 16 | static_cast<unsigned long>(dos[63]) << 24;
    unsigned char pe[26] = {};
    in.seekg(static_cast<std::streamoff>(peAt));
    if (!in.read(reinterpret_cast<char*>(pe), sizeof pe) || pe[0] != 'P' || pe[1] != 'E' || pe[2] || pe[3])
        return "not a PE file";
    const unsigned machine = pe[4] | pe[5] << 8;
    const unsigned magic = pe[24] | pe[25] << 8;  // the optional header's: PE32 or PE32+
    if (machine == 0x14c && magic == 0x10b) return "i386";
    if (machine == 0x8664 && magic == 0x20b) return "x86-64";
    char text[64];
    std::snprintf(text, sizeof text, "machine 0x%04x, optional header 0x%03x", machine, magic);
    return text;
}

namespace {

fs::path BuiltFile(const char* folder, const std::string& name) {
    fs::path p = KitDir() / folder / name;
    if (!fs::exists(p)) ADD_FAILURE() << p << " is missing: build the " << KitName() << " preset first";
    return p;
}

}  // namespace

fs::path KitProgram(const std::string& name) { return BuiltFile("kit", name); }

fs::path TestProgram(const std::string& name) { return BuiltFile("testbin", name); }

fs::path FreshWorkDir(const std::string& name) {
    fs::path dir = fs::path(KIT_E2E_WORK_DIR) / ("work-" + std::to_string(getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

RunResult RunWine(const fs::path& program, const std::vector<std::string>& args, const RunOptions& options) {
    // A program of ours (a file on disk, not a wine tool such as "cmd") must be of the kit under
    // test: a run that fell back to the other kit would prove nothing about this one.
    if (program.extension() == ".exe") {
        const fs::path onDisk = program.is_absolute() || options.workingDirectory.empty()
                                    ? program
                                    : options.workingDirectory / program;
        if (fs::exists(onDisk)) {
            const std::string machine = PeMachine(onDisk);
            EXPECT_EQ(machine, KitMachine()) << onDisk << " is not a program of the " << KitName() << " kit";
        }
    }
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    // A program that hangs leaves its threads' stacks (and those of every other wine process of
    // the prefix) in the result: a red run on a machine nobody watches says where it stood.
    auto stacks = [&] {
        RunOptions debugger;
        debugger.timeout = std::chrono::seconds(60);
        RunResult processes = Spawn(WineCommand("wine64", {"winedbg", "--command", "info process"}), debugger);
        RunResult bt = Spawn(WineCommand("wine64", {"winedbg", "--command", "bt all"}), debugger);
        return "\n" + program.filename().string() + " did not end within " +
               std::to_string(options.timeout.count()) + " s; the prefix's processes then:\n" + processes.out +
               "and their threads' stacks:\n" + bt.out + bt.err;
    };
    return Spawn(WineCommand("wine64", argv), options, stacks);
}

int RunWineTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = WineCommand("wine64", args);
    // A 32-bit program reads the classes (DirectShow's devices among them) through the registry's
    // 32-bit view; keys outside the redirected ones are the same in both views.
    if (KitName() == "win32" && !args.empty() && args[0] == "reg") argv.push_back("/reg:32");
    RunResult r = Spawn(argv, RunOptions{});
    return r.exitCode;
}

int RunWineServer(const std::string& flag, const fs::path& prefix) {
    RunOptions options;
    options.env["WINEPREFIX"] = prefix.string();
    options.timeout = std::chrono::seconds(60);
    // The server detaches itself when started; our pipes are left to it, so they are not waited on.
    RunResult r = Spawn(WineCommand("wineserver", {flag}), options);
    return r.timedOut ? -1 : r.exitCode;
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
