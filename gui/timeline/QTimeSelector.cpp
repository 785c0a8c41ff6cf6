#include "gui/timeline/QTimeSelector.h"

#include <QDateTime>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "config/ResourcePaths.h"
#include "widgets/QCustomCalendar.h"
#include "widgets/TimeEdit.h"
#include "base/PtimeConversion.h"
#include "media/TimeConversion.h"

namespace {

// The popup watch ticks every 100 ms; the popup closes once the mouse has
// been away from the button and the popup for more than this many ticks.
constexpr int kCloseTickMs = 100;
constexpr int kMaxIdleTicks = 9;

// Sets a flag for the life of the scope, and clears it however the scope
// ends, so a throwing update cannot leave the selector deaf to the user.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag(flag) { flag = true; }
    ~FlagScope() { flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag;
};

int LocalJulianDay(int64_t time)
{
    const boost::posix_time::ptime local = utils::ShiftPtime(utils::PtimeFromMilliseconds(time), 0);
    return static_cast<int>(local.date().julian_day());
}

}  // namespace

namespace timeline {

calendar_layout::DayRanges AvailableDayRanges(const utils::IntervalList& intervals)
{
    calendar_layout::DayRanges ranges;
    if (intervals.empty())
        return ranges;
    int first = 0;
    int last = 0;
    bool open = false;
    for (const utils::Interval& interval : intervals) {
        const int d1 = LocalJulianDay(interval.start);
        const int d2 = LocalJulianDay(utils::IntervalEnd(interval));
        if (!open) {
            first = d1;
            last = d2;
            open = true;
        } else if (d1 > last + 1) {
            ranges.push_back({first, last - first});
            first = d1;
            last = d2;
        } else {
            first = std::min(first, d1);
            last = std::max(last, d2);
        }
    }
    ranges.push_back({first, last - first});
    return ranges;
}

}  // namespace timeline

QTimeSelector::QTimeSelector(QGraphicsScene* scene, QWidget* parent, const QString& name,
                             const QList<time_edit::QCustomEdit*>& givenEdits)
    : QCustomButton(name.isEmpty() ? QStringLiteral("Calendar_btn") : name, parent),
      calendar(new QCustomCalendar()),
      edits(givenEdits.begin(), givenEdits.end()),
      scene(scene)
{
    setObjectName(name.isEmpty() ? QStringLiteral("Calendar_btn") : name);
    setCheckable(true);
    calendar->hide();
    if (scene) {
        proxy = scene->addWidget(calendar);
        proxy->setZValue(1);
    }

    if (edits.isEmpty()) {
        auto* own = new time_edit::QCustomEdit(this, TimeEditStyle());
        own->resize(time_edit::EditTextSize(*own));
        own->move(30, 1);
        setFixedSize(own->width() + 50, minimumHeight());
        edits.append(own);
    }
    for (time_edit::QCustomEdit* edit : Edits()) {
        connect(edit, &time_edit::QCustomEdit::DateTimeChanged, this, &QTimeSelector::DateTimeChanged);
        connect(calendar, &QCustomCalendar::DateSelected, edit, &time_edit::QCustomEdit::SetDate);
    }
    setFocusPolicy(Qt::StrongFocus);
}

QTimeSelector::~QTimeSelector()
{
    // The scene owns the proxy and the proxy the calendar; whichever of them
    // is still alive goes with the button.
    if (proxy)
        delete proxy.data();
    else if (calendar)
        delete calendar.data();
}

QCustomCalendar& QTimeSelector::Calendar()
{
    return *calendar;
}

QList<time_edit::QCustomEdit*> QTimeSelector::Edits() const
{
    QList<time_edit::QCustomEdit*> alive;
    for (const QPointer<time_edit::QCustomEdit>& edit : edits)
        if (edit)
            alive.append(edit.data());
    return alive;
}

QGraphicsProxyWidget* QTimeSelector::CalendarProxy() const
{
    return proxy;
}

bool QTimeSelector::IsPopupOpen() const
{
    return calendar && calendar->isVisible();
}

void QTimeSelector::SetIntervals(const std::shared_ptr<utils::TimeConverter>& intervals)
{
    utcOffset = intervals ? intervals->GetTimeZoneOffset() : 0;
    FlagScope lock(locked);
    const calendar_layout::DayRanges ranges =
        intervals ? timeline::AvailableDayRanges(intervals->GetArchivePeriods()) : calendar_layout::DayRanges();
    calendar->SetAvailableDays(ranges, ranges.empty() ? 0 : ranges.front().firstDay);
}

void QTimeSelector::SetPosition(int64_t time)
{
    if (IsPopupOpen() && calendar->underMouse())
        return;
    FlagScope lock(locked);
    const QDateTime local = utils::QDateTimeFromPtime(utils::PtimeFromMilliseconds(time)).toLocalTime();
    for (time_edit::QCustomEdit* edit : Edits())
        if (!edit->IsEditing())
            edit->SetDateTime(local, utcOffset);
    calendar->SetCurrentDay(static_cast<int>(local.date().toJulianDay()), true);
    currentTime = time;
}

void QTimeSelector::DateTimeChanged(QDateTime& time)
{
    if (locked)
        return;
    try {
        currentTime = utils::MillisecondsFromPtime(utils::PtimeFromQDateTime(time.toUTC()));
    } catch (const std::out_of_range&) {
        // A date the time library cannot hold is not a time to go to.
        return;
    }
    {
        // The other edits take the new value too, so that every edit holds
        // the same time when the calendar next sets their day. What they and
        // the calendar report back meanwhile is an echo of this change.
        FlagScope lock(locked);
        for (time_edit::QCustomEdit* edit : Edits())
            if (edit != sender() && !edit->IsEditing())
                edit->SetDateTime(time, utcOffset);
        QDate day = time.date();
        calendar->DateChanged(day);
    }
    TimeSelected(currentTime);
}

void QTimeSelector::nextCheckState()
{
    QCustomButton::nextCheckState();
    if (isChecked())
        OpenPopup();
    else
        ClosePopup();
}

void QTimeSelector::OpenPopup()
{
    calendar->show();
    PlacePopup();
    idleTicks = 0;
    if (closeTimer == 0)
        closeTimer = startTimer(kCloseTickMs, Qt::CoarseTimer);
}

void QTimeSelector::ClosePopup()
{
    calendar->hide();
    if (closeTimer != 0) {
        killTimer(closeTimer);
        closeTimer = 0;
    }
    setChecked(false);
}

void QTimeSelector::PlacePopup()
{
    if (!IsPopupOpen())
        return;
    QPoint position;
    for (const QWidget* widget = this; widget; widget = widget->parentWidget())
        position += widget->pos();
    int x = position.x();
    if (scene && x + calendar->width() > scene->width())
        x -= calendar->width() - width();
    const QPoint target(x, position.y() - calendar->height());
    if (proxy)
        proxy->setPos(target);
    else
        calendar->move(target);
}

void QTimeSelector::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != closeTimer || closeTimer == 0) {
        QCustomButton::timerEvent(event);
        return;
    }
    if (calendar->underMouse() || underMouse()) {
        idleTicks = 0;
        return;
    }
    if (++idleTicks > kMaxIdleTicks)
        ClosePopup();
}

void QTimeSelector::focusInEvent(QFocusEvent* event)
{
    QCustomButton::focusInEvent(event);
    emit OnFocus();
}

void QTimeSelector::moveEvent(QMoveEvent* event)
{
    QCustomButton::moveEvent(event);
    PlacePopup();
}

QTimeInputPanel::QTimeInputPanel(QGraphicsScene* scene, bool panelSide, QWidget* parent)
    : arrowNormal(ArrowButtonImagePath(panelSide, false)),
      arrowActive(ArrowButtonImagePath(panelSide, true)),
      side(panelSide)
{
    if (parent)
        setParent(parent);

    TimeEditStyle style;
    style.textColour = QColor(0, 0, 0, 255);
    style.background.LoadNinePart(QStringLiteral("TextArea"));
    style.focusedBackground.LoadNinePart(QStringLiteral("TextArea_Focused"));

    style.displayFormat = time_edit::TimeDisplayFormat();
    style.inputMask = time_edit::TimeInputMask();
    timeEdit = new time_edit::QCustomEdit(this, style);
    timeEdit->setFixedSize(time_edit::EditTextSize(*timeEdit));

    style.displayFormat = tr("dd/MM/yyyy");
    style.inputMask = tr("99/99/9999;_");
    dateEdit = new time_edit::QCustomEdit(this, style);
    dateEdit->setFixedSize(time_edit::EditTextSize(*dateEdit));

    selector = new QTimeSelector(scene, this, QStringLiteral("Calendar"), {timeEdit, dateEdit});

    const int width = arrowNormal.width() +
                      std::max(timeEdit->width(), dateEdit->width() + selector->width() + 6) + 18;
    setMinimumWidth(width);
    setMaximumWidth(width);

    connect(timeEdit, &time_edit::QCustomEdit::OnFocus, this, &QTimeInputPanel::onFocus);
    connect(dateEdit, &time_edit::QCustomEdit::OnFocus, this, &QTimeInputPanel::onFocus);
    connect(selector, &QTimeSelector::OnFocus, this, &QTimeInputPanel::onFocus);
}

int64_t QTimeInputPanel::CurrentTime() const
{
    return selector->CurrentTime();
}

void QTimeInputPanel::Activate()
{
    if (active)
        return;
    active = true;
    Activated();
    update();
}

void QTimeInputPanel::Deactivate()
{
    active = false;
    update();
}

void QTimeInputPanel::onFocus()
{
    Activate();
}

void QTimeInputPanel::resizeEvent(QResizeEvent*)
{
    const int arrowWidth = arrowNormal.width();
    const int middle = height() / 2;
    const QSize t = timeEdit->size();
    const QSize d = dateEdit->size();
    const QSize s = selector->size();
    if (side) {
        arrowPosition = QPoint(6, middle - arrowNormal.height() / 2);
        timeEdit->move(arrowWidth + 12, middle - t.height() - 3);
        dateEdit->move(arrowWidth + 12, middle + 3);
        selector->move(dateEdit->x() + d.width() + 5, dateEdit->y() + (d.height() - s.height()) / 2);
    } else {
        arrowPosition = QPoint(width() - arrowWidth - 6, middle - arrowNormal.height() / 2);
        timeEdit->move(width() - arrowWidth - 12 - t.width(), middle - t.height() - 3);
        dateEdit->move(width() - arrowWidth - 12 - d.width(), middle + 3);
        selector->move(dateEdit->x() - s.width() - 6, dateEdit->y() + (d.height() - s.height()) / 2);
    }
}

void QTimeInputPanel::moveEvent(QMoveEvent* event)
{
    QBasePanel::moveEvent(event);
    selector->PlacePopup();
}

void QTimeInputPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBackground(painter);
    painter.drawImage(arrowPosition, active ? arrowActive : arrowNormal);
}

void QTimeInputPanel::mousePressEvent(QMouseEvent* event)
{
    Activate();
    QBasePanel::mousePressEvent(event);
}
