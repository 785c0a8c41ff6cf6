#include "base/Tss.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "base/Log.h"
#include "base/Registry.h"
#include "platform/TimeZone.h"

namespace tz = platform::tz;

namespace {

// Errors of this file are reported under the name the log readers know.
#define TSS_ERROR(...) (ErrorSite{getDefaultDebugInstance(), "src\\Tss", __TIMESTAMP__, __LINE__}.Report(__VA_ARGS__))

constexpr int kInvalidParameter = 87;  // the system's "invalid parameter" code
// Largest archive time whose file time (x 10000) is still a valid signed
// 64-bit count.
constexpr std::uint64_t kMaxArchiveMs = 0x7FFFFFFFFFFFFFFFULL / 10000;

// --- caching switches -------------------------------------------------------
std::mutex g_switchLock;
int g_localToUtcMode = -1;  // -1 not read yet, 0 uncached, 1 cached
int g_utcToLocalMode = -1;
bool g_zoneLoaded = false;  // cached mode: the zone was loaded once

int ReadCachingSwitch() {
    RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video", false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
    return key.ReadInt("ApplyTZCachingFix", 0) != 0 ? 1 : 0;
}

bool ModeOf(int& mode) {
    std::lock_guard<std::mutex> lock(g_switchLock);
    if (mode < 0) mode = ReadCachingSwitch();
    if (mode == 1 && !g_zoneLoaded) {
        ::tzset();
        g_zoneLoaded = true;
    }
    return mode == 1;
}

// Cached flags are read without the lock once set.
std::atomic<int> g_fastLocalToUtc{-1};
std::atomic<int> g_fastUtcToLocal{-1};

bool Cached(std::atomic<int>& fast, int& mode) {
    int f = fast.load(std::memory_order_acquire);
    if (f >= 0) return f == 1;
    bool cached = ModeOf(mode);
    fast.store(cached ? 1 : 0, std::memory_order_release);
    return cached;
}

// The uncached mode follows a change of zone (within a second for a replaced
// zone file) without re-reading the zone on every conversion.
// A re-read zone also drops what conversions kept (tz::Generation moves).
void FollowZone() {
    thread_local tz::ZoneWatch watch;
    if (watch.Due()) tz::Reload();
}

// The last conversion of each direction on this thread, by whole second:
// frames come in time order, so most conversions repeat the last second.
// Valid for one zone generation and one caching mode.
struct LocalToUtcMemo {
    std::uint64_t generation = 0;
    bool cached = false;
    std::int64_t local = 0;
    std::int64_t utc = 0;
};
struct UtcToLocalMemo {
    std::uint64_t generation = 0;
    bool cached = false;
    std::int64_t utc = 0;
    SystemTime local{};
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

unsigned MonthLength(unsigned year, unsigned month) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year)) return 29;
    return kDays[month - 1];
}

// What the system's file-time conversion accepts.
bool IsConvertible(const TSS& t) {
    const unsigned ms = t.dwMilliseconds & 0xFFFF;
    return t.wYear >= 1601 && t.wYear <= 30827 && t.IsValidDate() && t.wHour <= 23 && t.wMinute <= 59 &&
           t.wSecond <= 59 && ms <= 999;
}

std::int64_t LocalSecondsOf(const TSS& t) {
    return tz::DaysFromCivil(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
}

void FieldsFromSeconds(std::int64_t seconds, SystemTime* st) {
    std::int64_t days = FloorDiv(seconds, 86400);
    std::int64_t tod = seconds - days * 86400;
    std::int64_t y;
    unsigned m, d;
    tz::CivilFromDays(days, &y, &m, &d);
    st->wYear = static_cast<std::uint16_t>(y);
    st->wMonth = static_cast<std::uint16_t>(m);
    st->wDay = static_cast<std::uint16_t>(d);
    st->wDayOfWeek = 0;
    st->wHour = static_cast<std::uint16_t>(tod / 3600);
    st->wMinute = static_cast<std::uint16_t>(tod / 60 % 60);
    st->wSecond = static_cast<std::uint16_t>(tod % 60);
}

// UTC seconds -> local fields; false when the year falls outside what the
// system conversion handles (1601..30827).
bool UtcToLocalFields(std::int64_t utcSeconds, bool cached, SystemTime* st) {
    std::int64_t local;
    if (!tz::UtcToLocal(utcSeconds, &local, cached)) return false;
    std::int64_t days = FloorDiv(local, 86400);
    std::int64_t y;
    unsigned m, d;
    tz::CivilFromDays(days, &y, &m, &d);
    if (y < 1601 || y > 30827) return false;
    FieldsFromSeconds(local, st);
    return true;
}

auto Key(const TSS& t) {
    return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.dwMilliseconds & 0xFFFF);
}

void CopyFields(const SystemTime& st, TSS* t) {
    t->wYear = st.wYear;
    t->wMonth = st.wMonth;
    t->wDay = st.wDay;
    t->wHour = st.wHour;
    t->wMinute = st.wMinute;
    t->wSecond = st.wSecond;
    t->dwMilliseconds = st.wMilliseconds;
}

bool LocalToday(struct tm* out) {
    std::time_t now = std::time(nullptr);
    return localtime_r(&now, out) != nullptr;
}

// The calendar fields of a broken-down local time; milliseconds untouched.
void CopyCalendar(const struct tm& tm, TSS* t) {
    t->wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    t->wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
    t->wDay = static_cast<std::uint16_t>(tm.tm_mday);
    t->wHour = static_cast<std::uint16_t>(tm.tm_hour);
    t->wMinute = static_cast<std::uint16_t>(tm.tm_min);
    t->wSecond = static_cast<std::uint16_t>(tm.tm_sec);
}

}  // namespace

// --- zone state ----------------------------------------------------------------
void TssTimeZone::Reset() {
    std::lock_guard<std::mutex> lock(g_switchLock);
    g_localToUtcMode = -1;
    g_utcToLocalMode = -1;
    g_fastLocalToUtc.store(-1);
    g_fastUtcToLocal.store(-1);
    g_zoneLoaded = false;
    tz::Reload();
}

bool TssTimeZone::LocalToUtcCached() { return Cached(g_fastLocalToUtc, g_localToUtcMode); }
bool TssTimeZone::UtcToLocalCached() { return Cached(g_fastUtcToLocal, g_utcToLocalMode); }

std::uint64_t TssTimeZone::UtcToLocalGeneration() {
    if (!UtcToLocalCached()) FollowZone();
    return tz::Generation();
}

// --- conversions -----------------------------------------------------------------
std::uint64_t TSS::ToUtcMilliseconds() const {
    if (IsEmpty()) return kArchiveUnixOffsetMs;
    const bool cached = TssTimeZone::LocalToUtcCached();
    if (!cached) FollowZone();
    std::int64_t utc = 0;
    bool ok = IsConvertible(*this);
    if (ok) {
        thread_local LocalToUtcMemo memo;
        const std::uint64_t generation = tz::Generation();
        const std::int64_t local = LocalSecondsOf(*this);
        if (memo.generation == generation && memo.cached == cached && memo.local == local) {
            utc = memo.utc;
        } else {
            ok = tz::LocalToUtc(local, &utc, cached);
            if (ok) memo = {generation, cached, local, utc};
        }
    }
    std::int64_t archive = 0;
    if (ok) {
        archive = utc * 1000 + (dwMilliseconds & 0xFFFF) + static_cast<std::int64_t>(kArchiveUnixOffsetMs);
        ok = archive >= 0;
    }
    if (!ok) {
        if (cached) TSS_ERROR("[TSS] TzSpecificLocalTimeToSystemTime failed with error code: (%d)", kInvalidParameter);
        else TSS_ERROR("[TSS] TzSpecificLocalTimeToSystemTime failed with error code: (%d).", kInvalidParameter);
        return 0;
    }
    return static_cast<std::uint64_t>(archive);
}

TSS& TSS::FromUtcMilliseconds(std::uint64_t archiveMs) {
    const bool cached = TssTimeZone::UtcToLocalCached();
    if (!cached) FollowZone();
    SystemTime local;
    bool ok = archiveMs <= kMaxArchiveMs;
    if (ok) {
        std::int64_t unixMs = static_cast<std::int64_t>(archiveMs) - static_cast<std::int64_t>(kArchiveUnixOffsetMs);
        std::int64_t secs = FloorDiv(unixMs, 1000);
        thread_local UtcToLocalMemo memo;
        const std::uint64_t generation = tz::Generation();
        if (memo.generation == generation && memo.cached == cached && memo.utc == secs) {
            local = memo.local;
        } else {
            ok = UtcToLocalFields(secs, cached, &local);
            if (ok) memo = {generation, cached, secs, local};
        }
        local.wMilliseconds = static_cast<std::uint16_t>(unixMs - secs * 1000);
    }
    if (!ok) {
        const unsigned long long ts = archiveMs;
        if (cached)
            TSS_ERROR("[TSS](apply_TZ_hack) SystemTimeToTzSpecificLocalTime failed with error code: (%d), timestamp :%llu.",
                      kInvalidParameter, ts);
        else
            TSS_ERROR("[TSS] SystemTimeToTzSpecificLocalTime failed with error code: (%d), timestamp :%llu.",
                      kInvalidParameter, ts);
        if (!timestampWorkaround(archiveMs, &local)) {
            if (cached) TSS_ERROR("Critical problems with time functions.(apply_TZ_hack)");
            else TSS_ERROR("Critical problems with time functions.");
        }
    }
    CopyFields(local, this);
    return *this;
}

bool timestampWorkaround(std::uint64_t archiveMs, SystemTime* out) {
    *out = SystemTime{};
    using namespace boost::posix_time;
    ptime utc(boost::date_time::not_a_date_time);
    try {
        const std::int64_t unixMs = static_cast<std::int64_t>(archiveMs - kArchiveUnixOffsetMs);
        if (unixMs > 9000000000000000LL || unixMs < -9000000000000000LL)
            throw std::out_of_range("time stamp out of range");
        utc = ptime(boost::gregorian::date(1970, 1, 1)) + microseconds(unixMs * 1000);
        ptime local = boost::date_time::c_local_adjustor<ptime>::utc_to_local(utc);
        const auto d = local.date();
        const auto tod = local.time_of_day();
        out->wYear = static_cast<std::uint16_t>(d.year());
        out->wMonth = static_cast<std::uint16_t>(d.month());
        out->wDay = static_cast<std::uint16_t>(d.day());
        out->wHour = static_cast<std::uint16_t>(tod.total_microseconds() / 3600000000LL);
        out->wMinute = static_cast<std::uint16_t>(tod.minutes());
        out->wSecond = static_cast<std::uint16_t>(tod.seconds());
        const float frac = static_cast<float>(tod.total_microseconds() % 1000000) / 1000.0f;
        long ms = static_cast<long>(std::floor(frac + 0.5f));
        out->wMilliseconds = static_cast<std::uint16_t>(ms > 999 ? 999 : ms);
        return true;
    } catch (const std::exception& e) {
        *out = SystemTime{};
        TSS_ERROR("[timestampWorkaround] problem: %s, utcTime = %s.", e.what(), to_iso_extended_string(utc).c_str());
        return false;
    }
}

TSS TSS::NormalizeLocalTime() const {
    TSS out;
    FollowZone();
    std::int64_t utc;
    std::int32_t offsetNow;
    if (!IsConvertible(*this) || !tz::LocalToUtc(LocalSecondsOf(*this), &utc, false) ||
        !tz::OffsetAt(static_cast<std::int64_t>(std::time(nullptr)), &offsetNow))
        return out;
    SystemTime st;
    FieldsFromSeconds(utc + offsetNow, &st);
    st.wMilliseconds = static_cast<std::uint16_t>(dwMilliseconds & 0xFFFF);
    CopyFields(st, &out);
    return out;
}

std::int64_t TSS::ToUnixMilliseconds() const {
    if (wDay == 0 || wDay > 31) throw boost::gregorian::bad_day_of_month();
    if (wMonth == 0 || wMonth > 12) throw boost::gregorian::bad_month();
    if (wYear < 1400 || wYear > 10000) throw boost::gregorian::bad_year();
    boost::gregorian::date d(wYear, wMonth, wDay);  // throws for a day past the month's end
    const std::int64_t days = (d - boost::gregorian::date(1970, 1, 1)).days();
    return days * 86400000LL + static_cast<std::int64_t>(wHour) * 3600000LL + static_cast<std::int64_t>(wMinute) * 60000LL +
           static_cast<std::int64_t>(wSecond) * 1000LL + static_cast<std::int64_t>(dwMilliseconds);
}

TSS& TSS::FromTimeT(std::time_t t, std::uint32_t milliseconds) {
    struct tm tm;
    if (!localtime_r(&t, &tm)) {
        *this = TSS{};
        return *this;
    }
    CopyCalendar(tm, this);
    dwMilliseconds = milliseconds;
    return *this;
}

TSS& TSS::FromTimeTOrInvalid(const std::time_t* t) {
    struct tm tm;
    if (!t || !localtime_r(t, &tm)) {
        wYear = wMonth = wDay = 0;
        wHour = wMinute = wSecond = 65535;
    } else {
        CopyCalendar(tm, this);
    }
    dwMilliseconds = 0;
    return *this;
}

void PtimeToTss(const boost::posix_time::ptime& t, SystemTime* out) {
    const auto d = t.date();
    const auto tod = t.time_of_day();
    out->wYear = static_cast<std::uint16_t>(d.year());
    out->wMonth = static_cast<std::uint16_t>(d.month());
    out->wDay = static_cast<std::uint16_t>(d.day());
    out->wDayOfWeek = static_cast<std::uint16_t>(d.day_of_week());
    out->wHour = static_cast<std::uint16_t>(tod.hours());
    out->wMinute = static_cast<std::uint16_t>(tod.minutes());
    out->wSecond = static_cast<std::uint16_t>(tod.seconds());
    const auto perMs = boost::posix_time::time_duration::ticks_per_second() / 1000;
    out->wMilliseconds = static_cast<std::uint16_t>(tod.fractional_seconds() / perMs);
}

TSS PtimeToTss(const boost::posix_time::ptime& t) {
    SystemTime st;
    PtimeToTss(t, &st);
    TSS out;
    CopyFields(st, &out);
    return out;
}

TSS& TSS::SetLocalNow() {
    // The local calendar of the current second is kept per thread: every
    // frame made within that second asks for it.
    struct NowMemo {
        std::uint64_t generation = 0;
        std::time_t second = 0;
        TSS fields;
        bool valid = false;
    };
    thread_local NowMemo memo;
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::uint64_t generation = tz::Generation();
    if (!memo.valid || memo.generation != generation || memo.second != now.tv_sec) {
        struct tm tm;
        if (!localtime_r(&now.tv_sec, &tm)) {
            *this = PtimeToTss(boost::posix_time::microsec_clock::local_time());
            return *this;
        }
        memo.fields = TSS{};
        CopyCalendar(tm, &memo.fields);
        memo.generation = generation;
        memo.second = now.tv_sec;
        memo.valid = true;
    }
    *this = memo.fields;
    dwMilliseconds = static_cast<std::uint32_t>(now.tv_nsec / 1000000);
    return *this;
}

TSS& TSS::SetUtcNow() {
    *this = PtimeToTss(boost::posix_time::microsec_clock::universal_time());
    return *this;
}

TSS TSS::DateOnly() const {
    TSS out;
    out.wYear = wYear;
    out.wMonth = wMonth;
    out.wDay = wDay;
    return out;
}

// --- dates --------------------------------------------------------------------------
bool IsLeapYear(unsigned year) { return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0); }

bool TSS::IsValidDate() const {
    if (wMonth < 1 || wMonth > 12) return false;
    return wDay >= 1 && wDay <= MonthLength(wYear, wMonth);
}

bool TSS::IsLater(const TSS& a, const TSS& b) {
    const bool va = a.IsValidDate(), vb = b.IsValidDate();
    if (!va || !vb) return va && !vb;
    return Key(a) > Key(b);
}

bool TSS::IsEarlier(const TSS& a, const TSS& b) {
    const bool va = a.IsValidDate(), vb = b.IsValidDate();
    if (!va || !vb) return !va && vb;
    return Key(a) < Key(b);
}

int TSS::DayNumber() const {
    if (IsEmpty()) return 0;
    unsigned c = (static_cast<unsigned>(wMonth) * 3057u - 3007u) / 100u + wDay;
    if (wMonth > 2) c += (IsLeapYear(wYear) ? 1u : 0u) - 2u;
    const unsigned d = static_cast<unsigned>(wYear) - 1u;
    return static_cast<int>(c + d / 4 - d / 100 + d / 400 + 365u * d);
}

bool IsSameArchiveTime(const TSS& a, const TSS& b) {
    const bool va = a.IsValidDate(), vb = b.IsValidDate();
    if (va != vb) return false;
    if (!va) return true;
    return Key(a) == Key(b);
}

// --- text -------------------------------------------------------------------------------
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipNonDigits(const char* p) {
    while (*p && !IsDigit(*p)) ++p;
    return p;
}

std::uint16_t ReadNumber(const char*& p, int maxDigits = -1) {
    std::uint16_t v = 0;
    int n = 0;
    while (*p && IsDigit(*p) && (maxDigits < 0 || n < maxDigits)) {
        v = static_cast<std::uint16_t>(v * 10 + (*p - '0'));
        ++p;
        ++n;
    }
    return v;
}

}  // namespace

bool TSS::ParseTime(const char* text) {
    if (!text || !*text) {
        wHour = wMinute = wSecond = 0;
        dwMilliseconds = 0;
        return true;
    }
    const char* p = SkipNonDigits(text);
    wHour = ReadNumber(p);
    p = SkipNonDigits(p);
    wMinute = ReadNumber(p);
    p = SkipNonDigits(p);
    wSecond = ReadNumber(p);
    p = SkipNonDigits(p);
    dwMilliseconds = ReadNumber(p, 3);
    return wHour <= 23 && wMinute <= 59 && wSecond <= 59 && dwMilliseconds < 1000;
}

bool TSS::ParseDate(const char* text) {
    if (!text || !*text) {
        *this = TSS{};
        return false;
    }
    const char* p = SkipNonDigits(text);
    wDay = ReadNumber(p);
    p = SkipNonDigits(p);
    wMonth = ReadNumber(p);
    const char afterMonth = *p;
    p = SkipNonDigits(p);
    wYear = ReadNumber(p);
    wHour = wMinute = wSecond = 0;
    dwMilliseconds = 0;
    if (wDay == 0 || wMonth == 0 || (wYear == 0 && afterMonth == '\0')) {
        struct tm today;
        if (LocalToday(&today)) {
            if (wDay == 0) wDay = static_cast<std::uint16_t>(today.tm_mday);
            if (wMonth == 0) wMonth = static_cast<std::uint16_t>(today.tm_mon + 1);
            if (wYear == 0 && afterMonth == '\0') wYear = static_cast<std::uint16_t>(today.tm_year + 1900);
        }
    }
    if (wYear < 1000) wYear = static_cast<std::uint16_t>(wYear + (wYear >= 50 ? 1900 : 2000));
    return IsValidDate();
}

bool TSS::Parse(const char* text) {
    std::string s = text ? text : "";
    std::string parts[2];
    int n = 0;
    std::size_t i = 0;
    while (n < 2) {
        i = s.find_first_not_of(' ', i);
        if (i == std::string::npos) break;
        std::size_t e = s.find(' ', i);
        parts[n++] = s.substr(i, e == std::string::npos ? std::string::npos : e - i);
        if (e == std::string::npos) break;
        i = e;
    }
    const bool dateOk = ParseDate(n > 0 ? parts[0].c_str() : nullptr);
    const bool timeOk = ParseTime(n > 1 ? parts[1].c_str() : nullptr);
    return dateOk && timeOk;
}

bool TSS::FormatDate(char* buffer, bool dayFirst) const {
    buffer[0] = '\0';
    if (IsEmpty() || !IsValidDate() || wYear == 9999) return false;
    int year = wYear;
    if (year >= 2000) year -= 2000;
    else if (year >= 1951) year -= 1900;
    if (dayFirst) std::snprintf(buffer, 32, "%.2d-%.2d-%.2d", static_cast<int>(wDay), static_cast<int>(wMonth), year);
    else std::snprintf(buffer, 32, "%.2d-%.2d-%.2d", static_cast<int>(wMonth), static_cast<int>(wDay), year);
    return true;
}

bool TSS::FormatTime(char* buffer, bool withMilliseconds) const {
    buffer[0] = '\0';
    if (wHour > 23 || wMinute > 59 || wSecond > 59 || dwMilliseconds > 999) return false;
    if (withMilliseconds)
        std::snprintf(buffer, 32, "%.2d:%.2d:%.2d.%03d", static_cast<int>(wHour), static_cast<int>(wMinute),
                      static_cast<int>(wSecond), static_cast<int>(dwMilliseconds));
    else
        std::snprintf(buffer, 32, "%.2d:%.2d:%.2d", static_cast<int>(wHour), static_cast<int>(wMinute),
                      static_cast<int>(wSecond));
    return true;
}

bool TSS::FormatDateTo(std::string& out, bool dayFirst) const {
    char buf[32];
    bool ok = FormatDate(buf, dayFirst);
    out = buf;
    return ok;
}

bool TSS::FormatTimeTo(std::string& out, bool withMilliseconds) const {
    char buf[32];
    bool ok = FormatTime(buf, withMilliseconds);
    out = buf;
    return ok;
}

std::string TSS::DateString() const {
    std::string s;
    FormatDateTo(s, true);
    return s;
}

std::string TSS::TimeString() const {
    std::string s;
    FormatTimeTo(s, false);
    return s;
}

std::string& TSS::ToString(std::string& out, bool dayFirst, bool withMilliseconds) const {
    char date[32], time[32];
    if (FormatDate(date, dayFirst) && FormatTime(time, withMilliseconds)) {
        out = date;
        out += ' ';
        out += time;
    } else {
        out.clear();
    }
    return out;
}

std::string TSS::ToString(bool dayFirst, bool withMilliseconds) const {
    std::string s;
    ToString(s, dayFirst, withMilliseconds);
    return s;
}

std::string TSS::ToIsoString() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", static_cast<int>(wYear),
                  static_cast<int>(wMonth), static_cast<int>(wDay), static_cast<int>(wHour),
                  static_cast<int>(wMinute), static_cast<int>(wSecond), static_cast<int>(dwMilliseconds));
    return buf;
}

namespace {

// "%.2d" of a non-negative number.
void AppendTwoDigits(std::string& out, unsigned v) {
    if (v >= 100) {
        out += std::to_string(v);
        return;
    }
    out += static_cast<char>('0' + v / 10);
    out += static_cast<char>('0' + v % 10);
}

}  // namespace

// FormatDate (day first), a blank and the hour of FormatTime, without the
// formatter: this runs for every frame read.
std::string FormatArchiveDateTime(const TSS& t) {
    std::string out;
    out.reserve(12);
    if (!t.IsEmpty() && t.IsValidDate() && t.wYear != 9999) {
        unsigned year = t.wYear;
        if (year >= 2000) year -= 2000;
        else if (year >= 1951) year -= 1900;
        AppendTwoDigits(out, t.wDay);
        out += '-';
        AppendTwoDigits(out, t.wMonth);
        out += '-';
        AppendTwoDigits(out, year);
    }
    out += ' ';
    if (t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 && t.dwMilliseconds <= 999) AppendTwoDigits(out, t.wHour);
    return out;
}

std::string FormatEntryDate(std::uint64_t folderUnixMs) {
    return FormatArchiveDateTime(TSS::FromUtc(folderUnixMs + kArchiveUnixOffsetMs));
}
