#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "widgets/CalendarLayout.h"
#include "widgets/QCustomCalendar.h"

namespace {

using calendar_layout::DayRange;
using calendar_layout::MakeYear;
using calendar_layout::RowOf;
using calendar_layout::TargetWeek;

int Day(int y, int m, int d) { return int(QDate(y, m, d).toJulianDay()); }

// The centre of a day's cell in the current view of year page `page`.
QPoint CellCentre(const QCustomCalendar& calendar, int page, int day)
{
    const double week = calendar.Week();
    const int top = int(50 - (week - std::floor(week)) * 20);
    const int row = RowOf(page, day) - int(std::floor(week));
    const int column = (day - MakeYear(page).firstMonday) % 7;
    return QPoint(73 + 28 * column + 14, top + 20 * row + 10);
}

void Send(QWidget& widget, QEvent::Type type, QPoint pos)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, widget.mapToGlobal(pos), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

void Click(QWidget& widget, QPoint pos)
{
    Send(widget, QEvent::MouseButtonPress, pos);
    Send(widget, QEvent::MouseButtonRelease, pos);
}

void Wheel(QWidget& widget, int delta)
{
    const QPoint pos(150, 100);
    QWheelEvent event(pos, widget.mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&widget, &event);
}

// Runs both scroll animations to their end.
void Finish(QCustomCalendar& calendar)
{
    for (QSpeedBasedAnimation* animation : {&calendar.WeekAnimation(), &calendar.YearAnimation()}) {
        if (animation->state() == QAbstractAnimation::Running) {
            animation->pause();
            animation->setCurrentTime(animation->duration());
        }
    }
}

TEST(QCustomCalendar, WithoutRangesTodayIsSelectedWithOneSignal)
{
    QCustomCalendar calendar;
    const int today = int(QDate::currentDate().toJulianDay());
    EXPECT_EQ(calendar.SelectedDay(), today);
    QSignalSpy spy(&calendar, &QCustomCalendar::DateSelected);
    calendar.SetAvailableDays({}, Day(2001, 5, 5));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toDate(), QDate::currentDate());
    EXPECT_EQ(calendar.size(), QSize(270, 191));
    EXPECT_TRUE(calendar.testAttribute(Qt::WA_NoSystemBackground));
    EXPECT_TRUE(calendar.hasMouseTracking());
}

struct ClickCase {
    int offset;    // clicked day from the first range's first day
    int selected;  // selected day from the same
};

class CalendarClick : public ::testing::TestWithParam<ClickCase> {};

// Ranges {d1, 2} and {d1 + 10, 0} in March 2024, shown with d1 selected.
TEST_P(CalendarClick, SelectsTheNearestDayWithVideo)
{
    const int d1 = Day(2024, 3, 11);
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{d1, 2}, {d1 + 10, 0}}, d1);
    ASSERT_EQ(calendar.Year(), 2024);
    QSignalSpy spy(&calendar, &QCustomCalendar::DateSelected);
    Click(calendar, CellCentre(calendar, 2024, d1 + GetParam().offset));
    EXPECT_EQ(calendar.SelectedDay(), d1 + GetParam().selected);
    EXPECT_EQ(spy.count(), GetParam().selected == 0 ? 0 : 1);
    if (!spy.isEmpty()) {
        EXPECT_EQ(spy.at(0).at(0).toDate(), QDate::fromJulianDay(d1 + GetParam().selected));
    }
}

INSTANTIATE_TEST_SUITE_P(Days, CalendarClick,
                         ::testing::Values(ClickCase{6, 10},    // equal distances: the later range
                                           ClickCase{5, 2},     // nearer the first range's end
                                           ClickCase{1, 1},     // inside a range
                                           ClickCase{12, 10},   // beyond the last range
                                           ClickCase{-3, 0},    // before the first: its first day
                                           ClickCase{0, 0}));   // the selected day again: no signal

TEST(QCustomCalendar, ClickOutsideTheGridSelectsNothing)
{
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{Day(2024, 3, 1), 30}}, Day(2024, 3, 15));
    QSignalSpy spy(&calendar, &QCustomCalendar::DateSelected);
    for (QPoint p : {QPoint(10, 10), QPoint(50, 100), QPoint(100, 30)})
        Click(calendar, p);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(calendar.SelectedDay(), Day(2024, 3, 15));
}

TEST(QCustomCalendar, DateChangedWritesBackTheDaySelected)
{
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{Day(2024, 3, 1), 2}, {Day(2024, 6, 1), 0}}, Day(2024, 3, 1));
    QDate date(2024, 5, 20);
    calendar.DateChanged(date);
    EXPECT_EQ(date, QDate(2024, 6, 1));
    EXPECT_EQ(calendar.SelectedDay(), Day(2024, 6, 1));
    EXPECT_EQ(calendar.Year(), 2024);
    EXPECT_EQ(calendar.Week(), TargetWeek(2024, 6));
}

TEST(QCustomCalendar, DateChangedFromItsOwnSignalIsIgnored)
{
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{Day(2024, 3, 1), 2}, {Day(2024, 6, 1), 0}}, Day(2024, 3, 1));
    QDate echoed(2024, 6, 1);
    QObject::connect(&calendar, &QCustomCalendar::DateSelected, [&](QDate) { calendar.DateChanged(echoed); });
    calendar.SetCurrentDay(Day(2024, 3, 2), false);
    EXPECT_EQ(calendar.SelectedDay(), Day(2024, 3, 2));
    EXPECT_EQ(echoed, QDate(2024, 6, 1));
}

TEST(QCustomCalendar, HiddenMovesAtOnceShownAnimatesToTheMonth)
{
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{Day(2022, 1, 1), 1000}}, Day(2022, 8, 10));
    EXPECT_EQ(calendar.Year(), 2022);
    EXPECT_EQ(calendar.Week(), TargetWeek(2022, 8));
    EXPECT_NEAR(calendar.MonthPositionInView(), 8, 1e-9);
    EXPECT_NE(calendar.WeekAnimation().state(), QAbstractAnimation::Running);

    calendar.show();
    calendar.SetCurrentDay(Day(2024, 2, 10), true);
    EXPECT_EQ(calendar.Year(), 2022);  // not yet moved
    ASSERT_EQ(calendar.YearAnimation().state(), QAbstractAnimation::Running);
    ASSERT_EQ(calendar.WeekAnimation().state(), QAbstractAnimation::Running);
    Finish(calendar);
    EXPECT_DOUBLE_EQ(calendar.Year(), 2024);
    EXPECT_DOUBLE_EQ(calendar.Week(), TargetWeek(2024, 2));
    EXPECT_NEAR(calendar.MonthPositionInView(), 2, 1e-9);
}

TEST(QCustomCalendar, JanuaryOf2024StartsAtRowZero)
{
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{Day(2024, 1, 1), 0}}, Day(2024, 1, 1));
    EXPECT_EQ(calendar.Week(), TargetWeek(2024, 1));
    EXPECT_EQ(MakeYear(2024).firstMonday, Day(2024, 1, 1));
    // Week 1's number cell shows the row holding 1 January: its day cell is
    // the Monday of the first column.
    EXPECT_EQ(CellCentre(calendar, 2024, Day(2024, 1, 1)).x(), 73 + 14);
}

class FakeClock {
public:
    std::int64_t now = 1000;
    KineticTracker::Clock Source()
    {
        return [this] { return now; };
    }
};

struct FlickCase {
    int pixelsPer100ms;  // upwards
};

class CalendarFlick : public ::testing::TestWithParam<FlickCase> {};

// Upward drags at 600 px/s and faster scroll six rows past the release and
// come to rest on a whole month.
TEST_P(CalendarFlick, ScrollsSixRowsAndSnapsToAMonth)
{
    FakeClock clock;
    QCustomCalendar calendar(clock.Source());
    calendar.SetAvailableDays({{Day(2023, 1, 1), 3 * 365}}, Day(2024, 3, 13));
    calendar.show();
    Finish(calendar);
    const double startWeek = calendar.Week();

    const int step = GetParam().pixelsPer100ms / 2;
    QPoint pos(150, 150);
    Send(calendar, QEvent::MouseButtonPress, pos);
    for (int i = 0; i < 2; ++i) {
        clock.now += 50;
        pos.ry() -= step;
        Send(calendar, QEvent::MouseMove, pos);
    }
    const double releaseWeek = calendar.Week();
    EXPECT_NEAR(releaseWeek, startWeek + 2.0 * step / 20, 1e-9);
    Send(calendar, QEvent::MouseButtonRelease, pos);

    const double position = calendar_layout::MonthPosition(2024, releaseWeek + 6);
    const int month = int(std::floor(position + 0.5));
    ASSERT_EQ(calendar.WeekAnimation().state(), QAbstractAnimation::Running);
    EXPECT_DOUBLE_EQ(calendar.WeekAnimation().endValue().toDouble(), TargetWeek(2024, month));
    Finish(calendar);
    EXPECT_DOUBLE_EQ(calendar.Week(), TargetWeek(2024, month));
    EXPECT_DOUBLE_EQ(calendar.Year(), 2024);
    EXPECT_GT(month, 3);
}

INSTANTIATE_TEST_SUITE_P(Speeds, CalendarFlick, ::testing::Values(FlickCase{60}, FlickCase{120}));

// Half a page dragged to the left at high speed: the view slides on to the
// next year, limited to the years of the first and last available days, and
// rests on a whole year.
TEST(QCustomCalendar, SidewaysFlickSlidesToTheNextYear)
{
    FakeClock clock;
    QCustomCalendar calendar(clock.Source());
    calendar.SetAvailableDays({{Day(2023, 1, 1), 3 * 365}}, Day(2024, 3, 13));
    calendar.show();
    Finish(calendar);
    QSignalSpy spy(&calendar, &QCustomCalendar::DateSelected);
    QPoint pos(10, 100);  // the month band: no day under the press
    Send(calendar, QEvent::MouseButtonPress, pos);
    for (int i = 0; i < 2; ++i) {
        clock.now += 50;
        pos.rx() += 49;
        Send(calendar, QEvent::MouseMove, pos);
    }
    // Dragging right moves the content right: the earlier year comes in.
    EXPECT_DOUBLE_EQ(calendar.Year(), 2023.5);
    Send(calendar, QEvent::MouseButtonRelease, pos);
    Finish(calendar);
    EXPECT_DOUBLE_EQ(calendar.Year(), 2023);
    EXPECT_EQ(spy.count(), 0);

    Send(calendar, QEvent::MouseButtonPress, pos);
    for (int i = 0; i < 4; ++i) {
        clock.now += 50;
        pos.rx() -= 49;
        Send(calendar, QEvent::MouseMove, pos);
    }
    Send(calendar, QEvent::MouseButtonRelease, pos);
    Finish(calendar);
    EXPECT_DOUBLE_EQ(calendar.Year(), 2025);  // 2024 plus a flick, within the last year
}

TEST(QCustomCalendar, PressWithoutMovingReturnsToTheSelectedMonth)
{
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{Day(2024, 1, 1), 300}}, Day(2024, 3, 13));
    calendar.show();
    Finish(calendar);
    Send(calendar, QEvent::MouseButtonPress, QPoint(10, 10));
    Send(calendar, QEvent::MouseButtonRelease, QPoint(10, 10));
    Finish(calendar);
    EXPECT_DOUBLE_EQ(calendar.Week(), TargetWeek(2024, 3));
    EXPECT_DOUBLE_EQ(calendar.Year(), 2024);
}

struct WheelCase {
    int delta;
    int month;  // where March 2024 comes to rest
};

class CalendarWheel : public ::testing::TestWithParam<WheelCase> {};

TEST_P(CalendarWheel, StepsSixRowsAndSnaps)
{
    QCustomCalendar calendar;
    calendar.SetAvailableDays({{Day(2023, 1, 1), 3 * 365}}, Day(2024, 3, 13));
    calendar.show();
    Finish(calendar);
    Wheel(calendar, GetParam().delta);
    ASSERT_EQ(calendar.WeekAnimation().state(), QAbstractAnimation::Running);
    Finish(calendar);
    EXPECT_DOUBLE_EQ(calendar.Week(), TargetWeek(2024, GetParam().month));
    EXPECT_DOUBLE_EQ(calendar.Year(), 2024);
}

INSTANTIATE_TEST_SUITE_P(Directions, CalendarWheel,
                         ::testing::Values(WheelCase{120, 4},    // away from the user: later
                                           WheelCase{-120, 2})); // towards the user: earlier

TEST(QCustomCalendar, HoverHighlightsOnlyDaysWithVideo)
{
    QCustomCalendar calendar;
    const int d1 = Day(2024, 3, 11);
    calendar.SetAvailableDays({{d1, 2}}, d1);
    Send(calendar, QEvent::MouseMove, CellCentre(calendar, 2024, d1 + 1));
    EXPECT_EQ(calendar.HoveredDay(), d1 + 1);
    Send(calendar, QEvent::MouseMove, CellCentre(calendar, 2024, d1 + 5));
    EXPECT_EQ(calendar.HoveredDay(), 0);
}

TEST(QCustomCalendar, PaintsTheSelectedDayAndTheCentredYear)
{
    QCustomCalendar calendar;
    const int d1 = Day(2024, 3, 11);
    calendar.SetAvailableDays({{d1, 2}}, d1);
    const QImage image = calendar.grab().toImage();
    const QPoint selected = CellCentre(calendar, 2024, d1);
    const QPoint other = CellCentre(calendar, 2024, d1 + 7);
    // Corners of the cells, clear of the digits.
    EXPECT_EQ(image.pixelColor(selected + QPoint(-11, -7)), QColor(32, 118, 204));
    EXPECT_EQ(image.pixelColor(other + QPoint(-11, -7)), QColor(0, 0, 0));
    // The month band is brightest beside the centred month and dimmer
    // towards its ends.
    // March 2024 runs from half of the row of Friday the 1st to the end of
    // the row of Sunday the 31st, so its label's middle stands a quarter row
    // below the view's middle.
    EXPECT_GE(image.pixelColor(3, 125).blue(), 200);
    EXPECT_LT(image.pixelColor(3, 53).blue(), 150);
    // The year band is brightest over the centred year.
    EXPECT_GE(image.pixelColor(73 + 98, 2).blue(), 200);
    EXPECT_LT(image.pixelColor(75, 2).blue(), 100);
}

}  // namespace
