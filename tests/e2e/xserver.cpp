#include "xserver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "wine.h"

namespace e2e {

XServer::XServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);  // made before the fork: the child only makes system calls
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        close(fds[0]);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0), dup2(devnull, 1), dup2(devnull, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               "-nocursor", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes the display number once it accepts connections.
    pollfd p{fds[0], POLLIN, 0};
    std::string number;
    for (int waited = 0; waited < 10000 && number.find('\n') == std::string::npos; waited += 100) {
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[16];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') != std::string::npos) display_ = ":" + number.substr(0, number.find('\n'));
}

XServer::~XServer() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(100000);
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, WNOHANG);
}

bool XServer::Screenshot(const fs::path& png, int x, int y, int width, int height) const {
    fs::create_directories(png.parent_path());
    std::ostringstream cmd;
    cmd << "timeout 30 sh -c 'xwd -root -silent -display " << display_ << " | convert xwd:- -crop " << width
        << "x" << height << "+" << x << "+" << y << " +repage png:" << png.string() << "' >/dev/null 2>&1";
    return std::system(cmd.str().c_str()) == 0 && fs::file_size(png) > 0;
}

// The prefix's desktop takes its display driver from the first program that needs a desktop, for
// good; the one the prefix was made with had no display. The next program, which has one, makes
// the desktop anew.
void RestartWineServer() {
    std::string prefix = RunWine("cmd", {"/c", "echo %WINEPREFIX%"}, {}).out;
    while (!prefix.empty() && (prefix.back() == '\n' || prefix.back() == '\r')) prefix.pop_back();
    ASSERT_TRUE(fs::is_directory(prefix)) << "wine did not name its prefix: " << prefix;
    ASSERT_EQ(RunWineServer("-k", prefix), 0) << "wineserver -k in " << prefix;
    ASSERT_EQ(RunWineServer("-p", prefix), 0) << "wineserver -p in " << prefix;
}

const XServer& Screen() {
    static XServer server;
    static bool restarted = false;
    if (!restarted && !server.Display().empty()) {
        restarted = true;
        RestartWineServer();
    }
    return server;
}

}  // namespace e2e
