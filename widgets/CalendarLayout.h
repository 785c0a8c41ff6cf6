#pragma once
// The arithmetic of the scrolling year calendar: week rows, the days that hold
// video, scroll positions and where a flick or a wheel step comes to rest.
// Days are Julian day numbers (QDate::toJulianDay). A year page's row 0 starts
// on the Monday on or before 1 January; rows are plain seven-day steps, so a
// row index may be negative or run past the year.

#include <vector>

#include <QPoint>
#include <QPointF>

namespace calendar_layout {

constexpr int kCellWidth = 28;
constexpr int kCellHeight = 20;
constexpr int kGridLeft = kCellWidth + 45;       // 73
constexpr int kGridTop = 2 * kCellHeight + 10;   // 50
constexpr int kGridWidth = 7 * kCellWidth;       // 196, one year page
constexpr int kGridHeight = 7 * kCellHeight;     // 140
constexpr double kVisibleRowsMiddle = 3.5;       // rows from the top row to the view's middle

struct YearInfo {
  int year = 0;
  int firstMonday = 0;  // Julian day of row 0's Monday
  int january1 = 0;
};

// firstDay to firstDay + extraDays inclusive.
struct DayRange {
  int firstDay = 0;
  int extraDays = 0;
  int LastDay() const { return firstDay + extraDays; }
};
using DayRanges = std::vector<DayRange>;  // sorted by day

YearInfo MakeYear(int year);
// The year of a Julian day, the row of a day on a year page.
int YearOf(int day);
int RowOf(int year, int day);

// The years from two before the first range to two after the last one; a year
// number 0 becomes currentYear.
std::vector<YearInfo> BuildYears(const DayRanges& ranges, int currentYear);

// The available day nearest to d; equal distances go to the later range; 0
// without ranges.
int NearestAvailable(const DayRanges& ranges, int d);
bool IsAvailable(const DayRanges& ranges, int d);

// x limited to the years of the first and last available days.
double ClampYear(const std::vector<YearInfo>& years, double x);
// A month's centre in rows of year page x (interpolated between pages).
double MonthCentre(double x, int month);
// The month at the view's middle (1 to 12, fractional between months).
double MonthPosition(double x, double week);
// The top row that centres month in the view.
double TargetWeek(int year, int month);

// The day under a point of the widget, 0 outside the grid or the years.
int DayAt(const std::vector<YearInfo>& years, double year, double week, QPoint point);

// Where a scroll comes to rest: a whole month of a whole year, reached from
// the given speeds (pages and rows per second).
struct ScrollTarget {
  double yearTarget = 0;  // where the scroll was heading before the snap
  double weekTarget = 0;
  int year = 0;
  int month = 0;
  double yearSpeed = 0;
  double weekSpeed = 0;
};
ScrollTarget SnapScroll(const std::vector<YearInfo>& years, double yearTarget, double yearSpeed,
                        double weekTarget, double weekSpeed);
// A flick with the mouse velocity in pixels per second: the content keeps
// moving with the mouse and slows down to rest.
ScrollTarget FlickTarget(const std::vector<YearInfo>& years, double year, double week, QPointF velocity);
// A wheel step: six rows towards later dates when wheelDelta is positive
// (away from the user), towards earlier dates otherwise.
ScrollTarget WheelTarget(const std::vector<YearInfo>& years, double year, double week, int wheelDelta);

// A label's opacity: 255 at position, 64 one step away or more.
int LabelAlpha(double position, double value);
// A day cell's opacity from both the month and the year distance.
int MonthAlpha(double monthPosition, double clampedYear, int year, int month);

// A row's week-number opacity: the brighter of the months of its Monday and
// Sunday, interpolated between the clamped year's page and the next.
int WeekRowAlpha(double monthPosition, double clampedYear, int row);

// A month's top and bottom edge in pixels below the grid's top, between the
// clamped year's page and the next; a month that starts or ends mid-week
// shares that row half and half.
struct MonthEdges {
  double top = 0;
  double bottom = 0;
};
MonthEdges MonthSpan(double clampedYear, double week, int month);

// One label of a band, and the stops of the band's gradient: each label's
// alpha at its middle, the dimmer neighbour's at each boundary, 64 at both
// ends. The last segment only marks where the labels end.
struct BandSegment {
  int alpha = 0;
  int position = 0;
};
struct GradientStop {
  double at = 0;  // 0 to 1 from the first segment's position to the last one's
  int alpha = 0;
};
std::vector<GradientStop> BandGradientStops(const std::vector<BandSegment>& segments);

}  // namespace calendar_layout
