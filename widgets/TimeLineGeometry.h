#pragma once
// The time line's arithmetic over plain values: where a recorded interval
// lies on the strip, which time a strip position shows, the zoom limits and
// the tick step. Positions are pixels from the start of the first band, in
// double: months of recording at the closest zoom pass 2^31 pixels.
//
// A gap between two intervals takes the fixed width of its gap image,
// whatever its duration; the image is chosen by the gap's class.

#include <array>
#include <cstdint>
#include <string>

#include "media/TimeConversion.h"

namespace timeline {

// Pixels per millisecond at zoom 1.
inline constexpr double kZoomScale = 0.2;
// The closest zoom shows this many milliseconds across the strip.
inline constexpr double kMinVisibleMs = 3000;

enum GapClass : int { GapSeconds = 0, GapMinutes = 1, GapHours = 2, GapDays = 3 };

// Widths of the four gap images, indexed by GapClass.
using GapWidths = std::array<int, 4>;

// Up to a minute, an hour, a day (each inclusive), longer.
GapClass ClassOfGap(int64_t gapMs);
// The class of the gap after interval i (i not the last).
GapClass GapAfter(const utils::IntervalList& list, std::size_t i);

// Pixels of interval i: its band, rounded to whole pixels.
double BandWidth(const utils::Interval& interval, double scale);
// Band plus the gap after it (i not the last), rounded to whole pixels.
double SegmentWidth(const utils::IntervalList& list, std::size_t i, double scale, const GapWidths& gaps);

// 0 for an empty list. A position in a gap shows the end of the interval
// before it; positions before the first band or after the last clamp.
int64_t PositionToTime(double x, const utils::IntervalList& list, double scale, const GapWidths& gaps);
// The inverse within an interval; a time in a gap or past an interval's end
// lies at the right end of that interval's band.
double TimeToPosition(int64_t t, const utils::IntervalList& list, double scale, const GapWidths& gaps);

// Zoom limited to [min(fit, max), max]: fit shows the whole gapless length
// across the strip, max shows kMinVisibleMs.
double ClampZoom(double zoom, double stripWidth, const utils::IntervalList& gapless);

// Milliseconds between labelled ticks: 1000 / zoom rounded down to whole
// seconds, at least one second (about 200 pixels up to zoom 1).
int64_t MajorTickStep(double zoom);

// Elapsed and remaining gapless time at an archive time (0 and the gapless
// total for lists that do not match).
struct Durations {
    int64_t elapsed = 0;
    int64_t remaining = 0;
};
Durations DurationsAt(int64_t archiveTime, const utils::TimeConverter& intervals);

// "hh:mm:ss" of whole seconds, hours not wrapped at a day.
std::string FormatDurationText(int64_t milliseconds);

}  // namespace timeline
