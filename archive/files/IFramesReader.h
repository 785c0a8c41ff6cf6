#pragma once

// Random and sequential access to the frames of one archive video file.
//
// Frames are read into a VideoFrame the caller owns and passes in; the reader
// keeps no reference to it. A reader is used by one thread at a time (its
// holder serialises the calls); nothing inside is locked apart from the
// titles object.

#include "base/Tss.h"

#include <cstdint>
#include <string>

class FramesReaderFile;
class VideoFrame;

// A span of recorded time; an all-zero TSS stands for no time.
struct RecordInterval {
    TSS begin{};
    TSS end{};
};

// Header id match values (GetHeaderIdMatch).
constexpr uint8_t kHeaderIdNone = 0;    // file has no archive id header
constexpr uint8_t kHeaderIdMatch = 1;   // id equals the wanted id, or none wanted
constexpr uint8_t kHeaderIdDiffers = 0xFF; // -1 as a signed byte

class IFramesReader {
public:
    virtual ~IFramesReader() = default;

    // Opens the file; wantedId is the archive id the caller expects (0: none).
    virtual bool Open(const std::string& path, int32_t wantedId) = 0;
    // The same, for a file the caller has already opened at `path`; a reader
    // that can use it takes it over (`opened` is then closed), others open
    // the path themselves.
    virtual bool Open(const std::string& path, int32_t wantedId, FramesReaderFile& opened)
    {
        (void)opened;
        return Open(path, wantedId);
    }
    virtual void Close() = 0;
    // File open, frame count 1..100000 and close flag 0 or 1.
    virtual bool IsReady() const = 0;

    // Read results are the number of the frame read. -1 means the frame record
    // could not be read: `frame` then holds no data and must not be used as a
    // frame. Readers may return a number without reading (see the readers).
    virtual int64_t ReadFrameAtTime(VideoFrame& frame, const TSS& time, bool needPFrame, bool withData) = 0;
    virtual int64_t ReadFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData, double speed,
                              bool backward) = 0;
    virtual TSS GetFrameTime(uint64_t n) = 0;
    // A time without a valid date asks for the whole file; otherwise the span
    // of the file's frames on that day (end zero when beginOnly).
    virtual RecordInterval GetRecordInterval(const TSS& time, bool beginOnly) = 0;

    virtual std::string GetFileName() const = 0;
    virtual std::string GetFilePath() const = 0;
    virtual uint64_t GetFrameCount() const = 0;
    // Current file position, -1 when not ready.
    virtual int64_t GetFilePosition() const = 0;
    virtual uint8_t GetHeaderIdMatch() const = 0;
    virtual uint32_t GetTrailerFlag() const = 0;
    virtual int GetReaderType() const = 0;
    // Takes the current time as the reference of fast play and returns it
    // (UTC milliseconds since 1601).
    virtual int64_t ResetPlayClock() = 0;
};
