#include "base/PtimeConversion.h"

#include <boost/date_time/posix_time/posix_time_duration.hpp>

#include "platform/TimeZone.h"

namespace utils {

namespace {

const boost::posix_time::ptime& Epoch()
{
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    return epoch;
}

}  // namespace

boost::posix_time::ptime PtimeFromMilliseconds(std::int64_t milliseconds)
{
    return Epoch() + boost::posix_time::microseconds(milliseconds * 1000);
}

boost::posix_time::ptime ShiftPtime(const boost::posix_time::ptime& utc, int seconds)
{
    if (utc.is_special())
        return utc;
    if (seconds != 0)
        return utc + boost::posix_time::seconds(seconds);
    const boost::posix_time::time_duration since = utc - Epoch();
    // Whole seconds rounded down, so that the fraction stays non-negative
    // before 1970 as well.
    const std::int64_t ticksPerSecond = boost::posix_time::time_duration::ticks_per_second();
    std::int64_t ticks = since.ticks();
    std::int64_t whole = ticks / ticksPerSecond;
    if (ticks % ticksPerSecond < 0)
        --whole;
    std::int64_t local = 0;
    if (!platform::tz::UtcToLocal(whole, &local, false))
        return utc;
    return utc + boost::posix_time::seconds(static_cast<long>(local - whole));
}

}  // namespace utils
