// The process logger's lines caught in memory while a test runs.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/Log.h"
#include "platform/RegistryStore.h"

namespace enginetest {

// Lines of the process logger while the object lives; `active` is false when
// the logger was set up earlier in this process without debugger output.
class ProcessLogCapture {
public:
    ProcessLogCapture() {
        auto store = platform::RegistryStore::Current();
        // Read only if this creates the process logger; taken out again at
        // once so that later tests see the usual settings.
        store->SetValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Debug", "DebugOptions",
                        platform::RegistryValue::Number(0x10));
        store->SetValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Debug", "DebugLevel",
                        platform::RegistryValue::Text("2"));
        m_log = getDefaultDebugInstance();
        store->DeleteValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Debug", "DebugOptions");
        store->DeleteValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Debug", "DebugLevel");
        active = (m_log->GetDebugOptions() & 0x10) != 0;
        if (!active) return;
        m_log->m_level = 2;  // message level
        m_log->SetDebugOutputForTesting([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~ProcessLogCapture() {
        if (active) {
            m_log->SetDebugOutputForTesting(nullptr);
            m_log->m_level = 0;
        }
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // Index of the first line holding `text` at or after `from`; -1 if none.
    int Find(const std::string& text, int from = 0) {
        const auto lines = Lines();
        for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
        return -1;
    }
    bool active = false;

private:
    QorLog::CDebug* m_log = nullptr;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace enginetest
