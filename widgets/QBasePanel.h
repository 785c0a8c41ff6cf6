#pragma once
// Base of the docked panels: a strip whose height is fixed by its tiled
// background image, with a delimiter image at its left edge.

#include <QImage>
#include <QWidget>

class QBasePanel : public QWidget {
public:
    QBasePanel();

    // Derived panels call this first from their own paint events.
    void PaintBackground(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;

    QImage background;
    QImage delimiter;
};
