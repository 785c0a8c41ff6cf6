#include "playback/Clocks.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace utils {

uint32_t MonotonicTick() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

namespace {

double ClampRate(double x) {
    if (x >= 1000.0) return 1000.0;
    if (x > 0.001 && x < 1000.0) return x;
    return 0.001;  // zero, negative, NaN
}

}  // namespace

// ---- Clock ----

Clock::Clock(TickSource ticks) : m_ticks(std::move(ticks)) {
    m_lastTick = m_ticks();
    m_accumulated = m_lastTick;
}

int64_t Clock::TimeLocked(uint32_t t) {
    // Unsigned difference: counts forward across the 32-bit wrap.
    const auto advance = [&] { return int64_t(double(uint32_t(t - m_lastTick)) * m_rate); };
    if (t < m_lastTick) {
        m_accumulated += advance();
        m_lastTick = t;
    }
    return advance() + m_accumulated;
}

int64_t Clock::GetTime() {
    std::lock_guard<std::mutex> lock(m_lock);
    return TimeLocked(m_ticks());
}

void Clock::SetRate(double rate) {
    std::lock_guard<std::mutex> lock(m_lock);
    const uint32_t t = m_ticks();
    m_accumulated = TimeLocked(t);
    m_lastTick = t;
    m_rate = ClampRate(rate);
}

double Clock::GetRate() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_rate;
}

// ---- ExternalClock ----

ExternalClock::ExternalClock(TickSource ticks) : m_inner(std::make_shared<Clock>(std::move(ticks))) {
    m_base = m_inner->GetTime();
}

int64_t ExternalClock::ElapsedLocked() {
    return m_externalStart == -1 ? m_inner->GetTime() - m_base : m_externalLast - m_externalStart;
}

void ExternalClock::FoldLocked() { m_total += ElapsedLocked(); }

int64_t ExternalClock::GetTime() {
    std::lock_guard<std::mutex> lock(m_lock);
    return ElapsedLocked() + m_total;
}

void ExternalClock::SetRate(double rate) {
    std::lock_guard<std::mutex> lock(m_lock);
    FoldLocked();
    m_base = m_inner->GetTime();
    m_externalStart = -1;
    m_inner->SetRate(rate);
}

double ExternalClock::GetRate() { return m_inner->GetRate(); }

void ExternalClock::SetExternalTime(int64_t position) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_externalStart == -1) {
        FoldLocked();
        m_base = m_inner->GetTime();
        m_externalStart = position;
    }
    m_externalLast = position;
}

void ExternalClock::UseInternalTime() {
    std::lock_guard<std::mutex> lock(m_lock);
    FoldLocked();
    m_base = m_inner->GetTime();
    m_externalStart = -1;
}

// ---- WaitableClock ----

WaitableClock::WaitableClock(std::shared_ptr<IClock> inner)
    : m_inner(inner ? std::move(inner) : std::make_shared<Clock>()) {
    m_thread = std::thread([this] { TimerLoop(); });
    // Real-time priority where the process may have it; otherwise the thread
    // keeps the ordinary policy.
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(m_thread.native_handle(), SCHED_FIFO, &param);
}

WaitableClock::~WaitableClock() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_running = false;
        m_waitingEnabled = false;
        WakePassLocked(true);
        m_timerCond.notify_all();
    }
    m_thread.join();
}

int64_t WaitableClock::GetTime() { return m_inner->GetTime(); }

double WaitableClock::GetRate() { return m_inner->GetRate(); }

void WaitableClock::SetRate(double rate) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_inner->SetRate(rate);
    m_timerCond.notify_all();
}

void WaitableClock::WaitUntil(int64_t time) {
    if (GetTime() >= time) return;
    Waiter waiter;
    waiter.wakeTime = time;
    waiter.thread = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_waitingEnabled) return;
        auto at = std::upper_bound(m_queue.begin(), m_queue.end(), time,
                                   [](int64_t t, const Waiter* w) { return t < w->wakeTime; });
        const bool front = at == m_queue.begin();
        m_queue.insert(at, &waiter);
        if (front) m_timerCond.notify_all();
    }
    std::unique_lock<std::mutex> lock(waiter.lock);
    waiter.cond.wait(lock, [&] { return waiter.done; });
}

void WaitableClock::SetWaitingEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_waitingEnabled = enabled;
    if (!enabled) WakePassLocked(true);
    m_timerCond.notify_all();
}

void WaitableClock::Poke() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_poked = true;
    m_timerCond.notify_all();
}

size_t WaitableClock::WaiterCount() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queue.size();
}

int64_t WaitableClock::EarliestWakeTime() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queue.empty() ? 0 : m_queue.front()->wakeTime;
}

uint64_t WaitableClock::TimerPasses() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_passes;
}

double WaitableClock::TimerThreadCpuSeconds() {
    clockid_t id;
    timespec ts{};
    if (pthread_getcpuclockid(m_thread.native_handle(), &id) != 0 || clock_gettime(id, &ts) != 0) return 0;
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void WaitableClock::SetWakeObserver(std::function<void(std::thread::id)> observer) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_wakeObserver = std::move(observer);
}

void WaitableClock::WakePassLocked(bool all) {
    const int64_t now = m_inner->GetTime();
    size_t n = 0;
    while (n < m_queue.size() && (all || m_queue[n]->wakeTime <= now)) {
        Waiter* w = m_queue[n++];
        if (m_wakeObserver) m_wakeObserver(w->thread);
        // The waiter may return and leave its stack frame as soon as done is
        // set and its mutex released: nothing touches it afterwards.
        std::lock_guard<std::mutex> lock(w->lock);
        w->done = true;
        w->cond.notify_all();
    }
    m_queue.erase(m_queue.begin(), m_queue.begin() + std::ptrdiff_t(n));
}

void WaitableClock::TimerLoop() {
    using namespace std::chrono;
    constexpr int64_t kMaxSpanMs = 16;
    std::unique_lock<std::mutex> lock(m_lock);
    while (m_running) {
        // The span comes from the queue as it is now, under the lock, so a
        // waiter queued before this thread first slept is not overlooked.
        if (!m_poked) {
            if (m_queue.empty()) {
                m_timerCond.wait(lock);
            } else {
                const int64_t t = m_queue.front()->wakeTime;
                const int64_t now = m_inner->GetTime();
                // At least 1 ms while the time is ahead: a shorter span would spin.
                const int64_t wait =
                    t > now ? std::max<int64_t>(1, int64_t(double(t - now) * (1.0 / m_inner->GetRate()))) : 0;
                if (wait > 0) m_timerCond.wait_for(lock, milliseconds(std::min(wait, kMaxSpanMs)));
            }
        }
        m_poked = false;
        if (!m_running) break;
        ++m_passes;
        WakePassLocked(false);
    }
}

}  // namespace utils
