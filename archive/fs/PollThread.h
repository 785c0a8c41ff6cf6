#pragma once
// Small timing helpers of the archive engine.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/thread.hpp>

namespace ThreadRoutines {

// Runs one function over and over on its own thread with a fixed pause
// between the end of one run and the start of the next. Destruction
// interrupts the pause at once and waits for a run in progress.
class PollTimeoutThread {
public:
    explicit PollTimeoutThread(int64_t periodMicroseconds = 5000000) : m_period(periodMicroseconds) {}
    virtual ~PollTimeoutThread();
    PollTimeoutThread(const PollTimeoutThread&) = delete;
    PollTimeoutThread& operator=(const PollTimeoutThread&) = delete;

    // Does nothing when the thread is already running.
    void Start(std::function<void()> poll);
    bool IsRunning() const { return m_thread.joinable(); }
    // Takes effect from the next pause on.
    void SetPeriod(int64_t microseconds) { m_period.store(microseconds); }
    int64_t GetPeriod() const { return m_period.load(); }

private:
    void Run();

    std::function<void()> m_poll;
    std::atomic<int64_t> m_period;
    boost::thread m_thread;
};

}  // namespace ThreadRoutines

// Stretches the block it lives in to at least the given number of seconds:
// the destructor sleeps (not interruptibly) for whatever is left.
class TestDelay {
public:
    explicit TestDelay(int seconds);
    virtual ~TestDelay();
    TestDelay(const TestDelay&) = delete;
    TestDelay& operator=(const TestDelay&) = delete;

private:
    boost::posix_time::time_duration m_delay;
    boost::posix_time::ptime m_start;
};
