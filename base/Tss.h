// Time stamps and time-zone conversion.
//
// Three forms of time:
//  - TSS: a local calendar date and time with milliseconds (frames,
//    bookmarks, archive file and folder names);
//  - archive milliseconds: unsigned milliseconds since 1601-01-01 00:00 UTC
//    (frame time stamps, time lines);
//  - Unix milliseconds: milliseconds since 1970-01-01 00:00 UTC (index
//    records, directory entries); an hour number is Unix ms / 3600000.
// archive = Unix + kArchiveUnixOffsetMs.
//
// Local time is the zone of the C library (TZ, else /etc/localtime). The
// registry value ApplyTZCachingFix under "SOFTWARE\QOR\Vindara\Video" (read
// once per direction, on first use) switches the cached mode: the zone is
// loaded once and every thread keeps the offset stretch it last used, so a
// change of zone while the program runs is not seen. Without it a changed TZ
// is seen at the next conversion and a replaced zone file within a second.
// TssTimeZone::Reset starts both over.
//
// Everything here may be called from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

inline constexpr std::uint64_t kArchiveUnixOffsetMs = 11644473600000ULL;
inline constexpr std::int64_t kMsPerHour = 3600000;

// Hour number of a Unix millisecond time.
inline std::int64_t HourNumber(std::int64_t unixMs) { return unixMs / kMsPerHour; }

// The broken-down time of the system API the archive code was written against
// (TSS has no day of week; this one has).
struct SystemTime {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// 16-byte local date and time; all-zero date (day, month, year 0) is the empty
// time stamp. Plain value type; its bytes are stored as they are.
struct TSS {
    std::uint16_t wYear = 0;    // 0 = no date
    std::uint16_t wMonth = 0;   // 1..12
    std::uint16_t wDay = 0;     // 1..31
    std::uint16_t wHour = 0;    // 0..23
    std::uint16_t wMinute = 0;  // 0..59
    std::uint16_t wSecond = 0;  // 0..59
    std::uint32_t dwMilliseconds = 0;  // 0..999

    bool IsEmpty() const { return wDay == 0 && wMonth == 0 && wYear == 0; }
    bool operator==(const TSS&) const = default;

    // --- zone conversions -------------------------------------------------
    // Local -> archive milliseconds. The empty time stamp gives
    // kArchiveUnixOffsetMs (1970-01-01); fields the system conversion rejects
    // (invalid date, time out of range, year outside 1601..30827, result
    // before 1601) are logged and give 0. Milliseconds are taken from the low
    // 16 bits.
    std::uint64_t ToUtcMilliseconds() const;
    static std::uint64_t ToUtcMilliseconds(const TSS& t) { return t.ToUtcMilliseconds(); }
    // Archive milliseconds -> local; fills *this (all zero when every
    // conversion fails) and returns it.
    TSS& FromUtcMilliseconds(std::uint64_t archiveMs);
    static TSS FromUtc(std::uint64_t archiveMs) { TSS t; t.FromUtcMilliseconds(archiveMs); return t; }
    // The same local time re-expressed with the offset in force now: to UTC
    // by the offset of its own date, back with today's.
    TSS NormalizeLocalTime() const;
    // The fields taken as UTC (no zone), in Unix milliseconds. Throws the
    // boost::gregorian bad_day_of_month, bad_month or bad_year exceptions (in
    // that order of checks; year 1400..10000) or the date constructor's.
    std::int64_t ToUnixMilliseconds() const;
    static std::int64_t ToUnixMilliseconds(const TSS& t) { return t.ToUnixMilliseconds(); }
    // Local time of t with the given milliseconds; all zero on failure.
    TSS& FromTimeT(std::time_t t, std::uint32_t milliseconds = 0);
    // Local time of *t; on failure the date becomes 0 and hour, minute and
    // second 65535. Milliseconds 0.
    TSS& FromTimeTOrInvalid(const std::time_t* t);
    // Current local / UTC time (milliseconds truncated).
    TSS& SetLocalNow();
    TSS& SetUtcNow();
    // Same date, time 00:00:00.000.
    TSS DateOnly() const;

    // --- dates --------------------------------------------------------------
    // Month 1..12 and day within it (the time is not checked).
    bool IsValidDate() const;
    static bool IsValidDate(const TSS& t) { return t.IsValidDate(); }
    // Order of two stamps; an invalid date is earlier than a valid one, two
    // invalid ones are neither earlier nor later. Stamps with impossible time
    // fields compare by their fields.
    static bool IsLater(const TSS& a, const TSS& b);
    static bool IsEarlier(const TSS& a, const TSS& b);
    // Proleptic Gregorian ordinal (0001-01-01 is 1); 0 for the empty stamp.
    int DayNumber() const;

    // --- text ---------------------------------------------------------------
    // Lenient parsers: any non-digits separate the numbers.
    bool ParseDate(const char* text);
    bool ParseTime(const char* text);
    bool Parse(const char* text);
    // buffer of at least 32 bytes; empty text and false for an empty, invalid
    // or 9999 date / an out-of-range time.
    bool FormatDate(char* buffer, bool dayFirst = true) const;
    bool FormatTime(char* buffer, bool withMilliseconds = true) const;
    bool FormatDateTo(std::string& out, bool dayFirst = true) const;
    bool FormatTimeTo(std::string& out, bool withMilliseconds = true) const;
    std::string DateString() const;  // day first
    std::string TimeString() const;  // no milliseconds
    // Date, a blank, time; empty when either part fails.
    std::string& ToString(std::string& out, bool dayFirst = true, bool withMilliseconds = true) const;
    std::string ToString(bool dayFirst = true, bool withMilliseconds = true) const;
    // "%04d-%02d-%02dT%02d:%02d:%02d.%03d", unchecked.
    std::string ToIsoString() const;
};
static_assert(sizeof(TSS) == 16, "TSS is a stored 16-byte record");
static_assert(alignof(TSS) == 4);

bool IsLeapYear(unsigned year);
// Equal instants; an empty/invalid date equals only another invalid one.
bool IsSameArchiveTime(const TSS& a, const TSS& b);
// Name of an archive hour folder: "DD-MM-YY HH" (empty parts for an invalid
// date or time).
std::string FormatArchiveDateTime(const TSS& t);
// The hour folder name of an entry whose folder time stamp (Unix ms of the
// hour folder) is given.
std::string FormatEntryDate(std::uint64_t folderUnixMs);

// Fields of a ptime, milliseconds truncated from its microseconds.
void PtimeToTss(const boost::posix_time::ptime& t, SystemTime* out);
TSS PtimeToTss(const boost::posix_time::ptime& t);

// Fallback UTC -> local conversion through boost and the C library. Fills out
// (all zero on failure, which is logged) and returns whether it worked; times
// before 1970 fail.
bool timestampWorkaround(std::uint64_t archiveMs, SystemTime* out);

// The conversions' process-wide zone state.
struct TssTimeZone {
    // Forgets the caching switches and cached zone: the next conversion in
    // each direction reads the registry value and the zone again.
    static void Reset();
    // Whether a direction is in cached mode (reads the switch if needed).
    static bool LocalToUtcCached();
    static bool UtcToLocalCached();
    // A value that changes whenever a UTC to local conversion may give
    // another answer than before (the zone was re-read or the mode changed);
    // follows the zone as a conversion does.
    static std::uint64_t UtcToLocalGeneration();
};
