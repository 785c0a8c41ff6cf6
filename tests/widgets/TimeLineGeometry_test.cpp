// The time line's arithmetic without a widget: gap classes, where times lie
// on the strip and back, zoom limits, tick steps and durations.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "widgets/TimeLineGeometry.h"

namespace {

using timeline::GapWidths;
using utils::IntervalList;

const GapWidths kGaps = {6, 10, 14, 20};
constexpr int64_t kDay = 86400000;

TEST(TimeLineGeometry, GapClassesAtTheirBounds) {
    const struct {
        int64_t gap;
        timeline::GapClass expected;
    } cases[] = {
        {1, timeline::GapSeconds},       {60000, timeline::GapSeconds},  {60001, timeline::GapMinutes},
        {3600000, timeline::GapMinutes}, {3600001, timeline::GapHours},  {86400000, timeline::GapHours},
        {86400001, timeline::GapDays},   {30 * kDay, timeline::GapDays},
    };
    for (const auto& c : cases) {
        const IntervalList list = {{1000, 500}, {1500 + c.gap, 500}};
        EXPECT_EQ(timeline::GapAfter(list, 0), c.expected) << c.gap;
        // The next band starts one gap image after the first band's end.
        EXPECT_EQ(timeline::TimeToPosition(1500 + c.gap, list, 0.2, kGaps), 100 + kGaps[c.expected]) << c.gap;
    }
}

TEST(TimeLineGeometry, IntervalsThreeDaysApartLieOneDayGapApart) {
    const IntervalList list = {{0, 10000}, {10000 + 3 * kDay, 10000}};
    const double scale = 0.05;  // 500 px per interval
    EXPECT_EQ(timeline::SegmentWidth(list, 0, scale, kGaps), 500 + kGaps[timeline::GapDays]);
    EXPECT_EQ(timeline::TimeToPosition(list[1].start, list, scale, kGaps), 520);
    EXPECT_EQ(timeline::TimeToPosition(utils::IntervalEnd(list[1]), list, scale, kGaps), 1020);
}

TEST(TimeLineGeometry, TimesInAGapLieAtTheEndOfTheBandBefore) {
    // Band 0 is 333.4 px, rounded to 333; the minute gap adds 10.
    const IntervalList list = {{10000, 1667}, {10000 + 1667 + 120000, 1000}};
    const double scale = 0.2;
    ASSERT_EQ(timeline::SegmentWidth(list, 0, scale, kGaps), 343);
    for (int64_t t : {int64_t(11667), int64_t(50000), list[1].start - 1})
        EXPECT_EQ(timeline::TimeToPosition(t, list, scale, kGaps), 333) << t;
    for (double x : {333.0, 335.5, 342.9}) EXPECT_EQ(timeline::PositionToTime(x, list, scale, kGaps), 11667) << x;
    EXPECT_EQ(timeline::PositionToTime(343, list, scale, kGaps), list[1].start);
    // Before the first band and after the last one the ends hold.
    EXPECT_EQ(timeline::PositionToTime(-50, list, scale, kGaps), 10000);
    EXPECT_EQ(timeline::PositionToTime(1e6, list, scale, kGaps), utils::IntervalEnd(list[1]));
    EXPECT_EQ(timeline::TimeToPosition(0, list, scale, kGaps), 0);
    EXPECT_EQ(timeline::PositionToTime(5, IntervalList(), scale, kGaps), 0);
}

TEST(TimeLineGeometry, ThreeMonthsAtTheClosestZoomReadBackBeyondTheIntRange) {
    // Three months of continuous recording, a gap, and a day more, at the
    // zoom that shows 3 s across a 1600 px strip.
    const int64_t start = 1677628800000;
    const IntervalList list = {{start, 90 * kDay}, {start + 90 * kDay + 5000, kDay}};
    const double scale = timeline::ClampZoom(100, 1600, {{0, 91 * kDay}}) * timeline::kZoomScale;
    ASSERT_NEAR(scale, 1600.0 / 3000, 1e-12);
    const int64_t late = start + 89 * kDay + 12345;
    const double x = timeline::TimeToPosition(late, list, scale, kGaps);
    EXPECT_GT(x, 4.0e9);
    EXPECT_EQ(timeline::PositionToTime(x, list, scale, kGaps), late);
    const int64_t afterGap = list[1].start + 777;
    const double y = timeline::TimeToPosition(afterGap, list, scale, kGaps);
    EXPECT_EQ(y, timeline::SegmentWidth(list, 0, scale, kGaps) + 777 * scale);
    EXPECT_EQ(timeline::PositionToTime(y, list, scale, kGaps), afterGap);
}

TEST(TimeLineGeometry, ZoomLimits) {
    const struct {
        double zoom;
        double strip;
        int64_t total;
        double expected;
    } cases[] = {
        // fit 0.533, max 2.667: inside the range stays.
        {1.0, 1600, 15000, 1.0},
        {4.0, 1600, 15000, 1600.0 / 600},
        {0.1, 1600, 15000, 1600.0 / 3000},
        // The whole length fits at a higher zoom than 1.
        {1.0, 1600, 4000, 2.0},
        // Shorter than 3 s: the 3 s zoom is both limits.
        {1.0, 1600, 1000, 1600.0 / 600},
        {0.5, 1600, 0, 1600.0 / 600},
    };
    for (const auto& c : cases) {
        const IntervalList gapless = c.total ? IntervalList{{0, c.total}} : IntervalList();
        EXPECT_DOUBLE_EQ(timeline::ClampZoom(c.zoom, c.strip, gapless), c.expected) << c.zoom << " " << c.total;
    }
}

TEST(TimeLineGeometry, MajorTickSteps) {
    const struct {
        double zoom;
        int64_t step;
        double pixels;
    } cases[] = {
        {1.5, 1000, 300}, {1.0, 1000, 200}, {0.0625, 16000, 200}, {0.25, 4000, 200}, {0.3, 3000, 180},
    };
    for (const auto& c : cases) {
        const int64_t step = timeline::MajorTickStep(c.zoom);
        EXPECT_EQ(step, c.step) << c.zoom;
        EXPECT_NEAR(step * c.zoom * timeline::kZoomScale, c.pixels, 1e-9) << c.zoom;
    }
}

TEST(TimeLineGeometry, DurationsElapsedAndRemaining) {
    utils::TimeConverter converter;
    converter.ArchivePeriods() = {{100000, 4000}, {200000, 3600000}};
    converter.RebuildContinuous();
    const struct {
        int64_t at;
        int64_t elapsed;
    } cases[] = {{50000, 0}, {101000, 1000}, {150000, 3999}, {200000, 4000}, {200000 + 3600000, 3603999}};
    for (const auto& c : cases) {
        const timeline::Durations d = timeline::DurationsAt(c.at, converter);
        EXPECT_EQ(d.elapsed, c.elapsed) << c.at;
        EXPECT_EQ(d.elapsed + d.remaining, 3604000) << c.at;
    }
    EXPECT_EQ(timeline::DurationsAt(5, utils::TimeConverter()).remaining, 0);

    const struct {
        int64_t ms;
        const char* text;
    } texts[] = {
        {0, "00:00:00"}, {999, "00:00:00"}, {3723999, "01:02:03"}, {25 * 3600000, "25:00:00"}, {-5, "00:00:00"}};
    for (const auto& t : texts) EXPECT_EQ(timeline::FormatDurationText(t.ms), t.text) << t.ms;
}

}  // namespace
