#include "widgets/QRollBox.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "config/ResourcePaths.h"

namespace {

// Three rows of 20 px when the skin has no back image.
constexpr int kDefaultBackHeight = 60;

}  // namespace

QRollBox::QRollBox(std::shared_ptr<IRollBoxList> model)
    : moveAnimation(this, "moveAnimationPos"), captionAnimation(this, "itemScrollPosition")
{
    moveAnimation.setDuration(500);
    moveAnimation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&moveAnimation, &QPropertyAnimation::finished, this, &QRollBox::moveAnimationFinished);
    captionAnimation.setEasingCurve(QEasingCurve::Linear);
    connect(&captionAnimation, &QPropertyAnimation::finished, this, &QRollBox::scrollAnimationFinished);

    font = QFont("Verdana", 10);
    font.setBold(true);
    font.setItalic(false);
    font.setStyleStrategy(QFont::PreferAntialias);

    back.LoadNinePart("RollBox_back");
    shadow.LoadNinePart("RollBox_shadow");
    marker.LoadHorizontal("RollBox_marker");
    // Without an extension: the reader finds the file by its image suffix.
    doneMark = QImage(ResourcePath(ApplicationDirectory(), "RollBox_item_checked"));
    progressImage = QImage(ResourcePath(ApplicationDirectory(), "RollBox_item_progress"));
    deleteButton.LoadFromName("RollBox_delete_process");
    settingsButton.LoadFromName("Setting_export_btn");

    backHeight = back.IsNull() ? kDefaultBackHeight : back.Size().height();
    rowHeight = std::max(1, backHeight / 3);
    setMinimumSize(100, backHeight);
    setMaximumHeight(backHeight);
    setMouseTracking(true);
    SetList(std::move(model));
}

QRollBox::~QRollBox()
{
    DisconnectList();
}

void QRollBox::SetList(std::shared_ptr<IRollBoxList> model)
{
    list = std::move(model);
    ConnectList();
    if (list->IsExtended() && list->Count() == 0)
        list->AddItem(QString(), QVariant());
}

void QRollBox::ConnectList()
{
    DisconnectList();
    itemsConnection = list->ItemsChanged.connect([this] { update(); });
    listConnection = list->ListChanged.connect([this] { OnListChanged(); });
}

void QRollBox::DisconnectList()
{
    itemsConnection.disconnect();
    listConnection.disconnect();
}

int QRollBox::CurrentIndex() const
{
    const int count = list->Count();
    if (count == 0)
        return -1;
    return std::clamp(current, 0, count - 1);
}

void QRollBox::SelectItem(int index, bool animated)
{
    current = std::min(std::max(index, 0), list->Count() - 1);
    ScrollTo(static_cast<double>(current) * rowHeight, animated);
}

void QRollBox::rollUp()
{
    const int c = CurrentIndex();
    current = std::min(std::max(c - 1, 0), list->Count() - 1);
    ScrollTo(static_cast<double>(current) * rowHeight, true);
}

void QRollBox::rollDown()
{
    const int c = CurrentIndex();
    current = std::min(std::max(c + 1, 0), list->Count() - 1);
    ScrollTo(static_cast<double>(current) * rowHeight, true);
}

void QRollBox::ScrollTo(double x, bool animated)
{
    // Snap to the nearest row boundary (the remainder keeps the sign of x).
    const int whole = static_cast<int>(x);
    const int r = whole % rowHeight;
    double target = r > rowHeight / 2 ? whole - r + rowHeight : whole - r;
    target = std::max(target, 0.0);
    target = std::min(target, static_cast<double>(std::max(list->Count() - 1, 0)) * rowHeight);
    if (animated) {
        captionAnimation.stop();
        captionScroll = 0;
        moveAnimation.stop();
        moveAnimation.setStartValue(scroll);
        moveAnimation.setEndValue(target);
        moveAnimation.start();
        return;
    }
    if (target != scroll) {
        scroll = target;
        update();
    }
    moveAnimationFinished();
}

void QRollBox::SetScroll(double value)
{
    if (value == scroll)
        return;
    scroll = value;
    update();
}

void QRollBox::SetCaptionScroll(double value)
{
    captionScroll = value;
    update();
}

void QRollBox::OnListChanged()
{
    CurrentChanged(CurrentIndex());
    scrollAnimationFinished();
}

void QRollBox::moveAnimationFinished()
{
    current = static_cast<int>((Base() + scroll) / rowHeight) - 1;
    if (current != lastEmitted) {
        lastEmitted = current;
        CurrentChanged(current);
    }
    scrollAnimationFinished();
}

void QRollBox::scrollAnimationFinished()
{
    captionAnimation.stop();
    captionScroll = 0;
    const int i = CurrentIndex();
    if (i == -1)
        return;
    const RollBoxItem& item = list->Item(i);
    const int width = QFontMetrics(font).horizontalAdvance(item.Text());
    const QRect text = TextRect(i);
    if (width <= text.width())
        return;
    captionAnimation.setDuration(std::max(3000, 1000 * static_cast<int>(item.entries.size())));
    captionAnimation.setStartValue(-static_cast<double>(text.width()));
    captionAnimation.setEndValue(static_cast<double>(width));
    captionAnimation.start();
}

QRect QRollBox::ItemRect(int index) const
{
    const int top = static_cast<int>(std::floor(Base() + static_cast<double>(index) * rowHeight - scroll));
    return QRect(0, top, width(), rowHeight);
}

QRect QRollBox::TextRect(int index) const
{
    const QRect item = ItemRect(index);
    return list->IsExtended() ? item.adjusted(15, 0, -45, 0) : item;
}

QRect QRollBox::DeleteRect(const QRect& item) const
{
    const int w = static_cast<int>(deleteButton.normal.FixedLength(0, false));
    const int h = static_cast<int>(deleteButton.normal.FixedLength(1, false));
    return QRect(item.width() - w - 5, item.top() + (item.height() - h) / 2, w, h);
}

QRect QRollBox::SettingsRect(const QRect& item) const
{
    const int w = static_cast<int>(settingsButton.normal.FixedLength(0, false));
    const int h = static_cast<int>(settingsButton.normal.FixedLength(1, false));
    return QRect(item.width() - w - 20, item.top() + (item.height() - h) / 2, w, h);
}

QRect QRollBox::CheckRect(const QRect& item) const
{
    const SkinStateImages& button = editable ? settingsButton : deleteButton;
    const int margin = editable ? 15 : 5;
    const int buttonWidth = static_cast<int>(button.normal.FixedLength(0, false));
    return QRect(item.width() - doneMark.width() - buttonWidth - 2 * margin,
                 item.top() + (item.height() - doneMark.height()) / 2, doneMark.width(), doneMark.height());
}

int QRollBox::RowAt(double v) const
{
    return static_cast<int>(v / rowHeight - 1);
}

const SkinImageGrid& QRollBox::ButtonLook(const SkinStateImages& button, const QRect& rect) const
{
    if (rect.contains(pressPoint))
        return button.pressed;
    if (rect.contains(hoverPoint))
        return button.hover;
    return button.normal;
}

void QRollBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.save();
    back.Paint(painter, rect());
    painter.restore();
    DrawItems(painter);
    painter.save();
    shadow.Paint(painter, rect());
    painter.restore();
    const int markerHeight = marker.Size().height();
    painter.save();
    marker.Paint(painter, QRectF(0, (height() - markerHeight) / 2, width(), markerHeight));
    painter.restore();
}

void QRollBox::DrawItems(QPainter& painter)
{
    const QRect clip(0, 3, width(), height() - 6);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int currentIndex = CurrentIndex();
    const bool extended = list->IsExtended();
    for (int i = 0; i < list->Count(); ++i) {
        const QRect item = ItemRect(i);
        const QRect itemClip = item & clip;
        if (item.intersects(rect())) {
            painter.setClipRect(itemClip);
            if (extended)
                DrawItemDecorations(painter, i, item);
            const QRect text = TextRect(i);
            painter.setClipRect(text & itemClip);
            const QString caption = list->Item(i).Text();
            if (i == currentIndex && CaptionScrolling()) {
                const QRectF running(text.left() - captionScroll, text.top(), metrics.horizontalAdvance(caption),
                                     text.height());
                painter.drawText(running, Qt::AlignCenter, caption);
            } else {
                painter.drawText(text, Qt::AlignCenter, metrics.elidedText(caption, Qt::ElideRight, text.width()));
            }
        }
        if (item.top() > height())
            break;
    }
    painter.setClipRect(rect());
}

void QRollBox::DrawItemDecorations(QPainter& painter, int index, const QRect& item)
{
    const RollBoxItem& entry = list->Item(index);
    if (entry.entries.empty())
        return;
    if (entry.progress != 0)
        painter.drawImage(QRect(item.left(), item.top(), item.width() * entry.progress / 100, item.height()),
                          progressImage);
    if (entry.done)
        painter.drawImage(CheckRect(item), doneMark);
    const QRect remove = DeleteRect(item);
    painter.save();
    ButtonLook(deleteButton, remove).Paint(painter, remove);
    painter.restore();
    if (editable) {
        const QRect settings = SettingsRect(item);
        painter.save();
        ButtonLook(settingsButton, settings).Paint(painter, settings);
        painter.restore();
    }
}

void QRollBox::mousePressEvent(QMouseEvent* event)
{
    moveAnimation.stop();
    pressScroll = scroll;
    pressPoint = event->pos();
    tracker.Start(event->pos());
    event->accept();
}

void QRollBox::mouseMoveEvent(QMouseEvent* event)
{
    hoverPoint = event->pos();
    update();
    if (event->buttons() != Qt::NoButton) {
        SetScroll(pressPoint.y() - event->pos().y() + pressScroll);
        tracker.AddSample(event->pos());
    }
    event->accept();
}

void QRollBox::mouseReleaseEvent(QMouseEvent* event)
{
    bool handled = false;
    if (list->IsExtended()) {
        int pressed = static_cast<int>(std::floor((pressPoint.y() - (Base() - scroll)) / rowHeight));
        if (pressed < 0 || pressed >= list->Count())
            pressed = -1;
        const int selected = CurrentIndex();
        if (pressed != -1 && !list->Item(pressed).entries.empty()) {
            const QRect item = ItemRect(pressed);
            bool removed = false;
            if (DeleteRect(item).contains(pressPoint)) {
                list->RemoveItem(pressed);
                removed = true;
            } else if (SettingsRect(item).contains(pressPoint)) {
                SettingsClicked(pressed);
            }
            // A task above the current one: the clicked task becomes current;
            // a removal above it keeps the current task, now one row higher.
            if (pressed < selected) {
                SelectItem(removed ? selected - 1 : pressed, false);
                handled = true;
            }
        }
    }
    if (event->pos().y() != pressPoint.y())
        ScrollTo(scroll - 0.5 * tracker.Velocity().y(), true);
    else if (!handled)
        SelectItem(RowAt(event->pos().y() + scroll), true);
    event->accept();
    pressPoint = QPoint();
}

void QRollBox::wheelEvent(QWheelEvent* event)
{
    if (event->angleDelta().y() <= 0)
        rollDown();
    else
        rollUp();
    event->accept();
}

void QRollBox::leaveEvent(QEvent*)
{
    hoverPoint = QPoint();
    pressPoint = QPoint();
    update();
}

void QRollBox::resizeEvent(QResizeEvent*)
{
    scrollAnimationFinished();
}
