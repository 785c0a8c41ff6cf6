#include "widgets/QCustomCalendar.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using namespace calendar_layout;

namespace {

const QColor kBorder(114, 120, 134);
const QColor kCellBackground(0, 0, 0);
const QColor kHighlight(32, 118, 204);
const QColor kText(255, 255, 255);
const QColor kWeekend(255, 102, 0);

double Fraction(double x) { return x - std::floor(x); }

int Floor(double x) { return int(std::floor(x)); }

QColor WithAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

QStringList SplitPadded(const QString& text, int count)
{
    QStringList parts = text.split(QLatin1Char('|'), Qt::KeepEmptyParts);
    while (parts.size() < count)
        parts.append(QString());
    return parts;
}

bool IsWeekend(int column) { return column % 7 >= 5; }

}  // namespace

QCustomCalendar::QCustomCalendar() : QCustomCalendar(KineticTracker::Clock()) {}

QCustomCalendar::QCustomCalendar(KineticTracker::Clock clock)
    : weekAnimation(this, "Week"), yearAnimation(this, "Year"), tracker(clock ? KineticTracker(clock) : KineticTracker())
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_MouseTracking);
    QFont calendarFont(QStringLiteral("Verdana"), 8);
    calendarFont.setStyleStrategy(QFont::PreferAntialias);
    setFont(calendarFont);
    resize(kGridLeft + kGridWidth + 1, kGridTop + kGridHeight + 1);
    BuildNames();
    SetAvailableDays({}, 0);
}

void QCustomCalendar::BuildNames()
{
    monthNames = SplitPadded(
        tr("January|February|March|April|May|June|July|August|September|October|November|December"), 12);
    dayNames = SplitPadded(tr("Mon|Tue|Wed|Thu|Fri|Sat|Sun"), 7);
}

void QCustomCalendar::SetAvailableDays(const std::vector<DayRange>& ranges, int day)
{
    availableDays = ranges;
    if (availableDays.empty())
        availableDays.push_back({int(QDate::currentDate().toJulianDay()), 0});
    years = BuildYears(availableDays, QDate::currentDate().year());
    selectedDay = 0;
    SetCurrentDay(day, true);
}

void QCustomCalendar::Select(int day)
{
    if (day == selectedDay)
        return;
    selectedDay = day;
    inDateChange = true;
    emit DateSelected(QDate::fromJulianDay(day));
    inDateChange = false;
    update();
}

void QCustomCalendar::SetCurrentDay(int day, bool scroll)
{
    Select(NearestAvailable(availableDays, day));
    if (scroll) {
        const QDate date = QDate::fromJulianDay(selectedDay);
        ScrollToMonth(date.year(), date.month(), 0, 0);
    }
}

void QCustomCalendar::DateChanged(QDate& date)
{
    if (inDateChange)
        return;
    SetCurrentDay(int(date.toJulianDay()), true);
    date = QDate::fromJulianDay(selectedDay);
}

void QCustomCalendar::SetScroll(double newYear, double newWeek)
{
    year = newYear;
    week = newWeek;
    if (!years.empty() && year >= years.front().year && year < years.back().year)
        monthPosition = MonthPosition(year, week);
    update();
}

void QCustomCalendar::ScrollToMonth(int toYear, int month, double yearSpeed, double weekSpeed)
{
    const double targetWeek = TargetWeek(toYear, month);
    if (isVisible()) {
        yearAnimation.Start(year, toYear, yearSpeed, 1.0);
        weekAnimation.Start(week, targetWeek, weekSpeed, 1.0);
    } else {
        SetScroll(toYear, targetWeek);
    }
}

void QCustomCalendar::SnapScroll(const ScrollTarget& target)
{
    ScrollToMonth(target.year, target.month, target.yearSpeed, target.weekSpeed);
}

int QCustomCalendar::DayAt(QPoint point) const { return calendar_layout::DayAt(years, year, week, point); }

void QCustomCalendar::mousePressEvent(QMouseEvent* event)
{
    dragging = true;
    lastMousePos = event->pos();
    weekAnimation.stop();
    yearAnimation.stop();
    const int day = DayAt(event->pos());
    if (day != 0)
        Select(NearestAvailable(availableDays, day));
    tracker.Start(event->pos());
}

void QCustomCalendar::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->pos();
    if (dragging) {
        // The content follows the mouse: a page width per year, a cell
        // height per row.
        SetScroll(year - double(pos.x() - lastMousePos.x()) / kGridWidth, week);
        SetScroll(year, week - double(pos.y() - lastMousePos.y()) / kCellHeight);
        tracker.AddSample(pos);
    }
    const int under = DayAt(pos);
    const int hovered = IsAvailable(availableDays, under) ? under : 0;
    if (hovered != hoveredDay) {
        hoveredDay = hovered;
        update();
    }
    lastMousePos = pos;
}

void QCustomCalendar::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
    // A press without movement brings the selected day's month back into
    // view; a drag ends in a flick that snaps to a month.
    if (tracker.SampleCount() < 2) {
        SetCurrentDay(selectedDay, true);
        return;
    }
    SnapScroll(FlickTarget(years, year, week, tracker.Velocity()));
}

void QCustomCalendar::wheelEvent(QWheelEvent* event)
{
    weekAnimation.stop();
    SnapScroll(WheelTarget(years, year, week, event->angleDelta().y()));
}

void QCustomCalendar::DrawCell(QPainter& painter, const QRect& rect, QColor textColour, QColor backgroundColour,
                               int alpha, const QString& text) const
{
    // Every colour of a cell, its border too, fades with the cell.
    painter.setPen(WithAlpha(kBorder, alpha));
    painter.setBrush(WithAlpha(backgroundColour, alpha));
    painter.drawRect(rect);
    painter.setPen(WithAlpha(textColour, alpha));
    painter.drawText(rect, Qt::AlignCenter, text);
}

void QCustomCalendar::DrawSegmentBand(QPainter& painter, const QRect& rect,
                                      const std::vector<BandSegment>& segments) const
{
    std::vector<calendar_layout::BandSegment> stops;
    for (const BandSegment& s : segments)
        stops.push_back({s.alpha, s.position});
    const double from = segments.empty() ? 0 : segments.front().position;
    const double to = segments.empty() ? rect.width() : segments.back().position;
    QLinearGradient gradient(from, 0, to, 0);
    for (const GradientStop& stop : BandGradientStops(stops))
        gradient.setColorAt(std::clamp(stop.at, 0.0, 1.0), WithAlpha(kHighlight, stop.alpha));
    painter.setPen(kBorder);
    painter.setBrush(gradient);
    painter.drawRect(rect);

    painter.save();
    painter.setClipRect(rect.adjusted(1, 1, -1, -1));
    for (size_t i = 0; i + 1 < segments.size(); ++i) {
        const int left = segments[i].position + 1;
        const QRect textRect(left, rect.top(), segments[i + 1].position - left, rect.height());
        painter.setPen(WithAlpha(kText, segments[i].alpha));
        painter.drawText(textRect, Qt::AlignCenter, segments[i].text);
    }
    painter.restore();
}

void QCustomCalendar::PaintYearBand(QPainter& painter) const
{
    const double clamped = ClampYear(years, year);
    const int left = int(kGridLeft - Fraction(year) * kGridWidth) - kGridLeft;
    std::vector<BandSegment> segments;
    for (int i = 0; i < 3; ++i) {
        const int shown = Floor(year) + i;
        segments.push_back({LabelAlpha(clamped, shown), QString::number(shown), left + kGridWidth * i});
    }
    painter.save();
    painter.translate(kGridLeft, 0);
    DrawSegmentBand(painter, QRect(0, 0, kGridWidth, kCellHeight), segments);
    painter.restore();
}

void QCustomCalendar::PaintDayNames(QPainter& painter) const
{
    const double clamped = ClampYear(years, year);
    const int x0 = int(kGridLeft - Fraction(year) * kGridWidth);
    const int u = Floor(Fraction(year) * 7);
    const int headerTop = kGridTop - kCellHeight - 5;
    painter.save();
    painter.setClipRect(QRect(QPoint(kGridLeft, headerTop), QPoint(kGridLeft + kGridWidth, headerTop + kCellHeight)));
    for (int i = u; i <= u + 7; ++i) {
        const int page = Floor(year) + (i <= 6 ? 0 : 1);
        DrawCell(painter, QRect(x0 + kCellWidth * i, headerTop, kCellWidth, kCellHeight),
                 IsWeekend(i) ? kWeekend : kText, kCellBackground, LabelAlpha(clamped, page), dayNames[i % 7]);
    }
    painter.restore();
}

void QCustomCalendar::PaintDays(QPainter& painter) const
{
    const double clamped = ClampYear(years, year);
    const int x0 = int(kGridLeft - Fraction(year) * kGridWidth);
    const int y0 = int(kGridTop - Fraction(week) * kCellHeight);
    const int u = Floor(Fraction(year) * 7);
    painter.save();
    painter.setClipRect(QRect(QPoint(kGridLeft, kGridTop), QPoint(kGridLeft + kGridWidth, kGridTop + kGridHeight)));
    for (int offset = 0; offset < 2; ++offset) {
        const int pageYear = Floor(year) + offset;
        if (years.empty() || pageYear < years.front().year || pageYear > years.back().year)
            continue;
        const int firstCell = MakeYear(pageYear).firstMonday + 7 * Floor(week);
        for (int k = 0; k < 56; ++k) {
            const int column = k % 7;
            if ((offset == 0 && column < u) || (offset == 1 && column > u))
                continue;
            const int day = firstCell + k;
            const QDate date = QDate::fromJulianDay(day);
            QColor textColour = IsWeekend(column) ? kWeekend : kText;
            if (!IsAvailable(availableDays, day))
                textColour = textColour.darker(200);
            const QColor background = day == hoveredDay || day == selectedDay ? kHighlight : kCellBackground;
            const QRect cell(kGridWidth * offset + x0 + kCellWidth * column, y0 + kCellHeight * (k / 7), kCellWidth,
                             kCellHeight);
            DrawCell(painter, cell, textColour, background,
                     MonthAlpha(monthPosition, clamped, date.year(), date.month()), QString::number(date.day()));
        }
    }
    painter.restore();
}

void QCustomCalendar::PaintMonthBand(QPainter& painter) const
{
    const double clamped = ClampYear(years, year);
    std::vector<BandSegment> segments;
    double lastBottom = 0;
    for (int month = 1; month <= 12; ++month) {
        const MonthEdges edges = MonthSpan(clamped, week, month);
        if (edges.top >= kGridHeight)
            break;
        if (edges.bottom <= 0)
            continue;
        segments.push_back({LabelAlpha(monthPosition, month), monthNames[month - 1], int(kGridHeight - edges.top)});
        lastBottom = edges.bottom;
    }
    if (!segments.empty())
        segments.push_back({0, QString(), int(kGridHeight - lastBottom)});
    // Position 0 is the grid's bottom edge and 140 its top; the names read
    // upward.
    painter.save();
    painter.setClipRect(QRect(QPoint(0, kGridTop), QPoint(35, kGridTop + kGridHeight)));
    painter.translate(0, kGridTop + kGridHeight);
    painter.rotate(-90);
    DrawSegmentBand(painter, QRect(QPoint(0, 0), QPoint(kGridHeight - 1, 34)), segments);
    painter.restore();
}

void QCustomCalendar::PaintWeekNumbers(QPainter& painter) const
{
    const double clamped = ClampYear(years, year);
    const int top = int(kGridTop - Fraction(week) * kCellHeight);
    painter.save();
    painter.setClipRect(QRect(QPoint(40, kGridTop), QPoint(68, kGridTop + kGridHeight)));
    for (int k = 0; k < 8; ++k) {
        const int row = Floor(week) + k;
        DrawCell(painter, QRect(40, top + kCellHeight * k, kCellWidth, kCellHeight), kText, kCellBackground,
                 WeekRowAlpha(monthPosition, clamped, row), QString::number(row + 1));
    }
    painter.restore();
}

void QCustomCalendar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    PaintYearBand(painter);
    PaintDayNames(painter);
    PaintDays(painter);
    PaintMonthBand(painter);
    PaintWeekNumbers(painter);
}
