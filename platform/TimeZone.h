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
#include <functional>
#include <string>

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

// Changes with every Reload and InvalidateCaches: a result kept from a
// conversion stays valid while this stays the same.
std::uint64_t Generation();

// When a caller that follows the zone as it changes re-reads it (tzset): at
// once when TZ differs from the last call, else when the zone file (used
// while TZ is unset) was replaced, which is looked at no more than once a
// second. Not thread-safe: keep one per thread.
class ZoneWatch {
public:
    using Clock = std::function<std::int64_t()>;  // monotonic milliseconds
    // By default /etc/localtime and a coarse monotonic clock.
    explicit ZoneWatch(std::string zoneFile = "/etc/localtime", Clock clock = {});
    // True when the zone is to be re-read now; the first call is always true.
    bool Due();

private:
    struct FileId {
        std::uint64_t dev = 0, ino = 0;
        std::int64_t size = -1, mtimeNs = 0;
        bool operator==(const FileId&) const = default;
    };
    FileId Identify() const;

    std::string m_zoneFile;
    Clock m_clock;
    bool m_started = false;
    bool m_hadTz = false;
    std::string m_tz;
    std::int64_t m_nextLook = 0;
    FileId m_file;
};

// Proleptic Gregorian calendar helpers (no zone).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
void CivilFromDays(std::int64_t days, std::int64_t* year, unsigned* month, unsigned* day);

}  // namespace platform::tz
