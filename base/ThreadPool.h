// Fixed set of worker threads for short jobs.
//
// post() hands a job to an idle worker and blocks while every worker is
// busy, so no more jobs are ever queued than there are idle workers; wait()
// blocks until every worker is idle. Jobs that throw are swallowed and count
// as done. The destructor stops the pool: jobs not yet started are dropped,
// running jobs finish, every worker runs its stop function and is joined.
// post, wait and the destructor belong to the owning thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

class thread_pool {
public:
    using job = std::function<void()>;

    // count workers; each calls start (if any) when it begins and stop (if
    // any) before it ends, on its own thread.
    explicit thread_pool(std::size_t count, job start = {}, job stop = {});
    virtual ~thread_pool();
    thread_pool(const thread_pool&) = delete;
    thread_pool& operator=(const thread_pool&) = delete;

    // Blocks until a worker is idle; dropped when the pool is stopped. An
    // empty job counts as a job that failed.
    void post(job j);
    // Returns when every worker is idle or the pool is stopped.
    void wait();
    std::size_t size() const { return m_workers.size(); }

protected:
    // Called with the error that ended a worker's run of the queue; ignores
    // it. (The queue here does not fail; kept for subclasses.)
    virtual void on_error(const std::error_code&) {}

private:
    void worker(job start, job stop);
    void stop_pool();

    std::mutex m_mutex;
    std::condition_variable m_cond;    // available / stopped changes
    std::condition_variable m_jobCond; // queue changes
    std::deque<job> m_queue;
    std::size_t m_available = 0;
    bool m_stopped = false;
    std::vector<std::thread> m_workers;
};
