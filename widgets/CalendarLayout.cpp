#include "widgets/CalendarLayout.h"

#include <algorithm>
#include <cmath>

#include <QDate>

namespace calendar_layout {

namespace {

int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

double Fraction(double x) { return x - std::floor(x); }

double YearMonthCentre(int year, int month) {
  const QDate first(year, month, 1);
  const int firstDay = int(first.toJulianDay());
  const int lastDay = firstDay + first.daysInMonth() - 1;
  return (RowOf(year, firstDay) + RowOf(year, lastDay) + 1) / 2.0;
}

}  // namespace

YearInfo MakeYear(int year) {
  const QDate january1(year, 1, 1);
  YearInfo info;
  info.year = year;
  info.january1 = int(january1.toJulianDay());
  info.firstMonday = info.january1 - (january1.dayOfWeek() - 1);
  return info;
}

int YearOf(int day) { return QDate::fromJulianDay(day).year(); }

int RowOf(int year, int day) { return FloorDiv(day - MakeYear(year).firstMonday, 7); }

std::vector<YearInfo> BuildYears(const DayRanges& ranges, int currentYear) {
  std::vector<YearInfo> years;
  if (ranges.empty()) return years;
  const int first = YearOf(ranges.front().firstDay) - 2;
  const int last = YearOf(ranges.back().LastDay()) + 2;
  for (int y = first; y <= last; ++y) years.push_back(MakeYear(y == 0 ? currentYear : y));
  return years;
}

int NearestAvailable(const DayRanges& ranges, int d) {
  const auto it = std::lower_bound(ranges.begin(), ranges.end(), d,
                                   [](const DayRange& r, int day) { return r.LastDay() < day; });
  if (it == ranges.end()) return ranges.empty() ? 0 : ranges.back().LastDay();
  if (it != ranges.begin()) {
    const int previousLast = std::prev(it)->LastDay();
    if (d - previousLast < it->firstDay - d) return previousLast;
  }
  return d >= it->firstDay ? d : it->firstDay;
}

bool IsAvailable(const DayRanges& ranges, int d) {
  const auto it = std::lower_bound(ranges.begin(), ranges.end(), d,
                                   [](const DayRange& r, int day) { return r.LastDay() < day; });
  return it != ranges.end() && it->firstDay <= d;
}

double ClampYear(const std::vector<YearInfo>& years, double x) {
  if (years.empty()) return x;
  return std::clamp(x, double(years.front().year + 2), double(years.back().year - 2));
}

double MonthCentre(double x, int month) {
  const int year = int(std::floor(x));
  const double f = Fraction(x);
  const double here = YearMonthCentre(year, month);
  if (f == 0) return here;
  return here + (YearMonthCentre(year + 1, month) - here) * f;
}

double MonthPosition(double x, double week) {
  const double middle = week + kVisibleRowsMiddle;
  // Between the centres of months i and i + 1 the position runs from i to
  // i + 1; before January's centre it stays 1, past December's 12.
  for (int i = 1; i <= 11; ++i) {
    const double c = MonthCentre(x, i);
    const double n = MonthCentre(x, i + 1);
    if (middle < n) return std::clamp((middle - c) / (n - c) + i, 1.0, 12.0);
  }
  return 12;
}

double TargetWeek(int year, int month) { return MonthCentre(year, month) - kVisibleRowsMiddle; }

int DayAt(const std::vector<YearInfo>& years, double year, double week, QPoint point) {
  if (point.x() < kGridLeft || point.x() >= kGridLeft + kGridWidth || point.y() < kGridTop ||
      point.y() >= kGridTop + kGridHeight || years.empty())
    return 0;
  const int left = int(kGridLeft - Fraction(year) * kGridWidth);
  const int page = (point.x() - left) / kGridWidth;
  const int pageYear = int(std::floor(year)) + page;
  if (int(std::floor(year)) < years.front().year || pageYear > years.back().year) return 0;
  const int top = int(kGridTop - Fraction(week) * kCellHeight);
  const int column = (point.x() - left) / kCellWidth - 7 * page;
  const int row = (point.y() - top) / kCellHeight + int(std::floor(week));
  return MakeYear(pageYear).firstMonday + column + 7 * row;
}

ScrollTarget SnapScroll(const std::vector<YearInfo>& years, double yearTarget, double yearSpeed,
                        double weekTarget, double weekSpeed) {
  const double y = ClampYear(years, yearTarget);
  const double m = MonthPosition(y, weekTarget);
  return {yearTarget, weekTarget, int(std::floor(y + 0.5)), int(std::floor(m + 0.5)), yearSpeed, weekSpeed};
}

ScrollTarget FlickTarget(const std::vector<YearInfo>& years, double year, double week, QPointF velocity) {
  const double weekSpeed = std::clamp(-velocity.y() / kCellHeight, -30.0, 30.0);
  const double weekDelta = std::copysign(weekSpeed * weekSpeed / 3 / 50, weekSpeed);
  const double yearSpeed = std::clamp(-velocity.x() / kGridWidth, -3.4, 3.4);
  const double yearDelta = std::copysign(yearSpeed * yearSpeed / 3 / 5.7, yearSpeed);
  return SnapScroll(years, year + yearDelta, yearSpeed, week + weekDelta, weekSpeed);
}

ScrollTarget WheelTarget(const std::vector<YearInfo>& years, double year, double week, int wheelDelta) {
  return wheelDelta > 0 ? SnapScroll(years, year, 0, week + 6, 30) : SnapScroll(years, year, 0, week - 6, -30);
}

int LabelAlpha(double position, double value) {
  return 64 + int(std::floor((1 - std::min(1.0, std::fabs(position - value))) * 191 + 0.5));
}

int MonthAlpha(double monthPosition, double clampedYear, int year, int month) {
  const double monthWeight = 1 - std::min(1.0, std::fabs(monthPosition - month));
  const double yearWeight = 1 - std::min(1.0, std::fabs(clampedYear - year));
  return 64 + int(std::floor(monthWeight * yearWeight * 191 + 0.5));
}

int WeekRowAlpha(double monthPosition, double clampedYear, int row) {
  const int page = int(std::floor(clampedYear));
  auto pageAlpha = [&](int year) {
    const int monday = MakeYear(year).firstMonday + 7 * row;
    return std::max(LabelAlpha(monthPosition, QDate::fromJulianDay(monday).month()),
                    LabelAlpha(monthPosition, QDate::fromJulianDay(monday + 6).month()));
  };
  const int here = pageAlpha(page);
  return int(here + (pageAlpha(page + 1) - here) * Fraction(clampedYear));
}

MonthEdges MonthSpan(double clampedYear, double week, int month) {
  auto pageEdges = [&](int year) {
    const QDate first(year, month, 1);
    const QDate last(year, month, first.daysInMonth());
    MonthEdges edges;
    edges.top = (RowOf(year, int(first.toJulianDay())) + (first.dayOfWeek() != 1 ? 0.5 : 0) - week) * kCellHeight;
    edges.bottom =
        (RowOf(year, int(last.toJulianDay())) + 1 - (last.dayOfWeek() != 7 ? 0.5 : 0) - week) * kCellHeight;
    return edges;
  };
  const int page = int(std::floor(clampedYear));
  const double f = Fraction(clampedYear);
  const MonthEdges here = pageEdges(page);
  if (f == 0) return here;
  const MonthEdges next = pageEdges(page + 1);
  return {here.top + (next.top - here.top) * f, here.bottom + (next.bottom - here.bottom) * f};
}

std::vector<GradientStop> BandGradientStops(const std::vector<BandSegment>& segments) {
  if (segments.size() < 2) return {{0, 64}, {1, 64}};
  const double a = segments.front().position;
  const double span = segments.back().position - a;
  auto at = [&](double p) { return span != 0 ? (p - a) / span : 0.0; };
  std::vector<GradientStop> stops;
  const size_t labels = segments.size() - 1;
  for (size_t i = 0; i < labels; ++i) {
    const BandSegment& s = segments[i];
    const BandSegment& n = segments[i + 1];
    stops.push_back({at(s.position), i == 0 ? 64 : std::min(segments[i - 1].alpha, s.alpha)});
    stops.push_back({at((s.position + n.position) / 2.0), s.alpha});
    stops.push_back({at(n.position), i + 1 == labels ? 64 : std::min(s.alpha, n.alpha)});
  }
  return stops;
}

}  // namespace calendar_layout
