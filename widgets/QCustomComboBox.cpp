#include "widgets/QCustomComboBox.h"

#include <QAbstractItemView>
#include <QFile>
#include <QPainter>

#include "config/ResourcePaths.h"

QCustomComboBox::QCustomComboBox(QWidget* parent, bool popupAbove, bool skinned)
    : QComboBox(parent), popupAbove(popupAbove)
{
    QFont boxFont = font();
    boxFont.setStyleStrategy(QFont::PreferAntialias);
    setFont(boxFont);
    setObjectName(QStringLiteral("CameraComboBox"));
    // A missing file leaves the standard look.
    QFile styleSheetFile(ResourcePath(ApplicationDirectory(), QStringLiteral("CameraSelector.qss")));
    if (styleSheetFile.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(styleSheetFile.readAll()));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Long camera names stay out of the box's size hint.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLength);
#pragma GCC diagnostic pop
    setFixedSize(185, 30);
    view()->setTextElideMode(Qt::ElideRight);
    if (skinned)
        skin.LoadFromName(QStringLiteral("Combobox"));
}

void QCustomComboBox::showPopup()
{
    popupShown = true;
    QComboBox::showPopup();
    QWidget* popup = view()->window();
    if (popupAbove)
        popup->move(popup->x(), popup->y() - popup->height() - height());
    else
        popup->move(popup->x(), popup->y() + 2);
}

void QCustomComboBox::hidePopup()
{
    popupShown = false;
    QComboBox::hidePopup();
}

const SkinImageGrid& QCustomComboBox::StateGrid(const SkinStateImages& images) const
{
    if (!isEnabled())
        return images.normal;
    if (popupShown)
        return images.pressed;
    if (hasFocus() || underMouse())
        return images.hover;
    return images.normal;
}

void QCustomComboBox::paintEvent(QPaintEvent* event)
{
    const SkinImageGrid& box = StateGrid(skin);
    if (box.IsNull()) {
        QComboBox::paintEvent(event);
        return;
    }
    QPainter painter(this);
    box.Paint(painter, QRectF(rect()));
    int inset = 7;
    const SkinImageGrid& icon = StateGrid(iconSkin);
    if (!icon.IsNull()) {
        icon.Paint(painter, QRectF(QPointF(7, 7), QPointF(rect().bottomRight())));
        inset = 27;
    }
    painter.setFont(font());
    painter.setPen(palette().color(foregroundRole()));
    const QRect textRect(QPoint(inset, 7), QPoint(rect().right() - 15, rect().bottom() - 7));
    painter.drawText(textRect, 0, fontMetrics().elidedText(currentText(), Qt::ElideRight, textRect.width()));
}
