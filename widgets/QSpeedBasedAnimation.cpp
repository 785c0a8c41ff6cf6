#include "widgets/QSpeedBasedAnimation.h"

void QSpeedBasedAnimation::Start(double from, double to, double speed, double durationSeconds)
{
    if (state() == QAbstractAnimation::Running && endValue() == QVariant(to))
        return;
    stop();
    if (to != from) {
        const double k = durationSeconds * speed / (to - from);
        A = k - 2;
        B = 3 - 2 * k;
        C = k;
    } else {
        A = B = C = 0;
    }
    setStartValue(from);
    setEndValue(to);
    setDuration(static_cast<int>(durationSeconds * 1000));
    if (A != 0 || B != 0 || C != 0)
        start();
}

double QSpeedBasedAnimation::Ease(double p) const
{
    return ((A * p + B) * p + C) * p;
}

QVariant QSpeedBasedAnimation::interpolated(const QVariant& from, const QVariant& to, qreal progress) const
{
    return QPropertyAnimation::interpolated(from, to, Ease(progress));
}
