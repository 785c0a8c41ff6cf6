#pragma once
// The parsed command line: what to open, whether to run without a window
// (export or frame save) or to extract a portable player's video, and the
// display overrides. Strings are narrow (UTF-8 here), as the command line
// gives them; times are UTC.

#include <cstdint>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

struct StartOptions {
    std::string source;       // one path or several joined with "|"
    std::string destination;  // not empty: windowless export or frame save
    std::string extract;      // not empty: extract mode, the output file
    std::string executable;   // the portable player to extract from
    std::vector<std::string> channels;
    boost::posix_time::ptime from{boost::posix_time::not_a_date_time};
    boost::posix_time::ptime to{boost::posix_time::not_a_date_time};
    boost::posix_time::ptime time{boost::posix_time::not_a_date_time};
    // -1 absent, 1 on, 0 off.
    int32_t topmost = -1;
    int32_t single = -1;
    int32_t titles = -1;
    bool portable = false;
};
