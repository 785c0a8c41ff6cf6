// Small process services: the slow-block timer, path roots, free disk space
// and the archive engine's worker-thread group.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/function.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

namespace QorLog {
class CDebug;
}

// Scoped timer: when the block it lives in took strictly longer than the
// threshold, the destructor logs the warning
// "------> CALCTIME(<name>) <ms> ms - <message>". Elapsed time is computed in
// 32-bit milliseconds, so it stays right across a wrap of the clock.
class CalcTime
{
public:
    // `name` must outlive the timer (a literal). The warning goes to `logger`,
    // or to the process logger when none is given.
    CalcTime(const char* name, uint32_t thresholdMs, std::string message,
             QorLog::CDebug* logger = nullptr);
    ~CalcTime();
    CalcTime(const CalcTime&) = delete;
    CalcTime& operator=(const CalcTime&) = delete;

    // The millisecond clock (monotonic, 32-bit). Tests may replace it.
    static uint32_t Now();
    using Clock = uint32_t (*)();
    static void SetClockForTesting(Clock clock);

private:
    std::string m_message;
    const char* m_name;
    uint32_t m_threshold;
    uint32_t m_start;
    QorLog::CDebug* m_logger;
};

// Maximum length of a path handled by the functions below, terminator included.
inline constexpr size_t kMaxPathChars = 260;

// Writes the root of `path` into `out` (kMaxPathChars bytes): for a UNC-style
// path (two leading separators, '/' or '\' in any mix) up to and including the
// separator after the share name (the whole path when there is none);
// otherwise up to and including the first separator; a path without one is
// copied whole. The path is cut to 259 characters first.
void GetRootPath(const char* path, char* out);

// Free megabytes available to this process on the file system holding `path`;
// 0 on failure.
uint64_t GetDiskFreeMegabytes(const char* path);

// Threads on this platform have no priority boost to enable: does nothing.
void EnablePriorityBoost(void* threadHandle);

// Worker threads with a task list, owned by the archive engine.
// Stop() must not be called from one of the group's own threads (it joins
// them); it may be called more than once.
class TaskThreadGroup
{
public:
    TaskThreadGroup();
    ~TaskThreadGroup();
    TaskThreadGroup(const TaskThreadGroup&) = delete;
    TaskThreadGroup& operator=(const TaskThreadGroup&) = delete;

    // Starts a thread running `body` and marks the group running. The body
    // should reach boost interruption points (sleep, condition waits) so that
    // Stop() can end it.
    void AddThread(boost::function<void()> body);
    // Queues a task; the group's threads take tasks with TakeTask().
    void AddTask(boost::function<void()> task);
    // The oldest pending task, waiting (interruptibly) until one is queued or
    // the group stops; an empty function when stopped.
    boost::function<void()> TakeTask();

    // Clears the running flag, interrupts and joins every thread (in start
    // order, no time limit) and drops the pending tasks.
    void Stop();

    bool IsRunning() const { return m_running; }
    size_t GetThreadCount();
    size_t GetPendingTaskCount();

private:
    std::atomic<bool> m_running{false};
    boost::mutex m_threadsLock;
    std::vector<std::unique_ptr<boost::thread>> m_threads;
    boost::condition_variable m_taskAdded;
    boost::mutex m_tasksLock;
    std::vector<boost::function<void()>> m_tasks;
};
