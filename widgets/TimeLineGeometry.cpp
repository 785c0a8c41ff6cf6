#include "widgets/TimeLineGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace timeline {

namespace {
// PositionToTime reads back what TimeToPosition wrote: a product and a
// quotient by the same scale may land a hair below the whole millisecond.
constexpr double kReadBackSlack = 1e-3;
}  // namespace

GapClass ClassOfGap(int64_t gapMs) {
    if (gapMs <= 60000) return GapSeconds;
    if (gapMs <= 3600000) return GapMinutes;
    if (gapMs <= 86400000) return GapHours;
    return GapDays;
}

GapClass GapAfter(const utils::IntervalList& list, std::size_t i) {
    return ClassOfGap(list[i + 1].start - utils::IntervalEnd(list[i]));
}

double BandWidth(const utils::Interval& interval, double scale) {
    return std::floor(static_cast<double>(interval.length) * scale + 0.5);
}

double SegmentWidth(const utils::IntervalList& list, std::size_t i, double scale, const GapWidths& gaps) {
    return std::floor(gaps[GapAfter(list, i)] + static_cast<double>(list[i].length) * scale + 0.5);
}

int64_t PositionToTime(double x, const utils::IntervalList& list, double scale, const GapWidths& gaps) {
    if (list.empty() || scale <= 0) return 0;
    std::size_t i = 0;
    for (; i + 1 < list.size(); ++i) {
        const double width = SegmentWidth(list, i, scale, gaps);
        if (x < width) break;
        x -= width;
    }
    const utils::Interval& interval = list[i];
    // The band's right edge (where TimeToPosition puts the end) shows the end.
    if (x >= BandWidth(interval, scale)) return utils::IntervalEnd(interval);
    const double offset = std::floor(x / scale + kReadBackSlack);
    if (offset <= 0) return interval.start;
    if (offset >= static_cast<double>(interval.length)) return utils::IntervalEnd(interval);
    return interval.start + static_cast<int64_t>(offset);
}

double TimeToPosition(int64_t t, const utils::IntervalList& list, double scale, const GapWidths& gaps) {
    double x = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const bool last = i + 1 == list.size();
        if (!last && t >= list[i + 1].start) {
            x += SegmentWidth(list, i, scale, gaps);
            continue;
        }
        // Whole pixels only at the band's end, so a time inside the band
        // reads back exactly and the end meets the band's painted edge.
        if (t >= utils::IntervalEnd(list[i]))
            x += BandWidth(list[i], scale);
        else if (t > list[i].start)
            x += static_cast<double>(t - list[i].start) * scale;
        break;
    }
    return x;
}

double ClampZoom(double zoom, double stripWidth, const utils::IntervalList& gapless) {
    if (stripWidth <= 0) return zoom;
    const double total =
        gapless.empty() ? 0.0 : static_cast<double>(utils::IntervalEnd(gapless.back()) - gapless.front().start);
    const double fit = total > 0 ? stripWidth / (total * kZoomScale) : std::numeric_limits<double>::infinity();
    const double max = stripWidth / (kZoomScale * kMinVisibleMs);
    const double min = std::min(fit, max);
    return zoom < min ? min : zoom > max ? max : zoom;
}

int64_t MajorTickStep(double zoom) {
    // Beyond a century per step the strip is empty anyway; the bound keeps
    // the conversion defined for a zoom of 0 or a denormal.
    constexpr double kLongest = 1e13;
    const double ms = zoom > 0 ? std::min(1000.0 / zoom, kLongest) : kLongest;
    const auto step = static_cast<int64_t>(std::max(ms, 1000.0));
    return step - step % 1000;
}

Durations DurationsAt(int64_t archiveTime, const utils::TimeConverter& intervals) {
    const utils::IntervalList& archive = intervals.GetArchivePeriods();
    const utils::IntervalList& gapless = intervals.GetContinuousPeriods();
    Durations result;
    const int64_t total = gapless.empty() ? 0 : utils::IntervalEnd(gapless.back());
    if (archive.empty() || archive.size() != gapless.size()) {
        result.remaining = total;
        return result;
    }
    result.elapsed = utils::MapTimeBetweenIntervals(archiveTime, archive, gapless, 1);
    result.remaining = total - result.elapsed;
    return result;
}

std::string FormatDurationText(int64_t milliseconds) {
    const int64_t seconds = std::max<int64_t>(milliseconds, 0) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

}  // namespace timeline
