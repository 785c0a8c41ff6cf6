#pragma once
// A progress bar of two plain frames; the owning panel's style sheet gives
// both their look.

#include <QFrame>

class QCustomProgressBar : public QFrame {
    Q_OBJECT

public:
    QCustomProgressBar();

    int Value() const { return value; }
    const QFrame& Fill() const { return fill; }

public slots:
    void reset();
    // percent is not limited: above 100 the fill is clipped by the bar.
    void setValue(int percent);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QFrame fill;
    int value = 0;
};
