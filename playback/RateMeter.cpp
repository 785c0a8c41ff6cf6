#include "playback/RateMeter.h"

#include <algorithm>
#include <cmath>

RateMeter::RateMeter(Now now) : m_now(std::move(now)) {
    if (!m_now)
        m_now = [] {
            return std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
}

void RateMeter::Add(int64_t value) {
    constexpr size_t kCapacity = 30;
    if (m_samples.size() > kCapacity) {
        m_sum -= m_samples.front().value;
        m_samples.pop_front();
    }
    m_samples.push_back({value, m_now()});
    m_sum += value;
    const int64_t spanMs = (m_samples.back().timeUs - m_samples.front().timeUs) / 1000;
    if (spanMs != 0)
        m_rate = int64_t(double(m_sum - m_samples.front().value) * 1000.0 / double(spanMs) + 0.5);
    m_maximum = std::max(m_maximum, m_rate);
}
