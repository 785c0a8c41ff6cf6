#include "base/Tss.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "platform/RegistryStore.h"
#include "support/TempDir.h"

namespace {

TSS Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, std::uint32_t ms = 0) {
    TSS t;
    t.wYear = static_cast<std::uint16_t>(y);
    t.wMonth = static_cast<std::uint16_t>(mo);
    t.wDay = static_cast<std::uint16_t>(d);
    t.wHour = static_cast<std::uint16_t>(h);
    t.wMinute = static_cast<std::uint16_t>(mi);
    t.wSecond = static_cast<std::uint16_t>(s);
    t.dwMilliseconds = ms;
    return t;
}

// Unix milliseconds of a UTC calendar time (independent of the code under test).
std::int64_t UnixMs(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    using namespace boost::gregorian;
    return (date(y, mo, d) - date(1970, 1, 1)).days() * 86400000LL + h * 3600000LL + mi * 60000LL + s * 1000LL + ms;
}
std::uint64_t ArchiveMs(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    return static_cast<std::uint64_t>(UnixMs(y, mo, d, h, mi, s, ms)) + 11644473600000ULL;
}

std::string Show(const TSS& t) { return t.ToIsoString(); }

// Runs each test in a named zone with a settings store of its own.
class TssTest : public ::testing::Test {
protected:
    TssTest() {
        ::setenv("GAVEX_REGISTRY_DIR", m_dir.path().c_str(), 1);
        m_hadTz = std::getenv("TZ") != nullptr;
        if (m_hadTz) m_oldTz = std::getenv("TZ");
        SetZone("Europe/Berlin");
    }
    ~TssTest() override {
        if (m_hadTz) ::setenv("TZ", m_oldTz.c_str(), 1);
        else ::unsetenv("TZ");
        ::unsetenv("GAVEX_REGISTRY_DIR");
        TssTimeZone::Reset();
    }
    void SetZone(const char* zone) {
        ::setenv("TZ", zone, 1);
        TssTimeZone::Reset();
    }
    void SetCaching(bool on) {
        platform::RegistryStore::Current()->SetValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Video",
                                                     "ApplyTZCachingFix", platform::RegistryValue::Text(on ? "1" : "0"));
        TssTimeZone::Reset();
    }

    gavex_test::TempDir m_dir{"tss"};
    bool m_hadTz = false;
    std::string m_oldTz;
};

TEST(TssLayout, IsTheStoredSixteenBytes) {
    static_assert(offsetof(TSS, wYear) == 0 && offsetof(TSS, wMonth) == 2 && offsetof(TSS, wDay) == 4 &&
                  offsetof(TSS, wHour) == 6 && offsetof(TSS, wMinute) == 8 && offsetof(TSS, wSecond) == 10 &&
                  offsetof(TSS, dwMilliseconds) == 12);
    const TSS t = Make(2022, 3, 5, 14, 30, 0, 123);
    const unsigned char expected[16] = {0xe6, 0x07, 0x03, 0x00, 0x05, 0x00, 0x0e, 0x00,
                                        0x1e, 0x00, 0x00, 0x00, 0x7b, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(&t, expected, 16), 0);
    EXPECT_TRUE(TSS{}.IsEmpty());
}

struct ZoneCase {
    const char* zone;
    TSS local;
    std::uint64_t archive;
    const char* what;
};

const ZoneCase kToUtc[] = {
    {"Europe/Berlin", Make(2024, 7, 1, 12, 0, 0, 0), ArchiveMs(2024, 7, 1, 10, 0), "summer"},
    {"Europe/Berlin", Make(2024, 1, 15, 12, 0, 0, 999), ArchiveMs(2024, 1, 15, 11, 0, 0, 999), "winter"},
    {"Europe/Berlin", Make(2024, 3, 31, 1, 59, 59, 999), ArchiveMs(2024, 3, 31, 0, 59, 59, 999), "before gap"},
    {"Europe/Berlin", Make(2024, 3, 31, 2, 30), ArchiveMs(2024, 3, 31, 0, 30), "in the gap"},
    {"Europe/Berlin", Make(2024, 3, 31, 3, 0), ArchiveMs(2024, 3, 31, 1, 0), "after gap"},
    {"Europe/Berlin", Make(2024, 10, 27, 2, 30), ArchiveMs(2024, 10, 27, 0, 30), "repeated hour"},
    {"Europe/Berlin", Make(2024, 10, 27, 3, 0), ArchiveMs(2024, 10, 27, 2, 0), "after repeat"},
    {"America/New_York", Make(2024, 3, 10, 2, 30), ArchiveMs(2024, 3, 10, 6, 30), "in the gap"},
    {"America/New_York", Make(2024, 3, 10, 3, 0, 0, 1), ArchiveMs(2024, 3, 10, 7, 0, 0, 1), "after gap"},
    {"America/New_York", Make(2024, 11, 3, 1, 30), ArchiveMs(2024, 11, 3, 5, 30), "repeated hour"},
    {"America/New_York", Make(2024, 11, 3, 2, 0), ArchiveMs(2024, 11, 3, 7, 0), "after repeat"},
    {"UTC", Make(1601, 1, 1), 0, "first archive millisecond"},
    {"UTC", Make(1970, 1, 1), 11644473600000ULL, "Unix epoch"},
};

const ZoneCase kFromUtc[] = {
    {"Europe/Berlin", Make(2024, 3, 31, 1, 59, 59, 999), ArchiveMs(2024, 3, 31, 0, 59, 59, 999), "last winter ms"},
    {"Europe/Berlin", Make(2024, 3, 31, 3, 0), ArchiveMs(2024, 3, 31, 1, 0), "first summer ms"},
    {"Europe/Berlin", Make(2024, 10, 27, 2, 30), ArchiveMs(2024, 10, 27, 0, 30), "first 02:30"},
    {"Europe/Berlin", Make(2024, 10, 27, 2, 30, 0, 5), ArchiveMs(2024, 10, 27, 1, 30, 0, 5), "second 02:30"},
    {"America/New_York", Make(2024, 11, 3, 1, 30), ArchiveMs(2024, 11, 3, 5, 30), "first 01:30"},
    {"America/New_York", Make(2024, 11, 3, 1, 30), ArchiveMs(2024, 11, 3, 6, 30), "second 01:30"},
    {"America/New_York", Make(1969, 12, 31, 19, 0, 0, 1), ArchiveMs(1970, 1, 1, 0, 0, 0, 1), "epoch"},
    {"UTC", Make(1601, 1, 1), 0, "zero"},
    {"America/New_York", Make(1960, 6, 1, 12, 0), ArchiveMs(1960, 6, 1, 16, 0), "before 1970"},
};

TEST_F(TssTest, ConvertsLocalToArchiveMillisecondsAcrossBothChanges) {
    for (bool cached : {false, true}) {
        for (const ZoneCase& c : kToUtc) {
            SCOPED_TRACE(std::string(c.zone) + " " + c.what + (cached ? " (cached)" : ""));
            SetZone(c.zone);
            SetCaching(cached);
            ASSERT_EQ(TssTimeZone::LocalToUtcCached(), cached);
            EXPECT_EQ(c.local.ToUtcMilliseconds(), c.archive);
            EXPECT_EQ(TSS::ToUtcMilliseconds(c.local), c.archive);
        }
    }
}

TEST_F(TssTest, ConvertsArchiveMillisecondsToLocalAcrossBothChanges) {
    for (bool cached : {false, true}) {
        for (const ZoneCase& c : kFromUtc) {
            SCOPED_TRACE(std::string(c.zone) + " " + c.what + (cached ? " (cached)" : ""));
            SetZone(c.zone);
            SetCaching(cached);
            ASSERT_EQ(TssTimeZone::UtcToLocalCached(), cached);
            EXPECT_EQ(Show(TSS::FromUtc(c.archive)), Show(c.local));
        }
    }
}

TEST_F(TssTest, RoundTripKeepsEveryExistingLocalTime) {
    for (const char* zone : {"Europe/Berlin", "America/New_York"}) {
        SetZone(zone);
        // Every 7 minutes 13.999 s through a year, from archive time to local and back.
        for (std::uint64_t a = ArchiveMs(2024, 1, 1, 0, 0); a < ArchiveMs(2025, 1, 1, 0, 0); a += 433999) {
            TSS local = TSS::FromUtc(a);
            std::uint64_t back = local.ToUtcMilliseconds();
            // The second pass through a repeated hour reads back as the first.
            if (back != a) {
                ASSERT_EQ(back, a - 3600000) << zone << " " << Show(local);
            }
            ASSERT_EQ(Show(TSS::FromUtc(back)), Show(local));
        }
    }
}

TEST_F(TssTest, EmptyAndRejectedStamps) {
    EXPECT_EQ(TSS{}.ToUtcMilliseconds(), 11644473600000ULL);
    // Fields the system conversion refuses give 0.
    const TSS rejected[] = {Make(2022, 2, 30), Make(2022, 13, 1), Make(2022, 1, 1, 24),
                            Make(2022, 1, 1, 0, 60), Make(2022, 1, 1, 0, 0, 60), Make(2022, 1, 1, 0, 0, 0, 1000),
                            Make(1600, 12, 31), Make(0, 1, 1)};
    for (const TSS& t : rejected) EXPECT_EQ(t.ToUtcMilliseconds(), 0u) << Show(t);
    // Milliseconds come from the low 16 bits.
    EXPECT_EQ(Make(2024, 7, 1, 12, 0, 0, 65536 + 5).ToUtcMilliseconds(), ArchiveMs(2024, 7, 1, 10, 0, 0, 5));
    // Beyond the last representable file time every conversion fails.
    EXPECT_EQ(Show(TSS::FromUtc(~0ULL)), Show(TSS{}));
    SetZone("UTC");
    EXPECT_EQ(Make(1601, 1, 1, 0, 0, 0, 1).ToUtcMilliseconds(), 1u);
}

TEST_F(TssTest, CachedModeKeepsTheZoneItFirstSaw) {
    SetCaching(true);
    const TSS winter = Make(2024, 1, 15, 12, 0);
    EXPECT_EQ(winter.ToUtcMilliseconds(), ArchiveMs(2024, 1, 15, 11, 0));
    ::setenv("TZ", "America/New_York", 1);  // not seen in cached mode
    EXPECT_EQ(winter.ToUtcMilliseconds(), ArchiveMs(2024, 1, 15, 11, 0));
    TssTimeZone::Reset();
    EXPECT_EQ(winter.ToUtcMilliseconds(), ArchiveMs(2024, 1, 15, 17, 0));

    SetCaching(false);
    SetZone("Europe/Berlin");
    EXPECT_EQ(winter.ToUtcMilliseconds(), ArchiveMs(2024, 1, 15, 11, 0));
    ::setenv("TZ", "America/New_York", 1);  // seen at the next call
    EXPECT_EQ(winter.ToUtcMilliseconds(), ArchiveMs(2024, 1, 15, 17, 0));
    EXPECT_EQ(Show(TSS::FromUtc(ArchiveMs(2024, 1, 15, 17, 0))), Show(winter));
}

TEST_F(TssTest, ConcurrentFirstConversionsAgree) {
    SetCaching(true);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int k = 0; k < 2000; ++k) {
                std::uint64_t a = ArchiveMs(2024, 3, 30, 12, 0) + static_cast<std::uint64_t>(k + i) * 60000;
                if (TSS::FromUtc(a).ToUtcMilliseconds() != a) ++wrong;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(TssTest, UnixMillisecondsReadTheFieldsAsUtc) {
    EXPECT_EQ(Make(1970, 1, 1).ToUnixMilliseconds(), 0);
    EXPECT_EQ(Make(2024, 7, 1, 12, 0, 0, 7).ToUnixMilliseconds(), UnixMs(2024, 7, 1, 12, 0, 0, 7));
    EXPECT_EQ(Make(1969, 12, 31, 23, 59, 59, 999).ToUnixMilliseconds(), -1);
    EXPECT_EQ(Make(2024, 7, 1, 25).ToUnixMilliseconds(), UnixMs(2024, 7, 2, 1, 0));  // time not checked
    EXPECT_THROW(Make(2024, 7, 0).ToUnixMilliseconds(), boost::gregorian::bad_day_of_month);
    EXPECT_THROW(Make(2024, 13, 32).ToUnixMilliseconds(), boost::gregorian::bad_day_of_month);  // day first
    EXPECT_THROW(Make(2024, 0, 1).ToUnixMilliseconds(), boost::gregorian::bad_month);
    EXPECT_THROW(Make(1399, 1, 1).ToUnixMilliseconds(), boost::gregorian::bad_year);
    EXPECT_THROW(Make(10001, 1, 1).ToUnixMilliseconds(), boost::gregorian::bad_year);
    EXPECT_THROW(Make(2023, 2, 29).ToUnixMilliseconds(), std::out_of_range);
    EXPECT_EQ(HourNumber(UnixMs(2024, 7, 1, 12, 59)), UnixMs(2024, 7, 1, 12, 0) / 3600000);
}

TEST_F(TssTest, TimeTAndPtimeConversions) {
    SetZone("America/New_York");
    TSS t;
    t.FromTimeT(0, 250);
    EXPECT_EQ(Show(t), "1969-12-31T19:00:00.250");
    t.FromTimeTOrInvalid(nullptr);
    EXPECT_EQ(Show(t), "0000-00-00T65535:65535:65535.000");
    const std::time_t huge = static_cast<std::time_t>(0x7FFFFFFFFFFFFFFFLL);
    t.FromTimeT(huge, 5);
    EXPECT_TRUE(t == TSS{});
    t.FromTimeTOrInvalid(&huge);
    EXPECT_EQ(t.wHour, 65535);
    EXPECT_EQ(t.wYear, 0);
    const std::time_t summer = static_cast<std::time_t>(UnixMs(2024, 7, 1, 16, 0) / 1000);
    t.FromTimeTOrInvalid(&summer);
    EXPECT_EQ(Show(t), "2024-07-01T12:00:00.000");

    using namespace boost::posix_time;
    const ptime p(boost::gregorian::date(2024, 3, 5), hours(14) + minutes(30) + seconds(15) + microseconds(123999));
    SystemTime st;
    PtimeToTss(p, &st);
    EXPECT_EQ(st.wDayOfWeek, 2);  // a Tuesday
    EXPECT_EQ(st.wMilliseconds, 123);  // truncated
    EXPECT_EQ(Show(PtimeToTss(p)), "2024-03-05T14:30:15.123");

    TSS now;
    now.SetUtcNow();
    const std::int64_t drift = now.ToUnixMilliseconds() - (std::time(nullptr) * 1000LL);
    EXPECT_LT(std::abs(drift), 5000);
    EXPECT_EQ(Show(Make(2024, 3, 5, 14, 30, 15, 7).DateOnly()), "2024-03-05T00:00:00.000");
}

TEST_F(TssTest, FallbackConversion) {
    SetZone("Europe/Berlin");
    SystemTime st;
    ASSERT_TRUE(timestampWorkaround(ArchiveMs(2024, 10, 27, 1, 30, 0, 999), &st));
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wHour, 2);
    EXPECT_EQ(st.wMinute, 30);
    EXPECT_EQ(st.wMilliseconds, 999);  // never 1000
    EXPECT_EQ(st.wDayOfWeek, 0);
    EXPECT_FALSE(timestampWorkaround(ArchiveMs(1960, 1, 1, 0, 0), &st));  // before 1970
    EXPECT_EQ(st.wYear, 0);
    EXPECT_FALSE(timestampWorkaround(~0ULL, &st));
}

TEST_F(TssTest, NormalizeUsesTodaysOffset) {
    const TSS winter = Make(2024, 1, 15, 12, 0, 0, 42);
    std::time_t now = std::time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    const long offsetNow = tm.tm_gmtoff;  // seconds east of UTC, in Berlin
    // winter is 11:00 UTC; back to local with today's offset, read as UTC fields.
    const std::int64_t localNowSeconds = UnixMs(2024, 1, 15, 11, 0) / 1000 + offsetNow;
    SetZone("UTC");
    TSS expected;
    expected.FromTimeT(static_cast<std::time_t>(localNowSeconds), 42);
    SetZone("Europe/Berlin");
    EXPECT_EQ(Show(winter.NormalizeLocalTime()), Show(expected));
    EXPECT_TRUE(TSS{}.NormalizeLocalTime() == TSS{});
}

TEST(TssDates, ValidityLeapYearsAndDayNumbers) {
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_FALSE(IsLeapYear(2023));
    EXPECT_TRUE(Make(2024, 2, 29).IsValidDate());
    EXPECT_FALSE(Make(2023, 2, 29).IsValidDate());
    EXPECT_FALSE(Make(2022, 4, 31).IsValidDate());
    EXPECT_FALSE(Make(2022, 0, 1).IsValidDate());
    EXPECT_TRUE(Make(2022, 12, 31, 99).IsValidDate());  // time not checked
    EXPECT_FALSE(TSS::IsValidDate(TSS{}));

    EXPECT_EQ(TSS{}.DayNumber(), 0);
    EXPECT_EQ(Make(1, 1, 1).DayNumber(), 1);
    for (auto [y, m, d] : {std::tuple{1970, 1, 1}, {2000, 2, 29}, {2000, 3, 1}, {2024, 12, 31}, {1601, 1, 1}}) {
        const int ordinal = static_cast<int>(boost::gregorian::date(y, m, d).day_number()) - 1721425;
        EXPECT_EQ(Make(y, m, d).DayNumber(), ordinal) << y << "-" << m << "-" << d;
    }
}

TEST(TssDates, Ordering) {
    const TSS empty;
    const TSS a = Make(2024, 3, 5, 14, 30, 0, 1);
    const TSS b = Make(2024, 3, 5, 14, 30, 0, 2);
    EXPECT_TRUE(TSS::IsEarlier(empty, a));
    EXPECT_FALSE(TSS::IsEarlier(a, empty));
    EXPECT_FALSE(TSS::IsEarlier(empty, empty));
    EXPECT_FALSE(TSS::IsEarlier(a, a));
    EXPECT_TRUE(TSS::IsEarlier(a, b));
    EXPECT_FALSE(TSS::IsEarlier(b, a));
    EXPECT_TRUE(TSS::IsEarlier(Make(2023, 12, 31, 23, 59, 59, 999), Make(2024, 1, 1)));
    EXPECT_TRUE(TSS::IsLater(a, empty));
    EXPECT_FALSE(TSS::IsLater(empty, a));
    EXPECT_FALSE(TSS::IsLater(empty, empty));
    EXPECT_TRUE(TSS::IsLater(b, a));
    EXPECT_FALSE(TSS::IsLater(a, a));

    EXPECT_TRUE(IsSameArchiveTime(empty, empty));
    EXPECT_FALSE(IsSameArchiveTime(empty, a));
    EXPECT_FALSE(IsSameArchiveTime(a, b));
    EXPECT_TRUE(IsSameArchiveTime(a, Make(2024, 3, 5, 14, 30, 0, 65536 + 1)));
}

TEST(TssText, ParsesLeniently) {
    std::time_t now = std::time(nullptr);
    struct tm today;
    localtime_r(&now, &today);
    const int year = today.tm_year + 1900, month = today.tm_mon + 1, day = today.tm_mday;

    struct DateCase {
        const char* text;
        bool ok;
        int y, m, d;
    } dates[] = {
        {"05-03-22", true, 2022, 3, 5},
        {"05.03.1999", true, 1999, 3, 5},
        {"5/3/99", true, 1999, 3, 5},
        {"d5 m3 y2049", true, 2049, 3, 5},
        {"5-3-50", true, 1950, 3, 5},
        {"5.3", true, year, 3, 5},          // year from today
        {"5.3.", true, 2000, 3, 5},         // separator after the month: year 0 -> 2000
        {"31-02-22", false, 2022, 2, 31},
        {"0-0-2024", true, 2024, month, day},
    };
    for (const DateCase& c : dates) {
        SCOPED_TRACE(c.text);
        TSS t = Make(1, 1, 1, 5, 6, 7, 8);
        EXPECT_EQ(t.ParseDate(c.text), c.ok);
        EXPECT_EQ(Show(t), Show(Make(c.y, c.m, c.d)));
    }
    TSS t = Make(2024, 1, 1, 1, 1, 1, 1);
    EXPECT_FALSE(t.ParseDate(""));
    EXPECT_TRUE(t == TSS{});
    EXPECT_FALSE(t.ParseDate(nullptr));

    struct TimeCase {
        const char* text;
        bool ok;
        int h, mi, s, ms;
    } times[] = {
        {"14:30:15.123", true, 14, 30, 15, 123},
        {"7:05", true, 7, 5, 0, 0},
        {"24:00:00", false, 24, 0, 0, 0},
        {"12:00:00.5", true, 12, 0, 0, 5},        // digits taken as a number
        {"12:00:00.12345", true, 12, 0, 0, 123},  // at most three
        {"at 23h59m59s", true, 23, 59, 59, 0},
        {"23:60", false, 23, 60, 0, 0},
        {"", true, 0, 0, 0, 0},
    };
    for (const TimeCase& c : times) {
        SCOPED_TRACE(c.text);
        TSS x = Make(2024, 5, 6, 9, 9, 9, 9);
        EXPECT_EQ(x.ParseTime(c.text), c.ok);
        EXPECT_EQ(Show(x), Show(Make(2024, 5, 6, c.h, c.mi, c.s, static_cast<std::uint32_t>(c.ms))));
    }

    TSS p;
    EXPECT_TRUE(p.Parse("05-03-22 14:30:00.250"));
    EXPECT_EQ(Show(p), "2022-03-05T14:30:00.250");
    EXPECT_TRUE(p.Parse("  05-03-22   7:05  "));
    EXPECT_EQ(Show(p), "2022-03-05T07:05:00.000");
    EXPECT_TRUE(p.Parse("05-03-22"));
    EXPECT_EQ(Show(p), "2022-03-05T00:00:00.000");
    EXPECT_FALSE(p.Parse("05-03-22 25:00"));
    EXPECT_FALSE(p.Parse("31-02-22 10:00"));
    EXPECT_FALSE(p.Parse(""));
}

TEST(TssText, FormatsFixedForms) {
    struct Case {
        TSS t;
        const char* dayFirst;
        const char* monthFirst;
        const char* full;
        const char* folder;
    } cases[] = {
        {Make(2022, 3, 5, 14, 30, 0, 0), "05-03-22", "03-05-22", "05-03-22 14:30:00.000", "05-03-22 14"},
        {Make(1950, 6, 1, 9, 5, 7, 12), "01-06-1950", "06-01-1950", "01-06-1950 09:05:07.012", "01-06-1950 09"},
        {Make(1951, 6, 1), "01-06-51", "06-01-51", "01-06-51 00:00:00.000", "01-06-51 00"},
        {Make(2000, 1, 1, 23, 59, 59, 999), "01-01-00", "01-01-00", "01-01-00 23:59:59.999", "01-01-00 23"},
        {Make(2105, 1, 2), "02-01-105", "01-02-105", "02-01-105 00:00:00.000", "02-01-105 00"},
        {Make(9999, 12, 31, 1), "", "", "", " 01"},
        {Make(2022, 2, 30, 1), "", "", "", " 01"},
        {Make(2022, 3, 5, 25), "05-03-22", "03-05-22", "", "05-03-22 "},
        {TSS{}, "", "", "", " 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Show(c.t));
        char buf[32];
        EXPECT_EQ(c.t.FormatDate(buf, true), *c.dayFirst != 0);
        EXPECT_STREQ(buf, c.dayFirst);
        EXPECT_EQ(c.t.FormatDate(buf, false), *c.monthFirst != 0);
        EXPECT_STREQ(buf, c.monthFirst);
        EXPECT_EQ(c.t.ToString(true, true), c.full);
        EXPECT_EQ(FormatArchiveDateTime(c.t), c.folder);
        EXPECT_EQ(c.t.DateString(), c.dayFirst);
    }
    const TSS t = Make(2022, 3, 5, 14, 30, 9, 7);
    EXPECT_EQ(t.TimeString(), "14:30:09");
    EXPECT_EQ(t.ToString(false, false), "03-05-22 14:30:09");
    std::string out = "old";
    EXPECT_EQ(&t.ToString(out, true, true), &out);
    EXPECT_EQ(out, "05-03-22 14:30:09.007");
    EXPECT_EQ(Make(2022, 3, 5, 99, 0, 0, 1234).ToIsoString(), "2022-03-05T99:00:00.1234");
    std::string time;
    EXPECT_FALSE(Make(2022, 3, 5, 0, 0, 0, 1000).FormatTimeTo(time, true));
    EXPECT_EQ(time, "");
}

TEST_F(TssTest, EntryFolderNamesUseLocalTime) {
    SetZone("America/New_York");
    EXPECT_EQ(FormatEntryDate(static_cast<std::uint64_t>(UnixMs(2024, 3, 5, 19, 0))), "05-03-24 14");
}

}  // namespace

// The local "now" follows a zone re-read at once, even within one second.
TEST_F(TssTest, LocalNowFollowsTheZoneWithinTheSecond) {
    for (const char* zone : {"UTC", "Asia/Kolkata", "America/New_York", "Asia/Kolkata"}) {
        SCOPED_TRACE(zone);
        SetZone(zone);
        TSS now;
        now.SetLocalNow();
        const std::time_t t = std::time(nullptr);
        struct tm tm;
        ASSERT_TRUE(localtime_r(&t, &tm));
        // Minutes tell the zones apart (Kolkata is half an hour off the others).
        const int got = now.wHour * 60 + now.wMinute;
        const int want = tm.tm_hour * 60 + tm.tm_min;
        EXPECT_LE((got - want + 1440) % 1440, 1) << got << " vs " << want;
        EXPECT_EQ(now.wDay == tm.tm_mday || got == 0, true);
    }
}
