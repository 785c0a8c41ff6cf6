// Event-rate counters: how many events (frames, bytes) per second pass a
// point, smoothed over time.
//
// Adding is one atomic addition and one clock read; the rate is recomputed at
// most once per interval (1000 ms) by the adding thread that notices the
// interval has passed. Any thread may add. Two threads that both notice may
// both update: each takes only the pending count it exchanged, so no event is
// counted twice; the rate and the last update time are the last writer's.
//
// The clock is the monotonic clock in nanoseconds (frequency 1e9); tests may
// replace it process-wide (SetPerformanceClockForTesting).
//
// Figures are written into a Msg as parameters ("value" for a counter; "fps",
// "bps", "count" for a frames counter), all as doubles.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <boost/intrusive_ptr.hpp>

class Msg;
class VideoFrame;

namespace QorStatistics {

// Current clock value; false when the clock cannot be read.
bool ReadPerformanceCounter(uint64_t& value);
// Clock ticks per second, read once per process.
uint64_t PerformanceFrequency();
// Replaces the clock (null restores the monotonic clock). Test seam; set it
// while no counter is in use.
void SetPerformanceClockForTesting(bool (*clock)(uint64_t& value));

class CBaseCounter
{
public:
    explicit CBaseCounter(double smoothing);

    double GetRate() const { return m_rate.load(std::memory_order_relaxed); }
    double GetSmoothing() const { return m_smoothing; }
    double GetIntervalMs() const { return m_intervalMs; }
    int32_t GetPending() const { return m_pending.load(); }
    int32_t GetTotal() const { return m_total.load(); }
    uint64_t GetLastUpdate() const { return m_lastUpdate.load(std::memory_order_relaxed); }

protected:
    // Milliseconds from the last update to `now` (unsigned difference).
    double MsSinceLastUpdate(uint64_t now) const;

    // Atomic only so that racing updates are well defined; they are not
    // serialised (the last writer wins).
    std::atomic<uint64_t> m_lastUpdate{0};
    double m_smoothing;
    std::atomic<double> m_rate{0.0};
    double m_intervalMs = 1000.0;
    std::atomic<int32_t> m_pending{0};
    std::atomic<int32_t> m_total{0};
};

class CBasePerformanceCounter : public CBaseCounter
{
public:
    explicit CBasePerformanceCounter(double smoothing) : CBaseCounter(smoothing) {}
    virtual ~CBasePerformanceCounter() = default;

    // Takes the pending count into the rate:
    //   k = pending (reset to 0), p = total before adding k,
    //   w = f + (1 - f) / (p ? p : 1), s = seconds since the last update,
    //   rate = k * w / s + (1 - w) * rate.
    // The first update therefore gives the plain rate; as the total grows the
    // newest interval's weight falls towards f. An update at the same clock
    // value as the last one (s = 0) leaves the rate and the pending count.
    virtual void Update(uint64_t now);

    // Counts n events; updates when more than the interval has passed since
    // the last update.
    void Add(int32_t n);

protected:
    // Reads the clock and updates when the interval has passed.
    void UpdateIfDue();
};

class ISendingStatistics
{
public:
    virtual ~ISendingStatistics() = default;
    // Writes the figures into the message and releases the pointer's
    // reference (the pointer is taken by value and dropped).
    virtual void FillStatistics(boost::intrusive_ptr<Msg> message) = 0;
    // Updates when the interval has passed.
    virtual void RefreshIfDue() = 0;
};

class CPerformanceCounter : public CBasePerformanceCounter, public ISendingStatistics
{
public:
    // Rate 0, interval 1000 ms, last update now.
    explicit CPerformanceCounter(double smoothing);

    // "value" = the rate.
    void FillStatistics(boost::intrusive_ptr<Msg> message) override;
    void RefreshIfDue() override { UpdateIfDue(); }
};

// Frames and their bytes, with a plain frame count that starts at -1 (not
// counting) and counts from the first FillStatistics on.
class CPerformanceFramesCounter : public ISendingStatistics
{
public:
    static constexpr double kSmoothing = 0.8;

    CPerformanceFramesCounter();

    // One frame of frame->m_cbData bytes (0 bytes without a frame).
    void AddFrame(const VideoFrame* frame);

    // "fps", "bps" and "count"; then the frame count becomes 0.
    void FillStatistics(boost::intrusive_ptr<Msg> message) override;
    void RefreshIfDue() override;

    CPerformanceCounter& Frames() { return m_frames; }
    CPerformanceCounter& Bytes() { return m_bytes; }
    int32_t GetFrameCount() const { return m_frameCount.load(); }
    // For owners that count frames themselves (the file recorder): adds one
    // when the count has started.
    void CountFrame();

private:
    CPerformanceCounter m_frames;
    CPerformanceCounter m_bytes;
    std::atomic<int32_t> m_frameCount{-1};
};

} // namespace QorStatistics

// A new frames counter recorded under `name` in the process-wide counter map
// (a weak reference, replacing an earlier entry of the same name). The caller
// owns the counter; the map never keeps one alive.
std::shared_ptr<QorStatistics::CPerformanceFramesCounter> GetFramesCounter(const std::string& name);

// The counter recorded under `name`, null when there is none or it has been
// destroyed. Nothing in the program reads the map; this is for inspection.
std::shared_ptr<QorStatistics::CPerformanceFramesCounter> FindFramesCounter(const std::string& name);
