#pragma once
// boost ptime helpers of the display code: Unix milliseconds to ptime, and
// the shift of a UTC ptime into a source's local time.

#include <cstdint>

#include <boost/date_time/posix_time/ptime.hpp>

namespace utils {

// 1970-01-01 plus the milliseconds. Never fails.
boost::posix_time::ptime PtimeFromMilliseconds(std::int64_t milliseconds);

// A UTC time shown in a source's time: with 0 seconds the computer's local
// time (from the zone database, for times before 1970 too), otherwise the
// time plus the seconds. Special values pass unchanged; a time the zone
// database cannot convert is returned as it is. Never throws: it runs on the
// source threads that write the time titles.
boost::posix_time::ptime ShiftPtime(const boost::posix_time::ptime& utc, int seconds);

}  // namespace utils
