#include "widgets/QCustomButton.h"

#include <QBitmap>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

QCustomButton::QCustomButton(const QString& name, QWidget* parent, const QString& checkedName)
    : QPushButton(parent), image(name), checkable(!checkedName.isEmpty())
{
    if (checkable)
        image.AddSet(checkedName);
    setCheckable(checkable);
    setAttribute(Qt::WA_MouseTracking);
    setAttribute(Qt::WA_NoSystemBackground);

    const SkinImageGrid& normal = image.Sets().front()[0];
    const QSize size(static_cast<int>(normal.FixedLength(0, false)), static_cast<int>(normal.FixedLength(1, false)));
    resize(size);
    setMinimumSize(size);
    if (normal.StretchCount(0) == 0)
        setMaximumWidth(size.width());
    if (normal.StretchCount(1) == 0)
        setMaximumHeight(size.height());

    SkinImageGrid mask;
    mask.Load(QString("%1_%2").arg(name, SkinPart::Mask));
    if (!mask.images.isEmpty())
        setMask(QPixmap::fromImage(mask.images.front()).mask());

    connect(&image, &MultiStateImage::OnUpdate, this, qOverload<>(&QWidget::update));
}

int QCustomButton::VisualState() const
{
    if (!isEnabled())
        return 0;
    if (isDown() || pressPos != QPoint(0, 0) || (isChecked() && !checkable))
        return 1;
    if (hasFocus() || underMouse() || hovered)
        return 2;
    return 0;
}

double QCustomButton::VisualOpacity() const
{
    return isEnabled() ? 1.0 : 0.3;
}

void QCustomButton::Enter()
{
    hovered = true;
    emit Hovered();
    image.SetState(VisualState(), VisualOpacity(), true);
    raise();
}

void QCustomButton::Leave()
{
    hovered = false;
    emit Leaved();
    setDown(false);
    pressPos = QPoint(0, 0);
    image.SetState(VisualState(), VisualOpacity(), true);
}

void QCustomButton::Press()
{
    emit pressed();
}

void QCustomButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        pressPos = event->pos();
    QPushButton::mousePressEvent(event);
    event->accept();
}

void QCustomButton::mouseMoveEvent(QMouseEvent* event)
{
    QPushButton::mouseMoveEvent(event);
    if (pressPos != QPoint(0, 0) && event->pos() != pressPos)
        emit Dragged(event->pos() - pressPos);
}

void QCustomButton::mouseReleaseEvent(QMouseEvent* event)
{
    QPushButton::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        pressPos = QPoint(0, 0);
    event->accept();
    image.SetState(VisualState(), VisualOpacity(), true);
}

void QCustomButton::mouseDoubleClickEvent(QMouseEvent*)
{
    // The second press of a double click must not click again.
}

void QCustomButton::enterEvent(QEvent* event)
{
    Enter();
    QPushButton::enterEvent(event);
}

void QCustomButton::leaveEvent(QEvent* event)
{
    Leave();
    QPushButton::leaveEvent(event);
}

void QCustomButton::paintEvent(QPaintEvent* event)
{
    image.SetCurrentSet(isChecked() && checkable ? 1 : 0);
    image.SetState(VisualState(), VisualOpacity(), false);
    QPainter painter(this);
    if (event->rect() != rect())
        painter.setClipRect(event->rect());
    image.Paint(painter, rect());
}

void QCustomButton::hideEvent(QHideEvent* event)
{
    QPushButton::hideEvent(event);
    setDown(false);
    pressPos = QPoint(0, 0);
    image.SetState(0, 0.0, false);
    clearFocus();
}
