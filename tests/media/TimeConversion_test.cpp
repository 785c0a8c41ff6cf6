#include "media/TimeConversion.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include <QDateTime>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

namespace pt = boost::posix_time;
namespace greg = boost::gregorian;
using utils::IntervalList;

namespace {

std::string Show(const IntervalList& l) {
    std::string s;
    for (const auto& i : l) s += std::to_string(i.start) + "+" + std::to_string(i.length) + " ";
    return s;
}

// Sets TZ for one test and restores the previous value.
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz() {
        if (m_had) setenv("TZ", m_old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

}  // namespace

TEST(TimeConverter, ChannelsMergeIntoArchivePeriodsJoiningGapsUpTo100ms) {
    struct Case {
        const char* name;
        IntervalList a, b;
        IntervalList expect;
    };
    const Case cases[] = {
        {"gap 50 joined", {{0, 1000}}, {{1050, 950}}, {{0, 2000}}},
        {"gap 100 joined", {{0, 1000}}, {{1100, 900}}, {{0, 2000}}},
        {"gap 101 kept", {{0, 1000}}, {{1101, 899}}, {{0, 1000}, {1101, 899}}},
        {"overlap and inside",
         {{0, 1000}, {3000, 500}},
         {{200, 300}, {900, 600}, {3600, 100}},
         {{0, 1500}, {3000, 700}}},
        {"chain across channels",
         {{0, 100}, {260, 100}},
         {{180, 50}, {420, 10}},
         {{0, 430}}},
        {"one empty list", {}, {{10, 5}}, {{10, 5}}},
        {"both empty", {}, {}, {}},
    };
    for (const auto& c : cases) {
        utils::TimeConverter conv;
        conv.BuildArchivePeriods({&c.a, &c.b});
        EXPECT_EQ(conv.GetArchivePeriods(), c.expect) << c.name << ": " << Show(conv.GetArchivePeriods());
        conv.RebuildContinuous();
        ASSERT_EQ(conv.GetContinuousPeriods().size(), c.expect.size()) << c.name;
        int64_t sum = 0;
        for (size_t k = 0; k < c.expect.size(); ++k) {
            EXPECT_EQ(conv.GetContinuousPeriods()[k].start, sum) << c.name;
            EXPECT_EQ(conv.GetContinuousPeriods()[k].length, c.expect[k].length) << c.name;
            sum += c.expect[k].length;
        }
    }
}

TEST(TimeConverter, MapsBetweenArchiveAndContinuousTime) {
    utils::TimeConverter conv;
    const IntervalList periods{{1000, 1000}, {5000, 1000}};
    conv.BuildArchivePeriods({&periods});
    conv.RebuildContinuous();
    ASSERT_EQ(conv.GetContinuousPeriods(), (IntervalList{{0, 1000}, {1000, 1000}}));

    struct Case {
        int64_t in;
        bool toContinuous;
        int64_t out;
    };
    const Case cases[] = {
        {5500, true, 1500},  {3000, true, 999},   {2000, true, 999},  {1999, true, 999},
        {1000, true, 0},     {0, true, 0},        {9000, true, 1999}, {5000, true, 1000},
        {999, false, 2000},  {1000, false, 5000}, {0, false, 1000},   {998, false, 1998},
        {1999, false, 6000}, {-5, false, 1000},
    };
    for (const auto& c : cases) {
        const int64_t got = c.toContinuous ? conv.ArchiveToContinuous(c.in) : conv.ContinuousToArchive(c.in);
        EXPECT_EQ(got, c.out) << (c.toContinuous ? "archive " : "continuous ") << c.in;
    }

    const IntervalList empty;
    EXPECT_EQ(utils::MapTimeBetweenIntervals(5500, empty, conv.GetContinuousPeriods(), 1), 0);
    EXPECT_EQ(utils::MapTimeBetweenIntervals(5500, empty, empty, 0), 0);
    // Lists of unequal length never read past the shorter one.
    EXPECT_EQ(utils::MapTimeBetweenIntervals(5500, periods, IntervalList{{0, 1000}}, 1), 500);
    EXPECT_EQ(utils::MapTimeBetweenIntervals(5500, periods, empty, 1), 0);

    conv.Clear();
    EXPECT_TRUE(conv.GetArchivePeriods().empty());
    EXPECT_TRUE(conv.GetContinuousPeriods().empty());
    EXPECT_EQ(conv.ArchiveToContinuous(5500), 0);
}

TEST(IntervalHelpers, FindAndClamp) {
    const IntervalList l{{100, 50}, {300, 100}};
    struct Case {
        int64_t t;
        int64_t index, clamped;
    };
    const Case cases[] = {{0, 0, 100}, {100, 0, 100}, {149, 0, 149}, {200, 0, 150},
                          {300, 1, 300}, {450, 1, 400}};
    for (const auto& c : cases) {
        EXPECT_EQ(utils::FindIntervalIndex(c.t, l), c.index) << c.t;
        EXPECT_EQ(utils::ClampToPeriods(c.t, l), c.clamped) << c.t;
    }
    EXPECT_EQ(utils::FindIntervalIndex(5, {}), 0);
    EXPECT_EQ(utils::ClampToPeriods(5, {}), 0);
}

TEST(IntervalHelpers, AddIntervalMergesWhatItTouches) {
    struct Case {
        const char* name;
        IntervalList list;
        utils::Interval add;
        IntervalList expect;
    };
    const Case cases[] = {
        {"fills the gap", {{0, 10}, {20, 10}}, {10, 10}, {{0, 30}}},
        {"into empty", {}, {5, 5}, {{5, 5}}},
        {"before all", {{20, 10}}, {0, 5}, {{0, 5}, {20, 10}}},
        {"after all", {{0, 10}}, {20, 5}, {{0, 10}, {20, 5}}},
        {"between", {{0, 10}, {40, 10}}, {20, 5}, {{0, 10}, {20, 5}, {40, 10}}},
        {"inside", {{0, 100}}, {20, 5}, {{0, 100}}},
        {"covers several", {{0, 10}, {20, 10}, {40, 10}, {70, 5}}, {5, 40}, {{0, 50}, {70, 5}}},
        {"widens start", {{10, 10}}, {5, 6}, {{5, 15}}},
    };
    for (const auto& c : cases) {
        IntervalList l = c.list;
        utils::AddInterval(l, c.add);
        EXPECT_EQ(l, c.expect) << c.name << ": " << Show(l);
    }
}

TEST(IntervalHelpers, AppendAndMergeClose) {
    IntervalList l{{0, 10}};
    utils::AppendPeriod(l, {5, 3});
    EXPECT_EQ(l, (IntervalList{{0, 10}, {10, 0}}));
    utils::AppendPeriod(l, {8, 7});
    EXPECT_EQ(l.back(), (utils::Interval{10, 5}));
    utils::AppendPeriod(l, {40, 5});
    EXPECT_EQ(l.back(), (utils::Interval{40, 5}));

    const IntervalList in{{0, 10}, {11, 9}, {120, 10}, {231, 4}};
    struct Case {
        bool merged;  // AddMergedPeriods (threshold 100) or MergeCloseIntervals
        int64_t threshold;
        IntervalList expect;
    };
    const Case cases[] = {
        {true, 100, {{0, 130}, {231, 4}}},
        {false, 1, {{0, 20}, {120, 10}, {231, 4}}},
        {false, 0, {{0, 10}, {11, 9}, {120, 10}, {231, 4}}},
        {false, 101, {{0, 235}}},
    };
    for (const auto& c : cases) {
        utils::TimeConverter conv;
        if (c.merged) utils::AddMergedPeriods(in, conv);
        else utils::MergeCloseIntervals(in, conv, c.threshold);
        EXPECT_EQ(conv.GetArchivePeriods(), c.expect) << c.threshold << ": " << Show(conv.GetArchivePeriods());
    }
    utils::TimeConverter conv;
    utils::AddMergedPeriods({}, conv);
    utils::MergeCloseIntervals({}, conv, 1);
    EXPECT_TRUE(conv.GetArchivePeriods().empty());
}

TEST(TimeConversions, MillisecondsPtimeAndQDateTime) {
    const pt::ptime p = utils::PtimeFromMilliseconds(1'600'000'000'123);
    EXPECT_EQ(p, pt::ptime(greg::date(2020, 9, 13), pt::time_duration(12, 26, 40) + pt::milliseconds(123)));
    EXPECT_EQ(utils::MillisecondsFromPtime(p), 1'600'000'000'123);
    EXPECT_EQ(utils::PtimeFromMilliseconds(-1), pt::ptime(greg::date(1969, 12, 31), pt::time_duration(23, 59, 59) + pt::milliseconds(999)));

    const QDateTime q = utils::QDateTimeFromPtime(p);
    EXPECT_EQ(q.timeSpec(), Qt::UTC);
    EXPECT_EQ(q, QDateTime(QDate(2020, 9, 13), QTime(12, 26, 40, 123), Qt::UTC));
    EXPECT_EQ(utils::PtimeFromQDateTime(q), p);
    const QDateTime local = utils::LocalQDateTimeFromPtime(p);
    EXPECT_EQ(local.timeSpec(), Qt::LocalTime);
    EXPECT_EQ(local.time(), QTime(12, 26, 40, 123));
    EXPECT_FALSE(utils::QDateTimeFromPtime(pt::ptime(pt::not_a_date_time)).isValid());

    EXPECT_THROW(utils::PtimeFromQDateTime(QDateTime()), greg::bad_day_of_month);
    EXPECT_THROW(utils::PtimeFromQDateTime(QDateTime(QDate(1200, 1, 1), QTime(0, 0))), greg::bad_year);
}

TEST(TimeConversions, ShiftAndLocalTimeFollowTz) {
    ScopedTz tz("XST-2");  // two hours east of UTC, no daylight saving
    const pt::ptime p(greg::date(2021, 3, 4), pt::time_duration(5, 6, 7));
    EXPECT_EQ(utils::ShiftPtime(p, 3600), p + pt::hours(1));
    EXPECT_EQ(utils::ShiftPtime(p, -60), p - pt::minutes(1));
    EXPECT_EQ(utils::ShiftPtime(p, 0), p + pt::hours(2));
    EXPECT_EQ(utils::LocalPtimeToUtc(p + pt::hours(2)), p);
    EXPECT_TRUE(utils::ShiftPtime(pt::ptime(pt::not_a_date_time), 0).is_not_a_date_time());
    EXPECT_TRUE(utils::ShiftPtime(pt::ptime(pt::pos_infin), 5).is_pos_infinity());
    // Times before 1970 convert like any other (source threads rely on
    // the shift never throwing).
    EXPECT_EQ(utils::ShiftPtime(pt::ptime(greg::date(1960, 1, 1)), 0), pt::ptime(greg::date(1960, 1, 1), pt::hours(2)));
}
