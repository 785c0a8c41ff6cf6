#include "widgets/KineticTracker.h"

#include <QElapsedTimer>

namespace {
std::int64_t MonotonicMilliseconds()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}
}  // namespace

KineticTracker::KineticTracker() : KineticTracker(MonotonicMilliseconds) {}

KineticTracker::KineticTracker(Clock clock) : clock(std::move(clock)) {}

void KineticTracker::Start(const QPointF& point)
{
    startTime = clock();
    started = true;
    points.clear();
    times.clear();
    AddSample(point);
}

void KineticTracker::AddSample(const QPointF& point)
{
    // Before Start the timer is not running: samples carry time 0.
    points.append(point);
    times.append(started ? static_cast<int>(clock() - startTime) : 0);
    if (points.count() > MaxSamples) {
        points.removeFirst();
        times.removeFirst();
    }
}

int KineticTracker::ElapsedSpan() const
{
    return times.isEmpty() ? 0 : times.last() - times.first();
}

QPointF KineticTracker::Velocity() const
{
    const int span = ElapsedSpan();
    if (span == 0)
        return QPointF(0, 0);
    return QPointF((points.last().x() - points.first().x()) / span * 1000,
                   (points.last().y() - points.first().y()) / span * 1000);
}
