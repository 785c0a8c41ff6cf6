#include "widgets/QBasePanel.h"

#include <QPainter>

#include "config/ResourcePaths.h"

QBasePanel::QBasePanel()
    // Names without extension: the image reader tries each supported one.
    : background(ResourcePath(ApplicationDirectory(), "Selected_VideoTimeLineBack")),
      delimiter(ResourcePath(ApplicationDirectory(), "Selected_VideoTimeLineBack_Panel_Delimiter"))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setMinimumHeight(background.height());
    setMaximumHeight(background.height());
}

void QBasePanel::PaintBackground(QPainter& painter)
{
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (!background.isNull()) {
        painter.setBrush(QBrush(background));
        painter.setPen(Qt::NoPen);
        painter.setBrushOrigin(rect().topLeft());
        painter.drawRect(rect());
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!delimiter.isNull())
        painter.drawImage(QPoint(0, 0), delimiter);
}

void QBasePanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBackground(painter);
}
