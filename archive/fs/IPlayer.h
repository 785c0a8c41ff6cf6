#pragma once
// The interface through which an archive client plays and edits the recorder
// archive held by an archive engine. Every operation names its channel by the
// camera number and most also by a slave id: the text naming the client a
// channel reader works for (may be empty). Operations that need the volumes
// fail at once (0, empty text, nothing done) while the engine has none.

#include <cstdint>
#include <memory>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

class IPlayReceiver;
class VideoFrame;

namespace QOR_FS {

// Command codes of ExecuteCommand; 0 to 9 are frame reads (the reader's read
// codes), as is any code not listed.
enum CommandCode : unsigned {
    ARCH_FRAME_FIRST = 0,
    ARCH_FRAME_PREV = 1,
    ARCH_FRAME_NEXT = 3,
    ARCH_FRAME_LAST = 4,
    ARCH_FRAME_TIME = 8,
    ARCH_FRAME_TIME_NEAREST = 10,
    DELETE_RECORD = 11,
    BOOKMARK = 12,
    UNBOOKMARK = 13,
    PROTECT = 14,
    UNPROTECT = 15,
    CLOSE_READER = 16,
};

class IPlayer {
public:
    // Receivers passed by value are dropped when the operation returns unless
    // a reader keeps them attached for its play.
    using ReceiverPtr = std::shared_ptr<IPlayReceiver>;

    // Starts the reader's play towards the receiver; the five values are
    // handed on unchanged (cross-files flag, rate limit, value, no-wait flag,
    // direction). The reader's result, 0 on failure.
    virtual int StartPlay(const std::string& slaveId, int camera, ReceiverPtr receiver, int crossFiles,
                          int rateLimit, int value, int noWait, int direction) = 0;
    // camera >= 0: stops that reader's play (its result); camera < 0: stops
    // and drops every reader of the slave, 1.
    virtual int StopPlay(const std::string& slaveId, int camera) = 0;
    // Only with the adaptive player switched on.
    virtual void SetSpeed(const std::string& slaveId, int camera, double speed) = 0;
    // Pause / resume the reader's play thread; 1, or 0 without volumes.
    virtual int SetReaderEvent(const std::string& slaveId, int camera) = 0;
    virtual int ResetReaderEvent(const std::string& slaveId, int camera) = 0;
    virtual bool DeleteRecords(int camera, const boost::posix_time::ptime& from,
                               const boost::posix_time::ptime& to) = 0;
    virtual int DeleteCurrentFile(const std::string& slaveId, int camera) = 0;
    virtual std::string GetBookmarks(int camera) = 0;
    // Record listing: "last", a date, or "" for the days with records.
    virtual std::string FindRecordTime(const std::string& slaveId, int camera, const char* request, int withMs,
                                       std::shared_ptr<void> handle) = 0;
    // Frame reads and record commands; non-zero on success, else the reason in
    // *error (left untouched on success). The frame carries the command's
    // parameters in and the frame read out; the caller owns it.
    virtual int ExecuteCommand(const std::string& slaveId, VideoFrame* frame, unsigned code, ReceiverPtr receiver,
                               int passwordCrc, int mode, std::string* error) = 0;
    // Path of the video file of the record at a local time text, which is
    // rewritten to the file's creation time; "" when none.
    virtual std::string GetFilePath(const std::string& slaveId, int camera, std::string& timeText) = 0;
    virtual void SetReaderToken(const std::string& slaveId, const std::string& unused, int camera,
                                const std::string& token) = 0;
    virtual ~IPlayer() = default;
};

}  // namespace QOR_FS
