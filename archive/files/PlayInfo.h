#pragma once
// What a playing object tells about the file it plays: the file record and a
// signal raised when it moves to another file. The archive file reader, the
// single archive file and the media-file source implement it; the players
// controller listens to the signal to find the sound of the pictures.

#include <cstdint>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/signals2/signal.hpp>

namespace Storage {

struct PlayFileInfo {
    std::string videoPath;    // full path of the video file; empty: no file
    std::string audioPath;    // the file carrying the sound of that span; empty when none
    std::string streamTitle;  // sound stream inside audioPath; empty for archive files
    // The span the file covers (UTC); both ends not-a-date-time for no file.
    boost::posix_time::time_period period{boost::posix_time::ptime(boost::posix_time::not_a_date_time),
                                          boost::posix_time::ptime(boost::posix_time::not_a_date_time)};
    int64_t startOffset = 0;  // microseconds of the period's start inside audioPath

    bool HasFile() const { return !videoPath.empty(); }
};

class IPlayInfo {
public:
    virtual ~IPlayInfo() = default;

    // which 1: the file after the current one; anything else: the current
    // file. The record for no file when there is none.
    virtual PlayFileInfo GetCurrentFileInfo(int which) = 0;

    // Raised on the thread that moved the object to another file; handlers
    // that touch the GUI re-post their work.
    boost::signals2::signal<void()> ChangeSignal;
};

}  // namespace Storage
