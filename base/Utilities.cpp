#include "base/Utilities.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include <sys/statvfs.h>

#include "base/Log.h"

// --- CalcTime ----------------------------------------------------------------

namespace {
std::atomic<CalcTime::Clock> g_calcTimeClock{nullptr};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }
} // namespace

uint32_t CalcTime::Now()
{
    if (Clock clock = g_calcTimeClock.load(std::memory_order_relaxed))
        return clock();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

void CalcTime::SetClockForTesting(Clock clock) { g_calcTimeClock.store(clock); }

CalcTime::CalcTime(const char* name, uint32_t thresholdMs, std::string message,
                   QorLog::CDebug* logger)
    : m_message(std::move(message)), m_name(name != nullptr ? name : ""), m_threshold(thresholdMs),
      m_start(Now()), m_logger(logger)
{
}

CalcTime::~CalcTime()
{
    const uint32_t elapsed = Now() - m_start; // unsigned: right across a wrap
    if (elapsed <= m_threshold)
        return;
    QorLog::CDebug* log = m_logger != nullptr ? m_logger : getDefaultDebugInstance();
    log->Warning("------> CALCTIME(%s) %lu ms - %s", m_name, static_cast<unsigned long>(elapsed),
                 m_message.c_str());
}

// --- paths and disks -----------------------------------------------------------

void GetRootPath(const char* path, char* out)
{
    size_t n = 0;
    if (path != nullptr)
        for (; path[n] != '\0' && n < kMaxPathChars - 1; ++n)
            out[n] = path[n];
    out[n] = '\0';

    size_t cut = n; // length kept
    if (n >= 2 && IsSeparator(out[0]) && IsSeparator(out[1])) {
        // \\server\share\ : the separator after the share name.
        size_t i = 2;
        while (i < n && !IsSeparator(out[i]))
            ++i; // server
        if (i < n) {
            ++i;
            while (i < n && !IsSeparator(out[i]))
                ++i; // share
            if (i < n)
                cut = i + 1;
        }
    } else {
        for (size_t i = 0; i < n; ++i)
            if (IsSeparator(out[i])) {
                cut = i + 1;
                break;
            }
    }
    out[cut] = '\0';
}

uint64_t GetDiskFreeMegabytes(const char* path)
{
    if (path == nullptr)
        return 0;
    char bounded[kMaxPathChars];
    std::strncpy(bounded, path, sizeof bounded - 1);
    bounded[sizeof bounded - 1] = '\0';
    struct statvfs fs{};
    if (statvfs(bounded, &fs) != 0)
        return 0;
    return (static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize) >> 20;
}

void EnablePriorityBoost(void*) {}

// --- TaskThreadGroup -------------------------------------------------------------

TaskThreadGroup::TaskThreadGroup() = default;

TaskThreadGroup::~TaskThreadGroup()
{
    if (m_running)
        Stop();
    // Threads added after a Stop are still joined.
    Stop();
}

void TaskThreadGroup::AddThread(boost::function<void()> body)
{
    boost::unique_lock<boost::mutex> lock(m_threadsLock);
    m_running = true;
    m_threads.push_back(std::make_unique<boost::thread>(std::move(body)));
}

void TaskThreadGroup::AddTask(boost::function<void()> task)
{
    {
        boost::unique_lock<boost::mutex> lock(m_tasksLock);
        m_tasks.push_back(std::move(task));
    }
    m_taskAdded.notify_one();
}

boost::function<void()> TaskThreadGroup::TakeTask()
{
    boost::unique_lock<boost::mutex> lock(m_tasksLock);
    while (m_running && m_tasks.empty())
        m_taskAdded.wait(lock); // interruption point
    if (!m_running || m_tasks.empty())
        return {};
    boost::function<void()> task = std::move(m_tasks.front());
    m_tasks.erase(m_tasks.begin());
    return task;
}

void TaskThreadGroup::Stop()
{
    m_running = false;
    std::vector<std::unique_ptr<boost::thread>> taken;
    {
        boost::unique_lock<boost::mutex> lock(m_threadsLock);
        taken.swap(m_threads);
    }
    {
        // Wake threads waiting for a task; the lock orders the flag before
        // their re-check.
        boost::unique_lock<boost::mutex> lock(m_tasksLock);
        m_taskAdded.notify_all();
    }
    for (auto& thread : taken)
        thread->interrupt();
    for (auto& thread : taken)
        if (thread->joinable())
            thread->join();
    {
        boost::unique_lock<boost::mutex> lock(m_tasksLock);
        m_tasks.clear();
    }
}

size_t TaskThreadGroup::GetThreadCount()
{
    boost::unique_lock<boost::mutex> lock(m_threadsLock);
    return m_threads.size();
}

size_t TaskThreadGroup::GetPendingTaskCount()
{
    boost::unique_lock<boost::mutex> lock(m_tasksLock);
    return m_tasks.size();
}
