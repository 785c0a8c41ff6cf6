#include "base/PerfCounters.h"

#include <time.h>

#include "base/Messages.h"
#include "base/VideoFrame.h"

namespace QorStatistics {

namespace {

bool MonotonicClock(uint64_t& value)
{
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
        return false;
    value = static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
    return true;
}

std::atomic<bool (*)(uint64_t&)> g_clock{&MonotonicClock};

} // namespace

bool ReadPerformanceCounter(uint64_t& value)
{
    return g_clock.load(std::memory_order_acquire)(value);
}

uint64_t PerformanceFrequency()
{
    // The monotonic clock counts nanoseconds.
    static const uint64_t frequency = 1000000000ull;
    return frequency;
}

void SetPerformanceClockForTesting(bool (*clock)(uint64_t& value))
{
    g_clock.store(clock ? clock : &MonotonicClock, std::memory_order_release);
}

CBaseCounter::CBaseCounter(double smoothing) : m_smoothing(smoothing)
{
    uint64_t now = 0;
    if (ReadPerformanceCounter(now))
        m_lastUpdate.store(now, std::memory_order_relaxed);
}

double CBaseCounter::MsSinceLastUpdate(uint64_t now) const
{
    // Unsigned difference: a clock value below the last one (another thread
    // updated in between) reads as a very long time and updates at once.
    return static_cast<double>(now - GetLastUpdate()) / static_cast<double>(PerformanceFrequency()) *
           1000.0;
}

void CBasePerformanceCounter::Update(uint64_t now)
{
    const double seconds =
        static_cast<double>(now - GetLastUpdate()) / static_cast<double>(PerformanceFrequency());
    if (seconds <= 0.0)
        return; // no time has passed: a rate cannot be taken yet
    const int32_t k = m_pending.exchange(0);
    const int32_t p = m_total.fetch_add(k);
    const double w = m_smoothing + (1.0 - m_smoothing) / (p != 0 ? p : 1);
    m_rate.store(k * w / seconds + (1.0 - w) * GetRate(), std::memory_order_relaxed);
    m_lastUpdate.store(now, std::memory_order_relaxed);
}

void CBasePerformanceCounter::UpdateIfDue()
{
    uint64_t now = 0;
    if (!ReadPerformanceCounter(now))
        return;
    if (MsSinceLastUpdate(now) > m_intervalMs)
        Update(now);
}

void CBasePerformanceCounter::Add(int32_t n)
{
    m_pending.fetch_add(n);
    UpdateIfDue();
}

CPerformanceCounter::CPerformanceCounter(double smoothing) : CBasePerformanceCounter(smoothing) {}

void CPerformanceCounter::FillStatistics(boost::intrusive_ptr<Msg> message)
{
    if (message)
        message->SetParam("value", GetRate());
}

CPerformanceFramesCounter::CPerformanceFramesCounter() : m_frames(kSmoothing), m_bytes(kSmoothing) {}

void CPerformanceFramesCounter::CountFrame()
{
    int32_t count = m_frameCount.load();
    while (count >= 0 && !m_frameCount.compare_exchange_weak(count, count + 1)) {
    }
}

void CPerformanceFramesCounter::AddFrame(const VideoFrame* frame)
{
    m_frames.Add(1);
    m_bytes.Add(frame ? static_cast<int32_t>(frame->m_cbData) : 0);
    CountFrame();
}

void CPerformanceFramesCounter::FillStatistics(boost::intrusive_ptr<Msg> message)
{
    if (message) {
        message->SetParam("fps", m_frames.GetRate());
        message->SetParam("bps", m_bytes.GetRate());
        message->SetParam("count", static_cast<double>(m_frameCount.load()));
    }
    m_frameCount.store(0);
}

void CPerformanceFramesCounter::RefreshIfDue()
{
    m_frames.RefreshIfDue();
    m_bytes.RefreshIfDue();
}

} // namespace QorStatistics

namespace {

struct FramesCounterRegistry {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<QorStatistics::CPerformanceFramesCounter>> counters;
};

FramesCounterRegistry& Registry()
{
    static FramesCounterRegistry registry;
    return registry;
}

} // namespace

std::shared_ptr<QorStatistics::CPerformanceFramesCounter> GetFramesCounter(const std::string& name)
{
    auto counter = std::make_shared<QorStatistics::CPerformanceFramesCounter>();
    FramesCounterRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.counters[name] = counter;
    return counter;
}

std::shared_ptr<QorStatistics::CPerformanceFramesCounter> FindFramesCounter(const std::string& name)
{
    FramesCounterRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto it = registry.counters.find(name);
    return it == registry.counters.end() ? nullptr : it->second.lock();
}
