// A private logger for tests: its own folder and registry store, debugger
// output only, every finished line caught in memory as it is made.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/TempDir.h"

#include "base/Log.h"

namespace gavex_test {

class CapturedLog {
public:
    // level: the logger's debug level; registryKey: the product key the
    // logger reads its settings under (in the private store).
    CapturedLog(const std::string& tag, int level, const std::string& registryKey) : m_temp(tag)
    {
        std::filesystem::create_directories(m_temp.path() + "/reg");
        setenv("GAVEX_REGISTRY_DIR", (m_temp.path() + "/reg").c_str(), 1);
        QorLog::DebugSettings settings{0, 100, 0, 0x10, level, 8192, 4096};
        m_log = std::make_unique<QorLog::CDebug>(m_temp.path(), registryKey, "", &settings);
        m_log->SetDebugOutputForTesting([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_linesLock);
            m_lines.push_back(line);
        });
    }
    ~CapturedLog()
    {
        m_log.reset();
        unsetenv("GAVEX_REGISTRY_DIR");
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    QorLog::CDebug* logger() const { return m_log.get(); }
    const std::string& dir() const { return m_temp.path(); }

    // The lines caught since the last call, oldest first.
    std::vector<std::string> TakeLines()
    {
        std::lock_guard<std::mutex> lock(m_linesLock);
        std::vector<std::string> lines;
        lines.swap(m_lines);
        return lines;
    }

private:
    TempDir m_temp;
    std::unique_ptr<QorLog::CDebug> m_log;
    std::mutex m_linesLock;
    std::vector<std::string> m_lines;
};

}  // namespace gavex_test
