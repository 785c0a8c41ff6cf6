#pragma once
// The date button's pop-up calendar: one year as a continuous column of week
// rows, scrolled vertically by dragging, flicking or the wheel, and slid
// sideways from one year page to the next. Days that hold video are bright,
// and a click selects the nearest such day. Every scroll comes to rest with a
// whole month of a whole year centred in the view.

#include <QDate>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

#include "widgets/CalendarLayout.h"
#include "widgets/KineticTracker.h"
#include "widgets/QSpeedBasedAnimation.h"

class QCustomCalendar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double Week READ Week WRITE SetWeek)
    Q_PROPERTY(double Year READ Year WRITE SetYear)

public:
    using YearInfo = calendar_layout::YearInfo;
    using DayRange = calendar_layout::DayRange;

    struct BandSegment {
        int alpha = 0;
        QString text;
        int position = 0;  // pixels along the band
    };

    QCustomCalendar();
    // Tests pass a stepped clock for the flick velocity.
    explicit QCustomCalendar(KineticTracker::Clock clock);

    // Replaces the days that hold video (sorted, Julian days) and selects the
    // available day nearest to day; DateSelected is always emitted. Without
    // ranges today is the only available day.
    void SetAvailableDays(const std::vector<DayRange>& ranges, int day);
    // Selects the available day nearest to day; with scroll the view moves
    // to its month (at once while hidden).
    void SetCurrentDay(int day, bool scroll);
    void ScrollToMonth(int year, int month, double yearSpeed, double weekSpeed);

    double Week() const { return week; }
    double Year() const { return year; }
    void SetWeek(double value) { SetScroll(year, value); }
    void SetYear(double value) { SetScroll(value, week); }

    int SelectedDay() const { return selectedDay; }
    int HoveredDay() const { return hoveredDay; }
    double MonthPositionInView() const { return monthPosition; }
    const std::vector<YearInfo>& Years() const { return years; }
    QSpeedBasedAnimation& WeekAnimation() { return weekAnimation; }
    QSpeedBasedAnimation& YearAnimation() { return yearAnimation; }

signals:
    void DateSelected(QDate date);

public slots:
    // Follows a date chosen elsewhere and writes back the day actually
    // selected; ignored while this widget is emitting DateSelected itself.
    void DateChanged(QDate& date);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void BuildNames();
    void SetScroll(double newYear, double newWeek);
    void SnapScroll(const calendar_layout::ScrollTarget& target);
    void Select(int day);
    int DayAt(QPoint point) const;

    void DrawCell(QPainter& painter, const QRect& rect, QColor textColour, QColor backgroundColour, int alpha,
                  const QString& text) const;
    void DrawSegmentBand(QPainter& painter, const QRect& rect, const std::vector<BandSegment>& segments) const;
    void PaintYearBand(QPainter& painter) const;
    void PaintDayNames(QPainter& painter) const;
    void PaintDays(QPainter& painter) const;
    void PaintMonthBand(QPainter& painter) const;
    void PaintWeekNumbers(QPainter& painter) const;

    double week = 0;
    double monthPosition = 1;
    double year = 0;
    QPoint lastMousePos;
    bool dragging = false;
    QSpeedBasedAnimation weekAnimation;
    QSpeedBasedAnimation yearAnimation;
    KineticTracker tracker;
    std::vector<YearInfo> years;
    int hoveredDay = 0;
    int selectedDay = 0;
    bool inDateChange = false;
    std::vector<DayRange> availableDays;
    QStringList monthNames;
    QStringList dayNames;
};
