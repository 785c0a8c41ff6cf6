#include "widgets/QCustomProgressBar.h"

QCustomProgressBar::QCustomProgressBar() : QFrame(nullptr), fill(this)
{
    setContentsMargins(0, 0, 0, 0);
    fill.show();
    fill.setGeometry(0, 0, 0, height());
}

void QCustomProgressBar::setValue(int percent)
{
    value = percent;
    fill.setGeometry(0, 0, value * width() / 100, height());
}

void QCustomProgressBar::resizeEvent(QResizeEvent*)
{
    fill.setGeometry(0, 0, width() * value / 100, height());
}

void QCustomProgressBar::reset()
{
    value = 0;
    fill.setGeometry(0, 0, 0, height());
}
