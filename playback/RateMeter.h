#pragma once
// A rate per second over the last 30 samples (frames per second, bytes per
// second of the source pin's information text).

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>

class RateMeter {
public:
    using Now = std::function<int64_t()>;  // microseconds, monotonic
    explicit RateMeter(Now now = nullptr);

    void Add(int64_t value);
    int64_t GetRate() const { return m_rate; }
    int64_t GetMaximum() const { return m_maximum; }

private:
    struct Sample {
        int64_t value;
        int64_t timeUs;
    };
    Now m_now;
    std::deque<Sample> m_samples;
    int64_t m_sum = 0;
    int64_t m_rate = 0;
    int64_t m_maximum = 0;
};
