#pragma once
// A property animation that leaves its start value at a given speed and
// comes to rest at its end value (a cubic easing with slope k at 0 and 0 at 1).

#include <QPropertyAnimation>

class QSpeedBasedAnimation : public QPropertyAnimation {
public:
    using QPropertyAnimation::QPropertyAnimation;

    // speed in units per second; a running animation already heading for
    // `to` is left alone.
    void Start(double from, double to, double speed, double durationSeconds);
    virtual double Ease(double progress) const;

    double CoefficientA() const { return A; }
    double CoefficientB() const { return B; }
    double CoefficientC() const { return C; }

protected:
    QVariant interpolated(const QVariant& from, const QVariant& to, qreal progress) const override;

private:
    // Without Start: 3p^2 - 2p^3.
    double A = -2;
    double B = 3;
    double C = 0;
};
