#pragma once
// Shared pieces of the archive engine tests: a private settings store for
// the whole test program, a scoped time zone, and waiting with a time-out.

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>

namespace enginetest {

// The folder of the program's private settings store (machine.reg and
// user.reg), set up before the first test; the engine's log goes there too.
const std::string& RegistryDir();
// Replaces the machine scope's file with the given text (the store re-reads it).
void WriteMachineRegistry(const std::string& text);
std::string ReadMachineRegistry();

// Sets TZ for the lifetime of the object and restores the previous zone.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_had = false;
    std::string m_old;
};

// A flag one thread raises and another waits for, with a time-out.
class Latch {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
        m_cv.notify_all();
    }
    bool Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [this] { return m_set; });
    }
    bool IsSet() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_set;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

// Runs `body` on its own thread; when it has not finished within the
// time-out the test program is ended with a failure message instead of
// hanging (a deadlock would otherwise stop the whole run).
void RunOrAbort(const char* what, const std::function<void()>& body,
                std::chrono::seconds timeout = std::chrono::seconds(120));

}  // namespace enginetest
