// Local time through the system's time-zone database.
//
// The zone is the one the C library uses (TZ, else /etc/localtime). Times are
// whole seconds; callers carry milliseconds themselves. "Local seconds" are a
// local calendar time counted as if it were UTC (days since 1970-01-01 times
// 86400 plus the time of day), so calendar arithmetic and zone offsets stay
// separate.
//
// Local to UTC follows the rule of the Windows conversion the archive format
// was written with: around a change of offset at instant T, local times before
// T expressed in the old offset take the old offset, the rest the new one. So
// a time in the spring gap takes the summer offset (02:30 in Berlin on the
// change day is 00:30 UTC, and reads back as 01:30), and a time in the
// repeated autumn hour takes the first (summer) occurrence.
#pragma once

#include <cstdint>

namespace platform::tz {

// Re-reads the zone (tzset): call after changing TZ.
void Reload();

// Offset of local time from UTC in seconds (east positive) at a UTC instant.
// False when the C library cannot convert the instant.
bool OffsetAt(std::int64_t utcSeconds, std::int32_t* offset);

// One stretch of constant offset: UTC instants [begin, end) have `offset`;
// local seconds [localBegin, localEnd) map into it by the rule above.
struct Span {
    std::int64_t begin = 0, end = 0;
    std::int64_t localBegin = 0, localEnd = 0;
    std::int32_t offset = 0;
};
// The span that holds a UTC instant. Stretches without a change are cut to
// about a year on either side of the instant.
bool SpanAt(std::int64_t utcSeconds, Span* span);

// Conversions. useCache lets the calling thread keep the last span it used
// (valid until Reload or InvalidateCaches); without it each call asks the
// C library afresh.
bool UtcToLocal(std::int64_t utcSeconds, std::int64_t* localSeconds, bool useCache);
bool LocalToUtc(std::int64_t localSeconds, std::int64_t* utcSeconds, bool useCache);

// Drops the per-thread spans of every thread (they refill on their next use).
void InvalidateCaches();

// Proleptic Gregorian calendar helpers (no zone).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
void CivilFromDays(std::int64_t days, std::int64_t* year, unsigned* month, unsigned* day);

}  // namespace platform::tz
