#pragma once
// The time base of playback: millisecond clocks that advance at an
// adjustable rate, and a clock that threads can sleep on until it reaches a
// given time. All channels of a playback share one waitable clock.
//
// Clock time is a signed 64-bit number of milliseconds; only differences of
// readings of one clock carry meaning.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace utils {

class IClock {
public:
    virtual ~IClock() = default;
    virtual int64_t GetTime() = 0;
    virtual void SetRate(double rate) = 0;
    virtual double GetRate() = 0;
};

class IWaitableClock : public IClock {
public:
    // Returns when the clock reaches `time`, at once when it has or while
    // waiting is disabled.
    virtual void WaitUntil(int64_t time) = 0;
    // Disabling wakes every sleeper at once.
    virtual void SetWaitingEnabled(bool enabled) = 0;
};

// A free-running 32-bit millisecond counter (it wraps about every 49.7 days).
using TickSource = std::function<uint32_t()>;

// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits.
uint32_t MonotonicTick();

// Counts ticks of its tick source multiplied by its rate. Rates are clamped
// to 0.001..1000 (anything else, NaN included, reads as 0.001).
class Clock : public IClock {
public:
    explicit Clock(TickSource ticks = MonotonicTick);

    int64_t GetTime() override;
    void SetRate(double rate) override;
    double GetRate() override;

private:
    int64_t TimeLocked(uint32_t t);

    TickSource m_ticks;
    uint32_t m_lastTick;
    int64_t m_accumulated;
    double m_rate = 1.0;
    std::mutex m_lock;
};

// Runs on an inner Clock (internal mode) until an external source reports
// positions, then follows those (external mode): time is then the distance
// from the first reported position to the last, standing still between
// reports. Each change of mode folds the period into the total, so time
// never jumps at a change. Starts at 0.
class ExternalClock : public IClock {
public:
    explicit ExternalClock(TickSource ticks = MonotonicTick);

    int64_t GetTime() override;
    // Returns to internal mode.
    void SetRate(double rate) override;
    double GetRate() override;

    void SetExternalTime(int64_t position);
    void UseInternalTime();

private:
    int64_t ElapsedLocked();
    void FoldLocked();

    std::shared_ptr<IClock> m_inner;
    std::mutex m_lock;
    int64_t m_externalStart = -1;  // -1: internal mode
    int64_t m_externalLast = 0;
    int64_t m_base = 0;
    int64_t m_total = 0;
};

// Wraps a clock so that threads can sleep until it reaches a time. A timer
// thread of its own wakes the sleepers; it looks at the clock at least every
// 16 ms while anybody sleeps, so jumps of the inner clock (external mode,
// rate changes) wake sleepers with at most that delay. Waiting starts
// disabled.
class WaitableClock : public IWaitableClock {
public:
    // An empty inner clock gets a Clock of its own.
    explicit WaitableClock(std::shared_ptr<IClock> inner = nullptr);
    // Wakes every sleeper, then joins the timer thread.
    ~WaitableClock() override;
    WaitableClock(const WaitableClock&) = delete;
    WaitableClock& operator=(const WaitableClock&) = delete;

    int64_t GetTime() override;
    void SetRate(double rate) override;
    double GetRate() override;
    void WaitUntil(int64_t time) override;
    void SetWaitingEnabled(bool enabled) override;

    // Makes the timer thread look at the inner clock now (an inner clock that
    // was moved by other means, as simulated time in tests is).
    void Poke();
    // Threads sleeping in WaitUntil, and the earliest wake time (only
    // meaningful when there are any).
    size_t WaiterCount();
    int64_t EarliestWakeTime();
    // Passes of the timer loop so far, and the timer thread's processor
    // time in seconds (statistics).
    uint64_t TimerPasses();
    double TimerThreadCpuSeconds();
    // Called by the wake pass, under the clock lock, with the thread of each
    // waiter it wakes, in the order it wakes them (tests).
    void SetWakeObserver(std::function<void(std::thread::id)> observer);

private:
    struct Waiter {
        std::mutex lock;
        std::condition_variable cond;
        bool done = false;
        int64_t wakeTime = 0;
        std::thread::id thread;
    };

    void TimerLoop();
    void WakePassLocked(bool all);

    std::thread m_thread;
    bool m_running = true;
    bool m_waitingEnabled = false;
    bool m_poked = false;
    uint64_t m_passes = 0;
    std::condition_variable m_timerCond;
    std::mutex m_lock;
    std::function<void(std::thread::id)> m_wakeObserver;
    std::vector<Waiter*> m_queue;  // by wake time, equal times in arrival order
    std::shared_ptr<IClock> m_inner;
};

}  // namespace utils
