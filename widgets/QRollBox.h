#pragma once
// A drum-like list: three rows of a list model, the current item in the
// middle row under a marker. It scrolls with the wheel, by dragging with a
// fling, or to a chosen item with a 500 ms animation; the current caption
// runs sideways as a marquee when it does not fit. Task lists also show each
// task's progress, its done mark, a delete button and, when editable, a
// settings button.
//
// Rows are R = a third of the back image's height (20 px without a skin);
// item i's top lies at B + i * R - scroll, B = (height - R) / 2, so the
// item whose top is at B sits in the middle row.

#include <memory>

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPropertyAnimation>
#include <QWidget>
#include <boost/signals2/signal.hpp>

#include "widgets/KineticTracker.h"
#include "widgets/RollBoxList.h"
#include "widgets/SkinResources.h"

class QRollBox : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double guiposition READ Scroll WRITE SetScroll)
    Q_PROPERTY(double moveAnimationPos READ Scroll WRITE SetScroll)
    Q_PROPERTY(double itemScrollPosition READ CaptionScroll WRITE SetCaptionScroll)

public:
    explicit QRollBox(std::shared_ptr<IRollBoxList> list);
    ~QRollBox() override;

    // The current item's index after a scroll ends or the list changes.
    boost::signals2::signal<void(int)> CurrentChanged;
    // The item whose settings button was clicked.
    boost::signals2::signal<void(int)> SettingsClicked;

    // Set by the owner: the items of a task list also show the settings
    // button.
    bool editable = false;

    const std::shared_ptr<IRollBoxList>& GetList() const { return list; }
    // Clamped to the last item; -1 for an empty list.
    int CurrentIndex() const;
    void SelectItem(int index, bool animated);
    // Snaps x to the nearest row boundary and clamps it to the items.
    void ScrollTo(double x, bool animated);
    // The owner may detach the list while it rebuilds it.
    void ConnectList();
    void DisconnectList();

    double Scroll() const { return scroll; }
    void SetScroll(double value);
    double CaptionScroll() const { return captionScroll; }
    void SetCaptionScroll(double value);
    int RowHeight() const { return rowHeight; }
    bool CaptionScrolling() const { return captionAnimation.state() != QAbstractAnimation::Stopped; }
    const QPropertyAnimation& CaptionAnimation() const { return captionAnimation; }
    const QPropertyAnimation& MoveAnimation() const { return moveAnimation; }
    const QFont& Font() const { return font; }
    // The time source of the fling; the monotonic clock unless set (tests).
    void SetFlingClock(KineticTracker::Clock clock) { tracker = KineticTracker(std::move(clock)); }

    QRect ItemRect(int index) const;
    QRect TextRect(int index) const;
    QRect DeleteRect(const QRect& item) const;
    QRect SettingsRect(const QRect& item) const;
    QRect CheckRect(const QRect& item) const;
    // The row under a position v measured from the top of item 0's row
    // above the middle.
    int RowAt(double v) const;

public slots:
    void rollUp();
    void rollDown();
    void moveAnimationFinished();
    void scrollAnimationFinished();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void SetList(std::shared_ptr<IRollBoxList> model);
    void OnListChanged();
    int Base() const { return (height() - rowHeight) / 2; }
    void DrawItems(QPainter& painter);
    void DrawItemDecorations(QPainter& painter, int index, const QRect& item);
    const SkinImageGrid& ButtonLook(const SkinStateImages& button, const QRect& rect) const;

    std::shared_ptr<IRollBoxList> list;
    boost::signals2::connection itemsConnection;
    boost::signals2::connection listConnection;
    QPropertyAnimation moveAnimation;
    QPropertyAnimation captionAnimation;
    QPoint pressPoint;
    QPoint hoverPoint;
    double pressScroll = 0;
    QFont font;
    double scroll = 0;
    double captionScroll = 0;
    SkinImageGrid back;
    SkinImageGrid shadow;
    SkinImageGrid marker;
    QImage doneMark;
    QImage progressImage;
    SkinStateImages deleteButton;
    SkinStateImages settingsButton;
    int backHeight = 0;
    int rowHeight = 1;
    int current = 0;
    int lastEmitted = -1;
    KineticTracker tracker;
};
