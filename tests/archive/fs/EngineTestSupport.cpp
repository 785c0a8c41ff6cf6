#include "EngineTestSupport.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "base/Tss.h"

namespace enginetest {

namespace {

std::string MakeRegistryDir() {
    char pattern[] = "/tmp/gavex_engine_reg_XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
}

class RegistryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { RegistryDir(); }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(RegistryDir(), ec);
    }
};

const bool kRegistered = [] {
    ::testing::AddGlobalTestEnvironment(new RegistryEnvironment);
    return true;
}();

}  // namespace

const std::string& RegistryDir() {
    static const std::string dir = [] {
        std::string d = MakeRegistryDir();
        setenv("GAVEX_REGISTRY_DIR", d.c_str(), 1);
        std::ofstream(d + "/machine.reg") << "[SOFTWARE\\QOR\\Vindara\\Debug]\n\"Path\"=\"" << d << "\"\n";
        return d;
    }();
    return dir;
}

void WriteMachineRegistry(const std::string& text) {
    std::ofstream(RegistryDir() + "/machine.reg", std::ios::trunc)
        << "[SOFTWARE\\QOR\\Vindara\\Debug]\n\"Path\"=\"" << RegistryDir() << "\"\n"
        << text;
}

std::string ReadMachineRegistry() {
    std::ifstream in(RegistryDir() + "/machine.reg");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ScopedTimeZone::ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
        m_had = true;
        m_old = old;
    }
    setenv("TZ", zone, 1);
    tzset();
    TssTimeZone::Reset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (m_had)
        setenv("TZ", m_old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    TssTimeZone::Reset();
}

void RunOrAbort(const char* what, const std::function<void()>& body, std::chrono::seconds timeout) {
    auto done = std::make_shared<Latch>();
    std::thread worker([body, done] {
        body();
        done->Set();
    });
    if (!done->Wait(timeout)) {
        std::fprintf(stderr, "FAILED: %s did not finish within %lld s (deadlock?)\n", what,
                     static_cast<long long>(timeout.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    worker.join();
}

}  // namespace enginetest
