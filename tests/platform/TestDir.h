// A unique temporary folder per test, removed with its contents afterwards.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace platform_test {

class TempDir {
public:
    TempDir() {
        std::string tmpl = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/gavex-platform-XXXXXX";
        char* p = ::mkdtemp(tmpl.data());
        if (!p) ADD_FAILURE() << "mkdtemp failed";
        m_path = tmpl;
    }
    ~TempDir() {
        std::string cmd = "chmod -R u+rwx '" + m_path + "' 2>/dev/null; rm -rf '" + m_path + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

}  // namespace platform_test
