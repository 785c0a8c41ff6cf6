#pragma once
// The calendar button that keeps date and time edits in step with the
// playback position, and the export panel that enters one edge of the cut
// with such a button.
//
// The selector is driven like a time line: the interval list tells the
// calendar which days hold video, the position fills the edits, and a time
// the user types or a day the user picks leaves as TimeSelected.

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <vector>

#include "widgets/CalendarLayout.h"
#include "widgets/QBasePanel.h"
#include "widgets/QCustomButton.h"
#include "playback/PlaybackGui.h"

class QCustomCalendar;
class QDateTime;
class QGraphicsProxyWidget;
class QGraphicsScene;

namespace time_edit {
class QCustomEdit;
}

namespace timeline {

// The local days (Julian day numbers) that hold video: every archive
// interval covers the days from its start to its end; days that touch or
// overlap merge into one range, and a full day without video splits ranges.
// Works for any time, before 1970 too.
calendar_layout::DayRanges AvailableDayRanges(const utils::IntervalList& intervals);

}  // namespace timeline

class QTimeSelector : public QCustomButton, public playback::ITimeLineControl {
    Q_OBJECT

public:
    // The popup calendar goes into scene (which may be null, for a selector
    // without a scene the calendar stays a hidden window of its own). With
    // no edits given the selector makes its own and grows to hold it.
    QTimeSelector(QGraphicsScene* scene, QWidget* parent, const QString& name,
                  const QList<time_edit::QCustomEdit*>& edits = {});
    ~QTimeSelector() override;

    void SetIntervals(const std::shared_ptr<utils::TimeConverter>& intervals) override;
    void ClearIntervals() override {}
    // Ignored while the mouse is over the open calendar.
    void SetPosition(int64_t time) override;
    void SetCutSelectionMode(playback::ECutSelectionMode) override {}
    void SetSelectionBegin(int64_t) override {}
    void SetSelectionEnd(int64_t) override {}
    void ClearSelection() override {}

    // The last time shown by SetPosition or chosen by the user (archive ms).
    int64_t CurrentTime() const { return currentTime; }
    int UtcOffset() const { return utcOffset; }
    QCustomCalendar& Calendar();
    // Null for a selector without a scene.
    QGraphicsProxyWidget* CalendarProxy() const;
    // The edits kept in step that still exist.
    QList<time_edit::QCustomEdit*> Edits() const;
    bool IsPopupOpen() const;
    // The Qt id of the popup watch while the popup is open, else 0.
    int CloseTimerId() const { return closeTimer; }
    int IdleTicks() const { return idleTicks; }

    // Puts the popup directly above the button, right-aligned with it when
    // it would cross the scene's right edge. Only while it is open.
    void PlacePopup();

signals:
    void OnFocus();

public slots:
    // An edit's new value: the user typed it, or the calendar set its day.
    void DateTimeChanged(QDateTime& time);

protected:
    void nextCheckState() override;
    void timerEvent(QTimerEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void OpenPopup();
    void ClosePopup();

    int closeTimer = 0;
    int idleTicks = 0;
    QPointer<QCustomCalendar> calendar;
    QPointer<QGraphicsProxyWidget> proxy;
    // Edits given by the owner may go before the selector does.
    QList<QPointer<time_edit::QCustomEdit>> edits;
    // Set while the selector writes the edits or the calendar itself, so the
    // changes they report back are not taken for the user's.
    bool locked = false;
    QGraphicsScene* scene = nullptr;
    int64_t currentTime = 0;
    int utcOffset = 0;
};

// One edge of the export cut: an arrow, a time edit over a date edit and a
// calendar button serving both. Side 0 is the cut begin (arrow on the
// right, pointing left), side 1 the cut end.
class QTimeInputPanel : public QBasePanel, public playback::ITimeInputPanel {
    Q_OBJECT

public:
    QTimeInputPanel(QGraphicsScene* scene, bool side, QWidget* parent = nullptr);

    playback::ITimeLineControl& Selector() override { return *selector; }
    int64_t CurrentTime() const override;
    bool IsActive() const override { return active; }
    // When not active yet: active, Activated, repaint.
    void Activate() override;
    // Done by the owner when the other panel becomes active.
    void Deactivate();

    bool Side() const { return side; }
    QTimeSelector& TimeSelector() { return *selector; }
    time_edit::QCustomEdit& TimeEdit() { return *timeEdit; }
    time_edit::QCustomEdit& DateEdit() { return *dateEdit; }
    QPoint ArrowPosition() const { return arrowPosition; }
    const QImage& ArrowImage(bool activeLook) const { return activeLook ? arrowActive : arrowNormal; }

public slots:
    void onFocus();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    time_edit::QCustomEdit* timeEdit = nullptr;
    time_edit::QCustomEdit* dateEdit = nullptr;
    QTimeSelector* selector = nullptr;
    QImage arrowNormal;
    QImage arrowActive;
    QPoint arrowPosition;
    bool side = false;
    bool active = false;
};
