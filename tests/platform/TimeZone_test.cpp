#include "platform/TimeZone.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace tz = platform::tz;

namespace {

std::int64_t At(int y, unsigned mo, unsigned d, int h, int mi, int s = 0) {
    return tz::DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

class ZoneTest : public ::testing::Test {
protected:
    void SetZone(const char* zone) {
        ::setenv("TZ", zone, 1);
        tz::Reload();
    }
    void TearDown() override {
        if (m_saved) ::setenv("TZ", m_savedValue.c_str(), 1);
        else ::unsetenv("TZ");
        tz::Reload();
    }

private:
    bool m_saved = std::getenv("TZ") != nullptr;
    std::string m_savedValue = m_saved ? std::getenv("TZ") : "";
};

struct Conversion {
    const char* zone;
    std::int64_t local;
    std::int64_t utc;
    const char* what;
};

// Local -> UTC follows the rule of the archive's original platform: a local
// time in the spring gap takes the summer offset, a repeated autumn time the
// first (summer) occurrence.
const Conversion kLocalToUtc[] = {
    {"Europe/Berlin", At(2024, 1, 15, 12, 0), At(2024, 1, 15, 11, 0), "winter"},
    {"Europe/Berlin", At(2024, 7, 1, 12, 0), At(2024, 7, 1, 10, 0), "summer"},
    {"Europe/Berlin", At(2024, 3, 31, 1, 59, 59), At(2024, 3, 31, 0, 59, 59), "before the gap"},
    {"Europe/Berlin", At(2024, 3, 31, 2, 0), At(2024, 3, 31, 0, 0), "gap start"},
    {"Europe/Berlin", At(2024, 3, 31, 2, 30), At(2024, 3, 31, 0, 30), "in the gap"},
    {"Europe/Berlin", At(2024, 3, 31, 3, 0), At(2024, 3, 31, 1, 0), "after the gap"},
    {"Europe/Berlin", At(2024, 10, 27, 1, 59), At(2024, 10, 26, 23, 59), "before the repeat"},
    {"Europe/Berlin", At(2024, 10, 27, 2, 0), At(2024, 10, 27, 0, 0), "repeated hour start"},
    {"Europe/Berlin", At(2024, 10, 27, 2, 30), At(2024, 10, 27, 0, 30), "repeated hour"},
    {"Europe/Berlin", At(2024, 10, 27, 2, 59, 59), At(2024, 10, 27, 0, 59, 59), "repeated hour end"},
    {"Europe/Berlin", At(2024, 10, 27, 3, 0), At(2024, 10, 27, 2, 0), "after the repeat"},
    {"America/New_York", At(2024, 3, 10, 1, 59), At(2024, 3, 10, 6, 59), "before the gap"},
    {"America/New_York", At(2024, 3, 10, 2, 30), At(2024, 3, 10, 6, 30), "in the gap"},
    {"America/New_York", At(2024, 3, 10, 3, 0), At(2024, 3, 10, 7, 0), "after the gap"},
    {"America/New_York", At(2024, 11, 3, 1, 30), At(2024, 11, 3, 5, 30), "repeated hour"},
    {"America/New_York", At(2024, 11, 3, 2, 0), At(2024, 11, 3, 7, 0), "after the repeat"},
    {"UTC", At(1601, 1, 1, 0, 0), At(1601, 1, 1, 0, 0), "oldest archive time"},
};

const Conversion kUtcToLocal[] = {
    {"Europe/Berlin", At(2024, 3, 31, 1, 59, 59), At(2024, 3, 31, 0, 59, 59), "last winter second"},
    {"Europe/Berlin", At(2024, 3, 31, 3, 0), At(2024, 3, 31, 1, 0), "first summer second"},
    {"Europe/Berlin", At(2024, 10, 27, 2, 30), At(2024, 10, 27, 0, 30), "first 02:30"},
    {"Europe/Berlin", At(2024, 10, 27, 2, 30), At(2024, 10, 27, 1, 30), "second 02:30"},
    {"America/New_York", At(2024, 3, 10, 3, 0), At(2024, 3, 10, 7, 0), "first summer second"},
    {"America/New_York", At(2024, 11, 3, 1, 30), At(2024, 11, 3, 5, 30), "first 01:30"},
    {"America/New_York", At(2024, 11, 3, 1, 30), At(2024, 11, 3, 6, 30), "second 01:30"},
};

TEST_F(ZoneTest, ConvertsAcrossBothChangesWithAndWithoutCache) {
    for (bool cached : {false, true}) {
        for (const Conversion& c : kLocalToUtc) {
            SCOPED_TRACE(std::string(c.zone) + " " + c.what + (cached ? " cached" : ""));
            SetZone(c.zone);
            std::int64_t utc = 0;
            ASSERT_TRUE(tz::LocalToUtc(c.local, &utc, cached));
            EXPECT_EQ(utc, c.utc);
            // A second call hits the cached span and must agree.
            ASSERT_TRUE(tz::LocalToUtc(c.local, &utc, cached));
            EXPECT_EQ(utc, c.utc);
        }
        for (const Conversion& c : kUtcToLocal) {
            SCOPED_TRACE(std::string(c.zone) + " " + c.what + (cached ? " cached" : ""));
            SetZone(c.zone);
            std::int64_t local = 0;
            ASSERT_TRUE(tz::UtcToLocal(c.utc, &local, cached));
            EXPECT_EQ(local, c.local);
        }
    }
}

// Walks a whole year hour by hour through one thread's cache: every existing
// local time survives the round trip.
TEST_F(ZoneTest, CachedRoundTripOverAYear) {
    for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney"}) {
        SCOPED_TRACE(zone);
        SetZone(zone);
        for (std::int64_t u = At(2023, 12, 31, 0, 0); u < At(2025, 1, 2, 0, 0); u += 1800) {
            std::int64_t local, back;
            ASSERT_TRUE(tz::UtcToLocal(u, &local, true));
            std::int32_t off;
            ASSERT_TRUE(tz::OffsetAt(u, &off));
            ASSERT_EQ(local, u + off);
            ASSERT_TRUE(tz::LocalToUtc(local, &back, true));
            // A repeated local time maps to its first occurrence.
            if (back != u) {
                ASSERT_EQ(back, u - 3600) << u;
            }
        }
    }
}

TEST_F(ZoneTest, SpansDescribeTheStretchOfOneOffset) {
    SetZone("Europe/Berlin");
    tz::Span s;
    ASSERT_TRUE(tz::SpanAt(At(2024, 7, 1, 0, 0), &s));
    EXPECT_EQ(s.begin, At(2024, 3, 31, 1, 0));
    EXPECT_EQ(s.end, At(2024, 10, 27, 1, 0));
    EXPECT_EQ(s.offset, 7200);
    EXPECT_EQ(s.localBegin, At(2024, 3, 31, 2, 0));
    EXPECT_EQ(s.localEnd, At(2024, 10, 27, 3, 0));

    SetZone("UTC");
    ASSERT_TRUE(tz::SpanAt(0, &s));
    EXPECT_EQ(s.offset, 0);
    EXPECT_LT(s.begin, -300 * 86400);
    EXPECT_GT(s.end, 300 * 86400);
}

TEST_F(ZoneTest, ReloadSeesANewZoneEvenThroughTheCache) {
    SetZone("Europe/Berlin");
    std::int64_t local;
    ASSERT_TRUE(tz::UtcToLocal(At(2024, 1, 1, 12, 0), &local, true));
    EXPECT_EQ(local, At(2024, 1, 1, 13, 0));
    SetZone("America/New_York");
    ASSERT_TRUE(tz::UtcToLocal(At(2024, 1, 1, 12, 0), &local, true));
    EXPECT_EQ(local, At(2024, 1, 1, 7, 0));
}

// A replaced zone file is seen within a second, a changed TZ at once, and the
// file is not looked at more often than that.
TEST_F(ZoneTest, WatchSeesAReplacedZoneFileWithinASecond) {
    gavex_test::TempDir dir("zonewatch");
    const std::string zone = dir.path() + "/localtime";
    std::filesystem::copy_file("/usr/share/zoneinfo/Europe/Berlin", zone);
    std::int64_t now = 50000;
    tz::ZoneWatch watch(zone, [&now] { return now; });
    EXPECT_TRUE(watch.Due());
    now += 999;
    EXPECT_FALSE(watch.Due());

    const std::string next = dir.path() + "/next";
    std::filesystem::copy_file("/usr/share/zoneinfo/America/New_York", next);
    ASSERT_EQ(std::rename(next.c_str(), zone.c_str()), 0);
    now += 1;
    EXPECT_TRUE(watch.Due()) << "replaced zone file missed";
    now += 999;
    EXPECT_FALSE(watch.Due());
    now += 5000;
    EXPECT_FALSE(watch.Due()) << "unchanged zone file taken as changed";

    ::setenv("TZ", "Asia/Tokyo", 1);
    EXPECT_TRUE(watch.Due()) << "changed TZ missed";
    EXPECT_FALSE(watch.Due());
    ::unsetenv("TZ");
    EXPECT_TRUE(watch.Due()) << "TZ removed missed";
}

TEST(Civil, DayNumbersRoundTrip) {
    EXPECT_EQ(tz::DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(tz::DaysFromCivil(1601, 1, 1), -134774);
    EXPECT_EQ(tz::DaysFromCivil(2000, 3, 1), 11017);
    for (std::int64_t d = -200000; d < 200000; d += 37) {
        std::int64_t y;
        unsigned m, dd;
        tz::CivilFromDays(d, &y, &m, &dd);
        ASSERT_EQ(tz::DaysFromCivil(y, m, dd), d);
    }
}

}  // namespace
