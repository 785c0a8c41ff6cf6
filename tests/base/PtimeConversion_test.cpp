// Unix milliseconds to ptime and the shift into a source's local time.

#include <cstdlib>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "base/PtimeConversion.h"
#include "platform/TimeZone.h"

namespace {

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;

// Sets TZ for one test and puts the old value back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        setenv("TZ", zone, 1);
        platform::tz::Reload();
    }
    ~ZoneGuard()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        platform::tz::Reload();
    }

private:
    bool m_had = false;
    std::string m_old;
};

TEST(PtimeConversion, MillisecondsSince1970)
{
    EXPECT_EQ(utils::PtimeFromMilliseconds(0), time_from_string("1970-01-01 00:00:00"));
    EXPECT_EQ(utils::PtimeFromMilliseconds(1500000000123), time_from_string("2017-07-14 02:40:00.123"));
    EXPECT_EQ(utils::PtimeFromMilliseconds(-1), time_from_string("1969-12-31 23:59:59.999"));
}

TEST(PtimeConversion, ShiftIntoLocalOrByAnOffset)
{
    ZoneGuard zone("Europe/Berlin");
    struct Case {
        const char* utc;
        int seconds;
        const char* shown;
    };
    const Case cases[] = {
        {"2017-07-14 02:40:00.123", 0, "2017-07-14 04:40:00.123"},  // summer time
        {"2017-01-14 02:40:00", 0, "2017-01-14 03:40:00"},
        {"1969-01-01 00:00:00.250", 0, "1969-01-01 01:00:00.250"},  // before 1970: no failure
        {"1950-06-01 12:00:00", 0, "1950-06-01 13:00:00"},
        {"2017-07-14 02:40:00", -18000, "2017-07-13 21:40:00"},
        {"1960-07-14 02:40:00", 3600, "1960-07-14 03:40:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(utils::ShiftPtime(time_from_string(c.utc), c.seconds), time_from_string(c.shown)) << c.utc;
    const ptime special(boost::posix_time::not_a_date_time);
    EXPECT_TRUE(utils::ShiftPtime(special, 0).is_not_a_date_time());
    EXPECT_TRUE(utils::ShiftPtime(ptime(boost::posix_time::pos_infin), 60).is_pos_infinity());
}

}  // namespace
