// A private X server for the window tests: started on a free display before
// the QApplication is made, stopped when the test ends. Qt is pointed at it,
// without OpenGL unless a test asks for it again.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/Xvfb.h"

namespace gavex_test {

class XvfbDisplay {
public:
    explicit XvfbDisplay(const std::string& screen = "1280x1024x24") : m_server(screen.c_str())
    {
        if (m_server.Display().empty()) {
            ADD_FAILURE() << "Xvfb did not start";
            return;
        }
        ::setenv("DISPLAY", m_server.Display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    }

    bool Running() const { return !m_server.Display().empty(); }
    const std::string& Display() const { return m_server.Display(); }

private:
    testsupport::Xvfb m_server;
};

}  // namespace gavex_test
