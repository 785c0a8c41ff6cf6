#pragma once
// Turns the last few pointer positions into a flick velocity.

#include <QList>
#include <QPointF>

#include <cstdint>
#include <functional>

class KineticTracker {
public:
    // Milliseconds from a monotonic source; only differences matter.
    using Clock = std::function<std::int64_t()>;

    // The default clock is the process's monotonic timer.
    KineticTracker();
    explicit KineticTracker(Clock clock);

    void Start(const QPointF& point);
    void AddSample(const QPointF& point);
    int ElapsedSpan() const;
    int SampleCount() const { return int(points.size()); }
    // Pixels per second between the oldest and the newest held sample.
    QPointF Velocity() const;

    static constexpr int MaxSamples = 5;

private:
    Clock clock;
    std::int64_t startTime = 0;
    bool started = false;
    QList<QPointF> points;
    QList<int> times;
};
