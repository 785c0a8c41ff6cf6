#include "base/ThreadPool.h"

thread_pool::thread_pool(std::size_t count, job start, job stop) : m_available(count) {
    m_workers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) m_workers.emplace_back([this, start, stop] { worker(start, stop); });
}

thread_pool::~thread_pool() { stop_pool(); }

void thread_pool::worker(job start, job stop) {
    if (start) start();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_jobCond.wait(lock, [&] { return m_stopped || !m_queue.empty(); });
        if (m_stopped) break;  // jobs still queued are dropped
        job j = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        try {
            if (j) j();
        } catch (...) {
            // A failing job counts as done.
        }
        lock.lock();
        ++m_available;
        m_cond.notify_all();
    }
    lock.unlock();
    if (stop) stop();
}

void thread_pool::post(job j) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [&] { return m_available > 0 || m_stopped; });
    if (m_stopped) return;
    --m_available;
    m_queue.push_back(std::move(j));
    m_jobCond.notify_one();
}

void thread_pool::wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait(lock, [&] { return m_available == m_workers.size() || m_stopped; });
}

void thread_pool::stop_pool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) return;
        m_stopped = true;
        m_queue.clear();
    }
    m_cond.notify_all();
    m_jobCond.notify_all();
    for (auto& t : m_workers) {
        if (t.joinable()) {
            try {
                t.join();
            } catch (...) {
            }
        }
    }
}
