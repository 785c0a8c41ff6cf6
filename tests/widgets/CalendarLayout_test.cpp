#include "widgets/CalendarLayout.h"

#include <QDate>
#include <gtest/gtest.h>

using namespace calendar_layout;

namespace {

int Day(int y, int m, int d) { return int(QDate(y, m, d).toJulianDay()); }

TEST(CalendarRows, RowZeroStartsOnTheMondayOnOrBeforeJanuaryFirst) {
  // 1 January 2024 is a Monday, 1 January 2023 a Sunday.
  EXPECT_EQ(MakeYear(2024).firstMonday, Day(2024, 1, 1));
  EXPECT_EQ(RowOf(2024, Day(2024, 1, 1)), 0);
  EXPECT_EQ(RowOf(2024, Day(2024, 1, 7)), 0);
  EXPECT_EQ(RowOf(2024, Day(2024, 1, 8)), 1);
  EXPECT_EQ(MakeYear(2023).firstMonday, Day(2022, 12, 26));
  EXPECT_EQ(RowOf(2023, Day(2023, 1, 1)), 0);
  EXPECT_EQ(RowOf(2023, Day(2022, 12, 25)), -1);
  // January 2024 fills rows 0 to 4 exactly; its centre is row 2.5.
  EXPECT_DOUBLE_EQ(MonthCentre(2024, 1), 2.5);
  // Halfway between two pages the centre lies halfway between both years' centres.
  EXPECT_DOUBLE_EQ(MonthCentre(2023.5, 1), (MonthCentre(2023, 1) + MonthCentre(2024, 1)) / 2);
}

TEST(CalendarDays, NearestAvailableDay) {
  const int d1 = Day(2024, 3, 4);
  const DayRanges ranges = {{d1, 2}, {d1 + 10, 0}};
  struct Case {
    int clicked;
    int selected;
    bool available;
  } cases[] = {
      {d1 + 6, d1 + 10, false},   // 4 days from both ranges: the later one
      {d1 + 5, d1 + 2, false},    // 3 days after the first range, 5 before the second
      {d1 + 1, d1 + 1, true},     // inside a range
      {d1 + 2, d1 + 2, true},     // a range's last day
      {d1 + 10, d1 + 10, true},
      {d1 + 40, d1 + 10, false},  // beyond the last range: its last day
      {d1 - 30, d1, false},       // before the first range: its first day
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NearestAvailable(ranges, c.clicked), c.selected) << c.clicked - d1;
    EXPECT_EQ(IsAvailable(ranges, c.clicked), c.available) << c.clicked - d1;
  }
  EXPECT_EQ(NearestAvailable({}, d1), 0);
  EXPECT_FALSE(IsAvailable({}, d1));
}

TEST(CalendarDays, YearsSpanTwoBeyondTheRecordedDays) {
  const auto years = BuildYears({{Day(2023, 12, 30), 5}}, 2026);
  ASSERT_EQ(years.size(), 6u);
  EXPECT_EQ(years.front().year, 2021);
  EXPECT_EQ(years.back().year, 2026);  // the range ends in 2024
  EXPECT_EQ(ClampYear(years, 2010), 2023);
  EXPECT_EQ(ClampYear(years, 2030), 2024);
  EXPECT_TRUE(BuildYears({}, 2026).empty());
}

TEST(CalendarDays, DayUnderThePointer) {
  const auto years = BuildYears({{Day(2024, 6, 1), 0}}, 2024);  // 2022 to 2026
  struct Case {
    double year, week;
    QPoint point;
    int day;
  } cases[] = {
      {2024, 0, {73, 50}, Day(2024, 1, 1)},
      {2024, 0, {73 + 28 * 3 + 5, 50 + 20 * 2 + 5}, Day(2024, 1, 18)},
      {2024, 10.5, {73, 50}, Day(2024, 1, 1) + 7 * 10},  // row 10, its upper half scrolled off
      {2024, 10.5, {73, 60}, Day(2024, 1, 1) + 7 * 11},
      {2023.5, 0, {73 + 100, 50}, MakeYear(2024).firstMonday + 0},  // the next page's first column
      {2023.5, 0, {73 + 97, 50}, MakeYear(2023).firstMonday + 6},
      {2024, 0, {72, 50}, 0},   // left of the grid
      {2024, 0, {73, 190}, 0},  // below it
      {2021, 0, {80, 60}, 0},   // before the listed years
      {2026.5, 0, {260, 60}, 0},  // the page after the last year
  };
  for (const Case& c : cases)
    EXPECT_EQ(DayAt(years, c.year, c.week, c.point), c.day) << c.year << " " << c.week << " " << c.point.x();
}

TEST(CalendarScroll, MonthPositionAtEachMonthsRestingPlace) {
  for (int year : {2023, 2024})
    for (int month = 1; month <= 12; ++month)
      EXPECT_DOUBLE_EQ(MonthPosition(year, TargetWeek(year, month)), month) << year << "-" << month;
  EXPECT_EQ(MonthPosition(2024, -20), 1);
  EXPECT_EQ(MonthPosition(2024, 80), 12);
}

TEST(CalendarScroll, FlickMovesSixRowsAndSnapsToAWholeMonth) {
  const auto years = BuildYears({{Day(2020, 1, 1), 365 * 6}}, 2024);
  const double week = TargetWeek(2024, 3);
  // Mouse moving up 600 px/s (or faster) scrolls towards later dates.
  for (double vy : {-600.0, -1200.0}) {
    const ScrollTarget t = FlickTarget(years, 2024, week, {0, vy});
    EXPECT_DOUBLE_EQ(t.weekSpeed, 30);
    EXPECT_DOUBLE_EQ(t.weekTarget, week + 6);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 4);  // six rows past March's centre lie a quarter into April
  }
  const ScrollTarget down = FlickTarget(years, 2024, week, {0, 600});
  EXPECT_DOUBLE_EQ(down.weekTarget, week - 6);
  EXPECT_EQ(down.month, 2);
  // A sideways flick slides to the next year page, whole.
  const ScrollTarget side = FlickTarget(years, 2024, week, {-196 * 5, 0});
  EXPECT_DOUBLE_EQ(side.yearSpeed, 3.4);
  EXPECT_NEAR(side.yearTarget, 2024 + 3.4 * 3.4 / 3 / 5.7, 1e-12);
  EXPECT_EQ(side.year, 2025);
  // A slow drag comes to rest where it is.
  const ScrollTarget still = FlickTarget(years, 2024, week, {0, 0});
  EXPECT_EQ(still.year, 2024);
  EXPECT_EQ(still.month, 3);
}

TEST(CalendarScroll, YearsStayWithinTheRecordedOnes) {
  const auto years = BuildYears({{Day(2024, 6, 1), 0}}, 2024);
  EXPECT_EQ(FlickTarget(years, 2024, TargetWeek(2024, 6), {-2000, 0}).year, 2024);
  EXPECT_EQ(FlickTarget(years, 2024, TargetWeek(2024, 6), {2000, 0}).year, 2024);
}

TEST(CalendarScroll, WheelStepsSixRows) {
  const auto years = BuildYears({{Day(2020, 1, 1), 365 * 6}}, 2024);
  const double week = TargetWeek(2024, 3);
  const ScrollTarget away = WheelTarget(years, 2024, week, 120);
  EXPECT_DOUBLE_EQ(away.weekTarget, week + 6);
  EXPECT_DOUBLE_EQ(away.weekSpeed, 30);
  EXPECT_EQ(away.month, 4);
  const ScrollTarget towards = WheelTarget(years, 2024, week, -120);
  EXPECT_DOUBLE_EQ(towards.weekTarget, week - 6);
  EXPECT_DOUBLE_EQ(towards.weekSpeed, -30);
  EXPECT_EQ(towards.month, 2);
}

TEST(CalendarFading, CentreOpaqueNeighboursQuarter) {
  EXPECT_EQ(LabelAlpha(3, 3), 255);
  EXPECT_EQ(LabelAlpha(3, 4), 64);
  EXPECT_EQ(LabelAlpha(3, 7), 64);
  EXPECT_EQ(LabelAlpha(3.5, 3), 160);
  EXPECT_EQ(MonthAlpha(4, 2024, 2024, 4), 255);
  EXPECT_EQ(MonthAlpha(4.5, 2024.5, 2024, 4), 64 + 48);  // 0.25 x 191, rounded
  EXPECT_EQ(MonthAlpha(4, 2024, 2025, 4), 64);
}

}  // namespace

namespace {

TEST(CalendarBands, MonthEdgesShareMidWeekRows) {
  // 1 January 2024 is a Monday: January's top edge is exactly row 0.
  const MonthEdges january = MonthSpan(2024, 0, 1);
  EXPECT_DOUBLE_EQ(january.top, 0);
  // 31 January is a Wednesday: January and February share row 4 half and half.
  EXPECT_DOUBLE_EQ(january.bottom, 4.5 * 20);
  EXPECT_DOUBLE_EQ(MonthSpan(2024, 0, 2).top, 4.5 * 20);
  // Scrolled by two and a half rows, the edges move up with the grid.
  EXPECT_DOUBLE_EQ(MonthSpan(2024, 2.5, 1).top, -50);
  // 2023 starts on a Sunday, half a row into row 0.
  EXPECT_DOUBLE_EQ(MonthSpan(2023, 0, 1).top, 10);
  EXPECT_DOUBLE_EQ(MonthSpan(2023.5, 0, 1).top, 5);
}

TEST(CalendarBands, WeekRowsTakeTheBrighterMonth) {
  // Row 4 of 2024 holds 29 January to 4 February.
  EXPECT_EQ(WeekRowAlpha(2, 2024, 4), 255);
  EXPECT_EQ(WeekRowAlpha(1, 2024, 4), 255);
  EXPECT_EQ(WeekRowAlpha(3, 2024, 4), 64);
  // Row 0 of 2023 starts in December 2022.
  EXPECT_EQ(WeekRowAlpha(12, 2023, 0), 255);
}

TEST(CalendarBands, GradientDimsTowardsBoundariesAndEnds) {
  const auto stops = BandGradientStops({{255, 0}, {64, 196}, {0, 392}});
  const std::vector<std::pair<double, int>> expected = {{0, 64},   {0.25, 255}, {0.5, 64},
                                                        {0.5, 64}, {0.75, 64},  {1, 64}};
  ASSERT_EQ(stops.size(), expected.size());
  for (size_t i = 0; i < stops.size(); ++i) {
    EXPECT_DOUBLE_EQ(stops[i].at, expected[i].first) << i;
    EXPECT_EQ(stops[i].alpha, expected[i].second) << i;
  }
  const auto bright = BandGradientStops({{160, 10}, {200, 110}, {0, 210}});
  EXPECT_EQ(bright[2].alpha, 160);  // the boundary takes the dimmer neighbour
  EXPECT_EQ(bright[4].alpha, 200);
  EXPECT_EQ(BandGradientStops({}).size(), 2u);
}

}  // namespace
