// A private X server for the window tests: started on a free display before
// the QApplication is made, stopped when the test ends.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace gavex_test {

class XvfbDisplay {
public:
    explicit XvfbDisplay(const std::string& screen = "1280x1024x24")
    {
        int fds[2];
        if (::pipe(fds) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            const int quiet = ::open("/dev/null", O_WRONLY);
            if (quiet >= 0)
                ::dup2(quiet, 2);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty()) {
            ADD_FAILURE() << "Xvfb did not start";
            return;
        }
        m_display = ":" + number;
        ::setenv("DISPLAY", m_display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    }
    ~XvfbDisplay()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool Running() const { return !m_display.empty(); }
    const std::string& Display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

}  // namespace gavex_test
