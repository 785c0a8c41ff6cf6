#include "media/TimeConversion.h"

#include <algorithm>

#include <QDateTime>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace utils {

namespace pt = boost::posix_time;
namespace greg = boost::gregorian;

namespace {

const pt::ptime kEpoch(greg::date(1970, 1, 1));

Interval Cover(const Interval& a, const Interval& b) {
    const int64_t start = std::min(a.start, b.start);
    return {start, std::max(IntervalEnd(a), IntervalEnd(b)) - start};
}

template <void (*Add)(IntervalList&, const Interval&)>
void JoinCloseIntervals(const IntervalList& sorted, TimeConverter& converter, int64_t threshold) {
    if (sorted.empty()) return;
    Interval current = sorted.front();
    for (size_t k = 1; k < sorted.size(); ++k) {
        const Interval& next = sorted[k];
        if (IntervalEnd(current) + threshold < next.start) {
            Add(converter.ArchivePeriods(), current);
            current = next;
        } else {
            current = Cover(current, next);
        }
    }
    Add(converter.ArchivePeriods(), current);
}

QDateTime QDateTimeFromPtimeAs(const pt::ptime& p, Qt::TimeSpec spec) {
    if (p.is_special()) return QDateTime();
    const greg::date d = p.date();
    const pt::time_duration t = p.time_of_day();
    const QDate qd(int(d.year()), int(d.month()), int(d.day()));
    const QTime qt(int(t.hours()), int(t.minutes()), int(t.seconds()),
                   int(t.fractional_seconds() * 1000 / pt::time_duration::ticks_per_second()));
    return QDateTime(qd, qt, spec);
}

}  // namespace

void TimeConverter::BuildArchivePeriods(const std::vector<const IntervalList*>& lists) {
    struct Cursor {
        const IntervalList* list;
        size_t pos;
        const Interval& At() const { return (*list)[pos]; }
        bool Done() const { return pos >= list->size(); }
    };
    std::vector<Cursor> cursors;
    for (const IntervalList* l : lists)
        if (l) cursors.push_back({l, 0});

    for (;;) {
        cursors.erase(std::remove_if(cursors.begin(), cursors.end(),
                                     [](const Cursor& c) { return c.Done(); }),
                      cursors.end());
        if (cursors.empty()) break;
        std::stable_sort(cursors.begin(), cursors.end(), [](const Cursor& a, const Cursor& b) {
            return a.At().start < b.At().start;
        });
        Interval merged = cursors.front().At();

        // Absorb from each cursor in turn, round and round, until a full
        // round since the last widening adds nothing.
        size_t lastWidener = 0;
        bool anyWidened = false;
        for (size_t k = 0;; k = (k + 1) % cursors.size()) {
            Cursor& c = cursors[k];
            bool widened = false;
            while (!c.Done()) {
                const Interval& i = c.At();
                if (IntervalEnd(i) >= IntervalEnd(merged) &&
                    i.start <= IntervalEnd(merged) + kJoinGapMs) {
                    merged = Cover(merged, i);
                    widened = true;
                } else if (i.start > IntervalEnd(merged)) {
                    break;
                }
                ++c.pos;
            }
            if (widened) {
                lastWidener = k;
                anyWidened = true;
            } else if (anyWidened && k == lastWidener) {
                break;
            }
        }
        AppendPeriod(m_archive, merged);
    }
}

void TimeConverter::RebuildContinuous() {
    m_continuous.clear();
    int64_t sum = 0;
    for (const Interval& a : m_archive) {
        AppendPeriod(m_continuous, {sum, a.length});
        sum += a.length;
    }
}

void TimeConverter::Clear() {
    m_continuous.clear();
    m_archive.clear();
}

int64_t TimeConverter::ArchiveToContinuous(int64_t t) const {
    return MapTimeBetweenIntervals(t, m_archive, m_continuous, 1);
}

int64_t TimeConverter::ContinuousToArchive(int64_t t) const {
    return MapTimeBetweenIntervals(t, m_continuous, m_archive, 0);
}

int64_t FindIntervalIndex(int64_t t, const IntervalList& list) {
    auto it = std::upper_bound(list.begin(), list.end(), t,
                               [](int64_t v, const Interval& i) { return v < i.start; });
    return it == list.begin() ? 0 : int64_t(it - list.begin()) - 1;
}

int64_t MapTimeBetweenIntervals(int64_t t, const IntervalList& from, const IntervalList& to,
                                int endBias) {
    if (from.empty() || to.empty()) return 0;
    // Lists of different lengths are a caller's fault; the last target
    // interval stands in rather than reading past the list.
    const size_t i = size_t(FindIntervalIndex(t, from));
    const Interval& src = from[i];
    const int64_t offset = std::clamp(t, src.start, std::max(src.start, IntervalEnd(src))) - src.start;
    const Interval& dst = to[std::min(i, to.size() - 1)];
    if (offset + 1 - endBias == src.length) return IntervalEnd(dst) - endBias;
    return dst.start + offset;
}

int64_t ClampToPeriods(int64_t t, const IntervalList& list) {
    if (list.empty()) return 0;
    const Interval& i = list[size_t(FindIntervalIndex(t, list))];
    if (t < i.start) return i.start;
    return std::min(t, IntervalEnd(i));
}

void AddInterval(IntervalList& list, const Interval& interval) {
    const int64_t a = interval.start;
    const int64_t e = IntervalEnd(interval);
    auto firstEndingAtOrAfter = [&](int64_t v) {
        return size_t(std::find_if(list.begin(), list.end(),
                                   [v](const Interval& i) { return IntervalEnd(i) >= v; }) -
                      list.begin());
    };
    const size_t b = firstEndingAtOrAfter(a);
    const size_t last = firstEndingAtOrAfter(e);

    Interval merged = interval;
    size_t taken = 0;
    for (size_t k = b; k < list.size() && k <= last + 1; ++k) {
        const Interval& i = list[k];
        if (IntervalEnd(i) >= a && i.start <= e) {
            merged = Cover(merged, i);
            ++taken;
        } else if (i.start > e) {
            break;
        }
    }
    if (taken == 0) {
        list.insert(list.begin() + std::ptrdiff_t(b), interval);
        return;
    }
    list[b] = merged;
    list.erase(list.begin() + std::ptrdiff_t(b) + 1, list.begin() + std::ptrdiff_t(b + taken));
}

void AppendPeriod(IntervalList& list, const Interval& interval) {
    const int64_t lastEnd = list.empty() ? 0 : IntervalEnd(list.back());
    const int64_t start = std::max(interval.start, lastEnd);
    list.push_back({start, std::max(IntervalEnd(interval), lastEnd) - start});
}

void AddMergedPeriods(const IntervalList& sorted, TimeConverter& converter) {
    JoinCloseIntervals<AddInterval>(sorted, converter, kJoinGapMs);
}

void MergeCloseIntervals(const IntervalList& sorted, TimeConverter& converter, int64_t threshold) {
    JoinCloseIntervals<AppendPeriod>(sorted, converter, threshold);
}

int64_t MillisecondsFromPtime(const pt::ptime& p) {
    return (p - kEpoch).total_microseconds() / 1000;
}

pt::ptime PtimeFromQDateTime(const QDateTime& q) {
    const QDate d = q.date();
    const QTime t = q.time();
    // Day, month and year are checked in this order, so a null QDateTime
    // (all zero) fails on its day.
    const greg::greg_day day(static_cast<unsigned short>(std::clamp(d.day(), 0, 0xFFFF)));
    const greg::greg_month month(static_cast<unsigned short>(std::clamp(d.month(), 0, 0xFFFF)));
    const greg::greg_year year(static_cast<unsigned short>(std::clamp(d.year(), 0, 0xFFFF)));
    return pt::ptime(greg::date(year, month, day),
                     pt::time_duration(t.hour() < 0 ? 0 : t.hour(), std::max(t.minute(), 0),
                                       std::max(t.second(), 0)) +
                         pt::milliseconds(std::max(t.msec(), 0)));
}

QDateTime QDateTimeFromPtime(const pt::ptime& p) { return QDateTimeFromPtimeAs(p, Qt::UTC); }

QDateTime LocalQDateTimeFromPtime(const pt::ptime& p) {
    return QDateTimeFromPtimeAs(p, Qt::LocalTime);
}

pt::ptime LocalPtimeToUtc(const pt::ptime& p) {
    if (p.is_special()) return p;
    return PtimeFromQDateTime(LocalQDateTimeFromPtime(p).toUTC());
}

}  // namespace utils
