#pragma once
// A private X server for tests that need real windows and OpenGL: Xvfb with
// GLX on a display number it picks itself, killed with the object.
//
// The test process (and what it starts) then runs without the desktop's
// accessibility bridge and without a session bus: a shown window would make
// Qt's accessibility look for the bus, and libdbus would fork a helper to
// launch one, which is slow at best and deadlocks under a sanitizer's
// allocator. Nothing the tests check needs either.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/GraphicsDrivers.h"

namespace testsupport {

class Xvfb {
public:
    // Starts the server; Display() is empty when it could not be started.
    explicit Xvfb(const char* screen = "1920x1080x24")
    {
        setenv("QT_ACCESSIBILITY", "0", 1);
        setenv("NO_AT_BRIDGE", "1", 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            // The server goes with the test, however the test ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(pipeFds[0]);
            const std::string fd = std::to_string(pipeFds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "+extension", "GLX",
                   "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        if (m_pid < 0) {
            close(pipeFds[0]);
            return;
        }
        // The server writes its display number once it accepts clients.
        std::string number;
        char c = 0;
        while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(pipeFds[0]);
        if (!number.empty())
            m_display = ":" + number;
    }
    ~Xvfb()
    {
        // What the windows' OpenGL loaded stays until the process ends.
        KeepGraphicsDriversLoaded();
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

}  // namespace testsupport
