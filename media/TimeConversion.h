#pragma once
// Two views of the recorded material of a set of channels: the archive
// periods (ms since 1970 UTC, with the recording gaps) and the same periods
// laid end to end from 0 (the gapless time line the players show and play),
// the interval helpers that build and map between such lists, and the
// conversions between millisecond times, ptime and QDateTime.
//
// An interval list is sorted by start and, as built here, never overlaps.

#include <cstdint>
#include <vector>

#include "base/PtimeConversion.h"
#include "media/VideoSourceInterfaces.h"

class QDateTime;
namespace boost::posix_time {
class ptime;
}

namespace utils {

using Interval = filters::RecordPeriod;
using IntervalList = std::vector<filters::RecordPeriod>;

inline int64_t IntervalEnd(const Interval& i) { return i.start + i.length; }

// Gaps of at most this many milliseconds between periods are joined.
inline constexpr int64_t kJoinGapMs = 100;

// Filled on the GUI thread while nothing plays, then only read (by pin and
// decode threads too); it has no lock of its own.
class TimeConverter {
public:
    // Appends the merged union of all lists (one per channel) to the archive
    // periods, joining gaps of at most kJoinGapMs.
    void BuildArchivePeriods(const std::vector<const IntervalList*>& lists);
    void RebuildContinuous();
    void Clear();

    const IntervalList& GetContinuousPeriods() const { return m_continuous; }
    const IntervalList& GetArchivePeriods() const { return m_archive; }
    IntervalList& ArchivePeriods() { return m_archive; }

    // Seconds added to UTC for display; 0 means the machine's local zone.
    int32_t GetTimeZoneOffset() const { return m_timeZoneOffset; }
    void SetTimeZoneOffset(int32_t seconds) { m_timeZoneOffset = seconds; }

    int64_t ArchiveToContinuous(int64_t t) const;
    int64_t ContinuousToArchive(int64_t t) const;

private:
    IntervalList m_continuous;
    IntervalList m_archive;
    int32_t m_timeZoneOffset = 0;
};

// Index of the last interval whose start is not after t; 0 when t is before
// every interval or the list is empty.
int64_t FindIntervalIndex(int64_t t, const IntervalList& list);

// Maps t from one list to the interval of the same index in the other. Times
// in a gap clamp to the end of the period before it, times before the first
// period to its start. With endBias 1 a time at or past a period's end maps
// to the last millisecond of the target interval; with endBias 0 the last
// millisecond of the source interval maps to the target's end. An empty
// source list maps everything to 0.
int64_t MapTimeBetweenIntervals(int64_t t, const IntervalList& from, const IntervalList& to,
                                int endBias);

// t moved into the interval found for it (0 for an empty list).
int64_t ClampToPeriods(int64_t t, const IntervalList& list);

// Inserts the interval, merging it with every interval it touches or overlaps.
void AddInterval(IntervalList& list, const Interval& interval);

// Appends the interval clipped to start at the last end (an interval wholly
// inside the last one is appended with length 0).
void AppendPeriod(IntervalList& list, const Interval& interval);

// Add a sorted list to the converter's archive periods, joining gaps of at
// most kJoinGapMs (with AddInterval) or of at most the threshold (with
// AppendPeriod).
void AddMergedPeriods(const IntervalList& sorted, TimeConverter& converter);
void MergeCloseIntervals(const IntervalList& sorted, TimeConverter& converter,
                         int64_t threshold);

// PtimeFromMilliseconds and ShiftPtime: base/PtimeConversion.h.
// Same calendar fields, no zone conversion; an invalid date throws the date
// library's range errors (day first, then month, then year).
boost::posix_time::ptime PtimeFromQDateTime(const QDateTime& q);
// A special ptime (not-a-date-time, infinities) gives a null QDateTime.
QDateTime QDateTimeFromPtime(const boost::posix_time::ptime& p);
QDateTime LocalQDateTimeFromPtime(const boost::posix_time::ptime& p);
boost::posix_time::ptime LocalPtimeToUtc(const boost::posix_time::ptime& p);

// ms since 1970 UTC of a ptime (the inverse of PtimeFromMilliseconds).
int64_t MillisecondsFromPtime(const boost::posix_time::ptime& p);

}  // namespace utils
